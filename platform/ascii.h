// Case folding of ASCII letters only: header names, extensions and schemes
// are ASCII, and other bytes (UTF-8 included) must pass unchanged whatever
// the locale.
#pragma once

#include <string>
#include <string_view>

inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

inline std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}
