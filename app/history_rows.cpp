#include "app/history_rows.h"

#include "app/request_stack.h"
#include "core/outbox.h"
#include "platform/datetime.h"

std::string KeptRowText(const TOutboxEntry& entry, const std::string& nextTry) {
  if (TOutbox::Sending(entry)) return entry.Url + " sending";
  const bool held = TOutbox::Held(entry);
  std::string text = entry.Url + (held ? " held" : " waiting");
  if (entry.FirstTry > 0)
    text += " since " + ShortDateText(entry.FirstTry) + " " + LongTimeText(entry.FirstTry);
  if (held) return text;
  if (!entry.Reason.empty()) text += ": " + entry.Reason;
  if (TOutbox::Waiting(entry) && !nextTry.empty()) text += "; next try " + nextTry;
  return text;
}

std::string LinkBytesText(std::uint64_t bytes) { return ByteCountText(bytes) + " over the link"; }

std::string MonthBytesText(std::uint64_t bytes) {
  return ByteCountText(bytes) + " over the link this month";
}

std::string HistoryLineServer(const std::string& line) {
  const auto via = line.find(" via ");
  const auto on = line.rfind(" on ");
  if (via == std::string::npos || on == std::string::npos || on <= via) return {};
  return line.substr(via + 5, on - via - 5);
}

std::string AskHelpOutcome(const std::string& server, bool sent) {
  return sent ? "Asked " + server + " for its help; the answer comes by mail"
              : server + " has no help request, or it could not be sent now";
}
