#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mail/message.h"
#include "platform/errors.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

namespace {

std::string ErrorOf(const TmsCustomMessage& m) {
  try {
    m.Validate();
  } catch (const EMessageError& e) {
    return e.what();
  }
  return "";
}

// A message with every field away from its default.
void FillEveryField(TmsMessage& m) {
  m.Sender() = TmsMailAddress("s@x", "S");
  m.Recipients().AddAddress("r@x", "R");
  m.CC().AddAddress("c@x", "");
  m.BCC().AddAddress("b@x", "");
  m.SetSubject("subj");
  m.Headers().push_back("X-Mailer: t");
  m.Body().push_back("body");
  m.Attachments().Add(Att("a.bin", "DATA"));
  m.Encoding = meUU;
  m.CharSet = csISO8859;
  m.Priority = ptHigh;
  m.ReturnReceipt = true;
  m.Tag = 42;
}

}  // namespace

TEST(MessageModel, EffectiveContentType) {
  TmsMessage m;
  m.Attachments().Add(Att("C:\\X\\_HTMBODY.HTM"));
  EXPECT_EQ(m.GetContentType(), "text/html");
  m.Attachments().Clear();
  m.Attachments().Add(Att("/home/u/_RtfBody.rtf"));
  EXPECT_EQ(m.GetContentType(), "text/rtf");
  m.Body().push_back("text");  // a body makes it a mixed message
  EXPECT_EQ(m.GetContentType(), "multipart/mixed");

  m.Body().clear();
  m.Attachments().Clear();
  m.Attachments().Add(Att("\\_alt.txt"));
  m.Attachments().Add(Att("\\_alt.htm"));
  EXPECT_EQ(m.GetContentType(), "multipart/alternative");
  m.Body().push_back("text");
  EXPECT_EQ(m.GetContentType(), "multipart/alternative");
  m.Attachments()[1].SetFileName("report.doc");
  EXPECT_EQ(m.GetContentType(), "multipart/mixed");

  m.Body().clear();
  m.Attachments().Clear();
  m.Attachments().Add(Att("data.zip"));
  EXPECT_EQ(m.Attachments()[0].ContentType(), "application/zip");
  EXPECT_EQ(m.GetContentType(), "application/zip");
  m.Attachments().Add(Att("more.zip"));
  EXPECT_EQ(m.GetContentType(), "multipart/mixed");

  m.Encoding = meUU;
  EXPECT_EQ(m.GetContentType(), "");
  EXPECT_EQ(m.StoredContentType(), "");

  TmsMessage plain;
  plain.Body().push_back("b");
  plain.SetContentType("Text/HTML");
  EXPECT_EQ(plain.StoredContentType(), "text/html");
  EXPECT_EQ(plain.GetContentType(), "text/html");  // body, no attachments: the stored value
  plain.Body().clear();
  EXPECT_EQ(plain.GetContentType(), "text/plain");
}

TEST(MessageModel, SetFileNameTypesTheItem) {
  TmsAttItem a;
  a.SetFileName("notes.txt");
  EXPECT_EQ(a.ContentType(), "text/plain");
  EXPECT_EQ(a.TransferEncoding(), teQuotedPrintable);
  a.SetFileName("page.HTM");
  EXPECT_EQ(a.TransferEncoding(), teQuotedPrintable);
  a.SetFileName("mail.eml");
  EXPECT_EQ(a.ContentType(), "message/rfc822");
  EXPECT_EQ(a.TransferEncoding(), te7Bit);
  a.SetFileName("blob.unknownext");
  EXPECT_EQ(a.ContentType(), "application/octet-stream");
  EXPECT_EQ(a.TransferEncoding(), teBase64);
  a.SetContentType("text/plain");
  a.SetTransferEncoding(te7Bit);
  a.SetFileName("");  // an empty name keeps the typing
  EXPECT_EQ(a.FileName(), "");
  EXPECT_EQ(a.ContentType(), "text/plain");
  EXPECT_EQ(a.TransferEncoding(), te7Bit);
}

