// Where the SMTP password comes from on Windows: the password command run by
// cmd, and the Credential Manager (Wine's, in the test prefix).
#include <gtest/gtest.h>

#include <chrono>

#include "app/secrets.h"
#include "app/smtp_settings.h"
#include "tests/net/net_support.h"

namespace {

TEST(PasswordCommandWinTest, FirstLineIsThePasswordAndFailuresSayWhy) {
  EXPECT_EQ(RunPasswordCommand("(echo tok en& echo second)"), "tok en");
  // A quoted program path and quoted arguments reach cmd as written.
  EXPECT_EQ(RunPasswordCommand(R"("cmd.exe" /c echo "a b")"), R"("a b")");
  // The command's input is closed: one that reads it does not hang.
  EXPECT_EQ(RunPasswordCommand("more& echo done"), "done");
  EXPECT_EQ(Raised<std::exception>(
                [] { RunPasswordCommand("echo gpg: decryption failed>&2& exit /b 2"); }),
            "The password command failed (exit code 2): gpg: decryption failed");
  EXPECT_EQ(Raised<std::exception>([] { RunPasswordCommand("echo."); }),
            "The password command printed no password");
  EXPECT_EQ(Raised<std::exception>([] { RunPasswordCommand("ping -n 6 127.0.0.1 >nul", 1000); }),
            "The password command did not finish in 1 s");
}

TEST(CredentialManagerTest, StoredPasswordIsFoundPerAccount) {
  // The prefix keeps its credentials from run to run: a host of this run's own.
  const std::string host =
      "smtp" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
      ".test";
  StorePassword(host, "me@one.test", "pä ss");
  EXPECT_EQ(ReadStoredPassword(host, "me@one.test").password, "pä ss");
  // Another user at the same host has none, and that is no failure.
  const TKeyringRead other = ReadStoredPassword(host, "you@one.test");
  EXPECT_FALSE(other.password);
  EXPECT_EQ(other.problem, "");

  TSmtpSettings s;
  s.Smtp = host + ":587";
  s.User = "you@one.test";
  // The error names the command that stores the entry looked for next.
  const std::string none = Raised<std::exception>([&] { FindPassword(s, nullptr); });
  EXPECT_NE(none.find("cmdkey /generic:tolvane:" + host + "/you@one.test /user:you@one.test"),
            std::string::npos)
      << none;
  StorePassword(host, "you@one.test", "second");
  EXPECT_EQ(FindPassword(s, nullptr), "second");
  EXPECT_EQ(ReadStoredPassword(host, "me@one.test").password, "pä ss");
}

}  // namespace
