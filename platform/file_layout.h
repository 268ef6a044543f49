// Where Tolvane reads its data and writes its files: one of two layouts,
// chosen once at start.
//
// Program folder: the executable's folder holds uservers.dat (a build tree,
// an unpacked archive); everything is read from and written to that folder.
// Installed: shipped data in <prefix>/share/tolvane/ (found from the
// executable's folder, so any prefix works), the user's own copies in
// ConfigFolder() winning file by file, and everything Tolvane writes in
// StateFolder(). Nothing is written under the prefix.
#pragma once

#include <memory>
#include <string>

class TFileLayout {
 public:
  virtual ~TFileLayout() = default;

  // Folder of what Tolvane writes (history, logs, temporary files) and of
  // the flag files other programs drop for it, with a trailing "/".
  virtual const std::string& WriteFolder() const = 0;

  // The data file `name` (relative, "help/1.html" allowed) to read.
  virtual std::string DataFile(const std::string& name) const = 0;

  // Where the user's own copy of data file `name` belongs.
  virtual std::string UserDataFile(const std::string& name) const = 0;

  // Where the shipped copy of data file `name` lies.
  virtual std::string ShippedDataFile(const std::string& name) const = 0;
};

std::unique_ptr<TFileLayout> MakeProgramFolderLayout(std::string folder);
// `prefixBin` is the folder of the installed executable (<prefix>/bin/).
std::unique_ptr<TFileLayout> MakeInstalledLayout(const std::string& prefixBin);

// The program-folder layout when `executableFolder` holds uservers.dat, the
// installed one otherwise.
std::unique_ptr<TFileLayout> ChooseFileLayout(const std::string& executableFolder);

// The layout of this process: ChooseFileLayout(ExecutableFolder()) on first
// use unless SetFileLayout gave one.
const TFileLayout& FileLayout();
void SetFileLayout(std::unique_ptr<TFileLayout> layout);

// The user's own copy of data file `name`, copied from the shipped one when
// there is none yet (later edits are the user's and stay). Raises
// EFileError when the copy cannot be made.
std::string MakeUserCopy(const std::string& name);

// FileLayout().DataFile(name).
std::string DataFilePath(const std::string& name);
