#include "app/request_cli.h"

#include <iostream>

#include "app/console.h"
#include "app/request_channel.h"
#include "app/request_stack.h"
#include "app/settings.h"
#include "base/helpers.h"
#include "core/dispatcher.h"
#include "platform/datetime.h"
#include "platform/folders.h"

namespace {

std::string ProgramFileName(const char* argv0) {
  std::string path = argv0 ? argv0 : "tolvane";
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Status steps go to the terminal; the question is asked there when one is
// attached (the command itself is the user's yes otherwise).
class TConsoleUi : public TRequestUi {
 public:
  TAnswer Confirm(const std::string& question) override {
    if (!InputIsTerminal()) return TAnswer::Yes;
    std::cout << question << " [Y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return TAnswer::Closed;
    return (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) ? TAnswer::No : TAnswer::Yes;
  }
  TCredentials AskAboutCredentials(const std::string& masked) override {
    // Without a terminal no one can say yes: the password stays.
    if (!InputIsTerminal()) return TCredentials::No;
    std::cout << "The address " << masked << " holds a password. Send it [w]ith the password, "
              << "with[o]ut it, or [n]ot at all? [o/w/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer) || answer.empty()) return TCredentials::No;
    if (answer[0] == 'w' || answer[0] == 'W') return TCredentials::Send;
    if (answer[0] == 'o' || answer[0] == 'O') return TCredentials::WithoutThem;
    return TCredentials::No;
  }
  void OpenProgress(const std::string&) override {}
  void SetProgress(int) override {}
  void CloseProgress() override {}
  // The steps go to the debug log only, so that the terminal shows the same
  // answer with or without a tray program.
  void SetStatus(const std::string& status) override {
    status_ = status;
    DebugLog(status);
  }
  std::string StatusLine() const override { return status_; }
  // The refusal itself is reported when the command ends.
  void ShowBriefNotice(const std::string&) override {}
  void UnhandledException(const std::exception& e) override {
    ShowError("Request", std::string("UH ") + e.what());
  }

 private:
  std::string status_;
};

// The request stack without a window, as the tray program would use it.
class TLocalRoad {
 public:
  // True when ready; else `failure` says why.
  bool Open(TRequestAnswer& failure) {
    // A complete file exists already: reading it writes nothing.
    const TSettings stored = TSettings::Read(SettingsFilePath());
    if (!stored.Complete()) {
      failure = SettingsIncompleteAnswer();
      return false;
    }
    settings = stored.Dispatch();
    try {
      stack.Load();
    } catch (const std::exception& e) {
      failure = {kRequestFailed, e.what()};
      return false;
    }
    return true;
  }

  TDispatchSettings settings;
  TConsoleUi ui;
  // No one to ask for a password here: one stored nowhere ends the request
  // with how to store it.
  TRequestStack stack{ui, [this] { return settings; }};
};

TRequestAnswer SendHere(const std::string& url) {
  TLocalRoad road;
  TRequestAnswer answer;
  if (!road.Open(answer)) return answer;
  // The request and the outbox sent after it share one dialled line.
  const TSendRun run(road.stack.Dialup);
  road.stack.Dispatcher.DispatchRequest(url, true);
  std::string dispatched = url;
  if (TRequestDispatcher::CountChar('/', dispatched) < 3) dispatched += "/";
  return AnswerFor(road.stack.Dispatcher.LastOutcome(), dispatched,
                   road.stack.Dispatcher.LastError());
}

TRequestAnswer FlushHere() {
  TLocalRoad road;
  TRequestAnswer answer;
  if (!road.Open(answer)) return answer;
  const TSendRun run(road.stack.Dialup);
  road.stack.Dispatcher.FlushOutbox(true);  // held requests go too
  const int left = road.stack.Outbox.Count();
  if (left == 0) return {kRequestSent, "nothing waits"};
  return {kRequestKept, std::to_string(left) + " still waiting"};
}

}  // namespace

int RunRequestCommand(int argc, char** argv, const std::string& url) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  return RunCommandMode(argc, argv, [&] {
    TRequestAnswer answer;
    if (!HandToRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), url, answer)) {
      answer = SendHere(url);
    }
    return PrintAnswer(answer);
  });
}

int RunFlushCommand(int argc, char** argv) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  return RunCommandMode(argc, argv, [&] {
    TRequestAnswer answer;
    if (!FlushRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), answer)) {
      answer = FlushHere();
    }
    return PrintAnswer(answer);
  });
}
