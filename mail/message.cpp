#include "mail/message.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "mail/decoder.h"
#include "mail/encoder.h"
#include "platform/ascii.h"
#include "platform/messages.h"

namespace {

TMailAddressEditHook& EditHook() {
  static TMailAddressEditHook hook;
  return hook;
}

// ---- stored form values
// Texts are single-quoted with '' for a quote and #nn for control bytes;
// lists are a sequence of parenthesised groups of such texts and integers.

std::string Quote(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\'') {
      out += "''";
    } else if (u < 32 || u == 127) {
      out += "'#" + std::to_string(u) + "'";
    } else {
      out += c;
    }
  }
  out += "'";
  return out;
}

[[noreturn]] void BadStoredForm(std::string_view what) {
  throw EError("Invalid stored property value: " + std::string(what.substr(0, 80)));
}

// Reads one text (a run of quoted pieces and #nn codes) from `s` at `i`.
std::string ReadQuoted(std::string_view s, std::size_t& i) {
  std::string out;
  bool any = false;
  while (i < s.size()) {
    if (s[i] == '\'') {
      any = true;
      ++i;
      for (;;) {
        if (i >= s.size()) BadStoredForm(s);
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += s[i++];
      }
    } else if (s[i] == '#') {
      any = true;
      ++i;
      int v = 0;
      auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
      if (ec != std::errc() || v < 0 || v > 255) BadStoredForm(s);
      i = static_cast<std::size_t>(p - s.data());
      out += static_cast<char>(v);
    } else {
      break;
    }
  }
  if (!any) BadStoredForm(s);
  return out;
}

void SkipBlanks(std::string_view s, std::size_t& i) {
  while (i < s.size() && s[i] == ' ') ++i;
}

std::string ReadText(std::string_view value) {
  std::size_t i = 0;
  SkipBlanks(value, i);
  std::string out = ReadQuoted(value, i);
  SkipBlanks(value, i);
  if (i != value.size()) BadStoredForm(value);
  return out;
}

// Groups "(a b c) (d e f)"; each element a quoted text or an integer.
std::vector<std::vector<std::string>> ReadGroups(std::string_view value) {
  std::vector<std::vector<std::string>> groups;
  std::size_t i = 0;
  SkipBlanks(value, i);
  while (i < value.size()) {
    if (value[i] != '(') BadStoredForm(value);
    ++i;
    std::vector<std::string> group;
    for (;;) {
      SkipBlanks(value, i);
      if (i >= value.size()) BadStoredForm(value);
      if (value[i] == ')') {
        ++i;
        break;
      }
      if (value[i] == '\'' || value[i] == '#') {
        group.push_back(ReadQuoted(value, i));
      } else {
        std::size_t j = i;
        while (j < value.size() &&
               (std::isdigit(static_cast<unsigned char>(value[j])) || value[j] == '-'))
          ++j;
        if (j == i) BadStoredForm(value);
        group.emplace_back(value.substr(i, j - i));
        i = j;
      }
    }
    groups.push_back(std::move(group));
    SkipBlanks(value, i);
  }
  return groups;
}

std::string Groups(const std::vector<std::vector<std::string>>& groups, bool last_is_int) {
  std::string out;
  for (const auto& g : groups) {
    if (!out.empty()) out += ' ';
    out += '(';
    for (std::size_t k = 0; k < g.size(); ++k) {
      if (k) out += ' ';
      out += (last_is_int && k + 1 == g.size()) ? g[k] : Quote(g[k]);
    }
    out += ')';
  }
  return out;
}

std::string StringsValue(const std::vector<std::string>& lines) {
  std::vector<std::vector<std::string>> g;
  for (const auto& l : lines) g.push_back({l});
  return Groups(g, false);
}

std::vector<std::string> ReadStrings(std::string_view value) {
  std::vector<std::string> out;
  for (auto& g : ReadGroups(value)) {
    if (g.size() != 1) BadStoredForm(value);
    out.push_back(std::move(g[0]));
  }
  return out;
}

std::string AddressItems(const TmsAddressList& list) {
  std::vector<std::vector<std::string>> g;
  for (int i = 0; i < list.Count(); ++i) g.push_back({list[i].Name(), list[i].Address()});
  return Groups(g, false);
}

