#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/mail/helpers.h"
#include "mail/codecs.h"
#include "mail/process_hook.h"
#include "platform/errors.h"

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

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST(QuotedPrintableEncode, CutsAtTheLastBlankOfTheWindow) {
  std::string text(100, 'a');
  text[59] = ' ';  // the 60th character
  text += "\r\n";
  const Lines lines = Encode(text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(59, 'a') + "=");
  EXPECT_EQ(lines[1], " " + std::string(40, 'a'));

  // A blank right after the 65-character window still counts.
  text.assign(80, 'b');
  text[65] = ' ';
  EXPECT_EQ(Encode(text + "\n"), (Lines{std::string(65, 'b') + "=", " " + std::string(14, 'b')}));
  // A blank in the first position of the window does not.
  text.assign(80, 'c');
  text[0] = ' ';
  EXPECT_EQ(Encode(text)[0], " " + std::string(64, 'c') + "=");
}

TEST(QuotedPrintableEncode, LinesStayWithin76Characters) {
  EXPECT_EQ(Encode(std::string(70, 'w') + "\n"),
            (Lines{std::string(65, 'w') + "=", std::string(5, 'w')}));
  EXPECT_EQ(Encode(std::string(64, 'w') + "\n"), (Lines{std::string(64, 'w')}));
  // Escapes count: 25 escaped bytes fill a line, the soft break makes 76.
  const Lines wide = Encode(std::string(66, '\xE9') + "\n");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0], Repeat("=E9", 25) + "=");
  EXPECT_EQ(wide[2], Repeat("=E9", 16));
  // A blank escaped at the very end must not push the line past 76.
  const Lines blank = Encode(std::string(75, 'x') + " \n");
  for (const std::string& line : blank) EXPECT_LE(line.size(), 76u) << line;
  EXPECT_EQ(Decode(blank), std::string(75, 'x') + " \r\n");
}

TEST(QuotedPrintableEncode, EscapesControlsEqualsAndHighBytes) {
  EXPECT_EQ(Encode("a\tb=c\xE9\n"), (Lines{"a=09b=3Dc=E9"}));
  EXPECT_EQ(Encode("x\x01y\x7Fz\n"), (Lines{"x=01y\x7Fz"}));
  // A zero byte is data like any other control byte.
  EXPECT_EQ(Encode(std::string("a\0b\r\nc\r\n", 8)), (Lines{"a=00b", "c"}));
  // Blanks inside a line stay blanks.
  EXPECT_EQ(Encode("a b  c\n"), (Lines{"a b  c"}));
}

// Relays strip white space at the end of a line: a blank or tab there is
// escaped so that it survives.
TEST(QuotedPrintableEncode, EscapesWhiteSpaceThatEndsALine) {
  EXPECT_EQ(Encode("trailing \r\n"), (Lines{"trailing=20"}));
  EXPECT_EQ(Encode("two  \r\nnext\t\r\n"), (Lines{"two =20", "next=09"}));
}

