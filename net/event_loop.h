// The program's event loop as the socket layer sees it: a repeating timer,
// a pump that runs what is ready, and a wait for the next event. On Linux
// it is Qt's loop; on Windows the thread's message queue.
#pragma once

#include <functional>
#include <memory>

class TLoopTimer {
 public:
  explicit TLoopTimer(std::function<void()> tick);
  ~TLoopTimer();
  TLoopTimer(const TLoopTimer&) = delete;
  TLoopTimer& operator=(const TLoopTimer&) = delete;

  void Start(int interval_ms);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Runs the events that are ready, without waiting.
void PumpEvents();
// Waits for one event at least and runs what is ready; raises ESocketError
// when no event loop runs on this thread.
void WaitForEvents();
