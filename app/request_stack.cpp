#include "app/request_stack.h"

#include <utility>

#include "app/settings.h"
#include "base/debug_log.h"
#include "platform/folders.h"

namespace {

constexpr int kClientTimeOut = 120;

}  // namespace

TRequestStack::TRequestStack(TRequestUi& ui, std::function<TDispatchSettings()> settings,
                             std::function<TServerChoice()> choice)
    : Servers(SettingsFilePath()),
      History(ProgramFolder() + "History.Dat"),
      Outbox(ProgramFolder() + "Outbox.Dat"),
      Sender(Smtp),
      Dispatcher(
          Message, Sender, History, ui, std::move(settings),
          choice ? std::move(choice) : [this] { return Servers.Choice(); }) {
  Smtp.MailMessage = &Message;
  Smtp.TimeOut = kClientTimeOut;
  Smtp.LogFileName = ProgramFolder() + "SMTP.LOG";
  Smtp.SetWinsockLoaded(true);
  Sender.Settings = [] { return ReadSmtpAccount(SettingsFilePath()); };
  Dispatcher.UseOutbox(&Outbox);
}

void TRequestStack::Load() {
  Servers.Load();
  History.Load();
  Outbox.Load();
}
