#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "mail/headers.h"
#include "platform/errors.h"
#include "platform/mime_types.h"
#include "tests/mail/helpers.h"

using namespace mail_test;
using Items = std::vector<std::string>;

TEST(HeaderValue, JoinsContinuationLines) {
  const TmsHeaders h = {"Subject: Hello", "\tworld", "From: a@b"};
  EXPECT_EQ(GetHeaderValue(h, "Subject"), "Hello world");
  EXPECT_EQ(GetHeaderValue(h, "subject:"), "Hello world");
  EXPECT_EQ(GetHeaderValue(h, "FROM"), "a@b");
  EXPECT_EQ(GetHeaderValue(h, "Cc"), "");
  EXPECT_EQ(GetHeaderValue({}, "Subject"), "");
  // A line without a colon continues the header even without a blank.
  EXPECT_EQ(GetHeaderValue({"Subject: one", "two", "X-A: b"}, "Subject"), "one two");
  // The first matching header wins; names match as a prefix with the colon.
  EXPECT_EQ(GetHeaderValue({"X-Subject: no", "Subject: yes", "Subject: later"}, "Subject"), "yes");
  EXPECT_EQ(GetHeaderValue({"Subject:", " folded"}, "Subject"), "folded");
  // The value starts after the colon; a missing blank loses nothing.
  EXPECT_EQ(GetHeaderValue({"Subject:Hello"}, "Subject"), "Hello");
  EXPECT_EQ(GetHeaderValue({"Subject:   spaced   "}, "Subject"), "spaced");
}

TEST(HeaderValue, ContentTypeStaysWholeAndUndecoded) {
  const std::string longParams(300, 'p');
  const TmsHeaders h = {"Content-Type: text/plain; name=\"=?utf-8?q?x?=\"; " + longParams,
                        "Subject: =?utf-8?q?x?= " + longParams, "X-UIDL: =?utf-8?q?u?="};
  EXPECT_EQ(GetHeaderValue(h, "content-type"), "text/plain; name=\"=?utf-8?q?x?=\"; " + longParams);
  EXPECT_EQ(GetHeaderValue(h, "X-UIDL"), "=?utf-8?q?u?=");
  const std::string subject = GetHeaderValue(h, "Subject");
  EXPECT_EQ(subject.substr(0, 3), "x p");
  EXPECT_LE(subject.size(), 255u);
}

TEST(HeaderAddresses, SplitsAtCommasOutsideQuotes) {
  Items items = {"stale"};
  GetHeaderAddresses({"To: \"Smith, John\" <js@x.org>, other@y.org"}, "TO", items);
  EXPECT_EQ(items, (Items{"\"Smith, John\" <js@x.org>", "other@y.org"}));

  // Continuation lines, several headers with the name, empty items.
  const TmsHeaders h = {"To: a@x,",  "  b@x, \"Doe, J\" <j@x>", "Subject: s",
                        "To: c@x, ", "Cc: d@x",                  "TOTAL: e@x"};
  GetHeaderAddresses(h, "to", items);
  EXPECT_EQ(items, (Items{"a@x", "b@x", "\"Doe, J\" <j@x>", "c@x", "e@x"}));
  GetHeaderAddresses(h, "CC", items);
  EXPECT_EQ(items, (Items{"d@x"}));
  GetHeaderAddresses({}, "To", items);
  EXPECT_TRUE(items.empty());
  // A matching line without a colon ends the scan.
  GetHeaderAddresses({"To a@x", "To: b@x"}, "To", items);
  EXPECT_TRUE(items.empty());
  // Encoded words inside items are decoded.
  GetHeaderAddresses({"Cc: =?utf-8?q?J=C3=B6rg?= <j@x>"}, "Cc", items);
  EXPECT_EQ(items, (Items{"J\xC3\xB6rg <j@x>"}));
}

TEST(RemoveHeaderTest, RemovesTheFirstHeaderAndItsContinuations) {
  TmsHeaders h = {"Subject: a", " b", "\tc", "no colon", "Subject: d"};
  RemoveHeader(h, "subject");
  EXPECT_EQ(h, (TmsHeaders{"no colon", "Subject: d"}));
  RemoveHeader(h, "X-Missing");
  EXPECT_EQ(h.size(), 2u);
  TmsHeaders empty;
  RemoveHeader(empty, "Subject");
  EXPECT_TRUE(empty.empty());
}

TEST(Parameter, PicksQuotedAndPlainValues) {
  EXPECT_EQ(GetParameter("boundary", "multipart/mixed; boundary=\"12345678\""), "12345678");
  EXPECT_EQ(GetParameter("boundary", "multipart/mixed; boundary=abc; charset=x"), "abc");
  EXPECT_EQ(GetParameter("boundary", "multipart/mixed; BOUNDARY=abc;charset=x"), "abc");
  EXPECT_EQ(GetParameter("charset", "text/plain; charset = utf-8"), "utf-8");
  EXPECT_EQ(GetParameter("name", "attachment; filename=\"a b.txt\""), "a b.txt");
  EXPECT_EQ(GetParameter("name", "x; name=\"unclosed"), "unclosed");
  EXPECT_EQ(GetParameter("name", "x; name="), "");
  EXPECT_EQ(GetParameter("name", "x; name"), "");
  EXPECT_EQ(GetParameter("boundary", "text/plain"), "");
  EXPECT_EQ(GetParameter("", "text/plain"), "");
}