TEST(MessageModel, ValidateNeedsSenderAndOneRecipient) {
  TmsMessage m;
  m.Recipients().AddAddress("r@example.org", "");
  EXPECT_EQ(ErrorOf(m), "The address of sender is required");
  m.Sender().SetAddress("me@example.org");
  EXPECT_EQ(ErrorOf(m), "");
  m.Recipients().Clear();
  m.Recipients().AddAddress("", "Nobody");
  m.CC().AddAddress("", "");
  EXPECT_EQ(ErrorOf(m), "At least one Recipient, CC or BCC must be entered");
  m.BCC().AddAddress("hidden@example.org", "");
  EXPECT_EQ(ErrorOf(m), "");

  TmsArticle a;
  a.Sender().SetAddress("me@example.org");
  EXPECT_EQ(ErrorOf(a), "Newsgroup header is required");
  a.NewsGroups = "comp.lang.c";
  EXPECT_EQ(ErrorOf(a), "Subject header is required");
  a.SetSubject("s");
  EXPECT_EQ(ErrorOf(a), "");
}

TEST(MessageModel, ClearKeepsPriorityAndReturnReceipt) {
  TmsMessage m;
  FillEveryField(m);
  m.Clear();
  EXPECT_EQ(m.Sender(), TmsMailAddress());
  EXPECT_EQ(m.Recipients().Count() + m.CC().Count() + m.BCC().Count(), 0);
  EXPECT_TRUE(m.Body().empty() && m.Headers().empty() && m.Subject().empty());
  EXPECT_EQ(m.Attachments().Count(), 0);
  EXPECT_EQ(m.Encoding, meMIME);
  EXPECT_EQ(m.CharSet, csUSASCII);
  EXPECT_EQ(m.StoredContentType(), "");
  EXPECT_EQ(m.Priority, ptHigh);
  EXPECT_TRUE(m.ReturnReceipt);
}

TEST(MessageModel, ReadHeaders) {
  TmsMessage m;
  m.ReturnReceipt = true;
  m.Recipients().AddAddress("old@example.org", "");
  TmsHeaders h = {"From: \"J. Smith\" <js@example.org>",
                  "To: a@example.org, \"Doe, Jane\" <jd@example.org>", "CC: c@example.org (Cee)",
                  "Subject: =?iso-8859-1?Q?Caf=E9?=", "X-Priority: 3"};
  m.ReadHeaders(h);
  EXPECT_EQ(m.Sender().Name(), "J. Smith");
  EXPECT_EQ(m.Sender().Address(), "js@example.org");
  ASSERT_EQ(m.Recipients().Count(), 3);
  EXPECT_EQ(m.Recipients()[0].Address(), "old@example.org");
  EXPECT_EQ(m.Recipients()[1].Address(), "a@example.org");
  EXPECT_EQ(m.Recipients()[2].Name(), "Doe, Jane");
  ASSERT_EQ(m.CC().Count(), 1);
  EXPECT_EQ(m.CC()[0].Name(), "Cee");
  EXPECT_EQ(m.Subject(), "Caf\xC3\xA9");
  EXPECT_EQ(m.Priority, ptNormal);
  EXPECT_TRUE(m.ReturnReceipt);  // never set back to False
  EXPECT_EQ(m.Headers(), h);

  m.ReadHeaders({"X-Priority: 1 (Highest)", "Return-receipt-to: <x@y>"});
  EXPECT_EQ(m.Priority, ptHigh);
  m.ReadHeaders({"X-Priority: 5"});
  EXPECT_EQ(m.Priority, ptLow);

  EXPECT_THROW(m.ReadHeaders({"From: broken <no end"}), EError);

  TmsArticle a;
  TMemoryStream in(Join({"From: n@x (N)", "Path: a!b", "Newsgroups: x.y,z", "Message-ID: <1@x>",
                         "Subject: hi", "", "text"}));
  a.LoadFromStream(in);
  EXPECT_EQ(a.Sender().Address(), "n@x");
  EXPECT_EQ(a.Path, "a!b");
  EXPECT_EQ(a.NewsGroups, "x.y,z");
  EXPECT_EQ(a.MessageId, "<1@x>");
  EXPECT_EQ(a.Subject(), "hi");
  EXPECT_EQ(a.Body(), (std::vector<std::string>{"text"}));
}

