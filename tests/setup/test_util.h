// Byte-level file helpers and test data for the setup tests.
#pragma once

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "setup/bytes.h"
#include "setup/wrap_error.h"
#include "tests/platform/temp_folder.h"

namespace wraptest {

inline wrap::Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  return wrap::Bytes(text.begin(), text.end());
}

inline void WriteFile(const std::string& path, const wrap::Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, wrap::Bytes(text.begin(), text.end()));
}

inline wrap::Bytes Random(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  wrap::Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Text with repeats near and far, and binary stretches between.
inline wrap::Bytes Mixed(std::size_t n, unsigned seed) {
  static const char* const words[] = {"the ",  "request ", "server ", "mail ",  "\r\n",
                                      "file ", "0x00ff ",  "page ",   "setup ", "launcher "};
  std::mt19937 rng(seed);
  wrap::Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    if (rng() % 8 == 0) {
      for (int i = 0, len = static_cast<int>(rng() % 300); i < len; ++i)
        out.push_back(static_cast<std::uint8_t>(rng() % 16 == 0 ? rng() : 0));
    } else {
      const std::string w = words[rng() % 10];
      out.insert(out.end(), w.begin(), w.end());
    }
  }
  out.resize(n);
  return out;
}

// The code of the EWrapError that `f` raises; 0 when it raises none.
template <class F>
int ErrorCode(F&& f) {
  try {
    f();
  } catch (const wrap::EWrapError& e) {
    return e.Code();
  }
  return 0;
}

}  // namespace wraptest
