#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "mail/process_hook.h"

namespace {

// Calls RunProcessHook for about `ms` milliseconds.
void Work(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) RunProcessHook();
}

}  // namespace

TEST(ProcessHook, RunsEveryFewMillisecondsOnly) {
  RunProcessHook();  // no hook: nothing happens
  int calls = 0;
  SetProcessHook([&] { ++calls; });
  Work(100);
  SetProcessHook(nullptr);
  EXPECT_GE(calls, 2);
  EXPECT_LE(calls, 21);
  Work(20);
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
  EXPECT_THROW(Work(60), std::runtime_error);
  EXPECT_EQ(deepest, 1);
  // The hook runs again after the exception.
  Work(30);
  SetProcessHook(nullptr);
  EXPECT_GT(calls, 2);
}
