// One running Tolvane per user: the first start holds a lock for its whole
// life and listens on a local socket; a later start asks the first to bring
// its window up and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/local_socket.h"
#include "platform/instance_lock.h"

class TPreviousInstance {
 public:
  // Takes the lock named after the program file (folder excluded).
  explicit TPreviousInstance(const std::string& programPath);

  // Another instance of the same program file name runs.
  bool PreviousExists() const { return lock_.GetState() == InstanceLock::State::HeldByOther; }
  bool HoldsLock() const { return lock_.GetState() == InstanceLock::State::Held; }
  // No lock could be taken: another instance may run unseen.
  bool LockFailed() const { return lock_.GetState() == InstanceLock::State::Failed; }
  // What the user is told when a failed lock stops the start.
  std::string RefusalText() const;
  const std::string& ProgramName() const { return name_; }
  // Path of the local socket of the first instance.
  std::string SocketPath() const { return base_ + ".sock"; }

  // First instance: serve raise requests of later ones.
  void Listen(std::function<void()> onRaise);

  // Stops serving (before the application object goes).
  void StopListening() { server_.reset(); }

  // Later instance: ask the first to raise its window; best effort.
  bool AskFirstToRaise() const;

 private:
  std::string name_;
  std::string base_;
  InstanceLock lock_;
  std::unique_ptr<TLocalServer> server_;
};

// Decides at the main window's creation whether this process runs.
class TJustOne32 {
 public:
  // Deletes the duplicate flag file when present (this instance then runs);
  // otherwise, when another instance runs, raises it. When the lock could not
  // be taken this process ends too: running beside an unseen first instance
  // would send every request twice.
  TJustOne32(const std::string& programFolder, const TPreviousInstance* previous);

  // This process must end now with exit code 0.
  bool EndThisProcess() const { return end_; }
  // It ends because the lock failed, not because another runs.
  bool Refused() const { return refused_; }

 private:
  bool end_ = false;
  bool refused_ = false;
};
