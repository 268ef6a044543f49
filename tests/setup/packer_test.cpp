#include "setup/packer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "setup/bundle.h"
#include "setup/file_list.h"
#include "setup/launcher.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"
#include "test_util.h"

using wrap::Bytes;
using wrap::ResourceType;
using wraptest::TempDir;

namespace {

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(root_ / "in");
    wraptest::WriteFile(root_ / "in/SETUP.EXE", std::string("#!/bin/sh\nexit 0\n"));
    wraptest::WriteFile(root_ / "in/DATA.BIN", wraptest::Mixed(50000, 3));
    wraptest::WriteFile(root_ / "in/readme", std::string("lower case, no extension"));
    wraptest::WriteFile(root_ / "wrap", launcher_);
    options_.launcher = root_ / "wrap";
    options_.folder = root_ / "in";
    options_.output = root_ / "out";
    options_.title = "Setup - Ravelin v1.31";
    options_.question = "Install?";
    options_.fileTime = wrap::ParseFileTime("1998-03-07T00:31:00Z");
  }
  int Refusal() {
    try {
      wrap::Pack(options_);
      return 0;
    } catch (const wrap::EWrapError& e) {
      return e.Code();
    }
  }
  TempDir root_;
  Bytes launcher_ = wraptest::Random(4000, 5);
  wrap::PackOptions options_;
};

}  // namespace

TEST_F(PackerTest, PacksEveryFileWithListTimeAndStrings) {
  wrap::Pack(options_);
  struct stat st {};
  ASSERT_EQ(::stat(options_.output.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  const Bytes image = wraptest::ReadFile(options_.output);
  EXPECT_TRUE(std::equal(launcher_.begin(), launcher_.end(), image.begin()));

  const wrap::Bundle b = wrap::Bundle::Open(options_.output);
  EXPECT_EQ(b.Start(), launcher_.size());
  EXPECT_EQ(b.LoadString(1, 49), "Setup - Ravelin v1.31");
  EXPECT_EQ(b.LoadString(2, 259), "Install?");
  EXPECT_EQ(b.LoadString(3, 259), "Setup failed.");
  const Bytes stamp = *b.Load(ResourceType::RawData, 1);
  EXPECT_EQ(wrap::GetLE(stamp, 0, 8), 125337042600000000ull);

  const auto records = wrap::ParseFileList(*b.Load(ResourceType::RawData, 2));
  ASSERT_EQ(records.size(), 3u);
  const char* names[] = {"DATA.BIN", "SETUP.EXE", "readme"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].number, 101 + i);
    EXPECT_EQ(records[i].name, wrap::CompressedName(names[i]));
    const Bytes packed = *b.Load(ResourceType::RawData, records[i].number);
    EXPECT_EQ(records[i].length, packed.size());
    EXPECT_EQ(wrap::ExpandedName(records[i].name, wrap::ReadSzddHeader(packed)->lastChar),
              names[i]);
    EXPECT_EQ(wrap::SzddExpandToMemory(packed), wraptest::ReadFile(root_ / "in/" + names[i]));
  }
}

TEST_F(PackerTest, RepackingReplacesTheEarlierPayload) {
  wrap::Pack(options_);
  options_.launcher = options_.output;
  options_.output = root_ / "again";
  options_.question = "Again?";
  wrap::Pack(options_);
  const wrap::Bundle b = wrap::Bundle::Open(options_.output);
  EXPECT_EQ(b.Start(), launcher_.size());
  EXPECT_EQ(b.LoadString(2, 259), "Again?");
}

TEST_F(PackerTest, RefusesWhatTheLauncherCouldNotCarry) {
  options_.title = std::string(50, 'T');
  EXPECT_EQ(Refusal(), EINVAL);
  options_.title = "T";
  options_.question = std::string(260, 'Q');
  EXPECT_EQ(Refusal(), EINVAL);
  options_.question = "Q";

  wraptest::WriteFile(root_ / "in/LONGFILENAME.TXT", std::string("x"));
  EXPECT_EQ(Refusal(), EINVAL);
  std::filesystem::remove(root_ / "in/LONGFILENAME.TXT");

  // DATA.BI_ would be written beside an expanded DATA.BI_.
  wraptest::WriteFile(root_ / "in/DATA.BI_", std::string("x"));
  EXPECT_EQ(Refusal(), EINVAL);
  std::filesystem::remove(root_ / "in/DATA.BI_");

  std::filesystem::create_directory(root_ / "in/SUB");
  EXPECT_EQ(Refusal(), EINVAL);
  std::filesystem::remove(root_ / "in/SUB");

  std::filesystem::remove(root_ / "in/SETUP.EXE");
  EXPECT_EQ(Refusal(), EINVAL);
  EXPECT_FALSE(std::filesystem::exists(options_.output));

  options_.folder = root_ / "none";
  EXPECT_EQ(Refusal(), ENOENT);
}