TEST(MessageModel, AssignCopiesDeeply) {
  TmsMessage src;
  FillEveryField(src);
  TmsMessage dst;
  dst.Recipients().AddAddress("gone@x", "");
  dst.Assign(src);
  EXPECT_EQ(dst.Recipients().Count(), 1);
  EXPECT_EQ(dst.Recipients()[0].Address(), "r@x");
  EXPECT_EQ(dst.CC()[0].Address(), "c@x");
  EXPECT_EQ(dst.BCC()[0].Address(), "b@x");
  EXPECT_EQ(dst.Sender(), src.Sender());
  EXPECT_EQ(dst.Subject(), "subj");
  EXPECT_EQ(dst.Headers(), src.Headers());
  EXPECT_EQ(dst.Body(), src.Body());
  EXPECT_EQ(dst.Encoding, meUU);
  EXPECT_EQ(dst.CharSet, csISO8859);
  EXPECT_EQ(dst.StoredContentType(), "");  // the getter's: none for a uuencoded message
  EXPECT_EQ(dst.Priority, ptHigh);
  EXPECT_TRUE(dst.ReturnReceipt);
  EXPECT_EQ(dst.Tag, 42);
  src.Attachments()[0].Stream().SetData("CHANGED");
  EXPECT_EQ(dst.Attachments()[0].Stream().Data(), "DATA");

  TmsArticle art;
  art.NewsGroups = "g";
  art.Headers().push_back("Path: p");
  TmsMessage from_article;
  from_article.Assign(art);
  EXPECT_EQ(from_article.Headers(), art.Headers());
  TmsArticle art2;
  art2.Assign(art);
  EXPECT_EQ(art2.NewsGroups, "g");
}

TEST(MessageModel, SetAttachmentsCopiesAndSetsType) {
  TmsAttList list;
  auto a = Att("x.bin", "123");
  a->SetContentType("application/x-special");
  a->SetTransferEncoding(teQuotedPrintable);
  list.Add(std::move(a));
  TmsMessage m;
  m.SetAttachments(list);
  EXPECT_EQ(m.StoredContentType(), "multipart/mixed");
  EXPECT_EQ(Parts(m.Attachments()), std::vector<std::string>{"x.bin, application/x-special: 123"});
  EXPECT_EQ(m.Attachments()[0].TransferEncoding(), teQuotedPrintable);
  m.SetAttachments(TmsAttList());
  EXPECT_EQ(m.Attachments().Count(), 0);
  EXPECT_EQ(m.StoredContentType(), "text/plain");
  EXPECT_THROW(m.Attachments().Items(0), EError);
  EXPECT_THROW(m.Recipients().Items(-1), EError);
}

TEST(MessageModel, ShortTextFieldsAreCutWithoutSplittingUtf8) {
  TmsMailAddress a;
  std::string long_name(254, 'n');
  long_name += "\xC3\xA9tail";  // a two-byte sequence straddling byte 255
  a.SetName(long_name);
  EXPECT_EQ(a.Name(), std::string(254, 'n'));
  TmsMessage m;
  m.SetSubject(std::string(300, 's'));
  EXPECT_EQ(m.Subject().size(), 255u);
}

TEST(MessageModel, EditGoesThroughTheHook) {
  TmsMailAddress a("a@x", "A");
  EXPECT_FALSE(a.Edit());  // no user interface installed
  SetMailAddressEditHook([](TmsMailAddress& copy) {
    EXPECT_EQ(copy.Address(), "a@x");
    copy.SetName("Edited");
    return false;  // cancelled
  });
  EXPECT_FALSE(a.Edit());
  EXPECT_EQ(a.Name(), "A");
  SetMailAddressEditHook([](TmsMailAddress& copy) {
    copy.SetName("Edited");
    return true;
  });
  EXPECT_TRUE(a.Edit());
  EXPECT_EQ(a.Name(), "Edited");
  SetMailAddressEditHook(nullptr);
}

