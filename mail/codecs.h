// Content transfer codecs: base64, quoted-printable and uuencode, line by
// line, and the decoding of encoded words in header values.
//
// Every routine comes in two forms: one that returns a std::string, and one
// that writes into a caller's buffer so that loops over many lines allocate
// nothing per line.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- base64

// Base64 text of `bytes`, padded with "=" to a multiple of four characters.
// The message encoder feeds 57-byte chunks, which give 76-character lines.
std::string Base64EncodeChunk(std::string_view bytes);

constexpr std::size_t Base64EncodedLength(std::size_t byteCount) { return (byteCount + 2) / 3 * 4; }
// Writes Base64EncodedLength(n) characters to `out`; returns that count.
std::size_t Base64EncodeChunk(const char* bytes, std::size_t n, char* out);

// Bytes of one base64 line. Any character outside the alphabet and "="
// (a blank or line end included) raises EFileError "Invalid Character".
// Leftover bits shorter than a byte give no byte ("TQ" is one byte).
std::string Base64DecodeLine(std::string_view line);

constexpr std::size_t Base64DecodedMaxLength(std::size_t lineLength) {
  return lineLength / 4 * 3 + 3;
}
// Writes at most Base64DecodedMaxLength(line.size()) bytes; returns the count.
std::size_t Base64DecodeLine(std::string_view line, char* out);

// ------------------------------------------------------ quoted-printable

// Paragraph limits: encoding refuses a paragraph (bytes between two line
// breaks) longer than kQPEncodeParagraphLimit; decoding refuses a joined
// paragraph longer than kQPDecodeParagraphLimit, its line break included.
// Both raise EError "Paragraph is too large".
constexpr std::size_t kQPEncodeParagraphLimit = 24575;
constexpr std::size_t kQPDecodeParagraphLimit = 24574;
// Source characters per encoded line before a soft break.
constexpr std::size_t kQPLineCut = 65;

// Bytes in, text lines out. Feed any number of Write calls, then Finish.
// CR LF, a lone LF and a lone CR each end a line; a final line break ends
// the last line, and data that does not end in one gets a soft break at its
// end, so it decodes without a line break. Lines hold at most 65 source
// characters and at most 76 encoded ones (cut at the last blank when there
// is one; the blank starts the next line) and every cut line ends in a soft
// "=". Bytes below 32, "=" and bytes from 128 are escaped "=XX"; a blank
// that ends a line is escaped "=20" so relays cannot strip it. An empty
// input gives no lines.
class TQuotedPrintableEncoder {
 public:
  // Receives each line without its line end. The view is valid only
  // during the call.
  using LineSink = std::function<void(std::string_view line)>;

  explicit TQuotedPrintableEncoder(LineSink sink);
  TQuotedPrintableEncoder(const TQuotedPrintableEncoder&) = delete;
  TQuotedPrintableEncoder& operator=(const TQuotedPrintableEncoder&) = delete;
  ~TQuotedPrintableEncoder();

  void Write(std::string_view bytes);
  // Emits what is left of the last line.
  void Finish();

 private:
  void Paragraph(const char* data, std::size_t length, bool softEnd);
  void Append(const char* data, std::size_t n);

  LineSink sink_;
  std::vector<char> paragraph_;  // fixed capacity, no growth
  std::size_t length_ = 0;
  std::string line_;         // reused output line, fixed size
  bool pending_cr_ = false;  // a CR ended the last block; a LF may follow
  bool finished_ = false;
};

// Text lines in, bytes out. A line ending in "=" is joined to the next
// (soft break); any other line gets CR LF, except one whose decoded text
// ends with the byte 26 (end-of-file mark).
class TQuotedPrintableDecoder {
 public:
  // Receives each decoded paragraph, line break included.
  using ByteSink = std::function<void(std::string_view bytes)>;

  explicit TQuotedPrintableDecoder(ByteSink sink);
  TQuotedPrintableDecoder(const TQuotedPrintableDecoder&) = delete;
  TQuotedPrintableDecoder& operator=(const TQuotedPrintableDecoder&) = delete;
  ~TQuotedPrintableDecoder();

  void AddLine(std::string_view line);
  // Writes a paragraph left open by a soft break on the last line.
  void Finish();

 private:
  void Flush();

  ByteSink sink_;
  std::vector<char> paragraph_;  // fixed capacity, no growth
  std::size_t length_ = 0;
  bool open_ = false;
};

