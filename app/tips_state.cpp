#include "app/tips_state.h"

#include <charconv>

#include "app/settings.h"
#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "platform/errors.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

// A whole decimal number, optionally signed, with blanks around it.
int TipTopic(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  const char* first = text.data() + b;
  const char* last = text.data() + e;
  if (first != last && *first == '+') ++first;
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last) {
    throw EError("'" + text + "' is not a valid integer value");
  }
  return value;
}

}  // namespace

void TTipState::Save() {
  SaveTips(SettingsFilePath(), Number, Enabled);
  if (OnSaved) OnSaved();
}

std::string TipsFilePath() { return DataFilePath("tips.dat"); }

std::vector<std::string> SplitTipLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::vector<std::string> LoadTips() {
  const std::string path = TipsFilePath();
  if (!FileExists(path)) throw EFileError("Cannot open file \"" + path + "\"");
  return SplitTipLines(ReadFileString(path));
}

void NextTip(TTipState& state, std::size_t count) {
  if (state.Number >= 0 && state.Number < static_cast<int>(count) - 1) {
    ++state.Number;
  } else {
    state.Number = 0;
  }
  state.Save();
}

void PreviousTip(TTipState& state, std::size_t count) {
  const int n = static_cast<int>(count);
  if (state.Number > 0 && state.Number < n) {
    --state.Number;
  } else {
    state.Number = n > 0 ? n - 1 : 0;
  }
  state.Save();
}

TTip TipAt(const TTipState& state, const std::vector<std::string>& tips) {
  if (state.Number < 0 || state.Number >= static_cast<int>(tips.size())) {
    throw EError("List index out of bounds (" + std::to_string(state.Number) + ")");
  }
  const std::string& line = tips[static_cast<std::size_t>(state.Number)];
  const auto comma = line.find(',');
  if (comma == std::string::npos) return {line, {}};
  return {line.substr(comma + 1), line.substr(0, comma)};
}

int TTip::HelpTopic() const { return TipTopic(Topic); }

void StepTipOfTheDay(TTipState& state) {
  try {
    const std::vector<std::string> tips = LoadTips();
    NextTip(state, tips.size());
    TipAt(state, tips);
  } catch (const std::exception& e) {
    ShowError("TfrmTips", std::string("UH ") + e.what());
  }
}
