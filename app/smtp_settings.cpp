#include "app/smtp_settings.h"

#include "platform/ascii.h"
#include "platform/errors.h"

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TSmtpSecurity SecurityForPort(std::string_view smtp) {
  smtp = TrimBlanks(smtp);
  if (EndsWith(smtp, ":465")) return TSmtpSecurity::Tls;
  if (EndsWith(smtp, ":587")) return TSmtpSecurity::StartTls;
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

std::string SmtpHost(std::string_view smtp) {
  smtp = TrimBlanks(smtp);
  return std::string(smtp.substr(0, smtp.find(':')));
}

void ApplySmtpSettings(TmsSMTP& smtp, const TSmtpSettings& settings, const std::string& password) {
  smtp.Server = settings.Smtp;
  smtp.Security = settings.Security;
  smtp.UserName = settings.User;
  smtp.Password = settings.User.empty() ? std::string() : password;
  smtp.AuthMechanism = AsciiUpper(settings.Auth);
  smtp.CAFile = settings.CAFile;
  smtp.Fingerprint = settings.Fingerprint;
}
