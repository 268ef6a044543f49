// The history list of the main window: loading, the popup menu and its
// commands, on the offscreen platform.
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>

#include "shell/main_window.h"
#include "shell/task_icon.h"
#include "tests/net/net_support.h"
#include "tests/support/private_keyring.h"
#include "window_fixture.h"

namespace {

constexpr char kHistory[] =
    "http://host/a.htm via pagesrv on 24/12/1998 17:05:09\r\n"
    "http://host/b.zip via binsrv on 24/12/1998 17:06:00\r\n"
    "ftp://ftp.host/c via ftpsrv on 25/12/1998 08:00:00\r\n";

struct Setup {
  Setup() {
    f.Settings("127.0.0.1:1");
    PutFile(f.program + "History.Dat", kHistory);
  }
  TestFolders f;
};

}  // namespace

class HistoryMenuTest : public QObject {
  Q_OBJECT

 private slots:
  // As in the tray program, the list is made and filled on the first show.
  void LoadsOnFirstShowAndRightClickOnAnEntryOpensTheMenuBelowTheLastDoesNot() {
    Setup s;
    StartedTray t(TfrmProps::TControls::OnFirstShow);
    TfrmProps& w = t.w;
    QVERIFY(!w.lstHistory);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.lstHistory->count(), 3);
    QCOMPARE(w.lstHistory->item(1)->text(),
             QString("http://host/b.zip via binsrv on 24/12/1998 17:06:00"));
    QStringList captions;
    for (QAction* a : w.PopupMenu1->actions()) captions << a->text();
    QCOMPARE(captions,
             QStringList({"&Show Detail", "&Delete from History", "Request &Again", "Send &Now",
                          "&Discard", "Ask this server for its &help", "&Help"}));
    QWidget* viewport = w.lstHistory->viewport();

