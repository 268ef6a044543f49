#include "mail/idna.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/windows_api.h"

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
}

// UTF-16 to code points; false on a lone surrogate.
bool CodePoints(const std::wstring& w, std::vector<std::uint32_t>& out) {
  for (std::size_t i = 0; i < w.size(); ++i) {
    std::uint32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      return false;
    out.push_back(c);
  }
  return true;
}

char Digit(std::uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); }

// RFC 3492 encoding of one label.
std::string Punycode(const std::vector<std::uint32_t>& label) {
  constexpr std::uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700;
  std::string out;
  for (std::uint32_t c : label)
    if (c < 128) out += static_cast<char>(c);
  const std::size_t basic = out.size();
  std::size_t handled = basic;
  if (basic > 0) out += '-';
  std::uint32_t n = 128, delta = 0, bias = 72;
  const auto adapt = [&](std::uint32_t d, std::size_t points, bool first) {
    d = first ? d / kDamp : d / 2;
    d += d / static_cast<std::uint32_t>(points);
    std::uint32_t k = 0;
    for (; d > ((kBase - kTMin) * kTMax) / 2; k += kBase) d /= kBase - kTMin;
    return k + (kBase - kTMin + 1) * d / (d + kSkew);
  };
  while (handled < label.size()) {
    std::uint32_t m = UINT32_MAX;
    for (std::uint32_t c : label)
      if (c >= n && c < m) m = c;
    delta += (m - n) * static_cast<std::uint32_t>(handled + 1);
    n = m;
    for (std::uint32_t c : label) {
      if (c < n) ++delta;
      if (c != n) continue;
      std::uint32_t q = delta;
      for (std::uint32_t k = kBase;; k += kBase) {
        const std::uint32_t t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
        if (q < t) break;
        out += Digit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      out += Digit(q);
      bias = adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return out;
}

}  // namespace

// Windows' own IdnToAscii maps the deviation characters away (IDNA 2003:
// "stra\u00DFe" becomes "strasse", another name). It serves here as the check
// of what a label may hold; the mapping is case folding and NFKC, and the
// punycode is ours, so that the sharp s stays a letter of its own.
std::optional<std::string> DomainToAscii(std::string_view domain) {
  if (IsAscii(domain)) return std::string(domain);
  if (domain.find('\0') != std::string_view::npos || domain.size() > 1024) return std::nullopt;
  const std::wstring wide = WideText(domain);
  if (Utf8Text(wide) != domain) return std::nullopt;  // not UTF-8
  wchar_t checked[1024];
  if (IdnToAscii(0, wide.c_str(), static_cast<int>(wide.size()), checked, 1024) <= 0)
    return std::nullopt;
  wchar_t lower[1024];
  const int lower_size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.c_str(),
                                       static_cast<int>(wide.size()), lower, 1024, nullptr,
                                       nullptr, 0);
  if (lower_size <= 0) return std::nullopt;
  wchar_t normal[2048];
  const int normal_size = NormalizeString(NormalizationKC, lower, lower_size, normal, 2048);
  if (normal_size <= 0) return std::nullopt;
  std::string out;
  std::wstring text(normal, static_cast<std::size_t>(normal_size));
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find(L'.', start);
    if (end == std::wstring::npos) end = text.size();
    std::vector<std::uint32_t> label;
    if (!CodePoints(text.substr(start, end - start), label)) return std::nullopt;
    if (!out.empty() || start > 0) out += '.';
    if (std::all_of(label.begin(), label.end(), [](std::uint32_t c) { return c < 128; }))
      for (std::uint32_t c : label) out += static_cast<char>(c);
    else
      out += "xn--" + Punycode(label);
    start = end + 1;
  }
  return out;
}
