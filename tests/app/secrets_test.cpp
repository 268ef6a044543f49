// Where the SMTP password comes from: the password command, and a real
// keyring (gnome-keyring on a private bus).
#include <gtest/gtest.h>

#include "app/secrets.h"
#include "app/smtp_settings.h"
#include "platform/errors.h"
#include "tests/net/net_support.h"
#include "tests/support/private_keyring.h"

namespace {

TEST(PasswordCommandTest, FirstLineIsThePasswordAndFailuresSayWhy) {
  EnsureApp();
  EXPECT_EQ(RunPasswordCommand("printf 'tok en\\r\\nsecond\\n'"), "tok en");
  EXPECT_EQ(RunPasswordCommand("printf nolineend"), "nolineend");
  // The command's input is closed: one that reads it does not hang.
  EXPECT_EQ(RunPasswordCommand("cat; echo done"), "done");
  EXPECT_EQ(Raised<std::exception>(
                [] { RunPasswordCommand("echo 'gpg: decryption failed' >&2; exit 2"); }),
            "The password command failed (exit code 2): gpg: decryption failed");
  EXPECT_EQ(Raised<std::exception>([] { RunPasswordCommand("echo"); }),
            "The password command printed no password");
  EXPECT_EQ(Raised<std::exception>([] { RunPasswordCommand("sleep 5", 1000); }),
            "The password command did not finish in 1 s");
}

class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApp(); }
  TPrivateKeyring& keyring = TPrivateKeyring::Shared();
};

TEST_F(KeyringTest, StoredPasswordIsReadBackAndFoundBySecretTool) {
  StorePassword("smtp.one.test", "me@one.test", "pä ss");
  EXPECT_EQ(ReadStoredPassword("smtp.one.test", "me@one.test").password, "pä ss");
  EXPECT_EQ(keyring.Lookup("tolvane:smtp.one.test", "me@one.test"), "pä ss");
  // Another user at the same host has none, and that is no keyring failure.
  const TKeyringRead other = ReadStoredPassword("smtp.one.test", "you@one.test");
  EXPECT_FALSE(other.password);
  EXPECT_EQ(other.problem, "");
}

TEST_F(KeyringTest, FindPasswordTriesCommandThenKeyringThenAsks) {
  TSmtpSettings s;
  s.Smtp = "smtp.two.test:587";
  s.User = "me@two.test";
  // The error names the command that stores the entry found next.
  const std::string none = Raised<std::exception>([&] { FindPassword(s, nullptr); });
  EXPECT_EQ(none.rfind("No password for me@two.test at smtp.two.test. ", 0), 0u);
  EXPECT_NE(none.find("server tolvane:smtp.two.test user me@two.test type plaintext"),
            std::string::npos);
  EXPECT_NE(none.find("SMTPPasswordCommand"), std::string::npos);
  keyring.Store("tolvane:smtp.two.test", "me@two.test", "from-keyring");
  EXPECT_EQ(FindPassword(s, [](const std::string&) { return "typed"; }), "from-keyring");

  // A cancelled box is no password.
  s.User = "new@two.test";
  EXPECT_EQ(Raised<std::exception>([&] {
              FindPassword(s, [](const std::string&) { return std::nullopt; });
            }).rfind("No password for new@two.test", 0),
            0u);
  s.PasswordCommand = "echo from-command";
  EXPECT_EQ(FindPassword(s, nullptr), "from-command");
}

}  // namespace
