#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>

#include <cstddef>
#include <cstdlib>
#include <cstring>

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
    QCOMPARE(path, std::string(std::getenv("XDG_RUNTIME_DIR")) + "/tolvane.lock");
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
    QVERIFY(nowhere.Error().find("no/such/folder") != std::string::npos);
  }

  // Without a private runtime folder the lock goes to the state folder,
  // which only this user can make; never to the temp folder, where another
  // user can make "tolvane-<uid>" first.
  void LockLivesInAFolderOnlyThisUserEnters() {
    TestFolders f;
    const std::string open = f.program + "open-runtime";
    QVERIFY(QDir().mkpath(QString::fromStdString(open)));
    ::chmod(open.c_str(), 0755);
    ::setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
    const std::string stateHome = f.program + "state";
    EnvGuard state("XDG_STATE_HOME", stateHome);
    QCOMPARE(InstanceBasePath("tolvane"), stateHome + "/tolvane/tolvane");
    struct stat st {};
    QCOMPARE(::lstat((stateHome + "/tolvane").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    // Others may write to it, or to a folder above it: never taken.
    ::chmod((stateHome + "/tolvane").c_str(), 0770);
    QCOMPARE(InstanceBasePath("tolvane"), std::string());
    ::chmod((stateHome + "/tolvane").c_str(), 0700);
    ::chmod(stateHome.c_str(), 0777);
    QCOMPARE(InstanceBasePath("tolvane"), std::string());
    ::chmod(stateHome.c_str(), 0700);
    QCOMPARE(InstanceBasePath("tolvane"), stateHome + "/tolvane/tolvane");
  }

  void ATempFolderTakenByAnotherUserStillFindsTheFirst() {
    TestFolders f;
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string temp = f.program + "tmp/";
    QVERIFY(QDir().mkpath(QString::fromStdString(temp)));
    ::chmod(temp.c_str(), 01777);
    EnvGuard tmp("TMPDIR", temp);
    const std::string trap = temp + "tolvane-" + std::to_string(::getuid());
    QVERIFY(QDir().mkpath(QString::fromStdString(trap)));
    ::chmod(trap.c_str(), 0777);
    if (::getuid() == 0) QCOMPARE(::chown(trap.c_str(), 65534, 65534), 0);
    EnvGuard state("XDG_STATE_HOME", f.program + "state");

    TPreviousInstance first("/opt/x/tolvane");
    QVERIFY(first.HoldsLock());
    TPreviousInstance second("/opt/x/tolvane");
    QVERIFY(second.PreviousExists());
    TJustOne32 later(f.program, &second);
    QVERIFY(later.EndThisProcess());
    QVERIFY(!later.Refused());
    QVERIFY(!FileExists(trap + "/tolvane.lock"));
  }

  void OnlyPeersOfThisUserCount() {
    if (::getuid() != 0) QSKIP("needs root to be another user");
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const char name[] = "\0tolvane-peer-test";  // abstract: no folder rights stop the peer
    std::memcpy(address.sun_path, name, sizeof name);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof name);
    QCOMPARE(::bind(server, reinterpret_cast<sockaddr*>(&address), size), 0);
    QCOMPARE(::listen(server, 2), 0);
    for (const uid_t uid : {::getuid(), uid_t{65534}}) {
      const pid_t child = ::fork();
      if (child == 0) {
        const int peer = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::setuid(uid) != 0) ::_exit(1);
        ::_exit(::connect(peer, reinterpret_cast<sockaddr*>(&address), size) == 0 ? 0 : 1);
      }
      const int accepted = ::accept(server, nullptr, nullptr);
      QCOMPARE(PeerIsSameUser(accepted), uid == ::getuid());
      ::close(accepted);
      int status = 0;
      ::waitpid(child, &status, 0);
    }
    ::close(server);
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
    PutFile(flag, "");
    TJustOne32 allowed(f.program, &second);
    QVERIFY(!allowed.EndThisProcess());
    QVERIFY(!FileExists(flag));
    TJustOne32 third(f.program, &second);
    QVERIFY(third.EndThisProcess());
  }

  // Not knowing whether another instance runs must not mean running
  // beside it: every copy would go out twice.
  void AFailedLockRefusesToStart() {
    TestFolders f;
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string notAFolder = f.program + "state-file";
    PutFile(notAFolder, "");
    EnvGuard state("XDG_STATE_HOME", notAFolder);
    TPreviousInstance first("/opt/x/tolvane");
    QVERIFY(first.LockFailed());
    QVERIFY(!first.PreviousExists());
    TJustOne32 refused(f.program, &first);
    QVERIFY(refused.EndThisProcess());
    QVERIFY(refused.Refused());
    QVERIFY(first.RefusalText().find(notAFolder + "/tolvane/") != std::string::npos);
    // The duplicate flag still lets one start run.
    PutFile(f.program + "AllowDuplicateInstance.Flg", "");
    TJustOne32 allowed(f.program, &first);
    QVERIFY(!allowed.EndThisProcess());
  }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
