// A lock that one process holds for its whole life: a lock file taken with
// flock in the user's runtime folder; on Windows a named mutex of this user's
// session named after that path. Other processes only test it.
#pragma once

#include <string>

// $XDG_RUNTIME_DIR when it is private to this user, else the user's state
// folder (made 0700; never the shared temp folder, where another user could
// make the folder first); with a trailing "/". Empty when neither can be had
// safely. Windows: the state folder, which is the user's own.
std::string PrivateRuntimeFolder();

// The place of the lock (and of anything else named after it) for a program
// file name: PrivateRuntimeFolder() + name; empty when there is no such
// folder (the lock then fails and nothing listens).
std::string InstanceBasePath(const std::string& programName);

#ifdef _WIN32
// The local pipe named after a place of InstanceBasePath():
// \\.\pipe\Tolvane-<hash of the place>. Empty for an empty place.
std::string InstancePipeName(const std::string& path);

// The process at the other end of a named pipe (a HANDLE) runs as this user.
bool PeerIsSameUser(void* pipe);
#else
// The process at the other end of a local socket runs as this user.
bool PeerIsSameUser(int socketFd);
#endif

class InstanceLock {
 public:
  enum class State {
    Held,         // this process holds the lock
    HeldByOther,  // another process holds it
    Failed,       // no lock could be made: whether another runs is unknown
  };

  // Takes the lock at `path` without waiting. On Windows no file is made,
  // so the path's folder need not exist.
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
#ifdef _WIN32
  void* mutex_ = nullptr;  // the mutex's handle; its existence is the lock
#else
  int fd_ = -1;
#endif
  State state_ = State::Failed;
};
