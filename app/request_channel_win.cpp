// No tray program runs on Windows yet, so none listens: the command line
// sends every request itself, as it does on Linux when no tray instance runs.
#include "app/request_channel.h"

std::string RequestSocketPath(const std::string&) { return {}; }

bool HandToRunningInstance(const std::string&, const std::string&, TRequestAnswer&) {
  return false;
}

bool FlushRunningInstance(const std::string&, TRequestAnswer&) { return false; }
