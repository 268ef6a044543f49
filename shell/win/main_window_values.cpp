// The main window's settings controls: filled from TSettings and read back,
// the server lists, the dial-up row, the autostart box and Ok's checks.
#include "app/settings_checks.h"
#include "mail/headers.h"
#include "net/ras_api_win.h"
#include "platform/autostart.h"
#include "platform/errors.h"
#include "platform/file_layout.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/main_window.h"
#include "shell/win/window_ids.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <algorithm>

#include "shell/win/main_window_impl.h"

namespace {

// The name of the Run key's value comes from the application id's last part.
constexpr char kAppId[] = "org.tolvane.Tolvane";
constexpr char kNone[] = "(none)";

void FillCombo(HWND box, const std::vector<std::string>& items, int index) {
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(item).c_str()));
  }
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int ComboIndex(HWND box) { return static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0)); }

std::string ComboText(HWND box) {
  const int index = ComboIndex(box);
  if (index < 0) return {};
  const auto length = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Utf8Text(text);
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

}  // namespace

TSettings TWinMainWindow::Values() const {
  const TMainWindowState& s = *impl_;
  TSettings v = s.values;
  v.PagesServer = ComboText(s.Item(IDC_PAGES));
  v.BinaryServer = ComboText(s.Item(IDC_BINARY));
  v.FtpServer = ComboText(s.Item(IDC_FTP));
  v.Email = s.Text(IDC_EMAIL);
  v.Account.Smtp = s.Text(IDC_SMTP);
  v.Account.Security = static_cast<TSmtpSecurity>(std::max(0, ComboIndex(s.Item(IDC_SECURITY))));
  v.Account.User = Trimmed(s.Text(IDC_USER));
  v.Confirm = s.RadioIndex(IDC_CONFIRM_ALL, 3);
  v.Enabled = s.RadioIndex(IDC_ENABLED_YES, 2);
  v.CheckHistory = s.Checked(IDC_CHECK_HISTORY);
  v.KeepFailed = s.Checked(IDC_KEEP_FAILED);
  v.Collect = s.Checked(IDC_COLLECT);
  v.SendAt = Trimmed(s.Text(IDC_SEND_AT));
  v.DialEntry =
      ComboIndex(s.Item(IDC_DIAL_ENTRY)) <= 0 ? std::string() : ComboText(s.Item(IDC_DIAL_ENTRY));
  v.HangUp = s.Checked(IDC_HANG_UP);
  return v;
}

void TWinMainWindow::SetValues(const TSettings& settings) {
  impl_->values = settings;
  impl_->FillControls();
}

void TMainWindowState::FillControls() {
  filling = true;
  SetText(IDC_EMAIL, values.Email);
  SetText(IDC_SMTP, values.Account.Smtp);
  SendMessageW(Item(IDC_SECURITY), CB_SETCURSEL, static_cast<WPARAM>(values.Account.Security), 0);
  SetText(IDC_USER, values.Account.User);
  SetText(IDC_PASSWORD, {});
  SetRadioIndex(IDC_CONFIRM_ALL, 3, values.Confirm);
  SetRadioIndex(IDC_ENABLED_YES, 2, values.Enabled);
  Check(IDC_CHECK_HISTORY, values.CheckHistory);
  Check(IDC_KEEP_FAILED, values.KeepFailed);
  Check(IDC_COLLECT, values.Collect);
  SetText(IDC_SEND_AT, values.SendAt);
  Check(IDC_HANG_UP, values.HangUp);
  filling = false;
  FillDialup(values.DialEntry);
}

std::string TWinMainWindow::TakePassword() {
  const std::string password = impl_->Text(IDC_PASSWORD);
  impl_->SetText(IDC_PASSWORD, {});
  return password;
}

// Only typing preselects: a loaded server keeps the stored choice.
void TMainWindowState::SmtpEdited() {
  const TSmtpSecurity byPort = SecurityForPort(Text(IDC_SMTP));
  if (byPort != TSmtpSecurity::None) {
    SendMessageW(Item(IDC_SECURITY), CB_SETCURSEL, static_cast<WPARAM>(byPort), 0);
  }
}

// The phone book's entries; the row greyed with the reason when it cannot
// be read. A chosen entry no longer there stays listed, so Ok keeps it.
void TMainWindowState::FillDialup(const std::string& chosen) {
  std::vector<std::string> items{kNone};
  std::string reason;
  try {
    TRasApi ras;
    for (const std::string& entry : ras.Entries()) items.push_back(entry);
  } catch (const std::exception& e) {
    reason = std::string("The dial-up phone book could not be read: ") + e.what();
  }
  auto found = std::find(items.begin() + 1, items.end(), chosen);
  if (!chosen.empty() && found == items.end()) found = items.insert(items.end(), chosen);
  const int index = chosen.empty() ? 0 : static_cast<int>(found - items.begin());
  FillCombo(Item(IDC_DIAL_ENTRY), items, index);
  const std::string tip =
      reason.empty() ? std::string("Tolvane brings this connection up before it sends") : reason;
  for (int id : {IDC_DIAL_LABEL, IDC_DIAL_ENTRY, IDC_HANG_UP}) {
    EnableWindow(Item(id), reason.empty());
    SetTip(id, tip);
  }
}

