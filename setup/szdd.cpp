#include "setup/szdd.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "setup/file_io.h"
#include "setup/folders.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

constexpr std::uint8_t kMagic[9] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A'};
constexpr int kRing = 4096;
constexpr int kRingStart = kRing - 16;  // where the first byte goes in the ring
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 18;
// The coder keeps the bytes ahead of it in the same ring, so it never
// refers further back than this; staying inside it keeps every expander
// happy, including those that share the ring with the look-ahead.
constexpr int kMaxDistance = kRing - kMaxMatch;

constexpr std::size_t kChunk = 1 << 16;

}  // namespace

std::optional<SzddHeader> ReadSzddHeader(ByteView data) {
  if (data.size() < kSzddHeaderSize || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
    return std::nullopt;
  SzddHeader h;
  h.lastChar = static_cast<char>(data[9]);
  h.length = static_cast<std::uint32_t>(GetLE(data, 10, 4));
  return h;
}

namespace {

// Compressed bytes from memory, or from a source in pieces.
class Input {
 public:
  explicit Input(ByteView data) : at_(data.data()), end_(data.data() + data.size()) {}
  explicit Input(const SzddSource& source) : source_(&source), buf_(kChunk) {}

  // False at the end of the data.
  bool Next(std::uint8_t& byte) {
    if (at_ == end_ && !Refill()) return false;
    byte = *at_++;
    return true;
  }
  std::uint8_t Next() {
    std::uint8_t byte = 0;
    if (!Next(byte)) ThrowInvalidData("compressed data ends early");
    return byte;
  }

 private:
  bool Refill() {
    if (!source_) return false;
    const std::size_t n = (*source_)(buf_.data(), buf_.size());
    at_ = buf_.data();
    end_ = at_ + n;
    return n > 0;
  }
  const SzddSource* source_ = nullptr;
  Bytes buf_;
  const std::uint8_t* at_ = nullptr;
  const std::uint8_t* end_ = nullptr;
};

void Expand(Input& in, const std::function<void(ByteView)>& sink) {
  std::uint8_t head[kSzddHeaderSize];
  std::size_t got = 0;
  while (got < sizeof head && in.Next(head[got])) ++got;
  const auto header = ReadSzddHeader(ByteView(head, got));
  if (!header) ThrowInvalidData("not an SZDD file");
  const std::uint64_t length = header->length;

  // buf holds up to kRing bytes of history followed by new output; it is
  // flushed and slid back when it fills.
  Bytes buf(kRing + kChunk + kMaxMatch);
  std::size_t pos = 0;      // next write in buf
  std::size_t flushed = 0;  // buf[flushed, pos) not yet given to the sink
  std::uint64_t total = 0;  // bytes produced so far
  const std::size_t limit = kRing + kChunk;
  unsigned flags = 0;

  auto flush = [&] {
    if (pos > flushed) sink(ByteView(buf.data() + flushed, pos - flushed));
    flushed = pos;
  };

  while (total < length) {
    if (pos >= limit) {
      flush();
      std::memmove(buf.data(), buf.data() + pos - kRing, kRing);
      pos = flushed = kRing;
    }
    if ((flags & 0x100) == 0) flags = in.Next() | 0xFF00u;
    bool literal = flags & 1;
    flags >>= 1;
    if (literal) {
      buf[pos++] = in.Next();
      ++total;
      continue;
    }
    const unsigned lo = in.Next();
    const unsigned hi = in.Next();
    const unsigned ringPos = lo | ((hi & 0xF0u) << 4);
    std::uint64_t len = (hi & 0x0Fu) + kMinMatch;
    const unsigned here = static_cast<unsigned>((total + kRingStart) % kRing);
    std::size_t distance = (here - ringPos) & (kRing - 1);
    if (distance == 0) distance = kRing;
    len = std::min(len, length - total);
    // Before the first slide, buffer index equals output offset; anything
    // before offset 0 is the blank-filled window.
    for (std::uint64_t k = 0; k < len; ++k, ++pos) {
      buf[pos] = pos < distance ? ' ' : buf[pos - distance];
    }
    total += len;
  }
  flush();
}

}  // namespace

void SzddExpand(ByteView data, const std::function<void(ByteView)>& sink) {
  Input in(data);
  Expand(in, sink);
}

void SzddExpand(const SzddSource& source, const std::function<void(ByteView)>& sink) {
  Input in(source);
  Expand(in, sink);
}

Bytes SzddExpandToMemory(ByteView data) {
  Bytes out;
  if (auto h = ReadSzddHeader(data)) {
    // Every input byte gives at most 9 output bytes; never trust the header
    // alone for the reservation.
    out.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(h->length, static_cast<std::uint64_t>(data.size()) * 9)));
  }
  SzddExpand(data, [&](ByteView chunk) { out.insert(out.end(), chunk.begin(), chunk.end()); });
  return out;
}

