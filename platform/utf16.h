// UTF-8, as everything inside holds text, to and from the UTF-16 of the
// Windows API. Windows only: nothing else needs it.
#pragma once

#include <string>
#include <string_view>

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Lone surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
