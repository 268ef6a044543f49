// A desktop keyring of the test's own: a D-Bus session bus and
// gnome-keyring-daemon on it, started once per test program and stopped when
// it ends. The user's own bus and keyring are never touched.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/platform/temp_folder.h"

class TPrivateKeyring {
 public:
  // The one keyring of this process: the keyring library keeps its first
  // connection, so a second bus would not be seen.
  static TPrivateKeyring& Shared() {
    static TPrivateKeyring keyring;
    return keyring;
  }

  // The secret stored under these attributes, as secret-tool finds it; empty
  // when there is none.
  std::string Lookup(const std::string& server, const std::string& user) const {
    return Run("secret-tool lookup server " + Quote(server) + " user " + Quote(user) +
               " type plaintext 2>/dev/null");
  }

  // Stores a secret the way a user would from a terminal.
  void Store(const std::string& server, const std::string& user, const std::string& secret) {
    Run("printf %s " + Quote(secret) + " | secret-tool store --label=test server " + Quote(server) +
        " user " + Quote(user) + " type plaintext");
  }

  ~TPrivateKeyring() {
    if (keyring_pid_ > 0) ::kill(keyring_pid_, SIGTERM);
    if (bus_pid_ > 0) ::kill(bus_pid_, SIGTERM);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

 private:
  TPrivateKeyring() {
    std::string base = std::filesystem::temp_directory_path().string() + "/tolvane-keyring-XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = base;
    // Let the keyring library pick the Secret Service whatever desktop runs.
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
      ::unsetenv(name);
    const std::string bus =
        Run("dbus-daemon --session --fork --nosyslog --print-address=1 "
            "--print-pid=1");
    const auto newline = bus.find('\n');
    if (newline == std::string::npos) throw std::runtime_error("no private D-Bus: " + bus);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.substr(0, newline).c_str(), 1);
    bus_pid_ = std::stoi(bus.substr(newline + 1));
    keyring_pid_ =
        std::stoi(Run("HOME=" + dir_ + " XDG_DATA_HOME=" + dir_ + " XDG_RUNTIME_DIR=" + dir_ +
                      " sh -c 'printf test | gnome-keyring-daemon --foreground --unlock "
                      "--components=secrets >/dev/null 2>&1 & echo $!'"));
    for (int i = 0; i < 100 && !Ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!Ready()) throw std::runtime_error("gnome-keyring-daemon did not come up");
  }

  bool Ready() const {
    return Run("dbus-send --session --print-reply --dest=org.freedesktop.DBus "
               "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
               "string:org.freedesktop.secrets 2>/dev/null")
               .find("boolean true") != std::string::npos;
  }

  // The output of a shell command, without its last line end.
  static std::string Run(const std::string& command) {
    std::string out = CommandOutput(command);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  std::string dir_;
  int bus_pid_ = -1;
  int keyring_pid_ = -1;
};
