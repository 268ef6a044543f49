#include "mail/decoder.h"

#include <array>
#include <cctype>
#include <cstring>

#include "mail/charset.h"
#include "mail/codecs.h"
#include "mail/process_hook.h"
#include "platform/ascii.h"
#include "platform/messages.h"

namespace {

[[noreturn]] void ParserError(int number) { throw EMessageParserError(MessageText(number)); }

// Bytes split into lines at CR LF, LF or a lone CR; a final line end adds no
// empty line.
void SplitLines(std::string_view bytes, TmsBody& body) {
  body.clear();
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t j = FindLineEnd(bytes, i);
    body.emplace_back(bytes.substr(i, j - i));
    if (j < bytes.size() && bytes[j] == '\r' && j + 1 < bytes.size() && bytes[j + 1] == '\n') ++j;
    i = j + 1;
  }
}

struct TransferKind {
  TTransferEncoding encoding = te7Bit;
  bool uuencoded = false;
};

TransferKind TransferOf(const std::string& cte) {
  const std::string v = AsciiLower(cte);
  if (v == "base64") return {teBase64, false};
  if (v.starts_with("x-uue")) return {teBase64, true};
  if (v == "quoted-printable") return {teQuotedPrintable, false};
  return {te7Bit, false};
}

void AppendBase64(std::string_view line, std::string& data) {
  std::array<char, 192> buf;  // enough for the usual 76-character lines
  if (Base64DecodedMaxLength(line.size()) <= buf.size()) {
    data.append(buf.data(), Base64DecodeLine(line, buf.data()));
    return;
  }
  std::size_t at = data.size();
  data.resize(at + Base64DecodedMaxLength(line.size()));
  data.resize(at + Base64DecodeLine(line, data.data() + at));
}

void AppendUU(std::string_view line, std::string& data) {
  std::array<char, kUUMaxLineBytes> buf{};
  data.append(buf.data(), UUDecodeLine(line, buf.data()));
}

// One data line of a base64 or uuencoded part; empty lines, and the framing
// lines of uuencoded data, carry no data.
void DecodeEncodedLine(std::string_view line, bool uuencoded, std::string& data) {
  if (line.empty()) return;
  if (uuencoded) {
    if (IsUUBeginLine(line) || line == "`" || AsciiLower(line) == "end") return;
    AppendUU(line, data);
  } else {
    AppendBase64(line, data);
  }
}

// "1.0", also with comments and blanks around it: "1.0 (produced by x)".
bool IsMimeVersion10(std::string_view value) {
  std::string bare;
  int depth = 0;
  for (char c : value) {
    if (c == '(')
      ++depth;
    else if (c == ')' && depth > 0)
      --depth;
    else if (depth == 0 && c != ' ' && c != '\t')
      bare += c;
  }
  return bare == "1.0";
}

bool IsMultipart(const std::string& content_type) {
  return AsciiLower(FirstToken(content_type)).starts_with("multipart/");
}

}  // namespace

TmsCustomDecoder::TmsCustomDecoder(TStream& stream) {
  // A memory stream is read in place: it outlives the decoder, which only
  // reads it. Any other stream is copied.
  if (const auto* memory = dynamic_cast<const TMemoryStream*>(&stream))
    input_.SetText(memory->Data());
  else
    input_.SetData(stream.ReadAll());
  input_.Restart();
}

TmsCustomMessage& TmsCustomDecoder::Message() {
  if (message_ == nullptr) throw EError("Message is not assigned");
  return *message_;
}

std::size_t TmsCustomDecoder::Remaining() { return input_.Remaining(); }

bool TmsCustomDecoder::ReadLine(std::string_view& line) { return input_.ReadLineView(line); }

void TmsCustomDecoder::ReadHeaderBlock(TmsHeaders& list) {
  list.clear();
  std::string_view line;
  while (ReadLine(line) && !line.empty()) list.emplace_back(line);
}

void TmsCustomDecoder::Decode() {
  Message();
  ReadHeaderBlock(message_headers_);
  ReadMessageHeaders();
  try {
    if (IsMimeVersion10(GetHeaderValue(message_headers_, "MIME-VERSION")))
      DecodeMime();
    else
      DecodeNonMime();
  } catch (const EMessageParserError& e) {
    Recover(e.what());
  }
}

void TmsCustomDecoder::Recover(const std::string& text) {
  TmsBody& body = Message().Body();
  body.push_back("The following error has been occured while processing the message:");
  body.push_back(text);
  body.push_back("The original message will be stored as an attachment");
  try {
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName("original.eml");
    item->SetTransferEncoding(te7Bit);
    item->SetContentType("message/rfc822");
    item->Stream().SetData(std::string(input_.Text()));
    Message().Attachments().Add(std::move(item));
  } catch (const std::exception&) {
    // Without the copy the explanation in the body still stands.
  }
}

