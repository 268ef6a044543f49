// TOLVANE.INI's general and server keys: read and written here only, for
// the window and the command line alike.
#pragma once

#include <string>

#include "app/smtp_settings.h"
#include "core/dispatcher.h"

struct TSettings {
  // [General]
  std::string Email;
  int Confirm = 2;  // 0 always, 1 zip and exe only, 2 never; -1 none chosen
  int Enabled = 0;  // 0 requests on, 1 off; -1 none chosen
  bool CheckHistory = true;
  // A new settings file has it on; a file written before the setting
  // existed keeps it off until the user ticks it.
  bool KeepFailed = true;
  bool TrayIconDim = false;
  // Hold new requests and send them together: on Send Now, on --flush, or
  // each day at SendAt ("hh:mm"; empty: no set time).
  bool Collect = false;
  std::string SendAt;
  int TipNumber = 0;
  bool TipEnabled = true;
  // The NetworkManager connection brought up to send ("" none), and whether
  // a connection brought up so is taken down after the last mail.
  std::string DialEntry;
  bool HangUp = true;

  // [Servers]: SMTP, SMTPSecurity, SMTPUser and the keys the window has no
  // control for.
  TSmtpSettings Account;
  // Why SMTPSecurity was not understood (the port chose instead); empty
  // when it was.
  std::string SecurityProblem;
  // The request servers chosen in the window (the server list reads them).
  std::string PagesServer;   // HTTPPages
  std::string BinaryServer;  // HTTPBinary
  std::string FtpServer;     // FTP

  // Every key, a missing one as its default; writes nothing.
  static TSettings Read(const std::string& file);
  // Read, and a file that does not exist yet gets KeepFailed=1, so that the
  // next read does not take it for one written before the setting existed.
  static TSettings Load(const std::string& file);
  // The keys the window's Ok stores: address, mail server and sign-in name,
  // the three choices, the three check boxes, the request servers and the
  // dial-up connection.
  // Every other line of the file stays.
  void Save(const std::string& file) const;

  // Both required fields (address and mail server) hold more than blanks.
  bool Complete() const;
  TDispatchSettings Dispatch() const;
};

// Minutes after midnight of a "hh:mm" time of day; -1 when `text` is empty
// or no such time.
int SendAtMinutes(const std::string& text);

// A required field that holds only blanks and control characters is empty.
bool HasContent(const std::string& field);

// The mail server's keys alone, as a send reads them each time; raises
// EError when SMTPSecurity is not one of the three values.
TSmtpSettings ReadSmtpAccount(const std::string& file);

// Keys written on their own, when they change.
void SaveTrayIconDim(const std::string& file, bool dim);
void SaveTips(const std::string& file, int number, bool enabled);
// The program folder, for other programs that look for Tolvane's files.
void SaveLocalRoot(const std::string& file, const std::string& folder);
// True the first time only: [General] ClipboardNotice is set from then on.
bool TakeClipboardNotice(const std::string& file);
