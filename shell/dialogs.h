// Message boxes that stay above other programs' windows, and the error box.
#pragma once

#include <QMessageBox>

#include <string>

class QWidget;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// Shows a message box above other windows while `owner` (when given) is kept
// on top as well; returns the button pressed. A Help button opens
// `helpTopic` and the box stays. Captions keep their "&" markers.
QMessageBox::StandardButton TopmostMessageDlg(const std::string& text, TMsgDlgType type,
                                              QMessageBox::StandardButtons buttons, int helpTopic,
                                              QWidget* owner);

// Rich text of a caption: the letter after "&" underlined, "&&" a plain "&".
QString MarkAccelerators(const std::string& text);

// `text` with every "&" doubled, so that a box shows it exactly as it is.
std::string EscapeAccelerators(const std::string& text);

// Makes ShowError use a modal warning box with one OK button.
void InstallErrorBox();

// Makes the dial-up component's boxes and late failures use the program's
// error box and exception handler.
void InstallRasBoxes();

class QObject;

// The application's handler for an error that escaped an event handler of
// `receiver`: the error box with the receiver's class as the place.
void AppException(const QObject* receiver, const std::string& message);
void AppExceptionAt(const char* where, const std::string& message);

// Runs `handler`, turning an escaping error into AppException(receiver).
template <class Handler>
void Guarded(const QObject* receiver, Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    AppException(receiver, e.what());
  } catch (...) {
    AppException(receiver, "Unknown error");
  }
}