void ReadAddressItems(std::string_view value, TmsAddressList& list) {
  list.Clear();
  for (auto& g : ReadGroups(value)) {
    if (g.size() != 2) BadStoredForm(value);
    list.AddAddress(g[1], g[0]);
  }
}

bool ReadBool(std::string_view value) {
  if (value == "True") return true;
  if (value == "False") return false;
  BadStoredForm(value);
}

template <typename E>
E ReadEnum(std::string_view value, std::initializer_list<std::pair<const char*, E>> names) {
  for (const auto& [n, e] : names)
    if (value == n) return e;
  BadStoredForm(value);
}

void ParseInto(std::string_view text, TmsMailAddress& address) {
  std::string name = address.Name();
  std::string mailbox = address.Address();
  ParseAddress(text, name, mailbox);
  address.SetAddress(mailbox);
  address.SetName(name);
}

const char* EncodingName(TMsgEncoding e) { return e == meUU ? "meUU" : "meMIME"; }
const char* CharSetName(TCharSet c) { return c == csISO8859 ? "csISO8859" : "csUSASCII"; }
const char* PriorityName(TPriority p) {
  return p == ptLow ? "ptLow" : p == ptHigh ? "ptHigh" : "ptNormal";
}

}  // namespace

// ---- helpers

const char* TransferEncodingName(TTransferEncoding encoding) {
  switch (encoding) {
    case te7Bit:
      return "7bit";
    case teBase64:
      return "Base64";
    case teQuotedPrintable:
      return "Quoted-Printable";
  }
  return "7bit";
}

std::string FileNamePart(std::string_view file_name) {
  std::size_t p = file_name.find_last_of("\\/:");
  return std::string(p == std::string_view::npos ? file_name : file_name.substr(p + 1));
}

// ---- TmsMailAddress

TmsMailAddress::TmsMailAddress(std::string_view address, std::string_view name) {
  SetAddress(address);
  if (!name.empty()) SetName(name);
}

void TmsMailAddress::Assign(const TmsMailAddress& source) {
  name_ = source.name_;
  address_ = source.address_;
}

void TmsMailAddress::Clear() {
  name_.clear();
  address_.clear();
}

void SetMailAddressEditHook(TMailAddressEditHook hook) { EditHook() = std::move(hook); }

bool TmsMailAddress::Edit() {
  if (!EditHook()) return false;
  TmsMailAddress copy(*this);
  if (!EditHook()(copy)) return false;
  Assign(copy);
  return true;
}

// ---- TmsAttItem

void TmsAttItem::SetFileName(std::string_view name) {
  file_name_ = CutShortText(name);
  if (file_name_.empty()) return;
  content_type_ = CutShortText(ContentTypeOfFile(file_name_));
  std::string upper = AsciiUpper(content_type_);
  if (upper == "TEXT/PLAIN" || upper == "TEXT/RTF" || upper == "TEXT/HTML")
    transfer_encoding_ = teQuotedPrintable;
  else if (upper == "MESSAGE/RFC822")
    transfer_encoding_ = te7Bit;
  else
    transfer_encoding_ = teBase64;
}

void TmsAttItem::Assign(const TmsAttItem& source) {
  if (&source == this) return;
  stream_.SetData(source.stream_.Data());
  content_type_ = source.content_type_;
  transfer_encoding_ = source.transfer_encoding_;
  file_name_ = source.file_name_;
}

// ---- TmsCustomMessage

void TmsCustomMessage::SetAttachments(const TmsAttList& list) {
  if (&list != &attachments_) {
    TmsAttList copy;
    for (int i = 0; i < list.Count(); ++i) {
      const TmsAttItem& src = list[i];
      auto item = std::make_unique<TmsAttItem>();
      item->Stream().SetData(src.Stream().Data());
      item->SetFileName(src.FileName());
      item->SetContentType(src.ContentType());
      item->SetTransferEncoding(src.TransferEncoding());
      copy.Add(std::move(item));
    }
    attachments_.Clear();
    for (int i = 0; i < copy.Count(); ++i) attachments_.Add(std::make_unique<TmsAttItem>(copy[i]));
  }
  content_type_ = attachments_.Count() > 0 ? "multipart/mixed" : "text/plain";
}

void TmsCustomMessage::SetContentType(std::string_view type) {
  content_type_ = CutShortText(AsciiLower(type));
}

