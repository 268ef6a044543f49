// The binding's three failures and the error mapping.
#include <cerrno>
#include <netdb.h>

#include "net_support.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

class LayerWithout : public TPosixWinsock {
 public:
  explicit LayerWithout(std::string missing) : missing_(std::move(missing)) {}
  bool Exports(std::string_view name) const override {
    return name != missing_ && TPosixWinsock::Exports(name);
  }

 private:
  std::string missing_;
};

class PlainSocket : public TmsMailBase {
 public:
  void CheckReply(const std::string&) override {}
  void Login() override { ConnectSocket(); }
  void Logout() override {}
};

using BindingTest = NetTest;

TEST_F(BindingTest, MissingLayerIsReportedAndRetried) {
  PlainSocket s;
  Winsock().SetLoader([] { return std::unique_ptr<TWinsockLayer>(); });
  EXPECT_EQ(Raised<EWinsockDLLError>([&] { s.SetWinsockLoaded(true); }), "Winsock not found");
  EXPECT_FALSE(s.WinsockLoaded());
  // A later load tries again.
  Winsock().SetLoader(nullptr);
  s.SetWinsockLoaded(true);
  EXPECT_TRUE(s.WinsockLoaded());
  s.SetWinsockLoaded(false);
  EXPECT_FALSE(s.WinsockLoaded());
}

TEST_F(BindingTest, UnloadedLayerFailsAtStartupAfterOnOpen) {
  PlainSocket s;
  bool opened = false;
  s.OnOpen = [&](TagSocket&) { opened = true; };
  s.Server = "127.0.0.1:25";
  EXPECT_EQ(Raised<EWinsockDLLError>([&] { s.Open(); }), "Winsock is not loaded");
  EXPECT_TRUE(opened);
  EXPECT_FALSE(s.Connected());
}

// A dotted address needs no look-up; a name does.
TEST_F(BindingTest, MissingOperationIsReportedAtFirstUse) {
  ScriptedServer server([](Peer& p) { p.WaitClosed(); });
  PlainSocket s;
  Winsock().SetLoader([] { return std::make_unique<LayerWithout>("WSAAsyncGetHostByName"); });
  s.SetWinsockLoaded(true);  // loading succeeds
  s.Server = server.Address();
  s.Connect();
  s.Close();
  s.Server = "localhost:" + std::to_string(server.port());
  EXPECT_EQ(Raised<EWinsockDLLError>([&] { s.Open(); }),
            "Function WSAAsyncGetHostByName not found");
}

TEST(ErrorMapping, SystemErrorsReadAsWinsockTexts) {
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(ECONNREFUSED)), "[10061] Connection refused");
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(EHOSTUNREACH)), "[10065] No Route to Host");
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(ECONNRESET)), "[10054] Connection reset by peer");
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(ETIMEDOUT)), "[10060] Connection timed out");
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(EAGAIN)),
            "[10035] Resource temporarily not available");
  EXPECT_EQ(MessageText(ws::ErrorFromResolver(EAI_NONAME, 0)), "[11001] Host not found");
  EXPECT_EQ(MessageText(ws::ErrorFromResolver(EAI_AGAIN, 0)),
            "[11002] Non-Authoritative Host not found");
  EXPECT_EQ(MessageText(ws::ErrorFromResolver(EAI_SYSTEM, ENETUNREACH)),
            "[10051] Network is unreachable");
  // No Winsock counterpart: a number the table does not hold, never a
  // misleading text.
  EXPECT_EQ(MessageText(ws::ErrorFromErrno(EIO)), "Error #" + std::to_string(20000 + EIO));
}

}  // namespace
