// Reads a received message or article in wire form into the model. When the
// structure cannot be followed it keeps what it has, explains the error in
// the body and attaches the whole input as "original.eml".
#pragma once

#include <memory>
#include <string>

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
  std::size_t Remaining();           // input bytes not read yet
  void ReadHeaderBlock(TmsHeaders& list);
  void DecodeMime();
  void DecodeNonMime();
  void DecodeUUAttachments(std::string begin_line);
  void DecodeTextBody(const std::string& content_type);
  void DecodeSinglePart(const std::string& content_type);
  void DecodeMultipart(const std::string& content_type);
  // Back to the outer boundary after a nested part; false when the outer
  // closing line follows at once.
  bool LeaveNestedPart();
  void Recover(const std::string& message);

  TLineStream input_;
  TmsHeaders part_headers_;
  TmsCustomMessage* message_ = nullptr;
  std::string boundary_;        // "--" and the boundary parameter
  bool alternative_ = false;    // the message is multipart/alternative
  bool nested_alternative_ = false;
  std::string outer_boundary_;
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