namespace {

// Longest matches from a binary tree of the strings starting in the window,
// one node per position, ordered by their first kMaxMatch bytes. Inserting
// a position walks the tree once and finds the longest earlier match on the
// way, so the search is exact, not cut short as a hash chain would be.
class MatchFinder {
 public:
  explicit MatchFinder(ByteView data) : d_(data), head_(kHashSize, 0), son_(2 * kRing, 0) {}

  // Must be called for every position in order; returns the longest match
  // at i (0 when below kMinMatch) and sets distance.
  int FindAndInsert(std::size_t i, int& distance) {
    const std::size_t n = d_.size();
    if (i + kMinMatch > n) return 0;
    const std::size_t lenLimit = std::min<std::size_t>(kMaxMatch, n - i);
    const std::uint8_t* cur = d_.data() + i;
    std::uint32_t& head = head_[Hash(cur)];
    std::uint32_t match = head;  // position + 1, 0 for none
    const auto self = static_cast<std::uint32_t>(i + 1);
    head = self;
    const std::size_t slot = i & (kRing - 1);
    std::uint32_t* ptr0 = &son_[2 * slot + 1];  // receives the greater subtree
    std::uint32_t* ptr1 = &son_[2 * slot];      // receives the smaller subtree
    std::size_t len0 = 0, len1 = 0;
    std::size_t best = 0;
    for (int cut = kMaxSteps;; --cut) {
      const std::size_t delta = self - match;
      if (match == 0 || cut == 0 || delta > static_cast<std::size_t>(kMaxDistance)) {
        *ptr0 = *ptr1 = 0;
        break;
      }
      std::uint32_t* pair = &son_[2 * ((i - delta) & (kRing - 1))];
      const std::uint8_t* pb = cur - delta;
      std::size_t len = std::min(len0, len1);
      while (len < lenLimit && pb[len] == cur[len]) ++len;
      if (len > best) {
        best = len;
        distance = static_cast<int>(delta);
      }
      if (len == lenLimit) {
        // Equal over the whole limit: it takes the old node's place.
        *ptr1 = pair[0];
        *ptr0 = pair[1];
        break;
      }
      if (pb[len] < cur[len]) {
        *ptr1 = match;
        ptr1 = pair + 1;
        match = *ptr1;
        len1 = len;
      } else {
        *ptr0 = match;
        ptr0 = pair;
        match = *ptr0;
        len0 = len;
      }
    }
    return best >= static_cast<std::size_t>(kMinMatch) ? static_cast<int>(best) : 0;
  }

 private:
  static constexpr std::size_t kHashBits = 16;
  static constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
  static constexpr int kMaxSteps = 1024;

  static std::size_t Hash(const std::uint8_t* p) {
    const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  ByteView d_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> son_;
};

class Writer {
 public:
  explicit Writer(const std::function<void(ByteView)>& sink) : sink_(sink) {}
  void Literal(std::uint8_t c) {
    Item(true);
    out_.push_back(c);
  }
  void Match(std::size_t at, int distance, int len) {
    Item(false);
    const unsigned ringPos =
        static_cast<unsigned>((at + kRingStart - static_cast<std::size_t>(distance)) % kRing);
    out_.push_back(static_cast<std::uint8_t>(ringPos & 0xFF));
    out_.push_back(static_cast<std::uint8_t>(((ringPos >> 4) & 0xF0) |
                                             static_cast<unsigned>(len - kMinMatch)));
  }
  void Flush() {
    sink_(out_);
    out_.clear();
  }

