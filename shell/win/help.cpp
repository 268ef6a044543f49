#include "shell/win/help.h"

#include "base/debug_log.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/windows_api.h"

#include <windows.h>
#include <shellapi.h>

std::string HelpPagePath(int topic) {
  return DataFilePath("help/" + std::to_string(topic) + ".html");
}

bool ShowHelpTopic(int topic) {
  std::string page = HelpPagePath(topic);
  if (!FileExists(page)) page = DataFilePath("help/index.html");
  // The user's browser: the program has no help window of its own here.
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", WideText(page).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  DebugLog("Help topic " + std::to_string(topic) + " not opened (" + page + "): error " +
           std::to_string(result));
  return false;
}
