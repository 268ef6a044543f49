// A socket linked to TagRas dials before it opens and hangs up after it
// closes, around a delivery to Debian's aiosmtpd on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ras.h"
#include "net_support.h"
#include "platform/errors.h"
#include "ras_mock.h"

namespace {

TEST(RasLinkTest, LinkedSocketDialsAndHangsUpAroundOneDelivery) {
  NmMock nm;
  const std::string home = nm.AddProfile("Home");
  nm.DialOnEth0(2);
  const std::string dialled = "/org/freedesktop/NetworkManager/ActiveConnection/dial";
  RealSmtpServer server;
  SmtpClient c(server.Address());
  RequestMessage(c.message);
  std::vector<std::string> order;
  {
    TagRas ras(nm.Bus());
    ras.SetService("Home");
    c.smtp.SetRAS(&ras);
    c.smtp.OnOpen = [&](TagSocket&) {
      order.push_back(ras.Connected() ? "open, line up" : "open, no line");
    };
    c.smtp.OnClosed = [&](TagSocket&) { order.push_back("closed"); };
    ras.OnDisconnected = [&](TagRas&) { order.push_back("hung up"); };

    c.smtp.Send();
    EXPECT_EQ(order, (std::vector<std::string>{"open, line up", "closed", "hung up"}));
    EXPECT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(nm.Activated(), home);
    EXPECT_EQ(nm.Deactivated(), dialled);
    EXPECT_FALSE(ras.Connected());

    // A failing open hangs up the line it dialled.
    const std::string address = c.smtp.Server;
    c.smtp.Server = "127.0.0.1";
    c.smtp.ServiceName.clear();
    EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Connect(); }), "Service name is required");
    EXPECT_EQ(nm.Activated(), home + " " + home);
    EXPECT_EQ(nm.Deactivated(), dialled + " " + dialled);
    EXPECT_FALSE(ras.Connected());
    c.smtp.Server = address;

    // A line that was up before the request stays up after it.
    nm.AddActive(home, "before");
    order.clear();
    c.smtp.Send();
    EXPECT_EQ(order, (std::vector<std::string>{"open, line up", "closed"}));
    EXPECT_EQ(server.Messages().size(), 2u);
    EXPECT_EQ(nm.Activated(), home + " " + home);
    EXPECT_EQ(nm.Deactivated(), dialled + " " + dialled);
    EXPECT_EQ(ras.DialHandle(), "");
    EXPECT_EQ(c.smtp.RAS(), &ras);
  }
  EXPECT_EQ(c.smtp.RAS(), nullptr);  // forgotten when the component goes
}

}  // namespace
