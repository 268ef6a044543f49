// Header lines and header values: lookup, address lists, removal,
// parameters, address parsing, and a few small helpers around them.
// Header names match without regard to case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One raw header line per entry ("Name: value"); a continuation line (one
// that begins with a blank or a tab) is an entry of its own right after the
// line it continues.
using TmsHeaders = std::vector<std::string>;

// Longest short text field.
constexpr std::size_t kShortTextLength = 255;

// `text` cut to at most `max` bytes without splitting a UTF-8 sequence.
std::string CutShortText(std::string_view text, std::size_t max = kShortTextLength);

// Value of the first header called `name` (a prefix test on the line: "To"
// also matches "To-Do:"; a ":" is added to `name` when it has none), with
// its continuation lines joined by one blank, cut to 255 characters and its
// encoded words decoded. "Content-Type" and "X-UIDL" come back whole and
// undecoded. "" when there is no such header.
std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name);

// The value of the first header called `name` as one address item: its
// encoded words decoded so that a decoded display name holding "<" or ","
// is quoted again and still parses.
std::string GetAddressValue(const TmsHeaders& headers, std::string_view name);

// Every address item of every header whose name begins with `name`, split
// at commas outside double quotes, trimmed and decoded (not cut, so that
// the mailbox stays; ParseAddress cuts each part). `result` is cleared first.
void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name,
                        std::vector<std::string>& result);

// Deletes the first header called `name` and its continuation lines.
void RemoveHeader(TmsHeaders& headers, std::string_view name);

// A parameter such as boundary or name inside a header value
// ("multipart/mixed; boundary=\"abc\"" gives abc). "" when not found.
// The name is found anywhere in the value: "name" also finds "filename".
std::string GetParameter(std::string_view parameterName, std::string_view value);

// A parameter of a header value, matched by its whole name, in any of its
// forms: RFC 2231 (name*=charset'lang'%XX, sections name*0*=, name*1=, ...),
// or plain (quoted, with escapes; encoded words inside decoded). Converted
// to UTF-8. "" when the value has no such parameter.
std::string GetDecodedParameter(std::string_view parameterName, std::string_view value);

// Splits one address item into display name and mailbox:
// "J. Smith" <js@x.org>, js@x.org (J. Smith), or a bare js@x.org.
// Both parts are unquoted and cut to 255 characters. A "<" without a ">"
// after it raises EError "Unable to parse email address" and leaves
// `name` and `address` as they were.
void ParseAddress(std::string_view text, std::string& name, std::string& address);

// An address as a person types it: a bare js@x.org, "J. Smith <js@x.org>"
// or "js@x.org (J. Smith)", split into display name and mailbox (the name
// empty for a bare address). Blanks around the text go; a text in no
// such form is the mailbox whole.
void ParseTypedAddress(std::string_view text, std::string& name, std::string& address);

// True when the typed text (as ParseTypedAddress reads it) holds a mailbox
// that mail servers take: local part @ domain, the local part a dot-atom or
// a quoted string, the domain host labels with an ASCII (IDNA) form or an
// address literal in brackets.
bool IsMailAddress(std::string_view text);

// The same for any address object with `Name` and `Address` text members.
template <class TAddress>
requires requires(TAddress& a, std::string s) {
  a.Name = s;
  a.Address = s;
}
void ParseAddress(std::string_view text, TAddress& address) {
  std::string name = address.Name;
  std::string mailbox = address.Address;
  ParseAddress(text, name, mailbox);
  address.Name = std::move(name);
  address.Address = std::move(mailbox);
}

// Trimmed, without leading and trailing double quotes.
std::string Unquote(std::string_view text);

// The value up to the first blank or ";", trimmed ("text/plain; x" gives
// text/plain).
std::string FirstToken(std::string_view value);

// MIME type registered for the file's extension in /etc/mime.types;
// "application/octet-stream" when there is none.
std::string ContentTypeOfFile(std::string_view fileName);

// Writes the lines, each followed by CR LF, to a new file `fileName`,
// replacing an existing one. Raises EFileError when the file cannot be
// written.
void SaveLinesToFile(const std::vector<std::string>& lines, const std::string& fileName);
