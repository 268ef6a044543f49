#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "platform/profile.h"
#include "shell/tips.h"
#include "window_fixture.h"

class TipsTest : public QObject {
  Q_OBJECT

 private:
  static void FiveTips(const TestFolders& f) {
    PutFile(f.program + "tips.dat", "1,one\r\n2,two\r\n0,three\r\n12,four, with a comma\r\n5,five");
  }

 private slots:
  void StepsWrapAroundAndAreSaved() {
    TestFolders f;
    TTipState state;
    FiveTips(f);
    state.Number = 4;
    TfrmTips tips(state);
    QCOMPARE(tips.Tips().size(), std::size_t{5});
    QCOMPARE(state.Number, 0);
    QCOMPARE(tips.StaticText1->text(), QString("one"));
    QCOMPARE(ReadProfileInteger(f.Ini(), "General", "TipNumber", -1), 0);
    tips.btnPrevious->click();
    QCOMPARE(state.Number, 4);
    QCOMPARE(tips.StaticText1->text(), QString("five"));
    tips.btnNext->click();
    QCOMPARE(state.Number, 0);
    QCOMPARE(ReadProfileInteger(f.Ini(), "General", "TipNumber", -1), 0);
    // Numbers outside the list, from a hand-edited settings file, start again.
    state.Number = -7;
    tips.btnNext->click();
    QCOMPARE(state.Number, 0);
    state.Number = 40;
    TfrmTips again(state);
    QCOMPARE(state.Number, 0);
    QVERIFY(f.errors.empty());
  }

  void TextAfterTheFirstCommaAndItsHelpTopic() {
    TestFolders f;
    TTipState state;
    FiveTips(f);
    state.Number = 2;
    TfrmTips tips(state);
    QCOMPARE(tips.StaticText1->text(), QString("four, with a comma"));
    QCOMPARE(tips.HelpTopic(), 12);
    QVERIFY(tips.btnHelp->isEnabled());
    tips.btnPrevious->click();
    QCOMPARE(tips.StaticText1->text(), QString("three"));
    QVERIFY(!tips.btnHelp->isEnabled());
  }

  // Its size and captions are the fit test's pictures; here what a user
  // relies on: on top, Ok by Enter, the shipped tips read cleanly.
  void WindowStaysOnTopAndReadsTheShippedTips() {
    TestFolders f;
    TTipState state;
    TfrmTips tips(state);
    QVERIFY(tips.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(tips.btnOk->isDefault());
    QVERIFY(f.errors.empty());
  }

  void UncheckingStoresTheSwitchAtOnce() {
    TestFolders f;
    TTipState state;
    FiveTips(f);
    TfrmTips tips(state);
    QVERIFY(tips.chkShowTips->isChecked());
    tips.chkShowTips->click();
    QVERIFY(!state.Enabled);
    QCOMPARE(ReadProfileInteger(f.Ini(), "General", "TipEnabled", -1), 0);
  }

  void MissingFileNamesItAndKeepsTheNumber() {
    TestFolders f;
    TTipState state;
    std::remove((f.program + "tips.dat").c_str());
    state.Number = 3;
    TfrmTips tips(state);
    QCOMPARE(state.Number, 3);
    QCOMPARE(tips.StaticText1->text(), QString());
    QCOMPARE(f.errors.size(), std::size_t{1});
    QVERIFY(f.errors[0].find("Error in TfrmTips.") == 0);
    QVERIFY(f.errors[0].find(f.program + "tips.dat") != std::string::npos);
  }

  void EmptyFileSavesZeroAndReportsTheIndex() {
    TestFolders f;
    TTipState state;
    PutFile(f.program + "tips.dat", "");
    state.Number = 3;
    TfrmTips tips(state);
    QCOMPARE(state.Number, 0);
    QCOMPARE(ReadProfileInteger(f.Ini(), "General", "TipNumber", -1), 0);
    QCOMPARE(f.errors.size(), std::size_t{1});
    QVERIFY(f.errors[0].find("List index out of bounds (0)") != std::string::npos);
  }

  void BadNumberShowsTheTextAndKeepsTheHelpButton() {
    TestFolders f;
    TTipState state;
    PutFile(f.program + "tips.dat", "7,first\r\nno comma here\r\nx2,third\r\n");
    state.Number = -1;
    TfrmTips tips(state);
    QVERIFY(tips.btnHelp->isEnabled());
    tips.btnNext->click();
    QCOMPARE(tips.StaticText1->text(), QString("no comma here"));
    QVERIFY(tips.btnHelp->isEnabled());
    QCOMPARE(f.errors.size(), std::size_t{1});
    QVERIFY(f.errors[0].find("Error in QPushButton.") == 0);
    QVERIFY(f.errors[0].find("UH '' is not a valid integer value") != std::string::npos);
    tips.btnNext->click();
    QCOMPARE(tips.StaticText1->text(), QString("third"));
    QCOMPARE(f.errors.size(), std::size_t{2});
  }

  void OnlyOneTipWindowAtATime() {
    TestFolders f;
    TTipState state;
    FiveTips(f);
    int shown = 0;
    BoxAnswerer hand;
    hand.onBox = [&](QWidget* w) {
      if (qobject_cast<TfrmTips*>(w)) {
        ++shown;
        QVERIFY(state.Showing);
        ShowTipOfTheDay(state, nullptr);  // the daily step firing meanwhile
      }
    };
    ShowTipOfTheDay(state, nullptr);
    QCOMPARE(shown, 1);
    QVERIFY(!state.Showing);
    QCOMPARE(state.Number, 1);
  }
};

QTEST_MAIN(TipsTest)
#include "tips_test.moc"
