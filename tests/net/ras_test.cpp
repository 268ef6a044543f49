// TagRas against the NetworkManager mock on a private bus.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QTimer>

#include "net/ras.h"
#include "net_support.h"
#include "ras_mock.h"

namespace {

constexpr char kDevice[] = "/org/freedesktop/NetworkManager/Devices/eth0";

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class RasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRasMessageBoxHook([this](const std::string& text) { boxes.push_back(text); });
  }
  void TearDown() override {
    SetRasMessageBoxHook({});
    SetRasErrorHook({});
  }

  void Record(TagRas& ras) {
    ras.OnStatusChange = [this](TagRas&, const std::string& s) { statuses.push_back(s); };
    ras.OnDisconnected = [this](TagRas&) { ++disconnects; };
  }

  std::vector<std::string> boxes;
  std::vector<std::string> statuses;
  int disconnects = 0;
};

// The profile Home, whose dials come up on eth0 as the line `dial` and stay
// activating until the test moves them on.
class RasDialTest : public RasTest {
 protected:
  void SetUp() override {
    RasTest::SetUp();
    Record(ras);
    ras.SetService("Home");
  }
  NmMock nm;
  const std::string home = nm.AddProfile("Home");
  const std::string dial = [this] {
    nm.DialOnEth0(1);
    return "/org/freedesktop/NetworkManager/ActiveConnection/dial";
  }();
  TagRas ras{nm.Bus()};
};

TEST_F(RasTest, DefaultsAndNoNetworkManagerMeansNoRas) {
  NmMock nm(false);
  TagRas ras(nm.Bus());
  // ForceService and RemovePassword default to on: the tests below rely on it.
  EXPECT_FALSE(ras.MinimizeAtConnect());
  EXPECT_EQ(ras.TimeOut(), 120);
  EXPECT_FALSE(ras.Connected() || ras.Canceled() || ras.TimedOut() || ras.DialedHere());

  EXPECT_FALSE(ras.NetworkManagerPresent());
  EXPECT_TRUE(ras.Entries().empty());
  EXPECT_FALSE(ras.RasAvailable());
  ras.SetService("Home");
  EXPECT_EQ(boxes,
            std::vector<std::string>{"TagRas component was unable to detect\nRAS on your system."});
  EXPECT_EQ(ras.Service(), "");
  ras.SetService("");
  EXPECT_EQ(boxes.size(), 1u);

  EXPECT_FALSE(ras.FindConnection());
  const auto start = Clock::now();
  ras.Dial();
  EXPECT_LT(SecondsSince(start), 0.5);
  EXPECT_FALSE(ras.DialedHere());
  ras.Cancel();
  EXPECT_TRUE(ras.Canceled());
}

TEST_F(RasTest, EntriesAreProfilesAndServiceSetterChecksThem) {
  NmMock nm;
  nm.AddProfile("Home");
  nm.AddProfile("Work");
  TagRas ras(nm.Bus());
  EXPECT_TRUE(ras.NetworkManagerPresent());
  EXPECT_EQ(ras.Entries(), (std::vector<std::string>{"Home", "Work"}));
  EXPECT_TRUE(ras.RasAvailable());

  ras.SetService("work");  // found without regard to case, kept in the entry's spelling
  EXPECT_EQ(ras.Service(), "Work");
  nm.AddProfile("Later");
  ras.SetService("Later");  // the setter reads the entries again
  EXPECT_EQ(ras.Service(), "Later");
  EXPECT_TRUE(boxes.empty());

  ras.SetService("Nowhere");
  EXPECT_EQ(boxes, std::vector<std::string>{"Invalid service name"});
  EXPECT_EQ(ras.Service(), "");

  ras.SetService("Home");
  ras.Dial();  // the template activates at once
  ASSERT_TRUE(ras.Connected());
  ras.SetService("Work");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], "This property can be set only before\nestablishing the connection");
  EXPECT_EQ(ras.Service(), "Home");
  ras.SetService("");
  EXPECT_EQ(ras.Service(), "");
}

// A line already up is used, whether or not a service is named, and is left
// up by a hang-up or a cancel.
TEST_F(RasTest, LineAlreadyUpIsUsedAndLeftUp) {
  NmMock nm;
  const std::string work = nm.AddProfile("Work");
  const std::string home = nm.AddProfile("Home");
  nm.AddActive(work, "0");
  const std::string homeLine = nm.AddActive(home, "1");
  for (const std::string service : {"", "Home"}) {
    TagRas ras(nm.Bus());
    Record(ras);
    ras.SetService(service);
    ras.Dial();
    EXPECT_TRUE(ras.Connected());
    EXPECT_FALSE(ras.DialedHere());
    if (service.empty()) {
      ras.HangUp();
    } else {
      EXPECT_EQ(ras.DialHandle(), homeLine);
      ras.Cancel();
      EXPECT_TRUE(ras.Canceled());
      EXPECT_EQ(ras.DialHandle(), "");
    }
    EXPECT_FALSE(ras.Connected());
  }
  EXPECT_EQ(nm.Activated(), "");
  EXPECT_EQ(nm.Deactivated(), "");
  EXPECT_EQ(disconnects, 0);
  EXPECT_TRUE(statuses.empty());
}

