// The main window's SMTP client as the dispatcher's mail sender.
#pragma once

#include "core/dispatcher.h"
#include "net/smtp.h"

class TSmtpRequestSender : public TRequestSender {
 public:
  // `smtp` must outlive this object; its events are taken over.
  explicit TSmtpRequestSender(TmsSMTP& smtp);

  void SetServer(const std::string& server) override { smtp_.Server = server; }
  void Connect() override;
  void Send() override { smtp_.Send(); }
  bool DataSent() const override { return smtp_.DataSent(); }

 private:
  TmsSMTP& smtp_;
};
