#include "app/request_channel.h"

#include <QPointer>
#include <QTimer>

#include "app/local_socket.h"
#include "platform/instance_lock.h"

namespace {

constexpr char kVerb[] = "REQUEST ";
constexpr char kFlush[] = "FLUSH";
constexpr int kConnectMs = 2000;
// A request may wait for a confirmation box or a slow server.
constexpr int kAnswerMs = 30 * 60 * 1000;
// "REQUEST " and the decimal length of at most kMaxRequestBytes.
constexpr std::size_t kMaxHeader = 32;

enum class TParse { Incomplete, Bad, TooLong, Whole };

// Takes "REQUEST <length>\n<bytes>" or "FLUSH\n", and nothing more, from
// `buffer`.
TParse ParseRequest(const std::string& buffer, std::string& url, bool& flush) {
  const std::size_t end = buffer.find('\n');
  if (end == std::string::npos) {
    return buffer.size() > kMaxHeader ? TParse::Bad : TParse::Incomplete;
  }
  const std::string_view header(buffer.data(), end);
  flush = header == kFlush;
  if (flush) return buffer.size() == end + 1 ? TParse::Whole : TParse::Bad;
  if (header.substr(0, sizeof(kVerb) - 1) != kVerb) return TParse::Bad;
  const std::string_view digits = header.substr(sizeof(kVerb) - 1);
  if (digits.empty() || digits.size() > 20) return TParse::Bad;
  unsigned long long length = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return TParse::Bad;
    length = length * 10 + static_cast<unsigned>(c - '0');
    if (length > kMaxRequestBytes) return TParse::TooLong;
  }
  if (buffer.size() - end - 1 < length) return TParse::Incomplete;
  if (buffer.size() - end - 1 > length) return TParse::Bad;
  url.assign(buffer, end + 1, static_cast<std::size_t>(length));
  return TParse::Whole;
}

void WriteAnswer(TLocalPeer* peer, const TRequestAnswer& answer) {
  std::string line = std::to_string(answer.code) + " " + answer.text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  peer->Write(line + "\n");
  peer->Close();
}

TRequestAnswer TooLongAnswer() {
  return {kRequestFailed, "not a request: the address is longer than " +
                              std::to_string(kMaxRequestBytes) + " bytes"};
}

}  // namespace

std::string RequestSocketPath(const std::string& programName) {
  const std::string base = InstanceBasePath(programName);
  return base.empty() ? std::string() : base + ".request.sock";
}

TRequestServer::TRequestServer(std::string path, THandler handler, THandler flush)
    : path_(std::move(path)), handler_(std::move(handler)), flush_(std::move(flush)) {
  if (path_.empty()) return;
  // The caller holds the instance lock: a socket left there is a dead one's.
  server_ = std::make_unique<TLocalServer>(path_, [this](TLocalPeer* peer) { Accept(peer); });
}

TRequestServer::~TRequestServer() = default;

bool TRequestServer::Listening() const { return server_ && server_->Listening(); }

void TRequestServer::Accept(TLocalPeer* peer) {
  if (!PeerIsSameUser(peer->Descriptor())) {
    peer->Close();
    return;
  }
  auto buffer = std::make_shared<std::string>();
  auto taken = std::make_shared<bool>(false);
  // A client that stops half-way would hold its descriptor for ever.
  QTimer::singleShot(stall_ms_, peer, [peer, taken] {
    if (!*taken) peer->Close();
  });
  peer->OnReadable = [this, peer, buffer, taken] {
    if (*taken) {
      // After the whole request only the client's leaving is expected;
      // whatever else it sends is not kept.
      if (!peer->TakeInput().empty()) peer->Close();
      return;
    }
    *buffer += peer->TakeInput();
    std::string url;
    bool flush = false;
    switch (ParseRequest(*buffer, url, flush)) {
      case TParse::Incomplete:
        return;
      case TParse::Bad:
        peer->Close();
        return;
      case TParse::TooLong:
        WriteAnswer(peer, TooLongAnswer());
        return;
      case TParse::Whole:
        break;
    }
    *taken = true;
    buffer->clear();
    // The dispatch opens boxes and waits; inside this handler the socket
    // could be deleted under it when the client leaves.
    QPointer<TLocalPeer> guard(peer);
    QMetaObject::invokeMethod(
        server_.get(),
        [this, url, flush, guard] {
          const THandler& handler = flush ? flush_ : handler_;
          if (!handler) {
            if (guard) guard->Close();
            return;
          }
          handler(url, [guard](const TRequestAnswer& answer) {
            if (guard) WriteAnswer(guard, answer);  // else the client gave up waiting
          });
        },
        Qt::QueuedConnection);
  };
}

namespace {

bool AskRunningInstance(const std::string& path, const std::string& header, const std::string& url,
                        TRequestAnswer& answer) {
  if (path.empty()) return false;
  TLocalClient client(path, kConnectMs);
  if (!client.Connected()) return false;
  // A tray program too busy to read within the limit answers nothing.
  if (client.WriteAll(header, kConnectMs)) client.WriteAll(url, kConnectMs);
  std::string line = client.ReadLine(kAnswerMs);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
  if (line.empty()) {
    answer = {kRequestFailed, "The running Tolvane ended before it answered"};
    return true;
  }
  const auto blank = line.find(' ');
  try {
    answer.code = std::stoi(line.substr(0, blank));
  } catch (const std::exception&) {
    answer.code = kRequestFailed;
  }
  answer.text = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  return true;
}

}  // namespace

bool HandToRunningInstance(const std::string& path, const std::string& url,
                           TRequestAnswer& answer) {
  if (url.size() > kMaxRequestBytes) {
    if (path.empty()) return false;
    answer = TooLongAnswer();
    return true;
  }
  return AskRunningInstance(path, kVerb + std::to_string(url.size()) + "\n", url, answer);
}

bool FlushRunningInstance(const std::string& path, TRequestAnswer& answer) {
  return AskRunningInstance(path, std::string(kFlush) + "\n", std::string(), answer);
}
