// The SMTP client as the dispatcher's mail sender.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/secrets.h"
#include "app/smtp_settings.h"
#include "core/dispatcher.h"
#include "net/ras_run.h"
#include "net/smtp.h"

// The dial-up keys as a send reads them.
struct TDialSettings {
  std::string Entry;  // the NetworkManager connection; "" none
  bool HangUp = true;
};


class TSmtpRequestSender : public TRequestSender {
 public:
  // `smtp` must outlive this object; its events are taken over.
  explicit TSmtpRequestSender(TmsSMTP& smtp);

  void SetServer(const std::string& server) override { smtp_.Server = server; }
  void Connect() override;
  void Send() override;
  bool DataSent() const override { return smtp_.DataSent(); }

  // A run of sends (one request, or the outbox after it): a line brought up
  // for the first comes down after the last. Runs nest.
  void BeginRun() override;
  void EndRun() override;

  // The bytes of the last connection, complete once Send has returned.
  TLinkBytes LastSendBytes() const;
  // After every Send, however it ended, with LastSendBytes; must not raise.
  std::function<void(const TLinkBytes&)> OnSendEnd;

  // The security and sign-in settings, read at each Connect (the server
  // field is the dispatcher's); unset: the plain dialogue.
  std::function<TSmtpSettings()> Settings;
  // Asks for a password that is stored nowhere; unset: no asking.
  TAskPassword AskPassword;
  // The dial-up link and its keys, read at each Connect; either unset: the
  // client is linked to none.
  TRasRun* Dialup = nullptr;
  std::function<TDialSettings()> DialSettings;

 private:
  void PrepareClient();
  void LinkDialup();
  template <class Step>
  void SignedIn(bool prepare, Step step);

  TmsSMTP& smtp_;
};
