// TOLVANE.INI as the window and the command line both read it: real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "platform/profile.h"
#include "tests/net/net_support.h"
#include "tests/platform/temp_folder.h"

namespace {

TEST(SettingsTest, SecurityComesFromTheFileElseFromThePort) {
  EXPECT_EQ(SecurityForPort("smtp.example.org:465"), TSmtpSecurity::Tls);
  EXPECT_EQ(SecurityForPort(" smtp.example.org:587 "), TSmtpSecurity::StartTls);
  EXPECT_EQ(SecurityForPort("smtp.example.org:4650"), TSmtpSecurity::None);
  // An IPv6 address's last group is no port; the keyring's host has no brackets.
  EXPECT_EQ(SecurityForPort("2001:db8::465"), TSmtpSecurity::None);
  EXPECT_EQ(SecurityForPort("[2001:db8::1]:465"), TSmtpSecurity::Tls);
  EXPECT_EQ(SmtpHost(" [::1]:587"), "::1");

  TempFolder dir;
  const std::string ini = dir / "TOLVANE.INI";
  PutFile(ini,
          "[Servers]\r\nSMTP=mail.example.org:587\r\nSMTPUser= me@example.org \r\n"
          "SMTPAuth=login\r\nSMTPCAFile=/etc/ca.pem\r\nSMTPFingerprint=AB:CD\r\n"
          "SMTPPasswordCommand=pass show mail\r\n");
  const TSmtpSettings s = ReadSmtpAccount(ini);
  EXPECT_EQ(s.Security, TSmtpSecurity::StartTls);
  EXPECT_EQ(s.User, "me@example.org");
  EXPECT_EQ(s.Auth, "login");
  EXPECT_EQ(s.PasswordCommand, "pass show mail");

  // A stored choice beats the port, in any case; an unknown one stops a
  // send rather than being guessed, and the window falls back to the port.
  WriteProfileString(ini, "Servers", "SMTPSecurity", "None");
  EXPECT_EQ(ReadSmtpAccount(ini).Security, TSmtpSecurity::None);
  WriteProfileString(ini, "Servers", "SMTPSecurity", "ssl");
  const std::string problem = "SMTPSecurity=ssl in TOLVANE.INI is not one of none, starttls, tls";
  EXPECT_EQ(Raised<std::exception>([&] { ReadSmtpAccount(ini); }), problem);
  const TSettings read = TSettings::Read(ini);
  EXPECT_EQ(read.SecurityProblem, problem);
  EXPECT_EQ(read.Account.Security, TSmtpSecurity::StartTls);
}

TEST(SettingsTest, ValuesTheControlsDoNotOfferAreClampedForEveryReader) {
  TempFolder dir;
  const std::string ini = dir / "TOLVANE.INI";
  PutFile(ini, "[General]\r\nEmail=me@example.org\r\nConfirm=7\r\nEnabled=5\r\n");
  TSettings s = TSettings::Read(ini);
  EXPECT_EQ(s.Confirm, 2);
  EXPECT_EQ(s.Enabled, 0);
  EXPECT_EQ(s.Dispatch().Confirm, 2);

  PutFile(ini, "[General]\r\nConfirm=-4\r\nEnabled=-2\r\nCheckHistory=0\r\n");
  s = TSettings::Read(ini);
  EXPECT_EQ(s.Confirm, -1);
  EXPECT_EQ(s.Enabled, -1);
  EXPECT_FALSE(s.Dispatch().CheckHistory);

  // A dim icon stored at the last end means requests are off.
  PutFile(ini, "[General]\r\nEnabled=0\r\nTrayIconDim=1\r\n");
  EXPECT_EQ(TSettings::Read(ini).Enabled, 1);
}

TEST(SettingsTest, RequiredFieldsNeedMoreThanBlanksAndControlCharacters) {
  TSettings s;
  s.Email = "me@example.org";
  s.Account.Smtp = " \t\x01\x7f";
  EXPECT_FALSE(s.Complete());
  s.Account.Smtp = "mail.example.org";
  EXPECT_TRUE(s.Complete());
  s.Email = "";
  EXPECT_FALSE(s.Complete());
}

TEST(SettingsTest, KeepFailedIsOnForANewFileAndWrittenOnlyByLoad) {
  TempFolder dir;
  const std::string ini = dir / "TOLVANE.INI";
  EXPECT_TRUE(TSettings::Read(ini).KeepFailed);
  // No connection is brought up until one is chosen; one that is gets taken down.
  EXPECT_EQ(TSettings::Read(ini).DialEntry, "");
  EXPECT_TRUE(TSettings::Read(ini).HangUp);
  EXPECT_FALSE(std::filesystem::exists(ini));
  EXPECT_TRUE(TSettings::Load(ini).KeepFailed);
  EXPECT_EQ(ReadProfileString(ini, "General", "KeepFailed"), "1");

  // A file from before the setting keeps it off, and gets nothing written.
  PutFile(ini, "[General]\r\nEmail=me@example.org\r\n");
  EXPECT_FALSE(TSettings::Load(ini).KeepFailed);
  EXPECT_EQ(GetFile(ini), "[General]\r\nEmail=me@example.org\r\n");
}

TEST(SettingsTest, SaveWritesTheWindowsKeysAndLeavesTheRest) {
  TempFolder dir;
  const std::string ini = dir / "TOLVANE.INI";
  PutFile(ini,
          "; mine\r\n[General]\r\nTrayIconDim=1\r\nTipNumber=4\r\n"
          "[Servers]\r\nSMTPPasswordCommand=pass show mail\r\n");
  TSettings s;
  s.Email = "Jo <me@example.org>";
  s.Account.Smtp = "mail.example.org:465";
  s.Account.Security = TSmtpSecurity::Tls;
  s.Account.User = "me";
  s.Confirm = 1;
  s.Enabled = 0;
  s.CheckHistory = false;
  s.KeepFailed = false;
  s.PagesServer = "pages@example.org";
  s.DialEntry = "Mobile broadband";
  s.HangUp = false;
  s.Save(ini);

  const TSettings back = TSettings::Read(ini);
  EXPECT_EQ(back.Email, s.Email);
  EXPECT_EQ(back.Account.Smtp, s.Account.Smtp);
  EXPECT_EQ(back.Account.Security, TSmtpSecurity::Tls);
  EXPECT_EQ(back.Account.User, "me");
  EXPECT_EQ(back.Confirm, 1);
  EXPECT_FALSE(back.CheckHistory);
  EXPECT_FALSE(back.KeepFailed);
  EXPECT_EQ(back.PagesServer, "pages@example.org");
  EXPECT_EQ(back.DialEntry, "Mobile broadband");
  EXPECT_FALSE(back.HangUp);
  // Keys without a control stay as they were.
  EXPECT_TRUE(back.TrayIconDim);
  EXPECT_EQ(back.TipNumber, 4);
  EXPECT_EQ(back.Account.PasswordCommand, "pass show mail");
  EXPECT_EQ(GetFile(ini).rfind("; mine\r\n", 0), 0u);

  EXPECT_TRUE(TakeClipboardNotice(ini));
  EXPECT_FALSE(TakeClipboardNotice(ini));
}

}  // namespace
