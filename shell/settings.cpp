// The settings file TOLVANE.INI, read into the main window's values (its
// controls, once made) and written from them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>

#include "app/secrets.h"
#include "app/settings.h"
#include "base/debug_log.h"
#include "mail/headers.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/radio_group.h"
#include "shell/shell_state.h"

namespace {

// Blanks and control characters are not content.
bool IsBlank(const std::string& text) {
  for (unsigned char c : text) {
    if (c > ' ' && c != 127) return false;
  }
  return true;
}

}  // namespace

void TfrmProps::LoadSettings() {
  const std::string file = SettingsFilePath();
  Checkpoint = 1001;
  Checkpoint = 1002;
  values_.Email = ReadProfileString(file, "General", "Email");
  values_.Smtp = ReadProfileString(file, "Servers", "SMTP");
  LoadAccountSettings(file);

  Checkpoint = 1003;
  const int confirm = ReadProfileInteger(file, "General", "Confirm", 2);
  values_.Confirm = confirm > 2 ? 2 : (confirm < 0 ? -1 : confirm);

  Checkpoint = 1004;
  const int enabled = ReadProfileInteger(file, "General", "Enabled", 0);
  values_.Enabled = enabled > 1 ? 0 : (enabled < 0 ? -1 : enabled);

  Checkpoint = 1006;
  values_.CheckHistory = ReadProfileBool(file, "General", "CheckHistory", true);
  values_.KeepFailed = ReadKeepFailed(file);

  Checkpoint = 1007;
  Checkpoint = 1008;
  TrayIconDim = ReadProfileBool(file, "General", "TrayIconDim", false);
  Checkpoint = 1009;
  // Dim means disabled: a stored dim icon selects "&No", so copies are never
  // sent behind a dim icon.
  if (TrayIconDim) values_.Enabled = 1;
  if (controls_made_) ValuesToControls();
  UpdateTrayIcon();

  Checkpoint = 1010;
  TipNumber = ReadProfileInteger(file, "General", "TipNumber", 0);
  Checkpoint = 1011;
  TipEnabled = ReadProfileBool(file, "General", "TipEnabled", true);

  Checkpoint = 1012;
  WriteProfileString(file, "General", "LocalRoot", ProgramFolder());
  Checkpoint = 1013;
  settings_loaded_ = true;
}

void TfrmProps::SaveSettings() {
  const std::string file = SettingsFilePath();
  Checkpoint = 1101;
  Checkpoint = 1102;
  EnsureControls();  // Ok is pressed in the window; the server lists live there
  const TFormValues v = Values();
  WriteProfileString(file, "General", "Email", v.Email);
  WriteProfileString(file, "Servers", "SMTP", v.Smtp);
  WriteProfileString(file, "Servers", "SMTPSecurity", SecurityName(v.Security));
  WriteProfileString(file, "Servers", "SMTPUser", v.SmtpUser);
  Checkpoint = 1103;
  WriteProfileInteger(file, "General", "Confirm", v.Confirm);
  Checkpoint = 1104;
  WriteProfileInteger(file, "General", "Enabled", v.Enabled);
  Checkpoint = 1105;
  WriteProfileBool(file, "General", "CheckHistory", v.CheckHistory);
  WriteProfileBool(file, "General", "KeepFailed", v.KeepFailed);
  Checkpoint = 1106;
  WriteProfileString(file, "Servers", "FTP", cboFTPservers->currentText().toStdString());
  WriteProfileString(file, "Servers", "HTTPBinary",
                     cboHTTPServersBinary->currentText().toStdString());
  WriteProfileString(file, "Servers", "HTTPPages",
                     cboHTTPServersPages->currentText().toStdString());
  SavePassword();
  Checkpoint = 1199;
}

void TfrmProps::LoadAccountSettings(const std::string& file) {
  const std::string& smtp = values_.Smtp;
  values_.Security = SecurityForPort(smtp);
  try {
    values_.Security = ParseSecurity(ReadProfileString(file, "Servers", "SMTPSecurity"), smtp);
  } catch (const std::exception& e) {
    ShowError("LoadSettings", e.what());
  }
  // As the field gives it: without blanks around.
  values_.SmtpUser = QString::fromStdString(ReadProfileString(file, "Servers", "SMTPUser"))
                         .trimmed()
                         .toStdString();
}