void TmsCustomDecoder::DecodeNonMime() {
  std::string_view line;
  while (ReadLine(line)) {
    if (IsUUBeginLine(line)) {
      // The empty line before a begin line only separates it from the text.
      TmsBody& body = Message().Body();
      if (!body.empty() && body.back().empty()) body.pop_back();
      Message().Encoding = meUU;
      DecodeUUAttachments(std::string(line));
      return;
    }
    Message().Body().emplace_back(line);
  }
}

void TmsCustomDecoder::DecodeUUAttachments(std::string begin_line) {
  TmsAttList& atts = Message().Attachments();
  bool more = true;
  while (more) {
    auto item = std::make_unique<TmsAttItem>();
    try {
      std::string name = CutShortText(UUBeginFileName(begin_line));
      item->SetFileName(name.empty() ? "att." + std::to_string(atts.Count()) : name);
      std::string data;
      std::string_view line;
      while (ReadLine(line)) {
        if (line == "`" || AsciiUpper(line) == "END") break;
        if (!line.empty()) AppendUU(line, data);
      }
      item->Stream().SetData(std::move(data));
    } catch (const std::exception&) {
      ParserError(msg::kErrorDecodingAttachment);
    }
    atts.Add(std::move(item));
    RunProcessHook();
    // Text between uuencoded files is dropped.
    more = false;
    std::string_view line;
    while (ReadLine(line)) {
      if (IsUUBeginLine(line)) {
        begin_line = line;
        more = true;
        break;
      }
    }
  }
}

void TmsCustomDecoder::DecodeMime() {
  const std::string content_type = GetHeaderValue(message_headers_, "Content-type");
  const std::string lower = AsciiLower(content_type);
  if (lower.find("multipart/alternative") != std::string::npos) {
    alternative_ = true;
    DecodeMultipart(content_type);
  } else if (lower.find("multipart") != std::string::npos) {
    DecodeMultipart(content_type);
  } else if (!lower.empty() && lower.find("text/") == std::string::npos) {
    DecodeSinglePart(content_type);
  } else if (!GetDecodedParameter("name", content_type).empty()) {
    DecodeSinglePart(content_type);
  } else {
    DecodeTextBody(content_type);
  }
}

void TmsCustomDecoder::SetTextCharSet(const std::string& content_type, const std::string& cte,
                                      TmsBody& body) {
  TmsCustomMessage& m = Message();
  const std::string charset = GetDecodedParameter("charset", content_type);
  const std::string lower = AsciiLower(charset);
  // Latin-1 text stays as it is (the model's csISO8859), and so does
  // quoted-printable text that names no charset; any other charset is
  // converted to UTF-8, and text that does not convert keeps its bytes.
  if (IsLatin1Charset(charset) ||
      (cte == "quoted-printable" && (lower.empty() || lower == "us-ascii"))) {
    m.CharSet = csISO8859;
    return;
  }
  if (IsUtf8Charset(charset)) return;
  std::string converted;
  for (std::string& line : body)
    if (CharsetToUtf8(charset, line, converted)) line = std::move(converted);
}

void TmsCustomDecoder::DecodeTextBody(const std::string& content_type) {
  TmsCustomMessage& m = Message();
  const std::string first = AsciiLower(FirstToken(content_type));
  if (first == "text/html") m.SetContentType("text/html");
  if (first == "text/rtf") m.SetContentType("text/rtf");
  const std::string cte = AsciiLower(GetHeaderValue(message_headers_, "Content-Transfer-Encoding"));
  TmsBody& body = m.Body();
  body.clear();
  std::string_view line;
  if (cte != "base64") {
    // A quoted-printable body is decoded as it is read.
    std::string bytes;
    std::unique_ptr<TQuotedPrintableDecoder> qp;
    if (cte == "quoted-printable") {
      bytes.reserve(Remaining());
      qp = std::make_unique<TQuotedPrintableDecoder>(
          [&bytes](std::string_view b) { bytes.append(b); });
    }
    while (ReadLine(line)) {
      if (IsUUBeginLine(line)) {
        // A uuencoded file inside a MIME text body: read the body again the
        // old way. The message already has its header properties.
        input_.Restart();
        body.clear();
        ReadHeaderBlock(message_headers_);
        DecodeNonMime();
        return;
      }
      if (qp)
        qp->AddLine(line);
      else
        body.emplace_back(line);
    }
    if (qp) {
      qp->Finish();
      SplitLines(bytes, body);
    }
  } else {
    std::string bytes;
    bytes.reserve(Remaining() / 4 * 3);
    while (ReadLine(line))
      if (!line.empty()) AppendBase64(line, bytes);
    SplitLines(bytes, body);
  }
  SetTextCharSet(content_type, cte, body);
}

