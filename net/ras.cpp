#include "net/ras.h"

#include <algorithm>
#include <utility>

#include <QEventLoop>
#include <QString>

#include "platform/messages.h"

namespace {

RasMessageBoxHook& BoxHook() {
  static RasMessageBoxHook hook;
  return hook;
}

RasErrorHook& ErrorHook() {
  static RasErrorHook hook;
  return hook;
}

void ShowBox(const std::string& text) {
  if (BoxHook()) BoxHook()(text);
}

// Where a profile keeps the password that a dial may need.
struct SecretKey {
  const char* type;
  const char* setting;
  const char* key;
};
constexpr SecretKey kSecretKeys[] = {
    {"gsm", "gsm", "password"},
    {"cdma", "cdma", "password"},
    {"pppoe", "pppoe", "password"},
    {"802-3-ethernet", "802-1x", "password"},
    {"802-11-wireless", "802-11-wireless-security", "psk"},
};

}  // namespace

void SetRasMessageBoxHook(RasMessageBoxHook hook) { BoxHook() = std::move(hook); }
void SetRasErrorHook(RasErrorHook hook) { ErrorHook() = std::move(hook); }

namespace ras {

std::string StatusText(int state) {
  switch (state) {
    case kOpenPort:
      return "Opening the connection...";
    case kConnectDevice:
    case kDeviceConnected:
    case kAllDevicesConnected:
      return "Connecting the device...";
    case kAuthenticate:
    case kStartAuthentication:
      return "Verifying user name and password...";
    case kAuthenticated:
      return "Authenticated; getting a network address...";
    case kLogonNetwork:
      return "Logging on to the network...";
    case kConnected:
      return "Connected";
    default:
      return {};
  }
}

int StateOfActive(unsigned nmState) {
  switch (nmState) {
    case nm::kActivating:
      return kOpenPort;
    case nm::kActivated:
      return kConnected;
    case nm::kDeactivating:
    case nm::kDeactivated:
      return kDisconnected;
    default:
      return -1;
  }
}

int StateOfDevice(unsigned nmDeviceState) {
  switch (nmDeviceState) {
    case 40:  // prepare
      return kConnectDevice;
    case 50:  // config
      return kDeviceConnected;
    case 60:  // need-auth
      return kAuthenticate;
    case 70:  // ip-config
      return kAuthenticated;
    case 80:  // ip-check
    case 90:  // secondaries
      return kLogonNetwork;
    default:
      return -1;
  }
}

std::string ErrorText(int code) {
  // NetworkManager's reasons for deactivating a connection.
  switch (code) {
    case 1:
      return "The connection was closed before it was established";
    case 2:
      return "The connection was disconnected by the user";
    case 3:
      return "The device of the connection was disconnected";
    case 4:
      return "The service providing the connection was stopped";
    case 5:
      return "The IP configuration of the connection was invalid";
    case 6:
      return "The connection attempt timed out";
    case 7:
      return "The service providing the connection did not start in time";
    case 8:
      return "The service providing the connection failed to start";
    case 9:
      return "The password or other secrets of the connection were not available";
    case 10:
      return "The user name or password was refused";
    case 11:
      return "The connection profile was removed";
    case 12:
      return "A connection this one depends on failed";
    case 13:
      return "The device of the connection could not be created";
    case 14:
      return "The device of the connection was removed";
    case kErrorEntryNotFound:
      return "The connection profile was not found";
    default:
      return "RAS error no " + std::to_string(code);
  }
}

}  // namespace ras

TagRas::TagRas(QObject* parent) : TagRas(QDBusConnection::systemBus(), parent) {}

TagRas::TagRas(const QDBusConnection& bus, QObject* parent) : QObject(parent), nm_(bus) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &TagRas::TimerTick);
  nmPresent_ = nm_.Present();
  if (nmPresent_) {
    // Subscribed before any activation so that no early state change is lost.
    QDBusConnection c = nm_.Bus();
    c.connect(nm::kService, QString(), nm::kActiveIface, "StateChanged", this,
              SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
    c.connect(nm::kService, QString(), nm::kDeviceIface, "StateChanged", this,
              SLOT(DeviceStateChanged(uint, uint, uint, QDBusMessage)));
  }
  GetEntries();
}

TagRas::~TagRas() {
  if (nmPresent_) {
    QDBusConnection c = nm_.Bus();
    c.disconnect(nm::kService, QString(), nm::kActiveIface, "StateChanged", this,
                 SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
    c.disconnect(nm::kService, QString(), nm::kDeviceIface, "StateChanged", this,
                 SLOT(DeviceStateChanged(uint, uint, uint, QDBusMessage)));
  }
}

void TagRas::SetService(const std::string& value) {
  if (value.empty()) {
    service_.clear();
    return;
  }
  if (!RasAvailable()) {
    ShowBox("TagRas component was unable to detect\nRAS on your system.");
    return;
  }
  if (connected_) {
    ShowBox("This property can be set only before\nestablishing the connection");
    return;
  }
  GetEntries();
  const QString wanted = QString::fromStdString(value);
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const std::string& e) {
    return QString::fromStdString(e).compare(wanted, Qt::CaseInsensitive) == 0;
  });
  if (it == entries_.end()) {
    ShowBox("Invalid service name");
    service_.clear();
    return;
  }
  // The entry's own spelling, so that the exact match of FindConnection
  // recognises a line of this entry that is already up.
  service_ = *it;
}

