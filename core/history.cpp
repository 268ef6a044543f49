#include "core/history.h"

#include <algorithm>
#include <cstdio>

#include "base/file_helpers.h"
#include "core/outbox.h"
#include "platform/errors.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 32 || c == 127; }

std::string TrimUrl(const std::string& url) {
  std::size_t b = 0;
  std::size_t e = url.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(url[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(url[e - 1]))) --e;
  return url.substr(b, e - b);
}

// A record per line: stamp, bytes and the entry, parted by tabs.
constexpr char kTab = '\t';
std::string Stamp(TDateTime when) {
  const std::tm t = TmFromDateTime(when);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace

THistory::THistory(std::string path) : path_(std::move(path)) {}

void THistory::Load() {
  auto lines = ReadFileLines(path_, load_failed_);
  items_ = lines ? std::move(*lines) : std::vector<std::string>();
  try {
    bytes_ = ReadBytes(BytesPath());
  } catch (const EFileError&) {
    // The sizes are extra: the history works without them.
    bytes_.clear();
  }
}

void THistory::Cut() {
  if (Count() > HistoryLimit) items_.resize(HistoryLimit);
}

void THistory::Change(const std::function<void()>& change) {
  TFileLock lock(TOutbox::LockPathBeside(path_));
  try {
    Load();
  } catch (...) {
    // What could not be written stays in the list of this run.
    change();
    Cut();
    throw;
  }
  change();
  Cut();
  std::string text;
  for (const auto& line : items_) {
    text += line;
    text += "\r\n";
  }
  ReplaceFileAtomically(path_, text);
}

void THistory::Save() {
  Change([] {});
}

std::string THistory::EntryLine(const std::string& server, const std::string& url, TDateTime when) {
  return TrimUrl(url) + " via " + server + " on " + ShortDateText(when) + " " + LongTimeText(when);
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url) {
  AddHistoryEntry(server, url, Now());
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url, TDateTime when) {
  LastRequestTime = when;
  const std::string line = EntryLine(server, url, when);
  Change([&] { items_.insert(items_.begin(), line); });
  if (OnAdded) OnAdded(line);
}

void THistory::AddLineOnce(const std::string& line) {
  Change([&] {
    if (std::find(items_.begin(), items_.end(), line) == items_.end())
      items_.insert(items_.begin(), line);
  });
}

void THistory::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  const std::string line = items_[index];
  Change([&] {
    if (auto it = std::find(items_.begin(), items_.end(), line); it != items_.end())
      items_.erase(it);
  });
}

int THistory::FindInHistory(const std::string& url) const {
  for (int i = 0; i < Count(); ++i) {
    if (HistoryUrl(items_[i]) == url) return i;
  }
  return -1;
}

std::string THistory::HistoryUrl(const std::string& line) {
  auto blank = line.find(' ');
  if (blank == std::string::npos) return {};
  return line.substr(0, blank);
}

std::string THistory::DetailText(const std::string& line) {
  std::string via;
  if (auto p = line.find(" via "); p != std::string::npos) {
    via = line.substr(p + 5);
    if (auto blank = via.find(' '); blank != std::string::npos) via.resize(blank);
  }
  std::string when;
  if (auto p = line.find(" on "); p != std::string::npos) when = line.substr(p + 4);
  return HistoryUrl(line) + "\r\n\nVia: " + via + "\r\n\nDate/Time: " + when;
}

std::string THistory::BytesPath() const {
  const std::string dat = ".Dat";
  if (path_.size() >= dat.size() && path_.compare(path_.size() - dat.size(), dat.size(), dat) == 0)
    return path_.substr(0, path_.size() - dat.size()) + ".Bytes";
  return path_ + ".Bytes";
}

std::vector<THistory::TBytesRecord> THistory::ReadBytes(const std::string& path) {
  bool failed = false;
  std::vector<TBytesRecord> records;
  const auto lines = ReadFileLines(path, failed);
  if (!lines) return records;
  for (const std::string& text : *lines) {
    // A line edited out of shape is skipped.
    const auto a = text.find(kTab);
    const auto b = a == std::string::npos ? a : text.find(kTab, a + 1);
    if (b == std::string::npos || a == 0) continue;
    const std::string number = text.substr(a + 1, b - a - 1);
    if (number.empty() || number.size() > 19 ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    records.push_back({text.substr(0, a), std::stoull(number), text.substr(b + 1)});
  }
  return records;
}

std::optional<std::uint64_t> THistory::Bytes(int index) const {
  if (index < 0 || index >= Count()) return std::nullopt;
  for (const TBytesRecord& r : bytes_) {
    if (r.line == items_[index]) return r.bytes;
  }
  return std::nullopt;
}

std::uint64_t THistory::MonthBytes(int year, int month) const {
  char prefix[40];
  std::snprintf(prefix, sizeof prefix, "%04d-%02d-", year, month);
  std::vector<TBytesRecord> records;
  try {
    records = ReadBytes(BytesPath());
  } catch (const EFileError&) {
    return 0;
  }
  std::uint64_t total = 0;
  for (const TBytesRecord& r : records) {
    if (r.stamp.rfind(prefix, 0) == 0) total += r.bytes;
  }
  return total;
}

void THistory::RecordBytes(const std::vector<std::string>& lines, TDateTime when,
                           std::uint64_t total) {
  if (lines.empty()) return;
  TFileLock lock(TOutbox::LockPathBeside(path_));
  std::vector<TBytesRecord> records = ReadBytes(BytesPath());
  // The month totals cover this month and the twelve before it.
  std::string oldest = Stamp(when).substr(0, 8) + "01";
  oldest.replace(0, 4, std::to_string(std::stoi(oldest.substr(0, 4)) - 1));
  std::erase_if(records, [&](const TBytesRecord& r) { return r.stamp < oldest; });
  const std::string stamp = Stamp(when);
  const std::uint64_t share = total / lines.size();
  // The first entry takes what does not divide evenly, so the sum stays whole.
  std::uint64_t rest = total % lines.size();
  for (const std::string& line : lines) {
    records.push_back({stamp, share + rest, line});
    rest = 0;
  }
  std::string text;
  for (const TBytesRecord& r : records) {
    text += r.stamp + kTab + std::to_string(r.bytes) + kTab + r.line + "\r\n";
  }
  ReplaceFileAtomically(BytesPath(), text);
  bytes_ = std::move(records);
}
