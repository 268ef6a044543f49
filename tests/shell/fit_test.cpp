// Every window with the one font family that fontconfig lets through (the
// test runs once per family Debian installs by default), under a light and
// a dark palette: no caption is clipped, no controls overlap, and text
// stands out from its background. Pictures go to the artifacts folder.
#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <cstdlib>

#include "shell/mail_address_dlg.h"
#include "shell/main_window.h"
#include "shell/progress.h"
#include "shell/tips.h"
#include "shell/ui_style.h"
#include "window_fixture.h"

namespace {

QString Family() { return QString::fromLocal8Bit(std::getenv("TOLVANE_FIT_FAMILY")); }

QPalette DarkPalette() {
  const QColor light(230, 230, 230);
  QPalette p(light, QColor(45, 45, 48));  // button text, window
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  p.setColor(QPalette::Text, light);
  return p;
}

// What a user reads: the text colour against the colour behind it.
int Contrast(const QWidget* w) {
  const QWidget* back = w;
  while (back->parentWidget() && !back->autoFillBackground() && !back->isWindow()) {
    back = back->parentWidget();
  }
  const QColor fg = w->palette().color(w->foregroundRole());
  const QColor bg = back->palette().color(back == w ? w->backgroundRole() : QPalette::Window);
  return std::abs(fg.lightness() - bg.lightness());
}

void CheckNothingClipped(QWidget* window, const char* name) {
  const QString where = Family() + " " + name;
  for (QWidget* c : window->findChildren<QWidget*>()) {
    if (c->isWindow() || c->isHidden() || c->parentWidget()->layout()) continue;
    const QByteArray what =
        (where + " " + c->objectName() + " " +
         (qobject_cast<QAbstractButton*>(c) ? qobject_cast<QAbstractButton*>(c)->text()
                                            : QString()))
            .toUtf8();
    QVERIFY2(c->width() >= CaptionWidth(c), what.constData());
    QVERIFY2(c->parentWidget()->rect().contains(c->geometry()), what.constData());
    // Text inside a frame keeps off its line.
    if (qobject_cast<QGroupBox*>(c->parentWidget())) {
      QVERIFY2(c->geometry().right() < c->parentWidget()->width() - 4, what.constData());
    }
    for (QWidget* s : c->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (s == c || s->isWindow() || s->isHidden()) continue;
      // The designed places let a caption's row touch its field by a pixel.
      QVERIFY2((c->geometry() & s->geometry()).height() <= 1,
               (what + " overlaps " + s->objectName().toUtf8()).constData());
    }
  }
}

void Save(QWidget* window, const char* name, const char* shade) {
  QDir().mkpath(TOLVANE_BINARY_DIR "/artifacts");
  const QString file = QStringLiteral(TOLVANE_BINARY_DIR "/artifacts/fit_%1_%2_%3.png")
                           .arg(Family().split(' ').first().toLower(), name, shade);
  QVERIFY(window->grab().save(file));
}

}  // namespace

class FitTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(!Family().isEmpty(), "TOLVANE_FIT_FAMILY names the one family fontconfig offers");
    QCOMPARE(QFontInfo(FormFont()).family(), Family());
  }

  void WindowsFitTheirCaptionsInLightAndDark() {
    for (const char* shade : {"light", "dark"}) {
      QApplication::setPalette(
          std::string(shade) == "dark" ? DarkPalette() : QApplication::style()->standardPalette());
      TestFolders f;
      f.Settings();
      {
        StartedTray t;
        TfrmProps& w = t.w;
        QVERIFY(w.width() >= 541 && w.height() >= 417);
        CheckNothingClipped(&w, "main");
        Save(&w, "main", shade);
      }
      {
        TTipState state;
        TfrmTips tips(state);
        tips.StaticText1->setText("Copy the address of a page and Tolvane asks for it by mail.");
        CheckNothingClipped(&tips, "tips");
        QVERIFY2(Contrast(tips.StaticText1) > 120, shade);
        Save(&tips, "tips", shade);
      }
      {
        TfrmProgress progress;
        progress.Label1->setText("Sending request");
        progress.ProgressBar1->setValue(40);
        QVERIFY2(Contrast(progress.Label1) > 120, shade);
        Save(&progress, "progress", shade);
      }
      {
        TMailAddressDlg address;
        CheckNothingClipped(&address, "address");
        Save(&address, "address", shade);
      }
    }
  }
};

QTEST_MAIN(FitTest)
#include "fit_test.moc"
