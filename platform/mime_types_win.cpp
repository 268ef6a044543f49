#include "platform/mime_types.h"

#include <windows.h>

#include "platform/windows_api.h"

// HKEY_CLASSES_ROOT is the user's classes over the machine's; each ".ext"
// key may carry "Content Type". Both are read here, the user's first, as
// Wine's HKEY_CLASSES_ROOT shows only the machine's.
std::string MimeTypeOfExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  // "\" would reach into another key.
  if (extension.empty() || extension.find_first_of("\\\0", 0, 2) != std::string_view::npos) {
    return {};
  }
  const std::wstring key = L"Software\\Classes\\." + WideText(extension);
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    wchar_t type[256];
    DWORD size = sizeof type;
    if (RegGetValueW(root, key.c_str(), L"Content Type", RRF_RT_REG_SZ, nullptr, type, &size) ==
            ERROR_SUCCESS &&
        size >= sizeof(wchar_t)) {
      return Utf8Text(std::wstring_view(type, size / sizeof(wchar_t) - 1));
    }
  }
  return {};
}
