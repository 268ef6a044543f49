// Hands a request from the command line to the running tray program, so that
// one program keeps the one history, and carries the outcome back.
#pragma once

#include <QLocalServer>

#include <functional>
#include <memory>
#include <string>

// The channel's socket for a program file name, beside the instance lock.
std::string RequestSocketPath(const std::string& programName);

// Exit codes of "tolvane --request".
// kRequestKept: kept in the outbox, to be sent later (sendmail's EX_TEMPFAIL).
enum TRequestExit {
  kRequestSent = 0,
  kRequestFailed = 1,
  kSettingsIncomplete = 2,
  kRequestKept = 75
};

// Tray side. Each connection sends one line "REQUEST <url>"; the handler
// answers through `reply` (exit code and text) once the request has ended,
// however long that takes.
class TRequestServer {
 public:
  using TReply = std::function<void(int code, const std::string& text)>;
  using THandler = std::function<void(const std::string& url, TReply reply)>;

  // A line "FLUSH" goes to `flush` (its URL is empty).
  TRequestServer(std::string path, THandler handler, THandler flush = nullptr);
  ~TRequestServer();
  bool Listening() const;

 private:
  std::string path_;
  THandler handler_;
  THandler flush_;
  std::unique_ptr<QLocalServer> server_;
};

// Command-line side: nullopt-like false when no tray program listens;
// otherwise true with the code and text it answered.
bool HandToRunningInstance(const std::string& path, const std::string& url, int& code,
                           std::string& text);
// The same for "FLUSH": sends what waits in the running program's outbox.
bool FlushRunningInstance(const std::string& path, int& code, std::string& text);