TEST_F(RasTest, ForceServiceDecidesWhetherAnotherLineWithAnAddressCounts) {
  NmMock nm;
  const std::string lo = nm.AddProfile("lo", "loopback");
  const std::string other = nm.AddProfile("Other");
  const std::string home = nm.AddProfile("Home");
  const std::string work = nm.AddProfile("Work");
  const std::string loLine = nm.AddActive(lo, "0");
  nm.SetIp4(loLine, "127.0.0.1");
  nm.AddActive(other, "1");  // up, but without an address
  const std::string homeLine = nm.AddActive(home, "2");
  nm.SetIp4(homeLine, "10.1.2.3");

  {
    TagRas ras(nm.Bus());
    ras.SetService("Work");
    ras.SetForceService(false);
    ras.Dial();
    EXPECT_TRUE(ras.Connected());
    EXPECT_FALSE(ras.DialedHere());
    EXPECT_EQ(ras.DialHandle(), homeLine);
    EXPECT_EQ(nm.Activated(), "");
  }
  {
    TagRas ras(nm.Bus());
    ras.SetService("Work");
    ras.Dial();
    EXPECT_TRUE(ras.DialedHere());
    EXPECT_EQ(nm.Activated(), work);
  }
}

TEST_F(RasDialTest, DialReportsEachStateUntilConnectedAndHangUpTakesItDown) {
  ras.OnStatusChange = [&](TagRas& sender, const std::string& s) {
    statuses.push_back(s);
    if (statuses.size() == 1) {
      nm.Py(
          "for st in (40, 50, 60, 70, 80):\n"
          "    device_state('" +
          std::string(kDevice) +
          "', st)\n"
          "set_state('" +
          sender.DialHandle() + "', 2)\n");
    }
  };
  ras.Dial();
  EXPECT_EQ(statuses, (std::vector<std::string>{
                          "Opening the connection...", "Connecting the device...",
                          "Connecting the device...", "Verifying user name and password...",
                          "Authenticated; getting a network address...",
                          "Logging on to the network...", "Connected"}));
  EXPECT_TRUE(ras.Connected());
  EXPECT_TRUE(ras.DialedHere());
  EXPECT_EQ(ras.DialHandle(), dial);
  EXPECT_EQ(nm.Activated(), home);

  ras.Dial();  // a line it holds is kept, not activated again
  EXPECT_EQ(nm.Activated(), home);
  EXPECT_EQ(ras.DialHandle(), dial);

  ras.HangUp();
  EXPECT_EQ(nm.Deactivated(), dial);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(ras.Connected());
  EXPECT_EQ(ras.DialHandle(), "");
  ras.Cancel();  // nothing of its own is left to hang up
  EXPECT_EQ(nm.Deactivated(), dial);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(RasDialTest, DialThatFailsOnTheLineHangsUpAndRaises) {
  ras.OnStatusChange = [&](TagRas&, const std::string& s) {
    statuses.push_back(s);
    if (statuses.size() == 1)
      nm.Py("device_state('" + std::string(kDevice) + "', 40)\nset_state('" + dial + "', 4, 10)\n");
  };
  EXPECT_EQ(Raised<ERASError>([&] { ras.Dial(); }), "The user name or password was refused");
  EXPECT_EQ(statuses, (std::vector<std::string>{"Opening the connection...",
                                                "Connecting the device...", ""}));
  EXPECT_EQ(ras.LastError(), 10);
  EXPECT_FALSE(ras.Connected());
  EXPECT_EQ(nm.Deactivated(), dial);
  EXPECT_EQ(disconnects, 1);

  // A reason without words of its own.
  statuses.clear();
  ras.OnStatusChange = [&](TagRas&, const std::string& s) {
    statuses.push_back(s);
    if (statuses.size() == 1) nm.Py("set_state('" + dial + "', 4, 77)\n");
  };
  EXPECT_EQ(Raised<ERASError>([&] { ras.Dial(); }), "RAS error no 77");
}

TEST_F(RasDialTest, RefusedActivationCarriesNetworkManagersText) {
  nm.Py(
      "NM.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', 'ooo', 'o',"
      " \"raise dbus.exceptions.DBusException('No suitable device found for this connection.',"
      " name='org.freedesktop.NetworkManager.UnknownDevice')\")\n");
  EXPECT_EQ(Raised<ERASError>([&] { ras.Dial(); }),
            "No suitable device found for this connection.");
  EXPECT_NE(ras.LastError(), 0);
  EXPECT_FALSE(ras.Connected());
  EXPECT_EQ(nm.Deactivated(), "");
  EXPECT_EQ(disconnects, 0);  // there was no line to take down
}

TEST_F(RasDialTest, TimeOutEndsTheDialAndZeroMeansNoLimit) {
  ras.SetTimeOut(1);
  auto start = Clock::now();
  EXPECT_EQ(Raised<ETimedOutError>([&] { ras.Dial(); }), "Operation timed out");
  const double took = SecondsSince(start);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 5.0);
  EXPECT_TRUE(ras.TimedOut());
  EXPECT_EQ(nm.Deactivated(), dial);

  // With no limit the dial outlasts several ticks of the timer.
  ras.SetTimeOut(0);
  bool scheduled = false;  // one timer only: a later one would outlive the test
  ras.OnStatusChange = [&](TagRas& sender, const std::string&) {
    const std::string line = sender.DialHandle();
    if (line.empty() || sender.Connected() || scheduled) return;
    scheduled = true;
    QTimer::singleShot(2200, [this, line] { nm.Py("set_state('" + line + "', 2)\n"); });
  };
  start = Clock::now();
  ras.Dial();
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.TimedOut());
  EXPECT_GE(SecondsSince(start), 2.0);
}

