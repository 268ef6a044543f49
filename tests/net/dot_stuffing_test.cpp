// Dot-stuffing of the DATA text, whole and fed in blocks.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/dot_stuffing.h"

namespace {

std::string Stuffed(const std::string& text, std::size_t first, std::size_t block) {
  TDotStuffer dots;
  std::string out;
  dots.Step(text.data(), first, out);
  for (std::size_t i = first; i < text.size(); i += block)
    dots.Step(text.data() + i, std::min(block, text.size() - i), out);
  return out;
}

TEST(DotStuffingTest, BlockBordersChangeNothing) {
  // A first line with a dot, dots inside and at the end of lines, a lone
  // dot, an empty line, a bare LF and a lone CR (which ends no line).
  const std::string text = ".a\r\nb.\r\n.\r\n..\r\n\r\n\n.x\r.y";
  const std::string whole = Stuffed(text, text.size(), 1);
  EXPECT_EQ(whole, "..a\r\nb.\r\n..\r\n...\r\n\r\n\n..x\r.y");
  // Every split in two, which puts a "." right after a block ending in LF
  // and parts "\r\n"; then blocks of one byte, and an empty first block.
  for (std::size_t cut = 0; cut <= text.size(); ++cut)
    EXPECT_EQ(Stuffed(text, cut, text.size()), whole) << "cut at " << cut;
  EXPECT_EQ(Stuffed(text, 0, 1), whole);
}

}  // namespace