// CR LF, a lone LF and a lone CR are one line break each: a text file with
// Linux or old Mac line ends keeps its empty lines.
TEST(QuotedPrintableEncode, EveryKindOfLineBreakIsOneBreak) {
  EXPECT_EQ(Decode(Encode("a\n\nb\n")), "a\r\n\r\nb\r\n");
  EXPECT_EQ(Decode(Encode("a\r\rb\r")), "a\r\n\r\nb\r\n");
  EXPECT_EQ(Decode(Encode("a\r\n\r\nb\r\n")), "a\r\n\r\nb\r\n");
  EXPECT_EQ(Decode(Encode("a\n\r\nb\n")), "a\r\n\r\nb\r\n");
  EXPECT_EQ(Encode("a\n\nb\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Encode("\r\n"), (Lines{""}));
}

// Our decoder gives a line ending in the end-of-file mark 26 no line end,
// so a break after the mark must be written so that it survives.
TEST(QuotedPrintableEncode, ABreakAfterTheEndOfFileMarkSurvives) {
  EXPECT_EQ(Encode("a\x1A\nb\n"), (Lines{"a=1A=", "", "b"}));
  EXPECT_EQ(Decode(Encode("a\x1A\nb\n")), "a\x1A\r\nb\r\n");
  // Escapes fill the line to 76 with the mark: its soft break moves it on.
  const std::string full = std::string(24, '=') + "w\x1A\n";
  EXPECT_EQ(Encode(full), (Lines{Repeat("=3D", 24) + "w=", "=1A=", ""}));
  EXPECT_EQ(Decode(Encode("a\x1A")), "a\x1A");
}

// Data that does not end in a line break arrives without one (the round
// trip is in the cross-check with Python below).
TEST(QuotedPrintableEncode, DataWithoutAFinalBreakEndsInASoftBreak) {
  EXPECT_EQ(Encode(""), Lines{});
  EXPECT_EQ(Encode("ab"), (Lines{"ab="}));
  EXPECT_EQ(Encode(std::string(65, 'w')), (Lines{std::string(65, 'w') + "="}));
}

// However the bytes arrive, the lines are the same.
TEST(QuotedPrintableEncode, StreamingMatchesWholeInput) {
  std::string text;
  const std::string words[] = {
      "Gr\xC3\xBC\xC3\x9F"
      "e",
      "=",
      "\t",
      " ",
      "\r\n",
      "\n",
      "\r",
      "long-word-",
      "x"};
  std::mt19937 rng(9);
  for (int i = 0; i < 4000; ++i) text += words[rng() % std::size(words)];
  const Lines whole = Encode(text);
  for (std::size_t step : {1u, 2u, 3u, 7u, 64u, 1000u}) {
    Lines parts;
    TQuotedPrintableEncoder encoder([&](std::string_view line) { parts.emplace_back(line); });
    for (std::size_t pos = 0; pos < text.size(); pos += step)
      encoder.Write(std::string_view(text).substr(pos, step));
    encoder.Finish();
    EXPECT_EQ(parts, whole) << step;
  }
}

TEST(QuotedPrintableEncode, RefusesParagraphsBeyondTheLimit) {
  const std::string fits(kQPEncodeParagraphLimit, 'a');
  EXPECT_NO_THROW(Encode(fits));
  std::stringstream stream("first\r\n" + fits + "a",
                           std::ios::in | std::ios::out | std::ios::binary);
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
  EXPECT_EQ(Decode({"a=4"}), "a=4\r\n");  // too short to be an escape
  EXPECT_EQ(Decode({"end="}), "end");     // soft break at the end of the list
  EXPECT_EQ(Decode({"="}), "");
  EXPECT_EQ(Decode({""}), "\r\n");
  EXPECT_EQ(Decode({}), "");
  EXPECT_EQ(Decode({"eof=1A", "next"}), "eof\x1Anext\r\n");
  // An escaped "=" at the end of a line is data, not a soft break.
  EXPECT_EQ(Decode({"a=3D", "b"}), "a=\r\nb\r\n");
  EXPECT_EQ(Decode(Encode("x = y =\r\nz\r\n")), "x = y =\r\nz\r\n");
}

TEST(QuotedPrintableDecode, RefusesParagraphsBeyondTheLimit) {
  // A line just within the limit decodes whole.
  const std::string body(kQPDecodeParagraphLimit - 2, 'a');
  EXPECT_EQ(Decode({body}), body + "\r\n");
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

// How often the hook may run is ProcessHook's own test.
TEST(QuotedPrintable, LetsTheInterfaceBreatheNowAndThen) {
  int calls = 0;
  SetProcessHook([&] { ++calls; });
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "a line of text with a few words in it\r\n";
  Decode(Encode(text));
  SetProcessHook(nullptr);
  EXPECT_GT(calls, 0);
}

// Text we encode decodes with Python's quopri to the original bytes, with
// every line break (CR LF, LF or CR) as CR LF.
TEST(QuotedPrintable, CrossChecksWithPythonQuopri) {
  SKIP_WITHOUT_LINUX_PEER("Python's quopri");
  TempFolder dir;
  std::mt19937 rng(5);
  std::string text, expected;
  const char* const breaks[] = {"\r\n", "\n", "\r"};
  for (int para = 0; para < 300; ++para) {
    const std::size_t len = rng() % 400;
    for (std::size_t i = 0; i < len; ++i) {
      const unsigned r = rng() % 100;
      char c = r < 60   ? static_cast<char>('a' + rng() % 26)
               : r < 75 ? ' '
               : r < 80 ? '\t'
               : r < 85 ? '='
                        : static_cast<char>(rng() & 0xFF);
      if (c == '\r' || c == '\n') c = '.';
      text += c;
      expected += c;
    }
    text += breaks[rng() % 3];
    expected += "\r\n";
  }
  text += "last line ends in a blank ";
  expected += "last line ends in a blank ";
  std::string wire;
  for (const std::string& line : Encode(text)) {
    EXPECT_LE(line.size(), 76u);
    wire += line + "\r\n";
  }
  PutFile(dir / "wire.qp", wire);
  ASSERT_EQ(
      RunCommand("/usr/bin/python3 -c 'import quopri,sys; quopri.decode(open(sys.argv[1],\"rb\"), "
                 "open(sys.argv[2],\"wb\"))' " +
                 Quote(dir / "wire.qp") + " " + Quote(dir / "python.bin")),
      0);
  const std::string python = GetFile(dir / "python.bin");
  EXPECT_TRUE(python == expected);
  EXPECT_TRUE(Decode(Encode(text)) == expected);
}
