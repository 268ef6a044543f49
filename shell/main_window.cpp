#include "shell/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "platform/folders.h"
#include "shell/desktop_controls.h"
#include "shell/dialup_controls.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/radio_group.h"
#include "shell/ui_style.h"
#include "shell/version_label.h"
#include "shell/version_record.h"

TfrmProps::TfrmProps(TControls controls)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint),
      Servers(SettingsFilePath()) {
  setObjectName("frmProps");
  setWindowTitle("Tolvane");
  setWindowIcon(LoadIcon("bright", QStyle::SP_ComputerIcon));
  move(83, 48);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  mnuHelp = PopupMenu1->addAction("&Help");
  mnuHelp->setObjectName("mnuHelp");
  connect(mnuHelp, &QAction::triggered, this,
          [this] { Guarded(mnuHelp, [&] { mnuHelpClick(); }); });

  // The window sees key presses before its controls do.
  qApp->installEventFilter(this);
  if (controls == TControls::Now) EnsureControls();
}

TfrmProps::~TfrmProps() = default;

void TfrmProps::EnsureControls() {
  if (controls_made_) return;
  controls_made_ = true;
  CreateControls();
  ValuesToControls();
  ShowServerLists();
  chkShowTips->setChecked(show_tips_);
  emit controlsCreated();
}

void TfrmProps::setVisible(bool visible) {
  if (visible) EnsureControls();
  QDialog::setVisible(visible);
}

