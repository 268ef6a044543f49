#include "mail/process_hook.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// The hook belongs to the thread that installs it: the GUI thread. The
// countdown is a plain int so that the per-call test stays a decrement.
thread_local std::function<void()>* gHook = nullptr;
thread_local int gCountdown = 0;
thread_local Clock::time_point gLastRun;
// Work started from inside the hook does not run the hook again.
thread_local bool gInHook = false;

constexpr auto kInterval = std::chrono::milliseconds(5);
// Calls between two looks at the clock; reading it per line would cost
// more than the line itself.
constexpr int kCallsPerClockRead = 16;
constexpr int kNoHook = 1 << 30;

std::function<void()>& HookStorage() {
  thread_local std::function<void()> hook;
  return hook;
}

}  // namespace

void SetProcessHook(std::function<void()> hook) {
  std::function<void()>& storage = HookStorage();
  storage = std::move(hook);
  gHook = storage ? &storage : nullptr;
  gLastRun = Clock::now();
  gCountdown = gHook ? kCallsPerClockRead : kNoHook;
}

void RunProcessHook() {
  if (--gCountdown > 0) return;
  if (!gHook || gInHook) {
    gCountdown = gHook ? kCallsPerClockRead : kNoHook;
    return;
  }
  gCountdown = kCallsPerClockRead;
  const auto now = Clock::now();
  if (now - gLastRun < kInterval) return;
  struct Guard {
    Guard() { gInHook = true; }
    ~Guard() {
      gInHook = false;
      // Time spent in the hook does not count against the work.
      gLastRun = Clock::now();
    }
  } guard;
  (*gHook)();
}
