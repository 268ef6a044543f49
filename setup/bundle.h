// The launcher's resources, appended to its executable by the packer:
//
//   entry data ... | directory | trailer
//   directory: count (u32), then per entry type (u16), id (u16), mode (u16),
//              offset from the bundle start (u64), size (u64), SHA-256 (32)
//   trailer:   directory offset (u64), bundle size including the trailer
//              (u64), SHA-256 of the directory (32), magic "TVWRAP02"
//
// All numbers little-endian. The magic carries the format's version; a
// bundle of another version, or anything that does not add up, is invalid
// data.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "setup/bytes.h"
#include "setup/file_io.h"
#include "setup/sha256.h"

namespace wrap {

enum class ResourceType : std::uint16_t { String = 6, RawData = 10, IconGroup = 14 };

struct ResourceKey {
  ResourceType type;
  std::uint16_t id;
  auto operator<=>(const ResourceKey&) const = default;
};

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
  // The first bytes of a resource (fewer when it is shorter).
  std::optional<Bytes> LoadHead(ResourceType type, std::uint16_t id, std::size_t size) const;
  // A string resource cut to at most maxBytes bytes, never inside a UTF-8
  // sequence; empty when absent.
  std::string LoadString(std::uint16_t id, std::size_t maxBytes) const;
  // The first length bytes of a resource (no more than it holds) to a sink
  // in pieces; false when it is absent.
  bool CopyTo(ResourceType type, std::uint16_t id, std::uint64_t length,
              const std::function<void(ByteView)>& sink) const;
  std::optional<std::uint64_t> Size(ResourceType type, std::uint16_t id) const;
  // The permission bits recorded with a resource (0 when absent).
  std::uint16_t Mode(ResourceType type, std::uint16_t id) const;

  // Hashes every resource in directory order; the first whose bytes do not
  // match its recorded SHA-256, or nothing when all are sound.
  std::optional<ResourceKey> FindDamaged() const;

  std::vector<ResourceKey> Keys() const;
  std::size_t Count() const { return entries_.size(); }
  // Where the bundle begins: the size of the launcher without it.
  std::uint64_t Start() const { return start_; }

  struct Entry {
    std::uint64_t offset;
    std::uint64_t size;
    std::uint16_t mode;
    Digest digest;
  };

 private:
  Bundle() = default;
  void ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  void ReadDirectory(std::uint64_t directoryOffset, std::uint64_t directorySize,
                     const Digest& digest);
  const Entry* Find(ResourceType type, std::uint16_t id) const;

  UniqueFd fd_;
  Bytes image_;
  std::uint64_t start_ = 0;  // bundle start within the file or image
  std::map<ResourceKey, Entry> entries_;
};

// Writes a bundle to a sink as its resources come, so that no more than
// one piece of one resource is held at a time.
class BundleWriter {
 public:
  using Sink = std::function<void(ByteView)>;
  explicit BundleWriter(Sink sink) : sink_(std::move(sink)) {}

  // A later resource of the same type and id replaces an earlier one.
  void Add(ResourceType type, std::uint16_t id, ByteView data, std::uint16_t mode = 0);
  void AddString(std::uint16_t id, const std::string& text);
  // A resource written in pieces: Begin, any number of Write, End.
  void Begin(ResourceType type, std::uint16_t id, std::uint16_t mode = 0);
  void Write(ByteView data);
  void End();
  // The directory and the trailer.
  void Finish();

 private:
  Sink sink_;
  std::uint64_t written_ = 0;
  std::map<ResourceKey, Bundle::Entry> entries_;
  std::optional<ResourceKey> open_;
  Bundle::Entry current_{};
  Sha256 hash_;
};

// A whole bundle built in memory.
Bytes BuildBundle(const std::function<void(BundleWriter&)>& fill);

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

}  // namespace wrap