std::string TmsCustomMessage::GetContentType() {
  std::string result;
  const int count = attachments_.Count();
  auto lower_part = [&](int i) { return AsciiLower(FileNamePart(attachments_[i].FileName())); };
  bool all_alt = count > 0;
  for (int i = 0; i < count && all_alt; ++i) all_alt = lower_part(i).starts_with("_alt.");

  if (Encoding == meUU) {
    result.clear();
  } else if (all_alt) {
    result = "multipart/alternative";
  } else if (count == 1 && body_.empty() && lower_part(0) == "_rtfbody.rtf") {
    result = "text/rtf";
  } else if (count == 1 && body_.empty() && lower_part(0) == "_htmbody.htm") {
    result = "text/html";
  } else if (body_.empty()) {
    result = count == 1   ? attachments_[0].ContentType()
             : count == 0 ? "text/plain"
                          : "multipart/mixed";
  } else if (count > 0) {
    result = "multipart/mixed";
  } else {
    result = content_type_.empty() ? "text/plain" : content_type_;
  }
  content_type_ = result;
  return result;
}

void TmsCustomMessage::Validate() const {
  if (sender_.Address().empty()) throw EMessageError(MessageText(msg::kSenderRequired));
}

void TmsCustomMessage::Clear() {
  body_.clear();
  attachments_.Clear();
  sender_.Clear();
  headers_.clear();
  subject_.clear();
  Encoding = meMIME;
  CharSet = csUSASCII;
  content_type_.clear();
}

void TmsCustomMessage::Assign(const TmsCustomMessage& source) {
  if (&source == this) return;
  sender_ = source.sender_;
  subject_ = source.subject_;
  Encoding = source.Encoding;
  CharSet = source.CharSet;
  Allow8Bit = source.Allow8Bit;
  headers_ = source.headers_;
  body_ = source.body_;
  attachments_.Assign(source.attachments_);
  // The source's effective type, as its getter gives it (and stores it).
  content_type_ = const_cast<TmsCustomMessage&>(source).GetContentType();
  Tag = source.Tag;
}

void TmsCustomMessage::Loaded() {
  for (int i = 0; i < attachments_.Count(); ++i) {
    TmsAttItem& item = attachments_[i];
    item.Stream().LoadFromFile(item.FileName());
  }
}

void TmsCustomMessage::WriteStoredProperties(std::vector<std::string>& out) const {
  if (attachments_.Count() > 0) {
    std::vector<std::vector<std::string>> g;
    for (int i = 0; i < attachments_.Count(); ++i) {
      const TmsAttItem& a = attachments_[i];
      g.push_back(
          {a.FileName(), a.ContentType(), std::to_string(static_cast<int>(a.TransferEncoding()))});
    }
    out.push_back("Attachments.Items = " + Groups(g, true));
  }
  if (content_type_ != "text/plain") out.push_back("ContentType = " + Quote(content_type_));
  if (Encoding != meMIME) out.push_back(std::string("Encoding = ") + EncodingName(Encoding));
  if (!sender_.Name().empty()) out.push_back("Sender.Name = " + Quote(sender_.Name()));
  if (!sender_.Address().empty()) out.push_back("Sender.Address = " + Quote(sender_.Address()));
  if (!subject_.empty()) out.push_back("Subject = " + Quote(subject_));
  if (CharSet != csUSASCII) out.push_back(std::string("CharSet = ") + CharSetName(CharSet));
  if (!headers_.empty())
    out.push_back("Headers.Strings = " +
                  StringsValue(std::vector<std::string>(headers_.begin(), headers_.end())));
  if (!body_.empty()) out.push_back("Body.Strings = " + StringsValue(body_));
}

