// SMTP dot-stuffing as a filter of the message text on its way to DATA:
// every line that begins with "." goes out with one more "." in front, so
// the server cannot take it for the end of the data.
#pragma once

#include <cstddef>
#include <string>

class TDotStuffer {
 public:
  // Appends `in` to `out`, stuffed. The state of "at a line start" carries
  // over to the next call, so the text may arrive in blocks of any size.
  void Step(const char* in, std::size_t n, std::string& out);
  // As a socket's block filter.
  void operator()(const char* in, std::size_t n, std::string& out) { Step(in, n, out); }

 private:
  bool line_start_ = true;
};