TFormValues TfrmProps::Values() const {
  if (!controls_made_) return values_;
  TFormValues v;
  v.Email = txtEmail->text().toStdString();
  v.Smtp = txtSMTP->text().toStdString();
  v.Security = static_cast<TSmtpSecurity>(std::max(0, cboSMTPSecurity->currentIndex()));
  v.SmtpUser = txtSMTPUser->text().trimmed().toStdString();
  v.Confirm = optConfirm->ItemIndex();
  v.Enabled = optEnabled->ItemIndex();
  v.CheckHistory = chkCheckHistory->isChecked();
  v.KeepFailed = chkKeepFailed->isChecked();
  return v;
}

void TfrmProps::ValuesToControls() {
  txtEmail->setText(QString::fromStdString(values_.Email));
  txtSMTP->setText(QString::fromStdString(values_.Smtp));
  cboSMTPSecurity->setCurrentIndex(static_cast<int>(values_.Security));
  txtSMTPUser->setText(QString::fromStdString(values_.SmtpUser));
  txtSMTPPassword->clear();
  optConfirm->SetItemIndex(values_.Confirm);
  // Filling the controls is no click: the tray icon keeps its state.
  const bool dim = TrayIconDim;
  optEnabled->SetItemIndex(values_.Enabled);
  TrayIconDim = dim;
  chkCheckHistory->setChecked(values_.CheckHistory);
  chkKeepFailed->setChecked(values_.KeepFailed);
}

// The typed password goes to the keyring, never to the file; it also serves
// this run when the keyring cannot take it.
void TfrmProps::SavePassword() {
  if (!txtSMTPPassword) return;
  const std::string password = txtSMTPPassword->text().toStdString();
  txtSMTPPassword->clear();
  const TSmtpSettings account = SmtpSettings();
  if (password.empty() || account.User.empty()) return;
  const std::string host = SmtpHost(account.Smtp);
  RememberPassword(host, account.User, password);
  try {
    StorePassword(host, account.User, password);
  } catch (const std::exception& e) {
    ShowError("SaveSettings", std::string(e.what()) + "; it is kept until Tolvane ends");
  }
}

bool TfrmProps::CheckRequiredFields() {
  const TFormValues v = Values();
  return CheckField(v.Email, kEmailCaption, 2000, &TfrmProps::txtEmail) &&
         CheckField(v.Smtp, kSmtpCaption, 2001, &TfrmProps::txtSMTP);
}

bool TfrmProps::CheckAddressField() {
  const std::string email = Values().Email;
  if (IsMailAddress(email)) return true;
  TopmostMessageDlg("\"" + EscapeAccelerators(email) + "\" in " + kEmailCaption +
                        " is not an e-mail address. Type it as name@example.org, or as "
                        "Your Name <name@example.org>",
                    TMsgDlgType::mtError, QMessageBox::Ok | QMessageBox::Help, 2000, this);
  ShowCentred();
  txtEmail->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmProps::CheckField(const std::string& text, const char* caption, int helpTopic,
                           QLineEdit* TfrmProps::*field) {
  if (!IsBlank(text)) return true;
  TopmostMessageDlg(std::string("The required field, ") + caption + " is empty",
                    TMsgDlgType::mtError, QMessageBox::Ok | QMessageBox::Help, helpTopic, this);
  ShowCentred();
  (this->*field)->setFocus(Qt::OtherFocusReason);
  return false;
}

void SaveTipSettings() {
  const std::string file = SettingsFilePath();
  WriteProfileInteger(file, "General", "TipNumber", TipNumber);
  WriteProfileBool(file, "General", "TipEnabled", TipEnabled);
  TfrmProps* main = frmProps();
  if (main && main->chkShowTips) main->chkShowTips->setChecked(TipEnabled);
}
