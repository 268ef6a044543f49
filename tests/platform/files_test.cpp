#include "platform/files.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tests/platform/temp_folder.h"

namespace {

TEST(ReplaceFile, CreatesAndReplacesWithoutLeftovers) {
  TempFolder dir;
  const std::string path = dir / "History.Dat";
  int step = 0;
  ReplaceFileAtomically(path, "one\r\n", &step);
  EXPECT_EQ(step, 3);
  EXPECT_EQ(GetFile(path), "one\r\n");
  ReplaceFileAtomically(path, std::string("two\0bytes", 9));
  EXPECT_EQ(GetFile(path), std::string("two\0bytes", 9));
  ReplaceFileAtomically(path, "");
  EXPECT_EQ(GetFile(path), "");
  EXPECT_EQ(EntryCount(dir.path()), 1);
}

TEST(ReplaceFile, ALinkStaysALinkAndItsTargetChanges) {
#ifdef _WIN32
  GTEST_SKIP() << "std::filesystem makes no links with mingw; ReplaceFileWin has the Windows case";
#endif
  TempFolder dir;
  PutFile(dir / "real.txt", "old");
  std::filesystem::create_symlink(dir / "real.txt", dir / "link.txt");
  ReplaceFileAtomically(dir / "link.txt", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(GetFile(dir / "real.txt"), "new");
}

TEST(ReplaceFile, FailuresNameTheFileAndTheStep) {
  TempFolder dir;
  int step = 0;
  try {
    ReplaceFileAtomically(dir / "missing-folder/x.txt", "x", &step);
    FAIL() << "no error";
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing-folder/x.txt"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
  }
  EXPECT_EQ(step, 1);
  std::filesystem::create_directory(dir / "sub");
  EXPECT_THROW(ReplaceFileAtomically(dir / "sub", "x"), EFileError);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
}

TEST(AppendToFile, CreatesThenAppendsAndSaysWhenItCannot) {
  TempFolder dir;
  EXPECT_TRUE(AppendToFile(dir / "DebugLog.Txt", "one\r\n"));
  EXPECT_TRUE(AppendToFile(dir / "DebugLog.Txt", std::string("two\0\n", 5)));
  EXPECT_EQ(GetFile(dir / "DebugLog.Txt"), std::string("one\r\ntwo\0\n", 10));
  EXPECT_FALSE(AppendToFile(dir / "missing-folder/DebugLog.Txt", "x"));
  EXPECT_FALSE(FileExists(dir / "missing-folder"));
}

TEST(ReadWholeFile, AllBytesOrNothingAndAFolderRaises) {
  TempFolder dir;
  EXPECT_EQ(ReadWholeFile(dir / "missing"), std::nullopt);
  EXPECT_EQ(ReadWholeFile(dir / "missing/below"), std::nullopt);
  const std::string big = std::string("a\r\nb\0c\rd\n", 9) + std::string(200000, 'b');
  PutFile(dir / "big", big);
  EXPECT_EQ(ReadWholeFile(dir / "big"), big);
  std::filesystem::create_directory(dir / "folder");
  EXPECT_THROW(ReadWholeFile(dir / "folder"), EFileError);
}

}  // namespace