void TfrmProps::CreateControls() {
  setFont(FormFont());
  setStyleSheet(GroupBoxStyle());
  setFixedSize(541, 503);  // the mail server row and the keep-failed row below the groups

  StaticText1 = Place(new QLabel("Histor&y", this), "StaticText1", 8, 3, 42, 17);
  VersionLabel2 = Place(new TVersionLabel(this), "VersionLabel2", 104, 3, 421, 13);
  VersionLabel2->SetAutoSize(false);
  VersionLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  VersionLabel2->SetInfoPrefix(VersionPrefix());
  VersionLabel2->setGeometry(104, 3, 421, 13);

  lstHistory = Place(new QListWidget(this), "lstHistory", 5, 23, 532, 122);
  lstHistory->setUniformItemSizes(true);
  lstHistory->setContextMenuPolicy(Qt::PreventContextMenu);  // opened by code
  SetHelpTopic(lstHistory, 9);
  StaticText1->setBuddy(lstHistory);

  optEnabled =
      Place(new TRadioGroup("Enabled", {"Y&es", "&No"}, 2, this), "optEnabled", 8, 152, 257, 33);
  optEnabled->setToolTip("When to make Tolvane active");
  SetHelpTopic(optEnabled, 2);
  optEnabled->SetItemIndex(1);  // as designed; the settings replace it
  // Filling the controls is no click.
  optEnabled->OnClick = [this] {
    if (!filling_) emit enabledClicked(optEnabled->ItemIndex());
  };

  optConfirm = Place(new TRadioGroup("When requesting files or pages",
                                     {"&Ask me to confirm all requests",
                                      "Ask me to confirm &ZIP and EXE files only", "&Just do it"},
                                     1, this),
                     "optConfirm", 8, 192, 257, 73);
  optConfirm->setToolTip("User confirmation of requests");
  SetHelpTopic(optConfirm, 3);

  GroupBox1 = Place(new QGroupBox("My e-mail details", this), "GroupBox1", 8, 296, 257, 113);
  StaticText2 = Place(new QLabel(kEmailCaption, GroupBox1), "StaticText2", 8, 16, 48, 17);
  txtEmail = Place(new QLineEdit(GroupBox1), "txtEmail", 8, 32, 233, 21);
  txtEmail->setToolTip("Your e-mail address for delivery of pages and files");
  SetHelpTopic(txtEmail, 2000);
  StaticText2->setBuddy(txtEmail);
  StaticText3 = Place(new QLabel(kSmtpCaption, GroupBox1), "StaticText3", 8, 64, 112, 17);
  txtSMTP = Place(new QLineEdit(GroupBox1), "txtSMTP", 8, 80, 233, 21);
  txtSMTP->setToolTip("The mail server used to send mail");
  SetHelpTopic(txtSMTP, 2001);
  StaticText3->setBuddy(txtSMTP);
  connect(txtEmail, &QLineEdit::textChanged, this,
          [](const QString& text) { DebugLog("Email: " + text.toStdString()); });
  connect(txtSMTP, &QLineEdit::textChanged, this,
          [](const QString& text) { DebugLog("SMTP: " + text.toStdString()); });

  chkCheckHistory =
      Place(new QCheckBox("Don't &repeat requests", this), "chkCheckHistory", 8, 272, 249, 17);
  chkCheckHistory->setToolTip("Check History for duplicates");
  SetHelpTopic(chkCheckHistory, 17);
  chkKeepFailed =
      Place(new QCheckBox("Keep requests that could not be sent, and send them later", this),
            "chkKeepFailed", 8, 480, 521, 17);
  chkKeepFailed->setToolTip("Requests that failed while the line was down go out by themselves");

  GroupBox2 = Place(new QGroupBox("Servers", this), "GroupBox2", 272, 248, 265, 161);
  GroupBox2->setToolTip("Leave these as they are or consult Help on Server Choice");
  StaticText4 =
      Place(new QLabel("Http (www) server for &pages", GroupBox2), "StaticText4", 8, 16, 142, 17);
  cboHTTPServersPages = Place(new QComboBox(GroupBox2), "cboHTTPServersPages", 8, 32, 241, 21);
  SetHelpTopic(cboHTTPServersPages, 4);
  StaticText4->setBuddy(cboHTTPServersPages);
  StaticText5 = Place(new QLabel("Http (www) server for progra&m/binary files", GroupBox2),
                      "StaticText5", 8, 64, 205, 17);
  cboHTTPServersBinary = Place(new QComboBox(GroupBox2), "cboHTTPServersBinary", 8, 80, 241, 21);
  SetHelpTopic(cboHTTPServersBinary, 6);
  StaticText5->setBuddy(cboHTTPServersBinary);
  StaticText6 = Place(new QLabel("&Ftp server", GroupBox2), "StaticText6", 8, 112, 57, 17);
  cboFTPservers = Place(new QComboBox(GroupBox2), "cboFTPservers", 8, 128, 241, 21);
  SetHelpTopic(cboFTPservers, 7);
  StaticText6->setBuddy(cboFTPservers);
  connect(cboHTTPServersPages, &QComboBox::activated, this,
          [this] { Guarded(cboHTTPServersPages, [&] { cboHTTPServersPagesChange(); }); });
  connect(cboHTTPServersBinary, &QComboBox::activated, this,
          [this] { Guarded(cboHTTPServersBinary, [&] { cboHTTPServersBinaryChange(); }); });
  connect(cboFTPservers, &QComboBox::activated, this,
          [this] { Guarded(cboFTPservers, [&] { cboFTPserversChange(); }); });

  btnOk = Place(new QPushButton("&Ok", this), "btnOk", 472, 160, 60, 24);
  btnOk->setToolTip("Confirm the changes you made");
  btnOk->setDefault(true);
  btnOk->setAutoDefault(true);
  btnCancel = Place(new QPushButton("&Cancel", this), "btnCancel", 472, 184, 60, 24);
  btnCancel->setToolTip("Close without changes");
  btnCancel->setAutoDefault(false);
  btnUnload = Place(new QPushButton("&Unload", this), "btnUnload", 408, 184, 60, 24);
  btnUnload->setToolTip("Remove Tolvane from memory");
  btnUnload->setAutoDefault(false);
  SetHelpTopic(btnUnload, 19);
  btnHelp = Place(new QPushButton("&Help", this), "btnHelp", 408, 160, 60, 24);
  btnHelp->setAutoDefault(false);
  chkShowTips = Place(new QCheckBox("Show Tip Of The Day", this), "chkShowTips", 336, 220, 193, 17);
  btnNow = Place(new QPushButton("Now", this), "btnNow", 283, 219, 49, 21);
  btnNow->setAutoDefault(false);

  connect(btnOk, &QPushButton::clicked, this, &TfrmProps::okClicked);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmProps::cancelClicked);
  connect(btnUnload, &QPushButton::clicked, this, &TfrmProps::unloadClicked);
  connect(btnHelp, &QPushButton::clicked, this,
          [this] { Guarded(btnHelp, [&] { btnHelpClick(); }); });
  connect(btnNow, &QPushButton::clicked, this, &TfrmProps::nowClicked);
  connect(chkShowTips, &QCheckBox::clicked, this, &TfrmProps::showTipsClicked);

  // Tab order as the table lists the controls.
  QWidget* order[] = {lstHistory,
                      optEnabled->Button(0),
                      optEnabled->Button(1),
                      optConfirm->Button(0),
                      optConfirm->Button(1),
                      optConfirm->Button(2),
                      txtEmail,
                      txtSMTP,
                      chkCheckHistory,
                      cboHTTPServersPages,
                      cboHTTPServersBinary,
                      cboFTPservers,
                      btnOk,
                      btnCancel,
                      btnUnload,
                      btnHelp,
                      chkShowTips,
                      btnNow,
                      chkKeepFailed};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  CreateAccountControls();
  CreateCollectControls();
  AddDesktopControls(*this);
  AddDialupControls(*this);
  FitCaptions(this);
}

void TfrmProps::LoadServers() {
  try {
    Servers.Load();
  } catch (...) {
    ShowServerLists();
    throw;
  }
  ShowServerLists();
}

