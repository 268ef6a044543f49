// The program's own version record: the standard version keys, published
// under one language and code page, fixed at build time from the project
// version.
#pragma once

#include <map>
#include <string>

#include "app/version_texts.h"

struct VersionRecord {
  bool present = true;       // false: the program carries no record
  std::string lang_charset;  // eight hex digits, e.g. "080904E4"
  std::map<std::string, std::string> strings;
};

const VersionRecord& ProgramVersionRecord();

// The outcome of a look-up of `key` under `lang_charset`, as the version
// label shows it: the value, or one of the three fixed failure texts.
std::string VersionLookup(const VersionRecord& record, const std::string& lang_charset,
                          const std::string& key);
