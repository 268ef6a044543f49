#include <windows.h>

#include "setup/asking.h"
#include "setup/wide.h"
#include "setup/wrap_error.h"

namespace wrap {

Answer MessageBoxAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  if (!silent_) {
    const UINT style = (type == BoxType::YesNoExclamation ? MB_YESNO : MB_OK) | MB_ICONEXCLAMATION |
                       MB_SETFOREGROUND | MB_TASKMODAL;
    const int pressed = ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(), style);
    if (pressed != 0) {
      if (type == BoxType::OkExclamation) return Answer::Ok;
      return pressed == IDYES ? Answer::Yes : Answer::No;
    }
    silent_ = std::make_unique<SilentAsker>("no message box could be shown: " +
                                            ErrorText(ErrnoFromWin32(::GetLastError())));
  }
  return silent_->Ask(title, text, type);
}

std::unique_ptr<Asker> ChooseAsker() { return std::make_unique<MessageBoxAsker>(); }

}  // namespace wrap
