#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/decoder.h"
#include "mail/message.h"
#include "tests/mail/helpers.h"

using namespace mail_test;
using Texts = std::vector<std::string>;

namespace {

// The error report that replaces the body when the structure is broken.
Texts ErrorBody(const std::string& error) {
  return {"The following error has been occured while processing the message:", error,
          "The original message will be stored as an attachment"};
}

}  // namespace

TEST(Decoder, NonMimeWithUuencodedFile) {
  const auto m = Decode(Join({"From: a@x", "To: b@x", "Subject: files", "", "Here it is.", "",
                              "begin 644 a.bin", "*,#$R,S0U-C<X.0``", "`", "end", "trailing text",
                              "begin 600 \"two words.txt\"", "#86)C", "end"}));
  EXPECT_EQ(m->Sender().Address(), "a@x");
  EXPECT_EQ(m->Recipients()[0].Address(), "b@x");
  // The empty line that separates the begin line from the text is not text.
  EXPECT_EQ(m->Body(), Texts{"Here it is."});
  EXPECT_EQ(m->Encoding, meUU);
  EXPECT_EQ(Parts(m->Attachments()), (Texts{"a.bin, application/octet-stream: 0123456789",
                                            "two words.txt, text/plain: abc"}));
  EXPECT_EQ(m->GetContentType(), "");
}

// A comment in the version is allowed: Apple Mail writes one.
TEST(Decoder, MimeVersionWithACommentIsMime) {
  EXPECT_EQ(Decode(Join({"Mime-Version: 1.0 (Mac OS X Mail 16.0 \\(3731.500.231\\))",
                         "Content-Type: text/plain", "Content-Transfer-Encoding: quoted-printable",
                         "", "a=3Db"}))
                ->Body(),
            Texts{"a=b"});
  EXPECT_EQ(Decode(Join({"Mime-Version: 2.0", "Content-Transfer-Encoding: quoted-printable", "",
                         "a=3Db"}))
                ->Body(),
            Texts{"a=3Db"});
}

TEST(Decoder, TextBodies) {
  const auto qp = Decode(
      Join({"MIME-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
            "Content-Transfer-Encoding: Quoted-Printable", "", "Caf=E9 soft=", "break", "second"}));
  EXPECT_EQ(qp->CharSet, csISO8859);
  EXPECT_EQ(qp->Body(), (Texts{"Caf\xE9 softbreak", "second"}));

  const auto b64 =
      Decode(Join({"MIME-Version: 1.0", "Content-Type: text/html",
                   "Content-Transfer-Encoding: base64", "", "PGI+eDwvYj4NCnk=", "", "DQp6"}));
  EXPECT_EQ(b64->Body(), (Texts{"<b>x</b>", "y", "z"}));
  EXPECT_EQ(b64->GetContentType(), "text/html");

  // No content type at all: a text body.
  EXPECT_EQ(Decode(Join({"MIME-Version: 1.0", "", "plain", ".", "last"}) + "no line end")->Body(),
            (Texts{"plain", ".", "last", "no line end"}));

  // Errors in a text body are not structural.
  EXPECT_THROW(
      Decode(Join({"MIME-Version: 1.0", "Content-Transfer-Encoding: base64", "", "not base64!"})),
      EError);
}

TEST(Decoder, UuencodedFileInsideMimeTextBody) {
  const auto m = Decode(Join({"MIME-Version: 1.0", "To: t@x", "Content-Type: text/plain", "",
                              "see file", "begin 644 f.txt", "#86)C", "`", "end"}));
  EXPECT_EQ(m->Body(), Texts{"see file"});
  EXPECT_EQ(Parts(m->Attachments()), Texts{"f.txt, text/plain: abc"});
  EXPECT_EQ(m->Encoding, meUU);
  EXPECT_EQ(m->Recipients().Count(), 1);  // the headers are read once
}

TEST(Decoder, SingleParts) {
  EXPECT_EQ(Parts(Decode(Join({"MIME-Version: 1.0",
                               "Content-Type: application/octet-stream; name=\"d.bin\"",
                               "Content-Transfer-Encoding: base64", "", "AAEC", "", "AwQ=", ".",
                               "ignored!"}))
                      ->Attachments()),
            Texts{"d.bin, application/octet-stream: " + std::string("\0\1\2\3\4", 5)});

  // The name from the disposition, else att.0.
  const auto d = Decode(Join({"MIME-Version: 1.0", "Content-Type: image/png",
                              "Content-Disposition: attachment; filename=\"pic.png\"",
                              "Content-Transfer-Encoding: x-uuencode", "", "begin 644 pic.png",
                              "#86)C", "`", "end"}));
  EXPECT_EQ(Parts(d->Attachments()), Texts{"pic.png, image/png: abc"});
  EXPECT_EQ(d->Attachments()[0].TransferEncoding(), teBase64);
  EXPECT_EQ(Parts(Decode(Join({"MIME-Version: 1.0", "Content-Type: application/pdf", "", "%PDF"}))
                      ->Attachments()),
            Texts{"att.0, application/pdf: %PDF\r\n"});

  const auto s = Decode(Join({"MIME-Version: 1.0", "Content-Type: text/plain; name=notes.txt",
                              "Content-Transfer-Encoding: 7bit", "", "one", "two"}));
  EXPECT_EQ(Parts(s->Attachments()), Texts{"notes.txt, text/plain: one\r\ntwo\r\n"});
  EXPECT_EQ(s->Attachments()[0].TransferEncoding(), te7Bit);

  // A decoding error in a single part is structural.
  const auto bad = Decode(Join({"MIME-Version: 1.0", "Content-Type: application/x-y",
                                "Content-Transfer-Encoding: base64", "", "b@d"}));
  EXPECT_EQ(bad->Body(), ErrorBody("Error decoding the attachment"));
  ASSERT_EQ(bad->Attachments().Count(), 1);
  EXPECT_EQ(bad->Attachments()[0].FileName(), "original.eml");
}

