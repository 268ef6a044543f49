// The binding: which layer is loaded, and the check before every call.
#include "net/winsock.h"
#include "platform/errors.h"
#include "platform/messages.h"

TagWinsock::TagWinsock() = default;

TagWinsock::~TagWinsock() { Unload(); }

void TagWinsock::Load() {
  std::unique_ptr<TWinsockLayer> layer = loader_ ? loader_() : SystemWinsockLayer();
  if (!layer) {
    layer_.reset();
    throw EWinsockDLLError(MessageText(msg::kWinsockNotFound));
  }
  layer_ = std::move(layer);
}

void TagWinsock::Unload() {
  layer_.reset();
  users_ = 0;
}

void TagWinsock::Acquire() {
  if (!Loaded()) Load();
  ++users_;
}

void TagWinsock::Release() {
  if (users_ > 0 && --users_ == 0) Unload();
}

void TagWinsock::SetLoader(TLoader loader) { loader_ = std::move(loader); }

void TagWinsock::GetProc(std::string_view name) const {
  if (!Loaded()) throw EWinsockDLLError(MessageText(msg::kWinsockNotLoaded));
  if (!layer_->Exports(name)) {
    std::string text = MessageText(msg::kFunctionNotFound);
    auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, name);
    throw EWinsockDLLError(text);
  }
}

TWinsockLayer& TagWinsock::Call(std::string_view name) const {
  GetProc(name);
  return *layer_;
}

std::uint32_t TagWinsock::inet_addr(const char* cp) { return Call("inet_addr").inet_addr(cp); }
TSocket TagWinsock::socket(int af, int type, int protocol) {
  return Call("socket").socket(af, type, protocol);
}
int TagWinsock::gethostname(char* name, int namelen) {
  return Call("gethostname").gethostname(name, namelen);
}
int TagWinsock::WSAStartup(std::uint16_t version, TWSAData* data) {
  return Call("WSAStartup").WSAStartup(version, data);
}
int TagWinsock::WSACleanup() { return Call("WSACleanup").WSACleanup(); }
int TagWinsock::WSAGetLastError() { return Call("WSAGetLastError").WSAGetLastError(); }
TAsyncHandle TagWinsock::WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                               const char* proto, TServEnt* buf) {
  return Call("WSAAsyncGetServByName").WSAAsyncGetServByName(wnd, msg, name, proto, buf);
}
TAsyncHandle TagWinsock::WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                               THostEnt* buf) {
  return Call("WSAAsyncGetHostByName").WSAAsyncGetHostByName(wnd, msg, name, buf);
}
int TagWinsock::WSACancelAsyncRequest(TAsyncHandle handle) {
  return Call("WSACancelAsyncRequest").WSACancelAsyncRequest(handle);
}

TagWinsock& Winsock() {
  static TagWinsock binding;
  return binding;
}
