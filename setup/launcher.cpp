#include "setup/launcher.h"

#include <cerrno>
#include <climits>
#include <new>

#include "setup/file_list.h"
#include "setup/process.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000;  // 1970 in FILETIME
constexpr const char* kSetupProgram = "SETUP.EXE";

void StopIfInterrupted() {
  if (Interruption()) throw EWrapError(EINTR);
}

}  // namespace

std::string AppendBackslash(std::string path) {
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  return path;
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

Launcher::Launcher(const Bundle* bundle, Asker& asker, std::string tempDirectory,
                   std::string damage)
    : bundle_(bundle),
      asker_(asker),
      temp_directory_(std::move(tempDirectory)),
      damage_(std::move(damage)) {}

std::string Launcher::Title() const {
  std::string title = bundle_ ? bundle_->LoadString(kStringTitle, kTitleMax) : std::string();
  return title.empty() ? "Setup" : title;
}

bool Launcher::Run() {
  folder_.clear();
  if (!bundle_) {
    // Nothing sound to ask about: say why, as any failure would.
    errno = kInvalidData;
    Fail(damage_);
    AskUser(kStringFailed, BoxType::OkExclamation);
    return false;
  }
  if (!accept_ && AskUser(kStringQuestion, BoxType::YesNoExclamation) != Answer::Yes) return true;
  if (Interruption()) return true;
  const bool ok = CheckPayload() && CreateTempFolder() && UnpackPayload() && RunSetup();
  RemoveTempFolder();
  if (!ok && !Interruption()) AskUser(kStringFailed, BoxType::OkExclamation);
  return ok;
}

bool Launcher::Extract(const std::string& target) {
  folder_.clear();
  if (!bundle_) {
    errno = kInvalidData;
    return Fail(damage_);
  }
  const bool made = CheckPayload() && (target.empty() ? CreateTempFolder() : UseFolder(target));
  if (made && UnpackPayload()) return true;
  RemoveWritten();
  return false;
}

Answer Launcher::AskUser(std::uint16_t stringNumber, BoxType type) {
  std::string text = bundle_ ? bundle_->LoadString(stringNumber, kTextMax) : std::string();
  if (text.empty() && stringNumber == kStringFailed) text = "Setup failed.";
  return asker_.Ask(Title(), text, type);
}

void Launcher::ShowSystemError(int code, BoxType type, const std::string& detail) {
  if (code == -1) code = errno;
  asker_.Ask(Title(), ErrorText(code) + (detail.empty() ? "" : "\n" + detail), type);
}

bool Launcher::Fail(const std::string& detail) {
  // After a signal the user has left: clean up without a word.
  if (!Interruption()) ShowSystemError(-1, BoxType::OkExclamation, detail);
  return false;
}

bool Launcher::CheckPayload() {
  try {
    CheckParts(*bundle_);
    ReadFileTime(*bundle_);
    files_ = ReadPayload(*bundle_);
    return true;
  } catch (const EWrapError& e) {
    errno = e.Code();
    return Fail(e.Detail());
  }
}

bool Launcher::CreateTempFolder() {
  folder_.clear();
  if (temp_directory_.empty() || temp_directory_.size() >= PATH_MAX - 16) {
    errno = temp_directory_.empty() ? ENOENT : ENAMETOOLONG;
    return Fail();
  }
  const std::string base = AppendBackslash(temp_directory_);
  for (int i = 0; i < 1000; ++i) {
    folder_ = base + "_INST" + std::to_string(i);
    if (IsFolder(folder_)) {
      folder_.clear();
      continue;
    }
    const int err = MakePrivateFolder(folder_);
    if (err == 0) {
      made_folder_ = true;
      return true;
    }
    folder_.clear();
    errno = err;
    return Fail();
  }
  errno = EEXIST;
  return Fail();
}

bool Launcher::UseFolder(const std::string& target) {
  const int err = MakeFolder(target);
  made_folder_ = err == 0;
  if (!made_folder_ && (err != EEXIST || !IsFolder(target))) {
    errno = err;
    return Fail(target);
  }
  folder_ = target;
  return true;
}

bool Launcher::UnpackPayload() {
  const std::string prefix = AppendBackslash(folder_);
  try {
    const std::uint64_t fileTime = ReadFileTime(*bundle_);
    for (const PayloadFile& file : files_) UnpackFile(file, prefix, fileTime);
    StopIfInterrupted();
    return true;
  } catch (const EWrapError& e) {
    errno = e.Code();
    return Fail(e.Detail());
  } catch (const std::bad_alloc&) {
    // A payload file too large to hold: fail in order, so the folder goes.
    errno = ENOMEM;
    return Fail();
  }
}

void Launcher::UnpackFile(const PayloadFile& file, const std::string& prefix,
                          std::uint64_t fileTime) {
  StopIfInterrupted();
  const std::string stored = prefix + file.record.name;
  written_.push_back(stored);
  {
    // Straight from the bundle in pieces: no file is held in memory whole.
    UniqueFd fd = CreateFile(stored);
    errno = kInvalidData;
    if (!bundle_->CopyTo(ResourceType::RawData, file.record.number, file.record.length,
                         [&](ByteView piece) { WriteAll(fd.Get(), piece); }))
      throw EWrapError(errno, file.record.name);
    SetWriteTime(fd.Get(), fileTime);
    fd.Close();
  }
  if (GetExpandedName(stored) != file.expanded)
    ThrowInvalidData("no expanded name for " + file.record.name);
  const std::string expanded = prefix + file.expanded;
  written_.push_back(expanded);
  const unsigned exec = file.expanded == kSetupProgram ? 0111u : file.mode & 0111u;
  SzddExpandFileTo(stored, expanded, 0644 | exec, StopIfInterrupted);
  if (exec != 0) MakeExecutable(expanded, file.expanded);
  RemoveFile(stored);
}

bool Launcher::RunSetup() {
  if (Interruption()) return false;
  std::vector<std::string> args{AppendBackslash(folder_) + kSetupProgram};
  args.insert(args.end(), setup_args_.begin(), setup_args_.end());
  Child child;
  const int rc = child.Start(args[0], args);
  if (rc != 0) {
    errno = rc;
    return Fail();
  }
  // Its exit code is not looked at; signals meanwhile are its to take.
  child.Wait();
  return true;
}

void Launcher::RemoveWritten() {
  if (folder_.empty()) return;
  for (const auto& path : written_) RemoveFile(path);
  written_.clear();
  if (made_folder_) RemoveFolder(folder_);
}

void Launcher::RemoveTempFolder() {
  if (!folder_.empty()) RemoveFolderAndFiles(folder_);
}

}  // namespace wrap
