// The tip window made for real: it steps on as it opens, Next wraps round,
// each step is saved, and the help button follows the tip's topic.
#include "shell/win/tips.h"

#include "app/tips_state.h"
#include "platform/profile.h"
#include "shell/win/window_ids.h"
#include "tests/shell_win/window_support.h"
// After the fixture: its function TempFolder() hides the fixture's class.
#include "platform/folders.h"

namespace {

using TipsWindowTest = ProgramFolderTest;

BOOL CALLBACK FindTips(HWND window, LPARAM param) {
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || std::wstring(caption) != L"Tolvane - Tip of the Day")
    return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

TEST_F(TipsWindowTest, StepsOnWrapsRoundAndSavesEachStep) {
  SKIP_WITHOUT_DISPLAY();
  PutFile(dir / "tips.dat", "1,one\r\n0,two\r\n12,three, with a comma");
  TTipState state;
  state.Number = 1;
  std::vector<std::string> seen;
  std::vector<bool> help;
  std::thread user([&] {
    HWND tips = nullptr;
    for (int i = 0; i < 200 && !tips; ++i) {
      EnumWindows(FindTips, reinterpret_cast<LPARAM>(&tips));
      if (!tips) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!tips) return;
    for (int step = 0; step < 3; ++step) {
      seen.push_back(ItemText(tips, IDC_TIP_TEXT));
      help.push_back(IsWindowEnabled(GetDlgItem(tips, IDC_TIP_HELP)) != FALSE);
      SendMessageW(tips, WM_COMMAND, IDC_TIP_NEXT, 0);
    }
    PostMessageW(tips, WM_COMMAND, IDOK, 0);
  });
  ShowTipOfTheDay(GetModuleHandleW(nullptr), nullptr, state);
  user.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"three, with a comma", "one", "two"}));
  EXPECT_EQ(help, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(state.Number, 2);
  EXPECT_EQ(ReadProfileInteger(SettingsFilePath(), "General", "TipNumber", -1), 2);
  EXPECT_FALSE(state.Showing);
  EXPECT_TRUE(shown.empty());
}

}  // namespace
