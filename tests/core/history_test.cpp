#include "core/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <utility>

#include "platform/errors.h"
#include "tests/base/program_folder.h"
#include "tests/platform/calendar.h"

namespace {

class HistoryTest : public ProgramFolderTest {
 protected:
  std::vector<std::string> Numbered(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) {
      lines.push_back("http://h/" + std::to_string(i) + " via s on d t");
    }
    return lines;
  }

  THistory history{dir / "History.Dat"};
};

TEST_F(HistoryTest, EntryLineAndSavedFile) {
  const TDateTime when = DateTimeFromTm(Tm(1998, 12, 24, 17, 5, 9));
  history.AddHistoryEntry("pagesrv", " http://host/a.htm\t", when);
  ASSERT_EQ(history.Count(), 1);
  EXPECT_EQ(history.Items()[0], "http://host/a.htm via pagesrv on 12/24/98 17:05:09");
  EXPECT_EQ(history.LastRequestTime, when);
  // Saved at once, CR LF after each line, newest first.
  history.AddHistoryEntry("binsrv", "http://host/b.zip", when);
  EXPECT_EQ(GetFile(dir / "History.Dat"),
            "http://host/b.zip via binsrv on 12/24/98 17:05:09\r\n"
            "http://host/a.htm via pagesrv on 12/24/98 17:05:09\r\n");
}

TEST_F(HistoryTest, LoadAcceptsEveryLineEndAndKeepsEmptyLines) {
  history.Load();  // a missing file is an empty list
  EXPECT_EQ(history.Count(), 0);
  EXPECT_FALSE(history.LoadFailed());
  PutFile(dir / "History.Dat", "a x\r\n\r\nb y\nc z\rd w");
  history.Load();
  EXPECT_EQ(history.Items(), (std::vector<std::string>{"a x", "", "b y", "c z", "d w"}));
  EXPECT_EQ(history.LastRequestTime, 0);
  // The empty entry has an empty URL, which never matches a request.
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[1]), "");
  EXPECT_EQ(history.FindInHistory("/"), -1);
  EXPECT_EQ(history.FindInHistory("c"), 3);
  // An editor's byte-order mark is not part of the first URL.
  PutFile(dir / "History.Dat", "\xEF\xBB\xBFhttp://a/ via s on d\r\n");
  history.Load();
  EXPECT_EQ(history.FindInHistory("http://a/"), 0);
}

TEST_F(HistoryTest, LimitOnAddAndSaveButNotOnLoad) {
  std::string text;
  for (const auto& l : Numbered(300)) text += l + "\r\n";
  PutFile(dir / "History.Dat", text);
  history.Load();
  EXPECT_EQ(history.Count(), 300);
  history.AddHistoryEntry("s", "http://new/", 1.0);
  EXPECT_EQ(history.Count(), 250);
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[0]), "http://new/");
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[249]), "http://h/248");
}

// Two programs with the file open: each change starts from what the file
// holds now, so neither writes the other's entries away.
TEST_F(HistoryTest, ChangesStartFromTheFileAsItIsNow) {
  PutFile(dir / "History.Dat", "http://h/0 via s on d t\r\nhttp://h/1 via s on d t\r\n");
  history.Load();
  THistory other(dir / "History.Dat");
  other.AddHistoryEntry("s", "http://other/", 1.0);
  history.Delete(1);  // the line shown at 1, wherever it is now
  history.Delete(7);
  EXPECT_EQ(GetFile(dir / "History.Dat"),
            THistory::EntryLine("s", "http://other/", 1.0) + "\r\nhttp://h/0 via s on d t\r\n");
  other.AddLineOnce("http://h/0 via s on d t");
  EXPECT_EQ(other.Count(), 2);
}