// Converts between a byte stream and a list of text lines. It owns neither.
class TQuotedPrintable {
 public:
  TQuotedPrintable(std::iostream& stream, std::vector<std::string>& lines);

  // Reads the whole stream from position 0 and appends lines to the list.
  void Encode();
  // Decodes every line of the list, from the first, into bytes written to
  // the stream at its current position.
  void Decode();

  // One line with its "=XX" escapes replaced; an "=" not followed by two
  // hexadecimal digits stays as it is.
  static std::string DecodeLine(std::string_view line);
  // Allocation-free form: writes at most line.size() bytes; returns the count.
  static std::size_t DecodeLine(std::string_view line, char* out);

 private:
  std::iostream& stream_;
  std::vector<std::string>& lines_;
};

// Decodes one quoted-printable text (the "Q" form of a header word) and
// returns its first line.
std::string QDecodeText(std::string_view text);

// --------------------------------------------------------------- uuencode

// Largest byte count one uuencoded line can state.
constexpr std::size_t kUUMaxLineBytes = 63;
// Longest line UUEncodeChunk writes (count character included).
constexpr std::size_t kUUMaxLineLength = 1 + (kUUMaxLineBytes * 4) / 3 + 1;

// One uuencoded line of 1 to 45 bytes (at most 63): the count character,
// then 60 characters for 45 bytes, else floor(4n/3) + 1 characters.
// More than 63 bytes raise std::length_error.
std::string UUEncodeChunk(std::string_view bytes);
// Writes at most kUUMaxLineLength characters; returns the count.
std::size_t UUEncodeChunk(const char* bytes, std::size_t n, char* out);

// Bytes of one uuencoded line, as many as its count character states.
// Characters missing at the end count as zero values (relays strip
// trailing blanks, which old encoders used for zero). A character outside
// the alphabet raises EFileError "Invalid Character".
std::string UUDecodeLine(std::string_view line);
// Writes at most kUUMaxLineBytes bytes; returns the count.
std::size_t UUDecodeLine(std::string_view line, char* out);

// True for a line such as "begin 644 report.txt".
bool IsUUBeginLine(std::string_view line);
// The file name of a begin line ("" when there is none).
std::string UUBeginFileName(std::string_view line);

// ------------------------------------------------------------ header words

// The text with every encoded word (=?charset?B?text?= or
// =?charset?Q?text?=) decoded and converted to UTF-8 (text in a charset
// iconv does not know keeps its bytes). Blanks between two adjacent encoded
// words are dropped. A malformed word stays as it was written.
std::string DecodeHeaderWordsWhole(std::string_view text);
// The same, cut to 255 characters (never inside a UTF-8 sequence).
std::string DecodeHeaderWords(std::string_view text);

// -------------------------------------------------------- header encoding

// True when `text` cannot stand in a header as it is: a byte from 128, a
// control character other than the tab, or an "=?" that readers would take
// for the start of an encoded word.
bool NeedsHeaderEncoding(std::string_view text);

// Bytes of UTF-8 text per encoded word: 52 base64 characters, so a word
// with its "=?utf-8?B?" and "?=" is 64 characters and a header line that
// starts with one stays within 78.
constexpr std::size_t kEncodedWordBytes = 39;
constexpr std::size_t HeaderWordsMaxLength(std::size_t textLength) {
  return (textLength / (kEncodedWordBytes - 6) + 1) * 65;
}
// Writes `text` as RFC 2047 encoded words (UTF-8, base64) separated by
// blanks; no word splits a UTF-8 sequence. Writes at most
// HeaderWordsMaxLength(text.size()) characters; returns the count.
std::size_t EncodeHeaderWords(std::string_view text, char* out);
std::string EncodeHeaderWords(std::string_view text);

// Appends `text` as a quoted string: in double quotes, with '"' and '\'
// escaped by a backslash.
void AppendQuoted(std::string_view text, std::string& out);

// Appends a display name as an address header needs it: encoded words when
// it holds non-ASCII text, a quoted string when it holds a special
// character ("()<>[]:;@\,." or '"'), else as it is.
void AppendDisplayName(std::string_view name, std::string& out);

// Appends "; " and the parameter `name` with `value`: name="value" for
// ASCII text; otherwise RFC 2231 name*=utf-8''%XX... split into numbered
// sections (name*0*=, name*1*=, ...) of at most 60 characters, each after
// "; " so that a folded header keeps its lines short.
void AppendParameter(std::string_view name, std::string_view value, std::string& out);
