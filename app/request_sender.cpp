#include "app/request_sender.h"

#include "base/debug_log.h"
#include "platform/errors.h"

TSmtpRequestSender::TSmtpRequestSender(TmsSMTP& smtp) : smtp_(smtp) {
  auto forward = [](std::function<void()>& event) {
    return [&event](TagSocket&) {
      if (event) event();
    };
  };
  smtp_.OnOpen = forward(OnOpen);
  smtp_.OnPrepare = forward(OnPrepare);
  smtp_.OnSending = forward(OnSending);
  smtp_.OnDataEnd = forward(OnDataEnd);
  smtp_.OnMailSent = forward(OnMailSent);
  smtp_.OnClosing = forward(OnClosing);
  smtp_.OnClosed = forward(OnClosed);
  smtp_.OnProgress = [this](TagSocket&, int percent) {
    if (OnProgress) OnProgress(percent);
  };
}

void TSmtpRequestSender::LinkDialup() {
  if (!Dialup || !DialSettings) return;
  const TDialSettings d = DialSettings();
  const bool changed = d.Entry != Dialup->Entry();
  Dialup->Configure(d.Entry, d.HangUp);
  if (changed && !Dialup->EntryKnown())
    DebugLog("Dial-up: no connection \"" + d.Entry + "\" to bring up; sending without");
  smtp_.SetRAS(Dialup->Active() ? Dialup : nullptr);
}

void TSmtpRequestSender::PrepareClient() {
  LinkDialup();
  if (!Settings) return;
  TSmtpSettings settings = Settings();
  settings.Smtp = smtp_.Server;
  const std::string password =
      settings.User.empty() ? std::string() : FindPassword(settings, AskPassword);
  ApplySmtpSettings(smtp_, settings, password);
}

template <class Step>
void TSmtpRequestSender::SignedIn(bool prepare, Step step) {
  if (prepare) PrepareClient();
  try {
    step();
  } catch (const EAuthError&) {
    // A refused password typed this run is asked for again next time.
    ForgetPassword(SmtpHost(smtp_.Server), smtp_.UserName);
    throw;
  }
}

void TSmtpRequestSender::Connect() {
  SignedIn(true, [this] { smtp_.Connect(); });
}

void TSmtpRequestSender::Send() {
  struct End {
    TSmtpRequestSender& s;
    ~End() {
      if (s.OnSendEnd) s.OnSendEnd(s.LastSendBytes());
    }
  } end{*this};
  // After Connect the client is ready; a Send on its own prepares it first.
  SignedIn(!smtp_.Connected(), [this] { smtp_.Send(); });
}

void TSmtpRequestSender::BeginRun() {
  if (Dialup) Dialup->BeginRun();
}

void TSmtpRequestSender::EndRun() {
  if (Dialup) Dialup->EndRun();
}

// What the socket counted on the descriptor: the whole dialogue, TLS
// records included.
TLinkBytes TSmtpRequestSender::LastSendBytes() const { return smtp_.LinkBytes(); }