const std::vector<std::string>& TagRas::GetEntries() {
  entries_.clear();
  if (!nmPresent_) return entries_;
  try {
    for (const NmProfile& p : nm_.Profiles()) entries_.push_back(p.id);
    lastError_ = 0;
  } catch (const NmCallError& e) {
    entries_.clear();
    lastError_ = ras::kErrorNetworkManager;
    lastErrorText_ = e.what();
  }
  return entries_;
}

ERASError TagRas::MakeError() const {
  if (!lastErrorText_.empty()) return ERASError(lastErrorText_);
  return ERASError(ras::ErrorText(lastError_));
}

void TagRas::RaiseNmError(const NmCallError& e) {
  lastError_ = ras::kErrorNetworkManager;
  lastErrorText_ = e.what();
  throw MakeError();
}

bool TagRas::FindConnection() {
  if (!nmPresent_) return false;
  std::vector<NmActive> lines;
  try {
    lines = nm_.ActiveConnections();
    lastError_ = 0;
  } catch (const NmCallError& e) {
    RaiseNmError(e);
  }
  for (const NmActive& a : lines) {
    if (a.state == nm::kActivated && a.id == service_ && a.path != dialHandle_) {
      dialHandle_ = a.path;
      return true;
    }
  }
  if (forceService_) return false;
  for (const NmActive& a : lines) {
    // The loopback profile has an address but leads nowhere.
    if (a.state != nm::kActivated || a.type == "loopback") continue;
    std::string address;
    try {
      address = nm_.Ipv4Address(a.path);
      lastError_ = 0;
    } catch (const NmCallError& e) {
      RaiseNmError(e);
    }
    if (!address.empty()) {
      dialHandle_ = a.path;
      return true;
    }
  }
  return false;
}

void TagRas::SupplyPassword(const NmProfile& profile) {
  NmSettings settings;
  try {
    settings = nm_.Settings(profile.path);
    lastError_ = 0;
  } catch (const NmCallError& e) {
    RaiseNmError(e);
  }
  const SecretKey* where = nullptr;
  for (const SecretKey& k : kSecretKeys) {
    if (profile.type == k.type && settings.contains(k.setting)) where = &k;
  }
  if (where == nullptr || password_.empty()) return;
  bool stored = false;
  try {
    const NmSettings secrets = nm_.Secrets(profile.path, where->setting);
    stored = !secrets.value(where->setting).value(where->key).toString().isEmpty();
  } catch (const NmCallError&) {
    // Secrets we may not read count as none stored.
  }
  if (stored) return;
  NmSettings with = settings;
  with[where->setting][where->key] = QString::fromStdString(password_);
  try {
    nm_.Update(profile.path, with, !removePassword_);
    lastError_ = 0;
  } catch (const NmCallError& e) {
    RaiseNmError(e);
  }
  if (removePassword_) restore_ = PasswordRestore{profile.path, settings};
}

void TagRas::RestorePassword() {
  if (!restore_) return;
  const PasswordRestore r = std::move(*restore_);
  restore_.reset();
  try {
    // Saved back as it was, without the password.
    nm_.Update(r.path, r.settings, true);
  } catch (const NmCallError&) {
    // The profile may have gone; nothing of ours is left to undo.
  }
}

