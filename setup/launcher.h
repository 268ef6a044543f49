// The setup launcher: asks, checks its payload, unpacks it into a fresh
// private folder under the temporary directory, runs SETUP.EXE from it,
// waits, cleans up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "setup/asking.h"
#include "setup/bundle.h"
#include "setup/folders.h"
#include "setup/payload.h"

namespace wrap {

// Adds "/" unless the path is empty or already ends in "/" or "\".
std::string AppendBackslash(std::string path);

// FILETIME (100 ns units since 1601-01-01 UTC) and back.
std::uint64_t UnixToFileTime(std::int64_t seconds, long nanoseconds);
void FileTimeToUnix(std::uint64_t fileTime, std::int64_t& seconds, long& nanoseconds);

class Launcher {
 public:
  // bundle may be null when the executable carries none or a damaged one;
  // damage then says what is wrong with it.
  Launcher(const Bundle* bundle, Asker& asker, std::string tempDirectory, std::string damage = {});

  // Answer Yes without asking.
  void Accept() { accept_ = true; }
  void SetupArguments(std::vector<std::string> args) { setup_args_ = std::move(args); }

  // The main sequence; false when it failed (answering No is no failure).
  // Never throws for anything the payload holds.
  bool Run();
  // Unpacks into target (made when missing) or, when it is empty, into a
  // fresh temporary folder, and keeps it; runs nothing. On failure what was
  // written is removed.
  bool Extract(const std::string& target);

  // The steps; each shows its own error and returns false on failure.
  bool CheckPayload();
  bool CreateTempFolder();
  bool UnpackPayload();
  bool RunSetup();
  void RemoveTempFolder();

  Answer AskUser(std::uint16_t stringNumber, BoxType type);
  // code -1 takes errno; detail goes on a second line.
  void ShowSystemError(int code, BoxType type = BoxType::OkExclamation,
                       const std::string& detail = {});

  const std::string& TempFolder() const { return folder_; }

 private:
  std::string Title() const;
  bool Fail(const std::string& detail = {});
  bool UseFolder(const std::string& target);
  void UnpackFile(const PayloadFile& file, const std::string& prefix, std::uint64_t fileTime);
  void RemoveWritten();

  const Bundle* bundle_;
  Asker& asker_;
  std::string temp_directory_;
  std::string damage_;
  bool accept_ = false;
  std::vector<std::string> setup_args_;
  std::string folder_;
  std::vector<PayloadFile> files_;  // checked by CheckPayload
  std::vector<std::string> written_;
  bool made_folder_ = false;
};

}  // namespace wrap
