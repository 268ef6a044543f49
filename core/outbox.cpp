#include "core/outbox.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "base/file_helpers.h"
#include "core/history.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

constexpr char kSep = '\t';

// A field never holds the separator or a line end.
std::string Field(std::string text) {
  for (char& c : text) {
    if (c == kSep || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string TimeText(TDateTime value) {
  if (value <= 0) return {};
  const std::tm tm = TmFromDateTime(value);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

TDateTime ParseTime(const std::string& text) {
  std::tm tm{};
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 6)
    return 0;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  return DateTimeFromTm(tm);
}

// Socket failures that say the way to the server is down for now.
bool TransientSocketCode(int code) {
  switch (code) {
    case 10050:  // network down
    case 10051:  // network unreachable
    case 10052:  // network dropped the connection
    case 10053:  // connection aborted
    case 10054:  // connection reset
    case 10057:  // not connected
    case 10058:  // shut down
    case 10060:  // connection timed out
    case 10061:  // connection refused
    case 10064:  // host down
    case 10065:  // no route to host
    case 11001:  // host not found
    case 11002:  // look-up failed, try again
    case 11004:  // no address for the name (yet)
      return true;
    default:
      return false;
  }
}

}  // namespace

TOutbox::TOutbox(std::string path) : path_(std::move(path)) {}

std::string TOutbox::LockPath() const { return LockPathBeside(path_); }

std::string TOutbox::LockPathBeside(const std::string& file) {
  const auto slash = file.rfind('/');
  return (slash == std::string::npos ? std::string() : file.substr(0, slash + 1)) + "Outbox.Lck";
}

bool TOutbox::Sending(const TOutboxEntry& entry) {
  return entry.Reason == kSending || entry.Reason.rfind(kSentPrefix, 0) == 0;
}

std::string TOutbox::FormatLine(const TOutboxEntry& entry) {
  // The URL may hold a tab; the other fields never do, so a reader finds
  // them from the end of the line.
  std::string url = entry.Url;
  for (char& c : url) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return url + kSep + Field(entry.Server) + kSep + TimeText(entry.FirstTry) + kSep +
         Field(entry.Reason);
}

TOutboxEntry TOutbox::ParseLine(const std::string& line) {
  TOutboxEntry entry;
  const auto reason = line.rfind(kSep);
  const auto time =
      reason == std::string::npos || reason == 0 ? std::string::npos : line.rfind(kSep, reason - 1);
  const auto server =
      time == std::string::npos || time == 0 ? std::string::npos : line.rfind(kSep, time - 1);
  if (server == std::string::npos) {
    entry.Url = line;
    return entry;
  }
  entry.Url = line.substr(0, server);
  entry.Server = line.substr(server + 1, time - server - 1);
  entry.FirstTry = ParseTime(line.substr(time + 1, reason - time - 1));
  entry.Reason = line.substr(reason + 1);
  return entry;
}

void TOutbox::Load() {
  entries_.clear();
  const auto lines = ReadFileLines(path_, load_failed_);
  if (!lines) return;
  for (const std::string& line : *lines) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    TOutboxEntry entry = ParseLine(line);
    if (Find(entry.Url) < 0) entries_.push_back(std::move(entry));
  }
}

void TOutbox::Save() const {
  if (load_failed_) throw EFileError("\"" + path_ + "\" could not be read, so it is not written");
  std::string text;
  for (const auto& entry : entries_) text += FormatLine(entry) + "\r\n";
  ReplaceFileAtomically(path_, text);
}

bool TOutbox::Change(const std::function<bool()>& change) {
  TFileLock lock(LockPath());
  Load();
  std::vector<TOutboxEntry> before = entries_;
  if (!change()) return false;
  try {
    Save();
  } catch (...) {
    entries_ = std::move(before);
    throw;
  }
  return true;
}

int TOutbox::Find(const std::string& url) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const TOutboxEntry& e) { return e.Url == url; });
  return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

void TOutbox::Keep(const std::string& url, const std::string& server, TDateTime when,
                   const std::string& reason) {
  KeepAll({url}, server, when, [&](const std::string&) { return reason; });
}

void TOutbox::KeepAll(const std::vector<std::string>& urls, const std::string& server,
                      TDateTime when, const TReasonFor& reason) {
  Change([&] {
    for (const std::string& url : urls) {
      if (int i = Find(url); i >= 0) {
        if (!server.empty()) entries_[i].Server = server;
        entries_[i].Reason = reason(url);
      } else {
        entries_.push_back({url, server, when, reason(url)});
      }
    }
    return true;
  });
}

bool TOutbox::Remove(const std::string& url) { return RemoveAll({url}); }

bool TOutbox::RemoveAll(const std::vector<std::string>& urls) {
  return Change([&] {
    bool removed = false;
    for (const std::string& url : urls) {
      if (const int i = Find(url); i >= 0) {
        entries_.erase(entries_.begin() + i);
        removed = true;
      }
    }
    return removed;
  });
}

void TOutbox::Recover(THistory& history) {
  Change([&] {
    bool changed = false;
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->Reason == kSending) {
        it->Reason.clear();
        changed = true;
      }
      if (it->Reason.rfind(kSentPrefix, 0) == 0) {
        history.AddLineOnce(it->Reason.substr(std::string(kSentPrefix).size()));
        it = entries_.erase(it);
        changed = true;
      } else {
        ++it;
      }
    }
    return changed;
  });
}

TFailureKind ClassifyFailure(const std::exception& e, bool dataSent) {
  using K = TFailureKind;
  const std::string text = e.what();
  const bool reply = dynamic_cast<const ESocketError*>(&e) && text.size() >= 3 &&
                     std::isdigit(static_cast<unsigned char>(text[0])) &&
                     std::isdigit(static_cast<unsigned char>(text[1])) &&
                     std::isdigit(static_cast<unsigned char>(text[2]));
  // The server's answer to the message tells its fate; anything else after
  // the message went out leaves it unknown.
  if (dataSent && !reply) return K::Unconfirmed;
  if (dynamic_cast<const EAuthError*>(&e) || dynamic_cast<const ECertificateError*>(&e))
    return K::Permanent;
  if (dynamic_cast<const ETimedOutError*>(&e) || dynamic_cast<const ERASError*>(&e))
    return K::Transient;
  if (!dynamic_cast<const ESocketError*>(&e)) return K::Permanent;
  // A server's reply: 4xx asks to try later, 5xx refuses for good.
  if (reply) return text[0] == '4' ? K::Transient : K::Permanent;
  int code = 0;
  if (std::sscanf(text.c_str(), "[%d]", &code) == 1) {
    return TransientSocketCode(code) ? K::Transient : K::Permanent;
  }
  if (text == MessageText(msg::kErrorResolvingHost)) return K::Transient;
  // A TLS handshake the network cut off (a refused certificate has its own class).
  if (text.find("handshake") != std::string::npos) return K::Transient;
  return K::Permanent;
}

int TRetrySchedule::NextDelayMinutes() const {
  constexpr int kFirst[] = {1, 2, 5, 10};
  return failures_ < static_cast<int>(std::size(kFirst)) ? kFirst[failures_] : 30;
}
