#include "mail/encoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "mail/codecs.h"
#include "mail/headers.h"
#include "mail/process_hook.h"
#include "platform/ascii.h"
#include "platform/messages.h"

namespace {

constexpr std::size_t kFlushAt = 64 * 1024;

std::string LowerPart(const TmsAttItem& item) { return AsciiLower(FileNamePart(item.FileName())); }

// A header value must stay on its line: line breaks inside it would start
// new header lines (or end the header block) on the wire.
std::string OneLine(std::string_view s) {
  std::string out(s);
  std::replace_if(
      out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return out;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// A line that must stay within 78 characters where it can: a header line
// longer than that is folded at blanks after its first word.
constexpr std::size_t kFoldAt = 78;

bool HasEightBit(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 128; });
}

// RFC 5322's limit: a longer line must be quoted-printable, a shorter one
// goes as it is (request robots read the raw body, and take "=" at a line's
// end, or "=3D", as part of the address).
constexpr std::size_t kMaxLineOctets = 998;

// The longest line of a body entry, whose CR LF, CR or LF each end one.
std::size_t LongestLine(std::string_view entry) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < entry.size();) {
    const std::size_t j = FindLineEnd(entry, i);
    longest = std::max(longest, j - i);
    i = j + (entry.substr(j).starts_with("\r\n") ? 2 : 1);
  }
  return longest;
}

// "name <address>", the name written as an address header needs it; an
// empty name leaves the blank before "<".
std::string Mailbox(const TmsMailAddress& a) {
  std::string out;
  AppendDisplayName(OneLine(a.Name()), out);
  out += " <" + OneLine(a.Address()) + ">";
  return out;
}

// The name and filename parameters of an attachment: RFC 2231 for a
// non-ASCII file name, with encoded words in name= for older readers.
std::string NameParameter(std::string_view part) {
  if (NeedsHeaderEncoding(part)) return "; name=\"" + EncodeHeaderWords(part) + "\"";
  std::string out;
  AppendParameter("name", part, out);
  return out;
}

std::string FileNameParameter(std::string_view part) {
  std::string out;
  AppendParameter("filename", part, out);
  return out;
}

}  // namespace

std::string MakeBoundary() {
  // Seeded from the system's entropy and the clock once per thread; every
  // call draws fresh digits.
  thread_local std::mt19937 engine = [] {
    std::random_device rd;
    std::seed_seq seq{
        rd(), rd(),
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937(seq);
  }();
  RunProcessHook();
  std::uniform_int_distribution<int> digit(0, 8);
  std::string out(8, '0');
  for (char& c : out) c = static_cast<char>('0' + digit(engine));
  return out;
}

std::string QuoteDisplayName(std::string_view name) {
  std::string out;
  AppendDisplayName(name, out);
  return out;
}

// ---- TmsCustomEncoder

TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message) : message_(message) {
  for (const std::string& line : message_.Body()) {
    long_lines_ = long_lines_ || LongestLine(line) > kMaxLineOctets;
    eight_bit_ = eight_bit_ || HasEightBit(line);
  }
}

void TmsCustomEncoder::WriteHeaderLine(std::string_view line) {
  // Folds go only after the first word of the value (the field name, its
  // padding and the first word stay together), and never inside a quoted
  // string, where the blanks are text, except between encoded words.
  std::size_t from = line.find_first_not_of(' ');
  if (from == 0) from = line.find(':');
  if (from != std::string_view::npos) from = line.find_first_not_of(' ', from + 1);
  if (line.size() <= kFoldAt || from == std::string_view::npos) {
    WriteLine(line);
    return;
  }
  std::vector<std::size_t> folds;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (quoted && line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ' ' && i > from && line[i - 1] != ' ' &&
               line.find_first_not_of(' ', i) != std::string_view::npos &&
               (!quoted || (line.substr(i - 2, 2) == "?=" && line.substr(i + 1, 2) == "=?"))) {
      folds.push_back(i);
    }
  }
  std::size_t pos = 0;
  for (std::size_t k = 0; k < folds.size(); ++k) {
    // The last fold that keeps this line within 78, else the first one.
    if (line.size() - pos <= kFoldAt) break;
    std::size_t next = k;
    while (next + 1 < folds.size() && folds[next + 1] - pos <= kFoldAt) ++next;
    WriteLine(line.substr(pos, folds[next] - pos));
    pos = folds[next];
    k = next;
  }
  WriteLine(line.substr(pos));
}

void TmsCustomEncoder::WriteLine(std::string_view text) {
  std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  pending_.append(text);
  pending_.append("\r\n");
  if (pending_.size() >= kFlushAt) Flush();
}

