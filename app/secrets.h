// The SMTP password: from the user's password command, from the desktop
// keyring (the Secret Service through QtKeychain; on Windows the Credential
// Manager), or typed in this run.
// It is never written to TOLVANE.INI or to a log.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/smtp_settings.h"

// The keyring entry of an account is found by these two attributes, so that
// `secret-tool store ... server <service> user <user> type plaintext` can
// make it too.
std::string KeyringService(const std::string& host);

// The command line that stores an account's password where
// ReadStoredPassword finds it.
std::string StorePasswordCommand(const std::string& host, const std::string& user);

// Raises EError "Unable to store the password in the keyring: " + why.
void StorePassword(const std::string& host, const std::string& user, const std::string& password);

struct TKeyringRead {
  std::optional<std::string> password;
  std::string problem;  // why there is none, when the keyring itself failed
};
TKeyringRead ReadStoredPassword(const std::string& host, const std::string& user);

// The first line that `command` prints, run by /bin/sh (on Windows cmd /c)
// with no input.
// Raises EError when it fails, prints nothing or runs over `timeoutMs`.
std::string RunPasswordCommand(const std::string& command, int timeoutMs = 120000);

// Passwords typed in this run, kept in memory only.
void RememberPassword(const std::string& host, const std::string& user,
                      const std::string& password);
void ForgetPassword(const std::string& host, const std::string& user);

// Asks the user; nullopt when the box was cancelled.
using TAskPassword = std::function<std::optional<std::string>(const std::string& prompt)>;

// The password for the settings' account: the password command when one is
// set, else the one typed this run, else the keyring, else `ask` (when set;
// the answer is remembered for the run). Raises EError saying how to store
// one when all fail.
std::string FindPassword(const TSmtpSettings& settings, const TAskPassword& ask);