void TWinMainWindow::LoadServers() {
  try {
    Servers.Load();
  } catch (...) {
    impl_->FillServerLists();
    throw;
  }
  impl_->FillServerLists();
}

void TMainWindowState::FillServerLists() {
  FillCombo(Item(IDC_FTP), self.Servers.cboFTPservers.Items, self.Servers.cboFTPservers.ItemIndex);
  FillCombo(Item(IDC_BINARY), self.Servers.cboHTTPServersBinary.Items,
            self.Servers.cboHTTPServersBinary.ItemIndex);
  FillCombo(Item(IDC_PAGES), self.Servers.cboHTTPServersPages.Items,
            self.Servers.cboHTTPServersPages.ItemIndex);
  ShowReplyHints();
}

// Answers that a spam filter swallows look like a service that never answers.
void TMainWindowState::ShowReplyHints() {
  const TServerChoice choice = self.Servers.Choice();
  const auto hint = [this](int id, const std::string& reply) {
    SetTip(id, reply.empty() ? std::string()
                             : "Answers come from " + reply + ": let it through your spam filter");
  };
  hint(IDC_PAGES, choice.PagesReply);
  hint(IDC_BINARY, choice.BinaryReply);
  hint(IDC_FTP, choice.FtpReply);
}

void TMainWindowState::ServerChosen(int id) {
  TServerList& servers = self.Servers;
  const int index = ComboIndex(Item(id));
  if (id == IDC_PAGES) {
    servers.cboHTTPServersPages.ItemIndex = index;
    servers.cboHTTPServersPagesChange();
  } else if (id == IDC_BINARY) {
    servers.cboHTTPServersBinary.ItemIndex = index;
    servers.cboHTTPServersBinaryChange();
  } else {
    servers.cboFTPservers.ItemIndex = index;
  }
  ShowReplyHints();
}

void TMainWindowState::ShowAutostart() { Check(IDC_AUTOSTART, AutostartEnabled(kAppId)); }

void TMainWindowState::AutostartClicked() {
  const bool wanted = Checked(IDC_AUTOSTART);
  // Whatever happens, the box ends showing the real state.
  struct Sync {
    TMainWindowState& state;
    ~Sync() { state.ShowAutostart(); }
  } sync{*this};
  if (!wanted) return DisableAutostart(kAppId);
  wchar_t program[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
  EnableAutostart(kAppId, Utf8Text(std::wstring_view(program, length)));
}

// The user's own copy of the server list, in the program that opens text
// files, or in Notepad when none does.
void TMainWindowState::EditServers() {
  const std::wstring path = WideText(MakeUserCopy("uservers.dat"));
  const auto opened = [](HINSTANCE result) { return reinterpret_cast<INT_PTR>(result) > 32; };
  if (opened(ShellExecuteW(dialog, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL))) return;
  const std::wstring quoted = L"\"" + path + L"\"";
  if (opened(
          ShellExecuteW(dialog, nullptr, L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL)))
    return;
  throw EFileError("No program opened \"" + Utf8Text(path) + "\"");
}

bool TMainWindowState::FieldMissing(const std::string& text, const char* caption, int helpTopic,
                                    int id) {
  if (HasContent(text)) return false;
  TopmostMessageDlg(EmptyFieldText(caption), TMsgDlgType::mtError, MB_OK, helpTopic, dialog);
  self.ShowCentred();
  Focus(id);
  return true;
}

bool TWinMainWindow::CheckRequiredFields() {
  const TSettings v = Values();
  return !impl_->FieldMissing(v.Email, kEmailCaption, 2000, IDC_EMAIL) &&
         !impl_->FieldMissing(v.Account.Smtp, kSmtpCaption, 2001, IDC_SMTP);
}

bool TWinMainWindow::CheckAddressField() {
  const std::string email = Values().Email;
  if (IsMailAddress(email)) return true;
  TopmostMessageDlg(NotAnAddressText(email), TMsgDlgType::mtError, MB_OK, 2000, impl_->dialog);
  ShowCentred();
  impl_->Focus(IDC_EMAIL);
  return false;
}

bool TWinMainWindow::CheckSendAtField() {
  const std::string at = Values().SendAt;
  if (at.empty() || SendAtMinutes(at) >= 0) return true;
  TopmostMessageDlg(NotATimeText(at), TMsgDlgType::mtError, MB_OK, 0, impl_->dialog);
  ShowCentred();
  impl_->Focus(IDC_SEND_AT);
  return false;
}
