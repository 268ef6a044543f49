// The in-memory form of one mail message or news article: sender,
// recipients, subject, free header lines, body lines and attachments.
// Writing and reading the wire form live in encoder.h and decoder.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/headers.h"
#include "mail/streams.h"
#include "platform/errors.h"

enum TMsgEncoding { meMIME, meUU };
enum TCharSet { csUSASCII, csISO8859 };
enum TPriority { ptLow, ptNormal, ptHigh };
enum TTransferEncoding : std::uint8_t { te7Bit, teBase64, teQuotedPrintable };

// The words written after "Content-Transfer-Encoding: ", by TTransferEncoding.
const char* TransferEncodingName(TTransferEncoding encoding);

// The part of a file name after its last path delimiter ("/", "\" or a drive
// colon).
std::string FileNamePart(std::string_view file_name);

class TmsMailAddress {
 public:
  TmsMailAddress() = default;
  // `address` as SetAddress takes it; a non-empty `name` wins over the one
  // typed with the address.
  TmsMailAddress(std::string_view address, std::string_view name);

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = CutShortText(name); }
  // The bare mailbox: what the envelope carries.
  const std::string& Address() const { return address_; }
  // The address as a person types it ("me@x.org", "Me <me@x.org>",
  // "me@x.org (Me)"): the mailbox goes to Address and the typed name, or
  // none, to Name. So a name set before is replaced.
  void SetAddress(std::string_view address) { ParseTypedAddress(address, name_, address_); }

  void Assign(const TmsMailAddress& source);
  void Clear();
  // Lets the user edit the address in the address dialog (through the hook
  // the user interface installs); true when the dialog ended with OK.
  bool Edit();

  bool operator==(const TmsMailAddress&) const = default;

 private:
  std::string name_;
  std::string address_;
};

// Opens the address dialog on a copy of the given address; returns true and
// the edited address on OK. Installed by the user interface; without one,
// Edit does nothing and returns false.
using TMailAddressEditHook = std::function<bool(TmsMailAddress& address)>;
void SetMailAddressEditHook(TMailAddressEditHook hook);

// Raises EError "List index out of bounds (i)".
[[noreturn]] void ListIndexError(int index);

// A list that owns its items; copying it copies every item.
template <class Item>
class TOwnedList {
 public:
  TOwnedList() = default;
  TOwnedList(const TOwnedList& other) { Assign(other); }
  TOwnedList& operator=(const TOwnedList& other) {
    Assign(other);
    return *this;
  }

  int Count() const { return static_cast<int>(items_.size()); }
  Item& Items(int index) { return *items_[Checked(index)]; }
  const Item& Items(int index) const { return *items_[Checked(index)]; }
  Item& operator[](int index) { return Items(index); }
  const Item& operator[](int index) const { return Items(index); }

  // A null item adds an empty one.
  int Add(std::unique_ptr<Item> item) {
    if (!item) item = std::make_unique<Item>();
    items_.push_back(std::move(item));
    return Count() - 1;
  }
  void Clear() {
    while (!items_.empty()) items_.pop_back();
  }
  void Assign(const TOwnedList& source) {
    if (&source == this) return;
    Clear();
    for (const auto& item : source.items_) items_.push_back(std::make_unique<Item>(*item));
  }

 private:
  std::size_t Checked(int index) const {
    if (index < 0 || index >= Count()) ListIndexError(index);
    return static_cast<std::size_t>(index);
  }

  std::vector<std::unique_ptr<Item>> items_;
};

class TmsAddressList : public TOwnedList<TmsMailAddress> {
 public:
  int AddAddress(std::string_view address, std::string_view name) {
    return Add(std::make_unique<TmsMailAddress>(address, name));
  }
};

class TmsAttItem {
 public:
  TmsAttItem() = default;
  TmsAttItem(const TmsAttItem& other) { Assign(other); }
  TmsAttItem& operator=(const TmsAttItem& other) {
    Assign(other);
    return *this;
  }

  TMemoryStream& Stream() { return stream_; }
  const TMemoryStream& Stream() const { return stream_; }

  const std::string& FileName() const { return file_name_; }
  // Also types the item by the file's extension when the name is not empty.
  void SetFileName(std::string_view name);
  const std::string& ContentType() const { return content_type_; }
  void SetContentType(std::string_view type) { content_type_ = CutShortText(type); }
  TTransferEncoding TransferEncoding() const { return transfer_encoding_; }
  void SetTransferEncoding(TTransferEncoding e) { transfer_encoding_ = e; }

  void Assign(const TmsAttItem& source);

 private:
  TMemoryStream stream_;
  std::string file_name_;
  std::string content_type_;
  TTransferEncoding transfer_encoding_ = te7Bit;
};

