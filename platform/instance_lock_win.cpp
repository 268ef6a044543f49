#include "platform/instance_lock.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/ascii.h"
#include "platform/folders.h"
#include "platform/windows_api.h"

namespace {

// Object names allow no "\" and at most MAX_PATH characters: the path goes
// in as a hash. Paths differ only in case on this system, so case is folded.
std::string PathKey(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : AsciiLower(path)) {
    hash ^= static_cast<unsigned char>(c == '\\' ? '/' : c);
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("Tolvane-") + hex;
}

struct HandleCloser {
  void operator()(void* h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The bytes of the SID of the user a process runs as; empty when they
// cannot be read.
std::string UserOfProcess(DWORD pid) {
  const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  HANDLE token = nullptr;
  if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, &token)) return {};
  const Handle tokenGuard(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  auto buf = std::make_unique<unsigned char[]>(size);
  if (!GetTokenInformation(token, TokenUser, buf.get(), size, &size)) return {};
  const SID_AND_ATTRIBUTES& user = reinterpret_cast<TOKEN_USER*>(buf.get())->User;
  const DWORD length = GetLengthSid(user.Sid);
  return std::string(static_cast<const char*>(user.Sid), length);
}

}  // namespace

std::string PrivateRuntimeFolder() {
  const std::string folder = StateFolder();
  return MakeFolders(folder, 0700) ? folder : std::string();
}

std::string InstanceBasePath(const std::string& programName) {
  const std::string folder = PrivateRuntimeFolder();
  return folder.empty() ? std::string() : folder + programName;
}

std::string InstancePipeName(const std::string& path) {
  return path.empty() ? std::string() : "\\\\.\\pipe\\" + PathKey(path);
}

bool PeerIsSameUser(void* pipe) {
  DWORD flags = 0;
  if (!GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, nullptr)) return false;
  ULONG pid = 0;
  const BOOL known = (flags & PIPE_SERVER_END) ? GetNamedPipeClientProcessId(pipe, &pid)
                                               : GetNamedPipeServerProcessId(pipe, &pid);
  if (!known) return false;
  const std::string peer = UserOfProcess(pid);
  return !peer.empty() && peer == UserOfProcess(GetCurrentProcessId());
}

InstanceLock::InstanceLock(const std::string& path) : path_(path) {
  if (path.empty()) {
    error_ = "no folder of this user's own for it (" + StateFolder() + " cannot be made)";
    return;
  }
  // "Local\" is this logon session's: another user's session has its own.
  const std::wstring name = WideText("Local\\" + PathKey(path));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD err = GetLastError();
  if (mutex == nullptr) {
    // Another user's object of that name cannot be opened: whether it is
    // an instance of ours is unknown.
    error_ = path + ": Windows error " + std::to_string(err);
    return;
  }
  if (err == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    state_ = State::HeldByOther;
    return;
  }
  mutex_ = mutex;
  state_ = State::Held;
}

InstanceLock::~InstanceLock() { Release(); }

void InstanceLock::Release() {
  if (mutex_ != nullptr) {
    // The last handle gone, the mutex goes too.
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }
}
