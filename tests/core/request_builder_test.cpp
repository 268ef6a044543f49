#include "core/request_builder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>

#include "platform/errors.h"
#include "tests/core/request_support.h"

namespace {

// The server list of the worked examples: pagesrv, binsrv with a template,
// ftpsrv; "nbinary.ext" lists htm and html; "unbinary.txt" is missing.
class RequestTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    PutFile(dir / "uservers.dat",
            "[pagesrv]\r\nType=0\r\nSubject=request\r\nverbPagesHttp=GET\r\nfilePagesHttp=\r\n"
            "[binsrv]\r\nType=1\r\nSubject=files\r\nverbBinaryHttp=SEND\r\n"
            "fileBinaryHttp=bin.tpl\r\n"
            "[ftpsrv]\r\nType=2\r\nopen=open\r\nbinary=binary\r\nuuencode=uuencode\r\ncd=cd\r\n"
            "ls=dir\r\n");
    PutFile(dir / "bin.tpl", "BEGIN\r\nSEND \xFE");
    PutFile(dir / "nbinary.ext", "htm\r\nhtml\r\n");
    servers.Load();
  }
};

TEST_F(RequestTest, WorkedExamplesForTheWeb) {
  for (const auto& [url, recipient, subject, body] :
       {std::tuple{"http://host/docs/page.html#part2", "pagesrv", "request",
                   "GET http://host/docs/page.html"},
        {"http://host/pub/tool.zip?mirror=2", "binsrv", "files",
         "BEGIN\r\nSEND http://host/pub/tool.zip?mirror=2"},
        {"http://host/cgi-bin/search", "pagesrv", "request", "GET http://host/cgi-bin/search"},
        {"news:comp.lang.misc/", "pagesrv", "request", "GET news:comp.lang.misc/"}}) {
    const RequestMail m = Build(url);
    EXPECT_EQ(m.Recipient, recipient);
    EXPECT_EQ(m.Subject, subject);
    EXPECT_EQ(m.Body, body);
  }
}

TEST_F(RequestTest, WorkedExamplesForFtp) {
  RequestMail m = Build("ftp://host/pub/tools/unzip.exe");
  EXPECT_EQ(m.Recipient, "ftpsrv");
  EXPECT_EQ(m.Subject, "");
  EXPECT_EQ(m.Body,
            "open host\r\nbinary\r\nuuencode\r\ncd /pub/tools\r\nget unzip.exe\r\nquit\r\n");
  EXPECT_EQ(Build("ftp://host/pub/").Body,
            "open host\r\nbinary\r\nuuencode\r\ncd /pub\r\ndir\r\nquit\r\n");
  EXPECT_EQ(Build("ftp://host/").Body, "open host\r\nbinary\r\nuuencode\r\ndir\r\nquit\r\n");
}

TEST_F(RequestTest, FtpEdgeCases) {
  // User name and port stay in the host; the scheme is matched in any case.
  EXPECT_EQ(Build("FTP://me:pw@host:2121/a.txt").Body,
            "open me:pw@host:2121\r\nbinary\r\nuuencode\r\nget a.txt\r\nquit\r\n");
  // Without the slash the dispatcher adds: the host alone.
  EXPECT_EQ(Build("ftp://host").Body, "open host\r\nbinary\r\nuuencode\r\ndir\r\nquit\r\n");
  // A "#" stays in an FTP URL.
  EXPECT_EQ(Build("ftp://host/a#b").Body, "open host\r\nbinary\r\nuuencode\r\nget a#b\r\nquit\r\n");
  // Missing words leave their lines empty or starting with the blank; the
  // section's own subject goes with the request.
  PutFile(dir / "uservers.dat", "[ftpsrv]\r\nType=2\r\nSubject=ftp please\r\n");
  EXPECT_EQ(Build("ftp://host/d/f").Body, " host\r\n\r\n\r\n /d\r\nget f\r\nquit\r\n");
  EXPECT_EQ(Build("ftp://host/d/f").Subject, "ftp please");
  EXPECT_EQ(Build("ftp://host/d/").Body, " host\r\n\r\n\r\n /d\r\n\r\nquit\r\n");
}

TEST_F(RequestTest, SchemesAndFragments) {
  EXPECT_EQ(Build("HTTP://HOST/A.ZIP").Recipient, "binsrv");
  EXPECT_EQ(Build("gopher://host/1/x#y").Body, "GET gopher://host/1/x#y");
  EXPECT_EQ(Build("Http://host/#top").Body, "GET Http://host/");
  EXPECT_TRUE(IsRequestUrl("NEWS:x"));
  EXPECT_FALSE(IsRequestUrl("news"));
  RequestMail m;
  m.Recipient = "stale";
  for (const char* text : {"", "https:/host/", "mailto:a@b", "file:///etc/passwd", "gopher:/x",
                           "news", "ftp:/host/"}) {
    EXPECT_FALSE(BuildRequest(text, servers.Choice(), m)) << text;
    EXPECT_EQ(m.Recipient, "");
  }
}

