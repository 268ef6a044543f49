// The small progress window of a request, brief notices, and the status line.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QSize>

#include <memory>
#include <string>

class QFrame;
class QLabel;
class QProgressBar;
class QTimer;

class TfrmProgress : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 192;
  static constexpr int kHeight = 33;
  static constexpr int kNoticeMs = 2500;

  // Places itself near the pointer; the bar starts visible at 0.
  explicit TfrmProgress(QWidget* parent = nullptr);

  QFrame* Panel1;
  QLabel* Label1;
  QProgressBar* ProgressBar1;
  QTimer* Timer1;

 private:
  void Timer1Timer();
};

// Where a window of `size` goes for the pointer at `cursor` on a screen of
// `screen` (all in that screen's coordinates): at the pointer, but never
// closer than its own size plus 50 to the top and left edges, nor closer than
// 50 to the bottom and right edges.
QPoint ProgressPlace(QPoint cursor, QSize size, QSize screen);

// The status line: the last status set, empty at start.
const std::string& StatusLine();

// Sets the status line and writes it to the debug log.
void SetStatus(const std::string& text);

// Shows `text` in a progress window without a bar for 2.5 seconds and waits
// for it, the program handling events meanwhile; then SetStatus("Requesting").
void ShowBriefNotice(const std::string& text);

// The request's progress window; at most one at a time.
TfrmProgress* frmProgress();
TfrmProgress* CreateProgressWindow();
void FreeProgressWindow();
