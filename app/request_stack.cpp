#include "app/request_stack.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "app/settings.h"
#include "base/debug_log.h"
#include "platform/datetime.h"
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
  Sender.Dialup = &Dialup;
  Sender.DialSettings = [] {
    const TSettings s = TSettings::Read(SettingsFilePath());
    return TDialSettings{s.DialEntry, s.HangUp};
  };
  History.OnAdded = [this](const std::string& line) { sent_.push_back(line); };
  Sender.OnSendEnd = [this](const TLinkBytes& bytes) { RecordBytes(bytes); };
}

void TRequestStack::RecordBytes(const TLinkBytes& bytes) {
  const std::vector<std::string> lines = std::exchange(sent_, {});
  try {
    History.RecordBytes(lines, Now(), bytes.Total());
  } catch (const std::exception& e) {
    // The request went out; only its size is not on record.
    DebugLog(std::string("Bytes not recorded: ") + e.what());
  }
}

std::uint64_t TRequestStack::MonthBytes() const {
  const std::tm now = TmFromDateTime(Now());
  return History.MonthBytes(now.tm_year + 1900, now.tm_mon + 1);
}

std::string ByteCountText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  const char* unit = "KB";
  double value = static_cast<double>(bytes) / 1024;
  if (value >= 1024) {
    value /= 1024;
    unit = "MB";
  }
  if (value >= 1024) {
    value /= 1024;
    unit = "GB";
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, unit);
  return text;
}

void TRequestStack::Load() {
  Servers.Load();
  History.Load();
  Outbox.Load();
}
