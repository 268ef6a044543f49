#include "mail/idna.h"

#include <windows.h>

#include <algorithm>

std::optional<std::string> DomainToAscii(std::string_view domain) {
  if (std::all_of(domain.begin(), domain.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 128; }))
    return std::string(domain);
  if (domain.find('\0') != std::string_view::npos || domain.size() > 1024) return std::nullopt;
  const int wide_size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, domain.data(),
                                            static_cast<int>(domain.size()), nullptr, 0);
  if (wide_size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, domain.data(), static_cast<int>(domain.size()),
                      wide.data(), wide_size);
  // IdnToAscii applies IDNA 2008 with the UTS #46 mapping when asked for
  // standard rules; it refuses what has no ASCII form.
  wchar_t out[1024];
  const int n = IdnToAscii(IDN_USE_STD3_ASCII_RULES, wide.c_str(), wide_size, out, 1024);
  if (n <= 0) return std::nullopt;
  std::string ascii;
  for (int i = 0; i < n; ++i) {
    if (out[i] >= 128) return std::nullopt;
    ascii += static_cast<char>(out[i]);
  }
  return ascii;
}
