#include "app/console.h"

#include <unistd.h>

#include <QCoreApplication>

int RunCommandMode(int argc, char** argv, const std::function<int()>& mode) {
  QCoreApplication app(argc, argv);
  return mode();
}

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

void UseParentConsole() {}
