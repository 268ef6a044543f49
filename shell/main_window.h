// The main window: history, settings and server choice. Hidden almost all
// the time; it owns the tray icon and the 6-second timer.
#pragma once

#include <QDialog>
#include <QIcon>

#include <functional>
#include <memory>
#include <string>

#include "app/smtp_settings.h"
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
class QTimer;
class TJustOne32;
class TPreviousInstance;
class TRadioGroup;
class TTaskIcon;
class TVersionLabel;

// What the settings controls hold. Until the controls are made the window
// keeps these itself; once made, the controls hold them.
struct TFormValues {
  std::string Email;
  std::string Smtp;
  TSmtpSecurity Security = TSmtpSecurity::None;
  std::string SmtpUser;
  int Confirm = -1;  // optConfirm's item; none chosen
  int Enabled = 1;   // optEnabled's item: "&No" as designed
  bool CheckHistory = false;
  bool KeepFailed = false;
};

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
  // When the controls are made: the tray program makes them on the first
  // show, since controls load the fonts and the window mostly stays hidden.
  enum class TControls { Now, OnFirstShow };
  explicit TfrmProps(const TPreviousInstance* previous = nullptr,
                     TControls controls = TControls::Now);
  ~TfrmProps() override;

  // Makes the controls and fills them with the values held so far; once.
  void EnsureControls();
  bool ControlsMade() const { return controls_made_; }
  // The values as the controls show them now, or as held before they exist.
  TFormValues Values() const;
  // Chooses optEnabled's item, whether or not the controls exist.
  void SetEnabledIndex(int index);
  void setVisible(bool visible) override;

  static constexpr const char* kEmailCaption = "A&ddress";
  static constexpr const char* kSmtpCaption = "&SMTP server address";

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

  // Adds an item to the history menu above "&Help"; `onClick` runs guarded,
  // for as long as `context` lives.
  QAction* AddMenuAction(const char* caption, const char* name, QObject* context,
                         std::function<void()> onClick);

  int TickCount() const { return tick_count_; }
  void SetTickCount(int ticks) { tick_count_ = ticks; }

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

 signals:
  void controlsCreated();

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
  void SavePassword();
  void FormCreate();
  void FormDestroy();
  void LoadServers();
  void PlaceCentred();
  void ShowServerLists();
  bool CheckField(const std::string& text, const char* caption, int helpTopic,
                  QLineEdit* TfrmProps::*field);
  // Ok's further check: the address field holds an e-mail address.
  bool CheckAddressField();
  void ValuesToControls();

  TFormValues values_;
  bool controls_made_ = false;
  bool end_process_ = false;
  bool settings_loaded_ = false;
  int tick_count_ = 0;
};

// The main window while it exists.
TfrmProps* frmProps();

// The application's handler for an error that escaped an event handler of
// `receiver`: the error box with the receiver's class as the place.
void AppException(const QObject* receiver, const std::string& message);
void AppExceptionAt(const char* where, const std::string& message);

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
