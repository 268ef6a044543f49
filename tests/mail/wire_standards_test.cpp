// What today's receivers insist on: dates and ids, labelled and encoded
// non-ASCII text, safe caller headers, short lines; and reading the forms
// other mail programs write.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "mail/encoder.h"
#include "mail/headers.h"
#include "mail/idna.h"
#include "mail/message.h"
#include "mail/stamp.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

namespace {

std::string HeaderBlock(const std::string& wire) { return wire.substr(0, wire.find("\r\n\r\n")); }

// Every header line is ASCII and within 78 characters.
void ExpectShortAsciiHeaders(const std::string& wire) {
  for (const std::string& line : Lines(HeaderBlock(wire) + "\r\n")) {
    EXPECT_LE(line.size(), 78u) << line;
    for (unsigned char c : line) EXPECT_LT(c, 128) << line;
  }
}

}  // namespace

TEST(WireStandards, EveryStampHasADateAndAFreshMessageId) {
  TmsMessage m;
  Request(m);
  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i) {
    StampDateAndMessageId(m);
    ASSERT_EQ(m.Headers().size(), 2u);  // replaced, never piled up
    ids.insert(GetHeaderValue(m.Headers(), "Message-ID"));
  }
  EXPECT_EQ(ids.size(), 1000u);
  EXPECT_TRUE(std::regex_match(*ids.begin(), std::regex("<[0-9a-f]+\\.[0-9a-f]+@example\\.org>")));
  const std::string date = GetHeaderValue(m.Headers(), "Date");
  EXPECT_TRUE(std::regex_match(
      date, std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] [A-Z][a-z]{2} 20[0-9]{2} "
                       "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}")))
      << date;
  EXPECT_NE(HeaderBlock(Encode(m)).find("\r\nDate: " + date), std::string::npos);
  EXPECT_TRUE(NewMessageId("no domain").ends_with("@localhost>"));
}

// "Your e-mail address" as people type it: strict servers refuse a MAIL
// FROM that holds a name, and a From: must parse.
TEST(WireStandards, TypedSenderGivesABareEnvelopeAndANamedFrom) {
  TmsMessage m;
  Request(m);
  m.Sender().SetAddress("J\xC3\xB6rg M\xC3\xBCller <jm@example.org>");
  EXPECT_EQ(m.Sender().Address(), "jm@example.org");
  std::string from = Lines(Encode(m))[0];
  EXPECT_TRUE(from.starts_with("From:     =?utf-8?")) << from;
  EXPECT_TRUE(from.ends_with("?= <jm@example.org>")) << from;
  EXPECT_EQ(Decode(Encode(m))->Sender().Name(), "J\xC3\xB6rg M\xC3\xBCller");
  // A name typed before does not outlive the next address.
  m.Sender().SetAddress("other@example.org");
  EXPECT_EQ(Lines(Encode(m))[0], "From:      <other@example.org>");
}

// Message ids and request hosts go in their IDNA form: a header or a
// request line holds ASCII only, and a percent-encoded host resolves nowhere.
TEST(WireStandards, DomainsTakeTheirIdnaForm) {
  EXPECT_EQ(DomainToAscii("B\303\274cher.example"), "xn--bcher-kva.example");
  // Non-transitional: the sharp s stays a letter of its own, not "ss".
  EXPECT_EQ(DomainToAscii("stra\303\237e.de"), "xn--strae-oqa.de");
  EXPECT_EQ(DomainToAscii("Mail.Example.ORG"), "Mail.Example.ORG");
  EXPECT_EQ(DomainToAscii("b\xC3\xBC\xFF.example"), std::nullopt);
  EXPECT_TRUE(
      NewMessageId("j\303\266rg@b\303\274cher.example").ends_with("@xn--bcher-kva.example>"));
  EXPECT_TRUE(NewMessageId("a@b\xC3\xBC\xFF.example").ends_with("@localhost>"));
}

TEST(WireStandards, NonAsciiBodyIsLabelledUtf8) {
  TmsMessage m;
  Request(m);
  m.Body() = {"J\xC3\xB6rg"};
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(lines[4], "Content-Type: text/plain; charset=\"utf-8\"");
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: quoted-printable");
  EXPECT_EQ(lines[7], "J=C3=B6rg");
  // With 8BITMIME offered it may travel as it is.
  m.Allow8Bit = true;
  lines = Lines(Encode(m));
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: 8bit");
  EXPECT_EQ(lines[7], "J\xC3\xB6rg");
  // An explicit ISO-8859-1 stays, quoted-printable.
  m.CharSet = csISO8859;
  m.Body() = {"Caf\xE9", "x"};
  lines = Lines(Encode(m));
  EXPECT_EQ(lines[4], "Content-Type: text/plain; charset=\"iso-8859-1\"");
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: quoted-printable");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.end()),
            (std::vector<std::string>{"Caf=E9", "x"}));
}

