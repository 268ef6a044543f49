// One private folder per fuzz process, made on first use, with a trailing "/".
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>

inline const std::string& FuzzFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/fuzz-tolvane-XXXXXX";
    if (!::mkdtemp(name)) std::abort();
    return std::string(name) + "/";
  }();
  return folder;
}
