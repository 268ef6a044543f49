#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include "shell/progress.h"
#include "shell/request_view.h"
#include "window_fixture.h"

class ProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void PlacedAwayFromTheScreenEdges() {
    const QSize size(192, 33);
    const QSize screen(1024, 768);
    QCOMPARE(ProgressPlace({0, 0}, size, screen), QPoint(242, 83));
    QCOMPARE(ProgressPlace({1023, 767}, size, screen), QPoint(782, 685));
    QCOMPARE(ProgressPlace({500, 400}, size, screen), QPoint(500, 400));
  }

  // One window serves request after request, its bar back at 0 each time.
  void OneSmallFramelessWindowOnTopServesEveryRequest() {
    TestFolders folders;
    QWidget owner;
    TRequestView view(owner);
    QVERIFY(!view.Progress());
    view.OpenProgress("Sending");
    TfrmProgress* w = view.Progress();
    QVERIFY(w && w->isVisible());
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(w->Label1->text(), QString("Sending"));
    view.SetProgress(60);
    // Back to back, the window stays up; alone, it goes a moment later.
    view.CloseProgress();
    QVERIFY(!view.Progress() && w->isVisible());
    view.OpenProgress("Again");
    QCOMPARE(view.Progress(), w);
    QCOMPARE(w->ProgressBar1->value(), 0);
    view.CloseProgress();
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(!w->Timer1->isActive());
  }

  void EveryStatusChangeIsLogged() {
    TestFolders folders;
    QWidget owner;
    TRequestView view(owner);
    view.SetStatus("Sending");
    view.SetStatus("Sending");
    QCOMPARE(view.StatusLine(), std::string("Sending"));
    QCOMPARE(Lines(folders.Log(), ": Sending\r\n"), 2);
  }

  void BriefNoticeClosesItselfAfterTwoAndAHalfSeconds() {
    TestFolders folders;
    QWidget owner;
    TRequestView view(owner);
    QElapsedTimer clock;
    clock.start();
    bool seen = false;
    QTimer::singleShot(300, [&] {
      auto* notice = qobject_cast<TfrmProgress*>(QApplication::activeModalWidget());
      QVERIFY(notice);
      seen = notice->Label1->text() == "Duplicate Request" && !notice->ProgressBar1->isVisible();
    });
    view.ShowBriefNotice("Duplicate Request");
    const qint64 ms = clock.elapsed();
    QVERIFY(seen);
    QVERIFY2(ms >= 2400 && ms < 4500, std::to_string(ms).c_str());
    QCOMPARE(view.StatusLine(), std::string("Requesting"));
    const std::string log = folders.Log();
    QCOMPARE(Lines(log, "Requesting"), 1);
    QCOMPARE(Lines(log, "Duplicate Request"), 0);
  }
};

QTEST_MAIN(ProgressTest)
#include "progress_test.moc"
