#include "setup/bundle.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "setup/wrap_error.h"

namespace wrap {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'W', 'R', 'A', 'P', '0', '2'};
constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kTrailerSize = 16 + kDigestSize + sizeof kMagic;
constexpr std::size_t kEntrySize = 22 + kDigestSize;
// Far more than any launcher carries; keeps a damaged count from asking
// for gigabytes of directory.
constexpr std::uint64_t kMaxEntries = 65536;
constexpr std::size_t kChunk = 1 << 16;

struct Trailer {
  std::uint64_t directoryOffset;
  std::uint64_t bundleSize;
  Digest digest;
};

Digest DigestAt(ByteView b, std::size_t at) {
  Digest d;
  std::memcpy(d.data(), b.data() + at, d.size());
  return d;
}

Trailer ParseTrailer(ByteView t, std::uint64_t fileSize) {
  if (std::memcmp(t.data() + kTrailerSize - sizeof kMagic, kMagic, sizeof kMagic) != 0)
    ThrowInvalidData("no resource bundle of this launcher's version");
  Trailer tr{GetLE(t, 0, 8), GetLE(t, 8, 8), DigestAt(t, 16)};
  if (tr.bundleSize < kTrailerSize + 4 || tr.bundleSize > fileSize ||
      tr.directoryOffset > tr.bundleSize - kTrailerSize - 4)
    ThrowInvalidData("resource bundle size");
  return tr;
}

}  // namespace

void Bundle::ReadDirectory(std::uint64_t directoryOffset, std::uint64_t directorySize,
                           const Digest& digest) {
  if (directorySize > 4 + kMaxEntries * kEntrySize) ThrowInvalidData("resource directory size");
  Bytes dir(static_cast<std::size_t>(directorySize));
  ReadAt(directoryOffset, dir.data(), dir.size());
  if (Sha256Of(dir) != digest) ThrowInvalidData("resource directory");
  const std::uint64_t count = GetLE(dir, 0, 4);
  if (dir.size() != 4 + count * kEntrySize) ThrowInvalidData("resource directory size");
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t at = 4 + static_cast<std::size_t>(i) * kEntrySize;
    const ResourceKey key{static_cast<ResourceType>(GetLE(dir, at, 2)),
                          static_cast<std::uint16_t>(GetLE(dir, at + 2, 2))};
    const Entry e{GetLE(dir, at + 6, 8), GetLE(dir, at + 14, 8),
                  static_cast<std::uint16_t>(GetLE(dir, at + 4, 2)), DigestAt(dir, at + 22)};
    if (e.offset > directoryOffset || e.size > directoryOffset - e.offset)
      ThrowInvalidData("resource outside its bundle");
    if (!entries_.emplace(key, e).second) ThrowInvalidData("resource listed twice");
  }
}

Bundle Bundle::Open(const std::string& path) {
  Bundle b;
  b.fd_ = OpenRead(path);
  const std::uint64_t fileSize = FileSize(b.fd_.Get(), path);
  if (fileSize < kTrailerSize) ThrowInvalidData("no resource bundle");
  std::uint8_t t[kTrailerSize];
  ReadAllAt(b.fd_.Get(), fileSize - kTrailerSize, t, sizeof t);
  const Trailer tr = ParseTrailer(ByteView(t, sizeof t), fileSize);
  b.start_ = fileSize - tr.bundleSize;
  b.ReadDirectory(tr.directoryOffset, tr.bundleSize - kTrailerSize - tr.directoryOffset, tr.digest);
  return b;
}

Bundle Bundle::Parse(Bytes image) {
  Bundle b;
  b.image_ = std::move(image);
  const std::uint64_t fileSize = b.image_.size();
  if (fileSize < kTrailerSize) ThrowInvalidData("no resource bundle");
  const Trailer tr =
      ParseTrailer(ByteView(b.image_).subspan(b.image_.size() - kTrailerSize), fileSize);
  b.start_ = fileSize - tr.bundleSize;
  b.ReadDirectory(tr.directoryOffset, tr.bundleSize - kTrailerSize - tr.directoryOffset, tr.digest);
  return b;
}

void Bundle::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (fd_.Get() >= 0) {
    ReadAllAt(fd_.Get(), start_ + offset, out, size);
  } else if (size > 0) {
    std::memcpy(out, image_.data() + start_ + offset, size);
  }
}

const Bundle::Entry* Bundle::Find(ResourceType type, std::uint16_t id) const {
  auto it = entries_.find({type, id});
  return it == entries_.end() ? nullptr : &it->second;
}

