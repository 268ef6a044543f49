// The tip of the day: one tip from tips.dat at a time, steps forwards and
// backwards, its help topic, and the switch that turns tips off.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "app/tips_state.h"

class QCheckBox;
class QLabel;
class QPushButton;
class TTaskIcon;

class TfrmTips : public QDialog {
  Q_OBJECT

 public:
  // Reads the tips anew and steps forward once (as Next does). Failures go
  // to the error box; the window opens with what was done before them.
  explicit TfrmTips(TTipState& state, QWidget* parent = nullptr);

  void btnNextClick();
  void btnPreviousClick();
  void btnHelpClick();
  void chkShowTipsClick();

  // The help topic of the tip on display (0: none).
  int HelpTopic() const { return help_topic_; }
  const std::vector<std::string>& Tips() const { return tips_; }

  QLabel* Image1;
  QLabel* Label1;
  QLabel* StaticText1;
  QPushButton* btnOk;
  QPushButton* btnNext;
  QPushButton* btnPrevious;
  QPushButton* btnHelp;
  QCheckBox* chkShowTips;

 private:
  void FormCreate();
  void Advance();
  void GoBack();
  void Display();

  TTipState& state_;
  std::vector<std::string> tips_;
  int help_topic_ = 0;
};

// Shows a tip window and waits until it is closed; returns at once when one
// is already showing. The tray icon, when given, is away meanwhile.
void ShowTipOfTheDay(TTipState& state, TTaskIcon* icon);
