#include <string>

#include "mail/codecs.h"
#include "mail/headers.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string DecodeHeaderWords(std::string_view text) {
  std::string s(text);
  std::size_t pos = 0;
  // End of the last decoded word, when blanks alone separate it from `pos`.
  std::size_t lastWordEnd = std::string::npos;
  for (;;) {
    const std::size_t start = s.find("=?", pos);
    if (start == std::string::npos) break;
    // =?charset?X?encoded text?=
    const std::size_t q1 = s.find('?', start + 2);
    if (q1 == std::string::npos) break;
    if (q1 + 2 >= s.size() || s[q1 + 2] != '?') {
      pos = start + 2;
      continue;
    }
    const char letter = s[q1 + 1];
    const std::size_t textBegin = q1 + 3;
    const std::size_t end = s.find("?=", textBegin);
    if (end == std::string::npos) break;  // no closing "?=": leave the rest
    std::string encoded = s.substr(textBegin, end - textBegin);
    std::string decoded;
    if (letter == 'B' || letter == 'b') {
      decoded = Base64DecodeLine(encoded);
    } else if (letter == 'Q' || letter == 'q') {
      // "_" stands for a blank only inside Q text; "=5F" is a real "_".
      for (char& c : encoded) {
        if (c == '_') c = ' ';
      }
      decoded = QDecodeText(encoded);
    } else {
      // Unknown encoding: the word stays as written.
      pos = end + 2;
      lastWordEnd = std::string::npos;
      continue;
    }
    std::size_t from = start;
    // Blanks between two encoded words are folding, not text.
    if (lastWordEnd != std::string::npos && lastWordEnd <= start) {
      bool onlyBlanks = true;
      for (std::size_t k = lastWordEnd; k < start; ++k) onlyBlanks = onlyBlanks && IsBlank(s[k]);
      if (onlyBlanks) from = lastWordEnd;
    }
    s.replace(from, end + 2 - from, decoded);
    pos = from + decoded.size();
    lastWordEnd = pos;
    if (s.size() > kShortTextLength) {
      s = CutShortText(s);
      if (pos > s.size()) break;
    }
  }
  return s;
}
