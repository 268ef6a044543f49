// The main window as a view of TOLVANE.INI: TSettings read into its values
// (its controls, once made) and taken back from them.
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
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/radio_group.h"
#include "shell/shell_state.h"

void TfrmProps::LoadSettings() {
  const std::string file = SettingsFilePath();
  Checkpoint = 1006;  // where a load can fail: KeepFailed written to a new file
  const TSettings stored = TSettings::Load(file);
  if (!stored.SecurityProblem.empty()) ShowError("LoadSettings", stored.SecurityProblem);

  Checkpoint = 1003;
  values_.Email = stored.Email;
  values_.Smtp = stored.Account.Smtp;
  values_.Security = stored.Account.Security;
  values_.SmtpUser = stored.Account.User;
  values_.Confirm = stored.Confirm;
  values_.Enabled = stored.Enabled;
  values_.CheckHistory = stored.CheckHistory;
  values_.KeepFailed = stored.KeepFailed;
  TrayIconDim = stored.TrayIconDim;
  if (controls_made_) ValuesToControls();
  UpdateTrayIcon();

  Checkpoint = 1010;
  TipNumber = stored.TipNumber;
  TipEnabled = stored.TipEnabled;

  Checkpoint = 1012;
  SaveLocalRoot(file, ProgramFolder());
  Checkpoint = 1013;
  settings_loaded_ = true;
}

void TfrmProps::SaveSettings() {
  Checkpoint = 1101;
  EnsureControls();  // Ok is pressed in the window; the server lists live there
  const TFormValues v = Values();
  TSettings s;
  s.Email = v.Email;
  s.Account.Smtp = v.Smtp;
  s.Account.Security = v.Security;
  s.Account.User = v.SmtpUser;
  s.Confirm = v.Confirm;
  s.Enabled = v.Enabled;
  s.CheckHistory = v.CheckHistory;
  s.KeepFailed = v.KeepFailed;
  s.FtpServer = cboFTPservers->currentText().toStdString();
  s.BinaryServer = cboHTTPServersBinary->currentText().toStdString();
  s.PagesServer = cboHTTPServersPages->currentText().toStdString();
  Checkpoint = 1102;
  s.Save(SettingsFilePath());
  SavePassword();
  Checkpoint = 1199;
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
  if (HasContent(text)) return true;
  TopmostMessageDlg(std::string("The required field, ") + caption + " is empty",
                    TMsgDlgType::mtError, QMessageBox::Ok | QMessageBox::Help, helpTopic, this);
  ShowCentred();
  (this->*field)->setFocus(Qt::OtherFocusReason);
  return false;
}

void SaveTipSettings() {
  SaveTips(SettingsFilePath(), TipNumber, TipEnabled);
  TfrmProps* main = frmProps();
  if (main && main->chkShowTips) main->chkShowTips->setChecked(TipEnabled);
}
