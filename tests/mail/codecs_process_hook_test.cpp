#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "mail/process_hook.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls RunProcessHook for about `ms` milliseconds.
void Work(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) RunProcessHook();
}

// Calls RunProcessHook until `done()`, or for ten seconds on a loaded
// machine; returns `done()`.
template <class Done>
bool WorkUntil(Done done) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (!done() && Clock::now() < end) RunProcessHook();
  return done();
}

}  // namespace

// Only an upper bound on the rate holds however busy the machine is.
TEST(ProcessHook, RunsEveryFewMillisecondsOnly) {
  RunProcessHook();  // no hook: nothing happens
  int calls = 0;
  SetProcessHook([&] { ++calls; });
  const auto start = Clock::now();
  EXPECT_TRUE(WorkUntil([&] { return calls >= 2; }));
  Work(100);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  SetProcessHook(nullptr);
  EXPECT_LE(calls, ms / 5 + 1);
  const int after = calls;
  Work(20);
  EXPECT_EQ(calls, after);
}

TEST(ProcessHook, DoesNotNestAndSurvivesExceptions) {
  int depth = 0, deepest = 0, calls = 0;
  SetProcessHook([&] {
    ++calls;
    ++depth;
    deepest = std::max(deepest, depth);
    Work(12);  // codec work started from an event handler
    --depth;
    if (calls == 2) throw std::runtime_error("canceled");
  });
  EXPECT_THROW(WorkUntil([&] { return calls >= 2; }), std::runtime_error);
  EXPECT_EQ(deepest, 1);
  // The hook runs again after the exception.
  EXPECT_TRUE(WorkUntil([&] { return calls > 2; }));
  SetProcessHook(nullptr);
}