void TmsCustomEncoder::Flush() {
  if (pending_.empty()) return;
  std::string out;
  out.swap(pending_);
  output_->WriteBuffer(out.data(), out.size());
}

void TmsCustomEncoder::Encode() {
  if (output_ == nullptr) throw EError("Output stream is not assigned");
  output_->SetPosition(0);
  std::int64_t estimate = 4096;
  for (const std::string& line : message_.Body())
    estimate += static_cast<std::int64_t>(line.size()) * 11 / 10 + 8;
  for (int i = 0; i < message_.Attachments().Count(); ++i)
    estimate += message_.Attachments()[i].Stream().Size() * 14 / 10 + 512;
  output_->Reserve(estimate);
  try {
    WriteHeaders();
    if (message_.Encoding == meUU) {
      WriteUUBody();
    } else {
      const std::string type = message_.GetContentType();
      if (type == "multipart/mixed") {
        WriteMultipartBody(false);
      } else if (type == "text/plain") {
        if (message_.Attachments().Count() == 0)
          WritePlainTextBody();
        else
          WriteSinglePartBody();
      } else if (type == "multipart/alternative") {
        WriteMultipartBody(true);
      } else {
        WriteSinglePartBody();
      }
    }
    Flush();
  } catch (...) {
    // The stream keeps what was written before the failure.
    try {
      Flush();
    } catch (...) {
    }
    throw;
  }
  // A reused stream must not keep the tail of an older, longer message.
  if (output_->Size() > output_->Position()) output_->SetSize(output_->Position());
}

void TmsCustomEncoder::WriteAddressHeader(std::string_view name, const TmsAddressList& list) {
  if (list.Count() == 0) return;
  std::string field(name);
  if (field.empty() || field.back() != ':') field += ':';
  if (field.size() < 10) field.resize(10, ' ');
  // One address per line: a long list folds between addresses, never
  // inside one.
  for (int i = 0; i < list.Count(); ++i) {
    std::string entry = (i == 0 ? field : std::string(10, ' ')) + Mailbox(list[i]);
    if (i + 1 < list.Count()) entry += ',';
    WriteHeaderLine(entry);
  }
}

void TmsCustomEncoder::WriteCommonHeaders() {
  TmsHeaders& headers = message_.Headers();
  for (const char* name :
       {"From", "To", "CC", "BCC", "Return-Receipt-To", "X-Priority", "Subject", "MIME-Version",
        "Content-Type", "X-Encoding", "Content-Transfer-Encoding"})
    RemoveHeader(headers, name);
  for (const std::string& line : headers) WriteCallerHeader(line);
  if (!message_.Subject().empty()) {
    const std::string subject = OneLine(message_.Subject());
    WriteHeaderLine("Subject:  " +
                    (NeedsHeaderEncoding(subject) ? EncodeHeaderWords(subject) : subject));
  }
  // Spelled as RFC 2045 does: spam filters score other spellings.
  if (message_.Encoding == meMIME) WriteLine("MIME-Version: 1.0");
}

void TmsCustomEncoder::WriteCallerHeader(std::string_view entry) {
  if (std::any_of(entry.begin(), entry.end(),
                  [](char c) { return static_cast<unsigned char>(c) >= 128; })) {
    WriteEncodedCallerHeader(entry);
    return;
  }
  // An empty line would end the header block; line breaks inside an entry
  // fold it, so each piece after the first continues it.
  bool first = true;
  std::size_t i = 0;
  while (i < entry.size()) {
    std::size_t j = FindLineEnd(entry, i);
    std::string_view piece = entry.substr(i, j - i);
    i = j + (entry.substr(j).starts_with("\r\n") ? 2 : 1);
    if (piece.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (first && piece.front() != ' ' && piece.front() != '\t' &&
        piece.find(':') == std::string_view::npos)
      throw EMessageError("Invalid header line: " + CutShortText(piece, 80));
    if (!first && piece.front() != ' ' && piece.front() != '\t')
      WriteHeaderLine(" " + std::string(piece));
    else
      WriteHeaderLine(piece);
    first = false;
  }
}

// Text beyond ASCII goes out as encoded words, as in a subject; the entry's
// line breaks are blanks of the one value.
void TmsCustomEncoder::WriteEncodedCallerHeader(std::string_view entry) {
  const std::size_t colon = entry.find(':');
  const std::string_view name = entry.substr(0, colon);
  if (colon == std::string_view::npos || colon == 0 || NeedsHeaderEncoding(name) ||
      name.find_first_of(" \t") != std::string_view::npos)
    throw EMessageError("Invalid header line: " + CutShortText(entry, 80));
  std::string value;
  for (char c : entry.substr(colon + 1)) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank && (value.empty() || value.back() == ' ')) continue;
    value += blank ? ' ' : c;
  }
  while (!value.empty() && value.back() == ' ') value.pop_back();
  WriteHeaderLine(std::string(name) + ": " + EncodeHeaderWords(value));
}

