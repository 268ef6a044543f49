#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "mail/encoder.h"
#include "mail/message.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

namespace {

std::string BoundaryOf(const std::string& wire, int nth = 0) {
  static const std::regex re("boundary=\"([^\"]*)\"");
  auto it = std::sregex_iterator(wire.begin(), wire.end(), re);
  std::advance(it, nth);
  return (*it)[1];
}

}  // namespace

TEST(Encoder, RequestMailByteForByte) {
  TmsMessage m;
  Request(m);
  EXPECT_EQ(Encode(m), Join({"From:      <" + kSender + ">", "To:        <" + kServer + ">",
                             "Subject:  " + kSubject, "MIME-Version: 1.0",
                             "Content-Type: text/plain; charset=\"us-ascii\"",
                             "Content-Transfer-Encoding: 7bit", "", kBody}));
}

// Request robots read the raw body: a request line goes as it is up to the
// 998 octets a line may hold, and quoted-printable only beyond.
TEST(Encoder, RequestLinesGoAsTheyAreUpTo998Octets) {
  TmsMessage m;
  Request(m);
  std::string line = "GET http://example.org/?a=b&c=" + std::string(960, 'a');
  line += std::string(998 - line.size() - 2, 'z') + "=?";
  m.Body()[0] = line;
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.end()),
            std::vector<std::string>{line});

  m.Body()[0] = line + "x";
  lines = Lines(Encode(m));
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: quoted-printable");
  EXPECT_EQ(lines[6], "");
  // Cut at the blank; the blank starts the next line.
  EXPECT_EQ(lines[7], "GET=");
  EXPECT_TRUE(lines.back().ends_with("z=3D?x")) << lines.back();
  EXPECT_EQ(m.Body()[0], line + "x");  // the message is not changed
}

TEST(Encoder, RequestMailWithOneAttachmentByteForByte) {
  TmsMessage m;
  Request(m);
  m.Attachments().Add(Att("C:\\x\\a.txt", "first line\r\nsecond = line\r\n"));
  const std::string wire = Encode(m);
  const std::string D = BoundaryOf(wire);
  EXPECT_TRUE(std::regex_match(D, std::regex("[0-8]{8}"))) << D;
  EXPECT_EQ(wire, Join({"From:      <" + kSender + ">",
                        "To:        <" + kServer + ">",
                        "Subject:  " + kSubject,
                        "MIME-Version: 1.0",
                        "Content-Type: multipart/mixed; boundary=\"" + D + "\"",
                        "",
                        "This is a multipart message in MIME format",
                        "",
                        "--" + D,
                        "Content-Type: text/plain; charset=\"us-ascii\"",
                        "Content-Transfer-Encoding: 7bit",
                        "",
                        kBody,
                        "",
                        "--" + D,
                        "Content-Type: text/plain; name=\"a.txt\"",
                        "Content-Transfer-Encoding: Quoted-Printable",
                        "Content-Disposition: attachment; filename=\"a.txt\"",
                        "",
                        "first line",
                        "second =3D line",
                        "",
                        "--" + D + "--"}));
}

TEST(Encoder, HeaderOrderPaddingAndAddressLists) {
  TmsMessage m;
  m.Sender() = TmsMailAddress("me@x.org", "J. Smith");
  m.Recipients().AddAddress("a@x", "Ann");
  m.Recipients().AddAddress("b@x", "B. \"Bee\" B");
  m.Recipients().AddAddress("c@x", "");
  m.CC().AddAddress("d@x", "D.");
  m.BCC().AddAddress("secret@x", "");
  m.ReturnReceipt = true;
  m.Priority = ptHigh;
  m.Headers() = {"Subject: old", "X-Mailer: test", "Content-Type: text/html", "\tcharset=x",
                 "Comments: kept"};
  m.Body().push_back("b");
  std::vector<std::string> lines = Lines(Encode(m));
  std::vector<std::string> expected = {"From:     \"J. Smith\" <me@x.org>",
                                       "To:       Ann <a@x>,",
                                       "          \"B. \\\"Bee\\\" B\" <b@x>,",
                                       "           <c@x>",
                                       "CC:       \"D.\" <d@x>",
                                       "Return-Receipt-To: <me@x.org>",
                                       "X-Priority: 1",
                                       "X-Mailer: test",
                                       "Comments: kept",
                                       "MIME-Version: 1.0"};
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10), expected);
  // The standard headers left the message; BCC never reaches the wire.
  EXPECT_EQ(m.Headers(), (std::vector<std::string>{"X-Mailer: test", "Comments: kept"}));
  for (const auto& l : lines) EXPECT_EQ(l.find("secret"), std::string::npos);

  m.Priority = ptLow;
  m.ReturnReceipt = false;
  lines = Lines(Encode(m));
  EXPECT_EQ(lines[5], "X-Priority: 5");
}

