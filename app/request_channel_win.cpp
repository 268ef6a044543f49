// The request channel over a local named pipe. A listening thread takes each
// client on a pipe instance of its own and hands it to a thread that reads
// the request, posts it to the server's thread through a message-only window
// and writes the answer back, so that neither a slow client nor one that
// leaves can hold up the tray program's loop.
#include "app/request_channel.h"

#include "app/request_protocol.h"
#include "net/notify_window.h"
#include "platform/ascii.h"
#include "platform/instance_lock.h"
#include "platform/windows_api.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace request_protocol;

namespace {

constexpr DWORD kBufferBytes = 4096;
// An answer waits this long for room, as on Linux.
constexpr DWORD kAnswerWriteMs = 1000;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using THandle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

THandle NewEvent() { return THandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// A descriptor that admits this user alone; null when it cannot be made.
std::unique_ptr<void, LocalFreer> OwnerOnlyDescriptor() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  const THandle tokenGuard(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buf(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buf.data(), size, &size)) return nullptr;
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid))
    return nullptr;
  const std::unique_ptr<void, LocalFreer> sidGuard(sid);
  // Protected: nothing is inherited from the namespace's defaults.
  const std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(sid) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return nullptr;
  return std::unique_ptr<void, LocalFreer>(descriptor);
}

enum class TWait { Done, Failed, TimedOut, Stopped, Other };

// Waits for the overlapped operation begun with result `started`, for `stop`,
// for `other` (when given) or for `ms`. Whatever but the operation ends the
// wait cancels it first, so that its buffer may go.
TWait Await(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD& done, HANDLE stop, HANDLE other,
            DWORD ms) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return TWait::Failed;
  const HANDLE handles[3] = {ov.hEvent, stop, other};
  const DWORD woke = WaitForMultipleObjects(other ? 3 : 2, handles, FALSE, ms);
  if (woke == WAIT_OBJECT_0)
    return GetOverlappedResult(pipe, &ov, &done, FALSE) ? TWait::Done : TWait::Failed;
  CancelIo(pipe);
  GetOverlappedResult(pipe, &ov, &done, TRUE);
  if (woke == WAIT_OBJECT_0 + 1) return TWait::Stopped;
  if (woke == WAIT_OBJECT_0 + 2) return TWait::Other;
  return TWait::TimedOut;
}

// One client's answer, which the program gives on its own thread when the
// request has ended; none when it is dropped unanswered.
struct TPending {
  THandle given = NewEvent();
  std::mutex mutex;
  std::optional<TRequestAnswer> answer;

  void Give(std::optional<TRequestAnswer> a) {
    std::lock_guard lock(mutex);
    if (WaitForSingleObject(given.get(), 0) == WAIT_OBJECT_0) return;  // only the first counts
    answer = std::move(a);
    SetEvent(given.get());
  }
};

void WriteAnswer(HANDLE pipe, const TRequestAnswer& answer, HANDLE stop) {
  const std::string line = AnswerLine(answer);
  OVERLAPPED ov{};
  const THandle event = NewEvent();
  ov.hEvent = event.get();
  DWORD done = 0;
  const BOOL started = WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), nullptr, &ov);
  // Closing (rather than disconnecting) the instance leaves the line
  // readable for the client.
  Await(pipe, ov, started, done, stop, nullptr, kAnswerWriteMs);
}

}  // namespace

struct TRequestServer::TPipes {
  struct TClient {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  explicit TPipes(TRequestServer& s) : server(s), name(WideText(s.path_)) {}
  bool Open();
  HANDLE NewInstance(bool first);
  void Listen(THandle pipe);
  void Take(THandle pipe);
  void Serve(THandle pipe, const std::shared_ptr<std::atomic<bool>>& finished);
  TParse ReadRequest(HANDLE pipe, std::string& url, bool& flush);
  void Stop();

  TRequestServer& server;
  std::wstring name;
  std::unique_ptr<void, LocalFreer> descriptor;
  THandle stop = NewEvent();
  // The way from the clients' threads to the thread that made the server.
  TNotifyWindow window{nullptr};
  std::thread listener;
  std::vector<TClient> clients;  // the listener's alone while it runs
};

HANDLE TRequestServer::TPipes::NewInstance(bool first) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const DWORD open =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return CreateNamedPipeW(
      name.c_str(), open,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      PIPE_UNLIMITED_INSTANCES, kBufferBytes, kBufferBytes, 0, &attributes);
}

bool TRequestServer::TPipes::Open() {
  descriptor = OwnerOnlyDescriptor();
  if (!descriptor || !stop) return false;
  // The first instance: whoever made one of that name already (a tray
  // program of an earlier session, or another user) keeps it.
  THandle first(NewInstance(true));
  if (first.get() == INVALID_HANDLE_VALUE) return false;
  listener = std::thread([this, pipe = std::move(first)]() mutable { Listen(std::move(pipe)); });
  return true;
}

