// The history list of the main window: loading, the popup menu and its
// commands, on the offscreen platform.
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTextDocumentFragment>

#include "shell/main_window.h"
#include "shell/request_road.h"
#include "window_fixture.h"

namespace {

constexpr char kHistory[] =
    "http://host/a.htm via pagesrv on 24/12/1998 17:05:09\r\n"
    "http://host/b.zip via binsrv on 24/12/1998 17:06:00\r\n"
    "ftp://ftp.host/c via ftpsrv on 25/12/1998 08:00:00\r\n";

struct Setup {
  Setup() {
    f.Write(f.Ini(),
            "[General]\r\nEmail=me@example.org\r\nTipEnabled=0\r\n"
            "[Servers]\r\nSMTP=127.0.0.1:1\r\n");
    f.Write(f.program + "History.Dat", kHistory);
    InstallRequestRoad();
  }
  TestFolders f;
};

QPoint RowCentre(QListWidget* list, int row) {
  return list->visualItemRect(list->item(row)).center();
}

}  // namespace

class HistoryMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void LoadsTheFileAndOrdersTheMenu() {
    Setup s;
    TfrmProps w;
    QCOMPARE(w.lstHistory->count(), 3);
    QCOMPARE(w.lstHistory->item(1)->text(),
             QString("http://host/b.zip via binsrv on 24/12/1998 17:06:00"));
    QStringList captions;
    for (QAction* a : w.PopupMenu1->actions()) captions << a->text();
    QCOMPARE(captions, QStringList({"&Show Detail", "&Delete from History", "Request &Again",
                                    "&Help"}));
  }

  void RightClickOnAnEntrySelectsItAndOpensTheMenuBelowTheLastDoesNot() {
    Setup s;
    TfrmProps w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* viewport = w.lstHistory->viewport();

    QTest::mouseClick(viewport, Qt::RightButton, {}, RowCentre(w.lstHistory, 1));
    QTRY_VERIFY(w.PopupMenu1->isVisible());
    QCOMPARE(w.lstHistory->selectedItems().size(), 1);
    QCOMPARE(w.lstHistory->row(w.lstHistory->selectedItems().front()), 1);
    w.PopupMenu1->hide();

    QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(20, viewport->height() - 3));
    QTest::qWait(100);
    QVERIFY(!w.PopupMenu1->isVisible());
    QVERIFY(w.lstHistory->selectedItems().isEmpty());
  }

  void ShowDetailAndDelete() {
    Setup s;
    TfrmProps w;
    TRequestRoad* road = RequestRoad();
    QVERIFY(road);

    // Without a selection the commands do nothing.
    road->mnuDeletefromHistoryClick();
    QCOMPARE(w.lstHistory->count(), 3);

    w.lstHistory->setCurrentRow(0);
    {
      BoxAnswerer hand;
      road->mnuShowDetailClick();
      QCOMPARE(hand.texts.size(), std::size_t{1});
      QCOMPARE(hand.texts[0], std::string("http://host/a.htm\n\nVia: pagesrv\n\n"
                                          "Date/Time: 24/12/1998 17:05:09"));
    }

    w.lstHistory->setCurrentRow(1);
    road->mnuDeletefromHistoryClick();
    QCOMPARE(w.lstHistory->count(), 2);
    // Saved at once, not only when the program ends.
    QCOMPARE(TestFolders::ReadText(s.f.program + "History.Dat"),
             std::string("http://host/a.htm via pagesrv on 24/12/1998 17:05:09\r\n"
                         "ftp://ftp.host/c via ftpsrv on 25/12/1998 08:00:00\r\n"));
  }

  void RequestAgainThatFailsShowsTheBoxAndKeepsTheHistory() {
    Setup s;
    TfrmProps w;
    w.lstHistory->setCurrentRow(2);
    RequestRoad()->mnuRequestAgainClick();
    QCOMPARE(s.f.errors.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(s.f.errors[0]).startsWith("Error in Request Failed."));
    QCOMPARE(w.lstHistory->count(), 3);
    QVERIFY(!RequestBusy);
  }

  // The question shows the address exactly; a stop while it is open is a No.
  void StopWhileAskingSendsNothingAndTheQuestionShowsTheAddress() {
    Setup s;
    s.f.Write(s.f.Ini(),
              "[General]\r\nEmail=me@example.org\r\nTipEnabled=0\r\nConfirm=0\r\n"
              "[Servers]\r\nSMTP=127.0.0.1:1\r\n");
    TfrmProps w;
    const std::string url = "http://h/?a=1&b=2&&c";
    BoxAnswerer hand(QMessageBox::Yes);
    QString shown;
    hand.onBox = [&](QWidget* box) {
      shown =
          QTextDocumentFragment::fromHtml(qobject_cast<QMessageBox*>(box)->text()).toPlainText();
      RequestStop();
    };
    QTimer::singleShot(0, [&] { RequestRoad()->Dispatcher().DispatchRequest(url, true); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(shown, QString::fromStdString("Request " + url + " by e-mail?"));
    // Nothing was sent: no failure box from the unreachable server.
    QVERIFY(s.f.errors.empty());
    QCOMPARE(Lines(s.f.Log(), "Request dropped at stop: " + url), 1);
  }
};

QTEST_MAIN(HistoryMenuTest)
#include "history_menu_test.moc"
