#include "app/tray_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "platform/folders.h"

namespace {

constexpr char kModuleName[] = "libtolvane-tray.so";
constexpr char kEntryName[] = "tolvane_tray_main";

#ifndef TOLVANE_TRAY_FROM_BIN
#define TOLVANE_TRAY_FROM_BIN "../lib/tolvane/"
#endif

}  // namespace

std::vector<std::string> TrayModulePaths() {
  const std::filesystem::path bin = ExecutableFolder();
  return {(bin / kModuleName).string(),
          (bin / TOLVANE_TRAY_FROM_BIN / kModuleName).lexically_normal().string()};
}

int RunTrayModule(int argc, char** argv) {
  std::string why = "not found";
  for (const std::string& path : TrayModulePaths()) {
    if (::access(path.c_str(), F_OK) != 0) continue;
    // Bound at once: a module that does not match this executable fails
    // here, not in the middle of a request.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      why = ::dlerror();
      break;
    }
    using TEntry = decltype(&tolvane_tray_main);
    if (auto entry = reinterpret_cast<TEntry>(::dlsym(module, kEntryName))) {
      // Never closed: the tray program's exit handlers run from the module.
      return entry(argc, argv);
    }
    why = path + " has no " + kEntryName;
    break;
  }
  std::cerr << "tolvane: the tray program cannot be loaded (" << kModuleName << ": " << why
            << "); the command-line modes work without it\n";
  return 1;
}
