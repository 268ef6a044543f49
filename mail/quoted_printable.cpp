#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

#include "mail/codecs.h"
#include "mail/process_hook.h"
#include "platform/errors.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Bytes written as "=XX": controls (tab included), "=", and 128 and above.
constexpr bool Escaped(int c) { return c < 32 || c == '=' || c >= 128; }

// The encoded form of every byte, padded to four so that one fixed-size
// copy writes it; `length` says how much of it counts.
struct EncodeTable {
  struct Entry {
    char text[4];
    unsigned char length;
  } entry[256];
  constexpr EncodeTable() : entry() {
    for (int c = 0; c < 256; ++c) {
      Entry& e = entry[c];
      if (Escaped(c)) {
        e = {{'=', kHex[c >> 4], kHex[c & 15], 0}, 3};
      } else {
        e = {{static_cast<char>(c), 0, 0, 0}, 1};
      }
    }
  }
};
constexpr EncodeTable kEncode;

// Value of a hexadecimal digit, or -1.
struct HexTable {
  signed char value[256];
  constexpr HexTable() : value() {
    for (auto& v : value) v = -1;
    for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<signed char>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<signed char>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<signed char>(c - 'a' + 10);
  }
};
constexpr HexTable kHexValue;

[[noreturn]] void ParagraphTooLarge() { throw EError("Paragraph is too large"); }

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// Longest encoded line: 65 source characters, each escaped, and the soft "=".
constexpr std::size_t kMaxEncodedLine = kQPLineCut * 3 + 1;

}  // namespace

// ------------------------------------------------------------------ encoder

TQuotedPrintableEncoder::TQuotedPrintableEncoder(LineSink sink)
    : sink_(std::move(sink)),
      paragraph_(kQPEncodeParagraphLimit),
      line_(kMaxEncodedLine + 4, '\0') {}

TQuotedPrintableEncoder::~TQuotedPrintableEncoder() = default;

void TQuotedPrintableEncoder::Append(const char* data, std::size_t n) {
  if (n > kQPEncodeParagraphLimit - length_) ParagraphTooLarge();
  std::memcpy(paragraph_.data() + length_, data, n);
  length_ += n;
}

void TQuotedPrintableEncoder::Write(std::string_view bytes) {
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    if (pending_cr_) {
      // A CR that ended the last block: a LF right after it is the same break.
      pending_cr_ = false;
      Paragraph(paragraph_.data(), length_, false);
      if (*p == '\n') ++p;
      continue;
    }
    const char* stop = p;
    while (stop < end && !IsBreak(*stop)) ++stop;
    const std::size_t run = static_cast<std::size_t>(stop - p);
    if (stop == end) {
      Append(p, run);
      break;
    }
    const bool cr = *stop == '\r';
    if (cr && stop + 1 == end) {
      // Whether a LF follows is known only with the next block.
      Append(p, run);
      pending_cr_ = true;
      break;
    }
    if (length_ == 0) {
      // The whole paragraph lies in this block: encode it in place.
      if (run > kQPEncodeParagraphLimit) ParagraphTooLarge();
      Paragraph(p, run, false);
    } else {
      Append(p, run);
      Paragraph(paragraph_.data(), length_, false);
    }
    p = stop + 1;
    if (cr && *p == '\n') ++p;
  }
}

void TQuotedPrintableEncoder::Finish() {
  if (finished_) return;
  finished_ = true;
  if (pending_cr_) {
    pending_cr_ = false;
    Paragraph(paragraph_.data(), length_, false);
  } else if (length_ > 0) {
    // Data without a final line break must not gain one.
    Paragraph(paragraph_.data(), length_, true);
  }
}

void TQuotedPrintableEncoder::Paragraph(const char* data, std::size_t len, bool softEnd) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  char* const line = line_.data();
  auto emit = [&](std::size_t from, std::size_t count, bool soft) {
    char* o = line;
    for (const unsigned char* c = p + from; c < p + from + count; ++c) {
      const EncodeTable::Entry& e = kEncode.entry[*c];
      std::memcpy(o, e.text, 4);  // the line has room for the overhang
      o += e.length;
    }
    // A decoded line ending in the end-of-file mark gets no line end, so a
    // hard break after one is written as a soft break plus an empty line.
    const bool markEnd = !soft && count > 0 && p[from + count - 1] == '\x1A';
    if (soft || markEnd) {
      *o++ = '=';
    } else if (count > 0 && p[from + count - 1] == ' ') {
      // A blank at the very end of a line would be stripped by relays.
      o[-1] = '=';
      *o++ = '2';
      *o++ = '0';
    }
    sink_(std::string_view(line, static_cast<std::size_t>(o - line)));
    if (markEnd) sink_(std::string_view());
  };
  std::size_t start = 0;
  for (;;) {
    const std::size_t rest = len - start;
    // Source characters that fit: at most 65, and at most 75 encoded so
    // that the line with its soft break stays within 76.
    std::size_t fit = 0;
    std::size_t width = 0;
    while (fit < rest && fit < kQPLineCut && width + kEncode.entry[p[start + fit]].length <= 75)
      width += kEncode.entry[p[start + fit++]].length;
    if (fit == rest && (rest < kQPLineCut || softEnd)) {
      const bool blankEnd = rest > 0 && p[len - 1] == ' ';
      const bool markEnd = rest > 0 && p[len - 1] == '\x1A';
      if (softEnd || width + (blankEnd ? 2 : 0) + (markEnd ? 1 : 0) <= 76) {
        emit(start, rest, softEnd);
        break;
      }
      emit(start, rest - 1, true);  // the escaped final blank or mark goes on alone
      start = len - 1;
      continue;
    }
    // Cut at the last blank from the character after the window down to the
    // window's second character; the blank starts the next line.
    std::size_t cut = fit;
    for (std::size_t k = start + fit < len ? fit : fit - 1; k >= 1; --k) {
      if (p[start + k] == ' ') {
        cut = k;
        break;
      }
    }
    emit(start, cut, true);
    start += cut;
  }
  length_ = 0;
  RunProcessHook();
}

