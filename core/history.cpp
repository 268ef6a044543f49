#include "core/history.h"

#include <filesystem>

#include "platform/errors.h"
#include "base/file_helpers.h"

namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 32 || c == 127; }

std::string TrimUrl(const std::string& url) {
  std::size_t b = 0;
  std::size_t e = url.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(url[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(url[e - 1]))) --e;
  return url.substr(b, e - b);
}

// Lines ended by CR LF, a lone CR or a lone LF; a last line without an end
// still counts.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

THistory::THistory(std::string path) : path_(std::move(path)) {}

void THistory::Load() {
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) return;
  std::string text;
  try {
    text = ReadFileString(path_);
  } catch (...) {
    load_failed_ = true;
    throw;
  }
  // A byte-order mark from an editor is not part of the first URL.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  items_ = SplitLines(text);
  load_failed_ = false;
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

void THistory::AddHistoryEntry(const std::string& server, const std::string& url,
                               TDateTime when) {
  items_.insert(items_.begin(),
                TrimUrl(url) + " via " + server + " on " + ShortDateText(when) + " " +
                    LongTimeText(when));
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
