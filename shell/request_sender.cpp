#include "shell/request_sender.h"

#include <utility>

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

// A connect that failed half-way leaves its socket open, and the next
// Connect would take it for a live connection: close it, without the
// closing events, so that the status the failure reports stays the same.
void TSmtpRequestSender::Connect() {
  try {
    smtp_.Connect();
  } catch (...) {
    const auto closing = std::exchange(smtp_.OnClosing, nullptr);
    const auto closed = std::exchange(smtp_.OnClosed, nullptr);
    try {
      smtp_.Close();
    } catch (...) {
    }
    smtp_.OnClosing = closing;
    smtp_.OnClosed = closed;
    throw;
  }
}
