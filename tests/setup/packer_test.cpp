#include "setup/packer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "setup/bundle.h"
#include "setup/file_list.h"
#include "setup/launcher.h"
#include "setup/payload.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"
#include "test_util.h"

using wrap::Bytes;
using wrap::ResourceType;

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
  TempFolder root_;
  Bytes launcher_ = wraptest::Random(4000, 5);
  wrap::PackOptions options_;
};

}  // namespace

TEST_F(PackerTest, PacksEveryFileWithListTimeAndStrings) {
#ifndef _WIN32
  ::chmod((root_ / "in/readme").c_str(), 0751);
#endif
  wrap::Pack(options_);
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(::stat(options_.output.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
#endif
  const Bytes image = wraptest::ReadFile(options_.output);
  EXPECT_TRUE(std::equal(launcher_.begin(), launcher_.end(), image.begin()));

  const wrap::Bundle b = wrap::Bundle::Open(options_.output);
  EXPECT_FALSE(b.FindDamaged());
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
#ifndef _WIN32
  EXPECT_EQ(b.Mode(ResourceType::RawData, 103), 0751);
#endif
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

TEST_F(PackerTest, RefusesWhatTheLauncherWouldRefuseNamingTheFile) {
  auto refusal = [&]() -> std::string {
    try {
      wrap::Pack(options_);
      return "";
    } catch (const wrap::EWrapError& e) {
      EXPECT_EQ(e.Code(), EINVAL);
      return e.Detail();
    }
  };
  options_.title = std::string(50, 'T');
  EXPECT_EQ(refusal(), "the title needs 1 to 49 bytes");
  options_.title = "T";
  options_.question = std::string(260, 'Q');
  EXPECT_EQ(refusal(), "the question needs 1 to 259 bytes");
  options_.question = "Q";

  for (const std::string name : {"LONGFILENAME.TXT", "NOTE.TX_", "DATA.BI_"}) {
    wraptest::WriteFile(root_ / "in/" + name, std::string("x"));
    EXPECT_NE(refusal().find(name), std::string::npos) << name;
    std::filesystem::remove(root_ / "in/" + name);
  }

  std::filesystem::create_directory(root_ / "in/SUB");
  EXPECT_EQ(refusal(), "SUB is not a plain file (sub-folders are not carried)");
  std::filesystem::remove(root_ / "in/SUB");

  std::filesystem::remove(root_ / "in/SETUP.EXE");
  EXPECT_NE(refusal().find("holds no SETUP.EXE"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(options_.output));
  EXPECT_FALSE(std::filesystem::exists(options_.output + ".part"));

  options_.folder = root_ / "none";
  EXPECT_THROW(wrap::Pack(options_), wrap::EWrapError);
}
