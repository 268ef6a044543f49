#include "setup/process.h"

namespace wrap {
namespace {

// Backslashes are literal unless a quote follows them.
void AppendQuoted(std::string& out, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    out += arg;
    return;
  }
  out.push_back('"');
  std::size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    out.push_back(c);
  }
  out.append(2 * slashes, '\\');
  out.push_back('"');
}

}  // namespace

std::string QuoteArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& arg : args) {
    if (!line.empty()) line.push_back(' ');
    AppendQuoted(line, arg);
  }
  return line;
}

}  // namespace wrap
