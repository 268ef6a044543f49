#include "shell/request_sender.h"

TSmtpRequestSender::TSmtpRequestSender(TmsSMTP& smtp) : smtp_(smtp) {
  auto forward = [](std::function<void()>& event) {
    return [&event](TagSocket&) {
      if (event) event();
    };
  };
  smtp_.OnOpen = forward(OnOpen);
  smtp_.OnPrepare = forward(OnPrepare);
  smtp_.OnSending = forward(OnSending);
  smtp_.OnMailSent = forward(OnMailSent);
  smtp_.OnClosing = forward(OnClosing);
  smtp_.OnClosed = forward(OnClosed);
  smtp_.OnProgress = [this](TagSocket&, int percent) {
    if (OnProgress) OnProgress(percent);
  };
}
