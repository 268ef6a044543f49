// The tray program: start-up, message loop and shutdown.
#pragma once

#include <QApplication>

// The application object; an error that escapes an event handler goes to
// the error box and the program goes on.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Starts Tolvane in the tray and runs it until it is unloaded; returns the
// exit code. A second start raises the first instance and ends with 0.
int RunTrayProgram(int argc, char** argv);
