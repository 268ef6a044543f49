#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/text_helpers.h"
#include "mail/streams.h"
#include "platform/errors.h"
#include "tests/platform/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadAllLines(TLineStream& s) {
  std::vector<std::string> out;
  for (int guard = 0; guard < 1000000; ++guard) {
    std::string line;
    s.ReadLine(line);
    if (s.EndReached()) {
      EXPECT_EQ(line, TLineStream::kEndMarker);
      return out;
    }
    out.push_back(line);
  }
  ADD_FAILURE() << "no end marker";
  return out;
}

std::vector<std::string> LinesOf(const std::string& text) {
  TLineStream s;
  s.SetData(text);
  s.Restart();
  return ReadAllLines(s);
}

}  // namespace

// CR LF, LF and a lone CR each end a line; text after the last one is a line.
TEST(LineStream, ReadsLinesThenEndMarker) {
  EXPECT_EQ(LinesOf("a\nb\rc\r\n\r\nd\n"), (std::vector<std::string>{"a", "b", "c", "", "d"}));
  EXPECT_EQ(LinesOf("one\r\ntwo"), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(LinesOf("one\r\ntwo\r"), (std::vector<std::string>{"one", "two"}));
}

TEST(LineStream, EmptyStreamGivesEndMarkerAtOnce) {
  TLineStream s;
  std::string line;
  s.ReadLine(line);
  EXPECT_TRUE(s.EndReached());
  EXPECT_EQ(line, std::string(4, '\xFF'));
  s.ReadLine(line);  // and keeps giving it
  EXPECT_TRUE(s.EndReached());
  EXPECT_EQ(line, TLineStream::kEndMarker);
}

TEST(LineStream, LineLongerThanChunkComesBackWhole) {
  std::string big(40000, 'x');
  EXPECT_EQ(LinesOf("a\r\n" + big + "\r\nb\r\n"), (std::vector<std::string>{"a", big, "b"}));
  EXPECT_EQ(LinesOf(big), (std::vector<std::string>{big}));
}

// The stream reads lines as the program's own splitter cuts a text.
TEST(LineStream, AgreesWithAReferenceSplitter) {
  std::mt19937 rng(7);
  const char alphabet[] = "ab \r\n\r\n.";
  for (int round = 0; round < 300; ++round) {
    std::string text;
    int len = static_cast<int>(rng() % 200);
    for (int i = 0; i < len; ++i) text += alphabet[rng() % (sizeof alphabet - 1)];
    ASSERT_EQ(LinesOf(text), SplitLines(text)) << text;
  }
}

TEST(LineStream, RestartReadsFromTheStartAgain) {
  TLineStream s;
  s.WriteString("x\r\ny\r\n");
  s.Restart();
  EXPECT_EQ(s.ReadLine(), "x");
  s.Restart();
  EXPECT_EQ(ReadAllLines(s), (std::vector<std::string>{"x", "y"}));
  s.Restart();
  EXPECT_FALSE(s.EndReached());
  EXPECT_EQ(s.ReadLine(), "x");
}

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream m;
  m.WriteString("hello world");
  EXPECT_EQ(m.Size(), 11);
  m.SetPosition(6);
  m.WriteString("there!!");
  EXPECT_EQ(m.Data(), "hello there!!");
  m.Seek(-2, TSeekOrigin::soEnd);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, sizeof buf), 2u);
  EXPECT_EQ(std::string(buf, 2), "!!");
  EXPECT_EQ(m.Read(buf, sizeof buf), 0u);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EFileError);
  m.SetSize(5);
  EXPECT_EQ(m.ReadAll(), "hello");
  m.SetPosition(8);  // writing past the end fills the gap with zeros
  m.WriteString("x");
  EXPECT_EQ(m.Data(), std::string("hello\0\0\0x", 9));
  EXPECT_THROW(m.Seek(-1, TSeekOrigin::soBeginning), EFileError);

  TMemoryStream copy;
  copy.CopyFrom(m, 0);
  EXPECT_EQ(copy.Data(), m.Data());
}

TEST(FileStream, WritesReadsAndReportsMissingFiles) {
  TempFolder dir;
  const std::string name = dir / "data.bin";
  {
    TFileStream f(name, TFileMode::fmCreate);
    std::string big(200000, 'q');  // larger than the write buffer
    f.WriteString("start:");
    f.WriteString(big);
    EXPECT_EQ(f.Size(), 200006);
    f.SetPosition(0);
    char buf[6];
    f.ReadBuffer(buf, 6);
    EXPECT_EQ(std::string(buf, 6), "start:");
    f.Seek(0, TSeekOrigin::soEnd);
    f.WriteString("end");
  }
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(m.Size(), 200009);
  EXPECT_EQ(m.Data().substr(200006), "end");

  try {
    TFileStream missing(dir / "none", TFileMode::fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir / "none");
  }
  EXPECT_THROW(TFileStream(dir.path(), TFileMode::fmOpenRead), EFileError);
}

TEST(TempFileStream, LivesInTmpdirAndIsRemovedWhenFreed) {
  TempFolder dir;
#ifdef _WIN32
  EnvGuard tmpdir("TMP", dir.path());  // GetTempPath's first choice
#else
  EnvGuard tmpdir("TMPDIR", dir.path());
#endif
  std::string name;
  {
    TTempFileStream t;
    name = t.FileName();
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(dir / "").parent_path());
    EXPECT_TRUE(fs::path(name).filename().string().starts_with("ms"));
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(t.Size(), 0);
    t.WriteString("From: x\r\n");
    EXPECT_EQ(t.ReadAll(), "From: x\r\n");
    TTempFileStream other;
    EXPECT_NE(other.FileName(), name);
  }
  EXPECT_FALSE(fs::exists(name));
}

TEST(LineStream, ManyLinesEndedByLoneCrStayLinear) {
  // 200,000 lines ended by CR alone: a reader that searched for LF first
  // would rescan the rest of the content for each one.
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "line\r";
  TLineStream s;
  s.SetData(text);
  std::string line;
  int n = 0;
  for (s.ReadLine(line); !s.EndReached(); s.ReadLine(line)) ++n;
  EXPECT_EQ(n, 200000);
}

TEST(LineStream, ReadsBorrowedTextInPlace) {
  const std::string text = "a\r\nb";
  TLineStream s;
  s.WriteString("own\r\n");
  s.SetText(text);
  EXPECT_EQ(s.Text().data(), text.data());  // no copy
  EXPECT_EQ(s.ReadLine(), "a");
  EXPECT_EQ(s.Remaining(), 1u);
  EXPECT_EQ(s.ReadLine(), "b");
  EXPECT_EQ(s.ReadLine(), TLineStream::kEndMarker);
  s.Restart();
  EXPECT_EQ(s.ReadLine(), "a");
  s.SetData("x\ny");  // its own content again
  EXPECT_EQ(s.ReadLine(), "x");
}
