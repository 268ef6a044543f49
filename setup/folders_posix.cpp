#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "setup/folders.h"
#include "setup/launcher.h"
#include "setup/wrap_error.h"

namespace wrap {

const char* const kPathSeparators = "/";

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakePrivateFolder(const std::string& path) {
  // Private whatever the umask, so that nobody else can swap SETUP.EXE
  // between unpacking and running it.
  if (::mkdir(path.c_str(), 0700) != 0) return errno;
  ::chmod(path.c_str(), 0700);
  return 0;
}

int MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

void RemoveFolder(const std::string& path) { ::rmdir(path.c_str()); }

void RemoveFolderAndFiles(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  if (DIR* dir = ::opendir(path.c_str())) {
    const int dfd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
      struct stat es {};
      if (::fstatat(dfd, entry->d_name, &es, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(es.st_mode))
        continue;
      ::unlinkat(dfd, entry->d_name, 0);
    }
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}

void SetWriteTime(int fd, std::uint64_t fileTime) {
  std::int64_t seconds = 0;
  long nanoseconds = 0;
  FileTimeToUnix(fileTime, seconds, nanoseconds);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
  ::futimens(fd, times);
}

void MakeExecutable(const std::string& path, const std::string& name) {
  // The creation mode is cut by the umask; the program must still run.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || ::chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0)
    throw EWrapError(errno, name);
}

void SetMode(const std::string& path, unsigned mode) {
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

int ReplaceWith(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) throw EWrapError(errno, folder);
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  std::vector<FolderEntry> entries;
  for (const auto& name : names) {
    struct stat st {};
    if (::stat((folder + "/" + name).c_str(), &st) != 0) throw EWrapError(errno, name);
    entries.push_back({name, S_ISREG(st.st_mode), static_cast<std::uint16_t>(st.st_mode & 0777)});
  }
  return entries;
}

}  // namespace wrap
