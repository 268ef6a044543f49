#include "app/settings.h"

#include <cstdio>
#include <filesystem>

#include "platform/errors.h"
#include "platform/profile.h"

namespace {

constexpr char kGeneral[] = "General";
constexpr char kServers[] = "Servers";

// The controls offer these values only: anything above is the last choice,
// anything below none.
int Clamped(int value, int last, int above) {
  if (value > last) return above;
  return value < 0 ? -1 : value;
}

void ReadServers(const TProfileText& profile, TSettings& s) {
  auto read = [&profile](const char* key) { return profile.Read(kServers, key); };
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
  // One read of the file for every key.
  const TProfileText p = ReadProfileFile(file);
  TSettings s;
  s.Email = p.Read(kGeneral, "Email");
  s.Confirm = Clamped(ProfileInteger(p, kGeneral, "Confirm", 2), 2, 2);
  s.Enabled = Clamped(ProfileInteger(p, kGeneral, "Enabled", 0), 1, 0);
  s.CheckHistory = ProfileBool(p, kGeneral, "CheckHistory", true);
  if (p.HasKey(kGeneral, "KeepFailed")) {
    s.KeepFailed = ProfileBool(p, kGeneral, "KeepFailed", false);
  } else {
    std::error_code ec;
    s.KeepFailed = !std::filesystem::exists(file, ec);
  }
  s.TrayIconDim = ProfileBool(p, kGeneral, "TrayIconDim", false);
  // Dim means disabled: copies are never sent behind a dim icon.
  if (s.TrayIconDim) s.Enabled = 1;
  s.TipNumber = ProfileInteger(p, kGeneral, "TipNumber", 0);
  s.TipEnabled = ProfileBool(p, kGeneral, "TipEnabled", true);
  s.Collect = ProfileBool(p, kGeneral, "Collect", false);
  s.SendAt = p.Read(kGeneral, "SendAt");
  if (SendAtMinutes(s.SendAt) < 0) s.SendAt.clear();
  s.DialEntry = p.Read(kGeneral, "DialEntry");
  s.HangUp = ProfileBool(p, kGeneral, "HangUp", true);
  ReadServers(p, s);
  return s;
}

TSettings TSettings::Load(const std::string& file) {
  TSettings s = Read(file);
  if (s.KeepFailed && !ReadProfileFile(file).HasKey(kGeneral, "KeepFailed")) {
    WriteProfileBool(file, kGeneral, "KeepFailed", true);
  }
  return s;
}

void TSettings::Save(const std::string& file) const {
  // One replacement of the file: a reader sees all of Ok's values or none.
  const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
  WriteProfileEntries(file, {{kGeneral, "Email", Email},
                             {kServers, "SMTP", Account.Smtp},
                             {kServers, "SMTPSecurity", SecurityName(Account.Security)},
                             {kServers, "SMTPUser", Account.User},
                             {kGeneral, "Confirm", std::to_string(Confirm)},
                             {kGeneral, "Enabled", std::to_string(Enabled)},
                             {kGeneral, "CheckHistory", flag(CheckHistory)},
                             {kGeneral, "KeepFailed", flag(KeepFailed)},
                             {kGeneral, "Collect", flag(Collect)},
                             {kGeneral, "SendAt", SendAt},
                             {kServers, "FTP", FtpServer},
                             {kServers, "HTTPBinary", BinaryServer},
                             {kServers, "HTTPPages", PagesServer},
                             {kGeneral, "DialEntry", DialEntry},
                             {kGeneral, "HangUp", flag(HangUp)}});
}

int SendAtMinutes(const std::string& text) {
  int hours = 0, minutes = 0;
  char colon = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%2d%c%2d%c", &hours, &colon, &minutes, &extra) != 3) return -1;
  if (colon != ':' || hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return -1;
  return hours * 60 + minutes;
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
  d.Collect = Collect;
  return d;
}

TSmtpSettings ReadSmtpAccount(const std::string& file) {
  TSettings s;
  ReadServers(ReadProfileFile(file), s);
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
