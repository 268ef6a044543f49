// The Date: and Message-ID: lines every mail needs before it is sent.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "mail/message.h"

// RFC 5322 date of `t` in local time with its offset, English names
// whatever the locale: "Tue, 08 Dec 2026 07:11:55 +0100".
std::string MailDate(std::time_t t);

// A fresh "<random.time@domain>", the domain taken from the sender's
// address in its ASCII (IDNA) form ("localhost" when it has none that fits).
std::string NewMessageId(std::string_view senderAddress);

// Replaces the message's Date: and Message-ID: headers by fresh ones.
void StampDateAndMessageId(TmsCustomMessage& message);
