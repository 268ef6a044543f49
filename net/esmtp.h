// The extended greeting's reply read into what the server offers, and the
// SASL texts of the authentication methods the client speaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TEsmtpExtensions {
  bool startTls = false;
  bool has8BitMime = false;
  bool smtpUtf8 = false;
  bool pipelining = false;
  bool hasSize = false;
  std::uint64_t size = 0;                   // 0: no limit given
  std::vector<std::string> authMechanisms;  // upper case, in the server's order
};

// Reads the lines of a 250 reply to EHLO; the first names the server.
TEsmtpExtensions ParseEhloReply(const std::vector<std::string>& lines);

// The method to use: `wanted` when given and offered, else the best that
// both sides know. Empty, with the reason in `why`, when there is none.
std::string ChooseAuthMechanism(const TEsmtpExtensions& offered, const std::string& wanted,
                                std::string& why);

// The initial response of PLAIN, XOAUTH2 or OAUTHBEARER, base64-encoded.
std::string AuthInitialResponse(const std::string& mechanism, const std::string& user,
                                const std::string& secret);
