#include "platform/autostart.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folders.h"

std::string AutostartFilePath(const std::string& appId) {
  return AutostartFolder() + appId + ".desktop";
}

bool AutostartEnabled(const std::string& appId) { return FileExists(AutostartFilePath(appId)); }

std::string DesktopExecArgument(const std::string& arg) {
  static constexpr const char* kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string out;
  if (!arg.empty() && arg.find_first_of(kReserved) == std::string::npos) {
    out = arg;
  } else {
    out = "\"";
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  // The value itself is a string: its backslashes are escaped once more.
  std::string value;
  for (char c : out) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

void EnableAutostart(const std::string& appId, const std::string& program) {
  const std::string folder = AutostartFolder();
  if (!MakeFolders(folder, 0700)) {
    throw EFileError("Cannot create folder \"" + folder + "\": " + std::strerror(errno));
  }
  // Line feeds only: this file is read by the desktop, not by Tolvane.
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Tolvane\n"
      "Comment=Request the web pages and files you copy by e-mail\n"
      "Exec=" +
      DesktopExecArgument(program) +
      " /s\n"
      "Icon=" +
      appId +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  ReplaceFileAtomically(AutostartFilePath(appId), entry);
}

void DisableAutostart(const std::string& appId) {
  const std::string path = AutostartFilePath(appId);
  if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
    throw EFileError("Cannot delete file \"" + path + "\": " + std::strerror(errno));
  }
}