// A part's file name: the name parameter of its type, else the filename
// parameter of its disposition.
std::string TmsCustomDecoder::PartFileName(const TmsHeaders& headers,
                                           const std::string& content_type) {
  std::string name = GetDecodedParameter("name", content_type);
  if (name.empty())
    name = GetDecodedParameter("filename", GetHeaderValue(headers, "Content-Disposition"));
  return name;
}

template <class Decoding>
void TmsCustomDecoder::AddAttachment(std::unique_ptr<TmsAttItem> item, Decoding&& decode) {
  try {
    item->Stream().SetData(decode(*item));
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    ParserError(msg::kErrorDecodingAttachment);
  }
  Message().Attachments().Add(std::move(item));
}

void TmsCustomDecoder::DecodeSinglePart(const std::string& full_type) {
  const std::string content_type = CutShortText(full_type);
  if (content_type.empty()) ParserError(msg::kMissingContentType);
  TmsCustomMessage& m = Message();
  AddAttachment(std::make_unique<TmsAttItem>(), [&](TmsAttItem& item) {
    const TransferKind kind =
        TransferOf(GetHeaderValue(message_headers_, "Content-Transfer-Encoding"));
    const std::string name = PartFileName(message_headers_, full_type);
    item.SetFileName(name.empty() ? "att." + std::to_string(m.Attachments().Count()) : name);
    item.SetContentType(FirstToken(content_type));
    item.SetTransferEncoding(kind.encoding);
    std::string data;
    data.reserve(kind.encoding == teBase64 ? Remaining() / 4 * 3 : Remaining());
    std::string_view line;
    switch (kind.encoding) {
      case teBase64:
        while (ReadLine(line) && line != ".") DecodeEncodedLine(line, kind.uuencoded, data);
        break;
      case teQuotedPrintable: {
        TQuotedPrintableDecoder qp([&data](std::string_view b) { data.append(b); });
        while (ReadLine(line)) qp.AddLine(line);
        qp.Finish();
        break;
      }
      case te7Bit:
        while (ReadLine(line)) {
          data += line;
          data += "\r\n";
        }
        break;
    }
    return data;
  });
}

TmsCustomDecoder::TBoundary TmsCustomDecoder::BoundaryKind(std::string_view line) const {
  const std::string& boundary = levels_.back().boundary;
  // Blanks after a boundary are allowed and often added by relays.
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  if (!line.starts_with(boundary)) return TBoundary::None;
  line.remove_prefix(boundary.size());
  if (line.empty()) return TBoundary::Separator;
  return line == "--" ? TBoundary::Closing : TBoundary::None;
}

TmsCustomDecoder::TBoundary TmsCustomDecoder::SkipToBoundary(bool separatorOnly, int error) {
  std::string_view line;
  for (;;) {
    if (!ReadLine(line)) ParserError(error);
    const TBoundary kind = BoundaryKind(line);
    if (kind == TBoundary::Separator || (kind == TBoundary::Closing && !separatorOnly)) return kind;
  }
}

void TmsCustomDecoder::EnterPart(const std::string& content_type) {
  const bool alternative =
      AsciiLower(content_type).find("multipart/alternative") != std::string::npos;
  levels_.push_back({"--" + GetParameter("boundary", content_type), alternative});
  SkipToBoundary(true, msg::kNoBoundary);
}

bool TmsCustomDecoder::LeavePart() {
  for (;;) {
    levels_.pop_back();
    if (levels_.empty()) return false;
    if (SkipToBoundary(false, msg::kNoClosingBoundary) == TBoundary::Separator) return true;
  }
}

bool TmsCustomDecoder::InAlternative() const {
  for (const TLevel& level : levels_)
    if (level.alternative) return true;
  return false;
}

