#include "mail/charset.h"

#include <iconv.h>

#include <cerrno>

bool CharsetToUtf8(std::string_view charset, std::string_view bytes, std::string& out) {
  if (IsUtf8Charset(charset)) {
    out.assign(bytes);
    return true;
  }
  const std::string name(charset);
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* o = result.data();
  std::size_t outLeft = result.size();
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1)) continue;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    const std::size_t used = result.size() - outLeft;
    result.resize(result.size() * 2);
    o = result.data() + used;
    outLeft = result.size() - used;
  }
  if (ok && iconv(cd, nullptr, nullptr, &o, &outLeft) == static_cast<std::size_t>(-1)) ok = false;
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - outLeft);
  out = std::move(result);
  return true;
}