TEST(Address, ParsesTheThreeForms) {
  std::string name = "old", address = "old";
  for (const auto& [text, want_name, want_address] :
       {std::tuple{"\"J. Smith\" <js@x.org>", "J. Smith", "js@x.org"}, {"js@x.org", "", "js@x.org"},
        {"js@x.org (J. Smith)", "J. Smith", "js@x.org"}, {"<only@x.org>", "", "only@x.org"},
        {"a@x (", "", "a@x"}}) {
    ParseAddress(text, name, address);
    EXPECT_EQ(name, want_name) << text;
    EXPECT_EQ(address, want_address) << text;
  }
  ParseAddress(std::string(300, 'n') + " <" + std::string(300, 'a') + ">", name, address);
  EXPECT_EQ(name.size(), 255u);
  EXPECT_EQ(address.size(), 255u);
  // Any object with a name and an address takes the parts.
  struct Mailbox {
    std::string Name, Address;
  } box;
  ParseAddress("Ann <ann@x>", box);
  EXPECT_EQ(box.Name + "|" + box.Address, "Ann|ann@x");
}

TEST(Address, RefusesAnOpenAngleBracket) {
  std::string name = "keep", address = "keep@x";
  for (const char* bad : {"Name <a@x", "a@x> <b", "<"}) {
    try {
      ParseAddress(bad, name, address);
      ADD_FAILURE() << bad;
    } catch (const EError& e) {
      EXPECT_STREQ(e.what(), "Unable to parse email address");
    }
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(address, "keep@x");
  }
}

// What people type as their own address: the mailbox alone for the
// envelope, the name apart; and whether a mail server would take it.
TEST(Address, TypedAddressesSplitAndAreChecked) {
  std::string name = "old", address;
  for (const auto& [text, want_name, want_address] :
       {std::tuple{"  J\xC3\xB6rg M\xC3\xBCller <jm@example.org> ", "J\xC3\xB6rg M\xC3\xBCller",
                   "jm@example.org"},
        {"\"Smith, J.\" <js@x.org>", "Smith, J.", "js@x.org"},
        {"js@x.org (J. Smith)", "J. Smith", "js@x.org"},
        {" js@x.org\t", "", "js@x.org"},
        {"x(y)@z.org", "", "x(y)@z.org"},
        {"Name <a@x", "", "Name <a@x"}}) {
    ParseTypedAddress(text, name, address);
    EXPECT_EQ(name, want_name) << text;
    EXPECT_EQ(address, want_address) << text;
  }
  for (const char* good :
       {"me@example.org", "Me <me@example.org>", "me@example.org (Me)", "me@localhost",
        "first.last+tag@mail.example.co.uk", "\"john doe\"@example.org", "me@[192.0.2.1]",
        "j\xC3\xB6rg@b\303\274cher.example"})
    EXPECT_TRUE(IsMailAddress(good)) << good;
  for (const char* bad :
       {"", "  ", "me", "me@", "@example.org", "me@@example.org", "me at example.org",
        "me@exa mple.org", "me@example..org", ".me@example.org", "Me <me@example.org", "Me <>",
        "me@[]", "me@b\xC3\xBC\xFF.example"})
    EXPECT_FALSE(IsMailAddress(bad)) << bad;
}

TEST(TextHelpers, UnquoteFirstTokenCut) {
  EXPECT_EQ(Unquote("  \"\"quoted\"  "), "quoted");
  EXPECT_EQ(Unquote("\""), "");
  EXPECT_EQ(FirstToken("text/plain; charset=x"), "text/plain");
  EXPECT_EQ(FirstToken("multipart/mixed boundary"), "multipart/mixed");
  EXPECT_EQ(FirstToken(std::string(1000, 'a') + ";"), std::string(1000, 'a'));
  EXPECT_EQ(FirstToken(""), "");
  EXPECT_EQ(CutShortText(std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(CutShortText(std::string(254, 'a') + "\xC3\xA9"), std::string(254, 'a'));
  EXPECT_EQ(CutShortText(std::string(253, 'a') + "\xC3\xA9"), std::string(253, 'a') + "\xC3\xA9");
  EXPECT_EQ(CutShortText(std::string(300, '\xA9')).size(), 255u);  // not UTF-8: plain cut
}

TEST(ContentType, LooksUpTheSystemRegistry) {
  EXPECT_EQ(ContentTypeOfFile("notes.txt"), "text/plain");
  EXPECT_EQ(ContentTypeOfFile("/home/u/NOTES.TXT"), "text/plain");
  EXPECT_EQ(ContentTypeOfFile("C:\\X\\page.html"), "text/html");
  EXPECT_EQ(ContentTypeOfFile("archive.zip"), "application/zip");
  EXPECT_EQ(ContentTypeOfFile("README"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("dir.d/README"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("file.unknownext"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("trailing."), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile(""), "application/octet-stream");
}

TEST(ContentType, ReadsAnyMimeTypesFile) {
  TempFolder dir;
  PutFile(dir / "mime.types", "# comment\ntext/x-first  foo bar\n\ntext/x-second foo # foo again\nbroken\n");
  EXPECT_EQ(MimeTypeOfExtension(".FOO", dir / "mime.types"), "text/x-first");
  EXPECT_EQ(MimeTypeOfExtension("bar", dir / "mime.types"), "text/x-first");
  EXPECT_EQ(MimeTypeOfExtension("broken", dir / "mime.types"), "");
  EXPECT_EQ(MimeTypeOfExtension("foo", dir / "missing"), "");
}

TEST(SaveLines, WritesCrLfAndReplaces) {
  TempFolder dir;
  PutFile(dir / "log.txt", "old content that is longer than the new one");
  SaveLinesToFile({"one", "", "three"}, dir / "log.txt");
  EXPECT_EQ(GetFile(dir / "log.txt"), "one\r\n\r\nthree\r\n");
  SaveLinesToFile({}, dir / "log.txt");
  EXPECT_EQ(GetFile(dir / "log.txt"), "");
  EXPECT_THROW(SaveLinesToFile({"x"}, dir / "no-such-folder/log.txt"), EFileError);
}
