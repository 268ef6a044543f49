// The numbered message table: Winsock texts under their own numbers, socket
// and binding messages from 57000, mail component messages from 57100.
#pragma once

#include <string>

// Text of message `number`, or "Error #" and the number when there is none.
std::string MessageText(int number);

// True when the table holds a text for `number`.
bool HasMessageText(int number);

// Message numbers used across the program.
namespace msg {
constexpr int kTimedOut = 57000;
constexpr int kCanceled = 57001;
constexpr int kServerRequired = 57002;
constexpr int kInvalidWinsockVersion = 57003;
constexpr int kErrorResolvingHost = 57004;
constexpr int kServiceNameRequired = 57005;
constexpr int kNotConnected = 57008;
constexpr int kFunctionNotFound = 57010;
constexpr int kWinsockNotLoaded = 57011;
constexpr int kWinsockNotFound = 57012;
constexpr int kSenderRequired = 57100;
constexpr int kRecipientRequired = 57101;
constexpr int kMailMessageRequired = 57102;
constexpr int kMultipartPreamble = 57106;
constexpr int kMissingContentType = 57108;
constexpr int kNoClosingBoundary = 57109;
constexpr int kNoBoundary = 57110;
constexpr int kErrorDecodingAttachment = 57111;
constexpr int kNewsgroupRequired = 57115;
constexpr int kSubjectRequired = 57116;
}  // namespace msg
