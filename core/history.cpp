#include "core/history.h"

#include <algorithm>

#include "base/file_helpers.h"
#include "core/outbox.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/errors.h"

namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 32 || c == 127; }

std::string TrimUrl(const std::string& url) {
  std::size_t b = 0;
  std::size_t e = url.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(url[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(url[e - 1]))) --e;
  return url.substr(b, e - b);
}

}  // namespace

THistory::THistory(std::string path) : path_(std::move(path)) {}

void THistory::Load() {
  auto lines = ReadFileLines(path_, load_failed_);
  items_ = lines ? std::move(*lines) : std::vector<std::string>();
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

std::string THistory::EntryLine(const std::string& server, const std::string& url,
                                TDateTime when) {
  return TrimUrl(url) + " via " + server + " on " + ShortDateText(when) + " " + LongTimeText(when);
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url) {
  AddHistoryEntry(server, url, Now());
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url, TDateTime when) {
  LastRequestTime = when;
  const std::string line = EntryLine(server, url, when);
  Change([&] { items_.insert(items_.begin(), line); });
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
