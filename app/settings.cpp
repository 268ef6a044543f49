#include "app/settings.h"

#include <filesystem>

#include "platform/profile.h"

namespace {

constexpr char kKeepFailedKey[] = "KeepFailed";
// Marks a key that is missing (a real value is never this).
constexpr char kMissing[] = "\x01";

}  // namespace

bool ReadKeepFailed(const std::string& settingsFile) {
  if (ReadProfileString(settingsFile, "General", kKeepFailedKey, kMissing) != kMissing)
    return ReadProfileBool(settingsFile, "General", kKeepFailedKey, false);
  std::error_code ec;
  if (std::filesystem::exists(settingsFile, ec)) return false;
  WriteProfileBool(settingsFile, "General", kKeepFailedKey, true);
  return true;
}
