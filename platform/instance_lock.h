// A lock that one process holds for its whole life: a lock file taken with
// flock in the user's runtime folder. Other processes only test it.
#pragma once

#include <string>

// $XDG_RUNTIME_DIR when it is private to this user, else the user's state
// folder (made 0700; never the shared temp folder, where another user could
// make the folder first); with a trailing "/". Empty when neither can be had
// safely.
std::string PrivateRuntimeFolder();

// The place of the lock (and of anything else named after it) for a program
// file name: PrivateRuntimeFolder() + name; empty when there is no such
// folder (the lock then fails and nothing listens).
std::string InstanceBasePath(const std::string& programName);

// The process at the other end of a local socket runs as this user.
bool PeerIsSameUser(int socketFd);

class InstanceLock {
 public:
  enum class State {
    Held,         // this process holds the lock
    HeldByOther,  // another process holds it
    Failed,       // no lock could be made: whether another runs is unknown
  };

  // Takes the lock at `path` without waiting.
  explicit InstanceLock(const std::string& path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  State GetState() const { return state_; }
  const std::string& Path() const { return path_; }
  // Why the lock failed; empty otherwise.
  const std::string& Error() const { return error_; }

  // Gives the lock up now (normally it lasts until the process ends).
  void Release();

 private:
  std::string path_;
  std::string error_;
  int fd_ = -1;
  State state_ = State::Failed;
};
