// What the tray program decides without its windows, shared by the desktop
// shells: the tray icon's tool tip, the daily send of the held requests, and
// the form under which a handed-over address comes back in its outcome.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TOutbox;

// "Tolvane" (bright) or "(Tolvane)" (dim), then the held and waiting counts
// and, on a line of its own, this month's bytes when there were any.
std::string TrayToolTip(bool dim, const TOutbox& outbox, std::uint64_t monthBytes);

// The local minute of the day and a number that changes once a day.
struct TClockNow {
  int minute = 0;
  long day = 0;
};
TClockNow ClockNow();

// Once a day, when the clock passes the set time while the program runs.
class THeldSendClock {
 public:
  // `atMinutes` below 0: no time is set. True when the held requests go now.
  bool Due(int atMinutes, TClockNow now);

 private:
  long sent_on_ = -1;  // the day they last went (or were passed over)
};

// The dispatcher's slash rule, so that a handed-over address matches the
// outcome reported for it.
std::string WithSlashes(std::string url);

// What the log says of a clipboard change that a password manager marked
// secret: its text is never read.
extern const char kSecretNotRead[];

// Where the progress window's corner goes for the pointer at (x, y) on a
// screen `screenW` x `screenH` (all in that screen's coordinates): at the
// pointer, but never closer than its own size plus 50 to the top and left
// edges, nor closer than 50 to the bottom and right edges.
struct TPlace {
  int x = 0;
  int y = 0;
};
TPlace ProgressPlace(TPlace cursor, int width, int height, int screenW, int screenH);

// True when the flag file at `path` exists; it is deleted then (a failed
// delete is not reported: the flag still counts).
bool TakeFlagFile(const std::string& path);

// Whether a start runs: with AllowDuplicateInstance.Flg in `programFolder`
// (taken) it does; otherwise it ends
// when the instance lock failed (running beside an unseen first instance
// would send every request twice) or when another instance runs, which
// `raiseOther` then asks to bring its window up.
enum class TStartChoice { Run, EndRaised, EndRefused };
TStartChoice ChooseStart(const std::string& programFolder, bool lockFailed, bool otherRuns,
                         const std::function<void()>& raiseOther);

// What the user is told when a failed instance lock stops the start.
std::string RefusalText(const std::string& lockError);