 private:
  void Item(bool literal) {
    if (bit_ == 8) {
      // A group is complete: its bytes can go.
      if (out_.size() >= kChunk) Flush();
      flag_at_ = out_.size();
      out_.push_back(0);
      bit_ = 0;
    }
    if (literal) out_[flag_at_] = static_cast<std::uint8_t>(out_[flag_at_] | (1u << bit_));
    ++bit_;
  }
  const std::function<void(ByteView)>& sink_;
  Bytes out_;
  std::size_t flag_at_ = 0;
  int bit_ = 8;
};

}  // namespace

void SzddCompress(ByteView data, char lastChar, const std::function<void(ByteView)>& sink) {
  if (data.size() > std::numeric_limits<std::uint32_t>::max())
    throw EWrapError(EFBIG, "SZDD holds at most 4 GiB - 1");
  Bytes header(kMagic, kMagic + sizeof kMagic);
  header.push_back(static_cast<std::uint8_t>(lastChar));
  PutLE(header, data.size(), 4);
  sink(header);
  Writer writer(sink);
  MatchFinder finder(data);

  // Optimal parse block by block: a literal costs 9 bits, a match 17, and
  // every shorter length at a match's distance is a match too.
  const std::size_t block = std::min(data.size(), std::size_t{1} << 18);
  std::vector<std::uint8_t> lengths(block);
  std::vector<std::uint16_t> distances(block);
  std::vector<std::uint32_t> cost(block + 1);
  std::vector<std::uint8_t> take(block);
  for (std::size_t start = 0; start < data.size(); start += block) {
    const std::size_t stop = std::min(data.size(), start + block);
    const std::size_t count = stop - start;
    for (std::size_t i = start; i < stop; ++i) {
      int distance = 0;
      const int len = std::min(finder.FindAndInsert(i, distance),
                               static_cast<int>(std::min<std::size_t>(stop - i, kMaxMatch)));
      lengths[i - start] = static_cast<std::uint8_t>(len >= kMinMatch ? len : 0);
      distances[i - start] = static_cast<std::uint16_t>(distance);
    }
    cost[count] = 0;
    for (std::size_t k = count; k-- > 0;) {
      std::uint32_t best = cost[k + 1] + 9;
      std::uint8_t choice = 0;
      for (int len = lengths[k]; len >= kMinMatch; --len) {
        const std::uint32_t c = cost[k + static_cast<std::size_t>(len)] + 17;
        if (c < best) {
          best = c;
          choice = static_cast<std::uint8_t>(len);
        }
      }
      cost[k] = best;
      take[k] = choice;
    }
    for (std::size_t k = 0; k < count;) {
      if (take[k] == 0) {
        writer.Literal(data[start + k]);
        ++k;
      } else {
        writer.Match(start + k, distances[k], take[k]);
        k += take[k];
      }
    }
  }
  writer.Flush();
}

Bytes SzddCompress(ByteView data, char lastChar) {
  Bytes out;
  out.reserve(data.size() / 2 + 64);
  SzddCompress(data, lastChar, [&](ByteView b) { out.insert(out.end(), b.begin(), b.end()); });
  return out;
}

std::string ExpandedName(const std::string& compressedName, char lastChar) {
  if (compressedName.empty() || compressedName.back() != '_') return compressedName;
  std::string name = compressedName.substr(0, compressedName.size() - 1);
  if (lastChar != 0) name.push_back(lastChar);
  return name;
}

std::optional<std::string> GetExpandedName(const std::string& path) {
  try {
    UniqueFd fd = OpenRead(path);
    std::uint8_t head[kSzddHeaderSize];
    ReadAllAt(fd.Get(), 0, head, sizeof head);
    auto header = ReadSzddHeader(ByteView(head, sizeof head));
    if (!header) return std::nullopt;
    const std::size_t slash = path.find_last_of(kPathSeparators);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    return ExpandedName(leaf, header->lastChar);
  } catch (const EWrapError&) {
    return std::nullopt;
  }
}

void SzddExpandFile(const std::string& source, const std::string& target, unsigned mode) {
  if (!GetExpandedName(source)) ThrowInvalidData(source + " is not an SZDD file");
  SzddExpandFileTo(source, target, mode);
}

void SzddExpandFileTo(const std::string& source, const std::string& target, unsigned mode,
                      const std::function<void()>& tick) {
  UniqueFd in = OpenRead(source);
  UniqueFd out = CreateFile(target, mode);
  SzddExpand([&](std::uint8_t* buf, std::size_t size) { return ReadSome(in.Get(), buf, size); },
             [&](ByteView chunk) {
               WriteAll(out.Get(), chunk);
               if (tick) tick();
             });
  out.Close();
}

}  // namespace wrap
