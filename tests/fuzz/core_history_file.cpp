// History.Dat as an editor or another program may leave it: it loads, its
// lines give their address and detail, and a change keeps every other line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/history.h"
#include "platform/files.h"
#include "tests/fuzz/temp_folder.h"

namespace {

const std::string& Path() {
  static const std::string path = FuzzFolder() + "History.Dat";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReplaceFileAtomically(Path(), std::string(reinterpret_cast<const char*>(data), size));
  THistory history(Path());
  history.Load();
  const std::vector<std::string> loaded = history.Items();
  for (const std::string& line : loaded) {
    const std::string url = THistory::HistoryUrl(line);
    if (url.find(' ') != std::string::npos) std::abort();
    if (!url.empty() && history.FindInHistory(url) < 0) std::abort();
    (void)THistory::DetailText(line);
  }

  history.AddLineOnce("http://fuzz/ via s on d t");
  THistory again(Path());
  again.Load();
  if (again.Items() != history.Items()) std::abort();
  // The new line on top, then what was there, cut to the limit.
  const bool had = std::find(loaded.begin(), loaded.end(), "http://fuzz/ via s on d t") != loaded.end();
  std::vector<std::string> expected = loaded;
  if (!had) expected.insert(expected.begin(), "http://fuzz/ via s on d t");
  if (expected.size() > THistory::HistoryLimit) expected.resize(THistory::HistoryLimit);
  if (again.Items() != expected) std::abort();
  return 0;
}
