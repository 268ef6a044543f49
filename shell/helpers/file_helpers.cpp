#include "shell/helpers/file_helpers.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/errors.h"
#include "platform/files.h"
#include "shell/helpers/debug_log.h"

std::string ReadFileString(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(EISDIR));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(errno));
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw EFileError("Cannot read file \"" + path + "\"");
  return text;
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
