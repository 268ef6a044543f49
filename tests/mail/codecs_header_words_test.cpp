#include <gtest/gtest.h>

#include <string>

#include "tests/mail/helpers.h"
#include "mail/codecs.h"
#include "mail/headers.h"
#include "platform/errors.h"

using namespace mail_test;

TEST(HeaderWords, DecodesBothFormsToUtf8) {
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?Caf=E9?="), "Caf\xC3\xA9");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?B?Q2Fmw6k=?="), "Caf\xC3\xA9");
  EXPECT_EQ(DecodeHeaderWords("=?UTF-8?b?Q2Fmw6k=?= and =?utf-8?q?x?="), "Caf\xC3\xA9 and x");
  EXPECT_EQ(DecodeHeaderWords("no words here"), "no words here");
  EXPECT_EQ(DecodeHeaderWords(""), "");
  // Encoded text that starts with "=" right after the Q.
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?=E9t=E9?="), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(DecodeHeaderWords("=?koi8-r?B?8NLJ18XU?="),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  // A charset iconv does not know keeps the bytes.
  EXPECT_EQ(DecodeHeaderWords("=?x-unknown?Q?=E9?="), "\xE9");
  // Adjacent words of one charset are joined before conversion: a
  // character split between them survives.
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?=C3?= =?utf-8?Q?=A9?="), "\xC3\xA9");
}

// Blanks between an encoded word and plain text are text; between two
// encoded words they are folding and go.
TEST(HeaderWords, BlanksAroundWords) {
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?Caf=E9?= Bar"), "Caf\xC3\xA9 Bar");
  EXPECT_EQ(DecodeHeaderWords("Re: =?utf-8?q?a?="), "Re: a");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?a?= =?utf-8?q?b?="), "ab");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?a?=  \t=?utf-8?q?b?= c"), "ab c");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?a_b?="), "a b");
}

// "_" means a blank only inside Q text.
TEST(HeaderWords, UnderscoresOutsideQTextStay) {
  EXPECT_EQ(DecodeHeaderWords("report_2024 =?utf-8?q?x?="), "report_2024 x");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?a=5Fb?="), "a_b");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?b?YV9i?="), "a_b");
}

// A malformed word stays as it was written, as other readers leave it.
TEST(HeaderWords, MalformedWordsStayAsWritten) {
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?unclosed"), "=?utf-8?q?unclosed");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?a?= =?utf-8?q?unclosed"), "a =?utf-8?q?unclosed");
  EXPECT_EQ(DecodeHeaderWords("=?"), "=?");
  EXPECT_EQ(DecodeHeaderWords("=?x"), "=?x");
  EXPECT_EQ(DecodeHeaderWords("=?=?=?"), "=?=?=?");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?X?abc?= =?utf-8?q?d?="), "=?utf-8?X?abc?= d");
  EXPECT_EQ(DecodeHeaderWords("=?a?=b?=?utf-8?q?c?="), "=?a?=b?c");
  // A word that decodes to another encoded word is not decoded twice.
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?q?=3D=3Fx=3Fq=3Fy=3F=3D?="), "=?x?q?y?=");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?b?not base64?= x"), "=?utf-8?b?not base64?= x");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?b?!!!!?= =?utf-8?q?d?="), "=?utf-8?b?!!!!?= d");
}

TEST(HeaderWords, CutsTheResultAt255) {
  std::string value = "=?utf-8?q?" + std::string(100, 'a') + "?=" + std::string(300, 'b');
  const std::string decoded = DecodeHeaderWords(value);
  EXPECT_EQ(decoded, std::string(100, 'a') + std::string(155, 'b'));
  // A cut never splits a UTF-8 sequence.
  value = std::string(254, 'x') + "=?utf-8?q?=C3=A9?=";
  EXPECT_EQ(DecodeHeaderWords(value), std::string(254, 'x'));
}

// Encoded words written by Python's email.header decode to the text Python
// put in, as UTF-8.
TEST(HeaderWords, CrossChecksWithPythonEmailHeader) {
  SKIP_WITHOUT_LINUX_PEER("Python's email package");
  TempFolder dir;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " TOLVANE_SOURCE_DIR
                       "/tests/mail/codecs_header_words_peer.py > " +
                       Quote(dir / "cases.txt")),
            0);
  int cases = 0;
  for (const std::string& row : SplitLines(GetFile(dir / "cases.txt"))) {
    const std::size_t tab = row.find('\t');
    ASSERT_NE(tab, std::string::npos);
    const std::string folded = Unhex(row.substr(0, tab));
    const std::string expected = Unhex(row.substr(tab + 1));
    // As a header: the folded lines are entries of their own.
    TmsHeaders headers;
    for (const std::string& l : SplitLines(folded))
      headers.push_back((headers.empty() ? "Subject: " : "") + l);
    headers.push_back("To: someone@example.org");
    EXPECT_EQ(GetHeaderValue(headers, "Subject"), expected) << folded;
    ++cases;
  }
  EXPECT_GT(cases, 40);
}
