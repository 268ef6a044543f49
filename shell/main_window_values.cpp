// The main window's settings controls: filled from TSettings and read back.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>

#include "app/settings_checks.h"
#include "mail/headers.h"
#include "shell/dialogs.h"
#include "shell/dialup_controls.h"
#include "shell/main_window.h"
#include "shell/radio_group.h"

TSettings TfrmProps::Values() const {
  TSettings v = values_;
  if (!controls_made_) {
    v.PagesServer = Servers.cboHTTPServersPages.Text();
    v.BinaryServer = Servers.cboHTTPServersBinary.Text();
    v.FtpServer = Servers.cboFTPservers.Text();
    return v;
  }
  v.PagesServer = cboHTTPServersPages->currentText().toStdString();
  v.BinaryServer = cboHTTPServersBinary->currentText().toStdString();
  v.FtpServer = cboFTPservers->currentText().toStdString();
  v.Email = txtEmail->text().toStdString();
  v.Account.Smtp = txtSMTP->text().toStdString();
  v.Account.Security = static_cast<TSmtpSecurity>(std::max(0, cboSMTPSecurity->currentIndex()));
  v.Account.User = txtSMTPUser->text().trimmed().toStdString();
  v.Confirm = optConfirm->ItemIndex();
  v.Enabled = optEnabled->ItemIndex();
  v.CheckHistory = chkCheckHistory->isChecked();
  v.KeepFailed = chkKeepFailed->isChecked();
  v.Collect = chkCollect->isChecked();
  v.SendAt = txtSendAt->text().trimmed().toStdString();
  ReadDialup(*this, v);
  return v;
}

void TfrmProps::SetValues(const TSettings& settings) {
  values_ = settings;
  if (controls_made_) ValuesToControls();
}

void TfrmProps::ValuesToControls() {
  txtEmail->setText(QString::fromStdString(values_.Email));
  txtSMTP->setText(QString::fromStdString(values_.Account.Smtp));
  cboSMTPSecurity->setCurrentIndex(static_cast<int>(values_.Account.Security));
  txtSMTPUser->setText(QString::fromStdString(values_.Account.User));
  txtSMTPPassword->clear();
  optConfirm->SetItemIndex(values_.Confirm);
  filling_ = true;
  optEnabled->SetItemIndex(values_.Enabled);
  filling_ = false;
  chkCheckHistory->setChecked(values_.CheckHistory);
  chkKeepFailed->setChecked(values_.KeepFailed);
  chkCollect->setChecked(values_.Collect);
  txtSendAt->setText(QString::fromStdString(values_.SendAt));
  ShowDialup(*this, values_);
}

std::string TfrmProps::TakePassword() {
  if (!txtSMTPPassword) return {};
  const std::string password = txtSMTPPassword->text().toStdString();
  txtSMTPPassword->clear();
  return password;
}

bool TfrmProps::CheckRequiredFields() {
  const TSettings v = Values();
  return CheckField(v.Email, kEmailCaption, 2000, &TfrmProps::txtEmail) &&
         CheckField(v.Account.Smtp, kSmtpCaption, 2001, &TfrmProps::txtSMTP);
}

bool TfrmProps::CheckAddressField() {
  const std::string email = Values().Email;
  if (IsMailAddress(email)) return true;
  TopmostMessageDlg(NotAnAddressText(EscapeAccelerators(email)), TMsgDlgType::mtError,
                    QMessageBox::Ok | QMessageBox::Help, 2000, this);
  ShowCentred();
  txtEmail->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmProps::CheckSendAtField() {
  const std::string at = Values().SendAt;
  if (at.empty() || SendAtMinutes(at) >= 0) return true;
  TopmostMessageDlg(NotATimeText(EscapeAccelerators(at)), TMsgDlgType::mtError, QMessageBox::Ok, 0,
                    this);
  ShowCentred();
  txtSendAt->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmProps::CheckField(const std::string& text, const char* caption, int helpTopic,
                           QLineEdit* TfrmProps::*field) {
  if (HasContent(text)) return true;
  TopmostMessageDlg(EmptyFieldText(caption), TMsgDlgType::mtError,
                    QMessageBox::Ok | QMessageBox::Help, helpTopic, this);
  ShowCentred();
  (this->*field)->setFocus(Qt::OtherFocusReason);
  return false;
}
