// Windows' own SZDD expansion (lz32), kept apart from the launcher's
// headers: <windows.h> renames GetExpandedName.
#pragma once

#include <string>

namespace wraptest {

// LZOpenFileW and LZCopy from source to target; the bytes written, or a
// negative LZERROR_ code.
long WindowsLzCopy(const std::string& source, const std::string& target);
// GetExpandedNameW's name for the file at path (its last component only),
// or empty when it fails.
std::string WindowsExpandedName(const std::string& path);

}  // namespace wraptest
