// The few NetworkManager calls the dial-up component needs, made with
// blocking QtDBus calls on the bus it is given. Failures of a call throw
// NmCallError with the text NetworkManager (or the bus) gave.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QMap>
#include <QString>
#include <QVariantMap>

// A connection profile's settings, a{sa{sv}} on the bus.
using NmSettings = QMap<QString, QVariantMap>;

namespace nm {
inline constexpr char kService[] = "org.freedesktop.NetworkManager";
inline constexpr char kManagerPath[] = "/org/freedesktop/NetworkManager";
inline constexpr char kManagerIface[] = "org.freedesktop.NetworkManager";
inline constexpr char kSettingsPath[] = "/org/freedesktop/NetworkManager/Settings";
inline constexpr char kSettingsIface[] = "org.freedesktop.NetworkManager.Settings";
inline constexpr char kProfileIface[] = "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr char kActiveIface[] = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr char kDeviceIface[] = "org.freedesktop.NetworkManager.Device";
inline constexpr char kIp4Iface[] = "org.freedesktop.NetworkManager.IP4Config";

// NMActiveConnectionState
inline constexpr unsigned kActivating = 1;
inline constexpr unsigned kActivated = 2;
inline constexpr unsigned kDeactivating = 3;
inline constexpr unsigned kDeactivated = 4;
}  // namespace nm

class NmCallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct NmProfile {
  std::string path;
  std::string id;
  std::string type;
};

struct NmActive {
  std::string path;
  std::string id;
  std::string type;
  unsigned state = 0;
};

class NmClient {
 public:
  explicit NmClient(const QDBusConnection& bus);

  const QDBusConnection& Bus() const { return bus_; }

  // NetworkManager owns its name on the bus.
  bool Present() const;

  // Connection profiles in NetworkManager's order.
  std::vector<NmProfile> Profiles() const;
  // Active connections in NetworkManager's order; ones that vanish while
  // being read are left out.
  std::vector<NmActive> ActiveConnections() const;
  // The first IPv4 address of an active connection, "" when it has none.
  std::string Ipv4Address(const std::string& activePath) const;
  unsigned ActiveState(const std::string& activePath) const;
  std::vector<std::string> ActiveDevices(const std::string& activePath) const;

  NmSettings Settings(const std::string& profilePath) const;
  NmSettings Secrets(const std::string& profilePath, const std::string& setting) const;
  // toDisk false keeps the change in NetworkManager's memory only.
  void Update(const std::string& profilePath, const NmSettings& settings, bool toDisk) const;

  // Returns the path of the new active connection.
  std::string Activate(const std::string& profilePath) const;
  void Deactivate(const std::string& activePath) const;

 private:
  QList<QVariant> Call(const QString& path, const QString& iface, const QString& method,
                       const QList<QVariant>& args) const;
  QVariant Property(const QString& path, const QString& iface, const QString& name) const;
  QVariantMap AllProperties(const QString& path, const QString& iface) const;

  QDBusConnection bus_;
};
