#include "platform/profile.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/errors.h"
#include "tests/platform/temp_folder.h"

namespace {

TEST(ProfileRead, NamesMatchWithoutRegardToCaseAndBlanksAreDropped) {
  const TProfileText p(
      "[General]\r\n  EMail =  me@example.org  \r\n[servers]\r\nSMTP=\tmail\t\r\n");
  EXPECT_EQ(p.Read("general", "email"), "me@example.org");
  EXPECT_EQ(p.Read("GENERAL", "Email"), "me@example.org");
  EXPECT_EQ(p.Read("Servers", "smtp"), "mail");
  EXPECT_EQ(p.Read(" Servers ", " SMTP "), "mail");
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
  const TProfileText p("[A]\r\nx=1\r\n");
  EXPECT_EQ(p.Read("B", "x", "def"), "def");
  EXPECT_EQ(p.Read("A", "y", "def"), "def");
  EXPECT_EQ(p.Read("A", "y"), "");
  EXPECT_FALSE(p.HasKey("A", "y"));
  EXPECT_TRUE(p.HasKey("a", "X"));
  TempFolder dir;
  EXPECT_EQ(ReadProfileString(dir / "none.ini", "A", "x", "d"), "d");
  // A folder where the file should be reads as missing.
  std::filesystem::create_directory(dir / "folder.ini");
  EXPECT_EQ(ReadProfileString(dir / "folder.ini", "A", "x", "d"), "d");
  // An empty value is a value, not a missing key.
  EXPECT_EQ(TProfileText("[A]\nx=\n").Read("A", "x", "d"), "");
}

TEST(ProfileRead, OnePairOfEnclosingQuotesIsDropped) {
  const TProfileText p(
      "[Q]\na=\"quoted value\"\nb='single'\nc=\"\"twice\"\"\nd=\"mixed'\ne=\"\nf=  \" padded \"  \n"
      "g=in\"side\"\n");
  EXPECT_EQ(p.Read("Q", "a"), "quoted value");
  EXPECT_EQ(p.Read("Q", "b"), "single");
  EXPECT_EQ(p.Read("Q", "c"), "\"twice\"");
  EXPECT_EQ(p.Read("Q", "d"), "\"mixed'");
  EXPECT_EQ(p.Read("Q", "e"), "\"");
  EXPECT_EQ(p.Read("Q", "f"), " padded ");
  EXPECT_EQ(p.Read("Q", "g"), "in\"side\"");
}

TEST(ProfileRead, LongValuesAreCutTo1023BytesWithoutSplittingACharacter) {
  const std::string longValue(2000, 'a');
  EXPECT_EQ(TProfileText("[G]\nEmail=" + longValue + "\n").Read("G", "Email"),
            std::string(1023, 'a'));
  // "é" is two bytes; the cut would fall between them.
  const std::string utf8 = std::string(1022, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(TProfileText("[G]\nk=" + utf8 + "\n").Read("G", "k"), std::string(1022, 'a'));
  EXPECT_EQ(TProfileText("[G]\nk=" + std::string(1023, 'b') + "\n").Read("G", "k").size(), 1023u);
}

TEST(ProfileRead, HandEditedFilesAreReadSensibly) {
  // LF, lone CR, no final line end, byte-order mark.
  EXPECT_EQ(TProfileText("[A]\nx=1\n[B]\ny=2").Read("B", "y"), "2");
  EXPECT_EQ(TProfileText("[A]\rx=1\r[B]\ry=2\r").Read("B", "y"), "2");
  EXPECT_EQ(TProfileText("\xEF\xBB\xBF[A]\r\nx=1\r\n").Read("A", "x"), "1");
  // A key line without "=", keys before any section, comments.
  const TProfileText p("orphan=1\n[A]\nno equals sign\n; comment=2\nx=3\n");
  EXPECT_EQ(p.Read("A", "no equals sign", "d"), "d");
  EXPECT_EQ(p.Read("A", "x"), "3");
  EXPECT_EQ(p.Read("", "orphan", "d"), "d");
  // A repeated section: the first one counts, and so does the first key.
  const TProfileText twice("[A]\nx=first\nx=second\n[B]\n[a]\nx=third\ny=4\n");
  EXPECT_EQ(twice.Read("A", "x"), "first");
  EXPECT_EQ(twice.Read("A", "y", "d"), "d");
  EXPECT_EQ(twice.SectionNames(), (std::vector<std::string>{"A", "B"}));
  // A very long line.
  const std::string huge = "[A]\nbig=" + std::string(1 << 20, 'z') + "\nafter=ok\n";
  EXPECT_EQ(TProfileText(huge).Read("A", "after"), "ok");
}

TEST(ProfileRead, BinaryJunkNeverCrashes) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string junk(static_cast<std::size_t>(random() % 400), '\0');
    for (char& c : junk) c = static_cast<char>(random() % 256);
    // Junk around a good section must not hide it.
    const TProfileText p(junk + "\r\n[Good]\r\nkey=value\r\n" + junk);
    EXPECT_EQ(p.Read("Good", "key"), "value") << round;
    TProfileText w(junk);
    const std::string written = w.Write("S", "k", "v");
    EXPECT_EQ(TProfileText(written).Read("S", "k"), "v") << round;
  }
}

TEST(ProfileWrite, KeepsEveryOtherLineAndReplacesTheKeyInPlace) {
  const std::string before =
      "\xEF\xBB\xBF; my settings\n[General]\nEMAIL = "
      "old@example.org\nConfirm=2\n\n[Servers]\r\nSMTP=x";
  TProfileText p(before);
  const std::string after = p.Write("general", "Email", "new@example.org");
  EXPECT_EQ(after,
            "\xEF\xBB\xBF; my settings\n[General]\nEMAIL=new@example.org\nConfirm=2\n\n"
            "[Servers]\r\nSMTP=x");
}

