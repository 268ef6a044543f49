#include <gtest/gtest.h>

#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"
#include "codecs_peers.h"

using namespace codecs_test;

TEST(Base64, EncodesWithPadding) {
  EXPECT_EQ(Base64EncodeChunk("Man"), "TWFu");
  EXPECT_EQ(Base64EncodeChunk("Ma"), "TWE=");
  EXPECT_EQ(Base64EncodeChunk("M"), "TQ==");
  EXPECT_EQ(Base64EncodeChunk(""), "");
  EXPECT_EQ(Base64EncodeChunk(std::string(57, '\xFF')).size(), 76u);
}

TEST(Base64, DecodesPaddedAndUnpaddedLines) {
  EXPECT_EQ(Base64DecodeLine("TQ=="), "M");
  EXPECT_EQ(Base64DecodeLine("TWE="), "Ma");
  EXPECT_EQ(Base64DecodeLine("TWFu"), "Man");
  EXPECT_EQ(Base64DecodeLine(""), "");
  // Leftover bits shorter than a byte give no byte.
  EXPECT_EQ(Base64DecodeLine("TQ"), "M");
  EXPECT_EQ(Base64DecodeLine("TWE"), "Ma");
  EXPECT_EQ(Base64DecodeLine("TQ="), "M");
  EXPECT_EQ(Base64DecodeLine("T"), "");
  EXPECT_EQ(Base64DecodeLine("===="), "");
  // A line longer than 255 characters decodes whole.
  const std::string bytes = RandomBytes(600, 1);
  EXPECT_EQ(Base64DecodeLine(Base64EncodeChunk(bytes)), bytes);
}

TEST(Base64, RefusesCharactersOutsideTheAlphabet) {
  for (const char* bad : {"TW Fu", "TWFu\r\n", "TWFu\n", "TW-u", "\x80\x81", "TWF\t"}) {
    try {
      Base64DecodeLine(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EFileError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character");
    }
  }
}

TEST(Base64, RoundTripsEveryLength) {
  for (std::size_t n = 0; n <= 300; ++n) {
    const std::string bytes = RandomBytes(n, static_cast<unsigned>(n));
    ASSERT_EQ(Base64DecodeLine(Base64EncodeChunk(bytes)), bytes) << n;
  }
}

// Our 57-byte lines decode with coreutils; its 76-character lines with ours.
TEST(Base64, CrossChecksWithCoreutils) {
  TempDir dir;
  const std::string bytes = RandomBytes(100000 + 17, 42);
  std::string ours;
  for (std::size_t pos = 0; pos < bytes.size(); pos += 57) {
    ours += Base64EncodeChunk(std::string_view(bytes).substr(pos, 57)) + "\r\n";
  }
  WriteFile(dir / "ours.b64", ours);
  ASSERT_EQ(RunCommand("tr -d '\\r' < " + Quote(dir / "ours.b64") + " | base64 -d > " + Quote(dir / "ours.bin")), 0);
  EXPECT_TRUE(ReadFile(dir / "ours.bin") == bytes);

  WriteFile(dir / "theirs.bin", bytes);
  ASSERT_EQ(RunCommand("base64 " + Quote(dir / "theirs.bin") + " > " + Quote(dir / "theirs.b64")), 0);
  std::string decoded;
  for (const std::string& line : SplitLines(ReadFile(dir / "theirs.b64"))) decoded += Base64DecodeLine(line);
  EXPECT_TRUE(decoded == bytes);
}
