#include "net/nm_client.h"

#include <arpa/inet.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

namespace {

using VariantMapList = QList<QVariantMap>;
using UintListList = QList<QList<uint>>;

void RegisterTypes() {
  static const bool done = [] {
    qDBusRegisterMetaType<NmSettings>();
    qDBusRegisterMetaType<VariantMapList>();
    qDBusRegisterMetaType<UintListList>();
    return true;
  }();
  (void)done;
}

std::string Utf8(const QString& s) { return s.toStdString(); }

std::vector<std::string> Paths(const QVariant& v) {
  std::vector<std::string> out;
  for (const QDBusObjectPath& p : qdbus_cast<QList<QDBusObjectPath>>(v))
    out.push_back(Utf8(p.path()));
  return out;
}

}  // namespace

NmClient::NmClient(const QDBusConnection& bus) : bus_(bus) { RegisterTypes(); }

bool NmClient::Present() const {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
  const QDBusReply<bool> reply = bus_.interface()->isServiceRegistered(nm::kService);
  return reply.isValid() && reply.value();
}

QList<QVariant> NmClient::Call(const QString& path, const QString& iface, const QString& method,
                               const QList<QVariant>& args) const {
  QDBusMessage msg = QDBusMessage::createMethodCall(nm::kService, path, iface, method);
  msg.setArguments(args);
  const QDBusMessage reply = bus_.call(msg, QDBus::Block);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    std::string text = Utf8(reply.errorMessage());
    if (text.empty()) text = Utf8(reply.errorName());
    throw NmCallError(text);
  }
  return reply.arguments();
}

QVariant NmClient::Property(const QString& path, const QString& iface, const QString& name) const {
  const QList<QVariant> out = Call(path, "org.freedesktop.DBus.Properties", "Get", {iface, name});
  if (out.isEmpty()) throw NmCallError("Empty reply reading " + Utf8(name));
  return qdbus_cast<QDBusVariant>(out.at(0)).variant();
}

QVariantMap NmClient::AllProperties(const QString& path, const QString& iface) const {
  const QList<QVariant> out = Call(path, "org.freedesktop.DBus.Properties", "GetAll", {iface});
  if (out.isEmpty()) return {};
  return qdbus_cast<QVariantMap>(out.at(0));
}

std::vector<NmProfile> NmClient::Profiles() const {
  const QList<QVariant> out = Call(nm::kSettingsPath, nm::kSettingsIface, "ListConnections", {});
  std::vector<NmProfile> profiles;
  if (out.isEmpty()) return profiles;
  for (const std::string& path : Paths(out.at(0))) {
    const NmSettings s = Settings(path);
    const QVariantMap conn = s.value("connection");
    profiles.push_back(
        {path, Utf8(conn.value("id").toString()), Utf8(conn.value("type").toString())});
  }
  return profiles;
}

std::vector<NmActive> NmClient::ActiveConnections() const {
  std::vector<NmActive> list;
  for (const std::string& path :
       Paths(Property(nm::kManagerPath, nm::kManagerIface, "ActiveConnections"))) {
    QVariantMap props;
    try {
      props = AllProperties(QString::fromStdString(path), nm::kActiveIface);
    } catch (const NmCallError&) {
      continue;  // gone between the two calls
    }
    list.push_back({path, Utf8(props.value("Id").toString()), Utf8(props.value("Type").toString()),
                    props.value("State").toUInt()});
  }
  return list;
}

std::string NmClient::Ipv4Address(const std::string& activePath) const {
  const QString config = qdbus_cast<QDBusObjectPath>(Property(QString::fromStdString(activePath),
                                                              nm::kActiveIface, "Ip4Config"))
                             .path();
  if (config.isEmpty() || config == "/") return {};
  const QVariantMap props = AllProperties(config, nm::kIp4Iface);
  if (props.contains("AddressData")) {
    for (const QVariantMap& entry : qdbus_cast<VariantMapList>(props.value("AddressData"))) {
      const QString address = entry.value("address").toString();
      if (!address.isEmpty()) return Utf8(address);
    }
  }
  if (props.contains("Addresses")) {
    // Older form: (address, prefix, gateway) in network byte order.
    for (const QList<uint>& entry : qdbus_cast<UintListList>(props.value("Addresses"))) {
      if (entry.isEmpty() || entry.at(0) == 0) continue;
      in_addr a{};
      a.s_addr = entry.at(0);
      char text[INET_ADDRSTRLEN] = {};
      if (inet_ntop(AF_INET, &a, text, sizeof text) != nullptr) return text;
    }
  }
  return {};
}

unsigned NmClient::ActiveState(const std::string& activePath) const {
  return Property(QString::fromStdString(activePath), nm::kActiveIface, "State").toUInt();
}

std::vector<std::string> NmClient::ActiveDevices(const std::string& activePath) const {
  return Paths(Property(QString::fromStdString(activePath), nm::kActiveIface, "Devices"));
}

NmSettings NmClient::Settings(const std::string& profilePath) const {
  const QList<QVariant> out =
      Call(QString::fromStdString(profilePath), nm::kProfileIface, "GetSettings", {});
  if (out.isEmpty()) return {};
  return qdbus_cast<NmSettings>(out.at(0));
}

NmSettings NmClient::Secrets(const std::string& profilePath, const std::string& setting) const {
  const QList<QVariant> out = Call(QString::fromStdString(profilePath), nm::kProfileIface,
                                   "GetSecrets", {QString::fromStdString(setting)});
  if (out.isEmpty()) return {};
  return qdbus_cast<NmSettings>(out.at(0));
}

void NmClient::Update(const std::string& profilePath, const NmSettings& settings,
                      bool toDisk) const {
  Call(QString::fromStdString(profilePath), nm::kProfileIface, toDisk ? "Update" : "UpdateUnsaved",
       {QVariant::fromValue(settings)});
}

std::string NmClient::Activate(const std::string& profilePath) const {
  const QList<QVariant> out =
      Call(nm::kManagerPath, nm::kManagerIface, "ActivateConnection",
           {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(profilePath))),
            QVariant::fromValue(QDBusObjectPath("/")), QVariant::fromValue(QDBusObjectPath("/"))});
  if (out.isEmpty()) throw NmCallError("NetworkManager gave no active connection");
  return Utf8(qdbus_cast<QDBusObjectPath>(out.at(0)).path());
}

void NmClient::Deactivate(const std::string& activePath) const {
  Call(nm::kManagerPath, nm::kManagerIface, "DeactivateConnection",
       {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(activePath)))});
}
