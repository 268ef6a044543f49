#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "codecs_peers.h"
#include "mail/codecs.h"
#include "platform/errors.h"

using namespace codecs_test;

TEST(UUEncode, LineLengthsFollowTheCount) {
  const std::string full = UUEncodeChunk(std::string(45, 'x'));
  EXPECT_EQ(full[0], 'M');
  EXPECT_EQ(full.size(), 61u);
  const std::string one = UUEncodeChunk("A");
  EXPECT_EQ(one[0], '!');
  EXPECT_EQ(one.size(), 3u);
  EXPECT_EQ(UUEncodeChunk(std::string(10, 'x')).size(), 15u);  // 14 characters after the count
  EXPECT_EQ(UUEncodeChunk(std::string(3, 'x')).size(), 6u);
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

TEST(UUBegin, RecognisesBeginLines) {
  EXPECT_TRUE(IsUUBeginLine("begin 644 report.txt"));
  // Ordinary text is text: the form is exactly "begin", mode, name.
  EXPECT_FALSE(IsUUBeginLine("BEGIN 600 x.bin"));
  EXPECT_FALSE(IsUUBeginLine("Begin 2024 with a plan:"));
  EXPECT_FALSE(IsUUBeginLine("begin 644"));
  EXPECT_FALSE(IsUUBeginLine("begin 64 x"));
  EXPECT_TRUE(IsUUBeginLine("begin 0644 report.txt"));
  EXPECT_FALSE(IsUUBeginLine("Begin here"));
  EXPECT_FALSE(IsUUBeginLine("begin 6"));
  EXPECT_FALSE(IsUUBeginLine("beginning of the text"));
  EXPECT_FALSE(IsUUBeginLine(""));

  EXPECT_EQ(UUBeginFileName("begin 644 report.txt"), "report.txt");
  EXPECT_EQ(UUBeginFileName("begin 0644 report.txt"), "report.txt");
  EXPECT_EQ(UUBeginFileName("begin 600 \"my file.txt\" x"), "my file.txt");
  EXPECT_EQ(UUBeginFileName("begin 600 \"unclosed"), "");
  EXPECT_EQ(UUBeginFileName("begin 600 a b"), "a");
  EXPECT_EQ(UUBeginFileName("begin 600"), "");
  EXPECT_EQ(UUBeginFileName("beg"), "");
}

// A file framed with our lines decodes with sharutils, and its output
// decodes with ours.
TEST(UUEncode, CrossChecksWithSharutils) {
  TempDir dir;
  const std::string bytes = RandomBytes(45 * 200 + 31, 3);
  std::string framed = "begin 600 data.bin\r\n";
  for (std::size_t pos = 0; pos < bytes.size(); pos += 45) {
    framed += UUEncodeChunk(std::string_view(bytes).substr(pos, 45)) + "\r\n";
  }
  framed += "`\r\nend\r\n";
  WriteFile(dir / "ours.uu", framed);
  ASSERT_EQ(RunCommand("uudecode -o " + Quote(dir / "ours.bin") + " " + Quote(dir / "ours.uu")), 0);
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == bytes);

  WriteFile(dir / "theirs.bin", bytes);
  ASSERT_EQ(RunCommand("uuencode " + Quote(dir / "theirs.bin") + " name.bin > " +
                       Quote(dir / "theirs.uu")),
            0);
  const auto lines = SplitLines(ReadFile(dir / "theirs.uu"));
  ASSERT_FALSE(lines.empty());
  ASSERT_TRUE(IsUUBeginLine(lines[0]));
  EXPECT_EQ(UUBeginFileName(lines[0]), "name.bin");
  std::string decoded;
  for (std::size_t i = 1; i < lines.size() && lines[i] != "end"; ++i)
    decoded += UUDecodeLine(lines[i]);
  EXPECT_TRUE(decoded == bytes);
}
