#include "platform/autostart.h"

#include <windows.h>

#include "platform/errors.h"
#include "platform/windows_api.h"

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// "org.tolvane.Tolvane" -> "Tolvane": the name users see in the list of
// programs that start with Windows.
std::wstring ValueName(const std::string& appId) {
  const auto dot = appId.rfind('.');
  return WideText(dot == std::string::npos ? appId : appId.substr(dot + 1));
}

std::string ErrorText(LSTATUS status) {
  wchar_t buf[512];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(status), 0, buf, 512, nullptr);
  std::string text = Utf8Text(std::wstring_view(buf, n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "Windows error " + std::to_string(status) : text;
}

}  // namespace

bool AutostartEnabled(const std::string& appId) {
  return RegGetValueW(HKEY_CURRENT_USER, kRunKey, ValueName(appId).c_str(), RRF_RT_ANY, nullptr,
                      nullptr, nullptr) == ERROR_SUCCESS;
}

void EnableAutostart(const std::string& appId, const std::string& program) {
  // Quoted, so that a folder with blanks is not cut into a program and its
  // arguments; with the system's own separators.
  std::wstring path = WideText(program);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  const std::wstring command = L"\"" + path + L"\" /s";
  const auto bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
  const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, ValueName(appId).c_str(),
                                         REG_SZ, command.c_str(), bytes);
  if (status != ERROR_SUCCESS) {
    throw EFileError("Cannot write the Run key value for \"" + program +
                     "\": " + ErrorText(status));
  }
}

void DisableAutostart(const std::string& appId) {
  const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, ValueName(appId).c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    throw EFileError("Cannot remove the Run key value: " + ErrorText(status));
  }
}
