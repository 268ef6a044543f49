#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/base/program_folder.h"

namespace {

using LogTest = ProgramFolderTest;

TEST_F(LogTest, EachLineIsStampedAndEndsInCrLf) {
  DebugLog("Started Tolvane");
  DebugLog("Loaded Server File");
  const std::string log = GetFile(DebugLogPath());
  EXPECT_EQ(DebugLogPath(), dir / "DebugLog.Txt");
  const std::regex line(
      "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d: Started Tolvane\r\n"
      "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d: Loaded Server File\r\n");
  EXPECT_TRUE(std::regex_match(log, line)) << log;
}

TEST_F(LogTest, TheFileIsNotKeptOpenBetweenLines) {
  DebugLog("one");
  std::filesystem::remove(DebugLogPath());
  DebugLog("two");
  const std::string log = GetFile(DebugLogPath());
  EXPECT_EQ(log.find("one"), std::string::npos);
  EXPECT_NE(log.find(": two\r\n"), std::string::npos);
}

TEST_F(LogTest, AFailingLogWriteIsDroppedSilently) {
  SetProgramFolder(dir / "no/such/folder");
  DebugLog("lost");
  ShowError("Somewhere", "went wrong");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Error in Somewhere.0 with went wrong");
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST_F(LogTest, ShowErrorLogsThenShows) {
  Checkpoint = 1102;
  ShowError("Request Failed", "The last successful operation was <Openning>");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0],
            "Error in Request Failed.1102 with The last successful operation was <Openning>");
  EXPECT_NE(GetFile(DebugLogPath()).find(": " + shown[0] + "\r\n"), std::string::npos);
}

TEST_F(LogTest, ABoxThatThrowsDoesNotEscapeAndTheDefaultWritesToStderr) {
  SetErrorBox([](const std::string&) { throw std::runtime_error("box broke"); });
  EXPECT_NO_THROW(ShowError("Here", "there"));
  SetErrorBox(nullptr);
  ::testing::internal::CaptureStderr();
  ShowError("Here", "there");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error in Here.0 with there\n");
}

TEST_F(LogTest, ProgramFolderGetsItsSlash) {
  SetProgramFolder("/opt/tolvane");
  EXPECT_EQ(ProgramFolder(), "/opt/tolvane/");
  EXPECT_EQ(DebugLogPath(), "/opt/tolvane/DebugLog.Txt");
}

}  // namespace
