// A lock that serialises processes around a change of shared files: flock
// on a lock file, held by a scope. Nested holds in one process (a change
// made while a send already holds the lock) share the one lock.
#pragma once

#include <functional>
#include <string>

class TFileLock {
 public:
  // Takes the lock at `path` (created when missing), waiting while another
  // process holds it. Between tries `wait` runs (it may pump events) and
  // returns false to give up. Raises EFileError when the lock file cannot
  // be made or the wait was given up.
  explicit TFileLock(const std::string& path, const std::function<bool()>& wait = {});
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

 private:
  std::string path_;
};
