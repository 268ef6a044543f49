#include "platform/profile.h"

#include <filesystem>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The section name of a header line, or false when the line is none.
bool HeaderName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const auto close = line.rfind(']');
  if (close == std::string_view::npos || close == 0) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// Key and raw value of a "key=value" line, or false.
bool KeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  if (key.empty()) return false;
  value = Trim(line.substr(eq + 1));
  return true;
}

std::string Cleaned(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kProfileValueMax) {
    std::size_t cut = kProfileValueMax;
    // Step back over continuation bytes so that no UTF-8 sequence is split.
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    value = value.substr(0, cut);
  }
  return std::string(value);
}

std::string WithoutLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

bool ReadFileText(const std::string& path, std::string& text) {
  try {
    auto content = ReadWholeFile(path);
    if (!content) return false;
    text = std::move(*content);
    return true;
  } catch (const EFileError&) {
    return false;
  }
}

std::optional<std::int32_t> HexNumber(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t v = 0;
  int significant = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (Lower(c) >= 'a' && Lower(c) <= 'f') {
      d = Lower(c) - 'a' + 10;
    } else {
      return std::nullopt;
    }
    if (significant > 0 || d != 0) ++significant;
    if (significant > 8) return std::nullopt;
    v = v * 16 + static_cast<std::uint64_t>(d);
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

std::optional<std::int32_t> DecimalNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > static_cast<std::int64_t>(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

bool HexPrefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

}  // namespace

TProfileText::TProfileText(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    bom_ = text.substr(0, 3);
    text.remove_prefix(3);
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t i = start;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    Line line{std::string(text.substr(start, i - start)), {}};
    if (i < text.size()) {
      const std::size_t len =
          (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      line.end = std::string(text.substr(i, len));
      i += len;
    }
    lines_.push_back(std::move(line));
    start = i;
  }
}

std::optional<TProfileText::Place> TProfileText::FindSection(std::string_view section) const {
  section = Trim(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (!HeaderName(lines_[i].content, name) || !SameName(name, section)) continue;
    Place place{i, i + 1};
    while (place.end < lines_.size() && !HeaderName(lines_[place.end].content, name)) ++place.end;
    return place;
  }
  return std::nullopt;
}

std::optional<std::size_t> TProfileText::FindKey(const Place& place, std::string_view key) const {
  key = Trim(key);
  for (std::size_t i = place.header + 1; i < place.end; ++i) {
    std::string_view k, v;
    if (KeyLine(lines_[i].content, k, v) && SameName(k, key)) return i;
  }
  return std::nullopt;
}

std::string TProfileText::Read(std::string_view section, std::string_view key,
                               std::string_view def) const {
  const auto place = FindSection(section);
  if (!place) return std::string(def);
  const auto index = FindKey(*place, key);
  if (!index) return std::string(def);
  std::string_view k, v;
  KeyLine(lines_[*index].content, k, v);
  return Cleaned(v);
}

bool TProfileText::HasKey(std::string_view section, std::string_view key) const {
  const auto place = FindSection(section);
  return place && FindKey(*place, key);
}

std::vector<std::string> TProfileText::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    std::string_view name;
    if (!HeaderName(line.content, name)) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameName(n, name);
    if (!seen) names.emplace_back(name);
  }
  return names;
}

std::string TProfileText::Write(std::string_view section, std::string_view key,
                                std::string_view value) {
  const std::string sec = WithoutLineBreaks(Trim(section));
  const std::string k = WithoutLineBreaks(Trim(key));
  const std::string val = WithoutLineBreaks(value);
  const std::string crlf = "\r\n";

  auto place = FindSection(sec);
  if (place) {
    if (const auto index = FindKey(*place, k)) {
      std::string_view old_key, old_value;
      KeyLine(lines_[*index].content, old_key, old_value);
      lines_[*index].content = std::string(old_key) + "=" + val;
      return Text();
    }
    // After the section's last line that is not blank.
    std::size_t at = place->end;
    while (at > place->header + 1 && Trim(lines_[at - 1].content).empty()) --at;
    if (lines_[at - 1].end.empty()) lines_[at - 1].end = crlf;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{k + "=" + val, crlf});
    return Text();
  }
  if (!lines_.empty()) {
    if (lines_.back().end.empty()) lines_.back().end = crlf;
    if (!Trim(lines_.back().content).empty()) lines_.push_back(Line{"", crlf});
  }
  lines_.push_back(Line{"[" + sec + "]", crlf});
  lines_.push_back(Line{k + "=" + val, crlf});
  return Text();
}

std::string TProfileText::Text() const {
  std::string out = bom_;
  for (const Line& line : lines_) {
    out += line.content;
    out += line.end;
  }
  return out;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def) {
  return ReadProfileFile(path).Read(section, key, def);
}

TProfileText ReadProfileFile(const std::string& path) {
  std::string text;
  return ReadFileText(path, text) ? TProfileText(text) : TProfileText();
}

std::int32_t ProfileInteger(const TProfileText& profile, std::string_view section,
                            std::string_view key, std::int32_t def) {
  return ProfileSettingsNumber(profile.Read(section, key)).value_or(def);
}

bool ProfileBool(const TProfileText& profile, std::string_view section, std::string_view key,
                 bool def) {
  const auto n = ProfileSettingsNumber(profile.Read(section, key));
  return n ? *n != 0 : def;
}

void WriteProfileEntries(const std::string& path, const std::vector<TProfileEntry>& entries) {
  try {
    const std::string folder = FolderOfPath(path);
    if (folder != path) std::filesystem::create_directories(folder);
    TProfileText profile(ReadWholeFile(path).value_or(std::string()));
    std::string text = profile.Text();
    for (const TProfileEntry& e : entries) text = profile.Write(e.section, e.key, e.value);
    ReplaceFileAtomically(path, text);
  } catch (const std::exception&) {
    throw EFileError("Unable to write to " + path);
  }
}

void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  WriteProfileEntries(path, {{section, key, std::string(value)}});
}

std::int32_t ProfileTypeNumber(std::string_view text) {
  const auto n = HexPrefix(text) ? HexNumber(text.substr(2)) : DecimalNumber(text);
  return n.value_or(-1);
}

std::optional<std::int32_t> ProfileSettingsNumber(std::string_view text) {
  if (!text.empty() && text.front() == '$') return HexNumber(text.substr(1));
  if (text.size() > 2 && HexPrefix(text)) return HexNumber(text.substr(2));
  return DecimalNumber(text);
}

std::int32_t ReadProfileType(const std::string& path, std::string_view section,
                             std::string_view key) {
  return ProfileTypeNumber(ReadProfileString(path, section, key));
}

std::int32_t ReadProfileInteger(const std::string& path, std::string_view section,
                                std::string_view key, std::int32_t def) {
  return ProfileInteger(ReadProfileFile(path), section, key, def);
}

bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key,
                     bool def) {
  return ProfileBool(ReadProfileFile(path), section, key, def);
}

void WriteProfileInteger(const std::string& path, std::string_view section, std::string_view key,
                         std::int32_t value) {
  WriteProfileString(path, section, key, std::to_string(value));
}

void WriteProfileBool(const std::string& path, std::string_view section, std::string_view key,
                      bool value) {
  WriteProfileString(path, section, key, value ? "1" : "0");
}
