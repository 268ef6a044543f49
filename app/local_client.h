// The asking side of the tray program's local channels: blocks with time
// limits. On Linux a Unix domain socket; on Windows a named pipe, trusted
// only when the process serving it runs as this user (pipe names are the
// whole machine's, so another user could have made one of that name).
#pragma once

#include <string>
#include <string_view>

class TLocalClient {
 public:
  // Connected, or not when nobody (of this user) listens at `path`.
  TLocalClient(const std::string& path, int timeoutMs);
  ~TLocalClient();
  TLocalClient(const TLocalClient&) = delete;
  TLocalClient& operator=(const TLocalClient&) = delete;

  bool Connected() const;
  bool WriteAll(std::string_view bytes, int timeoutMs);
  // Reads up to and with the first line feed, or until the other end closes
  // or `timeoutMs` passes without a byte; what came is returned.
  std::string ReadLine(int timeoutMs);

 private:
#ifdef _WIN32
  void* pipe_ = nullptr;  // the pipe's HANDLE
#else
  int fd_ = -1;
#endif
};
