#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>
#include <vector>

#include "base/file_helpers.h"
#include "platform/errors.h"
#include "tests/base/program_folder.h"

namespace {

class FileTest : public ProgramFolderTest {
 protected:
  // `lines` lines of `width` bytes each, CR LF included.
  static std::string Lines(int lines, int width) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
      std::string line = std::to_string(i) + ":";
      line.resize(static_cast<std::size_t>(width - 2), 'x');
      text += line + "\r\n";
    }
    return text;
  }
};

// ReadWholeFile's own test covers the bytes and a folder in the file's place.
TEST_F(FileTest, ReadFileStringOfAMissingFileIsEmpty) {
  EXPECT_EQ(ReadFileString(dir / "missing"), "");
}

TEST_F(FileTest, WriteFileStringReportsTheStepAndNeverRaises) {
  Checkpoint = 12;
  const std::string path = dir / "no-folder/History.Dat";
  EXPECT_NO_THROW(WriteFileString(path, "x"));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind("Error in WriteFileString-1: " + path + ".12 with ", 0), 0u) << shown[0];
  EXPECT_NE(shown[0].find("No such file or directory"), std::string::npos);
  EXPECT_NO_THROW(WriteFileString("", "x"));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].rfind("Error in WriteFileString-0: .12 with ", 0), 0u) << shown[1];
}

// A full disk while writing (the file size limit stands in for it) leaves
// the old history whole: step 2 is reported and nothing else changes.
TEST_F(FileTest, AFailedWriteLeavesTheOldFileWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and a file size limit (setrlimit) to fail the write";
#else
  const std::string path = dir / "History.Dat";
  const std::string old_text = Lines(50, 40);
  PutFile(path, old_text);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::vector<std::string> seen;
    SetErrorBox([&seen](const std::string& text) { seen.push_back(text); });
    WriteFileString(path, Lines(1000, 40));
    const bool ok = seen.size() == 1 &&
                    seen[0].rfind("Error in WriteFileString-2: " + path + ".0 with ", 0) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(GetFile(path), old_text);
  // The history and the child's debug log line; no temporary file.
  EXPECT_EQ(EntryCount(dir.path()), 2);
#endif
}

TEST_F(FileTest, TrimFileToSizeKeepsTheLastMaxLenPlusOneBytes) {
  const std::string path = dir / "DebugLog.Txt";
  const std::string text = Lines(750, 40);  // 30,000 bytes
  PutFile(path, text);
  TrimFileToSize(path, 20000);
  EXPECT_EQ(GetFile(path), text.substr(text.size() - 20001));
  const std::string exact(20000, 'e');
  PutFile(path, exact);
  TrimFileToSize(path, 20000);
  EXPECT_EQ(GetFile(path), exact);
  TrimFileToSize(dir / "missing", 10);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(FileTest, CosmeticTrimStartsTheFileAtALine) {
  const std::string path = dir / "DebugLog.Txt";
  // 20,000 bytes: nothing cut, but the first line still goes.
  const std::string small = Lines(500, 40);
  PutFile(path, small);
  TrimFileToSizeCosmetic(path, 20000);
  EXPECT_EQ(GetFile(path), small.substr(40));
  // 30,000 bytes: the last 20,001, minus the partial first line.
  const std::string big = Lines(750, 40);
  PutFile(path, big);
  TrimFileToSizeCosmetic(path, 20000);
  const std::string tail = big.substr(big.size() - 20001);
  EXPECT_EQ(GetFile(path), tail.substr(tail.find('\n') + 1));
  EXPECT_EQ(GetFile(path).size(), 20000u);  // the cut fell just before a line feed
  // A single line stays, with or without its line end.
  for (const char* line : {"one line without end", "only line\n"}) {
    PutFile(path, line);
    TrimFileToSizeCosmetic(path, 20000);
    EXPECT_EQ(GetFile(path), line);
  }
  EXPECT_TRUE(shown.empty());
}

TEST_F(FileTest, CosmeticTrimOfAMissingLogLeavesAnEmptyFile) {
  const std::string path = dir / "DebugLog.Txt";
  TrimFileToSizeCosmetic(path, 20000);
  EXPECT_EQ(GetFile(path), "");
  DebugLog("Log trimmed");
  const std::string log = GetFile(path);
  EXPECT_EQ(log.find('\n'), log.size() - 1);
  EXPECT_NE(log.find(": Log trimmed\r\n"), std::string::npos);
}

TEST_F(FileTest, CosmeticTrimReportsItsFailures) {
  Checkpoint = 4400;
  std::filesystem::create_directory(dir / "DebugLog.Txt");
  TrimFileToSizeCosmetic(dir / "DebugLog.Txt", 20000);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind(
                "Error in TrimFileToSizeCosmetic: " + (dir / "DebugLog.Txt") + ".4400 with ", 0),
            0u)
      << shown[0];
}

}  // namespace
