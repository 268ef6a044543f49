// For the Windows window tests: a program folder with the error box
// recorded, skipping without an X server, and the answer to the next
// message box, read and closed from a second thread while the test's own
// thread sits in the box.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/windows_api.h"
#include "tests/base/program_folder.h"

#include <windows.h>

#define SKIP_WITHOUT_DISPLAY() \
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server: DISPLAY is not set"

namespace window_support {

struct TFound {
  HWND box = nullptr;
  HWND except = nullptr;
};

inline BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto& found = *reinterpret_cast<TFound*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  if (process == GetCurrentProcessId() && window != found.except && IsWindowVisible(window) &&
      std::wstring(name) == L"#32770") {
    found.box = window;
    return FALSE;
  }
  return TRUE;
}

inline BOOL CALLBACK AddText(HWND child, LPARAM param) {
  wchar_t text[1024] = {};
  GetWindowTextW(child, text, 1024);
  *reinterpret_cast<std::string*>(param) += Utf8Text(text) + "\n";
  return TRUE;
}

}  // namespace window_support

// Runs `action`, which opens a box (other than `except`), and presses
// `button` in it; returns the texts of the box's controls, one a line
// (empty when no box came within ten seconds).
inline std::string AnswerBox(const std::function<void()>& action, HWND except = nullptr,
                             int button = IDOK) {
  std::string texts;
  std::atomic<bool> done{false};
  std::thread answer([&] {
    for (int i = 0; i < 200 && !done; ++i) {
      window_support::TFound found{nullptr, except};
      EnumWindows(window_support::FindBox, reinterpret_cast<LPARAM>(&found));
      if (found.box) {
        EnumChildWindows(found.box, window_support::AddText, reinterpret_cast<LPARAM>(&texts));
        PostMessageW(found.box, WM_COMMAND, static_cast<WPARAM>(button), 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  action();
  done = true;
  answer.join();
  return texts;
}

inline std::string ItemText(HWND dialog, int id) {
  wchar_t text[2048] = {};
  GetDlgItemTextW(dialog, id, text, 2048);
  return Utf8Text(text);
}

inline void SetItemText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, WideText(text).c_str());
}
