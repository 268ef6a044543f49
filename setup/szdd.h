// SZDD, the compressed-file format of compress.exe and expand.exe: a 14-byte
// header ("SZDD" 88 F0 27 33, 'A', the replaced last letter of the name, the
// expanded length) and LZSS data over a 4 KiB window preset to blanks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "setup/bytes.h"

namespace wrap {

constexpr std::size_t kSzddHeaderSize = 14;

struct SzddHeader {
  char lastChar = 0;  // 0: the name only lost a trailing "_"
  std::uint32_t length = 0;
};

// The header of a compressed file, or nothing when it is not SZDD.
std::optional<SzddHeader> ReadSzddHeader(ByteView data);

// The whole compressed file. Inputs of 4 GiB or more do not fit the header
// and throw EWrapError(EFBIG).
Bytes SzddCompress(ByteView data, char lastChar = 0);
// The same into a sink, in pieces of about 64 KiB.
void SzddCompress(ByteView data, char lastChar, const std::function<void(ByteView)>& sink);

// Expands into the sink in chunks of at most 64 KiB. Anything but a whole
// SZDD file (bad header, data ending before the recorded length) throws
// EWrapError(kInvalidData); bytes after the recorded length are ignored.
void SzddExpand(ByteView data, const std::function<void(ByteView)>& sink);
// Compressed input in pieces: fills the buffer, returns the bytes given
// (0 at the end).
using SzddSource = std::function<std::size_t(std::uint8_t*, std::size_t)>;
void SzddExpand(const SzddSource& source, const std::function<void(ByteView)>& sink);
Bytes SzddExpandToMemory(ByteView data);

// The name a compressed file expands to: a trailing "_" becomes the header's
// letter, or goes when the header has none. Other names stay as they are.
std::string ExpandedName(const std::string& compressedName, char lastChar);

// Reads the header of the file at path (the rule above applied to its last
// path component); nothing when the file cannot be read or is not SZDD.
std::optional<std::string> GetExpandedName(const std::string& path);

// Expands the file at source into a new file at target (created, or
// truncated, with mode bits `mode`). Throws EWrapError.
void SzddExpandFile(const std::string& source, const std::string& target, unsigned mode = 0644);
// The same reading the source in pieces, so that neither file is held in
// memory; tick runs after every piece written (it may throw to stop).
void SzddExpandFileTo(const std::string& source, const std::string& target, unsigned mode,
                      const std::function<void()>& tick = {});

}  // namespace wrap