void TfrmProps::ShowServerLists() {
  if (!controls_made_) return;
  auto fill = [](QComboBox* box, const TServerCombo& model) {
    box->clear();
    for (const std::string& item : model.Items) box->addItem(QString::fromStdString(item));
    box->setCurrentIndex(model.ItemIndex);
  };
  fill(cboFTPservers, Servers.cboFTPservers);
  fill(cboHTTPServersBinary, Servers.cboHTTPServersBinary);
  fill(cboHTTPServersPages, Servers.cboHTTPServersPages);
  ShowReplyHints();
}

// Answers that a spam filter swallows look like a service that never answers.
void TfrmProps::ShowReplyHints() {
  const TServerChoice choice = Servers.Choice();
  const auto hint = [](QComboBox* box, const std::string& reply) {
    box->setToolTip(reply.empty() ? QString()
                                  : QString::fromStdString("Answers come from " + reply +
                                                           ": let it through your spam filter"));
  };
  hint(cboHTTPServersPages, choice.PagesReply);
  hint(cboHTTPServersBinary, choice.BinaryReply);
  hint(cboFTPservers, choice.FtpReply);
}

void TfrmProps::cboHTTPServersPagesChange() {
  Servers.cboHTTPServersPages.ItemIndex = cboHTTPServersPages->currentIndex();
  Servers.cboHTTPServersPagesChange();
  ShowReplyHints();
}

void TfrmProps::cboHTTPServersBinaryChange() {
  Servers.cboHTTPServersBinary.ItemIndex = cboHTTPServersBinary->currentIndex();
  Servers.cboHTTPServersBinaryChange();
  ShowReplyHints();
}

void TfrmProps::cboFTPserversChange() {
  Servers.cboFTPservers.ItemIndex = cboFTPservers->currentIndex();
  ShowReplyHints();
}

void TfrmProps::SetEnabledIndex(int index) {
  values_.Enabled = index;
  filling_ = true;
  if (optEnabled) optEnabled->SetItemIndex(index);
  filling_ = false;
}

void TfrmProps::SetShowTips(bool on) {
  show_tips_ = on;
  if (chkShowTips) chkShowTips->setChecked(on);
}

QAction* TfrmProps::AddMenuAction(const char* caption, const char* name, QObject* context,
                                  std::function<void()> onClick) {
  auto* action = new QAction(caption, PopupMenu1);
  action->setObjectName(name);
  PopupMenu1->insertAction(mnuHelp, action);
  connect(action, &QAction::triggered, context,
          [action, onClick = std::move(onClick)] { Guarded(action, onClick); });
  return action;
}

void TfrmProps::ShowCentred() {
  if (isMinimized()) showNormal();
  show();
  PlaceCentred();
  raise();
  activateWindow();
  // The window manager tells the size of its frame only after the first
  // mapping; centre again once it is known.
  const QSize outer = frameGeometry().size();
  QTimer::singleShot(150, this, [this, outer] {
    if (isVisible() && frameGeometry().size() != outer) PlaceCentred();
  });
}

void TfrmProps::PlaceCentred() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  const QSize outer = frameGeometry().size();
  const FormPlace place =
      PlaceForm(area.width(), area.height(), outer.width(), outer.height(), 0.5, 0.5);
  move(area.left() + place.left, area.top() + place.top);
}

void TfrmProps::btnHelpClick() { ShowHelpTopic(1); }

void TfrmProps::mnuHelpClick() { ShowHelpTopic(10); }

void TfrmProps::SuperDebugQuestion() {
  const std::string text =
      std::string("Super debug status is: ") + (SuperDebug ? "ON" : "OFF") + ". Change?";
  QMessageBox box(QMessageBox::Question, "Confirm", QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, isVisible() ? this : nullptr);
  box.setObjectName("SuperDebugBox");
  // Only No keeps the switch; any other close flips it.
  bool answeredNo = false;
  connect(&box, &QMessageBox::buttonClicked, &box,
          [&](QAbstractButton* b) { answeredNo = b == box.button(QMessageBox::No); });
  box.exec();
  if (!answeredNo) SuperDebug = !SuperDebug;
}

void TfrmProps::closeEvent(QCloseEvent* event) {
  if (isVisible()) {
    event->ignore();
    emit cancelClicked();
  } else {
    event->accept();
  }
}

// Escape is the Cancel button.
void TfrmProps::reject() { emit cancelClicked(); }

void TfrmProps::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Never sits minimised: the tray icon is the way back.
    QTimer::singleShot(0, this, [this] {
      if (!isMinimized()) return;  // brought back up meanwhile
      setWindowState(windowState() & ~Qt::WindowMinimized);
      hide();
    });
  }
}

bool TfrmProps::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const auto mods = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
  if (mods == (Qt::ControlModifier | Qt::AltModifier) && key->key() == Qt::Key_A) {
    Guarded(this, [this] { SuperDebugQuestion(); });
    return true;
  }
  return false;
}

void TfrmProps::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    const int topic = HelpTopicAt(focusWidget());
    ShowHelpTopic(topic ? topic : 1);
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmProps::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  raise();
  activateWindow();
}