void TRequestServer::TPipes::Listen(THandle pipe) {
  while (WaitForSingleObject(stop.get(), 0) != WAIT_OBJECT_0) {
    OVERLAPPED ov{};
    const THandle event = NewEvent();
    ov.hEvent = event.get();
    DWORD done = 0;
    const BOOL started = ConnectNamedPipe(pipe.get(), &ov);
    const bool early = !started && GetLastError() == ERROR_PIPE_CONNECTED;
    const TWait wait =
        early ? TWait::Done : Await(pipe.get(), ov, started, done, stop.get(), nullptr, INFINITE);
    if (wait == TWait::Stopped) return;
    if (wait != TWait::Done) {
      // A client that came and went at once; the instance serves the next.
      DisconnectNamedPipe(pipe.get());
      WaitForSingleObject(stop.get(), 50);
      continue;
    }
    THandle next(NewInstance(false));
    Take(std::move(pipe));
    // Without an instance clients find nobody and send themselves.
    while (next.get() == INVALID_HANDLE_VALUE) {
      if (WaitForSingleObject(stop.get(), 1000) == WAIT_OBJECT_0) return;
      next.reset(NewInstance(false));
    }
    pipe = std::move(next);
  }
}

// Starts a thread for a client of this user, after those that ended are
// joined.
void TRequestServer::TPipes::Take(THandle pipe) {
  std::erase_if(clients, [](TClient& c) {
    if (!*c.finished) return false;
    c.thread.join();
    return true;
  });
  if (!PeerIsSameUser(pipe.get())) return;  // closed unheard
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::thread thread(
      [this, finished, p = std::move(pipe)]() mutable { Serve(std::move(p), finished); });
  clients.push_back({std::move(thread), finished});
}

// Reads the whole request, or until the client has stalled too long.
TParse TRequestServer::TPipes::ReadRequest(HANDLE pipe, std::string& url, bool& flush) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(server.stall_ms_.load());
  std::string buffer;
  char chunk[kBufferBytes];
  OVERLAPPED ov{};
  const THandle event = NewEvent();
  ov.hEvent = event.get();
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return TParse::Bad;
    DWORD done = 0;
    const BOOL started = ReadFile(pipe, chunk, sizeof chunk, nullptr, &ov);
    if (Await(pipe, ov, started, done, stop.get(), nullptr, static_cast<DWORD>(deadline - now)) !=
            TWait::Done ||
        done == 0)
      return TParse::Bad;
    buffer.append(chunk, done);
    const TParse parse = ParseRequest(buffer, url, flush);
    if (parse != TParse::Incomplete) return parse;
  }
}

void TRequestServer::TPipes::Serve(THandle pipe,
                                   const std::shared_ptr<std::atomic<bool>>& finished) {
  const auto serve = [&] {
    std::string url;
    bool flush = false;
    const TParse parse = ReadRequest(pipe.get(), url, flush);
    if (parse == TParse::TooLong) WriteAnswer(pipe.get(), TooLongAnswer(), stop.get());
    if (parse != TParse::Whole) return;
    auto pending = std::make_shared<TPending>();
    // The dispatch opens boxes and waits: it runs on the program's thread,
    // which answers through `pending` whenever the request has ended.
    const bool posted = TNotifyWindow::Post(&window, [this, url, flush, pending] {
      const THandler& handler = flush ? server.flush_ : server.handler_;
      if (!handler) {
        pending->Give(std::nullopt);
        return;
      }
      handler(url, [pending](const TRequestAnswer& answer) { pending->Give(answer); });
    });
    if (!posted) return;
    // Meanwhile only the client's leaving is expected: a read that ends,
    // with bytes or without, drops it.
    char byte;
    OVERLAPPED ov{};
    const THandle event = NewEvent();
    ov.hEvent = event.get();
    DWORD done = 0;
    const BOOL started = ReadFile(pipe.get(), &byte, 1, nullptr, &ov);
    if (Await(pipe.get(), ov, started, done, stop.get(), pending->given.get(), INFINITE) !=
        TWait::Other)
      return;
    std::lock_guard lock(pending->mutex);
    if (pending->answer) WriteAnswer(pipe.get(), *pending->answer, stop.get());
  };
  serve();
  pipe.reset();
  *finished = true;
}

void TRequestServer::TPipes::Stop() {
  SetEvent(stop.get());
  if (listener.joinable()) listener.join();
  for (TClient& c : clients) c.thread.join();
  clients.clear();
}

// The tray program may name the channel after its module's path, the command
// line names it after argv[0] as typed: both come down to the file name
// without ".exe" (the pipe's name ignores case).
std::string RequestSocketPath(const std::string& programName) {
  std::string name = programName.substr(programName.find_last_of("/\\") + 1);
  if (name.size() > 4 && AsciiLower(name.substr(name.size() - 4)) == ".exe")
    name.resize(name.size() - 4);
  const std::string base = InstanceBasePath(name);
  return base.empty() ? std::string() : InstancePipeName(base + ".request");
}

TRequestServer::TRequestServer(std::string path, THandler handler, THandler flush)
    : path_(std::move(path)), handler_(std::move(handler)), flush_(std::move(flush)) {
  if (path_.empty()) return;
  auto pipes = std::make_unique<TPipes>(*this);
  if (pipes->Open()) pipes_ = std::move(pipes);
}

TRequestServer::~TRequestServer() {
  // The threads end before the window goes, which drops the calls they
  // posted and that have not run.
  if (pipes_) pipes_->Stop();
}

bool TRequestServer::Listening() const { return pipes_ != nullptr; }
