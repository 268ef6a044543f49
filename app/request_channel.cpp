#include "app/request_channel.h"

#include <iostream>

#include "app/local_client.h"
#include "app/request_protocol.h"
#include "core/request_builder.h"

namespace {

constexpr char kVerb[] = "REQUEST ";
constexpr char kFlush[] = "FLUSH";
constexpr int kConnectMs = 2000;
// A request may wait for a confirmation box or a slow server.
constexpr int kAnswerMs = 30 * 60 * 1000;
// "REQUEST " and the decimal length of at most kMaxRequestBytes.
constexpr std::size_t kMaxHeader = 32;

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

namespace request_protocol {

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

std::string AnswerLine(const TRequestAnswer& answer) {
  std::string line = std::to_string(answer.code) + " " + answer.text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line + "\n";
}

TRequestAnswer TooLongAnswer() {
  return {kRequestFailed, "not a request: the address is longer than " +
                              std::to_string(kMaxRequestBytes) + " bytes"};
}

}  // namespace request_protocol

TRequestAnswer AnswerFor(TRequestDispatcher::TOutcome outcome, const std::string& url,
                         const std::string& lastError) {
  using O = TRequestDispatcher::TOutcome;
  if (outcome == O::Sent) return {kRequestSent, "Sent"};
  if (outcome == O::Kept) return {kRequestKept, "kept: " + lastError};
  if (outcome == O::NoRequest) return {kRequestFailed, NotARequestText(url)};
  return {kRequestFailed, lastError.empty() ? "the request was not sent" : lastError};
}

TRequestAnswer SettingsIncompleteAnswer() {
  return {kSettingsIncomplete,
          "the settings lack your e-mail address or SMTP server; start Tolvane, fill them in and "
          "press Ok"};
}

int PrintAnswer(const TRequestAnswer& answer) {
  if (answer.code == kRequestSent) {
    std::cout << answer.text << "\n" << std::flush;
  } else if (answer.code == kRequestKept) {
    std::cout << answer.text << "\n" << std::flush;
  } else {
    std::cerr << "tolvane: " << answer.text << "\n";
  }
  return answer.code;
}

bool HandToRunningInstance(const std::string& path, const std::string& url,
                           TRequestAnswer& answer) {
  if (url.size() > kMaxRequestBytes) {
    if (path.empty()) return false;
    answer = request_protocol::TooLongAnswer();
    return true;
  }
  return AskRunningInstance(path, kVerb + std::to_string(url.size()) + "\n", url, answer);
}

bool FlushRunningInstance(const std::string& path, TRequestAnswer& answer) {
  return AskRunningInstance(path, std::string(kFlush) + "\n", std::string(), answer);
}
