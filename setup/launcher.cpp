#include "setup/launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <new>

#include "setup/file_list.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"

extern char** environ;

namespace wrap {
namespace {

constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000;  // 1970 in FILETIME
constexpr const char* kSetupProgram = "SETUP.EXE";

}  // namespace

std::string AppendBackslash(std::string path) {
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  return path;
}

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::uint64_t UnixToFileTime(std::int64_t seconds, long nanoseconds) {
  return static_cast<std::uint64_t>(seconds * 10000000 + nanoseconds / 100 + kFileTimeUnixEpoch);
}

void FileTimeToUnix(std::uint64_t fileTime, std::int64_t& seconds, long& nanoseconds) {
  constexpr auto kEpoch = static_cast<std::uint64_t>(kFileTimeUnixEpoch);
  if (fileTime >= kEpoch) {
    const std::uint64_t d = fileTime - kEpoch;
    seconds = static_cast<std::int64_t>(d / 10000000);
    nanoseconds = static_cast<long>(d % 10000000) * 100;
    return;
  }
  const std::uint64_t d = kEpoch - fileTime;
  seconds = -static_cast<std::int64_t>(d / 10000000);
  const auto rest = static_cast<long>(d % 10000000);
  nanoseconds = 0;
  if (rest != 0) {
    --seconds;
    nanoseconds = (10000000 - rest) * 100;
  }
}

Launcher::Launcher(const Bundle* bundle, Asker& asker, std::string tempDirectory)
    : bundle_(bundle), asker_(asker), tempDirectory_(std::move(tempDirectory)) {}

std::string Launcher::Title() const {
  std::string title = bundle_ ? bundle_->LoadString(kStringTitle, kTitleMax) : std::string();
  return title.empty() ? "Setup" : title;
}

void Launcher::Run() {
  folder_.clear();
  if (!bundle_) {
    // Nothing sound to ask about: say why, as any failure would.
    ShowSystemError(kInvalidData, BoxType::OkExclamation);
    asker_.Ask(Title(), "Setup failed.", BoxType::OkExclamation);
    return;
  }
  if (AskUser(kStringQuestion, BoxType::YesNoExclamation) != Answer::Yes) return;
  const bool ok = CreateTempFolder() && UnpackPayload() && RunSetup();
  RemoveTempFolder();
  if (!ok) AskUser(kStringFailed, BoxType::OkExclamation);
}

std::optional<Bytes> Launcher::LoadRawData(std::uint16_t number) {
  errno = kInvalidData;
  if (!bundle_) return std::nullopt;
  try {
    return bundle_->Load(ResourceType::RawData, number);
  } catch (const EWrapError& e) {
    errno = e.Code();
    return std::nullopt;
  }
}

Answer Launcher::AskUser(std::uint16_t stringNumber, BoxType type) {
  std::string text = bundle_ ? bundle_->LoadString(stringNumber, kTextMax) : std::string();
  if (text.empty() && stringNumber == kStringFailed) text = "Setup failed.";
  return asker_.Ask(Title(), text, type);
}

void Launcher::ShowSystemError(int code, BoxType type) {
  if (code == -1) code = errno;
  asker_.Ask(Title(), ErrorText(code), type);
}

bool Launcher::Fail() {
  ShowSystemError(-1, BoxType::OkExclamation);
  return false;
}

bool Launcher::CreateTempFolder() {
  folder_.clear();
  if (tempDirectory_.empty() || tempDirectory_.size() >= PATH_MAX - 16) {
    errno = tempDirectory_.empty() ? ENOENT : ENAMETOOLONG;
    return Fail();
  }
  const std::string base = AppendBackslash(tempDirectory_);
  for (int i = 0; i < 1000; ++i) {
    folder_ = base + "_INST" + std::to_string(i);
    struct stat st {};
    if (::stat(folder_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      folder_.clear();
      continue;
    }
    // Private to this user, whatever the umask, so that nobody else can
    // swap SETUP.EXE between unpacking and running it.
    if (::mkdir(folder_.c_str(), 0700) == 0) {
      ::chmod(folder_.c_str(), 0700);
      return true;
    }
    const int err = errno;
    folder_.clear();
    errno = err;
    return Fail();
  }
  errno = EEXIST;
  return Fail();
}

bool Launcher::UnpackPayload() {
  const std::string prefix = AppendBackslash(folder_);
  try {
    const auto list = LoadRawData(kRawFileList);
    if (!list) return Fail();
    const auto stamp = LoadRawData(kRawFileTime);
    if (!stamp) return Fail();
    if (stamp->size() != 8) ThrowInvalidData("file time");
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    FileTimeToUnix(GetLE(*stamp, 0, 8), seconds, nanoseconds);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};

    for (const FileRecord& record : ParseFileList(*list)) {
      const auto data = LoadRawData(record.number);
      if (!data) return Fail();
      if (record.length > data->size()) ThrowInvalidData("file longer than its resource");
      const std::string packed = prefix + record.name;
      {
        UniqueFd fd = CreateFile(packed);
        WriteAll(fd.Get(), ByteView(*data).first(record.length));
        ::futimens(fd.Get(), times);
        fd.Close();
      }
      const auto name = GetExpandedName(packed);
      if (!name || !IsPlainShortName(*name) || *name == record.name)
        ThrowInvalidData("no expanded name for " + record.name);
      const bool program = *name == kSetupProgram;
      SzddExpandFile(packed, prefix + *name, program ? 0755 : 0644);
      if (program) {
        // The creation mode is cut by the umask; the program must run.
        struct stat st {};
        if (::stat((prefix + *name).c_str(), &st) != 0 ||
            ::chmod((prefix + *name).c_str(), (st.st_mode & 07777) | S_IXUSR) != 0)
          throw EWrapError(errno, *name);
      }
      ::unlink(packed.c_str());
    }
    return true;
  } catch (const EWrapError& e) {
    errno = e.Code();
    return Fail();
  } catch (const std::bad_alloc&) {
    // A payload file too large to hold: fail in order, so the folder goes.
    errno = ENOMEM;
    return Fail();
  }
}

bool Launcher::RunSetup() {
  std::string program = AppendBackslash(folder_) + kSetupProgram;
  char* argv[] = {program.data(), nullptr};
  // While the setup program runs, Ctrl-C on the terminal is its to take:
  // the launcher stays to remove the folder afterwards, as system() does.
  struct sigaction ignore {
  }, oldInt{}, oldQuit{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGINT, &ignore, &oldInt);
  ::sigaction(SIGQUIT, &ignore, &oldQuit);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGQUIT, &oldQuit, nullptr);
  if (rc != 0) {
    errno = rc;
    return Fail();
  }
  return true;
}

void Launcher::RemoveTempFolder() {
  if (folder_.empty()) return;
  struct stat st {};
  if (::lstat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    const int dfd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
      struct stat es {};
      if (::fstatat(dfd, entry->d_name, &es, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(es.st_mode))
        continue;
      ::unlinkat(dfd, entry->d_name, 0);
    }
    ::closedir(dir);
  }
  ::rmdir(folder_.c_str());
}

}  // namespace wrap
