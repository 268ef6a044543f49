#include <string>

#include "mail/charset.h"
#include "mail/codecs.h"
#include "mail/headers.h"
#include "platform/ascii.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool OnlyBlanks(std::string_view s) {
  for (char c : s)
    if (!IsBlank(c)) return false;
  return true;
}

// One encoded word =?charset?X?text?= starting at `start`: its charset and
// bytes, and the position after it. False for anything malformed, which
// then stays as it was written.
bool ReadWord(std::string_view s, std::size_t start, std::string& charset, std::string& bytes,
              std::size_t& after) {
  const std::size_t q1 = s.find('?', start + 2);
  if (q1 == std::string_view::npos || q1 == start + 2 || q1 + 2 >= s.size() || s[q1 + 2] != '?')
    return false;
  const char letter = s[q1 + 1];
  const std::size_t end = s.find("?=", q1 + 3);
  if (end == std::string_view::npos) return false;
  charset.assign(s.substr(start + 2, q1 - start - 2));
  std::string encoded(s.substr(q1 + 3, end - q1 - 3));
  for (char c : charset + encoded)
    if (IsBlank(c)) return false;
  // An RFC 2231 language suffix ("utf-8*en") is not part of the charset.
  charset = charset.substr(0, charset.find('*'));
  try {
    if (letter == 'B' || letter == 'b') {
      bytes = Base64DecodeLine(encoded);
    } else if (letter == 'Q' || letter == 'q') {
      // "_" stands for a blank only inside Q text; "=5F" is a real "_".
      for (char& c : encoded)
        if (c == '_') c = ' ';
      bytes = QDecodeText(encoded);
    } else {
      return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  after = end + 2;
  return true;
}

}  // namespace

std::string DecodeHeaderWordsWhole(std::string_view text) {
  std::string out;
  std::string run;  // bytes of adjacent words in one charset, converted together
  std::string runCharset;
  auto flush = [&] {
    std::string converted;
    out += CharsetToUtf8(runCharset, run, converted) ? converted : run;
    run.clear();
  };
  std::size_t pos = 0;
  bool afterWord = false;
  for (;;) {
    const std::size_t start = text.find("=?", pos);
    if (start == std::string_view::npos) break;
    std::string charset, bytes;
    std::size_t after = 0;
    if (!ReadWord(text, start, charset, bytes, after)) {
      flush();
      out += text.substr(pos, start + 2 - pos);
      pos = start + 2;
      afterWord = false;
      continue;
    }
    const std::string_view between = text.substr(pos, start - pos);
    // Blanks between two encoded words are folding, not text.
    if (!afterWord || !OnlyBlanks(between) || AsciiLower(charset) != AsciiLower(runCharset)) {
      flush();
      if (!afterWord || !OnlyBlanks(between)) out += between;
    }
    runCharset = charset;
    run += bytes;
    pos = after;
    afterWord = true;
  }
  flush();
  out += text.substr(pos);
  return out;
}

std::string DecodeHeaderWords(std::string_view text) {
  return CutShortText(DecodeHeaderWordsWhole(text));
}
