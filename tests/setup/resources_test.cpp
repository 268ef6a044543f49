// The bundle appended to the launcher and the file list inside it.
#include <gtest/gtest.h>

#include "setup/bundle.h"
#include "setup/file_list.h"
#include "setup/wrap_error.h"
#include "test_util.h"

using wrap::Bytes;
using wrap::ResourceType;

namespace {

Bytes SampleImage() {
  Bytes image{'\x7f', 'E', 'L', 'F', 1, 2, 3};
  const Bytes tail = wrap::BuildBundle([](wrap::BundleWriter& w) {
    w.AddString(1, "Setup - Ravelin v1.31");
    w.AddString(2, "Continue?");
    w.Add(ResourceType::RawData, 1, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    w.Begin(ResourceType::RawData, 101, 0755);  // written in pieces
    const Bytes data = wraptest::Random(3000, 7);
    w.Write(wrap::ByteView(data).first(1000));
    w.Write(wrap::ByteView(data).subspan(1000));
    w.End();
    w.Add(ResourceType::RawData, 102, Bytes{});
  });
  image.insert(image.end(), tail.begin(), tail.end());
  return image;
}

// kInvalidData when the damage is found, by the directory or by a part's
// checksum; 0 when it is not.
int Detected(const Bytes& image) {
  try {
    return wrap::Bundle::Parse(image).FindDamaged() ? wrap::kInvalidData : 0;
  } catch (const wrap::EWrapError& e) {
    return e.Code();
  }
}

}  // namespace

TEST(Bundle, ReadsBackWhatTheWriterAppended) {
  const Bytes image = SampleImage();
  TempFolder dir;
  wraptest::WriteFile(dir / "wrap", image);
  auto check = [](const wrap::Bundle& b) {
    EXPECT_EQ(b.Count(), 5u);
    EXPECT_EQ(b.Start(), 7u);
    EXPECT_EQ(b.LoadString(1, 49), "Setup - Ravelin v1.31");
    EXPECT_EQ(b.LoadString(3, 259), "");
    EXPECT_EQ(b.Load(ResourceType::RawData, 1), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(b.Load(ResourceType::RawData, 101), wraptest::Random(3000, 7));
    EXPECT_EQ(b.Load(ResourceType::RawData, 102), Bytes{});
    EXPECT_FALSE(b.Load(ResourceType::RawData, 103));
    EXPECT_FALSE(b.Load(ResourceType::String, 101));
    EXPECT_EQ(b.Mode(ResourceType::RawData, 101), 0755);
    EXPECT_EQ(b.Mode(ResourceType::RawData, 1), 0);
    EXPECT_FALSE(b.FindDamaged());
  };
  check(wrap::Bundle::Parse(image));
  check(wrap::Bundle::Open(dir / "wrap"));
}

TEST(Bundle, EveryFlippedBitAndEveryCutIsFound) {
  const Bytes image = SampleImage();
  EXPECT_EQ(Detected(Bytes{'\x7f', 'E', 'L', 'F'}), wrap::kInvalidData);
  for (std::size_t cut = 0; cut < image.size(); ++cut)
    EXPECT_EQ(Detected(Bytes(image.begin(), image.begin() + static_cast<long>(cut))),
              wrap::kInvalidData)
        << "cut at " << cut;
  // Past the launcher's own 7 bytes, every bit belongs to some checked part.
  for (std::size_t at = 7; at < image.size(); ++at) {
    for (int bit = 0; bit < 8; bit += 3) {
      Bytes damaged = image;
      damaged[at] ^= static_cast<std::uint8_t>(1u << bit);
      ASSERT_EQ(Detected(damaged), wrap::kInvalidData) << "byte " << at << " bit " << bit;
    }
  }
  Bytes older = image;
  older[older.size() - 1] = '1';  // the magic of the previous format
  EXPECT_EQ(Detected(older), wrap::kInvalidData);
  TempFolder dir;
  EXPECT_THROW(wrap::Bundle::Open(dir / "missing"), wrap::EWrapError);
  wraptest::WriteFile(dir / "plain", Bytes(100, 'x'));
  EXPECT_EQ(wraptest::ErrorCode([&] { wrap::Bundle::Open(dir / "plain"); }), wrap::kInvalidData);
}

TEST(Bundle, StringsEndAtZeroAndAreCutOnCharacterBoundaries) {
  const Bytes image = wrap::BuildBundle([](wrap::BundleWriter& w) {
    w.Add(ResourceType::String, 1, Bytes{'a', 'b', 0, 'c'});
    w.AddString(2, std::string(47, 'x') + "\xC3\xA9\xC3\xA9");  // two 2-byte letters
  });
  const wrap::Bundle b = wrap::Bundle::Parse(image);
  EXPECT_EQ(b.LoadString(1, 49), "ab");
  EXPECT_EQ(b.LoadString(2, 49), std::string(47, 'x') + "\xC3\xA9");
  EXPECT_EQ(b.LoadString(2, 50), std::string(47, 'x') + "\xC3\xA9");
  EXPECT_EQ(b.LoadString(2, 51), std::string(47, 'x') + "\xC3\xA9\xC3\xA9");
}

TEST(FileList, RoundTripsAndStopsAtTheZero) {
  const std::vector<wrap::FileRecord> records{
      {101, 1234, "SETUP.EX_"}, {102, 0, "A_"}, {65535, 0xFFFFFFFF, "README.TX_"}};
  Bytes data = wrap::BuildFileList(records);
  data.insert(data.end(), {0xDE, 0xAD});  // after the end: not read
  const auto back = wrap::ParseFileList(data);
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back[i].number, records[i].number);
    EXPECT_EQ(back[i].length, records[i].length);
    EXPECT_EQ(back[i].name, records[i].name);
  }
  EXPECT_TRUE(wrap::ParseFileList(Bytes{0, 0}).empty());
}

