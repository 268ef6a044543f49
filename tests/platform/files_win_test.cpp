// Windows only: the file functions at the Windows API.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/file_lock.h"
#include "platform/files.h"
#include "tests/platform/temp_folder.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  out.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                                          static_cast<int>(utf8.size()), out.data(),
                                                          static_cast<int>(out.size()))));
  return out;
}

std::string ReadFrom(HANDLE h) {
  char buf[64];
  DWORD n = 0;
  if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) return "read failed";
  return std::string(buf, n);
}

// A reader of the old file that shares delete, as every reader of ours
// does, keeps reading the old text while the new one takes the name.
TEST(ReplaceFileWin, AnOpenReaderKeepsTheOldTextAndNothingIsLeftBehind) {
  TempFolder dir;
  const std::string path = dir / "History.Dat";
  PutFile(path, "old text");
  HANDLE reader = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ReplaceFileAtomically(path, "new text");
  EXPECT_EQ(ReadFrom(reader), "old text");
  CloseHandle(reader);
  EXPECT_EQ(ReadWholeFile(path), "new text");
  EXPECT_EQ(EntryCount(dir.path()), 1);
}

TEST(ReplaceFileWin, ALinkStaysALinkAndItsTargetChanges) {
  TempFolder dir;
  PutFile(dir / "real.txt", "old");
  // Wine 8 says yes to CreateSymbolicLinkW and makes nothing.
  const BOOL made =
      CreateSymbolicLinkW(Wide(dir / "link.txt").c_str(), Wide(dir / "real.txt").c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attrs = GetFileAttributesW(Wide(dir / "link.txt").c_str());
  if (!made || attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    GTEST_SKIP() << "this system makes no symbolic links";
  ReplaceFileAtomically(dir / "link.txt", "new");
  EXPECT_NE(GetFileAttributesW(Wide(dir / "link.txt").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(GetFile(dir / "real.txt"), "new");
  EXPECT_EQ(EntryCount(dir.path()), 2);
}

// Names reach the system as UTF-16: the folder lists the very characters.
TEST(ReplaceFileWin, AUtf8NameRoundTrips) {
  TempFolder dir;
  const std::string name = "Grüße-Ελλάδα-日本.txt";
  ReplaceFileAtomically(dir / name, "first");
  ReplaceFileAtomically(dir / name, "second");
  EXPECT_TRUE(FileExists(dir / name));
  EXPECT_TRUE(AppendToFile(dir / name, "+third"));
  EXPECT_EQ(ReadWholeFile(dir / name), "second+third");
  { TFileLock lock(dir / (name + ".lock")); }

  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(Wide(dir / "*.txt").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::wstring(found.cFileName), Wide(name));
  EXPECT_FALSE(FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(EntryCount(dir.path()), 2);  // the file and the lock file
}

}  // namespace
#endif
