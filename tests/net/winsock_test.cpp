// The binding's three failures, the error mapping and the layer's own
// bookkeeping.
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
  void Login() override {}
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
  EXPECT_EQ(s.StartupCount, 0);
}

TEST_F(BindingTest, MissingOperationIsReportedAtFirstUse) {
  ScriptedServer server([](Peer& p) { p.WaitClosed(); });
  PlainSocket s;
  Winsock().SetLoader([] { return std::make_unique<LayerWithout>("WSAAsyncSelect"); });
  s.SetWinsockLoaded(true);  // loading succeeds
  s.Server = server.Address();
  s.Open();
  EXPECT_EQ(Raised<EWinsockDLLError>([&] { s.ConnectSocket(); }),
            "Function WSAAsyncSelect not found");
  s.Close();
}

TEST_F(BindingTest, EveryOperationChecksTheBinding) {
  TagWinsock w;
  EXPECT_FALSE(w.Loaded());
  EXPECT_THROW(w.htons(25), EWinsockDLLError);
  w.Load();
  EXPECT_EQ(w.htons(0x0102), 0x0201);
  // Without a start-up the layer refuses socket work with Winsock's number.
  EXPECT_EQ(w.socket(ws::kAfInet, ws::kSockStream, 0), ws::kInvalidSocket);
  EXPECT_EQ(w.WSAGetLastError(), ws::kNotInitialised);
  EXPECT_EQ(w.WSAStartup(0x0000, nullptr), ws::kVerNotSupported);
  TWSAData data;
  ASSERT_EQ(w.WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(w.WSACancelAsyncRequest(12345), ws::kSocketError);
  TSocket s = w.socket(ws::kAfInet, ws::kSockStream, 0);
  ASSERT_NE(s, ws::kInvalidSocket);
  auto* layer = static_cast<TPosixWinsock*>(w.Layer());
  EXPECT_EQ(layer->OpenSockets(), 1u);
  EXPECT_EQ(w.closesocket(s), 0);
  EXPECT_EQ(w.closesocket(s), ws::kSocketError);
  EXPECT_EQ(w.WSAGetLastError(), ws::kENotSock);
  EXPECT_EQ(w.WSACleanup(), 0);
  EXPECT_EQ(w.WSACleanup(), ws::kSocketError);
  w.Unload();
  EXPECT_THROW(w.WSAStartup(0x0101, nullptr), EWinsockDLLError);
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
