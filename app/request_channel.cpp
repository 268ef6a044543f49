#include "app/request_channel.h"

#include <iostream>

#include "core/request_builder.h"

TRequestAnswer AnswerFor(TRequestDispatcher::TOutcome outcome, const std::string& url,
                         const std::string& lastError) {
  using O = TRequestDispatcher::TOutcome;
  if (outcome == O::Sent) return {kRequestSent, "Sent"};
  if (outcome == O::Kept) return {kRequestKept, "kept: " + lastError};
  if (outcome == O::NoRequest) return {kRequestFailed, NotARequestText(url)};
  return {kRequestFailed, lastError.empty() ? "the request was not sent" : lastError};
}

TRequestAnswer SettingsIncompleteAnswer() {
  return {kSettingsIncomplete,
          "the settings lack your e-mail address or SMTP server; start Tolvane, fill them in and "
          "press Ok"};
}

int PrintAnswer(const TRequestAnswer& answer) {
  if (answer.code == kRequestSent) {
    std::cout << answer.text << "\n" << std::flush;
  } else if (answer.code == kRequestKept) {
    std::cout << answer.text << "\n" << std::flush;
  } else {
    std::cerr << "tolvane: " << answer.text << "\n";
  }
  return answer.code;
}
