#include "app/smtp_settings.h"

#include "net/ip_address.h"
#include "platform/ascii.h"
#include "platform/errors.h"

namespace {

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TSmtpSecurity SecurityForPort(std::string_view smtp) {
  // The server's own reading, so that "[2001:db8::465]" names no port.
  const TServerParts parts = SplitServer(TrimBlanks(smtp));
  if (parts.has_port && parts.port == "465") return TSmtpSecurity::Tls;
  if (parts.has_port && parts.port == "587") return TSmtpSecurity::StartTls;
  return TSmtpSecurity::None;
}

std::string SecurityName(TSmtpSecurity security) {
  switch (security) {
    case TSmtpSecurity::StartTls:
      return "starttls";
    case TSmtpSecurity::Tls:
      return "tls";
    case TSmtpSecurity::None:
      break;
  }
  return "none";
}

TSmtpSecurity ParseSecurity(std::string_view value, std::string_view smtp) {
  const std::string name = AsciiLower(std::string(TrimBlanks(value)));
  if (name.empty()) return SecurityForPort(smtp);
  for (TSmtpSecurity s : {TSmtpSecurity::None, TSmtpSecurity::StartTls, TSmtpSecurity::Tls}) {
    if (name == SecurityName(s)) return s;
  }
  // A guess could send the password in the clear; the user must say.
  throw EError("SMTPSecurity=" + std::string(value) +
               " in TOLVANE.INI is not one of none, starttls, tls");
}

std::string SmtpHost(std::string_view smtp) { return SplitServer(TrimBlanks(smtp)).host; }

void ApplySmtpSettings(TmsSMTP& smtp, const TSmtpSettings& settings, const std::string& password) {
  smtp.Server = settings.Smtp;
  smtp.Security = settings.Security;
  smtp.UserName = settings.User;
  smtp.Password = settings.User.empty() ? std::string() : password;
  smtp.AuthMechanism = AsciiUpper(settings.Auth);
  smtp.CAFile = settings.CAFile;
  smtp.Fingerprint = settings.Fingerprint;
}
