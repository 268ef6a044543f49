#include "base/text_helpers.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>

namespace {

std::optional<std::vector<std::string>>& ArgumentSlot() {
  static std::optional<std::vector<std::string>> args;
  return args;
}

std::vector<std::string> OwnCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < all.size()) {
    auto end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

}  // namespace

void SetProgramArguments(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ArgumentSlot() = std::move(args);
}

std::string JoinedParams(const std::vector<std::string>& argv) {
  std::string joined;
  for (std::size_t i = 1; i < argv.size(); ++i) joined += argv[i];
  return joined;
}

std::string JoinedParams() {
  if (!ArgumentSlot()) return JoinedParams(OwnCommandLine());
  return JoinedParams(*ArgumentSlot());
}

std::string UrlExtension(const std::string& url) {
  if (url.empty() || url.back() == '/') return {};
  const auto dot = url.rfind('.');
  if (dot == std::string::npos) return {};
  return url.substr(dot + 1);
}

FormPlace PlaceForm(int screenWidth, int screenHeight, int width, int height, double fx,
                    double fy) {
  auto place = [](int screen, int size, double f) {
    const double v = std::round((static_cast<double>(screen) - size) * f);
    if (!(v > -2147483648.0)) return static_cast<int>(-2147483647 - 1);
    if (!(v < 2147483647.0)) return 2147483647;
    return static_cast<int>(v);
  };
  return {place(screenWidth, width, fx), place(screenHeight, height, fy)};
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
