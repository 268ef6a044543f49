#include "net/esmtp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "mail/codecs.h"

namespace {

// Password methods first: a token is named by the user's setting.
const char* const kKnownMechanisms[] = {"PLAIN", "LOGIN", "OAUTHBEARER", "XOAUTH2"};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    std::size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    if (end > i) words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

// A name inside a GS2 header: "," and "=" are escaped.
std::string SaslName(const std::string& name) {
  std::string text;
  for (char c : name) text += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
  return text;
}

}  // namespace

TEsmtpExtensions ParseEhloReply(const std::vector<std::string>& lines) {
  TEsmtpExtensions ext;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].size() < 5) continue;
    std::vector<std::string> words = Words(lines[i].substr(4));
    if (words.empty()) continue;
    const std::string keyword = Upper(words[0]);
    if (keyword == "STARTTLS") {
      ext.startTls = true;
    } else if (keyword == "8BITMIME") {
      ext.has8BitMime = true;
    } else if (keyword == "SMTPUTF8") {
      ext.smtpUtf8 = true;
    } else if (keyword == "PIPELINING") {
      ext.pipelining = true;
    } else if (keyword == "SIZE") {
      ext.hasSize = true;
      if (words.size() > 1)
        std::from_chars(words[1].data(), words[1].data() + words[1].size(), ext.size);
    } else if (keyword == "AUTH") {
      for (std::size_t w = 1; w < words.size(); ++w) {
        std::string m = Upper(words[w]);
        if (std::find(ext.authMechanisms.begin(), ext.authMechanisms.end(), m) ==
            ext.authMechanisms.end())
          ext.authMechanisms.push_back(m);
      }
    }
  }
  return ext;
}

std::string ChooseAuthMechanism(const TEsmtpExtensions& offered, const std::string& wanted,
                                std::string& why) {
  const auto& list = offered.authMechanisms;
  auto has = [&](const std::string& m) {
    return std::find(list.begin(), list.end(), m) != list.end();
  };
  if (list.empty()) {
    why = "The server offers no authentication (no AUTH in its reply to EHLO)";
    return "";
  }
  if (!wanted.empty()) {
    const std::string m = Upper(wanted);
    if (std::none_of(std::begin(kKnownMechanisms), std::end(kKnownMechanisms),
                     [&](const char* k) { return m == k; })) {
      why =
          "Unknown authentication method " + wanted + "; use PLAIN, LOGIN, XOAUTH2 or OAUTHBEARER";
      return "";
    }
    if (!has(m)) {
      why = "The server does not offer AUTH " + m + "; it offers " + Joined(list);
      return "";
    }
    return m;
  }
  for (const char* k : kKnownMechanisms)
    if (has(k)) return k;
  why = "The server offers no authentication method that Tolvane knows; it offers " + Joined(list);
  return "";
}

std::string AuthInitialResponse(const std::string& mechanism, const std::string& user,
                                const std::string& secret) {
  std::string text;
  if (mechanism == "PLAIN")
    text = std::string(1, '\0') + user + std::string(1, '\0') + secret;
  else if (mechanism == "XOAUTH2")
    text = "user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01";
  else if (mechanism == "OAUTHBEARER")
    text = "n,a=" + SaslName(user) + ",\x01" + "auth=Bearer " + secret + "\x01\x01";
  return Base64EncodeChunk(text);
}
