// The boundary of the Windows API: our UTF-8 text as the UTF-16 it takes,
// and its error codes as the C library's error numbers, so that a failure
// reads the same on every system. Windows only; no <windows.h> here.
#pragma once

#include <string>
#include <string_view>

// Bytes that are not UTF-8 become U+FFFD.
std::wstring WideText(std::string_view utf8);
std::string Utf8Text(std::wstring_view wide);

// The errno value nearest a GetLastError code (EIO for one with no match).
int ErrnoFromSystemError(unsigned long code);