TEST_F(RequestTest, PagesAreTheExtensionsAnyListLineBeginsWith) {
  EXPECT_FALSE(IsBinaryUrl("http://host/a.htm"));
  EXPECT_FALSE(IsBinaryUrl("http://host/a.HTML"));
  EXPECT_FALSE(IsBinaryUrl("http://host/a.ht"));  // htm begins with ht
  EXPECT_TRUE(IsBinaryUrl("http://host/a.php"));
  PutFile(dir / "unbinary.txt", "php\nASP\n");
  EXPECT_FALSE(IsBinaryUrl("http://host/a.php?x=1.zip"));
  EXPECT_TRUE(IsBinaryUrl("http://host/a.asp"));  // list lines are not lower-cased
  EXPECT_FALSE(IsBinaryUrl("http://host/a.zip/"));
  EXPECT_FALSE(IsBinaryUrl("http://host.name/file"));
  EXPECT_FALSE(IsBinaryUrl("http://host/noextension"));
  std::filesystem::remove(dir / "nbinary.ext");
  std::filesystem::remove(dir / "unbinary.txt");
  EXPECT_TRUE(IsBinaryUrl("http://host/a.html"));
  EXPECT_FALSE(IsBinaryUrl("http://host/plain"));
}

TEST_F(RequestTest, TemplatesAndVerbs) {
  // Every marker takes the URL; a URL holding the marker's byte is not
  // searched again (it goes out percent-encoded).
  PutFile(dir / "bin.tpl", "\xFE and \xFE\r\n");
  EXPECT_EQ(Build("http://host/x.zip").Body, "http://host/x.zip and http://host/x.zip\r\n");
  EXPECT_EQ(Build("http://host/\xFE.zip").Body, "http://host/%FE.zip and http://host/%FE.zip\r\n");
  // A missing template gives an empty body; the request still goes.
  std::filesystem::remove(dir / "bin.tpl");
  EXPECT_EQ(Build("http://host/x.zip").Body, "");
  // A template that cannot be read raises.
  std::filesystem::create_directory(dir / "bin.tpl");
  RequestMail m;
  EXPECT_THROW(BuildRequest("http://host/x.zip", servers.Choice(), m), EFileError);
  // An empty verb leaves the leading blank.
  TServerChoice choice = servers.Choice();
  choice.PagesVerb = " ";
  ASSERT_TRUE(BuildRequest("http://host/", choice, m));
  EXPECT_EQ(m.Body, " http://host/");
}

TEST_F(RequestTest, HttpsIsAWebRequestWithTheServersHttpsWordsWhenGiven) {
  EXPECT_TRUE(IsRequestUrl("HTTPS://host/"));
  EXPECT_EQ(Build("HTTPS://host/a.html#x").Body, "GET HTTPS://host/a.html");
  EXPECT_EQ(Build("https://host/t.zip").Body, "BEGIN\r\nSEND https://host/t.zip");
  // A given https key wins, even an empty template name; a missing one falls back.
  PutFile(dir / "uservers.dat",
          "[pagesrv]\r\nType=0\r\nverbPagesHttp=GET\r\nverbPagesHttps=GETS\r\n"
          "[binsrv]\r\nType=1\r\nverbBinaryHttp=SEND\r\nfileBinaryHttp=bin.tpl\r\n"
          "verbBinaryHttps=FETCH\r\nfileBinaryHttps=\r\n");
  servers.Load();
  EXPECT_EQ(Build("https://host/a.html").Body, "GETS https://host/a.html");
  EXPECT_EQ(Build("http://host/a.html").Body, "GET http://host/a.html");
  EXPECT_EQ(Build("https://host/t.zip").Body, "FETCH https://host/t.zip");
  EXPECT_EQ(Build("http://host/t.zip").Body, "BEGIN\r\nSEND http://host/t.zip");
}

TEST_F(RequestTest, TemplatesAreRegularFilesInTheProgramFolder) {
  PutFile(dir / "bin.tpl", "BEGIN \xC3\xBE and \xFE");  // saved as UTF-8, or not
  EXPECT_EQ(Build("http://host/x.zip").Body, "BEGIN http://host/x.zip and http://host/x.zip");
  RequestMail m;
  for (const char* name : {"/etc/passwd", "../bin.tpl", "sub/../../bin.tpl"}) {
    PutFile(dir / "uservers.dat", std::string("[binsrv]\r\nType=1\r\nfileBinaryHttp=") + name);
    servers.Load();
    EXPECT_THROW(BuildRequest("http://host/x.zip", servers.Choice(), m), EFileError) << name;
  }
#ifndef _WIN32
  // A pipe would block the program for ever.
  PutFile(dir / "uservers.dat", "[binsrv]\r\nType=1\r\nfileBinaryHttp=pipe.tpl\r\n");
  servers.Load();
  ASSERT_EQ(::mkfifo((dir / "pipe.tpl").c_str(), 0600), 0);
  EXPECT_THROW(BuildRequest("http://host/x.zip", servers.Choice(), m), EFileError);
#endif
}

