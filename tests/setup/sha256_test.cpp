// Our SHA-256 against coreutils' sha256sum, over the lengths where the
// padding changes and over input fed in uneven pieces.
#include "setup/sha256.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

std::string Sha256Sum(const std::string& path) {
  return CommandOutput("sha256sum " + Quote(path)).substr(0, 64);
}

}  // namespace

TEST(Sha256, MatchesSha256sum) {
#ifdef _WIN32
  GTEST_SKIP() << "needs coreutils' sha256sum";
#endif
  TempFolder dir;
  for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, 1 << 20}) {
    const wrap::Bytes data = wraptest::Random(size, static_cast<unsigned>(size));
    wraptest::WriteFile(dir / "in", data);
    const std::string expected = Sha256Sum(dir / "in");
    ASSERT_EQ(expected.size(), 64u);
    EXPECT_EQ(wrap::HexDigest(wrap::Sha256Of(data)), expected) << size;
    wrap::Sha256 pieces;
    for (std::size_t at = 0, step = 1; at < size; at += step, step = step * 3 % 97 + 1)
      pieces.Update(wrap::ByteView(data).subspan(at, std::min(step, size - at)));
    EXPECT_EQ(wrap::HexDigest(pieces.Finish()), expected) << size;
  }
}
