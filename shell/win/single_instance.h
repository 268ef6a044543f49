// One running Tolvane per program file name on Windows: the named mutex of
// the instance lock, held for the whole run; a later start finds the first's
// hidden window by its class and asks it, with a registered message, to show
// its main window.
#pragma once

#include <string>

#include "platform/instance_lock.h"

// The message a later start posts to the first instance's hidden window.
unsigned ShowMainWindowMessage();

class TWinInstance {
 public:
  // Takes the lock named after this program's file name.
  TWinInstance();

  bool HoldsLock() const { return lock_.GetState() == InstanceLock::State::Held; }
  bool OtherRuns() const { return lock_.GetState() == InstanceLock::State::HeldByOther; }
  bool LockFailed() const { return lock_.GetState() == InstanceLock::State::Failed; }
  // What the user is told when a failed lock stops the start.
  std::string RefusalText() const;

  // Later instance: lets the first take the foreground and asks it to show
  // its main window; false when its window was not found.
  static bool AskFirstToShow();

 private:
  InstanceLock lock_;
};
