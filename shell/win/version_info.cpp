#include "shell/win/version_info.h"

#include <vector>

#include "app/version_texts.h"
#include "platform/windows_api.h"

#include <windows.h>

std::string FileVersionValue(const std::string& file, const std::string& langCharset,
                             const std::string& key) {
  const std::wstring path = WideText(file);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return kNoDataAvailable;
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return kNoDataAvailable;
  const std::wstring query = WideText("\\StringFileInfo\\" + langCharset + "\\" + key);
  void* value = nullptr;
  UINT length = 0;  // in characters, the terminator counted
  if (!VerQueryValueW(data.data(), query.c_str(), &value, &length) || !value)
    return kErrorRetrieving;
  if (length < 2) return kNoVersionInfo;
  const auto* text = static_cast<const wchar_t*>(value);
  std::wstring_view wide(text, length);
  while (!wide.empty() && wide.back() == L'\0') wide.remove_suffix(1);
  return Utf8Text(wide);
}

std::string ProgramVersionText(HINSTANCE__* module) {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 4);
  return VersionPrefix() + " " +
         FileVersionValue(Utf8Text(std::wstring_view(path, length)), "080904E4", "FileVersion");
}
