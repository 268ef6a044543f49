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
  // Asked once with one slot; a larger phone book says how much it needs.
  std::vector<RASENTRYNAMEW> names(1);
  names[0].dwSize = sizeof(RASENTRYNAMEW);
  DWORD bytes = sizeof(RASENTRYNAMEW), count = 0;
  DWORD rc = f_->EnumEntries(nullptr, nullptr, names.data(), &bytes, &count);
  if (rc == ERROR_BUFFER_TOO_SMALL) {
    names.resize(bytes / sizeof(RASENTRYNAMEW) + 1);
    for (RASENTRYNAMEW& n : names) n.dwSize = sizeof(RASENTRYNAMEW);
    bytes = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAMEW));
    rc = f_->EnumEntries(nullptr, nullptr, names.data(), &bytes, &count);
  }
  if (rc != ERROR_SUCCESS) Fail("listing the phone book", rc);
  std::vector<std::string> out;
  for (DWORD i = 0; i < count && i < names.size(); ++i) out.push_back(Utf8Text(names[i].szEntryName));
  return out;
}

void* TRasApi::FindConnection(const std::string& entry) const {
  std::vector<RASCONNW> conns(1);
  conns[0].dwSize = sizeof(RASCONNW);
  DWORD bytes = sizeof(RASCONNW), count = 0;
  DWORD rc = f_->EnumConnections(conns.data(), &bytes, &count);
  if (rc == ERROR_BUFFER_TOO_SMALL) {
    conns.resize(bytes / sizeof(RASCONNW) + 1);
    for (RASCONNW& c : conns) c.dwSize = sizeof(RASCONNW);
    bytes = static_cast<DWORD>(conns.size() * sizeof(RASCONNW));
    rc = f_->EnumConnections(conns.data(), &bytes, &count);
  }
  if (rc != ERROR_SUCCESS) Fail("listing the open connections", rc);
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
