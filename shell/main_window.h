// The main window: history, settings and server choice, hidden almost all
// the time. A view: the tray app gives it the settings to show and hears
// its Ok, Cancel and Unload.
#pragma once

#include <QDialog>
#include <QIcon>

#include <functional>
#include <memory>
#include <string>

#include "app/settings.h"
#include "app/settings_checks.h"
#include "app/version_texts.h"
#include "core/server_list.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class TRadioGroup;
class TVersionLabel;

class TfrmProps : public QDialog {
  Q_OBJECT

 public:
  // When the controls are made: the tray program makes them on the first
  // show, since controls load the fonts and the window mostly stays hidden.
  enum class TControls { Now, OnFirstShow };
  explicit TfrmProps(TControls controls = TControls::Now);
  ~TfrmProps() override;

  // Makes the controls and fills them with the values held so far; once.
  void EnsureControls();
  bool ControlsMade() const { return controls_made_; }
  // The settings as the controls show them now (or as held before they
  // exist), with the request servers the drop-down lists choose.
  TSettings Values() const;
  // Shows `settings`; the keys the window has no control for are kept and
  // come back with Values().
  void SetValues(const TSettings& settings);
  // Chooses optEnabled's item, whether or not the controls exist.
  void SetEnabledIndex(int index);
  // The tip switch's box.
  void SetShowTips(bool on);
  // The password typed since the last call; the field is emptied.
  std::string TakePassword();
  void setVisible(bool visible) override;

  static constexpr const char* kEmailCaption = ::kEmailCaption;
  static constexpr const char* kSmtpCaption = ::kSmtpCaption;

  // Fills the drop-down lists from the server list; raises what Load
  // raises, the lists then empty.
  void LoadServers();
  // Both required fields hold text; otherwise says which is empty and
  // shows the window with the focus there.
  bool CheckRequiredFields();
  // Ok's further check: the address field holds an e-mail address.
  bool CheckAddressField();
  // The time to send held requests is empty or a time of day.
  bool CheckSendAtField();

  // Handlers, named after their control and event.
  void btnHelpClick();
  void mnuHelpClick();
  void cboHTTPServersPagesChange();
  void cboHTTPServersBinaryChange();
  void cboFTPserversChange();
  void SuperDebugQuestion();

  // Centres the window on its screen, shows it and brings it to the front.
  void ShowCentred();

  // Adds an item to the history menu above "&Help"; `onClick` runs guarded,
  // for as long as `context` lives.
  QAction* AddMenuAction(const char* caption, const char* name, QObject* context,
                         std::function<void()> onClick);

  // Visible controls, in tab order.
  QLabel* StaticText1 = nullptr;
  TVersionLabel* VersionLabel2 = nullptr;
  QListWidget* lstHistory = nullptr;
  TRadioGroup* optEnabled = nullptr;
  TRadioGroup* optConfirm = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* StaticText2 = nullptr;
  QLineEdit* txtEmail = nullptr;
  QLabel* StaticText3 = nullptr;
  QLineEdit* txtSMTP = nullptr;
  QCheckBox* chkCheckHistory = nullptr;
  QCheckBox* chkKeepFailed = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLabel* StaticText4 = nullptr;
  QComboBox* cboHTTPServersPages = nullptr;
  QLabel* StaticText5 = nullptr;
  QComboBox* cboHTTPServersBinary = nullptr;
  QLabel* StaticText6 = nullptr;
  QComboBox* cboFTPservers = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnUnload = nullptr;
  QPushButton* btnHelp = nullptr;
  QCheckBox* chkShowTips = nullptr;
  QPushButton* btnNow = nullptr;
  QCheckBox* chkAutostart = nullptr;  // shell/desktop_controls.h
  QPushButton* btnEditServers = nullptr;
  // Securing and signing in to the mail server.
  QGroupBox* GroupBox3 = nullptr;
  QLabel* StaticText7 = nullptr;
  QComboBox* cboSMTPSecurity = nullptr;  // items in TSmtpSecurity order
  QLabel* StaticText8 = nullptr;
  QLineEdit* txtSMTPUser = nullptr;
  QLabel* StaticText9 = nullptr;
  QLineEdit* txtSMTPPassword = nullptr;  // never shown filled; Ok moves it to the keyring
  // Holding requests to send them together.
  QCheckBox* chkCollect = nullptr;
  QLabel* StaticText10 = nullptr;
  QLineEdit* txtSendAt = nullptr;

  QMenu* PopupMenu1;
  QAction* mnuHelp;
  // The server list behind the three drop-down lists.
  TServerList Servers;

 signals:
  void controlsCreated();
  void okClicked();
  void cancelClicked();
  void unloadClicked();
  // optEnabled was clicked: the item chosen.
  void enabledClicked(int index);
  void showTipsClicked(bool on);
  void nowClicked();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void CreateControls();
  void CreateAccountControls();
  void CreateCollectControls();
  void txtSMTPEdited(const QString& text);
  void PlaceCentred();
  void ShowServerLists();
  void ShowReplyHints();
  bool CheckField(const std::string& text, const char* caption, int helpTopic,
                  QLineEdit* TfrmProps::*field);
  void ValuesToControls();

  // Until the controls are made the window holds the values itself.
  TSettings values_;
  bool show_tips_ = false;
  bool filling_ = false;  // optEnabled changes by code, not by a click
  bool controls_made_ = false;
};