// Long address lists and subjects are folded, never cut: every mailbox
// that the envelope names stays in the header.
TEST(Encoder, LongHeadersAreFoldedNotCut) {
  TmsMessage m;
  m.Sender().SetAddress("a@b");
  const std::string mailbox = std::string(240, 'r') + "@x";
  m.Recipients().AddAddress(mailbox, std::string(20, 'n'));
  m.Recipients().AddAddress("x@y", "");
  m.SetSubject(std::string(255, 's'));
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(lines[1], "To:       " + std::string(20, 'n'));
  EXPECT_EQ(lines[2], " <" + mailbox + ">,");
  EXPECT_EQ(lines[3], "           <x@y>");
  EXPECT_EQ(lines[4], "Subject:  " + std::string(255, 's'));

  m.SetSubject("word " + std::string(200, 'w') + " and more words after it");
  lines = Lines(Encode(m));
  EXPECT_EQ(lines[4], "Subject:  word");
  EXPECT_EQ(lines[5], " " + std::string(200, 'w'));
  EXPECT_EQ(lines[6], " and more words after it");
}

TEST(Encoder, DotLinesAndEmbeddedBreaksAreWrittenAsTheyAre) {
  TmsMessage m;
  Request(m);
  m.Body() = {".", ".profile", "a\r\n.\r\nb", std::string(1, '\0') + "gone",
              std::string("x\0y", 3)};
  const std::string wire = Encode(m);
  EXPECT_TRUE(wire.ends_with("\r\n\r\n.\r\n.profile\r\na\r\n.\r\nb\r\n\r\nx\r\n")) << wire;
  EXPECT_EQ(m.Body()[0], ".");  // the message is not changed
  EXPECT_EQ(Encode(m), wire);   // same message, same bytes
}

// A template's lines are one body entry: each line counts on its own.
TEST(Encoder, EachLineOfAnEntryCountsOnItsOwn) {
  TmsMessage m;
  Request(m);
  m.Body() = {std::string(900, 'a') + "\r\n" + std::string(900, 'b') + "\n" + "c"};
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.end()),
            (std::vector<std::string>{std::string(900, 'a'), std::string(900, 'b'), "c"}));
  m.Body() = {"a\r\n" + std::string(999, 'b')};
  lines = Lines(Encode(m));
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: quoted-printable");
  // The inner break becomes a paragraph end.
  EXPECT_EQ(lines[7], "a");
}

TEST(Encoder, Base64Lines) {
  TmsMessage m;
  Request(m);
  m.Body().clear();
  m.Attachments().Add(Att("data.bin", std::string(114, '\x01')));
  std::vector<std::string> lines = Lines(Encode(m));
  // A single part: the one attachment is the message.
  EXPECT_EQ(lines[4], "Content-Type: application/octet-stream; name=\"data.bin\"");
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: Base64");
  EXPECT_EQ(lines[6], "Content-Disposition: attachment; filename=\"data.bin\"");
  EXPECT_EQ(lines[7], "");
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[8].size(), 76u);
  EXPECT_EQ(lines[9].size(), 76u);
  EXPECT_EQ(lines[10], "");  // 114 is a multiple of 57
}

TEST(Encoder, BodyFilesAsSinglePart) {
  TmsMessage m;
  Request(m);
  m.Body().clear();
  m.Attachments().Add(Att("C:\\tmp\\_HtmBody.htm", "<p>x</p>\r\n"));
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + 4, lines.end()),
      (std::vector<std::string>{"Content-Type: text/html",
                                "Content-Transfer-Encoding: Quoted-Printable", "", "<p>x</p>"}));
  m.Attachments()[0].SetFileName("_rtfbody.rtf");
  m.Attachments()[0].SetTransferEncoding(te7Bit);
  lines = Lines(Encode(m));
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + 4, lines.begin() + 7),
      (std::vector<std::string>{"Content-Type: text/rtf", "Content-Transfer-Encoding: 7bit", ""}));
}

TEST(Encoder, NestedAlternativeInsideMixed) {
  TmsMessage m;
  Request(m);
  m.Attachments().Add(Att("_alt.htm", "<b>x</b>\r\n"));
  m.Attachments().Add(Att("report.pdf", "%PDF"));
  const std::string wire = Encode(m);
  const std::string D = BoundaryOf(wire, 0);
  const std::string E = BoundaryOf(wire, 1);
  EXPECT_NE(D, E);  // fresh for the nested part
  std::vector<std::string> lines = Lines(wire);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + 4, lines.end()),
      (std::vector<std::string>{"Content-Type: multipart/mixed; boundary=\"" + D + "\"",
                                "",
                                "This is a multipart message in MIME format",
                                "",
                                "--" + D,
                                "Content-Type:  multipart/alternative; boundary=\"" + E + "\"",
                                "Content-Transfer-Encoding: 7bit",
                                "",
                                "--" + E,
                                "Content-Type: text/plain; charset=\"us-ascii\"",
                                "Content-Transfer-Encoding: 7bit",
                                "",
                                kBody,
                                "",
                                "--" + E,
                                "Content-Type: text/html",
                                "Content-Transfer-Encoding: Quoted-Printable",
                                "",
                                "<b>x</b>",
                                "",
                                "--" + E + "--",
                                "",
                                "--" + D,
                                "Content-Type: application/pdf; name=\"report.pdf\"",
                                "Content-Transfer-Encoding: Base64",
                                "Content-Disposition: attachment; filename=\"report.pdf\"",
                                "",
                                "JVBERg==",
                                "",
                                "--" + D + "--"}));
}

