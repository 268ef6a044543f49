// The Windows tray program's own pieces under Wine: what the clipboard
// watch reads (a real clipboard), and the icon's tool tip.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "app/tray_logic.h"
#include "shell/win/clipboard.h"
#include "shell/win/task_icon.h"

namespace {

void Put(UINT format, const void* bytes, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  ASSERT_NE(memory, nullptr);
  std::memcpy(GlobalLock(memory), bytes, size);
  GlobalUnlock(memory);
  ASSERT_NE(SetClipboardData(format, memory), nullptr);
}

// Puts `text` on the clipboard, with a DWORD `mark` of the named format.
void Copy(const std::wstring& text, const wchar_t* markFormat = nullptr, DWORD mark = 0) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  Put(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  if (markFormat) Put(RegisterClipboardFormatW(markFormat), &mark, sizeof mark);
  CloseClipboard();
}

TEST(TrayWinTest, ClipboardTextIsReadUnlessMarkedSecretOrTooLong) {
  std::string why;
  Copy(L"http://h\u00f6st/x");
  EXPECT_EQ(ReadClipboardText(nullptr, why), "http://h\xc3\xb6st/x");
  EXPECT_EQ(why, "");

  Copy(L"http://host/1", L"ExcludeClipboardContentFromMonitorProcessing");
  EXPECT_EQ(ReadClipboardText(nullptr, why), "");
  EXPECT_EQ(why, kSecretNotRead);
  Copy(L"http://host/2", L"CanIncludeInClipboardHistory", 0);
  EXPECT_EQ(ReadClipboardText(nullptr, why), "");
  EXPECT_EQ(why, kSecretNotRead);
  // Allowed into the history: an ordinary copy.
  Copy(L"http://host/3", L"CanIncludeInClipboardHistory", 1);
  EXPECT_EQ(ReadClipboardText(nullptr, why), "http://host/3");

  Copy(std::wstring(TWinClipboardWatch::kTextCap, L'a'));
  EXPECT_EQ(ReadClipboardText(nullptr, why).size(), TWinClipboardWatch::kTextCap);
  Copy(std::wstring(TWinClipboardWatch::kTextCap + 1, L'a'));
  EXPECT_EQ(ReadClipboardText(nullptr, why), "");
  EXPECT_EQ(why, "Clipboard text not read: longer than 1048576 bytes");
}

TEST(TrayWinTest, ToolTipIsCutToWhatTheSystemShowsWithoutSplittingACharacter) {
  TWinTaskIcon icon(GetModuleHandleW(nullptr));
  icon.SetToolTip(std::string(126, 'x') + "\xf0\x9f\x93\xa7");  // U+1F4E7: two UTF-16 units
  EXPECT_EQ(icon.ToolTip(), std::string(126, 'x'));
  icon.SetToolTip(std::string(127, 'y') + "z");
  EXPECT_EQ(icon.ToolTip(), std::string(127, 'y'));
}

}  // namespace
