#include "ras_mock.h"

#include <stdexcept>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFile>
#include <QProcessEnvironment>
#include <QTimer>
#include <QUuid>

#include "net_support.h"

namespace {

constexpr char kMainPath[] = "/org/freedesktop";
constexpr char kTestIface[] = "org.tolvane.Test";

// Runs inside the mock before each piece of test code.
constexpr char kPrelude[] = R"PY(
import dbus
NM = objects['/org/freedesktop/NetworkManager']
SETTINGS = objects['/org/freedesktop/NetworkManager/Settings']
ACTIVE = 'org.freedesktop.NetworkManager.Connection.Active'
DEVICE = 'org.freedesktop.NetworkManager.Device'
def set_state(path, st, reason=1):
    objects[path].Set(ACTIVE, 'State', dbus.UInt32(st))
    objects[path].EmitSignal(ACTIVE, 'StateChanged', 'uu', [dbus.UInt32(st), dbus.UInt32(reason)])
def device_state(path, st):
    objects[path].EmitSignal(DEVICE, 'StateChanged', 'uuu', [dbus.UInt32(st), dbus.UInt32(0), dbus.UInt32(0)])
def calls(obj, name):
    return ' '.join(str(c[2][0]) for c in obj.call_log if c[1] == name)
)PY";

// The Run method: the test's code sees the mock's own names plus the prelude.
constexpr char kRunCode[] =
    "g = dict(globals())\n"
    "g.update(locals())\n"
    "exec(args[0], g)\n"
    "ret = str(g.get('out', ''))\n";

