#include "mail/headers.h"

#include <algorithm>
#include <cctype>

#include "mail/charset.h"
#include "mail/codecs.h"
#include "mail/idna.h"
#include "mail/streams.h"
#include "platform/ascii.h"
#include "platform/errors.h"
#include "platform/mime_types.h"

namespace {

// Blanks, tabs and other control characters at both ends go.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Upper(line[i]) != Upper(prefix[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::size_t FindNoCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty() || needle.size() > haystack.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (StartsWithNoCase(haystack.substr(i), needle)) return i;
  }
  return std::string_view::npos;
}

bool BeginsWithBlank(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// A line continues the header above it when it begins with a blank or a
// tab, or when it has no colon at all.
bool IsContinuation(std::string_view line) {
  return BeginsWithBlank(line) || line.find(':') == std::string_view::npos;
}

std::string WithColon(std::string_view name) {
  std::string key(name);
  if (key.empty() || key.back() != ':') key += ':';
  return key;
}

// An address item with its encoded words decoded. A decoded display name
// that holds a special character is quoted again, so that a "<" or a
// comma in it cannot be taken for the mailbox or a second address.
std::string DecodeAddressItem(std::string_view item) {
  if (item.find("=?") == std::string_view::npos) return std::string(item);
  const std::size_t lt = item.rfind('<');
  if (lt == std::string_view::npos || lt == 0) return DecodeHeaderWordsWhole(item);
  const std::string name(Trim(DecodeHeaderWordsWhole(item.substr(0, lt))));
  std::string out;
  if (name.find_first_of("()<>[]:;@\\,.\"") != std::string::npos)
    AppendQuoted(name, out);
  else
    out = name;
  out += ' ';
  out += item.substr(lt);
  return out;
}

// Splits at commas outside double quotes and adds each non-empty item,
// trimmed and decoded.
void AddAddressItems(std::string_view text, std::vector<std::string>& result) {
  bool quoted = false;
  std::size_t itemStart = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size()) {
      if (quoted && text[i] == '\\') {
        ++i;  // an escaped character, a quote included
        continue;
      }
      if (text[i] == '"') quoted = !quoted;
      if (text[i] != ',' || quoted) continue;
    }
    const std::string_view item = Trim(text.substr(itemStart, i - itemStart));
    itemStart = i + 1;
    if (item.empty()) continue;
    // Not cut: a cut could drop the mailbox; ParseAddress cuts each part.
    std::string decoded(Trim(DecodeAddressItem(item)));
    if (!decoded.empty()) result.push_back(std::move(decoded));
  }
}

// A display name: a quoted string loses its quotes and escapes; anything
// else is unquoted as before.
std::string DisplayName(std::string_view text) {
  text = Trim(text);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return Unquote(text);
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The first `c` that does not stand inside a quoted string.
std::size_t FindOutsideQuotes(std::string_view text, char c) {
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (quoted && text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && text[i] == c) {
      return i;
    }
  }
  return std::string_view::npos;
}

constexpr std::size_t npos = std::string_view::npos;

// Characters of an unquoted local part (RFC 5322 atext); bytes from 128 are
// UTF-8 (RFC 6531).
bool IsAtomChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 128 || std::isalnum(u) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != npos;
}

bool IsDomainLabelChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 128 || std::isalnum(u) || c == '-' || c == '_';
}

bool IsQuotedTextChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= ' ' && u != 127;
}

// Runs of `isChar` joined by single dots, none at either end.
bool IsDotAtom(std::string_view text, bool (*isChar)(char)) {
  if (text.empty() || text.front() == '.' || text.back() == '.' || text.find("..") != npos)
    return false;
  return std::all_of(text.begin(), text.end(), [isChar](char c) { return c == '.' || isChar(c); });
}

// "%XX" escapes of an RFC 2231 value decoded.
std::string PercentDecode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// An extended value charset'language'text: the charset, and the text.
std::string_view SplitCharset(std::string_view value, std::string& charset) {
  const std::size_t q1 = value.find('\'');
  const std::size_t q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
  if (q2 == std::string_view::npos) return value;
  charset = value.substr(0, q1);
  return value.substr(q2 + 1);
}

// The parameters of a header value as (lower-case attribute, value) pairs;
// quoted values unquoted.
std::vector<std::pair<std::string, std::string>> Parameters(std::string_view value) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i;
    const std::size_t eq = value.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string attribute = AsciiLower(Trim(value.substr(i, eq - i)));
    std::size_t j = eq + 1;
    while (j < value.size() && (value[j] == ' ' || value[j] == '\t')) ++j;
    std::string v;
    if (j < value.size() && value[j] == '"') {
      for (++j; j < value.size() && value[j] != '"'; ++j) {
        if (value[j] == '\\' && j + 1 < value.size()) ++j;
        v += value[j];
      }
      i = value.find(';', j);
    } else {
      i = value.find(';', j);
      v = Trim(value.substr(j, i == std::string_view::npos ? std::string_view::npos : i - j));
    }
    out.emplace_back(std::move(attribute), std::move(v));
  }
  return out;
}

}  // namespace

