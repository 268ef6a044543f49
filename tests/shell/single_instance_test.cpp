#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>

#include <cstddef>
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

  void LockLivesInAFolderOnlyThisUserEnters() {
    TestFolders f;
    // A runtime folder others may enter is not used: one of our own is made.
    const std::string open = f.program + "open-runtime";
    QVERIFY(QDir().mkpath(QString::fromStdString(open)));
    ::chmod(open.c_str(), 0755);
    ::setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
    const std::string temp = f.program + "tmp/";
    QVERIFY(QDir().mkpath(QString::fromStdString(temp)));
    ::setenv("TMPDIR", temp.c_str(), 1);
    const std::string own = temp + "tolvane-" + std::to_string(::getuid());
    QCOMPARE(InstanceBasePath("tolvane"), own + "/tolvane");
    struct stat st {};
    QCOMPARE(::lstat(own.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    // A folder of that name that others may enter is never taken.
    ::chmod(own.c_str(), 0777);
    QCOMPARE(InstanceBasePath("tolvane"), std::string());
    ::unsetenv("TMPDIR");
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

  void AFailedLockCountsAsAlone() {
    TestFolders f;
    ::setenv("XDG_RUNTIME_DIR", (f.program + "missing").c_str(), 1);
    ::setenv("TMPDIR", (f.program + "missing").c_str(), 1);
    TPreviousInstance first("/opt/x/tolvane");
    QVERIFY(!first.PreviousExists());
    QVERIFY(!first.HoldsLock());
    TJustOne32 runs(f.program, &first);
    QVERIFY(!runs.EndThisProcess());
    ::unsetenv("TMPDIR");
  }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
