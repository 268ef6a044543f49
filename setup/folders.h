// The file system calls of the launcher and the packer that differ between
// POSIX and Windows. Paths are UTF-8; failures are errno values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wrap {

// What separates a path's components: "/", or on Windows also "\" and the
// drive's ":".
extern const char* const kPathSeparators;

// Where the launcher unpacks: $TMPDIR, else /tmp; on Windows the user's
// temporary folder (GetTempPathW).
std::string TempDirectory();

// True for a folder, following links.
bool IsFolder(const std::string& path);
// A new folder only this user can enter; 0 or errno (EEXIST when anything
// of that name is there).
int MakePrivateFolder(const std::string& path);
// A new folder with the usual permissions; 0 or errno.
int MakeFolder(const std::string& path);
// Best effort, nothing reported.
void RemoveFile(const std::string& path);
void RemoveFolder(const std::string& path);
// The plain files directly in a folder, then the folder itself; nothing when
// path is no folder (a link to one included), and sub-folders stay.
void RemoveFolderAndFiles(const std::string& path);

// The modification time of an open file, as FILETIME.
void SetWriteTime(int fd, std::uint64_t fileTime);
// Adds the owner's execute bit (none exists on Windows); throws
// EWrapError(errno, name).
void MakeExecutable(const std::string& path, const std::string& name);
void SetMode(const std::string& path, unsigned mode);
// Renames from onto to, replacing a file there; 0 or errno.
int ReplaceWith(const std::string& from, const std::string& to);

struct FolderEntry {
  std::string name;
  bool plainFile = false;  // after following a link
  std::uint16_t mode = 0;  // permission bits
};
// Every entry but "." and "..", sorted by name. Throws EWrapError(errno, folder),
// or (errno, name) for an entry that cannot be looked at.
std::vector<FolderEntry> ListFolder(const std::string& folder);

}  // namespace wrap
