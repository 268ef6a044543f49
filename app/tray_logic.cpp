#include "app/tray_logic.h"

#include <ctime>
#include <filesystem>

#include "app/request_stack.h"
#include "core/dispatcher.h"
#include "core/outbox.h"
#include "platform/files.h"
#include "platform/local_time.h"

std::string TrayToolTip(bool dim, const TOutbox& outbox, std::uint64_t monthBytes) {
  std::string tip = dim ? "(Tolvane)" : "Tolvane";
  int held = 0;
  for (const TOutboxEntry& entry : outbox.Entries()) held += TOutbox::Held(entry);
  const int waiting = outbox.Count() - held;
  const auto count = [](int n, const char* what) {
    return std::to_string(n) + (n == 1 ? " request " : " requests ") + what;
  };
  if (held > 0) tip += ": " + count(held, "held");
  if (waiting > 0) tip += (held > 0 ? ", " : ": ") + count(waiting, "waiting");
  // What the link cost this month, for those who pay by the byte.
  if (monthBytes > 0) tip += "\n" + ByteCountText(monthBytes) + " this month";
  return tip;
}

TClockNow ClockNow() {
  const std::tm tm = LocalTime(std::time(nullptr)).tm;
  return {tm.tm_hour * 60 + tm.tm_min, (tm.tm_year + 1900L) * 400 + tm.tm_yday};
}

bool THeldSendClock::Due(int atMinutes, TClockNow now) {
  if (atMinutes < 0 || now.minute < atMinutes || sent_on_ == now.day) return false;
  // Started after today's time: the first send is tomorrow's.
  const bool startedLate = sent_on_ < 0 && now.minute > atMinutes + 1;
  sent_on_ = now.day;
  return !startedLate;
}

std::string WithSlashes(std::string url) {
  if (TRequestDispatcher::CountChar('/', url) < 3) url += "/";
  return url;
}

const char kSecretNotRead[] = "Secret clipboard offer not read";

TPlace ProgressPlace(TPlace cursor, int width, int height, int screenW, int screenH) {
  TPlace p = cursor;
  if (p.y < height + 50) p.y = height + 50;
  if (p.x < width + 50) p.x = width + 50;
  if (p.y + height > screenH - 50) p.y = screenH - height - 50;
  if (p.x + width > screenW - 50) p.x = screenW - width - 50;
  return p;
}

TStartChoice ChooseStart(const std::string& programFolder, bool lockFailed, bool otherRuns,
                         const std::function<void()>& raiseOther) {
  if (TakeFlagFile(programFolder + "AllowDuplicateInstance.Flg")) return TStartChoice::Run;
  if (lockFailed) return TStartChoice::EndRefused;
  if (!otherRuns) return TStartChoice::Run;
  if (raiseOther) raiseOther();
  return TStartChoice::EndRaised;
}

bool TakeFlagFile(const std::string& path) {
  if (!FileExists(path)) return false;
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path), ignored);
  return true;
}

std::string RefusalText(const std::string& lockError) {
  return "Tolvane cannot tell whether it already runs, so it does not start a second time: "
         "the instance lock could not be taken: " +
         lockError;
}
