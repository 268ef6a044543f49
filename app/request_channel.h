// Hands a request from the command line to the running tray program, so that
// one program keeps the one history, and carries the outcome back.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "core/dispatcher.h"

class TLocalPeer;
class TLocalServer;

// The channel's socket for a program file name, beside the instance lock;
// empty when there is no private folder for it. On Windows the name of a
// local pipe, the same for the program's path and for its file name with or
// without ".exe".
std::string RequestSocketPath(const std::string& programName);

// Exit codes of "tolvane --request".
// kRequestKept: kept in the outbox, to be sent later (sendmail's EX_TEMPFAIL).
enum TRequestExit {
  kRequestSent = 0,
  kRequestFailed = 1,
  kSettingsIncomplete = 2,
  kRequestKept = 75
};

// The longest address the channel carries; a longer one is refused whole.
constexpr std::size_t kMaxRequestBytes = 1 << 20;

struct TRequestAnswer {
  int code = kRequestFailed;
  std::string text;
};

// What "tolvane --request" answers for a dispatch that ended, with or
// without a tray program.
TRequestAnswer AnswerFor(TRequestDispatcher::TOutcome outcome, const std::string& url,
                         const std::string& lastError);
TRequestAnswer SettingsIncompleteAnswer();

// Tray side. Each connection of this user sends "REQUEST <length>\n" and the
// address's bytes, and nothing more (a client that sends more, or stalls
// before its request is whole, is dropped). The handler runs from the event
// queue of the thread that made the server, never inside the channel's read
// handler, and answers through `reply` once the request has ended, however
// long that takes; a client that left hears nothing. On Windows each client
// has a pipe instance and a thread of its own, which hand over through the
// thread's message queue.
class TRequestServer {
 public:
  using TReply = std::function<void(const TRequestAnswer& answer)>;
  using THandler = std::function<void(const std::string& url, TReply reply)>;

  // A line "FLUSH" goes to `flush` (its URL is empty).
  TRequestServer(std::string path, THandler handler, THandler flush = nullptr);
  ~TRequestServer();
  bool Listening() const;
  // A connection that has not sent its whole request this long after it
  // came is dropped.
  void SetStallTimeout(int ms) { stall_ms_ = ms; }

 private:
  std::atomic<int> stall_ms_ = 30 * 1000;
  std::string path_;
  THandler handler_;
  THandler flush_;
#ifdef _WIN32
  struct TPipes;
  std::unique_ptr<TPipes> pipes_;
#else
  void Accept(TLocalPeer* peer);

  std::unique_ptr<TLocalServer> server_;
#endif
};

// Command-line side: false when no tray program listens; otherwise true with
// the answer it gave.
bool HandToRunningInstance(const std::string& path, const std::string& url, TRequestAnswer& answer);

// Prints an answer the one way both sides use; returns its exit code.
int PrintAnswer(const TRequestAnswer& answer);
// The same for "FLUSH": sends what waits in the running program's outbox.
bool FlushRunningInstance(const std::string& path, TRequestAnswer& answer);