    QTest::mouseClick(viewport, Qt::RightButton, {},
                      w.lstHistory->visualItemRect(w.lstHistory->item(1)).center());
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
    StartedTray t;
    TfrmProps& w = t.w;
    THistoryView* road = &t.app.History();

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
    QCOMPARE(GetFile(s.f.program + "History.Dat"),
             std::string("http://host/a.htm via pagesrv on 24/12/1998 17:05:09\r\n"
                         "ftp://ftp.host/c via ftpsrv on 25/12/1998 08:00:00\r\n"));
  }

  // While collecting, copies are held; Send Now on a held row sends them all
  // as one mail through a real server and moves them into the history.
  void HeldRequestsGoAsOneMailOnSendNow() {
    RealSmtpServer server;
    TestFolders f;
    f.Settings(server.Address(), "Collect=1\r\n");
    PutFile(f.program + "uservers.dat",
            "[pages@srv.test]\r\nType=0\r\nverbPagesHttp=send\r\nEnd=quit\r\nMaxPerMail=5\r\n");
    StartedTray t;
    TfrmProps& w = t.w;
    for (const char* url : {"http://host/1", "http://host/2", "http://host/3"})
      t.app.Stack().Dispatcher.DispatchRequest(url, false);
    QCOMPARE(w.lstHistory->count(), 3);
    QVERIFY(w.lstHistory->item(0)->text().startsWith("http://host/1 held"));
    QVERIFY(server.Messages().empty());

    w.lstHistory->setCurrentRow(1);
    t.app.History().mnuSendNowClick();
    const auto mails = server.Messages();
    QCOMPARE(mails.size(), std::size_t{1});
    QVERIFY2(mails[0].data.find("\r\n\r\nsend http://host/1\r\nsend http://host/2\r\n"
                                "send http://host/3\r\nquit\r\n") != std::string::npos,
             mails[0].data.c_str());
    QCOMPARE(GetFile(f.program + "Outbox.Dat"), std::string());
    QCOMPARE(w.lstHistory->count(), 3);
    QVERIFY(w.lstHistory->item(0)->text().contains(" via pages@srv.test on "));
    QVERIFY(f.errors.empty());
  }

  void RequestAgainThatFailsShowsTheBoxAndKeepsTheHistory() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.lstHistory->setCurrentRow(2);
    t.app.History().mnuRequestAgainClick();
    QCOMPARE(s.f.errors.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(s.f.errors[0]).startsWith("Error in Request Failed."));
    QCOMPARE(w.lstHistory->count(), 3);
    QVERIFY(!t.app.Stack().Dispatcher.RequestBusy());
  }

  void KeptRequestsStandAboveTheHistoryWithTheirOwnCommands() {
    Setup s;
    PutFile(s.f.program + "Outbox.Dat",
            "http://host/wait.htm\tpagesrv\t2026-12-08 09:00:00\t[10061] Connection refused\r\n");
    StartedTray t;
    TfrmProps& w = t.w;
    THistoryView* road = &t.app.History();
    QCOMPARE(w.lstHistory->count(), 4);
    const QListWidgetItem* kept = w.lstHistory->item(0);
    QVERIFY(kept->text().startsWith("http://host/wait.htm waiting since "));
    QVERIFY(kept->text().contains(": [10061] Connection refused; next try "));
    // Its words and slant tell it apart; its colour is the text's own.
    QVERIFY(kept->font().italic());
    QCOMPARE(t.app.Icon().ToolTip(), std::string("Tolvane: 1 request waiting"));

    auto shown = [&](int row) {
      w.lstHistory->setCurrentRow(row);
      emit w.PopupMenu1->aboutToShow();
      QStringList captions;
      for (QAction* a : w.PopupMenu1->actions())
        if (a->isVisible()) captions << a->text();
      return captions;
    };
    const QString ask = "Ask this server for its &help";
    QCOMPARE(shown(0), QStringList({"Send &Now", "&Discard", ask, "&Help"}));
    QCOMPARE(shown(1), QStringList({"&Show Detail", "&Delete from History", "Request &Again", ask,
                                    "&Help"}));
    // History commands count their rows below the kept ones.
    road->mnuDeletefromHistoryClick();
    QCOMPARE(GetFile(s.f.program + "History.Dat").rfind("http://host/b.zip", 0), std::size_t{0});

    // Sent again into a line that is still down: kept, quietly.
    w.lstHistory->setCurrentRow(0);
    road->mnuSendNowClick();
    QVERIFY(s.f.errors.empty());
    QCOMPARE(w.lstHistory->count(), 3);

    w.lstHistory->setCurrentRow(0);
    road->mnuDiscardClick();
    QCOMPARE(w.lstHistory->count(), 2);
    QCOMPARE(GetFile(s.f.program + "Outbox.Dat"), std::string());
    QCOMPARE(t.app.Icon().ToolTip(), std::string("Tolvane"));
  }

  // A login with no password stored anywhere: the tray asks once per run.
  // A request goes by the settings last saved, not by a field being edited.
  void RequestWithALoginAsksForThePasswordOnce() {
    Setup s;
    TPrivateKeyring::Shared();  // an empty keyring of the test's own
    StartedTray t;
    TfrmProps& w = t.w;
    int asked = 0;
    BoxAnswerer hand;
    hand.onBox = [&](QWidget* box) {
      if (auto* input = qobject_cast<QInputDialog*>(box)) {
        ++asked;
        input->setTextValue("typed pw");
      }
    };
    const auto requestAgain = [&](int row) {
      w.lstHistory->setCurrentRow(row);
      t.app.History().mnuRequestAgainClick();
    };
    w.txtSMTPUser->setText("asked@example.org");
    requestAgain(2);
    QCOMPARE(asked, 0);
    w.btnOk->click();
    for (int row : {2, 0}) requestAgain(row);
    QCOMPARE(asked, 1);
    // Asked, then refused by the closed port: the password did not end it.
    QCOMPARE(s.f.errors.size(), std::size_t{3});
    QVERIFY(QString::fromStdString(s.f.errors[0])
                .endsWith("\n[10061] Connection refused (127.0.0.1 port 1)"));
    QVERIFY(s.f.Log().find("typed pw") == std::string::npos);
  }

  // The question shows the address exactly; a stop while it is open is a No.
  void StopWhileAskingSendsNothingAndTheQuestionShowsTheAddress() {
    Setup s;
    s.f.Settings("127.0.0.1:1", "Confirm=0\r\n");
    StartedTray t;
    const std::string url = "http://h/?a=1&b=2&&c";
    BoxAnswerer hand(QMessageBox::Yes);
    QString shown;
    hand.onBox = [&](QWidget* box) {
      shown =
          QTextDocumentFragment::fromHtml(qobject_cast<QMessageBox*>(box)->text()).toPlainText();
      t.app.Stop();
    };
    QTimer::singleShot(0, [&] { t.app.Stack().Dispatcher.DispatchRequest(url, true); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(shown, QString::fromStdString("Request " + url + " by e-mail?"));
    // Nothing was sent: no failure box from the unreachable server.
    QVERIFY(s.f.errors.empty());
    QCOMPARE(Lines(s.f.Log(), "Request dropped at stop: " + url), 1);
  }
};

QTEST_MAIN(HistoryMenuTest)
#include "history_menu_test.moc"