TEST_F(RasDialTest, CancelDuringTheDialHangsUpAndRaises) {
  QTimer::singleShot(300, [this] { ras.Cancel(); });  // the dial stays activating
  EXPECT_EQ(Raised<ECanceledError>([&] { ras.Dial(); }), "Operation has been canceled");
  EXPECT_TRUE(ras.Canceled());
  EXPECT_FALSE(ras.Connected());
  EXPECT_EQ(nm.Deactivated(), dial);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(RasTest, LineThatDropsLaterReachesTheErrorHookAndMinimizePauses) {
  NmMock nm;
  nm.AddProfile("Home");
  TagRas ras(nm.Bus());
  ras.SetService("Home");
  ras.SetMinimizeAtConnect(true);
  const auto start = Clock::now();
  ras.Dial();
  EXPECT_GE(SecondsSince(start), 0.95);
  ASSERT_TRUE(ras.Connected());

  std::string reported;
  QEventLoop loop;
  SetRasErrorHook([&](std::exception_ptr p) {
    try {
      std::rethrow_exception(p);
    } catch (const ERASError& e) {
      reported = e.what();
    }
    loop.quit();
  });
  nm.Py("set_state('" + ras.DialHandle() + "', 4, 3)\n");
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(reported, "The device of the connection was disconnected");
  EXPECT_EQ(ras.LastError(), 3);
}

TEST_F(RasTest, PasswordIsSuppliedWhenTheProfileStoresNone) {
  NmMock nm;
  const std::string gsm = nm.Py(
      "out = SETTINGS.SettingsAddConnection({'connection': {'id': 'Mobile', 'type': 'gsm'},"
      " 'gsm': {'apn': 'internet'}})\n"
      "objects[out].AddMethod('org.freedesktop.NetworkManager.Settings.Connection', "
      "'UpdateUnsaved',"
      " 'a{sa{sv}}', '', 'self.ConnectionUpdate(self, args[0])')\n");
  const std::string updates =
      "out = ' '.join('%s:%s' % (c[1], c[2][0]['gsm'].get('password', '-'))"
      " for c in objects['" +
      gsm + "'].call_log if c[1].startswith('Update'))";
  nm.DialOnEth0(2);
  TagRas ras(nm.Bus());
  ras.SetService("Mobile");
  ras.SetPassword("s3cret");

  ras.Dial();  // RemovePassword: used for the dial, saved back without it
  EXPECT_TRUE(ras.Connected());
  EXPECT_EQ(nm.Py(updates), "UpdateUnsaved:s3cret Update:-");
  ras.HangUp();

  nm.Py("objects['" + gsm + "'].call_log = []");
  ras.SetRemovePassword(false);
  ras.Dial();
  EXPECT_EQ(nm.Py(updates), "Update:s3cret");
  ras.HangUp();

  // A password the profile stores is left alone.
  nm.Py("objects['" + gsm +
        "'].call_log = []\n"
        "objects['" +
        gsm +
        "'].AddMethod('org.freedesktop.NetworkManager.Settings.Connection', 'GetSecrets',"
        " 's', 'a{sa{sv}}', \"ret = {'gsm': {'password': 'stored'}}\")\n");
  ras.Dial();
  EXPECT_EQ(nm.Py(updates), "");
}

}  // namespace
