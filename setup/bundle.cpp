#include "setup/bundle.h"

#include <sys/stat.h>

#include <cstring>

#include "setup/wrap_error.h"

namespace wrap {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'W', 'R', 'A', 'P', '0', '1'};
constexpr std::size_t kTrailerSize = 24;
constexpr std::size_t kEntrySize = 20;
// Far more than any launcher carries; keeps a damaged count from asking
// for gigabytes of directory.
constexpr std::uint64_t kMaxEntries = 65536;

struct Trailer {
  std::uint64_t directoryOffset;
  std::uint64_t bundleSize;
};

Trailer ParseTrailer(ByteView t, std::uint64_t fileSize) {
  if (std::memcmp(t.data() + 16, kMagic, sizeof kMagic) != 0)
    ThrowInvalidData("no resource bundle");
  Trailer tr{GetLE(t, 0, 8), GetLE(t, 8, 8)};
  if (tr.bundleSize < kTrailerSize + 4 || tr.bundleSize > fileSize ||
      tr.directoryOffset > tr.bundleSize - kTrailerSize - 4)
    ThrowInvalidData("resource bundle size");
  return tr;
}

}  // namespace

std::map<std::pair<std::uint16_t, std::uint16_t>, Bundle::Entry> Bundle::ParseDirectory(
    ByteView dir, std::uint64_t directoryOffset) {
  const std::uint64_t count = GetLE(dir, 0, 4);
  if (count > kMaxEntries || dir.size() != 4 + count * kEntrySize)
    ThrowInvalidData("resource directory size");
  std::map<std::pair<std::uint16_t, std::uint16_t>, Entry> entries;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t at = 4 + static_cast<std::size_t>(i) * kEntrySize;
    const auto type = static_cast<std::uint16_t>(GetLE(dir, at, 2));
    const auto id = static_cast<std::uint16_t>(GetLE(dir, at + 2, 2));
    const Entry e{GetLE(dir, at + 4, 8), GetLE(dir, at + 12, 8)};
    if (e.offset > directoryOffset || e.size > directoryOffset - e.offset)
      ThrowInvalidData("resource outside its bundle");
    if (!entries.emplace(std::make_pair(type, id), e).second)
      ThrowInvalidData("resource listed twice");
  }
  return entries;
}

Bundle Bundle::Open(const std::string& path) {
  Bundle b;
  b.fd_ = OpenRead(path);
  struct stat st {};
  if (::fstat(b.fd_.Get(), &st) != 0) throw EWrapError(errno, path);
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (fileSize < kTrailerSize) ThrowInvalidData("no resource bundle");
  std::uint8_t t[kTrailerSize];
  ReadAllAt(b.fd_.Get(), fileSize - kTrailerSize, t, sizeof t);
  const Trailer tr = ParseTrailer(ByteView(t, sizeof t), fileSize);
  b.start_ = fileSize - tr.bundleSize;
  const std::uint64_t dirSize = tr.bundleSize - kTrailerSize - tr.directoryOffset;
  if (dirSize > 4 + kMaxEntries * kEntrySize) ThrowInvalidData("resource directory size");
  Bytes dir(static_cast<std::size_t>(dirSize));
  b.ReadAt(tr.directoryOffset, dir.data(), dir.size());
  b.entries_ = ParseDirectory(dir, tr.directoryOffset);
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
  const auto dirSize = static_cast<std::size_t>(tr.bundleSize - kTrailerSize - tr.directoryOffset);
  b.entries_ = ParseDirectory(
      ByteView(b.image_).subspan(static_cast<std::size_t>(b.start_ + tr.directoryOffset), dirSize),
      tr.directoryOffset);
  return b;
}

void Bundle::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (fd_.Get() >= 0) {
    ReadAllAt(fd_.Get(), start_ + offset, out, size);
  } else if (size > 0) {
    std::memcpy(out, image_.data() + start_ + offset, size);
  }
}

std::optional<Bytes> Bundle::Load(ResourceType type, std::uint16_t id) const {
  auto it = entries_.find({static_cast<std::uint16_t>(type), id});
  if (it == entries_.end()) return std::nullopt;
  Bytes data(static_cast<std::size_t>(it->second.size));
  ReadAt(it->second.offset, data.data(), data.size());
  return data;
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

void BundleWriter::Add(ResourceType type, std::uint16_t id, ByteView data) {
  entries_[{static_cast<std::uint16_t>(type), id}] = Bytes(data.begin(), data.end());
}

void BundleWriter::AddString(std::uint16_t id, const std::string& text) {
  Add(ResourceType::String, id,
      ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Bytes BundleWriter::Build() const {
  Bytes out;
  Bytes dir;
  PutLE(dir, entries_.size(), 4);
  for (const auto& [key, data] : entries_) {
    PutLE(dir, key.first, 2);
    PutLE(dir, key.second, 2);
    PutLE(dir, out.size(), 8);
    PutLE(dir, data.size(), 8);
    out.insert(out.end(), data.begin(), data.end());
  }
  const std::uint64_t directoryOffset = out.size();
  out.insert(out.end(), dir.begin(), dir.end());
  PutLE(out, directoryOffset, 8);
  PutLE(out, out.size() + 8 + sizeof kMagic, 8);
  out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
  return out;
}

}  // namespace wrap
