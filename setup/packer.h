// Builds a launcher: compresses every file of a folder, writes the file list,
// the file time and the strings, and appends them to a copy of `wrap`.
#pragma once

#include <cstdint>
#include <string>

namespace wrap {

struct PackOptions {
  std::string launcher;  // the plain `wrap` (a packed one is stripped first)
  std::string folder;    // files to install, SETUP.EXE among them
  std::string output;
  std::string title;     // at most 49 bytes
  std::string question;  // at most 259 bytes
  std::string failed = "Setup failed.";
  std::uint64_t fileTime = 0;  // FILETIME given to the compressed files
  std::string icon;            // optional image file, carried as icon 1
};

// Throws EWrapError (errno from the file system, EINVAL with a reason for
// unusable input).
void Pack(const PackOptions& options);

// "1998-03-07T00:31:00Z" or "@<seconds since 1970>" to FILETIME; throws
// EWrapError(EINVAL) for anything else.
std::uint64_t ParseFileTime(const std::string& text);

}  // namespace wrap
