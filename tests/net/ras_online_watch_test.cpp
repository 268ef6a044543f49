// The connectivity watch against the NetworkManager mock on a private bus
// (with the dial-up tests, whose bus and Qt application it shares).
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "net/online_watch.h"
#include "net_support.h"
#include "ras_mock.h"

namespace {

// Sets NetworkManager's state and sends its StateChanged signal.
void SetNmState(const NmMock& nm, unsigned state) {
  const std::string s = "dbus.UInt32(" + std::to_string(state) + ")";
  nm.Py("NM.Set('org.freedesktop.NetworkManager', 'State', " + s +
        ")\n"
        "NM.EmitSignal('org.freedesktop.NetworkManager', 'StateChanged', 'u', [" +
        s + "])\n");
}

// Spins the event queue until `count` reaches `want` or five seconds pass.
void WaitForCount(const int& count, int want) {
  QElapsedTimer t;
  t.start();
  while (count < want && t.elapsed() < 5000) SpinFor(20);
}

TEST(OnlineWatchTest, FullConnectivityAfterALossIsOnline) {
  NmMock nm;
  SetNmState(nm, TOnlineWatch::kConnectedGlobal);
  TOnlineWatch watch(nm.Bus());
  ASSERT_TRUE(watch.Watching());
  int online = 0;
  QObject::connect(&watch, &TOnlineWatch::Online, [&] { ++online; });

  SetNmState(nm, TOnlineWatch::kConnectedGlobal);  // no change
  SetNmState(nm, 20);                              // disconnected
  SetNmState(nm, TOnlineWatch::kConnectedGlobal);
  WaitForCount(online, 1);
  EXPECT_EQ(online, 1);

  SetNmState(nm, 60);  // site only: not yet the way out
  SpinFor(200);
  EXPECT_EQ(online, 1);
  SetNmState(nm, TOnlineWatch::kConnectedGlobal);
  WaitForCount(online, 2);
  EXPECT_EQ(online, 2);
}

TEST(OnlineWatchTest, WithoutNetworkManagerNothingIsWatched) {
  NmMock nm(false);
  TOnlineWatch watch(nm.Bus());
  EXPECT_FALSE(watch.Watching());
}

}  // namespace
