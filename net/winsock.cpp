// What the system layers share: the operations' names, start-up
// bookkeeping, the last error and look-ups on worker threads.
#include "net/winsock.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

const char* const kWinsockFunctions[9] = {"inet_addr",
                                          "socket",
                                          "gethostname",
                                          "WSAStartup",
                                          "WSACleanup",
                                          "WSAGetLastError",
                                          "WSAAsyncGetServByName",
                                          "WSAAsyncGetHostByName",
                                          "WSACancelAsyncRequest"};

bool TWinsockLayer::Exports(std::string_view name) const {
  return std::any_of(std::begin(kWinsockFunctions), std::end(kWinsockFunctions),
                     [&](const char* f) { return name == f; });
}

namespace {
thread_local int t_last_error = 0;

TAsyncHandle NoLookup(int error) {
  t_last_error = error;
  return 0;
}
}  // namespace

int TThreadedWinsock::Fail(int error) {
  t_last_error = error;
  return ws::kSocketError;
}

TSocket TThreadedWinsock::NoSocket(int error) {
  t_last_error = error;
  return ws::kInvalidSocket;
}

struct TThreadedWinsock::Impl {
  // Shared between the GUI thread and the worker of one look-up.
  struct Lookup {
    std::mutex m;
    bool canceled = false;
    TNotifyWindow* wnd = nullptr;
    unsigned msg = 0;
    int error = 0;
    THostEnt host;
    TServEnt serv;
    THostEnt* host_buf = nullptr;  // GUI thread only
    TServEnt* serv_buf = nullptr;
  };

  std::string description;
  std::shared_ptr<Impl> self_token;  // weak copies tell queued calls we live
  int startups = 0;
  std::map<TAsyncHandle, std::shared_ptr<Lookup>> lookups;
  TAsyncHandle next_handle = 1;

  // Runs on the GUI thread: hands a finished look-up's result over.
  static void Complete(const std::weak_ptr<Impl>& weak, const std::shared_ptr<Lookup>& req,
                       TAsyncHandle handle) {
    auto impl = weak.lock();
    if (!impl) return;
    auto it = impl->lookups.find(handle);
    if (it == impl->lookups.end() || it->second != req) return;
    impl->lookups.erase(it);
    int error;
    {
      std::lock_guard lk(req->m);
      if (req->canceled) return;
      error = req->error;
      if (req->host_buf) *req->host_buf = req->host;
      if (req->serv_buf) *req->serv_buf = req->serv;
    }
    req->wnd->Deliver(req->msg, handle, ws::MakeAsyncReply(static_cast<std::uint16_t>(error)));
  }

  TAsyncHandle StartLookup(TNotifyWindow* wnd, unsigned msg, std::function<int(Lookup&)> work,
                           THostEnt* host_buf, TServEnt* serv_buf) {
    auto req = std::make_shared<Lookup>();
    req->wnd = wnd;
    req->msg = msg;
    req->host_buf = host_buf;
    req->serv_buf = serv_buf;
    TAsyncHandle handle = next_handle++;
    lookups[handle] = req;
    std::weak_ptr<Impl> weak = self_token;
    try {
      std::thread([req, work = std::move(work), weak, handle] {
        Lookup scratch;
        int error = work(scratch);
        std::lock_guard lock(req->m);
        if (req->canceled) return;
        req->error = error;
        req->host = std::move(scratch.host);
        req->serv = std::move(scratch.serv);
        TNotifyWindow::Post(req->wnd, [req, weak, handle] { Complete(weak, req, handle); });
      }).detach();
    } catch (const std::system_error&) {
      lookups.erase(handle);
      return NoLookup(ws::kENoBufs);
    }
    return handle;
  }

  void CancelAll() {
    for (auto& [h, req] : lookups) {
      std::lock_guard lock(req->m);
      req->canceled = true;
    }
    lookups.clear();
  }
};

TThreadedWinsock::TThreadedWinsock(THostResolver host, TServResolver serv, std::string description)
    : HostResolver(std::move(host)), ServResolver(std::move(serv)), d_(std::make_unique<Impl>()) {
  d_->description = std::move(description);
  // The token shares ownership with nobody: it only dies with the layer.
  d_->self_token = std::shared_ptr<Impl>(d_.get(), [](Impl*) {});
}

TThreadedWinsock::~TThreadedWinsock() {
  d_->CancelAll();
  d_->self_token.reset();
}

bool TThreadedWinsock::Started() const { return d_->startups > 0; }

int TThreadedWinsock::WSAStartup(std::uint16_t version, TWSAData* data) {
  if ((version & 0xFF) < 1) return ws::kVerNotSupported;
  if (data) {
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    data->szDescription = d_->description;
    data->szSystemStatus = "Running";
  }
  ++d_->startups;
  return 0;
}

int TThreadedWinsock::WSACleanup() {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  if (--d_->startups == 0) d_->CancelAll();
  return 0;
}

int TThreadedWinsock::WSAGetLastError() { return t_last_error; }

TAsyncHandle TThreadedWinsock::WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg,
                                                     const char* name, const char* proto,
                                                     TServEnt* buf) {
  if (d_->startups == 0) return NoLookup(ws::kNotInitialised);
  if (!wnd || !name || !buf) return NoLookup(ws::kEFault);
  auto resolver = ServResolver;
  std::string n = name, p = proto ? proto : "";
  return d_->StartLookup(
      wnd, msg,
      [resolver, n, p](Impl::Lookup& out) {
        return resolver ? resolver(n, p, out.serv) : ws::kNoData;
      },
      nullptr, buf);
}

TAsyncHandle TThreadedWinsock::WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg,
                                                     const char* name, THostEnt* buf) {
  if (d_->startups == 0) return NoLookup(ws::kNotInitialised);
  if (!wnd || !name || !buf) return NoLookup(ws::kEFault);
  auto resolver = HostResolver;
  std::string n = name;
  return d_->StartLookup(
      wnd, msg,
      [resolver, n](Impl::Lookup& out) {
        return resolver ? resolver(n, out.host) : ws::kHostNotFound;
      },
      buf, nullptr);
}

int TThreadedWinsock::WSACancelAsyncRequest(TAsyncHandle handle) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  auto it = d_->lookups.find(handle);
  if (it == d_->lookups.end()) return Fail(ws::kEInval);
  {
    std::lock_guard lock(it->second->m);
    it->second->canceled = true;
  }
  d_->lookups.erase(it);
  return 0;
}
