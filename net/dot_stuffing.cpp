#include "net/dot_stuffing.h"

#include <cstring>

void TDotStuffer::Step(const char* in, std::size_t n, std::string& out) {
  const char* end = in + n;
  while (in < end) {
    if (line_start_ && *in == '.') out += '.';
    const void* lf = std::memchr(in, '\n', static_cast<std::size_t>(end - in));
    const char* stop = lf ? static_cast<const char*>(lf) + 1 : end;
    out.append(in, static_cast<std::size_t>(stop - in));
    line_start_ = lf != nullptr;
    in = stop;
  }
}
