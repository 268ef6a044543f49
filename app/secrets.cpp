#include "app/secrets.h"

#include <map>
#include <utility>

#include "platform/errors.h"
#include "platform/folders.h"

namespace {

using TAccount = std::pair<std::string, std::string>;  // host, user

std::map<TAccount, std::string>& Remembered() {
  static std::map<TAccount, std::string> passwords;
  return passwords;
}

}  // namespace

std::string KeyringService(const std::string& host) { return "tolvane:" + host; }

void RememberPassword(const std::string& host, const std::string& user,
                      const std::string& password) {
  Remembered()[{host, user}] = password;
}

void ForgetPassword(const std::string& host, const std::string& user) {
  Remembered().erase({host, user});
}

std::string FindPassword(const TSmtpSettings& settings, const TAskPassword& ask) {
  if (!settings.PasswordCommand.empty()) return RunPasswordCommand(settings.PasswordCommand);
  const std::string host = SmtpHost(settings.Smtp);
  const std::string& user = settings.User;
  if (auto it = Remembered().find({host, user}); it != Remembered().end()) return it->second;
  const TKeyringRead stored = ReadStoredPassword(host, user);
  if (stored.password) return *stored.password;
  if (ask) {
    if (auto typed = ask("Password for " + user + " at " + host)) {
      RememberPassword(host, user, *typed);
      return *typed;
    }
  }
  throw EError("No password for " + user + " at " + host +
               (stored.problem.empty() ? "" : " (keyring: " + stored.problem + ")") +
               ". Type it in the Password field of Tolvane's window, store it with \"" +
               StorePasswordCommand(host, user) +
               "\", or set SMTPPasswordCommand in section [Servers] of " + SettingsFilePath());
}
