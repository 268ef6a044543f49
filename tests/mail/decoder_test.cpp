#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/decoder.h"
#include "mail/message.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

namespace {

void Load(TmsCustomMessage& m, const std::string& wire) {
  TMemoryStream in(wire);
  in.SetPosition(wire.size());  // the decoder reads from position 0 anyway
  m.LoadFromStream(in);
}

}  // namespace

TEST(Decoder, NonMimeWithUuencodedFile) {
  TmsMessage m;
  Load(m, Join({"From: a@x", "To: b@x", "Subject: files", "", "Here it is.", "", "begin 644 a.bin",
                "*,#$R,S0U-C<X.0``", "`", "end", "trailing text", "begin 600 \"two words.txt\"",
                "#86)C", "end"}));
  EXPECT_EQ(m.Sender().Address(), "a@x");
  EXPECT_EQ(m.Recipients()[0].Address(), "b@x");
  // The empty line that separates the begin line from the text is not text.
  EXPECT_EQ(m.Body(), (std::vector<std::string>{"Here it is."}));
  EXPECT_EQ(m.Encoding, meUU);
  ASSERT_EQ(m.Attachments().Count(), 2);
  EXPECT_EQ(m.Attachments()[0].FileName(), "a.bin");
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), "0123456789");
  EXPECT_EQ(m.Attachments()[1].FileName(), "two words.txt");
  EXPECT_EQ(m.Attachments()[1].Stream().Data(), "abc");
  EXPECT_EQ(m.GetContentType(), "");
}

// A comment in the version is allowed: Apple Mail writes one.
TEST(Decoder, MimeVersionWithACommentIsMime) {
  TmsMessage m;
  Load(m, Join({"Mime-Version: 1.0 (Mac OS X Mail 16.0 \\(3731.500.231\\))",
                "Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable", "",
                "a=3Db"}));
  EXPECT_EQ(m.Body(), (std::vector<std::string>{"a=b"}));
  TmsMessage old;
  Load(old,
       Join({"Mime-Version: 2.0", "Content-Transfer-Encoding: quoted-printable", "", "a=3Db"}));
  EXPECT_EQ(old.Body(), (std::vector<std::string>{"a=3Db"}));
}

TEST(Decoder, TextBodies) {
  TmsMessage qp;
  Load(qp, Join({"MIME-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
                 "Content-Transfer-Encoding: Quoted-Printable", "", "Caf=E9 soft=", "break",
                 "second"}));
  EXPECT_EQ(qp.CharSet, csISO8859);
  EXPECT_EQ(qp.Body(), (std::vector<std::string>{"Caf\xE9 softbreak", "second"}));

  TmsMessage b64;
  Load(b64, Join({"MIME-Version: 1.0", "Content-Type: text/html",
                  "Content-Transfer-Encoding: base64", "", "PGI+eDwvYj4NCnk=", "", "DQp6"}));
  EXPECT_EQ(b64.Body(), (std::vector<std::string>{"<b>x</b>", "y", "z"}));
  EXPECT_EQ(b64.GetContentType(), "text/html");

  TmsMessage none;  // no content type at all: a text body
  Load(none, Join({"MIME-Version: 1.0", "", "plain", ".", "last"}) + "no line end");
  EXPECT_EQ(none.Body(), (std::vector<std::string>{"plain", ".", "last", "no line end"}));

  TmsMessage bad;  // errors in a text body are not structural
  EXPECT_THROW(Load(bad, Join({"MIME-Version: 1.0", "Content-Transfer-Encoding: base64", "",
                               "not base64!"})),
               EError);
}

TEST(Decoder, UuencodedFileInsideMimeTextBody) {
  TmsMessage m;
  Load(m, Join({"MIME-Version: 1.0", "To: t@x", "Content-Type: text/plain", "", "see file",
                "begin 644 f.txt", "#86)C", "`", "end"}));
  EXPECT_EQ(m.Body(), (std::vector<std::string>{"see file"}));
  ASSERT_EQ(m.Attachments().Count(), 1);
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), "abc");
  EXPECT_EQ(m.Encoding, meUU);
  EXPECT_EQ(m.Recipients().Count(), 1);  // the headers are read once
}

