#include "base/debug_log.h"

#include <iostream>
#include <mutex>

#include "platform/datetime.h"
#include "platform/file_layout.h"
#include "platform/files.h"

std::int32_t Checkpoint = 0;
bool SuperDebug = false;

namespace {

std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}

ErrorBox& BoxSlot() {
  static ErrorBox box;
  return box;
}

}  // namespace

const std::string& ProgramFolder() { return FileLayout().WriteFolder(); }

void SetProgramFolder(std::string folder) {
  SetFileLayout(MakeProgramFolderLayout(std::move(folder)));
}

std::string DebugLogPath() { return ProgramFolder() + "DebugLog.Txt"; }

void DebugLog(const std::string& message) {
  const std::string line = DateTimeText(Now()) + ": " + message + "\r\n";
  std::lock_guard lock(LogMutex());
  // The log must never stop the program nor report through ShowError, which
  // logs in turn: a line that cannot be written is lost.
  (void)AppendToFile(DebugLogPath(), line);
}

std::string ErrorText(const std::string& where, const std::string& message) {
  return "Error in " + where + "." + std::to_string(Checkpoint) + " with " + message;
}

ErrorBox SetErrorBox(ErrorBox box) {
  ErrorBox old = std::move(BoxSlot());
  BoxSlot() = std::move(box);
  return old;
}

void ShowError(const std::string& where, const std::string& message) {
  const std::string text = ErrorText(where, message);
  DebugLog(text);
  try {
    if (BoxSlot()) {
      BoxSlot()(text);
    } else {
      std::cerr << text << std::endl;
    }
  } catch (...) {
    // The box is the end of the line for failures; nothing may escape it.
  }
}