void TmsCustomEncoder::WriteTextPartHeaders() {
  if (message_.CharSet == csISO8859) {
    WriteLine("Content-Type: text/plain; charset=" + Quoted("iso-8859-1"));
    WriteLine("Content-Transfer-Encoding: quoted-printable");
  } else if (eight_bit_) {
    // The model's text is UTF-8; without 8BITMIME it travels quoted-printable.
    WriteLine("Content-Type: text/plain; charset=" + Quoted("utf-8"));
    WriteLine(QuotedPrintableText() ? "Content-Transfer-Encoding: quoted-printable"
                                    : "Content-Transfer-Encoding: 8bit");
  } else {
    WriteLine("Content-Type: text/plain; charset=" + Quoted("us-ascii"));
    WriteLine(long_lines_ ? "Content-Transfer-Encoding: quoted-printable"
                          : "Content-Transfer-Encoding: 7bit");
  }
}

bool TmsCustomEncoder::QuotedPrintableText() const {
  return message_.CharSet == csISO8859 || long_lines_ || (eight_bit_ && !message_.Allow8Bit);
}

void TmsCustomEncoder::WriteTextLines() {
  const TmsBody& body = message_.Body();
  if (QuotedPrintableText()) {
    TQuotedPrintableEncoder qp([this](std::string_view line) { WriteLine(line); });
    for (const std::string& line : body) {
      qp.Write(line);
      qp.Write("\r\n");
    }
    qp.Finish();
  } else {
    // A lone CR or LF inside an entry goes out as CR LF.
    for (const std::string& line : body) {
      std::size_t i = 0;
      do {
        const std::size_t j = FindLineEnd(line, i);
        WriteLine(std::string_view(line).substr(i, j - i));
        i = j + (std::string_view(line).substr(j).starts_with("\r\n") ? 2 : 1);
      } while (i < line.size());
    }
  }
}

void TmsCustomEncoder::WritePlainTextBody() {
  WriteTextPartHeaders();
  WriteLine("");
  WriteTextLines();
}

void TmsCustomEncoder::WriteSinglePartBody() {
  const TmsAttItem& item = message_.Attachments()[0];
  const std::string part = OneLine(FileNamePart(item.FileName()));
  const std::string lower = AsciiLower(part);
  const bool one = message_.Attachments().Count() == 1;
  const bool html = one && lower == "_htmbody.htm";
  const bool rtf = one && lower == "_rtfbody.rtf";
  if (html)
    WriteLine("Content-Type: text/html");
  else if (rtf)
    WriteLine("Content-Type: text/rtf");
  else
    WriteHeaderLine("Content-Type: " + OneLine(item.ContentType()) + NameParameter(part));
  WriteLine(std::string("Content-Transfer-Encoding: ") +
            TransferEncodingName(item.TransferEncoding()));
  if (!html && !rtf) WriteHeaderLine("Content-Disposition: attachment" + FileNameParameter(part));
  WriteLine("");
  WriteAttachmentData(item);
}