TEST(Decoder, SingleParts) {
  TmsMessage m;
  Load(m, Join({"MIME-Version: 1.0", "Content-Type: application/octet-stream; name=\"d.bin\"",
                "Content-Transfer-Encoding: base64", "", "AAEC", "", "AwQ=", ".", "ignored!"}));
  ASSERT_EQ(m.Attachments().Count(), 1);
  EXPECT_EQ(m.Attachments()[0].FileName(), "d.bin");
  EXPECT_EQ(m.Attachments()[0].ContentType(), "application/octet-stream");
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), std::string("\0\1\2\3\4", 5));

  TmsMessage d;  // name from the disposition, else att.0
  Load(d, Join({"MIME-Version: 1.0", "Content-Type: image/png",
                "Content-Disposition: attachment; filename=\"pic.png\"",
                "Content-Transfer-Encoding: x-uuencode", "", "begin 644 pic.png", "#86)C", "`",
                "end"}));
  EXPECT_EQ(d.Attachments()[0].FileName(), "pic.png");
  EXPECT_EQ(d.Attachments()[0].ContentType(), "image/png");
  EXPECT_EQ(d.Attachments()[0].TransferEncoding(), teBase64);
  EXPECT_EQ(d.Attachments()[0].Stream().Data(), "abc");

  TmsMessage s;
  Load(s, Join({"MIME-Version: 1.0", "Content-Type: text/plain; name=notes.txt",
                "Content-Transfer-Encoding: 7bit", "", "one", "two"}));
  EXPECT_EQ(s.Attachments()[0].FileName(), "notes.txt");
  EXPECT_EQ(s.Attachments()[0].TransferEncoding(), te7Bit);
  EXPECT_EQ(s.Attachments()[0].Stream().Data(), "one\r\ntwo\r\n");

  TmsMessage n;
  Load(n, Join({"MIME-Version: 1.0", "Content-Type: application/pdf", "", "%PDF"}));
  EXPECT_EQ(n.Attachments()[0].FileName(), "att.0");
  EXPECT_EQ(n.Attachments()[0].ContentType(), "application/pdf");

  TmsMessage bad;  // a decoding error in a single part is structural
  Load(bad, Join({"MIME-Version: 1.0", "Content-Type: application/x-y",
                  "Content-Transfer-Encoding: base64", "", "b@d"}));
  ASSERT_EQ(bad.Body().size(), 3u);
  EXPECT_EQ(bad.Body()[1], "Error decoding the attachment");
  ASSERT_EQ(bad.Attachments().Count(), 1);
  EXPECT_EQ(bad.Attachments()[0].FileName(), "original.eml");
}

TEST(Decoder, MultipartMixed) {
  const std::string wire = Join({"From: \"J. Smith\" <js@x>",
                                 "To: a@x, b@x",
                                 "Subject: mixed",
                                 "MIME-Version: 1.0",
                                 "Content-Type: multipart/mixed; boundary=\"12345678\"",
                                 "",
                                 "preamble",
                                 "--12345678",
                                 "Content-Type: text/plain; charset=\"us-ascii\"",
                                 "Content-Transfer-Encoding: 7bit",
                                 "",
                                 "body one",
                                 "",
                                 "body three",
                                 "--12345678",
                                 "Content-Type: application/zip; name=\"a.zip\"",
                                 "Content-Transfer-Encoding: base64",
                                 "Content-Disposition: attachment; filename=\"a.zip\"",
                                 "",
                                 "UEsDBA==",
                                 "",
                                 "--12345678",
                                 "Content-Type: text/plain",
                                 "Content-Transfer-Encoding: quoted-printable",
                                 "",
                                 "x=3Dy",
                                 "",
                                 "--12345678",
                                 "Content-Type: message/rfc822",
                                 "",
                                 std::string(300, 'L'),
                                 "--12345678--",
                                 "epilogue"});
  TmsMessage m;
  Load(m, wire);
  EXPECT_EQ(m.Subject(), "mixed");
  EXPECT_EQ(m.Sender().Name(), "J. Smith");
  EXPECT_EQ(m.Recipients().Count(), 2);
  EXPECT_EQ(m.Body(), (std::vector<std::string>{"body one", "", "body three"}));
  ASSERT_EQ(m.Attachments().Count(), 3);
  EXPECT_EQ(m.Attachments()[0].FileName(), "a.zip");
  EXPECT_EQ(m.Attachments()[0].ContentType(), "application/zip");
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), "PK\3\4");
  EXPECT_EQ(m.Attachments()[1].FileName(), "att.1");
  EXPECT_EQ(m.Attachments()[1].ContentType(), "text/plain");
  EXPECT_EQ(m.Attachments()[1].TransferEncoding(), teQuotedPrintable);
  // The empty line before the boundary belongs to the boundary.
  EXPECT_EQ(m.Attachments()[1].Stream().Data(), "x=y\r\n");
  EXPECT_EQ(m.Attachments()[2].FileName(), "att.2");
  EXPECT_EQ(m.Attachments()[2].ContentType(), "message/rfc822");
  // Long 7-bit lines are kept whole; the line break before the boundary
  // belongs to the boundary.
  EXPECT_EQ(m.Attachments()[2].Stream().Data(), std::string(300, 'L'));
  EXPECT_EQ(m.GetContentType(), "multipart/mixed");
}

