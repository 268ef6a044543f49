// The request stack with a dial-up connection named in TOLVANE.INI: the
// NetworkManager mock on a private bus, Debian's aiosmtpd on loopback, the
// real history files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/request_stack.h"
#include "net/ras.h"
#include "tests/core/dispatch_support.h"
#include "tests/net/net_support.h"
#include "tests/net/ras_mock.h"

namespace {

constexpr char kDialled[] = "/org/freedesktop/NetworkManager/ActiveConnection/dial";

class DialupTest : public DispatchFolderTest {
 protected:
  void SetUp() override {
    DispatchFolderTest::SetUp();
    std::filesystem::create_directories(dir / "config/tolvane");
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    Settings("[General]\r\nDialEntry=home\r\n");  // matched without regard to case
    settings.Smtp = smtp.Address();
    // Made once the program folder is the test's own.
    stack.emplace(ui, read_settings, read_servers);
    stack->Dialup.UseBus(nm.Bus());
    stack->Load();
    ASSERT_EQ(stack->History.Path(), dir / "History.Dat");
    stack->Smtp.TimeOut = 10;
    nm.DialOnEth0(2);
    // What the line and the server had seen when each request ended.
    stack->Dispatcher.OnDispatched = [this](const std::string& url, TRequestDispatcher::TOutcome) {
      steps.push_back(url + " sent=" + std::to_string(smtp.Messages().size()) +
                      " dialled=" + nm.Activated() + " down=" + nm.Deactivated());
    };
  }
  void TearDown() override {
    stack.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    DispatchFolderTest::TearDown();
  }
  void Settings(const std::string& text) { PutFile(dir / "config/tolvane/TOLVANE.INI", text); }

  NmMock nm;
  const std::string home = nm.AddProfile("Home");
  RealSmtpServer smtp;
  std::optional<TRequestStack> stack;
  std::vector<std::string> steps;
};

TEST_F(DialupTest, ThreeRequestsInOneRunDialOnceAndHangUpAfterTheLast) {
  {
    const TSendRun run(stack->Dialup);
    for (const char* url : {"http://h/1.html", "http://h/2.html", "http://h/3.html"})
      stack->Dispatcher.DispatchRequest(url, true);
    EXPECT_EQ(nm.Deactivated(), "");
  }
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "http://h/1.html sent=1 dialled=" + home + " down=",
                       "http://h/2.html sent=2 dialled=" + home + " down=",
                       "http://h/3.html sent=3 dialled=" + home + " down=",
                   }));
  EXPECT_EQ(nm.Deactivated(), kDialled);
  ASSERT_EQ(stack->History.Count(), 3);

  // Each request's dialogue is on record, beside a History.Dat that a fresh
  // reader takes as it always did.
  THistory fresh(stack->History.Path());
  fresh.Load();
  EXPECT_EQ(fresh.Items(), stack->History.Items());
  std::uint64_t sum = 0;
  for (int i = 0; i < 3; ++i) {
    const auto bytes = fresh.Bytes(i);
    ASSERT_TRUE(bytes.has_value());
    // At least the mail itself went out; far less than ten of them.
    const std::size_t mail = smtp.Messages()[2 - i].data.size();
    EXPECT_GT(*bytes, mail);
    EXPECT_LT(*bytes, mail * 10);
    sum += *bytes;
  }
  EXPECT_EQ(stack->MonthBytes(), sum);

  // Outside a run the line comes down after each mail.
  stack->Dispatcher.DispatchRequest("http://h/4.html", true);
  EXPECT_EQ(nm.Activated(), home + " " + home);
  EXPECT_EQ(nm.Deactivated(), std::string(kDialled) + " " + kDialled);
}

TEST_F(DialupTest, ALineThatWasUpOrIsToStayUpIsNotTakenDown) {
  nm.AddActive(home, "before");
  {
    const TSendRun run(stack->Dialup);
    stack->Dispatcher.DispatchRequest("http://h/1.html", true);
  }
  EXPECT_EQ(steps, std::vector<std::string>{"http://h/1.html sent=1 dialled= down="});

  // HangUp=0: the line brought up for the send stays up after it.
  const std::string work = nm.AddProfile("Work");
  Settings("[General]\r\nDialEntry=Work\r\nHangUp=0\r\n");
  {
    const TSendRun run(stack->Dialup);
    stack->Dispatcher.DispatchRequest("http://h/2.html", true);
  }
  EXPECT_EQ(steps.back(), "http://h/2.html sent=2 dialled=" + work + " down=");
  EXPECT_EQ(nm.Deactivated(), "");
}

}  // namespace
