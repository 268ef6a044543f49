// A server list as someone may hand it on: whatever the text, loading it never
// fails, and the lists, the choice and the servers' values agree.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/debug_log.h"
#include "core/server_list.h"
#include "platform/profile.h"
#include "tests/platform/temp_folder.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Listed servers are of their list's type when read back through the file
// (the first few: each look-up reads the whole file again).
void CheckList(const TServerCombo& combo, int type, int otherType) {
  for (std::size_t i = 0; i < combo.Items.size() && i < 4; ++i) {
    const std::int32_t t = ProfileTypeNumber(ServerValue(combo.Items[i], "Type"));
    Check(t == type || t == otherType);
  }
  Check(combo.Items.empty() ? combo.ItemIndex == -1 : combo.ItemIndex >= 0);
  Check(combo.Text().empty() ||
        combo.Text() == combo.Items[static_cast<std::size_t>(combo.ItemIndex)]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TempFolder folder;
  static const bool ready = [] {
    SetProgramFolder(folder.path());
    // The log cannot be opened: a line per load would fill the disk.
    return ::mkdir((folder / "DebugLog.Txt").c_str(), 0700) == 0;
  }();
  Check(ready);
  PutFile(folder / "uservers.dat", std::string(reinterpret_cast<const char*>(data), size));

  TServerList list(folder / "TOLVANE.INI");
  list.Load();  // a regular file of fuzzer size always loads
  CheckList(list.cboHTTPServersPages, 0, 0);
  CheckList(list.cboHTTPServersBinary, 1, 3);
  CheckList(list.cboFTPservers, 2, 2);

  const TServerChoice choice = list.Choice();
  Check(choice.PagesServer == list.cboHTTPServersPages.Text());
  Check(choice.PagesVerb == ServerValue(choice.PagesServer, "verbPagesHttp") + " ");
  Check(choice.BinaryTemplateFile == ServerValue(choice.BinaryServer, "fileBinaryHttp"));
  Check(choice.BinaryTemplateFile.size() <= kProfileValueMax);
  for (const std::string* verb : {&choice.PagesVerbHttps, &choice.BinaryVerbHttps}) {
    Check(!verb->empty() && verb->back() == ' ');
  }
  return 0;
}
