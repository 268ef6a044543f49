#include "shell/progress.h"

#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

#include "app/tray_logic.h"
#include "shell/ui_style.h"

QPoint ProgressPlace(QPoint cursor, QSize size, QSize screen) {
  const TPlace p = ProgressPlace({cursor.x(), cursor.y()}, size.width(), size.height(),
                                 screen.width(), screen.height());
  return {p.x, p.y};
}

TfrmProgress::TfrmProgress(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frmProgress");
  setFont(FormFont());
  setFixedSize(kWidth, kHeight);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(0, 0, kWidth, kHeight);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);

  Label1 = new QLabel(Panel1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(5, 3, 182, 15);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setTextFormat(Qt::PlainText);

  ProgressBar1 = new QProgressBar(Panel1);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(5, kHeight - 9 - 4, 182, 9);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kNoticeMs);
  Timer1->setSingleShot(true);
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &TfrmProgress::Timer1Timer);
  PlaceNearPointer();
}

void TfrmProgress::PlaceNearPointer() {
  // Wayland tells a client neither the pointer's place nor its windows'.
  if (OnWayland()) return;
  // Screen coordinates of the pointer, relative to the screen it is on.
  const QPoint cursor = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(cursor);
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  move(area.topLeft() + ProgressPlace(cursor - area.topLeft(), size(), area.size()));
}

void TfrmProgress::Timer1Timer() {
  Timer1->stop();
  done(QDialog::Accepted);
}
