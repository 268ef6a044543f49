// The shipped server list against its services' own documentation. The
// expected mails are written from the documented examples, line for line.
#include <gtest/gtest.h>

#include "core/request_builder.h"
#include "tests/core/request_support.h"

namespace {

class ShippedServicesTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    ShippedData({"uservers.dat", "nbinary.ext", "unbinary.txt"});
  }
};

TEST_F(ShippedServicesTest, TheFirstServerOfEachListIsARealService) {
  EXPECT_EQ(servers.cboHTTPServersPages.Text(), "query@saildocs.com");
  EXPECT_EQ(servers.cboFTPservers.Text(), "NWS.FTPMail.OPS@noaa.gov");
  for (const TServerCombo* list :
       {&servers.cboHTTPServersPages, &servers.cboHTTPServersBinary, &servers.cboFTPservers}) {
    for (const std::string& name : list->Items) EXPECT_TRUE(IsUsableServer(name)) << name;
  }
}

// saildocs.com/info: 'the body of the message contains requests of the form
// "send xxx"', for example "send info" and "send index" on two lines,
// followed by "a line of (five or more) dashes"; the subject can be anything.
TEST_F(ShippedServicesTest, SaildocsTakesSendLinesEndedByDashes) {
  const RequestMail one = Build("http://www.saildocs.com/Info");
  EXPECT_EQ(one.Recipient, "query@saildocs.com");
  EXPECT_EQ(one.Body, Lines({"send http://www.saildocs.com/Info", "-----"}));
  const auto batches = BuildRequestBatches(
      {"http://saildocs.com/info", "http://saildocs.com/index"}, servers.Choice());
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].Mail.Body,
            Lines({"send http://saildocs.com/info", "send http://saildocs.com/index", "-----"}));
  RequestMail help;
  ASSERT_TRUE(BuildHelpRequest("query@saildocs.com", help));
  EXPECT_EQ(help.Body, Lines({"send info", "-----"}));
}

// weather.gov/tg/ftpmail_using, example 1 (the zone forecast for Montgomery
// County, MD): subject anything; body open / cd data / cd forecasts /
// cd zone / cd md / get mdz009.txt / quit. A mail with "help" in the body
// brings the help file; answers come from NWS.FTPMail.OPS@noaa.gov.
TEST_F(ShippedServicesTest, TheWeatherServiceTakesItsFtpScript) {
  const RequestMail m = Build("ftp://tgftp.nws.noaa.gov/data/forecasts/zone/md/mdz009.txt");
  EXPECT_EQ(m.Recipient, "NWS.FTPMail.OPS@noaa.gov");
  EXPECT_EQ(m.Body, Lines({"open", "cd data", "cd forecasts", "cd zone", "cd md", "get mdz009.txt",
                           "quit", ""}));
  RequestMail help;
  ASSERT_TRUE(BuildHelpRequest(m.Recipient, help));
  EXPECT_EQ(help.Body, "help");
  EXPECT_EQ(servers.Choice().FtpReply, "NWS.FTPMail.OPS@noaa.gov");
}

}  // namespace
