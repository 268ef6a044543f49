// Conversions to UTF-8 against bytes known from the charsets' tables; the
// same on Linux (iconv) and Windows (code pages).
#include "mail/charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Converted(const char* charset, const std::string& bytes) {
  std::string out = "untouched";
  return CharsetToUtf8(charset, bytes, out) ? out : "failed: " + out;
}

TEST(Charset, SingleByteCodePagesGiveTheirCharacters) {
  EXPECT_EQ(Converted("KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4"),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
  EXPECT_EQ(Converted("windows-1252", "\x80 \x93q\x94"), "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D");
  EXPECT_EQ(Converted("iso-8859-2", "\xB1\xE8"), "\xC4\x85\xC4\x8D");  // ąč
  EXPECT_EQ(Converted("iso-8859-1", "\xA4\xE9"), "\xC2\xA4\xC3\xA9");
  EXPECT_EQ(Converted("ISO-8859-15", "\xA4"), "\xE2\x82\xAC");
  EXPECT_EQ(Converted("windows-1251", "\xC0\xFF"), "\xD0\x90\xD1\x8F");  // Ая
  EXPECT_EQ(Converted("koi8-r", ""), "");
}

TEST(Charset, MultiByteAndUtf16Text) {
  EXPECT_EQ(Converted("Shift_JIS", "\x93\xFA\x96\x7B"), "\xE6\x97\xA5\xE6\x9C\xAC");  // 日本
  EXPECT_EQ(Converted("utf-16le", std::string("A\0\xAC\x20", 4)), "A\xE2\x82\xAC");
  EXPECT_EQ(Converted("utf-16be", std::string("\0A\x20\xAC", 4)), "A\xE2\x82\xAC");
  EXPECT_EQ(Converted("utf-16", std::string("\xFE\xFF\0A", 4)), "A");
  EXPECT_EQ(Converted("utf-16", std::string("\xFF\xFE"
                                            "A\0",
                                            4)),
            "A");
  // No mark: the order of the machine (x86) as glibc's iconv takes it.
  EXPECT_EQ(Converted("utf-16", std::string("A\0", 2)), "A");
}

TEST(Charset, UnknownNamesAndBrokenBytesConvertNothing) {
  EXPECT_EQ(Converted("x-no-such-charset", "abc"), "failed: untouched");
  EXPECT_EQ(Converted("Shift_JIS", "ab\x93"), "failed: untouched");  // a lead byte alone
  EXPECT_EQ(Converted("utf-16le", "abc"), "failed: untouched");
  EXPECT_EQ(Converted("utf-16le", std::string("\0\xD8", 2)), "failed: untouched");
  // UTF-8 and ASCII are what the model holds: passed through as they are.
  EXPECT_EQ(Converted("US-ASCII", "caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(Converted("", "\xFF"), "\xFF");
}

}  // namespace