bool TmsCustomMessage::ReadStoredProperty(const std::string& name, std::string_view value) {
  if (name == "Attachments.Items") {
    attachments_.Clear();
    for (auto& g : ReadGroups(value)) {
      if (g.size() != 3) BadStoredForm(value);
      int te = -1;
      std::from_chars(g[2].data(), g[2].data() + g[2].size(), te);
      if (te < 0 || te > 2) BadStoredForm(value);
      auto item = std::make_unique<TmsAttItem>();
      item->SetFileName(g[0]);
      item->SetContentType(g[1]);
      item->SetTransferEncoding(static_cast<TTransferEncoding>(te));
      attachments_.Add(std::move(item));
    }
  } else if (name == "ContentType") {
    content_type_ = CutShortText(ReadText(value));
  } else if (name == "Encoding") {
    Encoding = ReadEnum<TMsgEncoding>(value, {{"meMIME", meMIME}, {"meUU", meUU}});
  } else if (name == "Sender.Name") {
    sender_.SetName(ReadText(value));
  } else if (name == "Sender.Address") {
    // Stored after the name, which it must not replace.
    sender_ = TmsMailAddress(ReadText(value), sender_.Name());
  } else if (name == "Subject") {
    SetSubject(ReadText(value));
  } else if (name == "CharSet") {
    CharSet = ReadEnum<TCharSet>(value, {{"csUSASCII", csUSASCII}, {"csISO8859", csISO8859}});
  } else if (name == "Headers.Strings") {
    headers_.clear();
    for (auto& l : ReadStrings(value)) headers_.push_back(std::move(l));
  } else if (name == "Body.Strings") {
    body_ = ReadStrings(value);
  } else if (name == "Tag") {
    long long v = 0;
    auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || p != value.data() + value.size()) BadStoredForm(value);
    Tag = static_cast<std::intptr_t>(v);
  } else if (name == "Name") {
    component_name_ = ReadText(value);
  } else {
    return false;
  }
  return true;
}

std::string TmsCustomMessage::StoredForm() const {
  std::vector<std::string> lines;
  if (!component_name_.empty()) lines.push_back("Name = " + Quote(component_name_));
  if (Tag != 0) lines.push_back("Tag = " + std::to_string(Tag));
  WriteStoredProperties(lines);
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

void TmsCustomMessage::LoadStoredForm(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t e = text.find_first_of("\r\n", i);
    if (e == std::string_view::npos) e = text.size();
    std::string_view line = text.substr(i, e - i);
    i = e;
    while (i < text.size() && (text[i] == '\r' || text[i] == '\n')) ++i;
    if (line.find_first_not_of(' ') == std::string_view::npos) continue;
    std::size_t eq = line.find(" = ");
    if (eq == std::string_view::npos) BadStoredForm(line);
    std::string name(line.substr(0, eq));
    name.erase(0, name.find_first_not_of(' '));
    if (!ReadStoredProperty(name, line.substr(eq + 3)))
      throw EError("Unknown stored property " + name);
  }
  Loaded();
}

// ---- TmsMessage

void TmsMessage::Validate() const {
  TmsCustomMessage::Validate();
  for (const TmsAddressList* list : {&recipients_, &cc_, &bcc_})
    for (int i = 0; i < list->Count(); ++i)
      if (!(*list)[i].Address().empty()) return;
  throw EMessageError(MessageText(msg::kRecipientRequired));
}

void TmsMessage::SaveToStream(TStream& stream) {
  TmsMessageEncoder encoder(*this);
  encoder.SetOutput(stream);
  encoder.Encode();
}

void TmsMessage::LoadFromStream(TStream& stream) {
  TmsMessageDecoder decoder(stream);
  decoder.SetMessage(*this);
  decoder.Decode();
}

void TmsMessage::Clear() {
  TmsCustomMessage::Clear();
  cc_.Clear();
  bcc_.Clear();
  recipients_.Clear();
}

void TmsMessage::ReadHeaders(const TmsHeaders& headers) {
  ParseInto(GetAddressValue(headers, "FROM"), Sender());
  for (auto [name, list] : {std::pair{"TO", &recipients_}, std::pair{"CC", &cc_}}) {
    std::vector<std::string> items;
    GetHeaderAddresses(headers, name, items);
    for (const auto& item : items) {
      auto address = std::make_unique<TmsMailAddress>();
      ParseInto(item, *address);
      list->Add(std::move(address));
    }
  }
  std::string subject = GetHeaderValue(headers, "Subject");
  if (!subject.empty()) SetSubject(subject);
  // "1 (Highest)" is as high as "1".
  std::string priority = GetHeaderValue(headers, "X-Priority");
  priority.resize(std::min(priority.size(), priority.find_first_not_of("0123456789")));
  Priority = priority == "1" ? ptHigh : priority == "5" ? ptLow : ptNormal;
  if (!GetHeaderValue(headers, "Return-receipt-to").empty()) ReturnReceipt = true;
  SetHeaders(headers);
}

