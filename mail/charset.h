// Text in other character sets, converted to the UTF-8 the model holds.
#pragma once

#include <string>
#include <string_view>

// True when `charset` names ISO-8859-1 (the model's other character set).
bool IsLatin1Charset(std::string_view charset);

// True when text in `charset` is already what the model holds: UTF-8,
// US-ASCII, or no charset at all.
bool IsUtf8Charset(std::string_view charset);

// `bytes` in `charset` converted to UTF-8 through iconv (Windows: the code
// page of that name). False, and `out` untouched, for a charset not known
// there or bytes that do not convert.
bool CharsetToUtf8(std::string_view charset, std::string_view bytes, std::string& out);