TEST(Decoder, Base64FirstPartIsAnAttachment) {
  TmsMessage m;
  Load(m, Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                "Content-Type: application/octet-stream; name=\"x.bin\"",
                "Content-Transfer-Encoding: BASE64", "", "eHl6", "--b--"}));
  EXPECT_TRUE(m.Body().empty());
  ASSERT_EQ(m.Attachments().Count(), 1);
  EXPECT_EQ(m.Attachments()[0].FileName(), "x.bin");
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), "xyz");
}

TEST(Decoder, OnlyPartsEndCleanly) {
  // A multipart body whose only part is the text.
  TmsMessage m;
  Load(m, Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                "Content-Type: text/plain", "", "just text", "--b--"}));
  EXPECT_EQ(m.Body(), (std::vector<std::string>{"just text"}));
  EXPECT_EQ(m.Attachments().Count(), 0);

  // A nested alternative part that is the last part of the outer body.
  TmsMessage n;
  Load(n, Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"out\"", "", "--out",
                "Content-Type: multipart/alternative; boundary=\"in\"", "", "--in",
                "Content-Type: text/plain", "", "text", "--in", "Content-Type: text/html", "",
                "<i>t</i>", "--in--", "--out--", "epilogue"}));
  EXPECT_EQ(n.Body(), (std::vector<std::string>{"text"}));
  ASSERT_EQ(n.Attachments().Count(), 1);
  EXPECT_EQ(n.Attachments()[0].FileName(), "_alt.0");
  EXPECT_EQ(n.Attachments()[0].ContentType(), "text/html");
  EXPECT_EQ(n.Attachments()[0].Stream().Data(), "<i>t</i>");
}

TEST(Decoder, StructuralErrorsKeepTheInputAsOriginalEml) {
  const std::string wire =
      Join({"From: a@x", "Subject: broken", "MIME-Version: 1.0",
            "Content-Type: multipart/mixed; boundary=\"never\"", "", "text", "--other"});
  TmsMessage m;
  Load(m, wire);
  EXPECT_EQ(m.Subject(), "broken");
  EXPECT_EQ(m.Body(),
            (std::vector<std::string>{
                "The following error has been occured while processing the message:",
                "Cannot find boundary", "The original message will be stored as an attachment"}));
  ASSERT_EQ(m.Attachments().Count(), 1);
  EXPECT_EQ(m.Attachments()[0].FileName(), "original.eml");
  EXPECT_EQ(m.Attachments()[0].ContentType(), "message/rfc822");
  EXPECT_EQ(m.Attachments()[0].TransferEncoding(), te7Bit);
  EXPECT_EQ(m.Attachments()[0].Stream().Data(), wire);

  TmsMessage open_nested;  // a nested part never closed
  Load(open_nested, Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=o", "",
                          "--o", "Content-Type: multipart/alternative; boundary=i", "", "--i", "",
                          "text", "--i", "Content-Type: text/html", "", "<p>"}));
  ASSERT_GE(open_nested.Body().size(), 3u);
  EXPECT_EQ(open_nested.Body()[open_nested.Body().size() - 2], "Cannot find closing boundary");
  // What was decoded before the error stays.
  ASSERT_EQ(open_nested.Attachments().Count(), 2);
  EXPECT_EQ(open_nested.Attachments()[0].FileName(), "_alt.0");
  EXPECT_EQ(open_nested.Attachments()[1].FileName(), "original.eml");

  TmsMessage no_close;  // the text part runs to the end
  Load(no_close, Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                       "", "text"}));
  EXPECT_EQ(no_close.Body()[no_close.Body().size() - 2], "Cannot find boundary");

  TmsMessage bad_uu;
  Load(bad_uu, Join({"", "begin 644 x", "#\x01\x02\x03", "end"}));
  EXPECT_EQ(bad_uu.Body()[1], "Error decoding the attachment");
  ASSERT_EQ(bad_uu.Attachments().Count(), 1);
  EXPECT_EQ(bad_uu.Attachments()[0].FileName(), "original.eml");
}

TEST(Decoder, EmptyAndHeaderOnlyInput) {
  TmsMessage empty;
  Load(empty, "");
  EXPECT_TRUE(empty.Body().empty());
  EXPECT_EQ(empty.Attachments().Count(), 0);

  TmsMessage headers;
  Load(headers, "Subject: only");
  EXPECT_EQ(headers.Subject(), "only");
  EXPECT_EQ(headers.Headers(), (std::vector<std::string>{"Subject: only"}));
}
