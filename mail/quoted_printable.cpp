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
struct EscapeTable {
  bool escape[256];
  constexpr EscapeTable() : escape() {
    for (int c = 0; c < 256; ++c) escape[c] = c < 32 || c == '=' || c >= 128;
  }
};
constexpr EscapeTable kEscape;

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
    : sink_(std::move(sink)), paragraph_(kQPEncodeParagraphLimit) {
  line_.reserve(kMaxEncodedLine);
}

TQuotedPrintableEncoder::~TQuotedPrintableEncoder() = default;

void TQuotedPrintableEncoder::AppendData(char c) {
  if (length_ == kQPEncodeParagraphLimit) ParagraphTooLarge();
  paragraph_[length_++] = c;
  any_ = true;
}

void TQuotedPrintableEncoder::Write(std::string_view bytes) {
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    if (pendingBreak_) {
      // The CR or LF before was not the last byte, so it ends the paragraph;
      // a CR or LF right after it belongs to the same break.
      pendingBreak_ = false;
      Paragraph();
      if (IsBreak(*p)) ++p;
      continue;
    }
    // Copy the run of ordinary bytes in one go.
    const char* stop = p;
    while (stop < end && !IsBreak(*stop)) ++stop;
    const std::size_t run = static_cast<std::size_t>(stop - p);
    if (run > 0) {
      if (run > kQPEncodeParagraphLimit - length_) {
        const std::size_t fits = kQPEncodeParagraphLimit - length_;
        std::memcpy(paragraph_.data() + length_, p, fits);
        length_ += fits;
        ParagraphTooLarge();
      }
      std::memcpy(paragraph_.data() + length_, p, run);
      length_ += run;
      any_ = true;
      p = stop;
    }
    if (p < end) {
      pendingBreak_ = true;
      pendingByte_ = *p++;
    }
  }
}

void TQuotedPrintableEncoder::Finish() {
  if (finished_) return;
  finished_ = true;
  if (pendingBreak_) {
    // The last byte of the input is data even when it is a line end.
    pendingBreak_ = false;
    AppendData(pendingByte_);
  }
  // An empty input gives one empty line; a break at the very end adds none.
  if (any_ || !afterBreak_) Paragraph();
}

void TQuotedPrintableEncoder::Paragraph() {
  const auto* p = reinterpret_cast<const unsigned char*>(paragraph_.data());
  std::size_t start = 0;
  const std::size_t len = length_;
  auto emit = [&](std::size_t from, std::size_t count, bool soft) {
    line_.clear();
    for (std::size_t k = 0; k < count; ++k) {
      const unsigned char c = p[from + k];
      // A blank at the very end of a line would be stripped by relays.
      if (kEscape.escape[c] || (c == ' ' && !soft && k + 1 == count)) {
        const char esc[3] = {'=', kHex[c >> 4], kHex[c & 15]};
        line_.append(esc, 3);
      } else {
        line_.push_back(static_cast<char>(c));
      }
    }
    if (soft) line_.push_back('=');
    sink_(line_);
  };
  while (len - start >= kQPLineCut) {
    // Cut at the last blank from the character after the window down to the
    // window's second character; the blank starts the next line.
    std::size_t cut = kQPLineCut;
    for (std::size_t k = kQPLineCut; k >= 1; --k) {
      if (start + k < len && p[start + k] == ' ') {
        cut = k;
        break;
      }
    }
    emit(start, cut, true);
    start += cut;
  }
  emit(start, len - start, false);
  length_ = 0;
  any_ = false;
  afterBreak_ = true;
  RunProcessHook();
}

// ------------------------------------------------------------------ decoder

std::size_t TQuotedPrintable::DecodeLine(std::string_view line, char* out) {
  const char* p = line.data();
  const std::size_t n = line.size();
  char* o = out;
  std::size_t i = 0;
  while (i < n) {
    const char* eq = static_cast<const char*>(std::memchr(p + i, '=', n - i));
    const std::size_t stop = eq ? static_cast<std::size_t>(eq - p) : n;
    std::memcpy(o, p + i, stop - i);
    o += stop - i;
    i = stop;
    if (i == n) break;
    // An "=" needs two hexadecimal digits after it; anything else stays.
    if (i + 2 < n) {
      const int hi = kHexValue.value[static_cast<unsigned char>(p[i + 1])];
      const int lo = kHexValue.value[static_cast<unsigned char>(p[i + 2])];
      if (hi >= 0 && lo >= 0) {
        *o++ = static_cast<char>((hi << 4) | lo);
        i += 3;
        continue;
      }
    }
    *o++ = '=';
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
