// Reads a received message or article in wire form into the model. When the
// structure cannot be followed it keeps what it has, explains the error in
// the body and attaches the whole input as "original.eml".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/headers.h"
#include "mail/message.h"
#include "mail/streams.h"

class TmsCustomDecoder {
 public:
  // Copies the whole stream (from its position 0) into the line reader.
  explicit TmsCustomDecoder(TStream& stream);
  virtual ~TmsCustomDecoder() = default;
  TmsCustomDecoder(const TmsCustomDecoder&) = delete;
  TmsCustomDecoder& operator=(const TmsCustomDecoder&) = delete;

  void SetMessage(TmsCustomMessage& message) { message_ = &message; }
  // Fills the (empty) message. Structural errors end in the recovery;
  // other errors pass to the caller.
  void Decode();

 protected:
  // Hands the message header list to the message's ReadHeaders.
  virtual void ReadMessageHeaders() = 0;

  TmsCustomMessage& Message();
  TmsHeaders message_headers_;

 private:
  bool ReadLine(std::string_view& line);  // false at the end; valid until Restart
  std::size_t Remaining();                // input bytes not read yet
  void ReadHeaderBlock(TmsHeaders& list);
  void DecodeMime();
  void DecodeNonMime();
  void DecodeUUAttachments(std::string begin_line);
  void DecodeTextBody(const std::string& content_type);
  // Converts a text body to UTF-8 and sets the message's CharSet.
  void SetTextCharSet(const std::string& content_type, const std::string& cte, TmsBody& body);
  static std::string PartFileName(const TmsHeaders& headers, const std::string& content_type);
  void DecodeSinglePart(const std::string& content_type);
  void DecodeMultipart(const std::string& content_type);
  // One attachment part, up to its boundary line; false after the last.
  bool DecodePart(const std::string& part_type);
  // Gives the item the data `decode(item)` returns and adds it to the
  // message; any other error than a parser error becomes a parser error
  // about the attachment.
  template <class Decoding>
  void AddAttachment(std::unique_ptr<TmsAttItem> item, Decoding&& decode);

  // Nested multipart bodies: the innermost boundary is the last.
  struct TLevel {
    std::string boundary;  // "--" and the boundary parameter
    bool alternative = false;
  };
  enum class TBoundary { None, Separator, Closing };
  TBoundary BoundaryKind(std::string_view line) const;
  // Skips lines up to a boundary line of the innermost level (only a
  // separator when `separatorOnly`); the end raises parser error `error`.
  TBoundary SkipToBoundary(bool separatorOnly, int error);
  // Opens a nested multipart part and skips to its first part.
  void EnterPart(const std::string& content_type);
  // Closes the innermost level after its closing line; true when a part
  // of an outer level follows.
  bool LeavePart();
  bool InAlternative() const;
  void Recover(const std::string& message);

  TLineStream input_;
  TmsHeaders part_headers_;
  TmsCustomMessage* message_ = nullptr;
  bool alternative_ = false;  // the message is multipart/alternative
  std::vector<TLevel> levels_;
};

class TmsMessageDecoder : public TmsCustomDecoder {
 public:
  using TmsCustomDecoder::TmsCustomDecoder;

 protected:
  void ReadMessageHeaders() override;
};

class TmsArticleDecoder : public TmsCustomDecoder {
 public:
  using TmsCustomDecoder::TmsCustomDecoder;

 protected:
  void ReadMessageHeaders() override;
};
