#include "mail/encoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <random>

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
  if (name.find('"') == std::string_view::npos && name.find('.') != std::string_view::npos)
    return Quoted(name);
  return std::string(name);
}

// ---- TmsCustomEncoder

TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message) : message_(message) {
  for (const std::string& line : message_.Body()) {
    if (line.size() > 255) {
      long_lines_ = true;
      break;
    }
  }
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
  for (int i = 0; i < list.Count(); ++i) {
    const TmsMailAddress& a = list[i];
    std::string entry = OneLine(QuoteDisplayName(a.Name())) + " <" + OneLine(a.Address()) + ">";
    if (i + 1 < list.Count()) entry += ',';
    if (i == 0)
      WriteLine(CutShortText(field + entry));
    else
      WriteLine(std::string(10, ' ') + entry);
  }
}

void TmsCustomEncoder::WriteCommonHeaders() {
  TmsHeaders& headers = message_.Headers();
  for (const char* name :
       {"From", "To", "CC", "BCC", "Return-Receipt-To", "X-Priority", "Subject", "Mime-Version",
        "Content-Type", "X-Encoding", "Content-Transfer-Encoding"})
    RemoveHeader(headers, name);
  for (const std::string& line : headers) WriteLine(line);
  if (!message_.Subject().empty())
    WriteLine(CutShortText("Subject:  " + OneLine(message_.Subject())));
  if (message_.Encoding == meMIME) WriteLine("Mime-Version: 1.0");
}

void TmsCustomEncoder::WriteTextPartHeaders() {
  if (message_.CharSet == csISO8859) {
    WriteLine("Content-Type: text/plain; charset=" + Quoted("iso-8859-1"));
    WriteLine("Content-Transfer-Encoding: quoted-printable");
  } else {
    WriteLine("Content-Type: text/plain; charset=" + Quoted("us-ascii"));
    WriteLine(long_lines_ ? "Content-Transfer-Encoding: quoted-printable"
                          : "Content-Transfer-Encoding: 7bit");
  }
}

void TmsCustomEncoder::WriteTextLines() {
  const TmsBody& body = message_.Body();
  if (message_.CharSet == csISO8859 || long_lines_) {
    TQuotedPrintableEncoder qp([this](std::string_view line) { WriteLine(line); });
    for (std::size_t i = 0; i < body.size(); ++i) {
      if (i > 0) qp.Write("\r\n");
      qp.Write(body[i]);
    }
    qp.Finish();
  } else {
    for (const std::string& line : body) WriteLine(line);
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
    WriteLine(CutShortText("Content-Type: " + OneLine(item.ContentType()) + "; name=\"") + part +
              "\"");
  WriteLine(std::string("Content-Transfer-Encoding: ") +
            TransferEncodingName(item.TransferEncoding()));
  if (!html && !rtf) WriteLine("Content-Disposition: attachment; filename=" + Quoted(part));
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
      WriteLine(CutShortText("Content-Type: " + OneLine(item.ContentType()) + "; name=\"") + part +
                "\"");
    else
      WriteLine("Content-Type: " + OneLine(item.ContentType()));
    WriteLine(std::string("Content-Transfer-Encoding: ") +
              TransferEncodingName(item.TransferEncoding()));
    if (plain) WriteLine("Content-Disposition: attachment; filename=" + Quoted(part));
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
  WriteLine("From:     " + OneLine(QuoteDisplayName(m.Sender().Name())) + " <" +
            OneLine(m.Sender().Address()) + ">");
  WriteAddressHeader("To", m.Recipients());
  WriteAddressHeader("CC", m.CC());
  if (m.ReturnReceipt) WriteLine("Return-Receipt-To: <" + OneLine(m.Sender().Address()) + ">");
  if (m.Priority == ptLow) WriteLine("X-Priority: 5");
  if (m.Priority == ptHigh) WriteLine("X-Priority: 1");
  WriteCommonHeaders();
}

void TmsArticleEncoder::WriteHeaders() {
  auto& a = static_cast<TmsArticle&>(message_);
  WriteLine(CutShortText("From:     " + OneLine(a.Sender().Name()) + " <" +
                         OneLine(a.Sender().Address()) + ">"));
  WriteLine("Newsgroups: " + OneLine(a.NewsGroups));
  WriteCommonHeaders();
}
