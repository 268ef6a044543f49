#include "shell/win/boxes.h"

#include "base/debug_log.h"
#include "platform/windows_api.h"
#include "shell/win/help.h"

#include <windows.h>

namespace {

UINT IconOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return MB_ICONWARNING;
    case TMsgDlgType::mtError:
      return MB_ICONERROR;
    case TMsgDlgType::mtInformation:
      return MB_ICONINFORMATION;
    case TMsgDlgType::mtConfirmation:
      return MB_ICONQUESTION;
  }
  return 0;
}

const wchar_t* CaptionOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return L"Warning";
    case TMsgDlgType::mtError:
      return L"Error";
    case TMsgDlgType::mtInformation:
      return L"Information";
    case TMsgDlgType::mtConfirmation:
      return L"Confirm";
  }
  return L"Tolvane";
}

// The Help button: the box stays up while the page opens.
void CALLBACK HelpPressed(LPHELPINFO info) { ShowHelpTopic(static_cast<int>(info->dwContextId)); }

}  // namespace

int TopmostMessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int helpTopic,
                      HWND owner) {
  const std::wstring wide = WideText(text);
  MSGBOXPARAMSW box{};
  box.cbSize = sizeof box;
  // A hidden owner would keep the box out of sight.
  box.hwndOwner = owner && IsWindowVisible(owner) ? owner : nullptr;
  box.lpszText = wide.c_str();
  box.lpszCaption = CaptionOf(type);
  box.dwStyle = buttons | IconOf(type) | MB_TOPMOST | MB_SETFOREGROUND;
  if (helpTopic != 0) {
    box.dwStyle |= MB_HELP;
    box.dwContextHelpId = static_cast<DWORD_PTR>(helpTopic);
    box.lpfnMsgBoxCallback = &HelpPressed;
  }
  return MessageBoxIndirectW(&box);
}

void InstallErrorBox() {
  SetErrorBox([](const std::string& text) {
    MessageBoxW(nullptr, WideText(text).c_str(), L"Tolvane",
                MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND);
  });
}

void AppExceptionAt(const char* where, const std::string& message) {
  ShowError(where, "UH " + message);
}
