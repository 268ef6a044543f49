// The request channel end to end, on Linux's socket and Windows' pipe alike:
// a real server in this process, real clients on threads of their own while
// this thread runs the loop the server's handler needs.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/local_client.h"
#include "app/request_channel.h"
#include "net/event_loop.h"
#include "tests/platform/temp_folder.h"

#ifdef _WIN32
#include "platform/instance_lock.h"
#else
#include "tests/net/net_support.h"
#endif

namespace {

using namespace std::chrono_literals;

// Runs this thread's loop until `done` or `ms` have passed; whether `done`.
bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < end) {
    PumpEvents();
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

class RequestHandover : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    EnsureApp();
#endif
  }

  std::string Path() const {
#ifdef _WIN32
    return InstancePipeName(dir_ / "channel");
#else
    return dir_ / "channel.sock";
#endif
  }

  // A server that keeps each request's address and its reply, unanswered.
  std::unique_ptr<TRequestServer> Serve(TRequestServer::THandler flush = nullptr) {
    auto server = std::make_unique<TRequestServer>(
        Path(),
        [this](const std::string& url, TRequestServer::TReply reply) {
          urls_.push_back(url);
          replies_.push_back(std::move(reply));
        },
        std::move(flush));
    EXPECT_TRUE(server->Listening());
    return server;
  }

  // Hands `url` over on a thread of its own; its answer, code first.
  std::future<std::pair<bool, TRequestAnswer>> HandOver(const std::string& url) {
    return std::async(std::launch::async, [path = Path(), url] {
      TRequestAnswer answer;
      const bool handed = HandToRunningInstance(path, url, answer);
      return std::make_pair(handed, answer);
    });
  }

  // Asks for a flush on a thread of its own while this one runs the loop.
  std::pair<bool, TRequestAnswer> Flush() {
    auto flushed = std::async(std::launch::async, [path = Path()] {
      TRequestAnswer answer;
      const bool handed = FlushRunningInstance(path, answer);
      return std::make_pair(handed, answer);
    });
    PumpUntil([&] { return flushed.wait_for(0s) == std::future_status::ready; }, 20000);
    return flushed.get();
  }

  TempFolder dir_;
  std::vector<std::string> urls_;
  std::vector<TRequestServer::TReply> replies_;
};

bool Ready(const std::future<std::pair<bool, TRequestAnswer>>& f) {
  return f.wait_for(0s) == std::future_status::ready;
}

TEST_F(RequestHandover, TheAnswerComesBackOnOneLineForARequestAndAFlush) {
  const auto server = Serve([](const std::string& url, TRequestServer::TReply reply) {
    reply({url.empty() ? kRequestSent : kRequestFailed, "nothing waits"});
  });
  auto handed = HandOver("http://host/a");
  ASSERT_TRUE(PumpUntil([&] { return replies_.size() == 1; }));
  EXPECT_EQ(urls_, std::vector<std::string>{"http://host/a"});
  replies_[0]({kRequestKept, "kept: the server said\r\n421 busy"});
  ASSERT_TRUE(PumpUntil([&] { return Ready(handed); }));
  const auto [taken, answer] = handed.get();
  EXPECT_TRUE(taken);
  EXPECT_EQ(answer.code, kRequestKept);
  EXPECT_EQ(answer.text, "kept: the server said  421 busy");

  const auto flushed = Flush();
  EXPECT_TRUE(flushed.first);
  EXPECT_EQ(flushed.second.code, kRequestSent);
  EXPECT_EQ(flushed.second.text, "nothing waits");
  EXPECT_EQ(urls_.size(), 1u);
}

TEST_F(RequestHandover, WithNobodyListeningTheCommandLineSendsItself) {
  TRequestAnswer answer;
  EXPECT_FALSE(HandToRunningInstance(Path(), "http://host/", answer));
  EXPECT_FALSE(FlushRunningInstance(Path(), answer));
  EXPECT_FALSE(HandToRunningInstance("", "http://host/", answer));
  // A server gone before it answered is an answer of its own, not a fallback.
  const auto server = Serve();  // no flush handler: a flush is closed unheard
  const auto flushed = Flush();
  EXPECT_TRUE(flushed.first);
  EXPECT_EQ(flushed.second.code, kRequestFailed);
  EXPECT_EQ(flushed.second.text, "The running Tolvane ended before it answered");
}

