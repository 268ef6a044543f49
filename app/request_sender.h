// The SMTP client as the dispatcher's mail sender.
#pragma once

#include <functional>

#include "app/secrets.h"
#include "app/smtp_settings.h"
#include "core/dispatcher.h"
#include "net/smtp.h"

class TSmtpRequestSender : public TRequestSender {
 public:
  // `smtp` must outlive this object; its events are taken over.
  explicit TSmtpRequestSender(TmsSMTP& smtp);

  void SetServer(const std::string& server) override { smtp_.Server = server; }
  void Connect() override;
  void Send() override;
  bool DataSent() const override { return smtp_.DataSent(); }

  // The security and sign-in settings, read at each Connect (the server
  // field is the dispatcher's); unset: the plain dialogue.
  std::function<TSmtpSettings()> Settings;
  // Asks for a password that is stored nowhere; unset: no asking.
  TAskPassword AskPassword;

 private:
  void PrepareClient();
  template <class Step>
  void SignedIn(bool prepare, Step step);

  TmsSMTP& smtp_;
};
