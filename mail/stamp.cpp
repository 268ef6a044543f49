#include "mail/stamp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "mail/idna.h"
#include "platform/local_time.h"

namespace {

bool IsDomainChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.';
}

}  // namespace

std::string MailDate(std::time_t t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const TLocalTime local = LocalTime(t);
  const std::tm& tm = local.tm;
  const long offset = local.utcOffset / 60;
  const long shown = offset < 0 ? -offset : offset;
  char out[64];
  std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                offset < 0 ? '-' : '+', shown / 60, shown % 60);
  return out;
}

std::string NewMessageId(std::string_view senderAddress) {
  // Seeded once from the system's entropy: ids must not repeat across runs.
  thread_local std::mt19937_64 engine = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }();
  std::string domain;
  const std::size_t at = senderAddress.rfind('@');
  if (at != std::string_view::npos)
    domain = DomainToAscii(senderAddress.substr(at + 1)).value_or(std::string());
  if (domain.empty() || domain.find_first_not_of(".") == std::string::npos ||
      !std::all_of(domain.begin(), domain.end(), IsDomainChar))
    domain = "localhost";
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char out[80];
  std::snprintf(out, sizeof out, "<%016llx%016llx.%llx@", static_cast<unsigned long long>(engine()),
                static_cast<unsigned long long>(engine()),
                static_cast<unsigned long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
  return out + domain + ">";
}

void StampDateAndMessageId(TmsCustomMessage& message) {
  TmsHeaders& headers = message.Headers();
  RemoveHeader(headers, "Date");
  RemoveHeader(headers, "Message-ID");
  headers.push_back("Date: " + MailDate(std::time(nullptr)));
  headers.push_back("Message-ID: " + NewMessageId(message.Sender().Address()));
}