TEST(WireStandards, HeaderLinesAreAsciiAndShort) {
  TmsMessage m;
  Request(m);
  std::string subject;
  while (subject.size() < 250) subject += "\xC3\xA9t\xC3\xA9 ";
  m.SetSubject(subject);
  m.Sender().SetName(std::string(30, 'J') + " \xC3\xB6 " + std::string(40, 'M'));
  m.Body() = {"x"};
  ExpectShortAsciiHeaders(Encode(m));
  const auto back = Decode(Encode(m));
  EXPECT_EQ(back->Subject(), m.Subject());
  EXPECT_EQ(back->Sender().Name(), m.Sender().Name());
}

TEST(WireStandards, CallerHeadersCannotBreakTheHeaderBlock) {
  TmsMessage m;
  Request(m);
  m.Body() = {"x"};
  m.Headers() = {"X-One: a", "", "X-Two: b\nc\r\n\r\n", "X-Three: d"};
  const std::vector<std::string> lines = Lines(HeaderBlock(Encode(m)) + "\r\n");
  const std::vector<std::string> expected = {
      "X-One: a", "X-Two: b", " c", "X-Three: d", "Subject:  " + kSubject, "MIME-Version: 1.0"};
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 8), expected);
  m.Headers() = {"not a header line"};
  EXPECT_THROW(Encode(m), EMessageError);
  // Text beyond ASCII goes out in encoded words (what they decode to is
  // checked against Python's email package).
  m.Headers() = {"X-Note: Gr\xC3\xBC\xC3\x9F" "e " + std::string(80, 'x')};
  ExpectShortAsciiHeaders(Encode(m));
}

// A lone CR or LF in a body entry (a template saved with Linux line ends)
// goes out as CR LF.
TEST(WireStandards, BodyLineEndsAreCrLf) {
  TmsMessage m;
  Request(m);
  m.Body() = {"BEGIN\nSEND x\rEND"};
  const std::string wire = Encode(m);
  EXPECT_TRUE(wire.ends_with("\r\n\r\nBEGIN\r\nSEND x\r\nEND\r\n"));
  for (std::size_t i = 0; i < wire.size(); ++i) {
    const bool lone =
        (wire[i] == '\n' && wire[i - 1] != '\r') || (wire[i] == '\r' && wire[i + 1] != '\n');
    EXPECT_FALSE(lone) << i;
  }
}

TEST(WireStandards, FileNamesTravelInRfc2231AndEncodedWords) {
  TmsMessage m;
  Request(m);
  m.Body() = {"x"};
  const std::string name = "na\xC3\xAFve " + std::string(60, 'x') + ".pdf";
  m.Attachments().Add(Att(name, "%PDF"));
  const std::string wire = Encode(m);
  EXPECT_NE(wire.find(" filename*0*=utf-8''na%C3%AFve%20xx"), std::string::npos) << wire;
  EXPECT_NE(wire.find(" name=\"=?utf-8?B?"), std::string::npos);
  EXPECT_EQ(Decode(wire)->Attachments()[0].FileName(), name);
}

TEST(WireStandards, DecoderReadsWhatOtherProgramsWrite) {
  const auto m = Decode(
      "MIME-Version: 1.0\r\nX-Priority: 1 (Highest)\r\n"
      "Subject: " +
      std::string(250, 's') +
      " =?utf-8?B?w6nDqcOp?=\r\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b  \r\nContent-Type: text/plain; charset=windows-1252\r\n\r\n\x80 5\r\n"
      "--b\t\r\nContent-Type: application/pdf;\r\n name*0*=iso-8859-1''r%E9;\r\n "
      "name*1=\"sum\\\"e.pdf\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"
      "--b\r\nContent-Type: text/plain; name=\"=?utf-8?Q?caf=C3=A9?=.txt\"\r\n\r\nx\r\n--b-- \r\n");
  EXPECT_EQ(m->Priority, ptHigh);
  // Decoded, then cut on a character boundary.
  EXPECT_EQ(m->Subject(), std::string(250, 's') + " \xC3\xA9\xC3\xA9");
  EXPECT_EQ(m->Body(), (std::vector<std::string>{"\xE2\x82\xAC 5"}));
  EXPECT_EQ(Parts(m->Attachments()), (std::vector<std::string>{
                                         "r\xC3\xA9sum\"e.pdf, application/pdf: %PDF",
                                         "caf\xC3\xA9.txt, text/plain: x"}));
}

TEST(WireStandards, MalformedEncodedWordsLeaveTheMessageReadable) {
  const auto m = Decode(
      "MIME-Version: 1.0\r\nFrom: =?utf-8?B?!!?= <a@x>\r\nSubject: =?utf-8?B?not "
      "base64?=\r\n\r\nbody\r\n");
  EXPECT_EQ(m->Subject(), "=?utf-8?B?not base64?=");
  EXPECT_EQ(m->Sender().Address(), "a@x");
  EXPECT_EQ(m->Body(), (std::vector<std::string>{"body"}));
}
