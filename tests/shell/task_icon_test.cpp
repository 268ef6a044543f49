#include <QTest>

#include "shell/task_icon.h"

class TaskIconTest : public QObject {
  Q_OBJECT

 private slots:
  void ToolTipIsCutTo63WithoutSplittingCharacters() {
    TTaskIcon icon;
    icon.SetToolTip(std::string(70, 'x'));
    QCOMPARE(icon.ToolTip().size(), std::size_t{63});
    // "é" is two bytes; the 63rd byte would split the last one.
    std::string accents;
    for (int i = 0; i < 35; ++i) accents += "\xC3\xA9";
    icon.SetToolTip(accents);
    QCOMPARE(icon.ToolTip().size(), std::size_t{62});
    QCOMPARE(CutUtf8("abc", 63), std::string("abc"));
  }

  void CallbacksRaiseTheirEventsOnlyForTheirNumber() {
    TTaskIcon icon;
    icon.SetTaskIconID(3);
    // Events with no handler set are skipped.
    icon.Callback(3, TTaskIcon::Mouse::LeftUp, {});
    icon.Callback(3, TTaskIcon::Mouse::RightUp, {});
    int clicks = 0, doubles = 0, rights = 0;
    QPoint where;
    Qt::MouseButton button = Qt::NoButton;
    icon.OnClick = [&](QObject* sender) {
      QCOMPARE(sender, static_cast<QObject*>(&icon));
      ++clicks;
    };
    icon.OnDblClick = [&](QObject*) { ++doubles; };
    icon.OnRightClick = [&](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers shift, int x,
                            int y) {
      QCOMPARE(shift, Qt::KeyboardModifiers(Qt::NoModifier));
      button = b;
      where = {x, y};
      ++rights;
    };
    icon.Callback(0, TTaskIcon::Mouse::LeftUp, {});
    icon.Callback(4, TTaskIcon::Mouse::RightUp, {});
    QCOMPARE(clicks + doubles + rights, 0);
    icon.Callback(3, TTaskIcon::Mouse::LeftUp, {});
    icon.Callback(3, TTaskIcon::Mouse::LeftDouble, {});
    icon.Callback(3, TTaskIcon::Mouse::RightUp, {12, 34});
    icon.Callback(3, TTaskIcon::Mouse::Other, {});
    QCOMPARE(clicks, 1);
    QCOMPARE(doubles, 1);
    QCOMPARE(rights, 1);
    QCOMPARE(button, Qt::RightButton);
    QCOMPARE(where, QPoint(12, 34));
  }

  void WithoutTrayHostTheIconStaysInactiveAndSendsNoModify() {
    // The offscreen platform has no notification area.
    TTaskIcon icon;
    icon.SetActive(true);
    QVERIFY(!icon.Active());
    const int calls = icon.PlatformCalls();
    icon.SetToolTip("Tolvane");
    icon.SetToolTip("Tolvane");
    icon.SetTaskIconID(5);
    QCOMPARE(icon.PlatformCalls(), calls);
    icon.SetActive(false);  // already inactive: nothing to remove
    QCOMPARE(icon.PlatformCalls(), calls);
  }
};

QTEST_MAIN(TaskIconTest)
#include "task_icon_test.moc"
