// Our SZDD files as Windows itself expands them (lz32).
#include <gtest/gtest.h>

#include "setup/file_list.h"
#include "setup/szdd.h"
#include "test_util.h"
#include "windows_lz.h"

using wrap::Bytes;

TEST(WindowsLz, ExpandsOurFilesByteForByteAndAgreesOnTheName) {
  TempFolder dir;
  const std::pair<std::string, Bytes> samples[] = {
      {"EMPTY.TXT", {}},
      {"ONE.BIN", {'A'}},
      {"BLANKS.DAT", Bytes(5000, ' ')},
      {"ZEROS.BIN", Bytes(100000, 0)},
      {"RANDOM.BIN", wraptest::Random(200 * 1024, 21)},  // incompressible
      {"MIXED.EXE", wraptest::Mixed(150 * 1024, 22)},
      {"README", wraptest::Mixed(4097, 23)},  // no extension
  };
  for (const auto& [name, data] : samples) {
    // Stored as the packer stores them: the last letter in the header.
    const std::string packed = wrap::CompressedName(name);
    wraptest::WriteFile(dir / packed, wrap::SzddCompress(data, name.back()));
    EXPECT_EQ(wraptest::WindowsLzCopy(dir / packed, dir / ("out-" + name)),
              static_cast<long>(data.size()))
        << name;
    EXPECT_EQ(wraptest::ReadFile(dir / ("out-" + name)), data) << name;
    EXPECT_EQ(wrap::GetExpandedName(dir / packed), name) << name;
    // Windows restores the last letter of an extension only; a name
    // without one keeps its "_" there (msexpand and we restore it).
    const bool dotted = name.find('.') != std::string::npos;
    EXPECT_EQ(wraptest::WindowsExpandedName(dir / packed), dotted ? name : packed) << name;
  }
}
