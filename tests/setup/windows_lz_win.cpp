#include <windows.h>
// After windows.h, which it needs.
#include <lzexpand.h>

#include <filesystem>

#include "windows_lz.h"

namespace wraptest {

long WindowsLzCopy(const std::string& source, const std::string& target) {
  std::wstring from = std::filesystem::u8path(source).wstring();
  std::wstring to = std::filesystem::u8path(target).wstring();
  OFSTRUCT in{}, out{};
  const INT src = ::LZOpenFileW(from.data(), &in, OF_READ);
  if (src < 0) return src;
  const INT dst = ::LZOpenFileW(to.data(), &out, OF_CREATE);
  if (dst < 0) {
    ::LZClose(src);
    return dst;
  }
  const LONG copied = ::LZCopy(src, dst);
  ::LZClose(dst);
  ::LZClose(src);
  return copied;
}

std::string WindowsExpandedName(const std::string& path) {
  std::wstring from = std::filesystem::u8path(path).wstring();
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetExpandedNameW(from.data(), name) != 1) return {};
  const std::u8string leaf = std::filesystem::path(name).filename().u8string();
  return std::string(leaf.begin(), leaf.end());
}

}  // namespace wraptest
