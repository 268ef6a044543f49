// The optional server keys: a subject that carries the address, a closing
// line, several requests a mail, and the help request.
#include <gtest/gtest.h>

#include "core/request_builder.h"
#include "tests/core/request_support.h"

namespace {

class BatchTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    PutFile(dir / "empty.tpl", "");
    PutFile(dir / "nbinary.ext", "htm\r\nhtml\r\n");
    PutFile(dir / "two.tpl", "BEGIN\r\nGET \xFE\r\n");
    Servers(
        "[lines@host.test]\r\nType=0\r\nSubject=pages\r\nverbPagesHttp=GET\r\nEnd=quit\r\n"
        "MaxPerMail=3\r\nHelp=HELP ME\r\n"
        "[subject@host.test]\r\nType=1\r\nSubject=url \xC3\xBE\r\nfileBinaryHttp=empty.tpl\r\n"
        "MaxPerMail=9\r\nHelp=help\r\n"
        "[ftp@host.test]\r\nType=2\r\nopen=open\r\nMaxPerMail=2\r\n");
  }

  std::vector<std::string> Pages(int count) {
    std::vector<std::string> urls;
    for (int i = 0; i < count; ++i) urls.push_back("http://h.test/" + std::to_string(i));
    return urls;
  }
};

TEST_F(BatchTest, TheSubjectMarkerTakesTheAddressAndAllowsOneRequestAMail) {
  const RequestMail m = Build("http://h.test/a.zip#x");
  EXPECT_EQ(m.Recipient, "subject@host.test");
  EXPECT_EQ(m.Subject, "url http://h.test/a.zip");
  EXPECT_EQ(m.Body, "");
  EXPECT_EQ(ServerOptions("subject@host.test").MaxPerMail, 1);
  EXPECT_EQ(
      BuildRequestBatches({"http://h.test/a.zip", "http://h.test/b.zip"}, servers.Choice()).size(),
      2u);
}

TEST_F(BatchTest, TheEndLineClosesEveryMailOnce) {
  EXPECT_EQ(Build("http://h.test/p.html").Body, "GET http://h.test/p.html\r\nquit");
  const auto batches = BuildRequestBatches(Pages(7), servers.Choice());
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].Mail.Body,
            Lines({"GET http://h.test/0", "GET http://h.test/1", "GET http://h.test/2", "quit"}));
  EXPECT_EQ(batches[0].Urls, (std::vector<std::string>(Pages(3))));
  EXPECT_EQ(batches[2].Mail.Body, "GET http://h.test/6\r\nquit");
  // One request in a mail of its own is exactly the single request.
  EXPECT_EQ(batches[2].Mail.Body, Build("http://h.test/6").Body);
}

TEST_F(BatchTest, RequestsGroupByServerInTheOrderFirstMet) {
  const auto batches = BuildRequestBatches({"http://h.test/a.zip", "http://h.test/p",
                                            "not a request", "ftp://f.test/x", "http://h.test/q"},
                                           servers.Choice());
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].Mail.Recipient, "subject@host.test");
  EXPECT_EQ(batches[1].Urls, (std::vector<std::string>{"http://h.test/p", "http://h.test/q"}));
  EXPECT_EQ(batches[2].Mail.Recipient, "ftp@host.test");
}

TEST_F(BatchTest, BlocksOfSeveralLinesAreSetApartByAnEmptyLine) {
  Servers("[lines@host.test]\r\nType=0\r\nfilePagesHttp=two.tpl\r\nMaxPerMail=3\r\nEnd=END\r\n");
  const auto batches = BuildRequestBatches(Pages(2), servers.Choice());
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].Mail.Body,
            Lines({"BEGIN", "GET http://h.test/0", "", "BEGIN", "GET http://h.test/1", "END"}));
}

TEST_F(BatchTest, MaxPerMailIsClampedAndDefaultsToOne) {
  using Sizes = std::vector<std::size_t>;
  EXPECT_EQ(SplitIntoMails(7, 3), (Sizes{3, 3, 1}));
  EXPECT_EQ(SplitIntoMails(2, 0), (Sizes{1, 1}));
  EXPECT_EQ(SplitIntoMails(250, 1000), (Sizes{100, 100, 50}));
  EXPECT_EQ(ServerOptions("ftp@host.test").MaxPerMail, 2);
  Servers("[lines@host.test]\r\nType=0\r\nMaxPerMail=-4\r\n[b@host.test]\r\nType=1\r\n");
  EXPECT_EQ(ServerOptions("lines@host.test").MaxPerMail, 1);
  EXPECT_EQ(ServerOptions("b@host.test").MaxPerMail, 1);
  EXPECT_EQ(BuildRequestBatches(Pages(2), servers.Choice()).size(), 2u);
}

TEST_F(BatchTest, TheHelpRequestGoesInTheBodyOrTheSubject) {
  RequestMail m;
  ASSERT_TRUE(BuildHelpRequest("lines@host.test", m));
  EXPECT_EQ(m.Subject + "|" + m.Body, "pages|HELP ME\r\nquit");
  ASSERT_TRUE(BuildHelpRequest("subject@host.test", m));
  EXPECT_EQ(m.Subject + "|" + m.Body, "help|");
  EXPECT_FALSE(BuildHelpRequest("ftp@host.test", m));
  EXPECT_FALSE(BuildHelpRequest("", m));
}

}  // namespace