void TmsMessage::Assign(const TmsCustomMessage& source) {
  if (&source == this) return;
  if (const auto* m = dynamic_cast<const TmsMessage*>(&source)) {
    recipients_.Assign(m->recipients_);
    cc_.Assign(m->cc_);
    bcc_.Assign(m->bcc_);
    Priority = m->Priority;
    ReturnReceipt = m->ReturnReceipt;
  } else if (dynamic_cast<const TmsArticle*>(&source) != nullptr) {
    SetHeaders(source.Headers());
  }
  TmsCustomMessage::Assign(source);
}

void TmsMessage::WriteStoredProperties(std::vector<std::string>& out) const {
  TmsCustomMessage::WriteStoredProperties(out);
  if (recipients_.Count() > 0) out.push_back("Recipients.Items = " + AddressItems(recipients_));
  if (ReturnReceipt) out.push_back("ReturnReceipt = True");
  if (Priority != ptNormal) out.push_back(std::string("Priority = ") + PriorityName(Priority));
  if (cc_.Count() > 0) out.push_back("CC.Items = " + AddressItems(cc_));
  if (bcc_.Count() > 0) out.push_back("BCC.Items = " + AddressItems(bcc_));
}

bool TmsMessage::ReadStoredProperty(const std::string& name, std::string_view value) {
  if (name == "Recipients.Items") {
    ReadAddressItems(value, recipients_);
  } else if (name == "ReturnReceipt") {
    ReturnReceipt = ReadBool(value);
  } else if (name == "Priority") {
    Priority =
        ReadEnum<TPriority>(value, {{"ptLow", ptLow}, {"ptNormal", ptNormal}, {"ptHigh", ptHigh}});
  } else if (name == "CC.Items") {
    ReadAddressItems(value, cc_);
  } else if (name == "BCC.Items") {
    ReadAddressItems(value, bcc_);
  } else {
    return TmsCustomMessage::ReadStoredProperty(name, value);
  }
  return true;
}

// ---- TmsArticle

void TmsArticle::Validate() const {
  TmsCustomMessage::Validate();
  if (NewsGroups.empty()) throw EMessageError(MessageText(msg::kNewsgroupRequired));
  if (Subject().empty()) throw EMessageError(MessageText(msg::kSubjectRequired));
}

void TmsArticle::SaveToStream(TStream& stream) {
  TmsArticleEncoder encoder(*this);
  encoder.SetOutput(stream);
  encoder.Encode();
}

void TmsArticle::LoadFromStream(TStream& stream) {
  TmsArticleDecoder decoder(stream);
  decoder.SetMessage(*this);
  decoder.Decode();
}

void TmsArticle::Clear() {
  NewsGroups.clear();
  TmsCustomMessage::Clear();
}

void TmsArticle::ReadHeaders(const TmsHeaders& headers) {
  ParseInto(GetAddressValue(headers, "FROM"), Sender());
  Path = GetHeaderValue(headers, "PATH");
  NewsGroups = GetHeaderValue(headers, "NEWSGROUPS");
  MessageId = GetHeaderValue(headers, "MESSAGE-ID");
  std::string subject = GetHeaderValue(headers, "Subject");
  if (!subject.empty()) SetSubject(subject);
  SetHeaders(headers);
}

void TmsArticle::Assign(const TmsCustomMessage& source) {
  if (&source == this) return;
  if (const auto* a = dynamic_cast<const TmsArticle*>(&source)) NewsGroups = a->NewsGroups;
  TmsCustomMessage::Assign(source);
}

void TmsArticle::WriteStoredProperties(std::vector<std::string>& out) const {
  TmsCustomMessage::WriteStoredProperties(out);
  if (!NewsGroups.empty()) out.push_back("NewsGroups = " + Quote(NewsGroups));
}

bool TmsArticle::ReadStoredProperty(const std::string& name, std::string_view value) {
  if (name == "NewsGroups") {
    NewsGroups = ReadText(value);
    return true;
  }
  return TmsCustomMessage::ReadStoredProperty(name, value);
}

void ListIndexError(int index) {
  throw EError("List index out of bounds (" + std::to_string(index) + ")");
}
