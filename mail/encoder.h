// Writes a message of the model in its wire form: header block, then a
// plain, single-part, multipart or uuencoded body, every line CR LF ended.
#pragma once

#include <string>
#include <string_view>

#include "mail/message.h"
#include "mail/streams.h"

class TmsCustomEncoder {
 public:
  // Remembers the message and looks at its body lines (LongLines).
  explicit TmsCustomEncoder(TmsCustomMessage& message);
  virtual ~TmsCustomEncoder() = default;
  TmsCustomEncoder(const TmsCustomEncoder&) = delete;
  TmsCustomEncoder& operator=(const TmsCustomEncoder&) = delete;

  void SetOutput(TStream& stream) { output_ = &stream; }
  // Writes the whole message from the output's position 0. Removes the
  // standard headers from the message's Headers; nothing else of the
  // message changes.
  void Encode();
  // Writes text up to its first zero byte, then CR LF.
  void WriteLine(std::string_view text);

  // True when some body line (an entry's CR LF, CR or LF ends one) is
  // longer than 998 octets: the text then goes quoted-printable.
  bool LongLines() const { return long_lines_; }

 protected:
  virtual void WriteHeaders() = 0;
  // "Name:" padded to ten, then one address per line; nothing for an empty
  // list.
  void WriteAddressHeader(std::string_view name, const TmsAddressList& list);
  // Removes the standard headers from the message, writes the remaining
  // ones, the subject and the MIME version line.
  void WriteCommonHeaders();
  // Writes a header line, folded at blanks when it is longer than 78.
  void WriteHeaderLine(std::string_view line);

  TmsCustomMessage& message_;

 private:
  void WritePlainTextBody();
  void WriteTextPartHeaders();
  void WriteTextLines();
  bool QuotedPrintableText() const;
  // A caller's entry of Headers: folded at its line breaks, skipped when
  // empty, its value in encoded words when it is not all ASCII; one that is
  // no header line raises EMessageError.
  void WriteCallerHeader(std::string_view entry);
  void WriteEncodedCallerHeader(std::string_view entry);
  void WriteSinglePartBody();
  void WriteMultipartBody(bool alternative);
  void WriteUUBody();
  void WriteAttachmentData(const TmsAttItem& item);
  void Flush();

  TStream* output_ = nullptr;
  std::string pending_;  // lines not yet handed to the output stream
  bool long_lines_ = false;
  bool eight_bit_ = false;  // some body byte is 128 or above
};

class TmsMessageEncoder : public TmsCustomEncoder {
 public:
  explicit TmsMessageEncoder(TmsMessage& message) : TmsCustomEncoder(message) {}

 protected:
  void WriteHeaders() override;
};

class TmsArticleEncoder : public TmsCustomEncoder {
 public:
  explicit TmsArticleEncoder(TmsArticle& article) : TmsCustomEncoder(article) {}

 protected:
  void WriteHeaders() override;
};

// Eight random digits 0 to 8, fresh for every call.
std::string MakeBoundary();

// Display name as written in an address header: encoded words for
// non-ASCII text, a quoted string when it holds a special character.
std::string QuoteDisplayName(std::string_view name);
