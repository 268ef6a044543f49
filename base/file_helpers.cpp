#include "base/file_helpers.h"

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "platform/errors.h"
#include "platform/files.h"

std::string ReadFileString(const std::string& path) {
  return ReadWholeFile(path).value_or(std::string());
}

std::optional<std::vector<std::string>> ReadFileLines(const std::string& path, bool& failed) {
  std::optional<std::string> text;
  try {
    text = ReadWholeFile(path);
  } catch (...) {
    failed = true;
    throw;
  }
  if (!text) return std::nullopt;
  failed = false;
  // A byte-order mark from an editor is not part of the first line.
  if (text->compare(0, 3, "\xEF\xBB\xBF") == 0) text->erase(0, 3);
  return SplitLines(*text);
}

void WriteFileString(const std::string& path, const std::string& text) {
  int step = 0;
  try {
    if (path.empty()) throw EFileError("No file name");
    ReplaceFileAtomically(path, text, &step);
  } catch (const std::exception& e) {
    ShowError("WriteFileString-" + std::to_string(step) + ": " + path, e.what());
  }
}

void TrimFileToSize(const std::string& path, std::size_t maxLen) {
  if (!FileExists(path)) return;
  const std::string text = ReadFileString(path);
  if (text.size() > maxLen) WriteFileString(path, text.substr(text.size() - maxLen - 1));
}

void TrimFileToSizeCosmetic(const std::string& path, std::size_t maxLen) {
  try {
    TrimFileToSize(path, maxLen);
    std::string text = ReadFileString(path);
    const auto lf = text.find('\n');
    if (lf != std::string::npos && lf + 1 < text.size()) text.erase(0, lf + 1);
    WriteFileString(path, text);
  } catch (const std::exception& e) {
    ShowError("TrimFileToSizeCosmetic: " + path, e.what());
  }
}
