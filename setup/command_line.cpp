#include "setup/command_line.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "setup/asking.h"
#include "setup/bundle.h"
#include "setup/civil_time.h"
#include "setup/launcher.h"
#include "setup/payload.h"
#include "setup/process.h"
#include "setup/wrap_error.h"

namespace wrap {

const char* const kLauncherUsage =
    "usage: SETUP [option]... [-- ARGUMENT...]\n"
    "Without options: asks whether to install, unpacks into a fresh folder under\n"
    "$TMPDIR (else /tmp), runs SETUP.EXE from it, waits, and removes the folder.\n"
    "  --help        show this text\n"
    "  --list        list the files carried (names, sizes, file time); unpack nothing\n"
    "  --check       verify every checksum; exit status 0 when all are sound, else 1\n"
    "  --target DIR  unpack into DIR (made when missing) and keep it; run nothing\n"
    "  --noexec      unpack into the usual folder, print its name, keep it; run nothing\n"
    "  --accept      answer Yes without asking (unattended installs)\n"
    "  -- ARG...     pass the remaining arguments to SETUP.EXE\n"
    "With an option, failures go to standard error and the exit status is 1.\n";

namespace {

void Print(int fd, const std::string& text) {
  try {
    WriteAll(fd, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  } catch (const EWrapError&) {
    // A closed output leaves nothing to tell.
  }
}

bool SetAction(CommandLine& line, CommandLine::Action action, const std::string& option) {
  if (line.action != CommandLine::Action::Install) {
    line.error = option + " cannot be combined with another action";
    return false;
  }
  line.action = action;
  return true;
}

std::string FileTimeText(std::uint64_t fileTime) {
  std::int64_t seconds = 0;
  long nanoseconds = 0;
  FileTimeToUnix(fileTime, seconds, nanoseconds);
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t rest = seconds - days * 86400;
  const CivilDate date = CivilFromDays(days);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld-%02d-%02d %02d:%02d:%02d UTC",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return buf;
}

int List(const Bundle& bundle) {
  const auto files = ReadPayload(bundle);
  std::string out = "File time: " + FileTimeText(ReadFileTime(bundle)) + "\n";
  char line[128];
  std::snprintf(line, sizeof line, "%10s %10s  %-4s %s\n", "Size", "Packed", "Mode", "Name");
  out += line;
  for (const auto& f : files) {
    const bool exec = f.expanded == "SETUP.EXE" || (f.mode & 0111) != 0;
    std::snprintf(line, sizeof line, "%10lu %10lu  %-4s %s\n", static_cast<unsigned long>(f.size),
                  static_cast<unsigned long>(f.record.length), exec ? "x" : "-",
                  f.expanded.c_str());
    out += line;
  }
  Print(STDOUT_FILENO, out);
  return 0;
}

int Check(const Bundle& bundle) {
  CheckParts(bundle);
  ReadFileTime(bundle);
  const auto files = ReadPayload(bundle);
  Print(STDOUT_FILENO, "All " + std::to_string(bundle.Count()) + " parts are sound (" +
                           std::to_string(files.size()) + " files).\n");
  return 0;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& a = args[i];
    using A = CommandLine::Action;
    if (a == "--") {
      line.setupArgs.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    line.options = true;
    if (a == "--help" || a == "-h") {
      SetAction(line, A::Help, a);
    } else if (a == "--list") {
      SetAction(line, A::List, a);
    } else if (a == "--check") {
      SetAction(line, A::Check, a);
    } else if (a == "--noexec") {
      SetAction(line, A::NoExec, a);
    } else if (a == "--accept") {
      line.accept = true;
    } else if (a == "--target") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        line.error = "--target needs a folder";
      } else if (SetAction(line, A::Target, a)) {
        line.target = args[++i];
      }
    } else {
      line.error = "unknown argument " + a;
    }
  }
  return line;
}

int RunLauncher(const CommandLine& line, const std::string& exePath) {
  using A = CommandLine::Action;
  if (!line.error.empty()) {
    Print(STDERR_FILENO, "SETUP: " + line.error + "\n" + kLauncherUsage);
    return 2;
  }
  if (line.action == A::Help) {
    Print(STDOUT_FILENO, kLauncherUsage);
    return 0;
  }
  std::optional<Bundle> bundle;
  std::string damage;
  try {
    bundle = Bundle::Open(exePath);
  } catch (const EWrapError& e) {
    damage = e.Detail();
  }
  if (line.action == A::List || line.action == A::Check) {
    try {
      if (!bundle) ThrowInvalidData(damage);
      return line.action == A::List ? List(*bundle) : Check(*bundle);
    } catch (const EWrapError& e) {
      Print(STDERR_FILENO, std::string(e.what()) + "\n");
      return 1;
    }
  }
  CatchInterrupts();
  // With options nobody may be there to click a box: report on stderr.
  SilentAsker quiet;
  auto asker = line.options ? nullptr : ChooseAsker();
  Launcher launcher(bundle ? &*bundle : nullptr, asker ? *asker : quiet, TempDirectory(), damage);
  launcher.SetupArguments(line.setupArgs);
  if (line.accept) launcher.Accept();
  if (line.action == A::Install) {
    const bool ok = launcher.Run();
    return line.options && (!ok || Interruption()) ? 1 : 0;
  }
  if (!launcher.Extract(line.action == A::Target ? line.target : std::string())) return 1;
  if (line.action == A::NoExec) Print(STDOUT_FILENO, launcher.TempFolder() + "\n");
  return 0;
}

}  // namespace wrap