std::string CutShortText(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t n = max;
  // Step back over at most three continuation bytes to a sequence start.
  for (int k = 0; k < 3 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; ++k) --n;
  if ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n = max;  // not UTF-8 after all
  return std::string(text.substr(0, n));
}

namespace {

// The value of the first header `key` (with its colon), continuation lines
// joined, not decoded; false when there is none.
bool RawHeaderValue(const TmsHeaders& headers, const std::string& key, std::string& value) {
  std::size_t i = 0;
  while (i < headers.size() && !StartsWithNoCase(headers[i], key)) ++i;
  if (i == headers.size()) return false;
  const std::string& line = headers[i];
  // Everything after the first colon; the blank after it is trimmed away.
  value = Trim(std::string_view(line).substr(line.find(':') + 1));
  for (++i; i < headers.size() && IsContinuation(headers[i]); ++i) {
    const std::string_view more = Trim(headers[i]);
    if (more.empty()) continue;
    if (!value.empty()) value += ' ';
    value += more;
  }
  return true;
}

}  // namespace

std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name) {
  const std::string key = WithColon(name);
  std::string value;
  if (!RawHeaderValue(headers, key, value)) return {};
  const std::string_view bare = std::string_view(key).substr(0, key.size() - 1);
  if (EqualsNoCase(bare, "Content-Type") || EqualsNoCase(bare, "X-UIDL")) return value;
  // Decoded first: a cut through an encoded word would leave it unreadable.
  return CutShortText(DecodeHeaderWordsWhole(value));
}

std::string GetAddressValue(const TmsHeaders& headers, std::string_view name) {
  std::string value;
  if (!RawHeaderValue(headers, WithColon(name), value)) return {};
  return DecodeAddressItem(value);
}

void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name,
                        std::vector<std::string>& result) {
  result.clear();
  std::size_t i = 0;
  while (i < headers.size()) {
    const std::string& line = headers[i];
    if (!StartsWithNoCase(line, name)) {
      ++i;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    // Unfolded first: a long display name may be folded over several lines.
    std::string text = line.substr(colon + 1);
    // The scan goes on from the first line that is not a continuation, so
    // that every header with the name contributes.
    for (++i; i < headers.size() && IsContinuation(headers[i]); ++i)
      text += (BeginsWithBlank(headers[i]) ? "" : " ") + headers[i];
    AddAddressItems(text, result);
  }
}

void RemoveHeader(TmsHeaders& headers, std::string_view name) {
  const std::string key = WithColon(name);
  for (std::size_t i = 0; i < headers.size(); ++i) {
    if (!StartsWithNoCase(headers[i], key)) continue;
    std::size_t end = i + 1;
    while (end < headers.size() && BeginsWithBlank(headers[end])) ++end;
    headers.erase(headers.begin() + static_cast<std::ptrdiff_t>(i),
                  headers.begin() + static_cast<std::ptrdiff_t>(end));
    return;
  }
}

std::string GetParameter(std::string_view parameterName, std::string_view value) {
  const std::size_t at = FindNoCase(value, parameterName);
  if (at == std::string_view::npos) return {};
  std::size_t i = at + parameterName.size();
  // Blanks before the "=" are allowed; then the "=" itself is dropped.
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  if (i < value.size()) ++i;
  std::string_view rest = Trim(value.substr(i));
  std::string_view result;
  if (!rest.empty() && rest[0] == '"') {
    const std::size_t close = rest.find('"', 1);
    result = rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  } else {
    // A token ends at a blank or at the ";" before the next parameter.
    result = rest.substr(0, rest.find_first_of(" \t;"));
  }
  result = Trim(result);
  if (!result.empty() && result.back() == ';') result.remove_suffix(1);
  return std::string(Trim(result));
}

void ParseAddress(std::string_view text, std::string& name, std::string& address) {
  text = Trim(text);
  const std::size_t lt = FindOutsideQuotes(text, '<');
  if (lt != std::string_view::npos) {
    const std::size_t gt = text.find('>', lt + 1);
    if (gt == std::string_view::npos) throw EError("Unable to parse email address");
    std::string rest(text.substr(0, lt));
    rest += text.substr(gt + 1);
    address = CutShortText(Unquote(text.substr(lt + 1, gt - lt - 1)));
    name = CutShortText(DisplayName(rest));
    return;
  }
  const std::size_t paren = text.find('(');
  if (paren != std::string_view::npos) {
    std::string_view comment = text.substr(paren + 1);
    if (!comment.empty() && comment.back() == ')') comment.remove_suffix(1);
    address = CutShortText(Unquote(text.substr(0, paren)));
    name = CutShortText(Unquote(comment));
    return;
  }
  address = CutShortText(text);
  name.clear();
}

void ParseTypedAddress(std::string_view text, std::string& name, std::string& address) {
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(" \t")));
  text.remove_suffix(text.size() - std::min(text.size(), text.find_last_not_of(" \t") + 1));
  name.clear();
  address = CutShortText(text);
  // A line break stays for the mail client to refuse; parsing must not
  // hide it. "addr (Name)" only with the "@" before the comment: "x(y)@z"
  // is no such form.
  if (text.find_first_of("\r\n") != npos) return;
  const std::size_t paren = text.find('(');
  const bool commented = text.ends_with(')') && text.substr(0, paren).find('@') != npos;
  if (FindOutsideQuotes(text, '<') == npos && !commented) return;
  try {
    ParseAddress(text, name, address);
  } catch (const EError&) {
    // An unclosed "<": kept whole, and no address (IsMailAddress says so).
  }
}