void TagRas::Dial() {
  // Already holding a line this component brought up: keep it rather than
  // activating the profile again, which would drop the line.
  if (connected_ && dialedHere_ && !dialHandle_.empty()) {
    std::vector<NmActive> lines;
    try {
      lines = nm_.ActiveConnections();
    } catch (const NmCallError&) {
    }
    for (const NmActive& a : lines) {
      if (a.path == dialHandle_ && a.state == nm::kActivated) return;
    }
  }
  if (FindConnection() || service_.empty()) {
    connected_ = true;
    dialedHere_ = false;
    return;
  }
  if (!nmPresent_) return;

  dialedHere_ = true;
  dialHandle_.clear();
  dialDevices_.clear();
  connected_ = canceled_ = timedOut_ = false;
  pending_ = nullptr;
  lastErrorText_.clear();
  lastNotified_ = -1;

  std::vector<NmProfile> profiles;
  try {
    profiles = nm_.Profiles();
    lastError_ = 0;
  } catch (const NmCallError& e) {
    RaiseNmError(e);
  }
  auto profile = std::find_if(profiles.begin(), profiles.end(),
                              [&](const NmProfile& p) { return p.id == service_; });
  if (profile == profiles.end()) {
    lastError_ = ras::kErrorEntryNotFound;
    throw MakeError();
  }
  SupplyPassword(*profile);

  try {
    dialHandle_ = nm_.Activate(profile->path);
    lastError_ = 0;
  } catch (const NmCallError& e) {
    lastError_ = ras::kErrorNetworkManager;
    lastErrorText_ = e.what();
    RestorePassword();
    const ERASError error = MakeError();
    HangUp();
    throw error;
  }
  std::optional<unsigned> initial;
  try {
    dialDevices_ = nm_.ActiveDevices(dialHandle_);
    initial = nm_.ActiveState(dialHandle_);
  } catch (const NmCallError&) {
    // Gone already: its deactivation signal ends the wait.
  }
  if (initial) {
    // The state it was created in arrives as no signal.
    try {
      Notify(ras::StateOfActive(*initial), 0);
    } catch (...) {
      RestorePassword();
      HangUp();
      throw;
    }
  }

  timeLeft_ = timeOut_;
  timer_.start();
  WaitUntil([this] { return connected_ || lastError_ != 0 || canceled_ || timedOut_; });
  timer_.stop();
  RestorePassword();

  if (pending_) {
    const std::exception_ptr p = std::exchange(pending_, nullptr);
    HangUp();
    std::rethrow_exception(p);
  }
  if (lastError_ != 0) {
    const ERASError error = MakeError();
    HangUp();
    throw error;
  }
  if (canceled_) throw ECanceledError(MessageText(msg::kCanceled));
  if (timedOut_) {
    // A dial still under way when time runs out would come up unwatched.
    HangUp();
    throw ETimedOutError(MessageText(msg::kTimedOut));
  }

  if (minimizeAtConnect_) {
    // There is no system dial-up window to minimise here; the pause that
    // gave it time to appear stays.
    bool done = false;
    QTimer pause;
    pause.setSingleShot(true);
    connect(&pause, &QTimer::timeout, this, [&] {
      done = true;
      Wake();
    });
    pause.start(1000);
    WaitUntil([&] { return done; });
    RethrowPending();
  }
}

void TagRas::HangUp() {
  if (!nmPresent_) return;
  if (RasAvailable() && dialedHere_ && !dialHandle_.empty()) {
    const std::string handle = std::exchange(dialHandle_, std::string());
    dialedHere_ = false;
    connected_ = false;
    try {
      nm_.Deactivate(handle);
    } catch (const NmCallError&) {
      // Already gone.
    }
    if (OnDisconnected) OnDisconnected(*this);
  }
  connected_ = false;
  dialHandle_.clear();
  dialDevices_.clear();
}

void TagRas::Cancel() {
  HangUp();
  canceled_ = true;
  Wake();
}

void TagRas::Notify(int state, int error) {
  if (state != lastNotified_ || error != 0) {
    lastNotified_ = state;
    if (OnStatusChange) OnStatusChange(*this, ras::StatusText(state));
  }
  if (!connected_) connected_ = state == ras::kConnected;
  if (error != 0) {
    lastError_ = error;
    lastErrorText_.clear();
    if (connected_) throw MakeError();
  }
}

void TagRas::ActiveStateChanged(uint state, uint reason, const QDBusMessage& message) {
  if (!dialedHere_ || dialHandle_.empty() || message.path().toStdString() != dialHandle_) return;
  int error = 0;
  if (state == nm::kDeactivated) error = reason > 1 ? static_cast<int>(reason) : 1;
  Guard([&] { Notify(ras::StateOfActive(state), error); });
}

void TagRas::DeviceStateChanged(uint newState, uint, uint, const QDBusMessage& message) {
  if (!dialedHere_ || connected_ || dialHandle_.empty()) return;
  const std::string device = message.path().toStdString();
  if (std::find(dialDevices_.begin(), dialDevices_.end(), device) == dialDevices_.end()) return;
  const int state = ras::StateOfDevice(newState);
  if (state < 0) return;
  Guard([&] { Notify(state, 0); });
}

void TagRas::TimerTick() {
  const int before = timeLeft_;
  --timeLeft_;
  if (before == 1 && timeLeft_ == 0) {
    timedOut_ = true;
    Wake();
  }
}

// Runs a handler body in a slot: a failure goes to the wait that runs, or,
// when none runs, to the program's error hook; it never crosses the event loop.
void TagRas::Guard(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    if (!waits_.empty()) {
      pending_ = std::current_exception();
    } else if (ErrorHook()) {
      ErrorHook()(std::current_exception());
    }
  }
  Wake();
}

void TagRas::RethrowPending() {
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

void TagRas::WaitUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  waits_.push_back(&loop);
  while (!done() && !pending_) loop.exec();
  waits_.pop_back();
}

void TagRas::Wake() {
  for (QEventLoop* loop : waits_) loop->quit();
}
