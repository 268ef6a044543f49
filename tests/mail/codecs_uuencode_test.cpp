#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>

#include "tests/mail/helpers.h"
#include "mail/codecs.h"
#include "platform/errors.h"

using namespace mail_test;

// The count character, then four characters per three bytes or part of them.
TEST(UUEncode, LineLengthsFollowTheCount) {
  for (const auto& [n, count, size] : {std::tuple{45, 'M', 61u}, {1, '!', 3u}, {10, '*', 15u}}) {
    const std::string line = UUEncodeChunk(std::string(n, 'x'));
    EXPECT_EQ(line[0], count);
    EXPECT_EQ(line.size(), size) << n;
  }
  // Zero bits are the grave accent, never a blank that relays would strip.
  EXPECT_EQ(UUEncodeChunk(std::string(3, '\0')), "#`````");
  EXPECT_THROW(UUEncodeChunk(std::string(64, 'x')), std::length_error);
}

TEST(UUEncode, RoundTripsEveryCount) {
  for (std::size_t n = 0; n <= kUUMaxLineBytes; ++n) {
    const std::string bytes = RandomBytes(n, static_cast<unsigned>(n) + 7);
    ASSERT_EQ(UUDecodeLine(UUEncodeChunk(bytes)), bytes) << n;
  }
}

TEST(UUDecode, ToleratesShortAndBlankFilledLines) {
  EXPECT_EQ(UUDecodeLine(""), "");
  EXPECT_EQ(UUDecodeLine("`"), "");
  EXPECT_EQ(UUDecodeLine(" "), "");
  // Blanks read as zero, like the grave accent.
  EXPECT_EQ(UUDecodeLine("#    "), std::string(3, '\0'));
  // A count larger than the line: the missing characters are zero values.
  const std::string line = UUEncodeChunk(std::string(45, 'z'));
  const std::string cut = UUDecodeLine(line.substr(0, 20));
  ASSERT_EQ(cut.size(), 45u);
  EXPECT_EQ(cut.substr(0, 14), std::string(14, 'z'));
  EXPECT_EQ(UUDecodeLine("_"), std::string(63, '\0'));
  // Trailing characters beyond the count are ignored.
  EXPECT_EQ(UUDecodeLine(UUEncodeChunk("abc") + "checksum"), "abc");
}

TEST(UUDecode, RefusesCharactersOutsideTheAlphabet) {
  for (const char* bad : {"a", "#abc", "\x7F", "!\x01\x02"}) {
    try {
      UUDecodeLine(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EFileError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character");
    }
  }
}

// Ordinary text is text: the form is exactly "begin", mode, name.
TEST(UUBegin, RecognisesBeginLinesAndTheirFileName) {
  for (const char* text : {"BEGIN 600 x.bin", "Begin 2024 with a plan:", "begin 644", "begin 64 x",
                           "Begin here", "begin 6", "beginning of the text", ""}) {
    EXPECT_FALSE(IsUUBeginLine(text)) << text;
  }
  for (const auto& [line, name] : {std::pair{"begin 644 report.txt", "report.txt"},
                                   {"begin 0644 report.txt", "report.txt"},
                                   {"begin 600 \"my file.txt\" x", "my file.txt"},
                                   {"begin 600 a b", "a"}}) {
    EXPECT_TRUE(IsUUBeginLine(line)) << line;
    EXPECT_EQ(UUBeginFileName(line), name);
  }
  for (const char* line : {"begin 600 \"unclosed", "begin 600", "beg"}) {
    EXPECT_EQ(UUBeginFileName(line), "") << line;
  }
}

// A file framed with our lines decodes with sharutils, and its output
// decodes with ours.
TEST(UUEncode, CrossChecksWithSharutils) {
  SKIP_WITHOUT_LINUX_PEER("sharutils uuencode");
  TempFolder dir;
  const std::string bytes = RandomBytes(45 * 200 + 31, 3);
  std::string framed = "begin 600 data.bin\r\n";
  for (std::size_t pos = 0; pos < bytes.size(); pos += 45) {
    framed += UUEncodeChunk(std::string_view(bytes).substr(pos, 45)) + "\r\n";
  }
  framed += "`\r\nend\r\n";
  PutFile(dir / "ours.uu", framed);
  ASSERT_EQ(RunCommand("uudecode -o " + Quote(dir / "ours.bin") + " " + Quote(dir / "ours.uu")), 0);
  EXPECT_TRUE(GetFile(dir / "ours.bin") == bytes);

  PutFile(dir / "theirs.bin", bytes);
  ASSERT_EQ(RunCommand("uuencode " + Quote(dir / "theirs.bin") + " name.bin > " +
                       Quote(dir / "theirs.uu")),
            0);
  const auto lines = SplitLines(GetFile(dir / "theirs.uu"));
  ASSERT_FALSE(lines.empty());
  ASSERT_TRUE(IsUUBeginLine(lines[0]));
  EXPECT_EQ(UUBeginFileName(lines[0]), "name.bin");
  std::string decoded;
  for (std::size_t i = 1; i < lines.size() && lines[i] != "end"; ++i)
    decoded += UUDecodeLine(lines[i]);
  EXPECT_TRUE(decoded == bytes);
}
