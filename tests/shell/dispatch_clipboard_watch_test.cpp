// The Wayland clipboard watch against a real compositor (sway, headless)
// and real copies (wl-copy): what reaches the dispatch, and what does not.
#include <gtest/gtest.h>

#include <QProcess>

#include <string>
#include <vector>

#include "shell/clipboard_watch.h"
#include "tests/net/net_support.h"

namespace {

// One sway for the whole program, started by the end-to-end tests' helper.
class Sway {
 public:
  Sway() {
    helper_.setProgram("/usr/bin/python3");
    helper_.setArguments(
        {TOLVANE_SOURCE_DIR "/tests/e2e/desktop.py", "sway", TOLVANE_BINARY_DIR "/artifacts"});
    helper_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper_.start();
    socket_ = ReadLine();
    runtime_ = ReadLine();
  }
  ~Sway() {
    helper_.closeWriteChannel();
    helper_.waitForFinished(20000);
  }
  const std::string& socket() const { return socket_; }

  // wl-copy as a peer would: the call returns once the compositor has it.
  void Copy(const std::string& data, const std::string& mime = {}, bool primary = false) {
    QStringList args;
    if (!mime.empty()) args << "--type" << QString::fromStdString(mime);
    if (primary) args << "--primary";
    QProcess copy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WAYLAND_DISPLAY", QString::fromStdString(socket_));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));
    copy.setProcessEnvironment(env);
    copy.start("wl-copy", args);
    copy.write(data.data(), static_cast<qint64>(data.size()));
    copy.closeWriteChannel();
    // The watch lives in this process: keep it answering, as a program of
    // its own would, while wl-copy runs (a change read only after the next
    // one came is gone: the compositor serves the newest only).
    for (int i = 0; i < 2000 && !copy.waitForFinished(10); ++i) SpinFor(1);
    SpinFor(20);
    ASSERT_EQ(copy.state(), QProcess::NotRunning);
    ASSERT_EQ(copy.exitCode(), 0) << copy.readAllStandardError().toStdString();
  }

 private:
  std::string ReadLine() {
    while (!helper_.canReadLine() && helper_.waitForReadyRead(30000)) {
    }
    return helper_.readLine().trimmed().toStdString();
  }
  QProcess helper_;
  std::string socket_, runtime_;
};

Sway& Session() {
  EnsureApp();
  static Sway sway;
  return sway;
}

// Watches with a given protocol version and records what arrives.
struct Watched {
  explicit Watched(unsigned version, bool wanted = true) {
    watch = MakeWaylandClipboardWatch(Session().socket().c_str(), version);
    if (!watch) return;
    watch->OnChange = [this, wanted] {
      ++changes;
      return wanted;
    };
    watch->OnText = [this](const std::string& text) { texts.push_back(text); };
  }
  void WaitTexts(std::size_t n) {
    for (int i = 0; i < 200 && texts.size() < n; ++i) SpinFor(25);
    SpinFor(200);  // and nothing more
  }
  std::unique_ptr<TClipboardWatch> watch;
  int changes = 0;
  std::vector<std::string> texts;
};

TEST(WaylandClipboardWatch, SeesCopiesInBothProtocolVersionsAndNotTheStateBefore) {
  Session().Copy("http://before.test/");
  for (unsigned version : {1u, 2u}) {
    Watched w(version);
    ASSERT_TRUE(w.watch) << "version " << version;
    Session().Copy("http://host/v" + std::to_string(version) + ".html");
    w.WaitTexts(1);
    EXPECT_EQ(w.texts,
              std::vector<std::string>{"http://host/v" + std::to_string(version) + ".html"});
    EXPECT_EQ(w.changes, 1);
  }
}

TEST(WaylandClipboardWatch, ReadsOnlyTextOfTheRegularSelection) {
  Watched w(2);
  ASSERT_TRUE(w.watch);
  Session().Copy("\x89PNG\r\n\x1a\n", "image/png");      // a change without text
  Session().Copy("http://host/primary.html", {}, true);  // never seen
  Session().Copy("http://host/legacy.html", "UTF8_STRING");
  Session().Copy("http://h\xc3\xb6st/utf8.html", "text/plain;charset=utf-8");
  w.WaitTexts(3);
  EXPECT_EQ(w.texts, (std::vector<std::string>{"", "http://host/legacy.html",
                                               "http://h\xc3\xb6st/utf8.html"}));
  EXPECT_EQ(w.changes, 3);
}

TEST(WaylandClipboardWatch, UnwantedChangesAreNotRead) {
  Watched w(2, false);
  ASSERT_TRUE(w.watch);
  Session().Copy("http://host/off.html");
  for (int i = 0; i < 100 && w.changes == 0; ++i) SpinFor(25);
  SpinFor(200);
  EXPECT_EQ(w.changes, 1);
  EXPECT_TRUE(w.texts.empty());
}

TEST(WaylandClipboardWatch, OversizedTextIsDroppedAndTheNextArrives) {
  Watched w(2);
  ASSERT_TRUE(w.watch);
  Session().Copy(std::string((1 << 20) + 10, 'x'));
  Session().Copy("http://host/after.html");
  w.WaitTexts(2);
  EXPECT_EQ(w.texts, (std::vector<std::string>{"", "http://host/after.html"}));
}

TEST(WaylandClipboardWatch, NoCompositorNoWatch) {
  EXPECT_EQ(MakeWaylandClipboardWatch("/nonexistent/wayland-0"), nullptr);
  EXPECT_EQ(ProbeWaylandClipboard("/nonexistent/wayland-0"), TWaylandClipboard::NoSession);
  EXPECT_EQ(ProbeWaylandClipboard(Session().socket().c_str()), TWaylandClipboard::DataControl);
}

}  // namespace
