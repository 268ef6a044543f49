#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mail/codecs.h"
#include "mail/process_hook.h"
#include "platform/errors.h"
#include "codecs_peers.h"

using namespace codecs_test;

namespace {

std::vector<std::string> Encode(const std::string& bytes) {
  std::stringstream stream(bytes, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<std::string> lines;
  TQuotedPrintable(stream, lines).Encode();
  return lines;
}

std::string Decode(const std::vector<std::string>& lines) {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  std::vector<std::string> copy = lines;
  TQuotedPrintable(stream, copy).Decode();
  return stream.str();
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(QuotedPrintableEncode, CutsAtTheLastBlankOfTheWindow) {
  std::string text(100, 'a');
  text[59] = ' ';  // the 60th character
  const Lines lines = Encode(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(59, 'a') + "=");
  EXPECT_EQ(lines[1], " " + std::string(40, 'a'));

  // A blank right after the 65-character window still counts.
  text.assign(80, 'b');
  text[65] = ' ';
  EXPECT_EQ(Encode(text), (Lines{std::string(65, 'b') + "=", " " + std::string(14, 'b')}));
  // A blank in the first position of the window does not.
  text.assign(80, 'c');
  text[0] = ' ';
  EXPECT_EQ(Encode(text)[0], " " + std::string(64, 'c') + "=");
}

TEST(QuotedPrintableEncode, CutsWordsWithoutBlanksAt65) {
  EXPECT_EQ(Encode(std::string(70, 'w')), (Lines{std::string(65, 'w') + "=", std::string(5, 'w')}));
  EXPECT_EQ(Encode(std::string(64, 'w')), (Lines{std::string(64, 'w')}));
  // Sixty-five characters left means a cut, and an empty last line.
  EXPECT_EQ(Encode(std::string(65, 'w')), (Lines{std::string(65, 'w') + "=", ""}));
  // The cut counts source characters; escapes make a line longer.
  const Lines wide = Encode(std::string(66, '\xE9'));
  EXPECT_EQ(wide[0].size(), 65u * 3 + 1);
  EXPECT_EQ(wide[1], "=E9");
}

TEST(QuotedPrintableEncode, EscapesControlsEqualsAndHighBytes) {
  EXPECT_EQ(Encode("a\tb=c\xE9"), (Lines{"a=09b=3Dc=E9"}));
  EXPECT_EQ(Encode("x\x01y\x7Fz"), (Lines{"x=01y\x7Fz"}));
  // Blanks inside a line stay blanks.
  EXPECT_EQ(Encode("a b  c"), (Lines{"a b  c"}));
}

// Relays strip white space at the end of a line: a blank or tab there is
// escaped so that it survives.
TEST(QuotedPrintableEncode, EscapesWhiteSpaceThatEndsALine) {
  EXPECT_EQ(Encode("trailing "), (Lines{"trailing=20"}));
  EXPECT_EQ(Encode("two  \r\nnext\t"), (Lines{"two =20", "next=09"}));
  EXPECT_EQ(Encode(" "), (Lines{"=20"}));
  EXPECT_EQ(Decode(Encode("trailing ")), "trailing \r\n");
}

// A zero byte is data like any other control byte.
TEST(QuotedPrintableEncode, KeepsZeroBytes) {
  EXPECT_EQ(Encode(std::string("a\0b\r\nc", 6)), (Lines{"a=00b", "c"}));
}

TEST(QuotedPrintableEncode, ParagraphsAndLineBreaks) {
  EXPECT_EQ(Encode(""), (Lines{""}));
  EXPECT_EQ(Encode("abc\r\n"), (Lines{"abc"}));
  EXPECT_EQ(Encode("a\n"), (Lines{"a=0A"}));
  EXPECT_EQ(Encode("a\r"), (Lines{"a=0D"}));
  EXPECT_EQ(Encode("\r\n"), (Lines{""}));
  EXPECT_EQ(Encode("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(Encode("a\n\rb"), (Lines{"a", "b"}));
  EXPECT_EQ(Encode("a\r\rb"), (Lines{"a", "b"}));
  EXPECT_EQ(Encode("a\n\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(Encode("a\r\n\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Encode("a\r\n\r\n"), (Lines{"a", ""}));
  EXPECT_EQ(Encode("a\r\n\r"), (Lines{"a", "=0D"}));
}

// However the bytes arrive, the lines are the same.
TEST(QuotedPrintableEncode, StreamingMatchesWholeInput) {
  std::string text;
  const std::string words[] = {"Gr\xC3\xBC\xC3\x9F" "e", "=", "\t", " ", "\r\n", "\n", "\r", "long-word-", "x"};
  std::mt19937 rng(9);
  for (int i = 0; i < 4000; ++i) text += words[rng() % std::size(words)];
  const Lines whole = Encode(text);
  for (std::size_t step : {1u, 2u, 3u, 7u, 64u, 1000u}) {
    Lines parts;
    TQuotedPrintableEncoder encoder([&](std::string_view line) { parts.emplace_back(line); });
    for (std::size_t pos = 0; pos < text.size(); pos += step) encoder.Write(std::string_view(text).substr(pos, step));
    encoder.Finish();
    EXPECT_EQ(parts, whole) << step;
  }
}

TEST(QuotedPrintableEncode, RefusesParagraphsBeyondTheLimit) {
  const std::string fits(kQPEncodeParagraphLimit, 'a');
  EXPECT_EQ(Encode(fits).size(), kQPEncodeParagraphLimit / kQPLineCut + 1);
  std::stringstream stream("first\r\n" + fits + "a", std::ios::in | std::ios::out | std::ios::binary);
  Lines lines;
  try {
    TQuotedPrintable(stream, lines).Encode();
    FAIL() << "no error";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "Paragraph is too large");
  }
  // What was produced before the error stays.
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "first");
}

TEST(QuotedPrintableDecode, LinesSoftBreaksAndEscapes) {
  EXPECT_EQ(Decode({"ab=", "cd"}), "abcd\r\n");
  EXPECT_EQ(Decode({"x=4y"}), "x=4y\r\n");
  EXPECT_EQ(Decode({"=ZZ"}), "=ZZ\r\n");
  EXPECT_EQ(Decode({"caf=e9 =C3=A9"}), "caf\xE9 \xC3\xA9\r\n");
  EXPECT_EQ(Decode({"a=4"}), "a=4\r\n");     // too short to be an escape
  EXPECT_EQ(Decode({"end="}), "end");         // soft break at the end of the list
  EXPECT_EQ(Decode({"="}), "");
  EXPECT_EQ(Decode({""}), "\r\n");
  EXPECT_EQ(Decode({}), "");
  EXPECT_EQ(Decode({"eof=1A", "next"}), "eof\x1Anext\r\n");
}

// An escaped "=" at the end of a line is data, not a soft break.
TEST(QuotedPrintableDecode, EscapedEqualsAtTheEndStaysData) {
  EXPECT_EQ(Decode({"a=3D", "b"}), "a=\r\nb\r\n");
  EXPECT_EQ(Decode(Encode("x = y =\r\nz")), "x = y =\r\nz\r\n");
}

TEST(QuotedPrintableDecode, LongLinesDecodeWhole) {
  const std::string line(1000, 'q');
  EXPECT_EQ(Decode({line}), line + "\r\n");
}

TEST(QuotedPrintableDecode, RefusesParagraphsBeyondTheLimit) {
  const std::string body(kQPDecodeParagraphLimit - 2, 'a');
  EXPECT_EQ(Decode({body}).size(), kQPDecodeParagraphLimit);
  EXPECT_EQ(Decode({body + "a=", "a="}).size(), kQPDecodeParagraphLimit);  // no line end
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  Lines lines = {"kept", body + "a"};
  try {
    TQuotedPrintable(stream, lines).Decode();
    FAIL() << "no error";
  } catch (const EError& e) {
    EXPECT_STREQ(e.what(), "Paragraph is too large");
  }
  EXPECT_EQ(stream.str(), "kept\r\n");
  // Escapes count as the byte they stand for.
  std::string escaped;
  for (int i = 0; i < 9000; ++i) escaped += "=41";
  EXPECT_EQ(Decode({escaped}), std::string(9000, 'A') + "\r\n");
}

TEST(QuotedPrintableDecode, DecodesAtTheCurrentPosition) {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  stream << "head:";
  Lines lines = {"body"};
  TQuotedPrintable(stream, lines).Decode();
  EXPECT_EQ(stream.str(), "head:body\r\n");
}

TEST(QuotedPrintable, QDecodeTextGivesTheFirstLine) {
  EXPECT_EQ(QDecodeText("Caf=E9"), "Caf\xE9");
  EXPECT_EQ(QDecodeText("one=0D=0Atwo"), "one");
  EXPECT_EQ(QDecodeText("soft="), "soft");
  EXPECT_EQ(QDecodeText(""), "");
}

TEST(QuotedPrintable, LetsTheInterfaceBreatheNowAndThen) {
  int calls = 0;
  SetProcessHook([&] { ++calls; });
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "a line of text with a few words in it\r\n";
  const auto start = std::chrono::steady_clock::now();
  const Lines lines = Encode(text);
  Decode(lines);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  SetProcessHook(nullptr);
  EXPECT_GT(calls, 0);
  // Never more often than every few milliseconds.
  EXPECT_LE(calls, ms / 5 + 1);
}

// Text we encode decodes with Python's quopri to the original bytes, with
// every line break as CR LF.
TEST(QuotedPrintable, CrossChecksWithPythonQuopri) {
  TempDir dir;
  std::mt19937 rng(5);
  std::string text;
  for (int para = 0; para < 300; ++para) {
    const std::size_t len = rng() % 400;
    for (std::size_t i = 0; i < len; ++i) {
      const unsigned r = rng() % 100;
      char c = r < 60 ? static_cast<char>('a' + rng() % 26)
               : r < 75 ? ' '
               : r < 80 ? '\t'
               : r < 85 ? '='
               : static_cast<char>(rng() & 0xFF);
      // CR and LF would be line breaks; the end-of-file mark 26 drops the
      // line end after it by design.
      if (c == '\r' || c == '\n' || c == '\x1A') c = '.';
      text += c;
    }
    text += "\r\n";
  }
  text += "last line ends in a blank ";
  std::string wire;
  for (const std::string& line : Encode(text)) wire += line + "\r\n";
  WriteFile(dir / "wire.qp", wire);
  ASSERT_EQ(RunCommand("/usr/bin/python3 -c 'import quopri,sys; quopri.decode(open(sys.argv[1],\"rb\"), "
                "open(sys.argv[2],\"wb\"))' " +
                Quote(dir / "wire.qp") + " " + Quote(dir / "python.bin")),
            0);
  const std::string python = ReadFile(dir / "python.bin");
  EXPECT_TRUE(python == text + "\r\n");
  EXPECT_TRUE(Decode(Encode(text)) == text + "\r\n");
}
