// ParseEhloReply over the lines of the input (CR LF or LF), as a server's
// reply to EHLO would arrive, then the choice of a sign-in method from what
// it found. The parse must hold to its own promises whatever the server says.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/esmtp.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<std::string> Lines(const std::string& input) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t lf = input.find('\n', start);
    if (lf == std::string::npos) lf = input.size();
    std::string line = input.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = lf + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const TEsmtpExtensions ext = ParseEhloReply(Lines(input));

  // A size limit only comes with its keyword.
  Check(ext.size == 0 || ext.hasSize);
  // Methods: words of the input, upper case, each once.
  for (std::size_t i = 0; i < ext.authMechanisms.size(); ++i) {
    const std::string& m = ext.authMechanisms[i];
    Check(!m.empty() && m.size() <= input.size());
    Check(m.find(' ') == std::string::npos);
    Check(std::none_of(m.begin(), m.end(), [](char c) { return c >= 'a' && c <= 'z'; }));
    Check(std::count(ext.authMechanisms.begin(), ext.authMechanisms.end(), m) == 1);
  }

  // A chosen method is one the server offered; no choice always says why.
  for (const char* wanted : {"", "PLAIN", "xoauth2", "CRAM-MD5"}) {
    std::string why;
    const std::string m = ChooseAuthMechanism(ext, wanted, why);
    if (m.empty()) {
      Check(!why.empty());
    } else {
      Check(std::find(ext.authMechanisms.begin(), ext.authMechanisms.end(), m) !=
            ext.authMechanisms.end());
    }
  }
  return 0;
}
