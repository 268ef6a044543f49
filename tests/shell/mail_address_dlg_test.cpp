#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "shell/mail_address_dlg.h"
#include "window_fixture.h"

class MailAddressDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheAddressAndLaysOutTheControls() {
    TMailAddressDlg dlg;
    QCOMPARE(dlg.windowTitle(), QString("Address"));
    QCOMPARE(dlg.size(), QSize(240, 124));
    QVERIFY(dlg.OKButton->isDefault());
    QCOMPARE(dlg.OKButton->text(), QString("OK"));
    QCOMPARE(dlg.CancelButton->text(), QString("Cancel"));
    dlg.SetAddress(TmsMailAddress("js@example.org", "J. Smith"));
    QCOMPARE(dlg.NameEdit->text(), QString("J. Smith"));
    QCOMPARE(dlg.AddressEdit->text(), QString("js@example.org"));
    // Tab order: name, address, OK, Cancel.
    QCOMPARE(NextTabStop(dlg.NameEdit), dlg.AddressEdit);
    QCOMPARE(NextTabStop(dlg.AddressEdit), dlg.OKButton);
  }

  void EditThroughTheHookKeepsOkAndDropsCancel() {
    InstallMailAddressEditHook();
    TmsMailAddress address("old@example.org", "Old");

    // OK: the typed texts come back into the address.
    QTimer::singleShot(0, [] {
      auto* dlg = qobject_cast<TMailAddressDlg*>(QApplication::activeModalWidget());
      QVERIFY(dlg);
      dlg->NameEdit->setText("New Name");
      dlg->AddressEdit->setText("new@example.org");
      QTest::mouseClick(dlg->OKButton, Qt::LeftButton);
    });
    QVERIFY(address.Edit());
    QCOMPARE(address.Name(), std::string("New Name"));
    QCOMPARE(address.Address(), std::string("new@example.org"));

    // Cancel: nothing changes.
    QTimer::singleShot(0, [] {
      auto* dlg = qobject_cast<TMailAddressDlg*>(QApplication::activeModalWidget());
      QVERIFY(dlg);
      dlg->NameEdit->setText("Dropped");
      QTest::mouseClick(dlg->CancelButton, Qt::LeftButton);
    });
    QVERIFY(!address.Edit());
    QCOMPARE(address.Name(), std::string("New Name"));
    SetMailAddressEditHook(nullptr);
  }
};

QTEST_MAIN(MailAddressDlgTest)
#include "mail_address_dlg_test.moc"
