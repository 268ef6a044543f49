// Outbox.Dat as a hand edit or a crash may leave it: every line reads, what
// is written reads back the same, and recovery leaves no claimed entry.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text_helpers.h"
#include "core/history.h"
#include "core/outbox.h"
#include "platform/files.h"
#include "tests/fuzz/temp_folder.h"

namespace {

bool Same(const TOutboxEntry& a, const TOutboxEntry& b) {
  return a.Url == b.Url && a.Server == b.Server && a.Reason == b.Reason &&
         TOutbox::FormatLine(a) == TOutbox::FormatLine(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const std::string& line : SplitLines(text)) {
    const TOutboxEntry entry = TOutbox::ParseLine(line);
    const TOutboxEntry again = TOutbox::ParseLine(TOutbox::FormatLine(entry));
    // A URL that looks like a whole line reads as one only when it is one.
    if (entry.Server.find('\t') != std::string::npos) std::abort();
    if (!Same(TOutbox::ParseLine(TOutbox::FormatLine(again)), again)) std::abort();
  }

  const std::string path = FuzzFolder() + "Outbox.Dat";
  ReplaceFileAtomically(path, text);
  ::unlink((FuzzFolder() + "History.Dat").c_str());
  TOutbox outbox(path);
  THistory history(FuzzFolder() + "History.Dat");
  outbox.Load();
  const std::vector<TOutboxEntry> before = outbox.Entries();
  outbox.Recover(history);
  // Nothing stays claimed, and every accepted one is in the history.
  for (const TOutboxEntry& entry : outbox.Entries())
    if (TOutbox::Sending(entry)) std::abort();
  for (const TOutboxEntry& entry : before) {
    const std::string prefix = TOutbox::kSentPrefix;
    if (entry.Reason.rfind(prefix, 0) != 0) continue;
    const std::string line = entry.Reason.substr(prefix.size());
    if (std::find(history.Items().begin(), history.Items().end(), line) == history.Items().end())
      std::abort();
  }
  return 0;
}