class TmsAttList : public TOwnedList<TmsAttItem> {};

using TmsBody = std::vector<std::string>;

class TmsCustomMessage {
 public:
  TmsCustomMessage() = default;
  virtual ~TmsCustomMessage() = default;
  TmsCustomMessage(const TmsCustomMessage&) = delete;
  TmsCustomMessage& operator=(const TmsCustomMessage&) = delete;

  // Component identity.
  const std::string& ComponentName() const { return component_name_; }
  void SetComponentName(std::string_view name) { component_name_ = name; }
  std::intptr_t Tag = 0;

  TmsAttList& Attachments() { return attachments_; }
  const TmsAttList& Attachments() const { return attachments_; }
  void SetAttachments(const TmsAttList& list);

  // The effective content type; also stored as the new value.
  std::string GetContentType();
  std::string ContentType() { return GetContentType(); }
  void SetContentType(std::string_view type);
  // The stored value, without evaluating it.
  const std::string& StoredContentType() const { return content_type_; }

  TMsgEncoding Encoding = meMIME;
  TCharSet CharSet = csUSASCII;
  // The server takes 8-bit text (8BITMIME): non-ASCII text may go 8bit
  // instead of quoted-printable.
  bool Allow8Bit = false;

  TmsMailAddress& Sender() { return sender_; }
  const TmsMailAddress& Sender() const { return sender_; }
  const std::string& Subject() const { return subject_; }
  void SetSubject(std::string_view subject) { subject_ = CutShortText(subject); }

  TmsHeaders& Headers() { return headers_; }
  const TmsHeaders& Headers() const { return headers_; }
  void SetHeaders(const TmsHeaders& headers) { headers_ = headers; }
  TmsBody& Body() { return body_; }
  const TmsBody& Body() const { return body_; }
  void SetBody(const TmsBody& body) { body_ = body; }

  // Raises EMessageError when the message cannot be sent.
  virtual void Validate() const;
  // Writes the wire form from the stream's position 0.
  virtual void SaveToStream(TStream& stream) = 0;
  // Fills the (empty) message from a received one.
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void Clear();
  virtual void ReadHeaders(const TmsHeaders& headers) = 0;
  virtual void Assign(const TmsCustomMessage& source);

  // Stored form: one "Property = value" line per published property that
  // differs from its default, CR LF ended. Attachment data is not stored:
  // Loaded reads it from the attachment files.
  std::string StoredForm() const;
  // Reads a stored form into a fresh message (unknown properties raise
  // EError), then calls Loaded.
  void LoadStoredForm(std::string_view text);
  void Loaded();

 protected:
  virtual void WriteStoredProperties(std::vector<std::string>& out) const;
  // Returns false for a property this class does not know.
  virtual bool ReadStoredProperty(const std::string& name, std::string_view value);

 private:
  std::string component_name_;
  TmsAttList attachments_;
  std::string content_type_ = "text/plain";
  TmsMailAddress sender_;
  std::string subject_;
  TmsHeaders headers_;
  TmsBody body_;
};

class TmsMessage : public TmsCustomMessage {
 public:
  TmsMessage() = default;

  TmsAddressList& Recipients() { return recipients_; }
  const TmsAddressList& Recipients() const { return recipients_; }
  void SetRecipients(const TmsAddressList& l) { recipients_ = l; }
  TmsAddressList& CC() { return cc_; }
  const TmsAddressList& CC() const { return cc_; }
  void SetCC(const TmsAddressList& l) { cc_ = l; }
  TmsAddressList& BCC() { return bcc_; }
  const TmsAddressList& BCC() const { return bcc_; }
  void SetBCC(const TmsAddressList& l) { bcc_ = l; }
  bool ReturnReceipt = false;
  TPriority Priority = ptNormal;

  void Validate() const override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void ReadHeaders(const TmsHeaders& headers) override;
  void Assign(const TmsCustomMessage& source) override;

 protected:
  void WriteStoredProperties(std::vector<std::string>& out) const override;
  bool ReadStoredProperty(const std::string& name, std::string_view value) override;

 private:
  TmsAddressList recipients_;
  TmsAddressList cc_;
  TmsAddressList bcc_;
};

class TmsArticle : public TmsCustomMessage {
 public:
  std::string NewsGroups;
  std::string MessageId;
  std::string Path;

  void Validate() const override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void ReadHeaders(const TmsHeaders& headers) override;
  void Assign(const TmsCustomMessage& source) override;

 protected:
  void WriteStoredProperties(std::vector<std::string>& out) const override;
  bool ReadStoredProperty(const std::string& name, std::string_view value) override;
};
