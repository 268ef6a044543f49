// The system's side of TFileLock: a lock file opened for sharing, and an
// exclusive lock on it that is only tried, never waited for, and that the
// system drops when the holder's process ends.
#pragma once

#include <cstdint>
#include <string>

namespace lock_file {

using THandle = std::intptr_t;

// Opens the lock file, creating it when missing. Raises EFileError.
THandle Open(const std::string& path);
// True when the lock was taken, false while another holder has it. Raises
// EFileError for any other failure (the handle stays open).
bool TryLock(THandle file, const std::string& path);
// Closing the handle releases the lock.
void Close(THandle file);

}  // namespace lock_file