TEST(FileList, CutRecordsAndForeignNamesAreInvalidData) {
  auto code = [](const Bytes& data) {
    return wraptest::ErrorCode([&] { wrap::ParseFileList(data); });
  };
  const Bytes good = wrap::BuildFileList({{101, 5, "SETUP.EX_"}});
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_EQ(code(Bytes(good.begin(), good.begin() + static_cast<long>(cut))), wrap::kInvalidData);

  // Nothing may be written outside the folder: only plain 8.3 names.
  for (const std::string bad :
       {"", ".", "..", "../EVIL.EX_", "/tmp/X_", "A/B_", "..\\EVIL.EX_", "C:X_", "TOOLONGNA.EX_",
        "A.ABC_", "A.B.C_", "A._.", "SETUP.EXE", "SP CE.TX_", ".EX_"}) {
    EXPECT_EQ(code(wrap::BuildFileList({{101, 5, bad}})), wrap::kInvalidData) << bad;
  }
  for (const std::string ok : {"SETUP.EX_", "A_", "LONGNAME.TX_", "B.__", "X-1~2.$$_"})
    EXPECT_EQ(code(wrap::BuildFileList({{101, 5, ok}})), 0) << ok;
}

TEST(FileList, OneNameRuleNamesTheFile) {
  auto problem = [](std::vector<wrap::PayloadName> names) { return wrap::NameProblem(names); };
  EXPECT_EQ(problem({{"SETUP.EX_", "SETUP.EXE"}, {"A_", "A"}}), "");
  EXPECT_EQ(problem({{"NOTE.TX_", "NOTE.TX_"}}),
            "NOTE.TX_ already ends in \"_\", so it would never be expanded");
  EXPECT_EQ(problem({{"LONGFILE.TX_", "LONGFILENAME.TXT"}}),
            "LONGFILENAME.TXT is not a plain 8.3 file name");
  EXPECT_EQ(problem({{"A.TX_", "A.TXT"}, {"B.TX_", "A.TXT"}}),
            "B.TX_ and A.TX_ both expand to A.TXT");
}

TEST(FileList, ShortNamesAndTheirStoredForm) {
  EXPECT_TRUE(wrap::IsPlainShortName("SETUP.EXE"));
  EXPECT_TRUE(wrap::IsPlainShortName("readme"));
  EXPECT_FALSE(wrap::IsPlainShortName("readme."));
  EXPECT_FALSE(wrap::IsPlainShortName("readme.html"));
  EXPECT_FALSE(wrap::IsPlainShortName("name\x01.txt"));
  EXPECT_EQ(wrap::CompressedName("SETUP.EXE"), "SETUP.EX_");
  EXPECT_EQ(wrap::CompressedName("README"), "READM_");
}
