#include "platform/mime_types.h"
#include "platform/ascii.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <unordered_map>

namespace {

using Table = std::unordered_map<std::string, std::string>;

// mime.types: "type ext ext ...", "#" starts a comment. The first entry
// for an extension wins.
Table Load(const std::string& file) {
  Table table;
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

std::string Lookup(const Table& table, std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return {};
  const auto it = table.find(AsciiLower(extension));
  return it == table.end() ? std::string() : it->second;
}

}  // namespace

std::string MimeTypeOfExtension(std::string_view extension) {
  static const Table table = Load("/etc/mime.types");
  return Lookup(table, extension);
}

std::string MimeTypeOfExtension(std::string_view extension, const std::string& mimeTypesFile) {
  return Lookup(Load(mimeTypesFile), extension);
}
