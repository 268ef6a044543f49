#include "core/server_list.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/profile.h"
#include "tests/base/program_folder.h"

namespace {

using Names = std::vector<std::string>;

class ServerListTest : public ProgramFolderTest {
 protected:
  void Servers(const std::string& text) { PutFile(dir / "uservers.dat", text); }
  std::string Settings() const { return dir / "config/TOLVANE.INI"; }
};

TEST_F(ServerListTest, SectionsGoToTheListOfTheirType) {
  Servers(
      "[A]\r\nType=0\r\n[B]\r\nType=3\r\n[C]\r\nType=2\r\n[D]\r\nType=1\r\n[E]\r\nSubject=x\r\n"
      "[F]\r\nType=0x2\r\n[G]\r\nType=7\r\n[H]\r\nType=junk\r\n");
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.Items, (Names{"A"}));
  EXPECT_EQ(list.cboHTTPServersBinary.Items, (Names{"B", "D"}));
  EXPECT_EQ(list.cboFTPservers.Items, (Names{"C", "F"}));
  EXPECT_EQ(list.cboHTTPServersPages.Text(), "A");
  EXPECT_EQ(list.cboHTTPServersBinary.Text(), "B");
  EXPECT_EQ(list.cboFTPservers.Text(), "C");
  EXPECT_NE(GetFile(dir / "DebugLog.Txt").find(": Loaded Server File\r\n"), std::string::npos);
}

// Headers count only exactly as written; any line end, a byte-order mark.
TEST_F(ServerListTest, HandEditedFilesCountOnlyExactHeaders) {
  Servers(
      "\xEF\xBB\xBF[A]\nType=0\n[B]\rType=2\r [Blank before]\r\nType=0\r\n[Blank after] \r\n"
      "Type=0\r\n[In]side]\r\nType=0\r\n[pages@example.org]\r\nType=0\r\n[[x]\r\nType=0\r\n"
      "[C]\r\nType = 1 ");
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.Items, (Names{"A", "pages@example.org", "[x"}));
  EXPECT_EQ(list.cboFTPservers.Items, (Names{"B"}));
  EXPECT_EQ(list.cboHTTPServersBinary.Items, (Names{"C"}));
}

TEST_F(ServerListTest, SavedChoicesAreRestoredExactly) {
  Servers(
      "[p1]\r\nType=0\r\nverbPagesHttp=ONE\r\n[p2]\r\nType=0\r\nverbPagesHttp=TWO\r\n"
      "[b1]\r\nType=1\r\n[b2]\r\nType=3\r\nverbBinaryHttp=FETCH\r\nfileBinaryHttp=bin.tpl\r\n"
      "[f1]\r\nType=2\r\n[f2]\r\nType=2\r\n");
  WriteProfileString(Settings(), "Servers", "HTTPPages", "p2");
  WriteProfileString(Settings(), "Servers", "HTTPBinary", "b2");
  WriteProfileString(Settings(), "Servers", "FTP", "F2");  // case counts: no match
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.Text(), "p2");
  EXPECT_EQ(list.PagesVerb, "TWO ");
  EXPECT_EQ(list.cboHTTPServersBinary.Text(), "b2");
  EXPECT_EQ(list.BinaryVerb, "FETCH ");
  EXPECT_EQ(list.BinaryTemplateFile, "bin.tpl");
  EXPECT_EQ(list.cboFTPservers.Text(), "f1");
  const TServerChoice choice = list.Choice();
  EXPECT_EQ(choice.PagesServer, "p2");
  EXPECT_EQ(choice.BinaryServer, "b2");
  EXPECT_EQ(choice.FtpServer, "f1");
  EXPECT_EQ(choice.PagesTemplateFile, "");
}

// A stale saved name gives way to the first server; an empty list stays
// without selection.
TEST_F(ServerListTest, WithoutAMatchTheFirstServerOrNoneIsSelected) {
  Servers("[p1]\r\nType=0\r\nverbPagesHttp=  GET  \r\n[p2]\r\nType=0\r\nverbPagesHttp=X\r\n");
  WriteProfileString(Settings(), "Servers", "HTTPPages", "gone@example.org");
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.ItemIndex, 0);
  EXPECT_EQ(list.PagesVerb, "GET ");
  EXPECT_EQ(list.cboFTPservers.ItemIndex, -1);
  EXPECT_EQ(list.cboFTPservers.Text(), "");
  EXPECT_EQ(list.cboHTTPServersBinary.Text(), "");
  EXPECT_EQ(list.BinaryVerb, " ");
  EXPECT_EQ(list.BinaryTemplateFile, "");
}

