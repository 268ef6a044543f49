// A TCP relay on 127.0.0.1 in front of a loopback server: it holds each
// direction's data for a fixed time (a slow link without netem) and counts
// the bytes that cross it. Header-only: the tests and the benchmarks use it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class DelayRelay {
 public:
  DelayRelay(std::uint16_t upstream, int delay_ms) : upstream_(upstream), delay_(delay_ms) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(0);
    socklen_t len = sizeof sa;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(listen_, 16) != 0)
      throw std::runtime_error("relay cannot listen");
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~DelayRelay() {
    stop_ = true;
    thread_.join();
    for (Link& l : links_) l.CloseAll();
    ::close(listen_);
  }
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  std::uint16_t port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Bytes from the clients to the server and back, since the last Reset.
  std::uint64_t Up() const { return up_; }
  std::uint64_t Down() const { return down_; }
  void Reset() { up_ = down_ = 0; }
  // Waits (up to 20 seconds) until every connection has ended on both sides.
  void WaitIdle() const {
    for (int i = 0; i < 2000 && (open_ > 0 || pending_accept_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::string data;  // empty: the sender closed
  };
  // One direction: read from `from`, written to `to` once due.
  struct Pipe {
    int from, to;
    std::deque<Chunk> queue;
    bool eof = false, done = false;
  };
  struct Link {
    Pipe up, down;
    void CloseAll() {
      ::close(up.from);
      ::close(up.to);
    }
  };

  static sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
  }

  void Accept() {
    pending_accept_ = true;
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(upstream_);
    if (client >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      links_.push_back(Link{Pipe{client, server, {}}, Pipe{server, client, {}}});
      ++open_;
    } else {
      if (client >= 0) ::close(client);
      ::close(server);
    }
    pending_accept_ = false;
  }

  void Read(Pipe& p, std::atomic<std::uint64_t>& count) {
    char buf[65536];
    ssize_t n = ::recv(p.from, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n < 0) n = 0;  // reset: as good as closed
    if (n > 0) count += static_cast<std::uint64_t>(n);
    p.eof = n == 0;
    p.queue.push_back({Clock::now() + std::chrono::milliseconds(delay_),
                       std::string(buf, static_cast<std::size_t>(n))});
  }

  // Writes what is due; the time of the next chunk, or max when none waits.
  Clock::time_point Deliver(Pipe& p) {
    while (!p.queue.empty() && p.queue.front().due <= Clock::now()) {
      const std::string& d = p.queue.front().data;
      if (d.empty()) {
        ::shutdown(p.to, SHUT_WR);
        p.done = true;
      }
      for (std::size_t off = 0; off < d.size();) {
        const ssize_t n = ::send(p.to, d.data() + off, d.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<std::size_t>(n);
      }
      p.queue.pop_front();
    }
    return p.queue.empty() ? Clock::time_point::max() : p.queue.front().due;
  }

  void Run() {
    while (!stop_) {
      std::vector<pollfd> fds{{listen_, POLLIN, 0}};
      auto next = Clock::now() + std::chrono::milliseconds(20);
      for (Link& l : links_) {
        for (Pipe* p : {&l.up, &l.down}) {
          next = std::min(next, Deliver(*p));
          // A closed side is no longer polled: its hang-up would wake poll for ever.
          fds.push_back({p->eof ? -1 : p->from, POLLIN, 0});
        }
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
      ::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(0, wait.count())));
      // Links accepted now come after those polled.
      if (fds[0].revents & POLLIN) Accept();
      std::size_t i = 1;
      for (auto it = links_.begin(); i < fds.size(); i += 2) {
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(it->up, up_);
        if (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) Read(it->down, down_);
        if (it->up.done && it->down.done) {
          it->CloseAll();
          it = links_.erase(it);
          --open_;
        } else {
          ++it;
        }
      }
    }
  }

  std::uint16_t upstream_;
  int delay_;
  int listen_ = -1;
  std::uint16_t port_ = 0;
  std::list<Link> links_;  // the relay thread's own
  std::atomic<std::uint64_t> up_{0}, down_{0};
  std::atomic<int> open_{0};
  std::atomic<bool> pending_accept_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