void TmsCustomEncoder::WriteMultipartBody(bool alternative) {
  const TmsAttList& atts = message_.Attachments();
  const bool body = !message_.Body().empty();
  std::string boundary = MakeBoundary();
  WriteLine("Content-Type: " + message_.GetContentType() + "; boundary=" + Quoted(boundary));
  WriteLine("");
  WriteLine(MessageText(msg::kMultipartPreamble));
  WriteLine("");
  WriteLine("--" + boundary);

  const std::string first = atts.Count() > 0 ? LowerPart(atts[0]) : std::string();
  bool html = atts.Count() > 0 && !body && first == "_htmbody.htm";
  bool rtf = atts.Count() > 0 && !body && first == "_rtfbody.rtf";
  bool alt = first.starts_with("_alt.");
  std::string outer;
  if (alt && !alternative) {
    outer = boundary;
    boundary = MakeBoundary();
    WriteLine("Content-Type:  multipart/alternative; boundary=" + Quoted(boundary));
    WriteLine("Content-Transfer-Encoding: 7bit");
    WriteLine("");
    WriteLine("--" + boundary);
  }
  if (body) {
    WriteTextPartHeaders();
    WriteLine("");
    WriteTextLines();
    WriteLine("");
    WriteLine("--" + boundary);
  }
  bool nested_closed = false;
  for (int i = 0; i < atts.Count(); ++i) {
    const TmsAttItem& item = atts[i];
    if (i > 0) {
      // The empty line after the data already ends the part; a second one
      // would become part of a text attachment's data.
      if (nested_closed) WriteLine("");
      nested_closed = false;
      WriteLine("--" + boundary);
      html = rtf = false;
    }
    const std::string part = OneLine(FileNamePart(item.FileName()));
    const bool plain = !(alternative || alt || html || rtf);
    if (plain)
      WriteHeaderLine("Content-Type: " + OneLine(item.ContentType()) + NameParameter(part));
    else
      WriteLine("Content-Type: " + OneLine(item.ContentType()));
    WriteLine(std::string("Content-Transfer-Encoding: ") +
              TransferEncodingName(item.TransferEncoding()));
    if (plain) WriteHeaderLine("Content-Disposition: attachment" + FileNameParameter(part));
    WriteLine("");
    WriteAttachmentData(item);
    WriteLine("");
    if (i + 1 == atts.Count()) {
      WriteLine("--" + boundary + "--");
    } else if (alt && !LowerPart(atts[i + 1]).starts_with("_alt.")) {
      alt = false;
      WriteLine("--" + boundary + "--");
      boundary = outer;
      nested_closed = true;
    }
  }
}

void TmsCustomEncoder::WriteAttachmentData(const TmsAttItem& item) {
  const std::string& data = item.Stream().Data();
  switch (item.TransferEncoding()) {
    case teBase64: {
      std::array<char, Base64EncodedLength(57)> line{};
      std::size_t pos = 0;
      for (;;) {
        std::size_t n = std::min<std::size_t>(57, data.size() - pos);
        std::size_t len = Base64EncodeChunk(data.data() + pos, n, line.data());
        WriteLine(std::string_view(line.data(), len));
        pos += n;
        if (n < 57) break;
        if ((pos & 0xFFFF) < 57) RunProcessHook();
      }
      break;
    }
    case teQuotedPrintable: {
      TQuotedPrintableEncoder qp([this](std::string_view line) { WriteLine(line); });
      qp.Write(data);
      qp.Finish();
      break;
    }
    case te7Bit: {
      // Split at CR LF, lone CR or LF; a final line end adds no empty line.
      std::size_t i = 0;
      while (i < data.size()) {
        std::size_t j = FindLineEnd(data, i);
        WriteLine(std::string_view(data).substr(i, j - i));
        if (j < data.size() && data[j] == '\r' && j + 1 < data.size() && data[j + 1] == '\n') ++j;
        i = j + 1;
      }
      break;
    }
  }
}

void TmsCustomEncoder::WriteUUBody() {
  WriteLine("");
  for (const std::string& line : message_.Body()) WriteLine(line);
  const TmsAttList& atts = message_.Attachments();
  for (int i = 0; i < atts.Count(); ++i) {
    const TmsAttItem& item = atts[i];
    const std::string& data = item.Stream().Data();
    WriteLine("");
    WriteLine("begin 600 " + OneLine(FileNamePart(item.FileName())));
    std::array<char, kUUMaxLineLength> line{};
    std::size_t pos = 0;
    for (;;) {
      std::size_t n = std::min<std::size_t>(45, data.size() - pos);
      if (n == 0) {
        WriteLine("``");  // the count-0 line after data of a multiple of 45
        break;
      }
      std::size_t len = UUEncodeChunk(data.data() + pos, n, line.data());
      WriteLine(std::string_view(line.data(), len));
      pos += n;
      if (n < 45) break;
    }
    WriteLine("`");
    WriteLine("end");
  }
}

// ---- header writers

void TmsMessageEncoder::WriteHeaders() {
  auto& m = static_cast<TmsMessage&>(message_);
  WriteHeaderLine("From:     " + Mailbox(m.Sender()));
  WriteAddressHeader("To", m.Recipients());
  WriteAddressHeader("CC", m.CC());
  if (m.ReturnReceipt) WriteLine("Return-Receipt-To: <" + OneLine(m.Sender().Address()) + ">");
  if (m.Priority == ptLow) WriteLine("X-Priority: 5");
  if (m.Priority == ptHigh) WriteLine("X-Priority: 1");
  WriteCommonHeaders();
}

void TmsArticleEncoder::WriteHeaders() {
  auto& a = static_cast<TmsArticle&>(message_);
  WriteHeaderLine("From:     " + Mailbox(a.Sender()));
  WriteLine("Newsgroups: " + OneLine(a.NewsGroups));
  WriteCommonHeaders();
}
