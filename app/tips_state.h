// The tip of the day without its window: which tip comes next, whether tips
// show, the tips file and how a line of it reads. Both shells' tip windows
// sit on this.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Which tip comes next and whether tips show; the tray app owns it.
struct TTipState {
  int Number = 0;
  bool Enabled = true;
  bool Showing = false;  // a tip window is on screen
  // Runs after each change has been written to the settings file.
  std::function<void()> OnSaved;

  // Writes Number and Enabled to the settings file.
  void Save();
};

// The data file "tips.dat".
std::string TipsFilePath();

// The lines of a tips file (CR LF, LF or CR end a line; a last line without
// an end counts).
std::vector<std::string> SplitTipLines(const std::string& text);

// The tips file's lines; raises EFileError when it is missing.
std::vector<std::string> LoadTips();

// One step forwards or backwards among `count` tips, wrapping round; a
// number outside the list (a hand-edited file) starts again. Saves.
void NextTip(TTipState& state, std::size_t count);
void PreviousTip(TTipState& state, std::size_t count);

// The tip `state` points at: the text after the line's first comma and its
// help topic before it. Raises EError for a number outside the list.
struct TTip {
  std::string Text;
  std::string Topic;
  // The topic as a number (0: none); raises EError when it is not a whole
  // number. Apart from Text, so that a window shows the text first.
  int HelpTopic() const;
};
TTip TipAt(const TTipState& state, const std::vector<std::string>& tips);

// Steps the tip forward as opening the tip window does, without a window:
// once per start. A failure goes to the error box.
void StepTipOfTheDay(TTipState& state);