// A Python string literal; the bytes of UTF-8 text pass through as they are.
std::string PyLiteral(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

NmMock::NmMock(bool withNetworkManager) {
  EnsureApp();
  if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
  const QString config = dir_.filePath("bus.conf");
  QFile f(config);
  if (!f.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write bus.conf");
  f.write(
      QString(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
          .arg(dir_.path())
          .toUtf8());
  f.close();

  daemon_ = std::make_unique<QProcess>();
  daemon_->setProgram("dbus-daemon");
  daemon_->setArguments(
      {"--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"});
  daemon_->setProcessChannelMode(QProcess::SeparateChannels);
  daemon_->start();
  if (!daemon_->waitForStarted(10000)) throw std::runtime_error("dbus-daemon did not start");
  while (!daemon_->canReadLine()) {
    if (!daemon_->waitForReadyRead(10000)) throw std::runtime_error("dbus-daemon gave no address");
  }
  address_ = daemon_->readLine().trimmed().toStdString();

  const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
  busName_ = "ras-bus-" + id;
  controlName_ = "ras-control-" + id;
  QDBusConnection control =
      QDBusConnection::connectToBus(QString::fromStdString(address_), controlName_);
  if (!control.isConnected()) throw std::runtime_error("cannot connect to the private bus");
  if (!withNetworkManager) return;

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(address_));
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", QString::fromStdString(address_));
  mock_ = std::make_unique<QProcess>();
  mock_->setProcessEnvironment(env);
  mock_->setProgram("/usr/bin/python3");
  mock_->setArguments({"-m", "dbusmock", "--session", "--template", "networkmanager", "--logfile",
                       dir_.filePath("mock.log")});
  mock_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  mock_->setStandardOutputFile(QProcess::nullDevice());
  mock_->start();
  if (!mock_->waitForStarted(10000)) throw std::runtime_error("dbusmock did not start");

  // Wait on the event loop until NetworkManager's name appears.
  QDBusServiceWatcher watcher("org.freedesktop.NetworkManager", control,
                              QDBusServiceWatcher::WatchForRegistration);
  QEventLoop loop;
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
  QObject::connect(mock_.get(), &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  if (!control.interface()->isServiceRegistered("org.freedesktop.NetworkManager").value())
    loop.exec();
  if (!control.interface()->isServiceRegistered("org.freedesktop.NetworkManager").value())
    throw std::runtime_error("the NetworkManager mock did not appear on the bus");

  QDBusMessage add = QDBusMessage::createMethodCall("org.freedesktop.NetworkManager", kMainPath,
                                                    "org.freedesktop.DBus.Mock", "AddMethod");
  add.setArguments(
      {QString(kTestIface), QString("Run"), QString("s"), QString("s"), QString(kRunCode)});
  const QDBusMessage reply = control.call(add);
  if (reply.type() != QDBusMessage::ReplyMessage)
    throw std::runtime_error("AddMethod failed: " + reply.errorMessage().toStdString());
}

NmMock::~NmMock() {
  QDBusConnection::disconnectFromBus(busName_);
  QDBusConnection::disconnectFromBus(controlName_);
  for (QProcess* p : {mock_.get(), daemon_.get()}) {
    if (p == nullptr || p->state() == QProcess::NotRunning) continue;
    p->terminate();
    if (!p->waitForFinished(5000)) {
      p->kill();
      p->waitForFinished(5000);
    }
  }
}

QDBusConnection NmMock::Bus() const {
  return QDBusConnection::connectToBus(QString::fromStdString(address_), busName_);
}

std::string NmMock::Py(const std::string& code) const {
  QDBusConnection control =
      QDBusConnection::connectToBus(QString::fromStdString(address_), controlName_);
  QDBusMessage run = QDBusMessage::createMethodCall("org.freedesktop.NetworkManager", kMainPath,
                                                    kTestIface, "Run");
  run.setArguments({QString::fromStdString(std::string(kPrelude) + code)});
  const QDBusMessage reply = control.call(run);
  if (reply.type() != QDBusMessage::ReplyMessage)
    throw std::runtime_error("mock code failed: " + reply.errorMessage().toStdString() + "\n" +
                             code);
  return reply.arguments().value(0).toString().toStdString();
}

std::string NmMock::AddProfile(const std::string& id, const std::string& type) const {
  return Py("out = SETTINGS.SettingsAddConnection({'connection': {'id': " + PyLiteral(id) +
            ", 'type': " + PyLiteral(type) + "}})");
}

std::string NmMock::AddActive(const std::string& profilePath, const std::string& name) const {
  // Like NetworkManager's own, the line has an Ip4Config, "/" until set.
  return Py("out = self.AddActiveConnection([], " + PyLiteral(profilePath) + ", '/', " + PyLiteral(name) +
            ", dbus.UInt32(2))\n"
            "objects[out].AddProperty(ACTIVE, 'Ip4Config', dbus.ObjectPath('/'))\n");
}

void NmMock::SetIp4(const std::string& activePath, const std::string& address) const {
  Py("p = " + PyLiteral(activePath) +
     ".replace('ActiveConnection', 'IP4Config')\n"
     "self.AddObject(p, 'org.freedesktop.NetworkManager.IP4Config', {'AddressData': dbus.Array("
     "[{'address': " +
     PyLiteral(address) +
     ", 'prefix': dbus.UInt32(24)}], signature='a{sv}')}, [])\n"
     "objects[" +
     PyLiteral(activePath) + "].Set(ACTIVE, 'Ip4Config', dbus.ObjectPath(p))\n");
}

std::string NmMock::Deactivated() const { return Py("out = calls(NM, 'DeactivateConnection')"); }

std::string NmMock::Activated() const { return Py("out = calls(NM, 'ActivateConnection')"); }

void NmMock::DialOnEth0(unsigned state) const {
  Py("self.AddEthernetDevice('eth0', 'eth0', 30)\n"
     "NM.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', 'ooo', 'o', \"ret = "
     "dbus.ObjectPath(self.AddActiveConnection(['/org/freedesktop/NetworkManager/Devices/eth0'],"
     " args[0], '/', 'dial', dbus.UInt32(" +
     std::to_string(state) + ")))\")\n");
}
