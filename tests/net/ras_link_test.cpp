// A socket linked to TagRas dials before it opens and hangs up after it
// closes, around a delivery to Debian's aiosmtpd on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ras.h"
#include "net/smtp.h"
#include "net_support.h"
#include "ras_mock.h"

namespace {

void Request(TmsMessage& m) {
  m.Sender().SetAddress("user@example.org");
  m.Recipients().AddAddress("www@pages.example", "");
  m.SetSubject("Request");
  m.Body() = {"SEND http://www.example.com/"};
}

TEST(RasLinkTest, LinkedSocketDialsAndHangsUpAroundOneDelivery) {
  NmMock nm;
  const std::string home = nm.AddProfile("Home");
  // Activations come up at once on eth0; deactivating removes them.
  nm.Py(
      "self.AddEthernetDevice('eth0', 'eth0', 30)\n"
      "NM.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', 'ooo', 'o',"
      " \"ret = "
      "dbus.ObjectPath(self.AddActiveConnection(['/org/freedesktop/NetworkManager/Devices/eth0'],"
      " args[0], '/', 'dial', dbus.UInt32(2)))\")\n");
  RealSmtpServer server;

  TmsSMTP smtp;
  TmsMessage message;
  Request(message);
  smtp.SetWinsockLoaded(true);
  smtp.Server = server.Address();
  smtp.TimeOut = 20;
  smtp.MailMessage = &message;
  std::vector<std::string> order;
  {
    TagRas ras(nm.Bus());
    ras.SetService("Home");
    smtp.SetRAS(&ras);
    smtp.OnOpen = [&](TagSocket&) {
      order.push_back(ras.Connected() ? "open, line up" : "open, no line");
    };
    smtp.OnClosed = [&](TagSocket&) { order.push_back("closed"); };
    ras.OnDisconnected = [&](TagRas&) { order.push_back("hung up"); };

    smtp.Send();
    EXPECT_EQ(order, (std::vector<std::string>{"open, line up", "closed", "hung up"}));
    EXPECT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(nm.Activated(), home);
    EXPECT_EQ(nm.Deactivated(), "/org/freedesktop/NetworkManager/ActiveConnection/dial");
    EXPECT_FALSE(ras.Connected());

    // A line that was up before the request stays up after it.
    const std::string before = nm.AddActive(home, "before");
    order.clear();
    smtp.Send();
    EXPECT_EQ(order, (std::vector<std::string>{"open, line up", "closed"}));
    EXPECT_EQ(server.Messages().size(), 2u);
    EXPECT_EQ(nm.Activated(), home);
    EXPECT_EQ(nm.Deactivated(), "/org/freedesktop/NetworkManager/ActiveConnection/dial");
    EXPECT_EQ(ras.DialHandle(), "");
    EXPECT_EQ(smtp.RAS(), &ras);
  }
  EXPECT_EQ(smtp.RAS(), nullptr);  // forgotten when the component goes
}

}  // namespace
