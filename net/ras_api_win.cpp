#include "net/ras_api_win.h"

#include <windows.h>

#include <ras.h>
#include <raserror.h>

#include "platform/errors.h"
#include "platform/windows_api.h"

struct TRasApi::Functions {
  decltype(&RasEnumEntriesW) EnumEntries = nullptr;
  decltype(&RasDialW) Dial = nullptr;
  decltype(&RasGetConnectStatusW) GetConnectStatus = nullptr;
  decltype(&RasHangUpW) HangUp = nullptr;
  decltype(&RasEnumConnectionsW) EnumConnections = nullptr;
};

namespace {

template <class F>
void Bind(HMODULE module, const std::string& dll, const char* name, F& f) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!f) throw EError("Dial-up: " + dll + " has no " + name);
}

[[noreturn]] void Fail(const std::string& what, DWORD code) {
  throw EError("Dial-up: " + what + " failed: RAS error no " + std::to_string(code));
}

// A RAS list: asked once with one slot; a longer list says how many bytes
// it needs and is asked again. A new vector rather than a resized one: GCC
// 12 at -O3 takes growing a one-element vector for an overrun.
template <class Item, class Call>
std::vector<Item> SizedList(Call call, DWORD& count, const char* what) {
  std::vector<Item> items(1);
  items[0].dwSize = sizeof(Item);
  DWORD bytes = sizeof(Item);
  DWORD rc = call(items.data(), &bytes, &count);
  if (rc == ERROR_BUFFER_TOO_SMALL) {
    items = std::vector<Item>(bytes / sizeof(Item) + 1);
    for (Item& item : items) item.dwSize = sizeof(Item);
    bytes = static_cast<DWORD>(items.size() * sizeof(Item));
    rc = call(items.data(), &bytes, &count);
  }
  if (rc != ERROR_SUCCESS) Fail(what, rc);
  return items;
}

}  // namespace

TRasApi::TRasApi(const std::wstring& dll) : f_(std::make_unique<Functions>()) {
  const std::string name = Utf8Text(dll);
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) throw EError("Dial-up is not available: " + name + " cannot be loaded");
  module_ = module;
  try {
    Bind(module, name, "RasEnumEntriesW", f_->EnumEntries);
    Bind(module, name, "RasDialW", f_->Dial);
    Bind(module, name, "RasGetConnectStatusW", f_->GetConnectStatus);
    Bind(module, name, "RasHangUpW", f_->HangUp);
    Bind(module, name, "RasEnumConnectionsW", f_->EnumConnections);
  } catch (...) {
    FreeLibrary(module);
    throw;
  }
}

TRasApi::~TRasApi() { FreeLibrary(static_cast<HMODULE>(module_)); }

std::vector<std::string> TRasApi::Entries() const {
  DWORD count = 0;
  const auto names = SizedList<RASENTRYNAMEW>(
      [this](RASENTRYNAMEW* items, DWORD* bytes, DWORD* n) {
        return f_->EnumEntries(nullptr, nullptr, items, bytes, n);
      },
      count, "listing the phone book");
  std::vector<std::string> out;
  for (DWORD i = 0; i < count && i < names.size(); ++i) out.push_back(Utf8Text(names[i].szEntryName));
  return out;
}

void* TRasApi::FindConnection(const std::string& entry) const {
  DWORD count = 0;
  const auto conns = SizedList<RASCONNW>(
      [this](RASCONNW* items, DWORD* bytes, DWORD* n) { return f_->EnumConnections(items, bytes, n); },
      count, "listing the open connections");
  const std::wstring wide = WideText(entry);
  for (DWORD i = 0; i < count && i < conns.size(); ++i) {
    if (_wcsicmp(conns[i].szEntryName, wide.c_str()) != 0) continue;
    RASCONNSTATUSW status{};
    status.dwSize = sizeof(status);
    if (f_->GetConnectStatus(conns[i].hrasconn, &status) == ERROR_SUCCESS &&
        status.rasconnstate == RASCS_Connected)
      return conns[i].hrasconn;
  }
  return nullptr;
}

void* TRasApi::Dial(const std::string& entry) const {
  const std::wstring wide = WideText(entry);
  if (wide.size() > RAS_MaxEntryName) throw EError("Dial-up: the entry name \"" + entry + "\" is too long");
  RASDIALPARAMSW params{};
  params.dwSize = sizeof(params);
  wide.copy(params.szEntryName, wide.size());
  // Empty user and password: the credentials saved with the entry.
  HRASCONN conn = nullptr;
  const DWORD rc = f_->Dial(nullptr, nullptr, &params, 0, nullptr, &conn);
  if (rc != ERROR_SUCCESS) {
    // A failed dial can still hold a handle that must be released.
    if (conn) HangUp(conn);
    Fail("dialling \"" + entry + "\"", rc);
  }
  return conn;
}

void TRasApi::HangUp(void* connection) const {
  HRASCONN conn = static_cast<HRASCONN>(connection);
  if (f_->HangUp(conn) != ERROR_SUCCESS) return;
  // The port closes after the call returns; a new dial before then fails.
  // Bounded, so that a service that never reports it does not hold us.
  for (int i = 0; i < 30; ++i) {
    RASCONNSTATUSW status{};
    status.dwSize = sizeof(status);
    if (f_->GetConnectStatus(conn, &status) == ERROR_INVALID_HANDLE) return;
    Sleep(100);
  }
}
