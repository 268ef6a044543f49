// The model's fields from any bytes (names, subject, file name, body, data):
// what we encode must decode to the same fields, on all-ASCII lines of at
// most 998 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mail/message.h"

namespace {

// Runs of blanks and control bytes as one blank, none at the ends: header
// folding and unfolding may change white space, never text.
std::string Squeeze(const std::string& s) {
  std::string out;
  for (char c : s) {
    const bool blank = static_cast<unsigned char>(c) <= ' ';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Text with every line break as LF and no trailing ones.
std::string Text(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& l : lines) joined += l + "\n";
  std::string out;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    if (joined[i] == '\r' && i + 1 < joined.size() && joined[i + 1] == '\n') continue;
    out += joined[i] == '\r' ? '\n' : joined[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> f(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && f.size() < 6)
      f.emplace_back();
    else
      f.back() += static_cast<char>(data[i] == 0 ? 'z' : data[i]);
  }
  f.resize(6);
  TmsMessage m;
  m.Sender() = TmsMailAddress("me@example.org", f[0]);
  m.Recipients().AddAddress("you@example.org", f[1]);
  m.SetSubject(f[2]);
  m.Body() = {f[4]};
  const std::string part = FileNamePart(CutShortText(f[3]));
  const bool named = !part.empty() && part[0] != '_';
  if (named) {
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName(part);
    item->SetTransferEncoding(teBase64);
    item->Stream().SetData(f[5]);
    m.Attachments().Add(std::move(item));
  }
  TmsMessage sent;
  sent.Assign(m);
  TMemoryStream wire;
  m.SaveToStream(wire);

  const std::string& w = wire.Data();
  std::size_t line = 0;
  for (char c : w) {
    Check(static_cast<unsigned char>(c) < 128);
    line = c == '\n' ? 0 : line + 1;
    Check(line <= 1000);
  }
  TmsMessage back;
  back.LoadFromStream(wire);
  Check(Squeeze(back.Sender().Name()) == Squeeze(sent.Sender().Name()));
  Check(back.Recipients().Count() == 1);
  Check(Squeeze(back.Recipients()[0].Name()) == Squeeze(sent.Recipients()[0].Name()));
  Check(Squeeze(back.Subject()) == Squeeze(sent.Subject()));
  Check(Text(back.Body()) == Text(sent.Body()));
  Check(back.Attachments().Count() == (named ? 1 : 0));
  if (named) {
    Check(Squeeze(back.Attachments()[0].FileName()) == Squeeze(part));
    Check(back.Attachments()[0].Stream().Data() == f[5]);
  }
  return 0;
}
