#include "app/local_client.h"

#include "platform/instance_lock.h"
#include "platform/windows_api.h"

#include <windows.h>

#include <algorithm>

namespace {

// Chunks of a long write, each with its own time limit, as the Linux side
// waits for room each time.
constexpr std::size_t kChunk = 64 * 1024;

// Ends an overlapped operation begun with result `started`: true when it
// completed within `ms`; otherwise it is cancelled, so that its buffer may go.
bool Finish(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD& done, int ms) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(ov.hEvent, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &ov, &done, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &ov, &done, FALSE) != 0;
}

struct TOverlapped {
  TOverlapped() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~TOverlapped() {
    if (ov.hEvent) CloseHandle(ov.hEvent);
  }
  OVERLAPPED ov{};
};

HANDLE Open(const std::wstring& name) {
  // Identification only: a server cannot act as this user with our handle.
  return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                     nullptr);
}

}  // namespace

TLocalClient::TLocalClient(const std::string& path, int timeoutMs) {
  if (path.empty()) return;
  const std::wstring name = WideText(path);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  HANDLE pipe = Open(name);
  // Every instance is taken until the server makes the next: wait for it.
  while (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !WaitNamedPipeW(name.c_str(), static_cast<DWORD>(deadline - now)))
      return;
    pipe = Open(name);
  }
  if (pipe == INVALID_HANDLE_VALUE) return;
  if (!PeerIsSameUser(pipe)) {
    CloseHandle(pipe);
    return;
  }
  pipe_ = pipe;
}

TLocalClient::~TLocalClient() {
  if (pipe_) CloseHandle(pipe_);
}

bool TLocalClient::Connected() const { return pipe_ != nullptr; }

bool TLocalClient::WriteAll(std::string_view bytes, int timeoutMs) {
  if (!pipe_) return false;
  TOverlapped io;
  while (!bytes.empty()) {
    const DWORD size = static_cast<DWORD>(std::min(bytes.size(), kChunk));
    DWORD done = 0;
    const BOOL started = WriteFile(pipe_, bytes.data(), size, nullptr, &io.ov);
    if (!Finish(pipe_, io.ov, started, done, timeoutMs) || done == 0) return false;
    bytes.remove_prefix(done);
  }
  return true;
}

std::string TLocalClient::ReadLine(int timeoutMs) {
  std::string line;
  TOverlapped io;
  char c;
  while (pipe_) {
    DWORD done = 0;
    const BOOL started = ReadFile(pipe_, &c, 1, nullptr, &io.ov);
    if (!Finish(pipe_, io.ov, started, done, timeoutMs) || done == 0) break;  // closed or silent
    line += c;
    if (c == '\n') break;
  }
  return line;
}
