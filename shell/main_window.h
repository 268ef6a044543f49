// The main window: history, settings and server choice. Hidden almost all
// the time; it owns the tray icon and the 6-second timer.
#pragma once

#include <QDialog>
#include <QIcon>

#include <memory>
#include <string>

#include "core/server_list.h"
#include "shell/smtp_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class QTimer;
class TJustOne32;
class TPreviousInstance;
class TRadioGroup;
class TTaskIcon;
class TVersionLabel;

class TfrmProps : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 6000;
  static constexpr int kTicksPerDay = 14400;
  static constexpr std::size_t kLogKeep = 20000;

  // Builds the window, adds the tray icon, settles the single-instance
  // question and runs the creation steps. `previous` may be null (no other
  // instance is looked for). When this process must end (another instance
  // runs), EndThisProcess() is true and nothing else has been done.
  explicit TfrmProps(const TPreviousInstance* previous = nullptr);
  ~TfrmProps() override;

  bool EndThisProcess() const { return end_process_; }
  // The settings file was read at start-up (a failed start stops before).
  bool SettingsLoaded() const { return settings_loaded_; }

  // Settings (TOLVANE.INI).
  void LoadSettings();
  void SaveSettings();
  bool CheckRequiredFields();
  // The mail server's settings as the controls and TOLVANE.INI hold them now.
  TSmtpSettings SmtpSettings() const;

  // The tray icon as the dim flag says.
  void UpdateTrayIcon();

  // Handlers, named after their control and event.
  void btnOkClick();
  void btnCancelClick();
  void btnUnloadClick();
  void btnHelpClick();
  void btnNowClick();
  void chkShowTipsClick();
  void optEnabledClick();
  void mnuHelpClick();
  void TaskIcon1Click(QObject* sender);
  void TaskIcon1DblClick(QObject* sender);
  void TaskIcon1RightClick(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                           int x, int y);
  void Timer1Timer();
  void cboHTTPServersPagesChange();
  void cboHTTPServersBinaryChange();
  void cboFTPserversChange();
  void SuperDebugQuestion();

  // Centres the window on its screen, shows it and brings it to the front.
  void ShowCentred();

  int TickCount() const { return tick_count_; }
  void SetTickCount(int ticks) { tick_count_ = ticks; }

  // Visible controls, in tab order.
  QLabel* StaticText1;
  TVersionLabel* VersionLabel2;
  QListWidget* lstHistory;
  TRadioGroup* optEnabled;
  TRadioGroup* optConfirm;
  QGroupBox* GroupBox1;
  QLabel* StaticText2;
  QLineEdit* txtEmail;
  QLabel* StaticText3;
  QLineEdit* txtSMTP;
  QCheckBox* chkCheckHistory;
  QCheckBox* chkKeepFailed;
  QGroupBox* GroupBox2;
  QLabel* StaticText4;
  QComboBox* cboHTTPServersPages;
  QLabel* StaticText5;
  QComboBox* cboHTTPServersBinary;
  QLabel* StaticText6;
  QComboBox* cboFTPservers;
  QPushButton* btnOk;
  QPushButton* btnCancel;
  QPushButton* btnUnload;
  QPushButton* btnHelp;
  QCheckBox* chkShowTips;
  QPushButton* btnNow;
  QCheckBox* chkAutostart;  // shell/desktop_controls.h
  QPushButton* btnEditServers;
  // Securing and signing in to the mail server.
  QGroupBox* GroupBox3;
  QLabel* StaticText7;
  QComboBox* cboSMTPSecurity;  // items in TSmtpSecurity order
  QLabel* StaticText8;
  QLineEdit* txtSMTPUser;
  QLabel* StaticText9;
  QLineEdit* txtSMTPPassword;  // never shown filled; Ok moves it to the keyring

  // Non-visual parts.
  QIcon TrayIconImageBright;
  QIcon TrayIconImageDim;
  std::unique_ptr<TTaskIcon> TaskIcon1;
  QMenu* PopupMenu1;
  QAction* mnuHelp;
  std::unique_ptr<TJustOne32> JustOne321;
  QTimer* Timer1;
  // The server list behind the three drop-down lists.
  TServerList Servers;

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
  void txtSMTPEdited(const QString& text);
  void LoadAccountSettings(const std::string& file);
  void SavePassword();
  void FormCreate();
  void FormDestroy();
  void LoadServers();
  void PlaceCentred();
  void ShowServerLists();
  bool CheckField(QLineEdit* field, QLabel* label, int helpTopic);

  bool end_process_ = false;
  bool settings_loaded_ = false;
  int tick_count_ = 0;
};

// The main window while it exists.
TfrmProps* frmProps();

// The application's handler for an error that escaped an event handler of
// `receiver`: the error box with the receiver's class as the place.
void AppException(const QObject* receiver, const std::string& message);

// Runs `handler`, turning an escaping error into AppException(receiver).
template <class Handler>
void Guarded(const QObject* receiver, Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    AppException(receiver, e.what());
  } catch (...) {
    AppException(receiver, "Unknown error");
  }
}

// Writes TipNumber and TipEnabled, then sets the main window's box.
void SaveTipSettings();

// The file of a tray icon picture beside the program.
std::string IconPath(const std::string& name);
