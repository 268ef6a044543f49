#include <gtest/gtest.h>

#include "base/text_helpers.h"

namespace {

TEST(UrlExtension, TextAfterTheLastPoint) {
  EXPECT_EQ(UrlExtension("http://host/dir/"), "");
  EXPECT_EQ(UrlExtension("http://host/pub/TOOL.ZIP"), "ZIP");
  EXPECT_EQ(UrlExtension("news:comp.lang.misc"), "misc");
  EXPECT_EQ(UrlExtension(""), "");
  EXPECT_EQ(UrlExtension("nodots"), "");
  EXPECT_EQ(UrlExtension("ends.with.point."), "");
  // The scan does not stop at slashes.
  EXPECT_EQ(UrlExtension("http://a.b/cgi-bin/query"), "b/cgi-bin/query");
  EXPECT_EQ(UrlExtension("http://host/a.zip?x=1"), "zip?x=1");
}

TEST(JoinedParams, ParametersRunTogether) {
  EXPECT_EQ(JoinedParams(std::vector<std::string>{"tolvane", "/s", "/i"}), "/s/i");
  EXPECT_EQ(JoinedParams(std::vector<std::string>{"tolvane", "/s", "x"}), "/sx");
  EXPECT_EQ(JoinedParams(std::vector<std::string>{"tolvane"}), "");
  EXPECT_EQ(JoinedParams(std::vector<std::string>{}), "");
  const char* argv[] = {"tolvane", "--compose", "http://x/"};
  SetProgramArguments(3, argv);
  EXPECT_EQ(JoinedParams(), "--composehttp://x/");
}

TEST(PlaceForm, CentresAndRounds) {
  const FormPlace centred = PlaceForm(1920, 1080, 400, 300, 0.5, 0.5);
  EXPECT_EQ(centred.left, 760);
  EXPECT_EQ(centred.top, 390);
  const FormPlace odd = PlaceForm(1921, 1081, 400, 300, 0.5, 0.5);
  EXPECT_EQ(odd.left, 761);  // 760.5
  EXPECT_EQ(odd.top, 391);
  const FormPlace corner = PlaceForm(800, 600, 100, 100, 0, 1);
  EXPECT_EQ(corner.left, 0);
  EXPECT_EQ(corner.top, 500);
  // A window larger than the screen goes off its top left.
  EXPECT_EQ(PlaceForm(800, 600, 1000, 700, 0.5, 0.5).left, -100);
}

}  // namespace
