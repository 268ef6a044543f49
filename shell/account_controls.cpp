// The main window's rows for securing and signing in to the mail server, and
// for holding requests to send them together.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "app/settings.h"
#include "platform/folders.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/ui_style.h"

void TfrmProps::CreateAccountControls() {
  GroupBox3 = Place(new QGroupBox("Mail server sign-in", this), "GroupBox3", 8, 412, 529, 61);
  StaticText7 = Place(new QLabel("Connection securi&ty", GroupBox3), "StaticText7", 8, 16, 161, 17);
  cboSMTPSecurity = Place(new QComboBox(GroupBox3), "cboSMTPSecurity", 8, 32, 161, 21);
  cboSMTPSecurity->addItems({"None (port 25)", "STARTTLS (port 587)", "TLS (port 465)"});
  cboSMTPSecurity->setToolTip("How the connection to the mail server is encrypted");
  StaticText7->setBuddy(cboSMTPSecurity);
  StaticText8 = Place(new QLabel("&Login name", GroupBox3), "StaticText8", 180, 16, 165, 17);
  txtSMTPUser = Place(new QLineEdit(GroupBox3), "txtSMTPUser", 180, 32, 165, 21);
  txtSMTPUser->setToolTip("Your user name at the mail server; empty when it needs none");
  StaticText8->setBuddy(txtSMTPUser);
  StaticText9 = Place(new QLabel("Pass&word", GroupBox3), "StaticText9", 356, 16, 165, 17);
  txtSMTPPassword = Place(new QLineEdit(GroupBox3), "txtSMTPPassword", 356, 32, 165, 21);
  txtSMTPPassword->setEchoMode(QLineEdit::Password);
  txtSMTPPassword->setPlaceholderText("kept in the keyring");
  txtSMTPPassword->setToolTip(
      "Ok stores it in the desktop keyring; leave it empty to keep the stored one");
  StaticText9->setBuddy(txtSMTPPassword);
  SetHelpTopic(GroupBox3, 22);

  // Only typing preselects: a loaded server keeps the stored choice.
  connect(txtSMTP, &QLineEdit::textEdited, this,
          [this](const QString& text) { Guarded(txtSMTP, [&] { txtSMTPEdited(text); }); });

  setTabOrder(txtSMTP, cboSMTPSecurity);
  setTabOrder(cboSMTPSecurity, txtSMTPUser);
  setTabOrder(txtSMTPUser, txtSMTPPassword);
}

void TfrmProps::txtSMTPEdited(const QString& text) {
  const TSmtpSecurity byPort = SecurityForPort(text.toStdString());
  if (byPort != TSmtpSecurity::None) cboSMTPSecurity->setCurrentIndex(static_cast<int>(byPort));
}

void TfrmProps::CreateCollectControls() {
  const int top = height();
  chkCollect = Place(new QCheckBox("Co&llect requests and send them together", this), "chkCollect",
                     8, top + 3, 300, 17);
  chkCollect->setToolTip(
      "Copies wait in the list as held until Send Now, tolvane --flush or the time on the right");
  StaticText10 = Place(new QLabel("&at (hh:mm)", this), "StaticText10", 320, top + 3, 80, 17);
  txtSendAt = Place(new QLineEdit(this), "txtSendAt", 404, top, 60, 21);
  txtSendAt->setPlaceholderText("hh:mm");
  txtSendAt->setToolTip("Each day at this time the held requests go; empty: only when you say");
  StaticText10->setBuddy(txtSendAt);
  for (QWidget* w : {static_cast<QWidget*>(chkCollect), static_cast<QWidget*>(txtSendAt)}) {
    SetHelpTopic(w, 23);
  }
  setTabOrder(chkKeepFailed, chkCollect);
  setTabOrder(chkCollect, txtSendAt);
  setFixedSize(width(), height() + 26);
}