TEST_F(ServerListTest, OfTwoEqualNamesTheLastIsSelected) {
  Servers("[same]\r\nType=0\r\n[other]\r\nType=0\r\n[same]\r\nType=0\r\n");
  WriteProfileString(Settings(), "Servers", "HTTPPages", "same");
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.ItemIndex, 2);
}

TEST_F(ServerListTest, ChangeHandlersReadTheFileAnew) {
  Servers("[p1]\r\nType=0\r\nverbPagesHttp=ONE\r\n[p2]\r\nType=0\r\nverbPagesHttp=TWO\r\n");
  TServerList list(Settings());
  list.Load();
  EXPECT_EQ(list.PagesVerb, "ONE ");
  Servers(
      "[p1]\r\nType=0\r\n[p2]\r\nType=0\r\nverbPagesHttp=\"SEND ME\"\r\nfilePagesHttp=p.tpl\r\n");
  list.cboHTTPServersPages.ItemIndex = 1;
  list.cboHTTPServersPagesChange();
  EXPECT_EQ(list.PagesVerb, "SEND ME ");
  EXPECT_EQ(list.PagesTemplateFile, "p.tpl");
  EXPECT_EQ(ServerValue("P2", "VERBPAGESHTTP"), "SEND ME");
  EXPECT_EQ(ServerValue("p2", "missing"), "");
  EXPECT_EQ(ServerValue("missing", "Type"), "");
}

TEST_F(ServerListTest, AMissingServerListRaisesAndLeavesTheListsEmpty) {
  Servers("[p1]\r\nType=0\r\n");
  TServerList list(Settings());
  list.Load();
  std::filesystem::remove(dir / "uservers.dat");
  try {
    list.Load();
    FAIL() << "no error";
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "uservers.dat"), std::string::npos);
  }
  EXPECT_TRUE(list.cboHTTPServersPages.Items.empty());
  EXPECT_EQ(list.cboHTTPServersPages.Text(), "");
  EXPECT_EQ(ServerValue("p1", "Type"), "");
}

// A list handed on by someone else can be a link to a device or a huge
// file: refused at once, never read into memory.
TEST_F(ServerListTest, TheServerListIsARegularFileOfBoundedSize) {
  TServerList list(Settings());
  const auto refused = [&](const char* why) {
    try {
      list.Load();
      ADD_FAILURE() << "no error: " << why;
    } catch (const EFileError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_EQ(ServerValue("p1", "Type"), "");
  };
#ifndef _WIN32  // no links or devices to make there
  std::filesystem::create_symlink("/dev/null", dir / "uservers.dat");  // a device, as /dev/zero
  refused("not a regular file");
  std::filesystem::remove(dir / "uservers.dat");
#endif
  Servers("[p1]\r\nType=0\r\n" + std::string(1 << 20, ';'));
  refused("larger than 1 MiB");
#ifndef _WIN32
  // A link to a regular file of a sane size is read through.
  PutFile(dir / "real.dat", "[p1]\r\nType=0\r\n");
  std::filesystem::remove(dir / "uservers.dat");
  std::filesystem::create_symlink(dir / "real.dat", dir / "uservers.dat");
  list.Load();
  EXPECT_EQ(list.cboHTTPServersPages.Items, Names{"p1"});
  EXPECT_EQ(ServerValue("p1", "Type"), "0");
#endif
}

}  // namespace

namespace {

// Documentation addresses (RFC 2606) can never answer; test domains can.
TEST_F(ServerListTest, PlaceholdersAndUnlistedServersAreNotUsable) {
  Servers(
      "[pages@example.org]\r\nType=0\r\n[a@mail.Example.COM]\r\nType=0\r\n[b@example.net.]\r\n"
      "Type=0\r\n[c@host.example]\r\nType=0\r\n[real@host.test]\r\nType=0\r\n"
      "[d@example.org.test]\r\nType=0\r\n[e@notexample.org]\r\nType=2\r\n");
  for (const char* name : {"pages@example.org", "a@mail.Example.COM", "b@example.net.",
                           "c@host.example", "", "gone@host.test"}) {
    EXPECT_FALSE(IsUsableServer(name)) << name;
  }
  for (const char* name :
       {"real@host.test", "REAL@HOST.TEST", "d@example.org.test", "e@notexample.org"}) {
    EXPECT_TRUE(IsUsableServer(name)) << name;
  }
}

}  // namespace