std::optional<Bytes> Bundle::Load(ResourceType type, std::uint16_t id) const {
  const Entry* e = Find(type, id);
  if (!e) return std::nullopt;
  return LoadHead(type, id, static_cast<std::size_t>(e->size));
}

std::optional<Bytes> Bundle::LoadHead(ResourceType type, std::uint16_t id, std::size_t size) const {
  const Entry* e = Find(type, id);
  if (!e) return std::nullopt;
  Bytes data(static_cast<std::size_t>(std::min<std::uint64_t>(e->size, size)));
  ReadAt(e->offset, data.data(), data.size());
  return data;
}

std::optional<std::uint64_t> Bundle::Size(ResourceType type, std::uint16_t id) const {
  const Entry* e = Find(type, id);
  return e ? std::optional<std::uint64_t>(e->size) : std::nullopt;
}

std::uint16_t Bundle::Mode(ResourceType type, std::uint16_t id) const {
  const Entry* e = Find(type, id);
  return e ? e->mode : 0;
}

bool Bundle::CopyTo(ResourceType type, std::uint16_t id, std::uint64_t length,
                    const std::function<void(ByteView)>& sink) const {
  const Entry* e = Find(type, id);
  if (!e) return false;
  length = std::min(length, e->size);
  Bytes chunk;
  for (std::uint64_t done = 0; done < length;) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - done)));
    ReadAt(e->offset + done, chunk.data(), chunk.size());
    sink(chunk);
    done += chunk.size();
  }
  return true;
}

std::optional<ResourceKey> Bundle::FindDamaged() const {
  for (const auto& [key, e] : entries_) {
    Sha256 hash;
    CopyTo(key.type, key.id, e.size, [&](ByteView piece) { hash.Update(piece); });
    if (hash.Finish() != e.digest) return key;
  }
  return std::nullopt;
}

std::vector<ResourceKey> Bundle::Keys() const {
  std::vector<ResourceKey> keys;
  for (const auto& entry : entries_) keys.push_back(entry.first);
  return keys;
}

std::string Bundle::LoadString(std::uint16_t id, std::size_t maxBytes) const {
  auto data = Load(ResourceType::String, id);
  if (!data) return {};
  std::string text(data->begin(), data->end());
  // A string ends at its first zero byte, as a C string would.
  text.resize(std::strlen(text.c_str()));
  return CutUtf8(text, maxBytes);
}

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t cut = maxBytes;
  // Step back over continuation bytes to the start of the cut sequence.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

void BundleWriter::Add(ResourceType type, std::uint16_t id, ByteView data, std::uint16_t mode) {
  Begin(type, id, mode);
  Write(data);
  End();
}

void BundleWriter::AddString(std::uint16_t id, const std::string& text) {
  Add(ResourceType::String, id,
      ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void BundleWriter::Begin(ResourceType type, std::uint16_t id, std::uint16_t mode) {
  open_ = ResourceKey{type, id};
  current_ = Bundle::Entry{written_, 0, mode, {}};
  hash_ = Sha256();
}

void BundleWriter::Write(ByteView data) {
  hash_.Update(data);
  sink_(data);
  written_ += data.size();
  current_.size += data.size();
}

void BundleWriter::End() {
  current_.digest = hash_.Finish();
  entries_[*open_] = current_;
  open_.reset();
}

void BundleWriter::Finish() {
  Bytes dir;
  PutLE(dir, entries_.size(), 4);
  for (const auto& [key, e] : entries_) {
    PutLE(dir, static_cast<std::uint16_t>(key.type), 2);
    PutLE(dir, key.id, 2);
    PutLE(dir, e.mode, 2);
    PutLE(dir, e.offset, 8);
    PutLE(dir, e.size, 8);
    dir.insert(dir.end(), e.digest.begin(), e.digest.end());
  }
  const std::uint64_t directoryOffset = written_;
  Bytes trailer;
  PutLE(trailer, directoryOffset, 8);
  PutLE(trailer, written_ + dir.size() + kTrailerSize, 8);
  const Digest digest = Sha256Of(dir);
  trailer.insert(trailer.end(), digest.begin(), digest.end());
  trailer.insert(trailer.end(), kMagic, kMagic + sizeof kMagic);
  sink_(dir);
  sink_(trailer);
  written_ += dir.size() + trailer.size();
}

Bytes BuildBundle(const std::function<void(BundleWriter&)>& fill) {
  Bytes out;
  BundleWriter writer([&](ByteView b) { out.insert(out.end(), b.begin(), b.end()); });
  fill(writer);
  writer.Finish();
  return out;
}

}  // namespace wrap
