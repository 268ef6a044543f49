// Message boxes of the Windows shell: above other programs' windows, with a
// Help button that opens a help topic and keeps the box up; the error box
// and the handler for errors that escape an event handler.
#pragma once

#include <string>

struct HWND__;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// Shows a box with `buttons` (MB_OK, MB_YESNO, MB_YESNOCANCEL, ...; MB_HELP
// is added when `helpTopic` is not 0) and returns the button pressed (IDOK,
// IDYES, ...). `owner` may be null.
int TopmostMessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int helpTopic,
                      HWND__* owner);

// Makes ShowError use a warning box with one OK button above every window.
void InstallErrorBox();

// The handler for an error that escaped an event handler: the error box with
// `where` as the place ("TfrmProps", "TTimer", ...).
void AppExceptionAt(const char* where, const std::string& message);

// Runs `handler`, turning an escaping error into AppExceptionAt(where).
template <class Handler>
void Guarded(const char* where, Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    AppExceptionAt(where, e.what());
  } catch (...) {
    AppExceptionAt(where, "Unknown error");
  }
}
