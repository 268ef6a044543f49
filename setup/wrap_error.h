// Failures inside the launcher and the packer. The launcher's "last error"
// is errno; every failure carries one errno value and the platform's text.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>

namespace wrap {

// Damaged or missing resources, file lists and compressed files.
constexpr int kInvalidData = EBADMSG;

// The platform's text for an errno value, or "Unknown error. Code = 0x.."
// when it has none.
std::string ErrorText(int code);

class EWrapError : public std::runtime_error {
 public:
  explicit EWrapError(int code);
  EWrapError(int code, const std::string& detail);
  int Code() const noexcept { return code_; }
  const std::string& Detail() const noexcept { return detail_; }

 private:
  int code_;
  std::string detail_;
};

// Throws EWrapError(kInvalidData) with the detail text.
[[noreturn]] void ThrowInvalidData(const std::string& detail);

}  // namespace wrap
