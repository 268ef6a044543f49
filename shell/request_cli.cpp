#include "shell/request_cli.h"

#include <unistd.h>

#include <QCoreApplication>

#include <iostream>

#include "base/helpers.h"
#include "core/dispatcher.h"
#include "platform/datetime.h"
#include "platform/folders.h"
#include "platform/profile.h"
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
    return (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) ? TAnswer::No : TAnswer::Yes;
  }
  void OpenProgress(const std::string&) override { std::cout << "Requesting\n" << std::flush; }
  void SetProgress(int) override {}
  void CloseProgress() override {}
  void SetStatus(const std::string& status) override {
    status_ = status;
    DebugLog(status);
    std::cout << status << "\n" << std::flush;
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

int SendHere(const std::string& url) {
  const std::string ini = SettingsFilePath();
  TDispatchSettings settings;
  settings.Email = ReadProfileString(ini, "General", "Email");
  settings.Smtp = ReadProfileString(ini, "Servers", "SMTP");
  settings.Confirm = ReadProfileInteger(ini, "General", "Confirm", 2);
  settings.CheckHistory = ReadProfileBool(ini, "General", "CheckHistory", true);
  if (Trimmed(settings.Email).empty() || Trimmed(settings.Smtp).empty()) {
    std::cerr << "tolvane: the settings lack your e-mail address or SMTP server (" << ini
              << "); start Tolvane and fill them in\n";
    return kSettingsIncomplete;
  }

  TServerList servers(ini);
  THistory history(ProgramFolder() + "History.Dat");
  try {
    servers.Load();
    DebugLog("Loaded Server File");
    history.Load();
  } catch (const std::exception& e) {
    std::cerr << "tolvane: " << e.what() << "\n";
    return kRequestFailed;
  }

  TmsMessage message;
  TmsSMTP smtp;
  smtp.MailMessage = &message;
  smtp.TimeOut = 120;
  smtp.LogFileName = ProgramFolder() + "SMTP.LOG";
  smtp.SetWinsockLoaded(true);
  TSmtpRequestSender sender(smtp);
  // No one to ask here: a password stored nowhere ends the request with how to store it.
  sender.Settings = [&ini] { return ReadSmtpSettings(ini); };
  TConsoleUi ui;
  TRequestDispatcher dispatcher(
      message, sender, history, ui, [&] { return settings; }, [&] { return servers.Choice(); });
  dispatcher.DispatchRequest(url, true);

  using O = TRequestDispatcher::TOutcome;
  switch (dispatcher.LastOutcome()) {
    case O::Sent:
      return kRequestSent;
    case O::NoRequest:
      std::cerr << "tolvane: not a request: " << url
                << " does not begin with http://, gopher://, news: or ftp://\n";
      return kRequestFailed;
    default:
      std::cerr << "tolvane: " << dispatcher.LastError() << "\n";
      return kRequestFailed;
  }
}

}  // namespace

int RunRequestCommand(int argc, char** argv, const std::string& url) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  QCoreApplication app(argc, argv);

  int code = kRequestFailed;
  std::string text;
  if (HandToRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), url, code, text)) {
    (code == kRequestSent ? std::cout : std::cerr)
        << (code == kRequestSent ? "" : "tolvane: ") << text << "\n";
    return code;
  }
  return SendHere(url);
}
