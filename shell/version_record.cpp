#include "shell/version_record.h"

#include <algorithm>
#include <cctype>

#ifndef TOLVANE_VERSION_MAJOR
#error "the build passes the project version"
#endif

namespace {

#define TOLVANE_STR2(x) #x
#define TOLVANE_STR(x) TOLVANE_STR2(x)

constexpr const char* kFileVersion =
    TOLVANE_STR(TOLVANE_VERSION_MAJOR) "." TOLVANE_STR(TOLVANE_VERSION_MINOR) "." TOLVANE_STR(
        TOLVANE_VERSION_PATCH) "." TOLVANE_STR(TOLVANE_VERSION_TWEAK);

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

const VersionRecord& ProgramVersionRecord() {
  static const VersionRecord record{
      true,
      "080904E4",
      {
          {"CompanyName", "The Tolvane developers"},
          {"FileDescription", "Tolvane: web pages and files by e-mail"},
          {"FileVersion", kFileVersion},
          {"InternalName", "tolvane"},
          {"LegalCopyright", kCopyrightLine},
          {"OriginalFilename", "tolvane"},
          {"ProductName", "Tolvane"},
          {"ProductVersion", kFileVersion},
          {"Comments", ""},
      }};
  return record;
}

std::string VersionLookup(const VersionRecord& record, const std::string& lang_charset,
                          const std::string& key) {
  if (!record.present) return kNoDataAvailable;
  // Names in the record match without regard to case, like the resource
  // look-up they stand for.
  if (!SameText(record.lang_charset, lang_charset)) return kErrorRetrieving;
  for (const auto& [name, value] : record.strings) {
    if (!SameText(name, key)) continue;
    // The stored length counts the terminator: below 2 means empty.
    if (value.size() + 1 < 2) return kNoVersionInfo;
    return value;
  }
  return kErrorRetrieving;
}