TEST(MessageModel, StoredFormRoundTripsEveryPublishedProperty) {
  TempFolder dir;
  const std::string file = dir / "it's.txt";
  PutFile(file, "attachment bytes");

  TmsMessage m;
  m.SetComponentName("msMessage1");
  m.Tag = -7;
  m.Sender() = TmsMailAddress("me@x", "Me 'quoted'");
  m.SetSubject("Sub\tject");
  m.Headers() = {"X-A: 1", "\tcontinued"};
  m.Body() = {"line one", "", "l\xC3\xA9ne"};
  m.Encoding = meUU;
  m.CharSet = csISO8859;
  m.Recipients().AddAddress("r1@x", "R1");
  m.Recipients().AddAddress("r2@x", "");
  m.CC().AddAddress("c@x", "C");
  m.BCC().AddAddress("b@x", "B");
  m.Priority = ptHigh;
  m.ReturnReceipt = true;
  auto a = Att(file, "");
  a->SetContentType("application/x-kept");
  a->SetTransferEncoding(teBase64);
  m.Attachments().Add(std::move(a));
  m.SetContentType("text/html");

  const std::string stored = m.StoredForm();
  EXPECT_NE(stored.find("Attachments.Items = ("), std::string::npos);
  EXPECT_NE(stored.find("\r\n"), std::string::npos);
  TmsMessage back;
  back.LoadStoredForm(stored);
  EXPECT_EQ(back.StoredForm(), stored);
  EXPECT_EQ(back.ComponentName(), "msMessage1");
  EXPECT_EQ(back.Tag, -7);
  EXPECT_EQ(back.Sender(), m.Sender());
  EXPECT_EQ(back.Subject(), m.Subject());
  EXPECT_EQ(back.Headers(), m.Headers());
  EXPECT_EQ(back.Body(), m.Body());
  EXPECT_EQ(back.Encoding, meUU);
  EXPECT_EQ(back.CharSet, csISO8859);
  EXPECT_EQ(back.Priority, ptHigh);
  EXPECT_TRUE(back.ReturnReceipt);
  EXPECT_EQ(back.Recipients()[1].Address(), "r2@x");
  EXPECT_EQ(back.BCC()[0].Name(), "B");
  EXPECT_EQ(back.StoredContentType(), "text/html");
  ASSERT_EQ(back.Attachments().Count(), 1);
  EXPECT_EQ(back.Attachments()[0].ContentType(), "application/x-kept");
  EXPECT_EQ(back.Attachments()[0].TransferEncoding(), teBase64);
  // Loaded read the data from the file.
  EXPECT_EQ(back.Attachments()[0].Stream().Data(), "attachment bytes");

  // Defaults are not written; an empty message stores nothing.
  EXPECT_EQ(TmsMessage().StoredForm(), "");

  TmsArticle art;
  art.NewsGroups = "a.b";
  TmsArticle art_back;
  art_back.LoadStoredForm(art.StoredForm());
  EXPECT_EQ(art_back.NewsGroups, "a.b");

  // A missing attachment file is an error naming the file; items before it
  // are loaded.
  std::filesystem::remove(file);
  TmsMessage missing;
  try {
    missing.LoadStoredForm(stored);
    ADD_FAILURE() << "loaded a missing file";
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + file);
  }
  EXPECT_THROW(TmsMessage().LoadStoredForm("Unknown = 1\r\n"), EError);
  EXPECT_THROW(TmsMessage().LoadStoredForm("Subject = 'open\r\n"), EError);
  EXPECT_THROW(TmsMessage().LoadStoredForm("Recipients.Items = ('a')\r\n"), EError);
}
