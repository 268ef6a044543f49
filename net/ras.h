// Dial-up networking: makes sure a network connection is up before a socket
// connects, and takes down a connection that it brought up itself.
// NetworkManager on D-Bus stands in for the dial-up service: connection
// profiles are the phone-book entries, active connections the open lines
// (their object path is the handle), the IPv4 address of an active connection
// its projection, and activation state changes the dial notifications.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTimer>

#include "net/nm_client.h"
#include "net/raslink.h"
#include "platform/errors.h"

class QEventLoop;

// The program's modal error box with one OK button; the shell installs it.
// Without one the boxes are not shown.
using RasMessageBoxHook = std::function<void(const std::string& text)>;
void SetRasMessageBoxHook(RasMessageBoxHook hook);

// Receives a failure that arrives while no wait of the component runs (a line
// it dialled drops later); the shell passes it to its exception handler.
using RasErrorHook = std::function<void(std::exception_ptr)>;
void SetRasErrorHook(RasErrorHook hook);

// Dial states the notifications report.
namespace ras {
inline constexpr int kOpenPort = 0;
inline constexpr int kConnectDevice = 2;
inline constexpr int kDeviceConnected = 3;
inline constexpr int kAllDevicesConnected = 4;
inline constexpr int kAuthenticate = 5;
inline constexpr int kAuthenticated = 14;
inline constexpr int kStartAuthentication = 19;
inline constexpr int kLogonNetwork = 21;
inline constexpr int kConnected = 8192;
inline constexpr int kDisconnected = 8193;

// Error codes of our own; NetworkManager's deactivation reasons keep theirs.
inline constexpr int kErrorEntryNotFound = 623;
inline constexpr int kErrorNetworkManager = 1000;

// Status text of a dial state; "" for states without one.
std::string StatusText(int state);
// Dial state of an active connection state and of a device state (-1: none).
int StateOfActive(unsigned nmState);
int StateOfDevice(unsigned nmDeviceState);
// Text of an error code: known deactivation reasons in words, else
// "RAS error no " and the code.
std::string ErrorText(int code);
}  // namespace ras

// A socket linked to it (TagSocket::SetRAS) dials at the start of Open and
// cancels at the end of Close.
class TagRas : public QObject, public TRasLink {
  Q_OBJECT

 public:
  using TRASNotifyEvent = std::function<void(TagRas& sender, const std::string& rasStatusStr)>;
  using TNotifyEvent = std::function<void(TagRas& sender)>;

  // Talks to NetworkManager on `bus` (the system bus by default).
  explicit TagRas(QObject* parent = nullptr);
  explicit TagRas(const QDBusConnection& bus, QObject* parent = nullptr);
  ~TagRas() override;

  TagRas(const TagRas&) = delete;
  TagRas& operator=(const TagRas&) = delete;

  // Published properties.
  const std::string& Service() const { return service_; }
  void SetService(const std::string& value);
  bool ForceService() const { return forceService_; }
  void SetForceService(bool value) { forceService_ = value; }
  bool MinimizeAtConnect() const { return minimizeAtConnect_; }
  void SetMinimizeAtConnect(bool value) { minimizeAtConnect_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  bool RemovePassword() const { return removePassword_; }
  void SetRemovePassword(bool value) { removePassword_ = value; }
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int seconds) { timeOut_ = seconds; }

  TRASNotifyEvent OnStatusChange;
  TNotifyEvent OnDisconnected;

  // State.
  const std::vector<std::string>& Entries() const { return entries_; }
  // Object path of the active connection in use; "" when none.
  const std::string& DialHandle() const { return dialHandle_; }
  bool DialedHere() const { return dialedHere_; }
  int TimeLeft() const { return timeLeft_; }
  // NetworkManager was on the bus when the component was made.
  bool NetworkManagerPresent() const { return nmPresent_; }
  int LastError() const { return lastError_; }
  bool Canceled() const { return canceled_; }
  bool TimedOut() const { return timedOut_; }
  bool Connected() const { return connected_; }

  // Operations.
  const std::vector<std::string>& GetEntries();
  bool RasAvailable() const { return !entries_.empty(); }
  bool FindConnection();
  void Dial() override;
  void HangUp();
  void Cancel() override;

 private Q_SLOTS:
  void ActiveStateChanged(uint state, uint reason, const QDBusMessage& message);
  void DeviceStateChanged(uint newState, uint oldState, uint reason, const QDBusMessage& message);
  void TimerTick();

 private:
  void Notify(int state, int error);
  [[noreturn]] void RaiseNmError(const NmCallError& e);
  ERASError MakeError() const;
  void SupplyPassword(const NmProfile& profile);
  void RestorePassword();
  void WaitUntil(const std::function<bool()>& done);
  void Wake();
  void Guard(const std::function<void()>& body);
  void RethrowPending();

  NmClient nm_;
  bool nmPresent_ = false;

  std::string service_;
  bool forceService_ = true;
  bool minimizeAtConnect_ = false;
  std::string password_;
  bool removePassword_ = true;
  int timeOut_ = 120;

  std::vector<std::string> entries_;
  std::string dialHandle_;
  std::vector<std::string> dialDevices_;
  bool dialedHere_ = false;
  int timeLeft_ = 0;
  int lastError_ = 0;
  std::string lastErrorText_;
  QTimer timer_;
  bool canceled_ = false;
  bool timedOut_ = false;
  bool connected_ = false;

  int lastNotified_ = -1;
  struct PasswordRestore {
    std::string path;
    NmSettings settings;
  };
  std::optional<PasswordRestore> restore_;
  std::vector<QEventLoop*> waits_;
  std::exception_ptr pending_;
};
