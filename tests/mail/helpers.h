// Helpers the mail tests share: files, peer commands, and messages in and
// out of their wire form.
#pragma once

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_helpers.h"
#include "mail/message.h"
#include "tests/platform/temp_folder.h"

namespace mail_test {

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

inline std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) (out += digits[c >> 4]) += digits[c & 15];
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// A file `name` holding `data`, typed by its extension.
inline std::unique_ptr<TmsAttItem> Att(const std::string& name, const std::string& data = "x") {
  auto a = std::make_unique<TmsAttItem>();
  a->SetFileName(name);
  a->Stream().SetData(data);
  return a;
}

// Each attachment as "file name, content type: bytes".
inline std::vector<std::string> Parts(const TmsAttList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i)
    out.push_back(list[i].FileName() + ", " + list[i].ContentType() + ": " + list[i].Stream().Data());
  return out;
}

// The request mail as the program sends it.
inline const std::string kSender = "user@example.org";
inline const std::string kServer = "pages@server.example";
inline const std::string kSubject = "send http://example.org/";
inline const std::string kBody = "GET http://example.org/";

inline void Request(TmsMessage& m) {
  m.Sender().SetAddress(kSender);
  m.Recipients().AddAddress(kServer, "");
  m.SetSubject(kSubject);
  m.Body().push_back(kBody);
}

inline std::string Encode(TmsCustomMessage& m) {
  TMemoryStream out;
  m.SaveToStream(out);
  return out.Data();
}

inline std::unique_ptr<TmsMessage> Decode(const std::string& wire) {
  auto m = std::make_unique<TmsMessage>();
  TMemoryStream in(wire);
  in.SetPosition(wire.size());  // the decoder reads from position 0 anyway
  m->LoadFromStream(in);
  return m;
}

// The lines of a wire form, each ended by CR LF.
inline std::vector<std::string> Lines(const std::string& wire) {
  EXPECT_TRUE(wire.empty() || wire.ends_with("\r\n"));
  std::vector<std::string> out;
  for (std::size_t i = 0; i < wire.size();) {
    const std::size_t j = wire.find("\r\n", i);
    out.push_back(wire.substr(i, j - i));
    i = j == std::string::npos ? j : j + 2;
  }
  return out;
}

inline std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

}  // namespace mail_test
