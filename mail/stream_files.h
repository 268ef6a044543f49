// The system's side of TFileStream and TTempFileStream: files opened by
// name, never inherited by child processes, read and written as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/streams.h"

namespace stream_files {

using THandle = std::intptr_t;
constexpr THandle kNone = -1;

// kNone when the file cannot be opened or created, or is a folder.
THandle Open(const std::string& name, TFileMode mode);
// A new, empty file "ms…" in the temporary folder; kNone on failure, with
// `name` then what was tried.
THandle CreateTemp(std::string& name);
// Bytes moved (0 at the end of the file), -1 on failure.
std::ptrdiff_t Read(THandle file, void* buffer, std::size_t count);
std::ptrdiff_t Write(THandle file, const void* buffer, std::size_t count);
// The new position, -1 on failure.
std::int64_t Seek(THandle file, std::int64_t offset, TSeekOrigin origin);
std::int64_t Size(THandle file);  // -1 on failure
bool Truncate(THandle file, std::int64_t size);
void Close(THandle file);
// Removes a closed file; Windows removes no open one.
void Remove(const std::string& name);

}  // namespace stream_files
