#include "core/history.h"

#include "base/file_helpers.h"
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
  if (auto lines = ReadFileLines(path_, load_failed_)) items_ = std::move(*lines);
}

void THistory::Cut() {
  if (Count() > HistoryLimit) items_.resize(HistoryLimit);
}

void THistory::Save() {
  Cut();
  if (load_failed_) return;
  std::string text;
  for (const auto& line : items_) {
    text += line;
    text += "\r\n";
  }
  WriteFileString(path_, text);
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url) {
  AddHistoryEntry(server, url, Now());
}

void THistory::AddHistoryEntry(const std::string& server, const std::string& url, TDateTime when) {
  items_.insert(items_.begin(), TrimUrl(url) + " via " + server + " on " + ShortDateText(when) +
                                    " " + LongTimeText(when));
  LastRequestTime = when;
  Save();
}

void THistory::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  Save();
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
