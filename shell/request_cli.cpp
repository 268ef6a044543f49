#include "shell/request_cli.h"

#include <unistd.h>

#include <QCoreApplication>

#include <iostream>

#include "core/dispatcher.h"
#include "platform/datetime.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "base/helpers.h"
#include "shell/request_channel.h"
#include "shell/request_sender.h"

namespace {

std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

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
    if (!::isatty(STDIN_FILENO)) return TAnswer::Yes;
    std::cout << question << " [Y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return TAnswer::Closed;
    return (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) ? TAnswer::No
                                                                         : TAnswer::Yes;
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

TRequestAnswer SendHere(const std::string& url) {
  const std::string ini = SettingsFilePath();
  TDispatchSettings settings;
  settings.Email = ReadProfileString(ini, "General", "Email");
  settings.Smtp = ReadProfileString(ini, "Servers", "SMTP");
  settings.Confirm = ReadProfileInteger(ini, "General", "Confirm", 2);
  settings.CheckHistory = ReadProfileBool(ini, "General", "CheckHistory", true);
  if (Trimmed(settings.Email).empty() || Trimmed(settings.Smtp).empty()) {
    return SettingsIncompleteAnswer();
  }

  TServerList servers(ini);
  THistory history(ProgramFolder() + "History.Dat");
  try {
    servers.Load();
    history.Load();
  } catch (const std::exception& e) {
    return {kRequestFailed, e.what()};
  }

  TmsMessage message;
  TmsSMTP smtp;
  smtp.MailMessage = &message;
  smtp.TimeOut = 120;
  smtp.LogFileName = ProgramFolder() + "SMTP.LOG";
  smtp.SetWinsockLoaded(true);
  TSmtpRequestSender sender(smtp);
  TConsoleUi ui;
  TRequestDispatcher dispatcher(message, sender, history, ui, [&] { return settings; },
                                [&] { return servers.Choice(); });
  dispatcher.DispatchRequest(url, true);
  std::string dispatched = url;
  if (TRequestDispatcher::CountChar('/', dispatched) < 3) dispatched += "/";
  return AnswerFor(dispatcher.LastOutcome(), dispatched, dispatcher.LastError());
}

}  // namespace

int RunRequestCommand(int argc, char** argv, const std::string& url) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  QCoreApplication app(argc, argv);

  TRequestAnswer answer;
  if (!HandToRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), url, answer)) {
    answer = SendHere(url);
  }
  return PrintAnswer(answer);
}
