// Message encoding and decoding speed against GMime 3, in one run, on the
// same messages: a 16 MiB base64 attachment and a 4 MiB quoted-printable
// body. Figures are payload megabytes (10^6 bytes) per second, best of a
// few rounds.
#include <gmime/gmime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mail/message.h"

namespace {

constexpr std::size_t kAttachmentSize = 16u << 20;
constexpr std::size_t kBodySize = 4u << 20;
constexpr int kRounds = 3;

double BestSeconds(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < kRounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    best = std::min(best, d.count());
  }
  return best;
}

// A decode that gave the wrong result makes the row meaningless: stop.
[[noreturn]] void Fail(const char* format, std::size_t value) {
  std::fprintf(stderr, "bench_messages: decode check failed: ");
  std::fprintf(stderr, format, value);
  std::fprintf(stderr, "\n");
  std::exit(1);
}

void Row(const char* name, std::size_t bytes, double ours, double gmime) {
  const double a = static_cast<double>(bytes) / 1e6 / ours;
  const double b = static_cast<double>(bytes) / 1e6 / gmime;
  std::printf("%s: ours %.1f MB/s, gmime %.1f MB/s, ratio %.2f\n", name, a, b, a / b);
  std::fflush(stdout);
}

std::string Binary(std::size_t n) {
  std::mt19937_64 rng(42);
  std::string s(n, '\0');
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    std::uint64_t v = rng();
    std::copy_n(reinterpret_cast<const char*>(&v), 8, s.data() + i);
  }
  return s;
}

// Text lines of 40 to 90 characters with a few Latin-1 letters and "=".
std::vector<std::string> TextLines(std::size_t total) {
  std::mt19937 rng(7);
  static const char* words[] = {"mail", "request", "server", "caf\xE9", "na\xEFve", "x=y",
                                "the", "page", "file", "r\xE9sum\xE9", "and", "gopher"};
  std::vector<std::string> lines;
  std::size_t size = 0;
  while (size < total) {
    std::string line;
    std::size_t want = 40 + rng() % 50;
    while (line.size() < want) {
      if (!line.empty()) line += ' ';
      line += words[rng() % 12];
    }
    size += line.size() + 2;
    lines.push_back(std::move(line));
  }
  return lines;
}

void Address(TmsMessage& m) {
  m.Sender().SetAddress("user@example.org");
  m.Recipients().AddAddress("pages@server.example", "");
  m.SetSubject("benchmark");
}

// ---- GMime side

struct Unref {
  void operator()(void* p) const { g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

GMimeFormatOptions* CrLf() {
  static GMimeFormatOptions* options = [] {
    GMimeFormatOptions* o = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(o, GMIME_NEWLINE_FORMAT_DOS);
    return o;
  }();
  return options;
}

GMimeMessage* GMimeEnvelope() {
  GMimeMessage* m = g_mime_message_new(TRUE);
  g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_FROM, "", "user@example.org");
  g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_TO, "", "pages@server.example");
  g_mime_message_set_subject(m, "benchmark", nullptr);
  return m;
}

GMimePart* GMimeContentPart(const char* type, const char* subtype, const std::string& data,
                            GMimeContentEncoding encoding) {
  GMimePart* part = g_mime_part_new_with_type(type, subtype);
  GPtr<GMimeStream> content(g_mime_stream_mem_new_with_buffer(data.data(), data.size()));
  GPtr<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(content.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  g_mime_part_set_content_encoding(part, encoding);
  return part;
}

std::size_t GMimeWrite(GMimeMessage* m, std::string* wire) {
  GPtr<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(GMIME_OBJECT(m), CrLf(), out.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  if (wire) wire->assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  return bytes->len;
}

void DecodePart(GMimeObject*, GMimeObject* part, gpointer total) {
  if (!GMIME_IS_PART(part)) return;
  GMimeDataWrapper* w = g_mime_part_get_content(GMIME_PART(part));
  if (!w) return;
  GPtr<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(w, out.get());
  *static_cast<std::size_t*>(total) +=
      g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()))->len;
}

