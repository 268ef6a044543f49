// The Windows API boundary (Windows build only): UTF-8 inside, UTF-16
// outside, and Win32 error codes as the launcher's errno values.
#pragma once

#include <string>

namespace wrap {

// Invalid sequences become U+FFFD.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// The errno value closest to a GetLastError code (EINVAL for the rest).
int ErrnoFromWin32(unsigned long error);

}  // namespace wrap
