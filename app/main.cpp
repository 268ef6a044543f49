// tolvane: the tray program, or one of the command-line modes. On Linux the
// modes run on QtCore alone and the tray program, with its windows, is a
// module loaded only when it runs; on Windows the windows are linked in.
#include <cstring>
#include <iostream>

#include "app/compose_cli.h"
#include "app/console.h"
#include "app/request_cli.h"
#include "app/tray_module.h"

namespace {

constexpr int kUsageError = 1;

void Usage(std::ostream& out) {
  out << "Usage: tolvane [/s]              run in the tray\n"
         "       tolvane --compose URL    print the request mail that copying URL would send\n"
         "       tolvane --request URL    send that request now\n"
         "       tolvane --flush          send the requests that wait in the outbox\n"
         "       tolvane --version        print the version\n";
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc >= 2 ? argv[1] : "";
  // The tray program's options are no modes: it writes nowhere.
  if (mode[0] == '-') UseParentConsole();
  // Each mode takes a fixed number of arguments.
  const auto wrongCount = [argc](int expected) {
    if (argc == expected) return false;
    Usage(std::cerr);
    return true;
  };
  if (Is(mode, "--compose")) {
    return wrongCount(3) ? kUsageError : RunComposeCommand(argc, argv, argv[2]);
  }
  if (Is(mode, "--request")) {
    return wrongCount(3) ? kUsageError : RunRequestCommand(argc, argv, argv[2]);
  }
  if (Is(mode, "--flush")) return wrongCount(2) ? kUsageError : RunFlushCommand(argc, argv);
  if (Is(mode, "--help") || Is(mode, "-h")) {
    Usage(std::cout);
    return 0;
  }
  if (Is(mode, "--version")) {
    std::cout << "tolvane " << TOLVANE_VERSION << "\n";
    return 0;
  }
  return RunTrayModule(argc, argv);
}
