#include "mail/charset.h"

#include "platform/ascii.h"

bool IsLatin1Charset(std::string_view charset) {
  const std::string c = AsciiLower(charset);
  return c == "iso-8859-1" || c == "iso8859-1" || c == "iso_8859-1" || c == "latin1" ||
         c == "latin-1" || c == "l1";
}

bool IsUtf8Charset(std::string_view charset) {
  const std::string c = AsciiLower(charset);
  return c.empty() || c == "utf-8" || c == "utf8" || c == "us-ascii" || c == "ascii";
}
