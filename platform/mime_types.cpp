#include "platform/mime_types.h"

#include <fstream>
#include <sstream>

#include "platform/ascii.h"
#include "platform/mime_table.h"

// mime.types: "type ext ext ...", "#" starts a comment. The first entry
// for an extension wins.
TMimeTable LoadMimeTable(const std::string& file) {
  TMimeTable table;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string type, ext;
    if (!(words >> type)) continue;
    while (words >> ext) table.emplace(AsciiLower(ext), type);
  }
  return table;
}

std::string LookUpMimeTable(const TMimeTable& table, std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return {};
  const auto it = table.find(AsciiLower(extension));
  return it == table.end() ? std::string() : it->second;
}

std::string MimeTypeOfExtension(std::string_view extension, const std::string& mimeTypesFile) {
  return LookUpMimeTable(LoadMimeTable(mimeTypesFile), extension);
}