void TmsCustomDecoder::DecodeMultipart(const std::string& content_type) {
  TmsCustomMessage& m = Message();
  levels_.clear();
  levels_.push_back({"--" + GetParameter("Boundary", content_type), alternative_});
  SkipToBoundary(true, msg::kNoBoundary);

  // The first part: the body text, unless it is base64 data. A multipart
  // first part is entered.
  ReadHeaderBlock(part_headers_);
  while (IsMultipart(GetHeaderValue(part_headers_, "Content-Type"))) {
    EnterPart(GetHeaderValue(part_headers_, "Content-Type"));
    ReadHeaderBlock(part_headers_);
  }
  bool pending_base64 = false;
  bool more = true;
  const std::string cte = AsciiLower(GetHeaderValue(part_headers_, "Content-Transfer-Encoding"));
  if (cte == "base64") {
    part_headers_.push_back("Content-Transfer-Encoding: Base64");
    pending_base64 = true;
  } else {
    TmsBody& body = m.Body();
    body.clear();
    std::string_view line;
    TBoundary end = TBoundary::None;
    while (end == TBoundary::None && ReadLine(line)) {
      end = BoundaryKind(line);
      if (end == TBoundary::None) body.emplace_back(line);
    }
    // The line break before a boundary line belongs to the boundary.
    if (end != TBoundary::None && !body.empty() && body.back().empty()) body.pop_back();
    if (body.empty()) body.emplace_back();
    if (cte == "quoted-printable") {
      std::string bytes;
      TQuotedPrintableDecoder qp([&bytes](std::string_view b) { bytes.append(b); });
      for (const std::string& l : body) qp.AddLine(l);
      qp.Finish();
      SplitLines(bytes, body);
    }
    SetTextCharSet(GetHeaderValue(part_headers_, "Content-Type"), cte, body);
    if (end == TBoundary::None) ParserError(msg::kNoBoundary);
    if (end == TBoundary::Closing) more = LeavePart();
  }
  while (more) {
    RunProcessHook();
    if (!pending_base64) ReadHeaderBlock(part_headers_);
    pending_base64 = false;
    std::string part_type = GetHeaderValue(part_headers_, "Content-type");
    if (IsMultipart(part_type)) {
      EnterPart(part_type);
      continue;
    }
    if (part_type.empty()) part_type = "text/plain";
    more = DecodePart(part_type);
  }
  // Lines after the last closing boundary line are ignored.
}

bool TmsCustomDecoder::DecodePart(const std::string& part_type) {
  TmsCustomMessage& m = Message();
  auto item = std::make_unique<TmsAttItem>();
  const std::string type = FirstToken(CutShortText(part_type));
  const TransferKind kind = TransferOf(GetHeaderValue(part_headers_, "Content-Transfer-Encoding"));
  // A named part is typed by its file's extension; a part without a name
  // keeps its own type.
  item->SetContentType(type);
  const std::string name = PartFileName(part_headers_, part_type);
  if (!name.empty()) {
    item->SetFileName(name);
  } else {
    item->SetFileName((InAlternative() ? "_alt." : "att.") +
                      std::to_string(m.Attachments().Count()));
    if (!type.empty()) item->SetContentType(type);
  }
  item->SetTransferEncoding(kind.encoding);
  TBoundary end = TBoundary::None;
  AddAttachment(std::move(item), [&](TmsAttItem&) {
    std::string data;
    data.reserve(kind.encoding == teBase64 ? Remaining() / 4 * 3 : Remaining());
    std::unique_ptr<TQuotedPrintableDecoder> qp;
    if (kind.encoding == teQuotedPrintable)
      qp = std::make_unique<TQuotedPrintableDecoder>(
          [&data](std::string_view b) { data.append(b); });
    // The last line is held back: the line break before a boundary line
    // belongs to the boundary, so the part's last line has none.
    auto take = [&](std::string_view text, bool line_break) {
      switch (kind.encoding) {
        case teBase64:
          DecodeEncodedLine(text, kind.uuencoded, data);
          break;
        case teQuotedPrintable:
          if (line_break || text.ends_with('='))
            qp->AddLine(text);
          else if (!text.empty())
            qp->AddLine(std::string(text) + "=");  // joined like a soft break: no line end
          break;
        case te7Bit:
          // Kept whole: cutting long lines would lose data.
          data += text;
          if (line_break) data += "\r\n";
          break;
      }
    };
    std::string_view line;
    std::string_view held;
    bool holding = false;
    while (ReadLine(line)) {
      end = BoundaryKind(line);
      if (end != TBoundary::None) break;
      if (holding) take(held, true);
      held = line;
      holding = true;
    }
    if (holding) take(held, end == TBoundary::None);
    // Room was made for the rest of the input; keep only what is used.
    if (data.capacity() > 2 * data.size() + 4096) data.shrink_to_fit();
    if (qp) qp->Finish();
    return data;
  });
  // The closing line, or the end of the input, ends this level.
  return end == TBoundary::Separator || LeavePart();
}

void TmsMessageDecoder::ReadMessageHeaders() { Message().ReadHeaders(message_headers_); }

void TmsArticleDecoder::ReadMessageHeaders() { Message().ReadHeaders(message_headers_); }
