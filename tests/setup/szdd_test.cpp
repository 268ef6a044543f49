#include "setup/szdd.h"

#include <gtest/gtest.h>

#include "setup/wrap_error.h"
#include "test_util.h"

using wrap::Bytes;

namespace {

struct Sample {
  const char* name;
  Bytes data;
};

std::vector<Sample> Samples() {
  Bytes blanks(5000, ' ');
  blanks.push_back('x');
  return {
      {"empty", {}},
      {"one", {'A'}},
      {"two", {'A', 'B'}},
      {"blanks_first", blanks},
      {"zeros", Bytes(100000, 0)},
      {"period_3",
       [] {
         Bytes b;
         for (int i = 0; i < 30000; ++i) b.push_back(static_cast<std::uint8_t>("abc"[i % 3]));
         return b;
       }()},
      {"random", wraptest::Random(70000, 1)},
      {"mixed", wraptest::Mixed(2 * 1024 * 1024 + 17, 2)},
  };
}

void ExpectInvalid(const Bytes& packed) {
  EXPECT_EQ(wraptest::ErrorCode([&] { wrap::SzddExpandToMemory(packed); }), wrap::kInvalidData);
}

}  // namespace

TEST(Szdd, RoundTripsAndAgreesWithDebiansMscompressAndMsexpand) {
#ifdef _WIN32
  GTEST_SKIP() << "needs Debian's msexpand and mscompress and a shell; lz32_test checks "
                  "against Windows' own expansion";
#endif
  TempFolder dir;
  for (const auto& s : Samples()) {
    const std::string name = s.name;
    const Bytes packed = wrap::SzddCompress(s.data, 0);
    EXPECT_EQ(wrap::ReadSzddHeader(packed).value().length, s.data.size()) << name;
    EXPECT_EQ(wrap::SzddExpandToMemory(packed), s.data) << name;
    wraptest::WriteFile(dir / (name + ".bin_"), packed);
    wraptest::WriteFile(dir / name, s.data);
    ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && { msexpand '" + name +
                         ".bin_' && mscompress '" + name + "'; } >/dev/null 2>&1"),
              0);
    EXPECT_EQ(wraptest::ReadFile(dir / (name + ".bin")), s.data) << name;
    // Our own naming rule gives the same name as msexpand.
    EXPECT_EQ(wrap::GetExpandedName(dir / (name + ".bin_")), name + ".bin");

    const Bytes theirs = wraptest::ReadFile(dir / (name + "_"));
    const Bytes ours = wrap::SzddExpandToMemory(theirs);
    EXPECT_EQ(ours.size(), wrap::ReadSzddHeader(theirs).value().length) << name;
    // mscompress drops the bytes of files under 16 bytes; above that we
    // expand its files, and ours are never the larger.
    if (s.data.size() >= 16) {
      EXPECT_EQ(ours, s.data) << name;
      EXPECT_LE(packed.size(), theirs.size()) << name;
    }
  }
  // Repeats shrink; random data grows by at most the flag bytes.
  EXPECT_LT(wrap::SzddCompress(Bytes(100000, 0)).size(), 100000u / 7);
  EXPECT_LE(wrap::SzddCompress(wraptest::Random(80000, 3)).size(), 14 + 80000 + 80000 / 8 + 1);
}

TEST(Szdd, ExpandedNameKeepsTheLastLetterFromTheHeader) {
  EXPECT_EQ(wrap::ExpandedName("SETUP.EX_", 'E'), "SETUP.EXE");
  EXPECT_EQ(wrap::ExpandedName("DATA.BIN_", 0), "DATA.BIN");
  EXPECT_EQ(wrap::ExpandedName("README", 'X'), "README");

  TempFolder dir;
  wraptest::WriteFile(dir / "SETUP.EX_", wrap::SzddCompress(Bytes{'#', '!'}, 'E'));
  EXPECT_EQ(wrap::GetExpandedName(dir / "SETUP.EX_"), "SETUP.EXE");
  wraptest::WriteFile(dir / "PLAIN.TX_", std::string("not compressed"));
  EXPECT_FALSE(wrap::GetExpandedName(dir / "PLAIN.TX_"));
  EXPECT_FALSE(wrap::GetExpandedName(dir / "MISSING.TX_"));
}

TEST(Szdd, DamagedDataIsInvalidNeverACrash) {
  const Bytes data = wraptest::Mixed(20000, 4);
  const Bytes packed = wrap::SzddCompress(data);
  ExpectInvalid(Bytes(packed.begin(), packed.begin() + 13));  // header cut
  for (std::size_t cut = wrap::kSzddHeaderSize; cut < packed.size(); cut += 97)
    ExpectInvalid(Bytes(packed.begin(), packed.begin() + static_cast<long>(cut)));
  Bytes wrongMagic = packed;
  wrongMagic[3] = 'Q';
  ExpectInvalid(wrongMagic);
  // A header that claims more than the data holds.
  Bytes longer = packed;
  longer[13] = 0x7F;
  ExpectInvalid(longer);

  // Trailing bytes after the recorded length are ignored.
  Bytes trailing = packed;
  trailing.insert(trailing.end(), 100, 0xAA);
  EXPECT_EQ(wrap::SzddExpandToMemory(trailing), data);
}

TEST(Szdd, ExpandsMatchesIntoTheBlankWindowAndAcrossTheWholeRing) {
  // Hand-made: a match before any output reads blanks; a match whose ring
  // position equals the write position reaches back the full 4096 bytes.
  Bytes packed{'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 0};
  wrap::PutLE(packed, 5, 4);
  packed.push_back(0xFE);  // match, then literals
  packed.push_back(0x00);  // ring position 0x000 (blanks), length 3
  packed.push_back(0x00);
  packed.push_back('a');
  packed.push_back('b');
  EXPECT_EQ(wrap::SzddExpandToMemory(packed), (Bytes{' ', ' ', ' ', 'a', 'b'}));

  Bytes data = wraptest::Random(4096, 9);
  Bytes full{'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 0};
  wrap::PutLE(full, 4096 + 18, 4);
  for (std::size_t i = 0; i < data.size(); i += 8) {
    full.push_back(0xFF);
    full.insert(full.end(), data.begin() + static_cast<long>(i),
                data.begin() + static_cast<long>(i) + 8);
  }
  const unsigned ring = (4096 + 4080) % 4096;  // where byte 4096 goes
  full.push_back(0x00);
  full.push_back(static_cast<std::uint8_t>(ring & 0xFF));
  full.push_back(static_cast<std::uint8_t>(((ring >> 4) & 0xF0) | 15));
  Bytes expected = data;
  expected.insert(expected.end(), data.begin(), data.begin() + 18);
  EXPECT_EQ(wrap::SzddExpandToMemory(full), expected);
}

TEST(Szdd, ExpandFileWritesTheNamedFile) {
  TempFolder dir;
  const Bytes data = wraptest::Mixed(200000, 5);
  wraptest::WriteFile(dir / "A.TX_", wrap::SzddCompress(data, 'T'));
  wrap::SzddExpandFile(dir / "A.TX_", dir / "A.TXT");
  EXPECT_EQ(wraptest::ReadFile(dir / "A.TXT"), data);
  EXPECT_THROW(wrap::SzddExpandFile(dir / "NONE.TX_", dir / "NONE.TXT"), wrap::EWrapError);
}
