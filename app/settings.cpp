#include "app/settings.h"

#include <filesystem>

#include "platform/errors.h"
#include "platform/profile.h"

namespace {

constexpr char kGeneral[] = "General";
constexpr char kServers[] = "Servers";
// Marks a key that is missing (a real value is never this).
constexpr char kMissing[] = "\x01";

bool HasKey(const std::string& file, const char* section, const char* key) {
  return ReadProfileString(file, section, key, kMissing) != kMissing;
}

// The controls offer these values only: anything above is the last choice,
// anything below none.
int Clamped(int value, int last, int above) {
  if (value > last) return above;
  return value < 0 ? -1 : value;
}

void ReadServers(const std::string& file, TSettings& s) {
  auto read = [&file](const char* key) { return ReadProfileString(file, kServers, key); };
  TSmtpSettings& a = s.Account;
  a.Smtp = read("SMTP");
  a.Security = SecurityForPort(a.Smtp);
  try {
    a.Security = ParseSecurity(read("SMTPSecurity"), a.Smtp);
  } catch (const std::exception& e) {
    s.SecurityProblem = e.what();
  }
  a.User = read("SMTPUser");
  a.Auth = read("SMTPAuth");
  a.CAFile = read("SMTPCAFile");
  a.Fingerprint = read("SMTPFingerprint");
  a.PasswordCommand = read("SMTPPasswordCommand");
  s.PagesServer = read("HTTPPages");
  s.BinaryServer = read("HTTPBinary");
  s.FtpServer = read("FTP");
}

}  // namespace

TSettings TSettings::Read(const std::string& file) {
  TSettings s;
  s.Email = ReadProfileString(file, kGeneral, "Email");
  s.Confirm = Clamped(ReadProfileInteger(file, kGeneral, "Confirm", 2), 2, 2);
  s.Enabled = Clamped(ReadProfileInteger(file, kGeneral, "Enabled", 0), 1, 0);
  s.CheckHistory = ReadProfileBool(file, kGeneral, "CheckHistory", true);
  if (HasKey(file, kGeneral, "KeepFailed")) {
    s.KeepFailed = ReadProfileBool(file, kGeneral, "KeepFailed", false);
  } else {
    std::error_code ec;
    s.KeepFailed = !std::filesystem::exists(file, ec);
  }
  s.TrayIconDim = ReadProfileBool(file, kGeneral, "TrayIconDim", false);
  // Dim means disabled: copies are never sent behind a dim icon.
  if (s.TrayIconDim) s.Enabled = 1;
  s.TipNumber = ReadProfileInteger(file, kGeneral, "TipNumber", 0);
  s.TipEnabled = ReadProfileBool(file, kGeneral, "TipEnabled", true);
  ReadServers(file, s);
  return s;
}

TSettings TSettings::Load(const std::string& file) {
  TSettings s = Read(file);
  if (!HasKey(file, kGeneral, "KeepFailed") && s.KeepFailed) {
    WriteProfileBool(file, kGeneral, "KeepFailed", true);
  }
  return s;
}

void TSettings::Save(const std::string& file) const {
  WriteProfileString(file, kGeneral, "Email", Email);
  WriteProfileString(file, kServers, "SMTP", Account.Smtp);
  WriteProfileString(file, kServers, "SMTPSecurity", SecurityName(Account.Security));
  WriteProfileString(file, kServers, "SMTPUser", Account.User);
  WriteProfileInteger(file, kGeneral, "Confirm", Confirm);
  WriteProfileInteger(file, kGeneral, "Enabled", Enabled);
  WriteProfileBool(file, kGeneral, "CheckHistory", CheckHistory);
  WriteProfileBool(file, kGeneral, "KeepFailed", KeepFailed);
  WriteProfileString(file, kServers, "FTP", FtpServer);
  WriteProfileString(file, kServers, "HTTPBinary", BinaryServer);
  WriteProfileString(file, kServers, "HTTPPages", PagesServer);
}

bool HasContent(const std::string& field) {
  for (unsigned char c : field) {
    if (c > ' ' && c != 127) return true;
  }
  return false;
}

bool TSettings::Complete() const { return HasContent(Email) && HasContent(Account.Smtp); }

TDispatchSettings TSettings::Dispatch() const {
  TDispatchSettings d;
  d.Email = Email;
  d.Smtp = Account.Smtp;
  d.CheckHistory = CheckHistory;
  d.Confirm = Confirm;
  d.KeepFailed = KeepFailed;
  return d;
}

TSmtpSettings ReadSmtpAccount(const std::string& file) {
  TSettings s;
  ReadServers(file, s);
  // A guess could send the password in the clear: the send stops here.
  if (!s.SecurityProblem.empty()) throw EError(s.SecurityProblem);
  return s.Account;
}

void SaveTrayIconDim(const std::string& file, bool dim) {
  WriteProfileBool(file, kGeneral, "TrayIconDim", dim);
}

void SaveTips(const std::string& file, int number, bool enabled) {
  WriteProfileInteger(file, kGeneral, "TipNumber", number);
  WriteProfileBool(file, kGeneral, "TipEnabled", enabled);
}

void SaveLocalRoot(const std::string& file, const std::string& folder) {
  WriteProfileString(file, kGeneral, "LocalRoot", folder);
}

bool TakeClipboardNotice(const std::string& file) {
  if (ReadProfileBool(file, kGeneral, "ClipboardNotice", false)) return false;
  WriteProfileBool(file, kGeneral, "ClipboardNotice", true);
  return true;
}
