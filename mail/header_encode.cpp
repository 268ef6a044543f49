#include <algorithm>
#include <array>
#include <string>

#include "mail/codecs.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsSpecial(char c) {
  switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '[':
    case ']':
    case ':':
    case ';':
    case '@':
    case '\\':
    case ',':
    case '.':
    case '"':
      return true;
    default:
      return false;
  }
}

// Characters an RFC 2231 value may hold without a %XX escape.
bool IsAttributeChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  for (char k : std::string_view("!#$&+-.^_`|~"))
    if (c == static_cast<unsigned char>(k)) return true;
  return false;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

bool NeedsHeaderEncoding(std::string_view text) {
  // Plain text that looks like an encoded word would be decoded by readers.
  if (text.find("=?") != std::string_view::npos) return true;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 128 || c == 127 || (c < 32 && c != '\t')) return true;
  }
  return false;
}

std::size_t EncodeHeaderWords(std::string_view text, char* out) {
  constexpr std::string_view kOpen = "=?utf-8?B?";
  char* o = out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t n = std::min(kEncodedWordBytes, text.size() - pos);
    if (pos + n < text.size()) {
      // A word holds whole UTF-8 sequences; a multiple of three bytes, when
      // one ends at a sequence start, also keeps "=" padding out of the
      // middle (some readers join adjacent words before decoding).
      std::size_t cut = 0;
      for (std::size_t k = n; k + 9 > n && cut == 0; k -= 3)
        if (!IsContinuationByte(text[pos + k])) cut = k;
      for (std::size_t k = n; k + 4 > n && cut == 0; --k)
        if (!IsContinuationByte(text[pos + k])) cut = k;
      if (cut != 0) n = cut;
    }
    if (o != out) *o++ = ' ';
    o = std::copy(kOpen.begin(), kOpen.end(), o);
    o += Base64EncodeChunk(text.data() + pos, n, o);
    *o++ = '?';
    *o++ = '=';
    pos += n;
  }
  return static_cast<std::size_t>(o - out);
}

std::string EncodeHeaderWords(std::string_view text) {
  std::string out(HeaderWordsMaxLength(text.size()), '\0');
  out.resize(EncodeHeaderWords(text, out.data()));
  return out;
}

void AppendQuoted(std::string_view text, std::string& out) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendDisplayName(std::string_view name, std::string& out) {
  if (NeedsHeaderEncoding(name)) {
    const std::size_t at = out.size();
    out.resize(at + HeaderWordsMaxLength(name.size()));
    out.resize(at + EncodeHeaderWords(name, out.data() + at));
    return;
  }
  for (char c : name) {
    if (IsSpecial(c)) {
      AppendQuoted(name, out);
      return;
    }
  }
  out += name;
}

void AppendParameter(std::string_view name, std::string_view value, std::string& out) {
  out += "; ";
  out += name;
  if (!NeedsHeaderEncoding(value)) {
    out += '=';
    AppendQuoted(value, out);
    return;
  }
  constexpr std::size_t kSection = 60;
  std::string encoded = "utf-8''";
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAttributeChar(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  if (encoded.size() <= kSection) {
    out += "*=";
    out += encoded;
    return;
  }
  std::size_t pos = 0;
  for (int section = 0; pos < encoded.size(); ++section) {
    std::size_t n = std::min(kSection, encoded.size() - pos);
    // Never split a %XX escape between two sections.
    if (pos + n < encoded.size()) {
      if (encoded[pos + n - 1] == '%')
        n -= 1;
      else if (n >= 2 && encoded[pos + n - 2] == '%')
        n -= 2;
    }
    if (section > 0) {
      out += "; ";
      out += name;
    }
    out += '*';
    out += std::to_string(section);
    out += "*=";
    out.append(encoded, pos, n);
    pos += n;
  }
}