TEST_F(HistoryTest, UnreadableFileIsNeverSavedOver) {
#ifdef _WIN32
  const bool folder_in_place = true;  // no permission bits to take away
#else
  const bool folder_in_place = ::geteuid() == 0;
#endif
  if (folder_in_place) {
    // Root reads any file; a folder in place of the file is unreadable all the same.
    std::filesystem::create_directory(dir / "History.Dat");
  } else {
    PutFile(dir / "History.Dat", "keep me\r\n");
    ::chmod((dir / "History.Dat").c_str(), 0);
  }
  EXPECT_THROW(history.Load(), EFileError);
  EXPECT_TRUE(history.LoadFailed());
  // Said, not hidden: the caller tells the user the request went unrecorded.
  EXPECT_THROW(history.AddHistoryEntry("s", "http://x/", 1.0), EFileError);
  EXPECT_THROW(history.Save(), EFileError);
  EXPECT_EQ(history.Count(), 1);
  if (!folder_in_place) {
    ::chmod((dir / "History.Dat").c_str(), 0600);
    EXPECT_EQ(GetFile(dir / "History.Dat"), "keep me\r\n");
  } else {
    EXPECT_TRUE(std::filesystem::is_directory(dir / "History.Dat"));
  }
}

// The sizes live beside History.Dat, which keeps the lines the old reader
// knows; a batch's bytes are shared out, and month totals cover a year.
TEST_F(HistoryTest, BytesAreKeptBesideTheHistoryAndSummedByMonth) {
  const TDateTime may = DateTimeFromTm(Tm(2024, 5, 31, 23, 59, 0));
  const TDateTime june = DateTimeFromTm(Tm(2024, 6, 1, 0, 1, 0));
  std::vector<std::string> added;
  history.OnAdded = [&](const std::string& line) { added.push_back(line); };
  history.AddHistoryEntry("s", "http://h/may", may);
  history.RecordBytes(std::exchange(added, {}), may, 1000);
  history.AddHistoryEntry("s", "http://h/a", june);
  history.AddHistoryEntry("s", "http://h/b", june);
  ASSERT_EQ(added.size(), 2u);
  history.RecordBytes(added, june, 301);
  history.RecordBytes({}, june, 5);  // nothing sent, nothing kept

  EXPECT_EQ(GetFile(dir / "History.Dat"),
            "http://h/b via s on 06/01/24 00:01:00\r\n"
            "http://h/a via s on 06/01/24 00:01:00\r\n"
            "http://h/may via s on 05/31/24 23:59:00\r\n");
  THistory old(dir / "History.Dat");  // a reader started afresh
  PutFile(dir / "History.Bytes", GetFile(dir / "History.Bytes") + "junk\r\n\tx\t\r\n");
  old.Load();
  EXPECT_EQ(old.Items(), history.Items());
  EXPECT_EQ(old.Bytes(0), 150u);
  EXPECT_EQ(old.Bytes(1), 151u);
  EXPECT_EQ(old.Bytes(2), 1000u);
  EXPECT_EQ(old.Bytes(3), std::nullopt);
  EXPECT_EQ(old.MonthBytes(2024, 6), 301u);
  EXPECT_EQ(old.MonthBytes(2024, 5), 1000u);

  // A year on, May 2024 is dropped at the next record; entries without a
  // record have no size.
  history.AddLineOnce("http://h/old via s on d t");
  history.RecordBytes({history.Items()[1]}, DateTimeFromTm(Tm(2025, 6, 15)), 7);
  EXPECT_EQ(history.MonthBytes(2024, 5), 0u);
  EXPECT_EQ(history.MonthBytes(2024, 6), 301u);
  EXPECT_EQ(history.Bytes(0), std::nullopt);
}

TEST(HistoryText, UrlAndDetail) {
  EXPECT_EQ(THistory::HistoryUrl("no-blank"), "");
  EXPECT_EQ(THistory::DetailText("http://host/a.htm via pagesrv on 24/12/1998 17:05:09"),
            "http://host/a.htm\r\n\nVia: pagesrv\r\n\nDate/Time: 24/12/1998 17:05:09");
}

}  // namespace
