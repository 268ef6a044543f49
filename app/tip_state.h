// Which tip of the day comes next and whether tips show; the tray app owns
// it and each shell's tip window steps it.
#pragma once

#include <functional>

struct TTipState {
  int Number = 0;
  bool Enabled = true;
  bool Showing = false;  // a tip window is on screen
  // Runs after each change has been written to the settings file.
  std::function<void()> OnSaved;

  // Writes Number and Enabled to the settings file.
  void Save();
};