// A server list from someone else must not mail the user's settings, state
// or logs; every template shipped with the program still works.
TEST_F(RequestTest, TemplatesAreNeverTolvanesOwnFiles) {
  RequestMail m;
  for (const char* name : {"TOLVANE.INI", "History.Dat", "Outbox.Dat", "DebugLog.Txt",
                           "debuglog.txt", "SMTP.LOG", "uservers.dat", "Installer.Flg",
                           "Test Message.Flg", "nbinary.ext", "sub/secret.ini", "tpl"}) {
    std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
    PutFile(dir / name, "[Servers]\r\nSMTPPasswordCommand=secret \xFE\r\n");
    PutFile(dir / "uservers.dat", std::string("[binsrv]\r\nType=1\r\nfileBinaryHttp=") + name);
    servers.Load();
    EXPECT_THROW(BuildRequest("http://host/x.zip", servers.Choice(), m), EFileError) << name;
  }
  // Every template shipped with the program.
  int templates = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TOLVANE_SOURCE_DIR "/data")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".tpl") continue;
    PutFile(dir / name, GetFile(entry.path().string()));
    EXPECT_EQ(TemplateText(name), GetFile(entry.path().string())) << name;
    ++templates;
  }
  EXPECT_GT(templates, 0);
  // Bounded: a bigger file is refused, not read.
  PutFile(dir / "big.txt", std::string(64 * 1024, 'x'));
  EXPECT_EQ(TemplateText("big.txt").size(), 64u * 1024);
  PutFile(dir / "big.txt", std::string(64 * 1024 + 1, 'x'));
  EXPECT_THROW(TemplateText("big.txt"), EFileError);
}

TEST_F(RequestTest, SubjectsAreCutTo255BytesOnACharacterBoundary) {
  PutFile(dir / "uservers.dat",
          "[pagesrv]\r\nType=0\r\nSubject=" + std::string(254, 's') + "\xC3\xA9rest\r\n");
  EXPECT_EQ(Build("http://host/").Subject, std::string(254, 's'));
}

// A copied address with non-ASCII characters goes out as an ASCII URI: the
// host in its IDNA form, the rest percent-encoded as UTF-8; the log keeps
// what was copied.
TEST_F(RequestTest, NonAsciiAddressesBecomeAsciiUris) {
  const std::string bucher = "B\xC3\xBC" + std::string("cher.example");
  const std::string copied = "http://" + bucher + "/stra\xC3\x9F" + "e";
  std::filesystem::remove(dir / "DebugLog.Txt");
  EXPECT_EQ(Build(copied).Body, "GET http://xn--bcher-kva.example/stra%C3%9Fe");
  EXPECT_EQ(Build("http://us\xC3\xA9r@" + bucher + ":8080?q=\xC3\xBC").Body,
            "BEGIN\r\nSEND http://us%C3%A9r@xn--bcher-kva.example:8080?q=%C3%BC");
  EXPECT_EQ(Build("http://example.test/caf\xC3\xA9.zip").Body,
            "BEGIN\r\nSEND http://example.test/caf%C3%A9.zip");
  // A host with no IDNA form (not UTF-8) is at least ASCII.
  EXPECT_EQ(Build("http://\xFF.example/").Body, "GET http://%FF.example/");
  EXPECT_NE(GetFile(dir / "DebugLog.Txt").find(": Body: GET " + copied + "\r\n"),
            std::string::npos);
}

TEST_F(RequestTest, TheLogShowsRecipientSubjectAndBody) {
  std::filesystem::remove(dir / "DebugLog.Txt");
  Build("http://host/a.html");
  Build("ftp://host/f");
  const std::string log = GetFile(dir / "DebugLog.Txt");
  const auto to1 = log.find(": To: pagesrv\r\n");
  const auto subject = log.find(": Subject: request\r\n");
  const auto body1 = log.find(": Body: GET http://host/a.html\r\n");
  const auto to2 = log.find(": To: ftpsrv\r\n");
  const auto body2 = log.find(": Body: open host\r\nbinary\r\nuuencode\r\nget f\r\nquit\r\n\r\n");
  ASSERT_NE(to1, std::string::npos);
  EXPECT_LT(to1, subject);
  EXPECT_LT(subject, body1);
  EXPECT_LT(body1, to2);
  EXPECT_LT(to2, body2);
  EXPECT_NE(body2, std::string::npos);
  // No subject line for FTP requests.
  EXPECT_EQ(log.find("Subject:", body1), std::string::npos);
}

TEST(Replace, PlainSubstitution) {
  EXPECT_EQ(ReplaceAll("ab", "xabyabz", "AB"), "xAByABz");
  EXPECT_EQ(ReplaceAll("a", "aaa", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceAll("", "text", "x"), "text");
  EXPECT_EQ(ReplaceAll("q", "", "x"), "");
  EXPECT_EQ(ReplaceFirst("a", "banana", "o"), "bonana");
  EXPECT_EQ(ReplaceFirst("z", "banana", "o"), "banana");
  EXPECT_EQ(ReplaceAt("XY", "abcdef", 2, 3), "abXYf");
  EXPECT_EQ(ReplaceAt("XY", "abc", 1, 99), "aXY");
  EXPECT_EQ(ReplaceAt("XY", "abc", 99, 1), "abcXY");
}

}  // namespace
