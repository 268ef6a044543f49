// Cross-check with GMime 3: what we write it reads with the same names,
// subject, file names and bytes.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/message.h"
#include "tests/mail/helpers.h"

using namespace mail_test;

namespace {

struct GUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, GUnref>;

struct Seen {
  std::vector<std::string> names;  // display names of To
  std::string subject;
  std::vector<std::pair<std::string, std::string>> files;  // file name, bytes
  std::string text;
};

void Collect(GMimeObject*, GMimeObject* part, gpointer data) {
  auto* seen = static_cast<Seen*>(data);
  if (!GMIME_IS_PART(part)) return;
  GMimeDataWrapper* w = g_mime_part_get_content(GMIME_PART(part));
  GPtr<GMimeStream> out(g_mime_stream_mem_new());
  if (w != nullptr) g_mime_data_wrapper_write_to_stream(w, out.get());
  GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  std::string bytes(reinterpret_cast<const char*>(a->data), a->len);
  const char* name = g_mime_part_get_filename(GMIME_PART(part));
  if (name != nullptr)
    seen->files.emplace_back(name, bytes);
  else
    seen->text += bytes;
}

Seen ParseWithGMime(const std::string& wire) {
  g_mime_init();
  GPtr<GMimeStream> in(g_mime_stream_mem_new_with_buffer(wire.data(), wire.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(in.get()));
  GPtr<GMimeMessage> m(g_mime_parser_construct_message(parser.get(), nullptr));
  Seen seen;
  if (!m) return seen;
  InternetAddressList* to = g_mime_message_get_to(m.get());
  for (int i = 0; i < internet_address_list_length(to); ++i) {
    const char* n = internet_address_get_name(internet_address_list_get_address(to, i));
    seen.names.emplace_back(n ? n : "");
  }
  const char* subject = g_mime_message_get_subject(m.get());
  seen.subject = subject ? subject : "";
  g_mime_message_foreach(m.get(), Collect, &seen);
  return seen;
}

}  // namespace

TEST(MessageGMime, ReadsWhatWeWrite) {
  TmsMessage m;
  m.Sender().SetAddress("me@example.org");
  m.Recipients().AddAddress("a@example.org", "Smith, John \"JJ\" (x) <y>; \\.");
  m.Recipients().AddAddress("b@example.org",
                            "J\xC3\xB6rg M\xC3\xBC"
                            "ller");
  std::string subject;
  while (subject.size() < 200)
    subject +=
        "Gr\xC3\xBC\xC3\x9F"
        "e ";
  m.SetSubject(subject);
  m.Body() = {"Caf\xC3\xA9 cr\xC3\xA8me"};
  const std::string latin_name = "r\xC3\xA9sum\xC3\xA9 \"draft\" " + std::string(70, 'x') + ".bin";
  m.Attachments().Add(Att(latin_name, std::string("\0\x01\xFF", 3)));
  m.Attachments().Add(Att("unix.txt", "a\n\nb\n"));
  TmsMessage sent;
  sent.Assign(m);

  const Seen seen = ParseWithGMime(Encode(m));
  ASSERT_EQ(seen.names.size(), 2u);
  EXPECT_EQ(seen.names[0], sent.Recipients()[0].Name());
  EXPECT_EQ(seen.names[1], sent.Recipients()[1].Name());
  EXPECT_EQ(seen.subject, sent.Subject());
  EXPECT_NE(seen.text.find("Caf\xC3\xA9 cr\xC3\xA8me"), std::string::npos);
  ASSERT_EQ(seen.files.size(), 2u);
  EXPECT_EQ(seen.files[0].first, latin_name);
  EXPECT_EQ(seen.files[0].second, std::string("\0\x01\xFF", 3));
  EXPECT_EQ(seen.files[1].first, "unix.txt");
  EXPECT_EQ(seen.files[1].second, "a\r\n\r\nb\r\n");
}