TEST(ProfileWrite, AddsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd) {
  TProfileText p("[General]\r\nEmail=a\r\n\r\n[Servers]\r\nSMTP=x");
  p.Write("General", "Confirm", "2");
  p.Write("Servers", "FTP", "ftp@example.org");
  const std::string text = p.Write("Tips", "TipNumber", "3");
  EXPECT_EQ(text,
            "[General]\r\nEmail=a\r\nConfirm=2\r\n\r\n[Servers]\r\nSMTP=x\r\n"
            "FTP=ftp@example.org\r\n\r\n[Tips]\r\nTipNumber=3\r\n");
  EXPECT_EQ(TProfileText().Write("A", "k", "v"), "[A]\r\nk=v\r\n");
}

TEST(ProfileWrite, ALineBreakInAValueCannotAddLines) {
  TProfileText p;
  const std::string text = p.Write("General", "Email", "a@b\r\n[Servers]\r\nSMTP=evil");
  EXPECT_EQ(TProfileText(text).Read("Servers", "SMTP", "none"), "none");
  EXPECT_EQ(TProfileText(text).Read("General", "Email"), "a@b[Servers]SMTP=evil");
}

TEST(ProfileFile, WriteCreatesFolderAndFileAndReadsBack) {
  TempFolder dir;
  const std::string path = dir / "deep/er/TOLVANE.INI";
  WriteProfileString(path, "General", "Email", "me@example.org");
  WriteProfileInteger(path, "General", "Confirm", 1);
  WriteProfileBool(path, "General", "CheckHistory", false);
  EXPECT_EQ(GetFile(path), "[General]\r\nEmail=me@example.org\r\nConfirm=1\r\nCheckHistory=0\r\n");
  EXPECT_EQ(ReadProfileString(path, "GENERAL", "EMAIL"), "me@example.org");
  EXPECT_EQ(ReadProfileInteger(path, "General", "Confirm", 2), 1);
  EXPECT_FALSE(ReadProfileBool(path, "General", "CheckHistory", true));
  EXPECT_TRUE(ReadProfileBool(path, "General", "TipEnabled", true));
  // Only the file itself is left: no temporary files beside it.
  EXPECT_EQ(EntryCount(dir / "deep/er"), 1);
}

TEST(ProfileFile, RefusedWriteRaisesUnableToWriteTo) {
  TempFolder dir;
  PutFile(dir / "plainfile", "x");
  const std::string path = dir / "plainfile/TOLVANE.INI";
  try {
    WriteProfileString(path, "General", "Email", "x");
    FAIL() << "no error";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + path);
  }
  // A folder in the file's place.
  std::filesystem::create_directory(dir / "adir");
  EXPECT_THROW(WriteProfileString(dir / "adir", "A", "k", "v"), EFileError);
}

TEST(ProfileFile, WriteKeepsThePermissionBits) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have no permission bits, only the read-only attribute";
#endif
  TempFolder dir;
  const std::string path = dir / "p.ini";
  PutFile(path, "[A]\nk=1\n");
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  WriteProfileString(path, "A", "k", "2");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(GetFile(path), "[A]\nk=2\n");
}

TEST(ProfileNumbers, TypeIsDecimalOrHexAfter0xAndOtherwiseMinusOne) {
  for (const auto& [text, value] :
       {std::pair{"0", 0}, {"3", 3}, {"-1", -1}, {"+2", 2}, {"0x2", 2}, {"0X1f", 31}, {"", -1},
        {"two", -1}, {"2x", -1}, {"0x", -1}, {"$2", -1}, {"99999999999", -1},
        {"-2147483648", INT32_MIN}}) {
    EXPECT_EQ(ProfileTypeNumber(text), value) << text;
  }
}

TEST(ProfileNumbers, SettingsIntegersReadDecimalDollarHexAndLong0x) {
  for (const auto& [text, value] :
       {std::pair{"5", 5}, {"-3", -3}, {"$1A", 26}, {"0x1", 1}, {"0XfF", 255}, {"$FFFFFFFF", -1},
        {"00000000000000012", 12}, {"0x000000010", 16}}) {
    EXPECT_EQ(ProfileSettingsNumber(text), value) << text;
  }
  for (const char* text : {"0x", "$", "$123456789", "1.5", "", "2147483648"}) {
    EXPECT_EQ(ProfileSettingsNumber(text), std::nullopt) << text;
  }

  TempFolder dir;
  const std::string path = dir / "s.ini";
  PutFile(path, "[General]\nEnabled=5\nConfirm=0x1\nTipNumber=junk\nTrayIconDim=\"1\"\n");
  EXPECT_EQ(ReadProfileInteger(path, "General", "Enabled", 0), 5);
  EXPECT_EQ(ReadProfileInteger(path, "General", "Confirm", 2), 1);
  EXPECT_EQ(ReadProfileInteger(path, "General", "TipNumber", 7), 7);
  EXPECT_EQ(ReadProfileInteger(path, "General", "Missing", 9), 9);
  EXPECT_TRUE(ReadProfileBool(path, "General", "TrayIconDim", false));
  EXPECT_TRUE(ReadProfileBool(path, "General", "Enabled", false));
  EXPECT_EQ(ReadProfileType(path, "General", "Confirm"), 1);
}

}  // namespace
