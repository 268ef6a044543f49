#include "mail/process_hook.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// The hook belongs to the thread that installs it: the GUI thread.
thread_local std::function<void()> gHook;
thread_local Clock::time_point gLastRun;
thread_local int gCountdown = 0;

constexpr auto kInterval = std::chrono::milliseconds(5);
// Calls between two looks at the clock; reading it per line would cost
// more than the line itself.
constexpr int kCallsPerClockRead = 16;

}  // namespace

void SetProcessHook(std::function<void()> hook) {
  gHook = std::move(hook);
  gLastRun = Clock::now();
  gCountdown = kCallsPerClockRead;
}

void RunProcessHook() {
  if (!gHook || --gCountdown > 0) return;
  gCountdown = kCallsPerClockRead;
  const auto now = Clock::now();
  if (now - gLastRun < kInterval) return;
  gLastRun = now;
  gHook();
  // Time spent in the hook does not count against the work.
  gLastRun = Clock::now();
}
