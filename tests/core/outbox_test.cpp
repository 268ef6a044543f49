#include "core/outbox.h"

#include <gtest/gtest.h>

#include "core/history.h"
#include "platform/errors.h"
#include "tests/platform/calendar.h"
#include "tests/platform/temp_folder.h"

namespace {

TDateTime At(int hour, int minute) { return DateTimeFromTm(Tm(2026, 12, 8, hour, minute)); }

TEST(OutboxTest, KeepsEachUrlOnceInOrderAndSurvivesAReload) {
  TempFolder dir;
  TOutbox outbox(dir / "Outbox.Dat");
  outbox.Keep("http://a/", "pages@s", At(9, 0), "[10061] Connection refused");
  outbox.Keep("http://tab\there/", "pages@s", At(9, 5), "451 Try\r\nagain\tlater");
  outbox.Keep("ftp://b/x.zip", "ftp@s", At(9, 10), "Operation timed out");
  // The same URL again: new reason, same place and first try.
  outbox.Keep("http://a/", "pages@s", At(10, 0), "[11001] Host not found");

  EXPECT_EQ(GetFile(dir / "Outbox.Dat"),
            "http://a/\tpages@s\t2026-12-08 09:00:00\t[11001] Host not found\r\n"
            "http://tab\there/\tpages@s\t2026-12-08 09:05:00\t451 Try  again later\r\n"
            "ftp://b/x.zip\tftp@s\t2026-12-08 09:10:00\tOperation timed out\r\n");

  TOutbox again(dir / "Outbox.Dat");
  again.Load();
  ASSERT_EQ(again.Count(), 3);
  EXPECT_EQ(again.Entries()[0].Url, "http://a/");
  EXPECT_DOUBLE_EQ(again.Entries()[0].FirstTry, At(9, 0));
  EXPECT_EQ(again.Entries()[1].Url, "http://tab\there/");
  EXPECT_EQ(again.Entries()[1].Server, "pages@s");
  EXPECT_EQ(again.Entries()[2].Reason, "Operation timed out");

  EXPECT_TRUE(again.Remove("http://tab\there/"));
  EXPECT_FALSE(again.Remove("http://tab\there/"));
  EXPECT_EQ(GetFile(dir / "Outbox.Dat").find("tab"), std::string::npos);
}

TEST(OutboxTest, HandEditedFileLoadsWhatItCan) {
  TempFolder dir;
  PutFile(dir / "Outbox.Dat",
          "http://only-url/\n\r\n   \nhttp://x/\ts\tnot a time\twhy\rhttp://only-url/\r\n");
  TOutbox outbox(dir / "Outbox.Dat");
  outbox.Load();
  ASSERT_EQ(outbox.Count(), 2);
  EXPECT_EQ(outbox.Entries()[0].Url, "http://only-url/");
  EXPECT_EQ(outbox.Entries()[0].Reason, "");
  EXPECT_EQ(outbox.Entries()[1].Url, "http://x/");
  EXPECT_EQ(outbox.Entries()[1].FirstTry, 0);
  EXPECT_EQ(outbox.Entries()[1].Reason, "why");

  TOutbox missing(dir / "none.dat");
  missing.Load();
  EXPECT_EQ(missing.Count(), 0);
}

TEST(OutboxTest, UnreadableFileIsNeverSavedOver) {
  TempFolder dir;
  // A folder in the file's place cannot be read as a file.
  std::filesystem::create_directory(dir / "Outbox.Dat");
  TOutbox outbox(dir / "Outbox.Dat");
  EXPECT_THROW(outbox.Load(), EFileError);
  EXPECT_THROW(outbox.Keep("http://a/", "s", At(9, 0), "why"), EFileError);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Outbox.Dat"));
}

// What a program killed mid-send left is finished by the next one: a claim
// whose message never ended waits again, an accepted one joins the history
// once, an unconfirmed one stays for the user.
TEST(OutboxTest, RecoverFinishesWhatADeadProgramLeft) {
  TempFolder dir;
  THistory history(dir / "History.Dat");
  const std::string line = THistory::EntryLine("p@s", "http://sent/", At(9, 3));
  TOutbox first(dir / "Outbox.Dat");
  first.MarkSending({"http://claimed/"}, "p@s", At(9, 0));
  first.MarkSending({"http://maybe/"}, "p@s", At(9, 1));
  first.MarkUnconfirmed({"http://maybe/"});
  first.MarkSent({"http://sent/"}, [&](const std::string&) { return line; });
  first.MarkSent({"http://recorded/"},
                 [](const std::string&) { return "http://recorded/ via p@s on d t"; });
  history.AddLineOnce("http://recorded/ via p@s on d t");

  // Another program's object, loaded before all this.
  TOutbox next(dir / "Outbox.Dat");
  next.Recover(history);
  ASSERT_EQ(next.Count(), 2);
  EXPECT_EQ(next.Entries()[0].Url, "http://claimed/");
  EXPECT_TRUE(TOutbox::Waiting(next.Entries()[0]));
  EXPECT_DOUBLE_EQ(next.Entries()[0].FirstTry, At(9, 0));
  EXPECT_TRUE(TOutbox::Unconfirmed(next.Entries()[1]));
  EXPECT_EQ(GetFile(dir / "History.Dat"), line + "\r\nhttp://recorded/ via p@s on d t\r\n");
}

TEST(OutboxTest, FailuresThatMayPassAreTransient) {
  const auto kind = [](const std::exception& e) { return ClassifyFailure(e); };
  using K = TFailureKind;
  for (const char* text :
       {"[10061] Connection refused", "[10054] Connection reset by peer",
        "[10065] No Route to Host", "[10051] Network is unreachable", "[11001] Host not found",
        "[10060] Connection timed out", "Error resolving remote host", "451 4.3.0 Try again later",
        "421 Service not available", "TLS handshake cut off"}) {
    EXPECT_EQ(kind(ESocketError(text)), K::Transient) << text;
  }
  EXPECT_EQ(kind(ETimedOutError("Operation timed out")), K::Transient);
  EXPECT_EQ(kind(ERASError("The line is busy")), K::Transient);

  for (const char* text : {"550 No such user", "554 Transaction failed", "[10049] Cannot assign",
                           "Server name is required"}) {
    EXPECT_EQ(kind(ESocketError(text)), K::Permanent) << text;
  }
  // Refused credentials and certificates stay refused, whatever their text.
  EXPECT_EQ(kind(EAuthError("Authentication failed 454 4.7.0 Temporary")), K::Permanent);
  EXPECT_EQ(kind(ECertificateError("TLS handshake: certificate expired")), K::Permanent);
  EXPECT_EQ(kind(EMessageError("Recipient required")), K::Permanent);

  // After the end of the message went out only the server's answer tells.
  EXPECT_EQ(ClassifyFailure(ESocketError("[10054] Connection reset by peer"), true),
            K::Unconfirmed);
  EXPECT_EQ(ClassifyFailure(ETimedOutError("Operation timed out"), true), K::Unconfirmed);
  EXPECT_EQ(ClassifyFailure(ESocketError("451 Try later"), true), K::Transient);
  EXPECT_EQ(ClassifyFailure(ESocketError("554 Rejected"), true), K::Permanent);
}

TEST(OutboxTest, RetryScheduleBacksOffToHalfHours) {
  TRetrySchedule schedule;
  std::vector<int> delays;
  for (int i = 0; i < 6; ++i) {
    delays.push_back(schedule.NextDelayMinutes());
    schedule.Failed();
  }
  EXPECT_EQ(delays, (std::vector<int>{1, 2, 5, 10, 30, 30}));
  schedule.Reset();
  EXPECT_EQ(schedule.NextDelayMinutes(), 1);
}

}  // namespace