TEST(Encoder, AlternativeMessage) {
  TmsMessage m;
  Request(m);
  m.Attachments().Add(Att("_alt.htm", "<b>x</b>\r\n"));
  const std::string wire = Encode(m);
  const std::string D = BoundaryOf(wire);
  EXPECT_NE(wire.find("Content-Type: multipart/alternative; boundary=\"" + D + "\"\r\n"),
            std::string::npos);
  // The parts themselves are as in the nested case above.
  EXPECT_EQ(wire.find("Content-Disposition"), std::string::npos);
  EXPECT_TRUE(wire.ends_with("<b>x</b>\r\n\r\n--" + D + "--\r\n"));
}

TEST(Encoder, BoundariesAreFreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string b = MakeBoundary();
    EXPECT_TRUE(std::regex_match(b, std::regex("[0-8]{8}"))) << b;
    seen.insert(b);
  }
  EXPECT_GT(seen.size(), 45u);
}

TEST(Encoder, SevenBitDataIsSplitIntoLines) {
  TmsMessage m;
  Request(m);
  auto a = Att("fwd.eml", "Subject: x\r\n\r\nline\nlast");
  EXPECT_EQ(a->TransferEncoding(), te7Bit);
  m.Attachments().Add(std::move(a));
  const std::string wire = Encode(m);
  EXPECT_NE(wire.find("Content-Transfer-Encoding: 7bit\r\nContent-Disposition: attachment; "
                      "filename=\"fwd.eml\"\r\n\r\nSubject: x\r\n\r\nline\r\nlast\r\n\r\n--"),
            std::string::npos)
      << wire;
}

TEST(Encoder, UuencodedBody) {
  TmsMessage m;
  Request(m);
  m.Encoding = meUU;
  m.Attachments().Add(Att("C:\\dir\\ten.bin", "0123456789"));
  m.Attachments().Add(Att("full.bin", std::string(45, 'z')));
  std::vector<std::string> lines = Lines(Encode(m));
  ASSERT_EQ(lines.size(), 16u);
  // Ten bytes give the count and 14 characters, not a padded 16.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 12),
            (std::vector<std::string>{"", kBody, "", "begin 600 ten.bin", "*,#$R,S0U-C<X.0", "`",
                                      "end", "", "begin 600 full.bin"}));
  // 45 bytes are a full line; a count-0 line follows.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 13, lines.end()),
            (std::vector<std::string>{"``", "`", "end"}));
  for (const auto& l : lines) EXPECT_NE(l, "MIME-Version: 1.0");
}

TEST(Encoder, ArticleHeaders) {
  TmsArticle a;
  a.Sender() = TmsMailAddress("me@x", "J. Smith");
  a.NewsGroups = "comp.lang.c,comp.std.c";
  a.SetSubject("s");
  a.Headers() = {"Newsgroups: dropped?", "Path: kept"};
  a.Body().push_back("text");
  std::vector<std::string> lines = Lines(Encode(a));
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
            (std::vector<std::string>{"From:     \"J. Smith\" <me@x>",
                                      "Newsgroups: comp.lang.c,comp.std.c", "Newsgroups: dropped?",
                                      "Path: kept", "Subject:  s", "MIME-Version: 1.0"}));
}

TEST(Encoder, ReusedStreamKeepsNoOldTail) {
  TmsMessage m;
  Request(m);
  TMemoryStream out;
  out.WriteString(std::string(5000, '#'));
  m.SaveToStream(out);
  EXPECT_EQ(out.Data().find('#'), std::string::npos);
}

TEST(Encoder, HeaderValuesStayOnTheirLine) {
  TmsMessage m;
  Request(m);
  m.SetSubject("hi\r\nBcc: victim@x");
  m.Sender().SetName("n\nX: y");
  std::vector<std::string> lines = Lines(Encode(m));
  EXPECT_EQ(lines[0], "From:     \"n X: y\" <" + kSender + ">");
  EXPECT_EQ(lines[2], "Subject:  hi  Bcc: victim@x");
}

TEST(Encoder, MultipartTypeWithoutAttachmentsFails) {
  TmsMessage m;
  Request(m);
  m.SetContentType("text/html");  // body and no attachments: single part of item 0
  EXPECT_THROW(Encode(m), EError);
}

// A second empty line before a separator would become data of a text
// attachment.
TEST(Encoder, OneEmptyLineBetweenParts) {
  TmsMessage m;
  Request(m);
  m.Attachments().Add(Att("a.txt", "first\r\n"));
  m.Attachments().Add(Att("b.txt", "second\r\n"));
  const std::string wire = Encode(m);
  EXPECT_NE(wire.find("\r\n\r\nfirst\r\n\r\n--" + BoundaryOf(wire) + "\r\nContent-Type"),
            std::string::npos)
      << wire;
}
