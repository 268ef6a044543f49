// The launcher's resources, appended to its executable by the packer:
//
//   entry data ... | directory | trailer
//   directory: count (u32), then per entry type (u16), id (u16),
//              offset from the bundle start (u64), size (u64)
//   trailer:   directory offset (u64), bundle size including the trailer
//              (u64), magic "TVWRAP01"
//
// All numbers little-endian. Anything that does not add up is invalid data.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "setup/bytes.h"
#include "setup/file_io.h"

namespace wrap {

enum class ResourceType : std::uint16_t { String = 6, RawData = 10, IconGroup = 14 };

class Bundle {
 public:
  // Reads the directory of the bundle at the end of the file (normally
  // /proc/self/exe). Throws EWrapError: errno when the file cannot be read,
  // kInvalidData when there is no sound bundle.
  static Bundle Open(const std::string& path);
  // The same over a file image in memory.
  static Bundle Parse(Bytes image);

  // The resource's bytes, or nothing when it is absent. Throws EWrapError
  // when the file cannot be read any more.
  std::optional<Bytes> Load(ResourceType type, std::uint16_t id) const;
  // A string resource cut to at most maxBytes bytes, never inside a UTF-8
  // sequence; empty when absent.
  std::string LoadString(std::uint16_t id, std::size_t maxBytes) const;
  std::size_t Count() const { return entries_.size(); }
  // Where the bundle begins: the size of the launcher without it.
  std::uint64_t Start() const { return start_; }

 private:
  struct Entry {
    std::uint64_t offset;
    std::uint64_t size;
  };
  Bundle() = default;
  void ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  static std::map<std::pair<std::uint16_t, std::uint16_t>, Entry> ParseDirectory(
      ByteView directory, std::uint64_t directoryOffset);

  UniqueFd fd_;
  Bytes image_;
  std::uint64_t start_ = 0;  // bundle start within the file or image
  std::map<std::pair<std::uint16_t, std::uint16_t>, Entry> entries_;
};

// Collects resources and writes the bytes to append to a launcher.
class BundleWriter {
 public:
  void Add(ResourceType type, std::uint16_t id, ByteView data);
  void AddString(std::uint16_t id, const std::string& text);
  Bytes Build() const;

 private:
  std::map<std::pair<std::uint16_t, std::uint16_t>, Bytes> entries_;
};

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

}  // namespace wrap