std::size_t GMimeRead(const std::string& wire) {
  GPtr<GMimeStream> in(g_mime_stream_mem_new_with_buffer(wire.data(), wire.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(in.get()));
  GPtr<GMimeMessage> m(g_mime_parser_construct_message(parser.get(), nullptr));
  std::size_t total = 0;
  if (m) {
    DecodePart(nullptr, g_mime_message_get_mime_part(m.get()), &total);
    g_mime_message_foreach(m.get(), DecodePart, &total);
  }
  return total;
}

}  // namespace

int main() {
  g_mime_init();
  const std::string binary = Binary(kAttachmentSize);
  const std::vector<std::string> lines = TextLines(kBodySize);
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";

  // Base64 attachment.
  std::string our_b64_wire;
  double ours = BestSeconds([&] {
    TmsMessage m;
    Address(m);
    m.Body() = {"The file you asked for."};
    auto a = std::make_unique<TmsAttItem>();
    a->SetFileName("data.bin");
    a->Stream().SetData(binary);
    m.Attachments().Add(std::move(a));
    TMemoryStream out;
    m.SaveToStream(out);
    our_b64_wire = out.Data();
  });
  std::string gmime_b64_wire;
  double theirs = BestSeconds([&] {
    GPtr<GMimeMessage> m(GMimeEnvelope());
    GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    GPtr<GMimeTextPart> body(g_mime_text_part_new_with_subtype("plain"));
    g_mime_text_part_set_text(body.get(), "The file you asked for.\n");
    GPtr<GMimePart> att(
        GMimeContentPart("application", "octet-stream", binary, GMIME_CONTENT_ENCODING_BASE64));
    g_mime_part_set_filename(att.get(), "data.bin");
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(body.get()));
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(att.get()));
    g_mime_message_set_mime_part(m.get(), GMIME_OBJECT(mixed.get()));
    GMimeWrite(m.get(), &gmime_b64_wire);
  });
  Row("encode 16 MiB base64 attachment", kAttachmentSize, ours, theirs);

  // Quoted-printable body.
  std::string our_qp_wire;
  ours = BestSeconds([&] {
    TmsMessage m;
    Address(m);
    m.CharSet = csISO8859;
    m.Body() = lines;
    TMemoryStream out;
    m.SaveToStream(out);
    our_qp_wire = out.Data();
  });
  std::string gmime_qp_wire;
  theirs = BestSeconds([&] {
    GPtr<GMimeMessage> m(GMimeEnvelope());
    GPtr<GMimePart> body(
        GMimeContentPart("text", "plain", text, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE));
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(body.get()), "charset", "iso-8859-1");
    g_mime_message_set_mime_part(m.get(), GMIME_OBJECT(body.get()));
    GMimeWrite(m.get(), &gmime_qp_wire);
  });
  Row("encode 4 MiB quoted-printable body", kBodySize, ours, theirs);

  // Decoding: each side parses the same wire text (ours), so both decode
  // identical input.
  std::size_t check = 0;
  ours = BestSeconds([&] {
    TmsMessage m;
    TMemoryStream in(our_b64_wire);
    m.LoadFromStream(in);
    check = m.Attachments().Count() == 1 ? m.Attachments()[0].Stream().Data().size() : 0;
  });
  if (check != kAttachmentSize) Fail("ours decoded %zu bytes", check);
  theirs = BestSeconds([&] { check = GMimeRead(our_b64_wire); });
  if (check < kAttachmentSize) Fail("gmime decoded %zu bytes", check);
  Row("decode 16 MiB base64 attachment", kAttachmentSize, ours, theirs);

  ours = BestSeconds([&] {
    TmsMessage m;
    TMemoryStream in(our_qp_wire);
    m.LoadFromStream(in);
    check = m.Body().size();
  });
  if (check != lines.size()) Fail("ours decoded %zu lines", check);
  theirs = BestSeconds([&] { check = GMimeRead(our_qp_wire); });
  if (check < kBodySize) Fail("gmime decoded %zu bytes", check);
  Row("decode 4 MiB quoted-printable body", kBodySize, ours, theirs);

  g_mime_shutdown();
  return 0;
}
