#include <gtest/gtest.h>

#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

TEST(Base64, EncodesWithPaddingAndDecodesWithOrWithout) {
  for (const auto& [bytes, text] :
       {std::pair{"Man", "TWFu"}, {"Ma", "TWE="}, {"M", "TQ=="}, {"", ""}}) {
    EXPECT_EQ(Base64EncodeChunk(bytes), text);
    EXPECT_EQ(Base64DecodeLine(text), bytes);
  }
  // Leftover bits shorter than a byte give no byte.
  for (const auto& [text, bytes] :
       {std::pair{"TQ", "M"}, {"TWE", "Ma"}, {"TQ=", "M"}, {"T", ""}, {"====", ""}}) {
    EXPECT_EQ(Base64DecodeLine(text), bytes) << text;
  }
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

// Up to 300 bytes: lines longer than 255 characters decode whole too.
TEST(Base64, RoundTripsEveryLength) {
  for (std::size_t n = 0; n <= 300; ++n) {
    const std::string bytes = RandomBytes(n, static_cast<unsigned>(n));
    ASSERT_EQ(Base64DecodeLine(Base64EncodeChunk(bytes)), bytes) << n;
  }
}

// Our 57-byte lines decode with coreutils; its 76-character lines with ours.
TEST(Base64, CrossChecksWithCoreutils) {
  SKIP_WITHOUT_LINUX_PEER("coreutils base64");
  TempFolder dir;
  const std::string bytes = RandomBytes(100000 + 17, 42);
  std::string ours;
  for (std::size_t pos = 0; pos < bytes.size(); pos += 57) {
    ours += Base64EncodeChunk(std::string_view(bytes).substr(pos, 57)) + "\r\n";
  }
  PutFile(dir / "ours.b64", ours);
  ASSERT_EQ(RunCommand("tr -d '\\r' < " + Quote(dir / "ours.b64") + " | base64 -d > " + Quote(dir / "ours.bin")), 0);
  EXPECT_TRUE(GetFile(dir / "ours.bin") == bytes);

  PutFile(dir / "theirs.bin", bytes);
  ASSERT_EQ(RunCommand("base64 " + Quote(dir / "theirs.bin") + " > " + Quote(dir / "theirs.b64")), 0);
  std::string decoded;
  for (const std::string& line : SplitLines(GetFile(dir / "theirs.b64"))) decoded += Base64DecodeLine(line);
  EXPECT_TRUE(decoded == bytes);
}