bool IsMailAddress(std::string_view text) {
  std::string name;
  std::string address;
  ParseTypedAddress(text, name, address);
  const std::size_t at = address.rfind('@');
  if (at == npos) return false;
  const std::string_view local = std::string_view(address).substr(0, at);
  const std::string_view domain = std::string_view(address).substr(at + 1);
  const bool quotedLocal = local.size() >= 2 && local.front() == '"' && local.back() == '"' &&
                           std::all_of(local.begin(), local.end(), IsQuotedTextChar);
  if (!quotedLocal && !IsDotAtom(local, IsAtomChar)) return false;
  if (domain.size() >= 3 && domain.front() == '[' && domain.back() == ']')
    return domain.find_first_of("[]\\ ", 1) == domain.size() - 1;
  return IsDotAtom(domain, IsDomainLabelChar) && DomainToAscii(domain).has_value();
}

std::string GetDecodedParameter(std::string_view parameterName, std::string_view value) {
  const std::string plain = AsciiLower(parameterName);
  std::string result;
  std::string charset;
  bool found = false;
  bool extended = false;
  // Sections name*0, name*1*, ... in order; name* and name alone otherwise.
  std::vector<std::pair<std::string, std::string>> params = Parameters(value);
  for (int section = 0;; ++section) {
    const std::string key = plain + "*" + std::to_string(section);
    bool any = false;
    for (const auto& [attribute, v] : params) {
      if (attribute == key) {
        result += v;
      } else if (attribute == key + "*") {
        result += PercentDecode(section == 0 ? SplitCharset(v, charset) : std::string_view(v));
        extended = true;
      } else {
        continue;
      }
      any = true;
    }
    if (!any) break;
    found = true;
  }
  auto find = [&params](const std::string& attribute) -> const std::string* {
    for (const auto& p : params)
      if (p.first == attribute) return &p.second;
    return nullptr;
  };
  if (!found) {
    if (const std::string* v = find(plain + "*")) {
      result = PercentDecode(SplitCharset(*v, charset));
      extended = true;
    } else if (const std::string* v = find(plain)) {
      // Older writers put encoded words into the quoted value.
      result = DecodeHeaderWordsWhole(*v);
    }
  }
  if (extended) {
    std::string converted;
    if (CharsetToUtf8(charset, result, converted)) result = std::move(converted);
  }
  return result;
}

std::string Unquote(std::string_view text) {
  text = Trim(text);
  while (!text.empty() && text.front() == '"') text.remove_prefix(1);
  while (!text.empty() && text.back() == '"') text.remove_suffix(1);
  return std::string(text);
}

std::string FirstToken(std::string_view value) {
  value = Trim(value);
  return std::string(Trim(value.substr(0, value.find_first_of(" ;"))));
}

std::string ContentTypeOfFile(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of("/\\");
  const std::string_view base =
      slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string_view::npos) {
    std::string type = MimeTypeOfExtension(base.substr(dot));
    if (!type.empty()) return type;
  }
  return "application/octet-stream";
}

void SaveLinesToFile(const std::vector<std::string>& lines, const std::string& fileName) {
  try {
    TFileStream out(fileName, TFileMode::fmCreate);
    for (const std::string& line : lines) {
      out.WriteString(line);
      out.WriteString("\r\n");
    }
    out.Flush();
  } catch (const EFileError&) {
    throw EFileError("Unable to write to " + fileName);
  }
}