TEST_F(RequestHandover, AClientThatLeavesBeforeItsAnswerHoldsNothingUp) {
  const auto server = Serve();
  {
    TLocalClient leaving(Path(), 2000);
    ASSERT_TRUE(leaving.Connected());
    ASSERT_TRUE(leaving.WriteAll("REQUEST 13\nhttp://host/a", 2000));
    ASSERT_TRUE(PumpUntil([&] { return replies_.size() == 1; }));
  }
  // The server has seen it go; the answer goes to nobody.
  std::this_thread::sleep_for(200ms);
  replies_[0]({kRequestSent, "Sent"});

  auto next = HandOver("http://host/b");
  ASSERT_TRUE(PumpUntil([&] { return replies_.size() == 2; }));
  replies_[1]({kRequestSent, "Sent"});
  ASSERT_TRUE(PumpUntil([&] { return Ready(next); }));
  EXPECT_EQ(next.get().second.text, "Sent");
}

TEST_F(RequestHandover, TwoClientsAtOnceEachHearTheirOwnAnswer) {
  const auto server = Serve();
  auto first = HandOver("http://host/1");
  auto second = HandOver("http://host/2");
  ASSERT_TRUE(PumpUntil([&] { return replies_.size() == 2; }));
  // Answered in the other order than they came.
  for (std::size_t i = 2; i-- > 0;) replies_[i]({kRequestSent, "for " + urls_[i]});
  ASSERT_TRUE(PumpUntil([&] { return Ready(first) && Ready(second); }));
  EXPECT_EQ(first.get().second.text, "for http://host/1");
  EXPECT_EQ(second.get().second.text, "for http://host/2");
}

TEST_F(RequestHandover, AClientThatSendsBeyondItsRequestIsDropped) {
  const auto server = Serve();
  TLocalClient client(Path(), 2000);
  ASSERT_TRUE(client.WriteAll("REQUEST 13\nhttp://host/a", 2000));
  ASSERT_TRUE(PumpUntil([&] { return urls_.size() == 1; }));
  // The request was taken; its client now sends on and on.
  auto flood = std::async(std::launch::async, [&client] {
    const std::string block(64 * 1024, 'x');
    std::size_t sent = 0;
    // Up to 64 MiB, far beyond what the channel buffers.
    while (sent < (64u << 20) && client.WriteAll(block, 5000)) sent += block.size();
    return sent;
  });
  ASSERT_TRUE(PumpUntil([&] { return flood.wait_for(0s) == std::future_status::ready; }, 30000));
  EXPECT_LT(flood.get(), std::size_t{8} << 20);
  EXPECT_EQ(urls_.size(), 1u);
}

TEST_F(RequestHandover, AClientThatStallsIsDroppedOneWithItsRequestWhole) {
  const auto server = Serve();
  server->SetStallTimeout(300);
  TLocalClient silent(Path(), 2000);
  TLocalClient halfway(Path(), 2000);
  ASSERT_TRUE(halfway.WriteAll("REQUEST 13\nhttp://", 2000));
  const auto start = std::chrono::steady_clock::now();
  auto dropped = std::async(std::launch::async,
                            [&] { return silent.ReadLine(10000) + halfway.ReadLine(10000); });
  ASSERT_TRUE(PumpUntil([&] { return dropped.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(dropped.get(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);  // closed, not the reads' time-outs
  EXPECT_TRUE(urls_.empty());

  auto whole = HandOver("http://host/w");
  ASSERT_TRUE(PumpUntil([&] { return replies_.size() == 1; }));
  PumpUntil([] { return false; }, 600);
  replies_[0]({kRequestSent, "Sent"});
  ASSERT_TRUE(PumpUntil([&] { return Ready(whole); }));
  EXPECT_EQ(whole.get().second.code, kRequestSent);
}

}  // namespace
