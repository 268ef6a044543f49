// A private D-Bus bus started by the test, with python3-dbusmock's
// NetworkManager template on it. The test drives the mock by running Python
// inside it through dbusmock's control interface. Makes the Qt application
// if there is none yet.
#pragma once

#include <memory>
#include <string>

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>

class NmMock {
 public:
  // withNetworkManager false: the bus alone.
  explicit NmMock(bool withNetworkManager = true);
  ~NmMock();

  NmMock(const NmMock&) = delete;
  NmMock& operator=(const NmMock&) = delete;

  // The connection the component under test uses.
  QDBusConnection Bus() const;

  // Runs `code` inside the mock (after a prelude of helpers, see the .cpp);
  // returns str() of the variable `out` when the code sets it.
  std::string Py(const std::string& code) const;

  // Helpers on top of Py.
  std::string AddProfile(const std::string& id, const std::string& type = "802-3-ethernet") const;
  // A line that is up, on no device.
  std::string AddActive(const std::string& profilePath, const std::string& name) const;
  void SetIp4(const std::string& activePath, const std::string& address) const;
  // From now on ActivateConnection puts the profile on the device eth0 as
  // the line ".../ActiveConnection/dial" in `state` (1 activating, 2 up);
  // lines on a device are removed when deactivated.
  void DialOnEth0(unsigned state) const;
  // Object paths given to DeactivateConnection / profiles given to
  // ActivateConnection, joined by blanks.
  std::string Deactivated() const;
  std::string Activated() const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<QProcess> daemon_;
  std::unique_ptr<QProcess> mock_;
  std::string address_;
  QString busName_;
  QString controlName_;
};
