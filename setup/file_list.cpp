#include "setup/file_list.h"

#include <cstring>
#include <map>

#include "setup/wrap_error.h"

namespace wrap {
namespace {

bool IsShortNameChar(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return false;
  return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

}  // namespace

bool IsPlainShortName(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (unsigned char c : base + ext)
    if (!IsShortNameChar(c)) return false;
  return true;
}

std::vector<FileRecord> ParseFileList(ByteView data) {
  std::vector<FileRecord> records;
  std::size_t at = 0;
  for (;;) {
    if (data.size() - at < 2) ThrowInvalidData("file list ends without its 0");
    FileRecord r;
    r.number = static_cast<std::uint16_t>(GetLE(data, at, 2));
    if (r.number == 0) return records;
    if (data.size() - at < 6) ThrowInvalidData("file list record cut short");
    r.length = static_cast<std::uint32_t>(GetLE(data, at + 2, 4));
    at += 6;
    std::size_t zero = at;
    while (zero < data.size() && data[zero] != 0) ++zero;
    if (zero == data.size()) ThrowInvalidData("file list name without its end");
    r.name.assign(reinterpret_cast<const char*>(data.data() + at), zero - at);
    if (!IsPlainShortName(r.name) || r.name.back() != '_')
      ThrowInvalidData("file list name \"" + r.name + "\" is not a plain 8.3 name ending in _");
    records.push_back(std::move(r));
    at = zero + 1;
  }
}

Bytes BuildFileList(const std::vector<FileRecord>& records) {
  Bytes out;
  for (const auto& r : records) {
    PutLE(out, r.number, 2);
    PutLE(out, r.length, 4);
    out.insert(out.end(), r.name.begin(), r.name.end());
    out.push_back(0);
  }
  PutLE(out, 0, 2);
  return out;
}

std::string CompressedName(const std::string& name) {
  if (name.empty()) return name;
  return name.substr(0, name.size() - 1) + "_";
}

std::string NameProblem(const std::vector<PayloadName>& names) {
  std::map<std::string, std::string> expanded;  // expanded name -> stored name
  for (const auto& n : names) {
    if (!IsPlainShortName(n.expanded)) return n.expanded + " is not a plain 8.3 file name";
    if (n.expanded.back() == '_')
      return n.expanded + " already ends in \"_\", so it would never be expanded";
    if (!expanded.emplace(n.expanded, n.stored).second)
      return n.stored + " and " + expanded[n.expanded] + " both expand to " + n.expanded;
  }
  // Stored names end in "_" and expanded ones never do, so the two kinds
  // cannot meet.
  return {};
}

}  // namespace wrap
