#include <QTest>

#include <unistd.h>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "shell/single_instance.h"
#include "window_fixture.h"

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void LockIsHeldByOneAtATime() {
    TestFolders f;
    const std::string path = InstanceBasePath("tolvane") + ".lock";
    QCOMPARE(path, RuntimeFolder() + "tolvane.lock");
    {
      InstanceLock first(path);
      QCOMPARE(first.GetState(), InstanceLock::State::Held);
      InstanceLock second(path);
      QCOMPARE(second.GetState(), InstanceLock::State::HeldByOther);
    }
    InstanceLock again(path);
    QCOMPARE(again.GetState(), InstanceLock::State::Held);
    InstanceLock nowhere(f.program + "no/such/folder/tolvane.lock");
    QCOMPARE(nowhere.GetState(), InstanceLock::State::Failed);
  }

  void TempFolderLockCarriesTheUserId() {
    TestFolders f;
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string base = InstanceBasePath("tolvane");
    QCOMPARE(base, TempFolder() + "tolvane-" + std::to_string(::getuid()));
  }

  void SecondInstanceRaisesTheFirstAndEnds() {
    TestFolders f;
    TPreviousInstance first("/opt/x/tolvane");
    QVERIFY(first.HoldsLock());
    QVERIFY(!first.PreviousExists());
    int raised = 0;
    first.Listen([&] { ++raised; });

    TJustOne32 alone(f.program, &first);
    QVERIFY(!alone.EndThisProcess());

    TPreviousInstance second("/elsewhere/tolvane");
    QVERIFY(second.PreviousExists());
    TJustOne32 later(f.program, &second);
    QVERIFY(later.EndThisProcess());
    QTRY_COMPARE(raised, 1);

    // Another program file name is another program.
    TPreviousInstance other("/opt/x/tolvane-beta");
    QVERIFY(!other.PreviousExists());
  }

  void DuplicateFlagLetsOneMoreStartRun() {
    TestFolders f;
    TPreviousInstance first("/opt/x/tolvane");
    TPreviousInstance second("/opt/x/tolvane");
    const std::string flag = f.program + "AllowDuplicateInstance.Flg";
    f.Write(flag, "");
    TJustOne32 allowed(f.program, &second);
    QVERIFY(!allowed.EndThisProcess());
    QVERIFY(!FileExists(flag));
    TJustOne32 third(f.program, &second);
    QVERIFY(third.EndThisProcess());
  }

  void AFailedLockCountsAsAlone() {
    TestFolders f;
    ::setenv("XDG_RUNTIME_DIR", (f.program + "missing").c_str(), 1);
    TPreviousInstance first("/opt/x/tolvane");
    QVERIFY(!first.PreviousExists());
    QVERIFY(!first.HoldsLock());
    TJustOne32 runs(f.program, &first);
    QVERIFY(!runs.EndThisProcess());
  }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
