#include "platform/temp_name.h"

#include <random>

std::string RandomNameSuffix() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix(8, '0');
  for (char& c : suffix) c = kDigits[random() % 36];
  return suffix;
}

std::string TempNameBeside(const std::string& target, std::string_view separators) {
  const auto slash = target.find_last_of(separators);
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return folder + "." + target.substr(folder.size()) + "." + RandomNameSuffix() + ".tmp";
}
