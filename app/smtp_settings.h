// How Tolvane reaches and signs in to the user's mail server: the keys of
// section Servers in TOLVANE.INI beside SMTP. The password is never among
// them (see app/secrets.h).
#pragma once

#include <string>
#include <string_view>

#include "net/smtp.h"

struct TSmtpSettings {
  std::string Smtp;  // "host" or "host:port", as in the SMTP field
  TSmtpSecurity Security = TSmtpSecurity::None;
  std::string User;             // SMTPUser; empty: no sign-in
  std::string Auth;             // SMTPAuth; empty: the best both sides offer
  std::string CAFile;           // SMTPCAFile
  std::string Fingerprint;      // SMTPFingerprint
  std::string PasswordCommand;  // SMTPPasswordCommand
};

// The security a server address asks for by its port: ":465" TLS, ":587"
// STARTTLS, anything else none.
TSmtpSecurity SecurityForPort(std::string_view smtp);

// "none", "starttls", "tls".
std::string SecurityName(TSmtpSecurity security);

// The value of SMTPSecurity; empty means the port's choice. Any other text
// raises EError naming the three that are allowed.
TSmtpSecurity ParseSecurity(std::string_view value, std::string_view smtp);

// The host part of the SMTP field, as the socket dials it.
std::string SmtpHost(std::string_view smtp);

// Sets the client's members from the settings and the password.
void ApplySmtpSettings(TmsSMTP& smtp, const TSmtpSettings& settings, const std::string& password);
