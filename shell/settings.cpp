// The settings file TOLVANE.INI, read into the main window's controls and
// written from them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include "base/debug_log.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/outbox_road.h"
#include "shell/radio_group.h"
#include "shell/secrets.h"
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
  txtEmail->setText(QString::fromStdString(ReadProfileString(file, "General", "Email")));
  txtSMTP->setText(QString::fromStdString(ReadProfileString(file, "Servers", "SMTP")));
  LoadAccountSettings(file);

  Checkpoint = 1003;
  const int confirm = ReadProfileInteger(file, "General", "Confirm", 2);
  optConfirm->SetItemIndex(confirm > 2 ? 2 : (confirm < 0 ? -1 : confirm));

  Checkpoint = 1004;
  const int enabled = ReadProfileInteger(file, "General", "Enabled", 0);
  optEnabled->SetItemIndex(enabled > 1 ? 0 : (enabled < 0 ? -1 : enabled));
  UpdateTrayIcon();

  Checkpoint = 1006;
  chkCheckHistory->setChecked(ReadProfileBool(file, "General", "CheckHistory", true));
  chkKeepFailed->setChecked(ReadKeepFailed(file));

  Checkpoint = 1007;
  Checkpoint = 1008;
  TrayIconDim = ReadProfileBool(file, "General", "TrayIconDim", false);
  Checkpoint = 1009;
  // Dim means disabled: a stored dim icon selects "&No", so copies are never
  // sent behind a dim icon.
  if (TrayIconDim) optEnabled->SetItemIndex(1);
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
  WriteProfileString(file, "General", "Email", txtEmail->text().toStdString());
  WriteProfileString(file, "Servers", "SMTP", txtSMTP->text().toStdString());
  WriteProfileString(file, "Servers", "SMTPSecurity", SecurityName(SmtpSettings().Security));
  WriteProfileString(file, "Servers", "SMTPUser", txtSMTPUser->text().trimmed().toStdString());
  Checkpoint = 1103;
  WriteProfileInteger(file, "General", "Confirm", optConfirm->ItemIndex());
  Checkpoint = 1104;
  WriteProfileInteger(file, "General", "Enabled", optEnabled->ItemIndex());
  Checkpoint = 1105;
  WriteProfileBool(file, "General", "CheckHistory", chkCheckHistory->isChecked());
  WriteProfileBool(file, "General", "KeepFailed", chkKeepFailed->isChecked());
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
  const std::string smtp = txtSMTP->text().toStdString();
  TSmtpSecurity security = SecurityForPort(smtp);
  try {
    security = ParseSecurity(ReadProfileString(file, "Servers", "SMTPSecurity"), smtp);
  } catch (const std::exception& e) {
    ShowError("LoadSettings", e.what());
  }
  cboSMTPSecurity->setCurrentIndex(static_cast<int>(security));
  txtSMTPUser->setText(QString::fromStdString(ReadProfileString(file, "Servers", "SMTPUser")));
  txtSMTPPassword->clear();
}

// The typed password goes to the keyring, never to the file; it also serves
// this run when the keyring cannot take it.
void TfrmProps::SavePassword() {
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
  return CheckField(txtEmail, StaticText2, 2000) && CheckField(txtSMTP, StaticText3, 2001);
}

bool TfrmProps::CheckField(QLineEdit* field, QLabel* label, int helpTopic) {
  if (!IsBlank(field->text().toStdString())) return true;
  TopmostMessageDlg("The required field, " + label->text().toStdString() + " is empty",
                    TMsgDlgType::mtError, QMessageBox::Ok | QMessageBox::Help, helpTopic, this);
  ShowCentred();
  field->setFocus(Qt::OtherFocusReason);
  return false;
}

void SaveTipSettings() {
  const std::string file = SettingsFilePath();
  WriteProfileInteger(file, "General", "TipNumber", TipNumber);
  WriteProfileBool(file, "General", "TipEnabled", TipEnabled);
  if (TfrmProps* main = frmProps()) main->chkShowTips->setChecked(TipEnabled);
}