// ------------------------------------------------------------------ decoder

std::size_t TQuotedPrintable::DecodeLine(std::string_view line, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const std::size_t n = line.size();
  char* o = out;
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    // An "=" needs two hexadecimal digits after it; anything else stays.
    if (c == '=' && i + 2 < n) {
      const int hi = kHexValue.value[p[i + 1]];
      const int lo = kHexValue.value[p[i + 2]];
      if ((hi | lo) >= 0) {
        *o++ = static_cast<char>((hi << 4) | lo);
        i += 3;
        continue;
      }
    }
    *o++ = static_cast<char>(c);
    ++i;
  }
  return static_cast<std::size_t>(o - out);
}

std::string TQuotedPrintable::DecodeLine(std::string_view line) {
  std::string out(line.size(), '\0');
  out.resize(DecodeLine(line, out.data()));
  return out;
}

TQuotedPrintableDecoder::TQuotedPrintableDecoder(ByteSink sink)
    : sink_(std::move(sink)), paragraph_(kQPDecodeParagraphLimit) {}

TQuotedPrintableDecoder::~TQuotedPrintableDecoder() = default;

void TQuotedPrintableDecoder::AddLine(std::string_view line) {
  // The soft break is taken from the line as written, so an escaped "=3D"
  // at the end stays data.
  const bool soft = !line.empty() && line.back() == '=';
  if (soft) line.remove_suffix(1);
  const std::size_t room = kQPDecodeParagraphLimit - length_;
  std::size_t decoded;
  if (line.size() <= room) {
    decoded = TQuotedPrintable::DecodeLine(line, paragraph_.data() + length_);
  } else {
    // Only the decoded size counts against the limit; decode aside first.
    std::string aside = TQuotedPrintable::DecodeLine(line);
    if (aside.size() > room) ParagraphTooLarge();
    std::memcpy(paragraph_.data() + length_, aside.data(), aside.size());
    decoded = aside.size();
  }
  const bool endOfFile = decoded > 0 && paragraph_[length_ + decoded - 1] == '\x1A';
  length_ += decoded;
  open_ = true;
  if (soft) return;
  if (!endOfFile) {
    if (kQPDecodeParagraphLimit - length_ < 2) ParagraphTooLarge();
    paragraph_[length_++] = '\r';
    paragraph_[length_++] = '\n';
  }
  Flush();
}

void TQuotedPrintableDecoder::Finish() {
  if (open_) Flush();
}

void TQuotedPrintableDecoder::Flush() {
  sink_(std::string_view(paragraph_.data(), length_));
  length_ = 0;
  open_ = false;
  RunProcessHook();
}

// ------------------------------------------------------- stream and lines

TQuotedPrintable::TQuotedPrintable(std::iostream& stream, std::vector<std::string>& lines)
    : stream_(stream), lines_(lines) {}

void TQuotedPrintable::Encode() {
  TQuotedPrintableEncoder encoder([this](std::string_view line) { lines_.emplace_back(line); });
  stream_.clear();
  stream_.seekg(0);
  char block[65536];
  for (;;) {
    stream_.read(block, sizeof block);
    const auto got = stream_.gcount();
    if (got <= 0) break;
    encoder.Write(std::string_view(block, static_cast<std::size_t>(got)));
    RunProcessHook();
  }
  if (stream_.bad()) throw EFileError("Stream read error");
  stream_.clear();
  encoder.Finish();
}

void TQuotedPrintable::Decode() {
  TQuotedPrintableDecoder decoder([this](std::string_view bytes) {
    stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream_) throw EFileError("Stream write error");
  });
  for (const std::string& line : lines_) decoder.AddLine(line);
  decoder.Finish();
}

std::string QDecodeText(std::string_view text) {
  // As one line through the decoder: a final "=" is a soft break, and only
  // the text before the first decoded line end is kept.
  if (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out = TQuotedPrintable::DecodeLine(text);
  const std::size_t end = out.find_first_of("\r\n");
  if (end != std::string::npos) out.resize(end);
  return out;
}
