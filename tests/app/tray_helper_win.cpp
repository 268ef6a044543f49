// Test helper for the tray program under Wine.
//   tray_helper exclude|history0|history1|plain TEXT
//     puts TEXT on the clipboard as a password manager does, marked for
//     clipboard watchers, or unmarked;
//   tray_helper click|rightclick
//     sends the running program's icon the click that the shell's
//     notification area reports (Wine's X tray drops some real ones).
#include <windows.h>

#include <cstring>
#include <string>

namespace {

bool Put(UINT format, const void* bytes, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return false;
  std::memcpy(GlobalLock(memory), bytes, size);
  GlobalUnlock(memory);
  return SetClipboardData(format, memory) != nullptr;
}

bool PutDword(const wchar_t* name, DWORD value) {
  return Put(RegisterClipboardFormatW(name), &value, sizeof value);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && (std::wstring(argv[1]) == L"click" || std::wstring(argv[1]) == L"rightclick")) {
    const HWND tray = FindWindowW(L"TolvaneTrayWindow", nullptr);
    const LPARAM button = std::wstring(argv[1]) == L"click" ? WM_LBUTTONUP : WM_RBUTTONUP;
    return tray && PostMessageW(tray, WM_USER, 0, button) ? 0 : 5;
  }
  if (argc != 3) return 2;
  const std::wstring mode = argv[1];
  const std::wstring text = argv[2];
  if (!OpenClipboard(nullptr) || !EmptyClipboard()) return 3;
  bool ok = Put(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  if (mode == L"exclude") ok = ok && PutDword(L"ExcludeClipboardContentFromMonitorProcessing", 0);
  if (mode == L"history0") ok = ok && PutDword(L"CanIncludeInClipboardHistory", 0);
  if (mode == L"history1") ok = ok && PutDword(L"CanIncludeInClipboardHistory", 1);
  CloseClipboard();
  return ok ? 0 : 4;
}
