// Windows only: file streams at the Windows API.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "mail/streams.h"
#include "platform/files.h"
#include "tests/platform/temp_folder.h"

namespace {

// Bytes stay bytes (no text mode) under a name that is not ASCII, and an
// open stream does not keep another writer from replacing the file.
TEST(FileStreamWin, BytesUnderAUtf8NameAndAReplaceWhileOpen) {
  TempFolder dir;
  const std::string name = dir / "Пакет-ß.bin";
  const std::string bytes("a\nb\r\n\x1a\0z", 8);
  {
    TFileStream f(name, TFileMode::fmCreate);
    f.WriteString(bytes);
  }
  EXPECT_EQ(ReadWholeFile(name), bytes);

  TFileStream reader(name, TFileMode::fmOpenRead);
  ReplaceFileAtomically(name, "replaced");
  EXPECT_EQ(reader.ReadAll(), bytes);
  EXPECT_EQ(ReadWholeFile(name), "replaced");
}

TEST(TempFileStreamWin, TheFileIsGoneOnceTheStreamIsFreed) {
  TempFolder dir;
  EnvGuard tmp("TMP", dir.path());
  auto t = std::make_unique<TTempFileStream>();
  t->WriteString(std::string(100000, 'x'));  // more than the write buffer
  EXPECT_EQ(t->Size(), 100000);
  EXPECT_EQ(EntryCount(dir.path()), 1);
  EXPECT_TRUE(std::filesystem::path(t->FileName()).filename().string().ends_with(".tmp"));
  t.reset();
  EXPECT_EQ(EntryCount(dir.path()), 0);
}

}  // namespace
#endif