TEST(Decoder, MultipartMixed) {
  const auto m = Decode(Join({"From: \"J. Smith\" <js@x>",
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
                              "epilogue"}));
  EXPECT_EQ(m->Subject(), "mixed");
  EXPECT_EQ(m->Sender().Name(), "J. Smith");
  EXPECT_EQ(m->Recipients().Count(), 2);
  EXPECT_EQ(m->Body(), (Texts{"body one", "", "body three"}));
  // The line break before a boundary belongs to the boundary; long 7-bit
  // lines are kept whole.
  EXPECT_EQ(Parts(m->Attachments()),
            (Texts{"a.zip, application/zip: PK\3\4", "att.1, text/plain: x=y\r\n",
                   "att.2, message/rfc822: " + std::string(300, 'L')}));
  EXPECT_EQ(m->Attachments()[1].TransferEncoding(), teQuotedPrintable);
  EXPECT_EQ(m->GetContentType(), "multipart/mixed");
}

TEST(Decoder, Base64FirstPartIsAnAttachment) {
  const auto m = Decode(Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                              "--b", "Content-Type: application/octet-stream; name=\"x.bin\"",
                              "Content-Transfer-Encoding: BASE64", "", "eHl6", "--b--"}));
  EXPECT_TRUE(m->Body().empty());
  EXPECT_EQ(Parts(m->Attachments()), Texts{"x.bin, application/octet-stream: xyz"});
}

TEST(Decoder, OnlyPartsEndCleanly) {
  // A multipart body whose only part is the text.
  const auto m = Decode(Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                              "--b", "Content-Type: text/plain", "", "just text", "--b--"}));
  EXPECT_EQ(m->Body(), Texts{"just text"});
  EXPECT_EQ(m->Attachments().Count(), 0);

  // A nested alternative part that is the last part of the outer body.
  const auto n =
      Decode(Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"out\"", "",
                   "--out", "Content-Type: multipart/alternative; boundary=\"in\"", "", "--in",
                   "Content-Type: text/plain", "", "text", "--in", "Content-Type: text/html", "",
                   "<i>t</i>", "--in--", "--out--", "epilogue"}));
  EXPECT_EQ(n->Body(), Texts{"text"});
  EXPECT_EQ(Parts(n->Attachments()), Texts{"_alt.0, text/html: <i>t</i>"});
}

TEST(Decoder, StructuralErrorsKeepTheInputAsOriginalEml) {
  const std::string wire =
      Join({"From: a@x", "Subject: broken", "MIME-Version: 1.0",
            "Content-Type: multipart/mixed; boundary=\"never\"", "", "text", "--other"});
  const auto m = Decode(wire);
  EXPECT_EQ(m->Subject(), "broken");
  EXPECT_EQ(m->Body(), ErrorBody("Cannot find boundary"));
  EXPECT_EQ(Parts(m->Attachments()), Texts{"original.eml, message/rfc822: " + wire});
  EXPECT_EQ(m->Attachments()[0].TransferEncoding(), te7Bit);

  // A nested part never closed: what was decoded before the error stays.
  const auto open = Decode(Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=o",
                                 "", "--o", "Content-Type: multipart/alternative; boundary=i", "",
                                 "--i", "", "text", "--i", "Content-Type: text/html", "", "<p>"}));
  EXPECT_EQ(open->Body()[open->Body().size() - 2], "Cannot find closing boundary");
  ASSERT_EQ(open->Attachments().Count(), 2);
  EXPECT_EQ(open->Attachments()[0].FileName(), "_alt.0");
  EXPECT_EQ(open->Attachments()[1].FileName(), "original.eml");

  // The text part runs to the end.
  Texts text_then_error = ErrorBody("Cannot find boundary");
  text_then_error.insert(text_then_error.begin(), "text");
  EXPECT_EQ(Decode(Join({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                         "--b", "", "text"}))
                ->Body(),
            text_then_error);

  const auto bad_uu = Decode(Join({"", "begin 644 x", "#\x01\x02\x03", "end"}));
  EXPECT_EQ(bad_uu->Body(), ErrorBody("Error decoding the attachment"));
  ASSERT_EQ(bad_uu->Attachments().Count(), 1);
  EXPECT_EQ(bad_uu->Attachments()[0].FileName(), "original.eml");
}

TEST(Decoder, EmptyAndHeaderOnlyInput) {
  const auto empty = Decode("");
  EXPECT_TRUE(empty->Body().empty());
  EXPECT_EQ(empty->Attachments().Count(), 0);

  const auto headers = Decode("Subject: only");
  EXPECT_EQ(headers->Subject(), "only");
  EXPECT_EQ(headers->Headers(), Texts{"Subject: only"});
}
