#include "shell/request_cli.h"

#include <unistd.h>

#include <QCoreApplication>

#include <iostream>

#include "base/helpers.h"
#include "core/dispatcher.h"
#include "platform/datetime.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "shell/outbox_road.h"
#include "shell/request_channel.h"
#include "shell/request_sender.h"
#include "shell/smtp_settings.h"

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

// The request road without a window: settings, server list, history,
// outbox and the SMTP client, as the tray program would use them.
class TLocalRoad {
 public:
  // Returns 0 when ready, else the exit code, having said why.
  int Open() {
    const std::string ini = SettingsFilePath();
    settings.Email = ReadProfileString(ini, "General", "Email");
    settings.Smtp = ReadProfileString(ini, "Servers", "SMTP");
    settings.Confirm = ReadProfileInteger(ini, "General", "Confirm", 2);
    settings.CheckHistory = ReadProfileBool(ini, "General", "CheckHistory", true);
    if (Trimmed(settings.Email).empty() || Trimmed(settings.Smtp).empty()) {
      std::cerr << "tolvane: the settings lack your e-mail address or SMTP server (" << ini
                << "); start Tolvane and fill them in\n";
      return kSettingsIncomplete;
    }
    settings.KeepFailed = ReadKeepFailed(ini);
    try {
      servers.Load();
      DebugLog("Loaded Server File");
      history.Load();
      outbox.Load();
    } catch (const std::exception& e) {
      std::cerr << "tolvane: " << e.what() << "\n";
      return kRequestFailed;
    }
    smtp.MailMessage = &message;
    smtp.TimeOut = 120;
    smtp.LogFileName = ProgramFolder() + "SMTP.LOG";
    smtp.SetWinsockLoaded(true);
    // No one to ask here: a password stored nowhere ends the request with how to store it.
    sender.Settings = [ini] { return ReadSmtpSettings(ini); };
    dispatcher.UseOutbox(&outbox);
    return 0;
  }

  TDispatchSettings settings;
  TServerList servers{SettingsFilePath()};
  THistory history{ProgramFolder() + "History.Dat"};
  TOutbox outbox{ProgramFolder() + "Outbox.Dat"};
  TmsMessage message;
  TmsSMTP smtp;
  TSmtpRequestSender sender{smtp};
  TConsoleUi ui;
  TRequestDispatcher dispatcher{message,
                                sender,
                                history,
                                ui,
                                [this] { return settings; },
                                [this] { return servers.Choice(); }};
};

int SendHere(const std::string& url) {
  TLocalRoad road;
  if (int code = road.Open()) return code;
  road.dispatcher.DispatchRequest(url, true);

  using O = TRequestDispatcher::TOutcome;
  switch (road.dispatcher.LastOutcome()) {
    case O::Sent:
      return kRequestSent;
    case O::Kept:
      std::cout << "kept: " << road.dispatcher.LastError() << "\n";
      return kRequestKept;
    case O::NoRequest:
      std::cerr << "tolvane: not a request: " << url
                << " does not begin with http://, gopher://, news: or ftp://\n";
      return kRequestFailed;
    default:
      std::cerr << "tolvane: " << road.dispatcher.LastError() << "\n";
      return kRequestFailed;
  }
}

int FlushHere() {
  TLocalRoad road;
  if (int code = road.Open()) return code;
  road.dispatcher.FlushOutbox();
  const int left = road.outbox.Count();
  if (left == 0) return kRequestSent;
  std::cout << left << " still waiting\n";
  return kRequestKept;
}

// Tells the user what a running tray program answered.
int Report(int code, const std::string& text) {
  if (code == kRequestSent || code == kRequestKept)
    std::cout << text << "\n";
  else
    std::cerr << "tolvane: " << text << "\n";
  return code;
}

}  // namespace

int RunRequestCommand(int argc, char** argv, const std::string& url) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  QCoreApplication app(argc, argv);

  int code = kRequestFailed;
  std::string text;
  if (HandToRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), url, code, text))
    return Report(code, text);
  return SendHere(url);
}

int RunFlushCommand(int argc, char** argv) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  QCoreApplication app(argc, argv);

  int code = kRequestFailed;
  std::string text;
  if (FlushRunningInstance(RequestSocketPath(ProgramFileName(argv[0])), code, text))
    return Report(code, text);
  return FlushHere();
}
