// The small progress window of a request, also used for brief notices.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QSize>

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

  // Placed near the pointer; the bar starts visible at 0.
  explicit TfrmProgress(QWidget* parent = nullptr);

  // Moves next to the pointer (where the system tells where it is).
  void PlaceNearPointer();

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
