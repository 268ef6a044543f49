// Requests that could not go out, or are going out now, kept in
// "Outbox.Dat" beside the history so that a restart or a crash loses none
// and sends none twice.
//
// An entry moves through these states (its Reason field):
//   held         collected to go with others on the user's word or at the
//                set time; no round sends it by itself.
//   waiting      a reason that may pass, or none yet: sent by the next round.
//   sending      claimed before the connection opens; the message's end has
//                not gone out, so after a crash it is simply waiting again.
//   unconfirmed  written before the message's closing "." goes out: the
//                server may hold it, so only the user sends it again.
//   sent         the server took it; the history line follows in the
//                reason. Written before the history, removed after it: a
//                crash in between is finished by Recover, which adds the
//                line unless the history has it already.
// Every write of an entry is fsynced and replaces the file whole, so a
// crash at any point leaves one of these states and never half a line.
//
// Processes: every change re-reads the file and writes it back under one
// flock on "Outbox.Lck" beside it, which the history takes too. A send
// holds that lock from its claim to its last state, so two programs never
// send one entry, and a "sending" or "sent" entry seen with the lock held
// belongs to a process that died (Recover).
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/datetime.h"

class THistory;

struct TOutboxEntry {
  std::string Url;
  std::string Server;
  TDateTime FirstTry = 0;
  std::string Reason;
};

class TOutbox {
 public:
  // The connection broke after the message went out and before the server
  // answered: it may have arrived, so only the user sends it again.
  static constexpr const char* kNotConfirmed = "delivery not confirmed";
  static constexpr const char* kSending = "sending";
  static constexpr const char* kSentPrefix = "sent: ";
  static constexpr const char* kHeld = "held";

  // `path` is ProgramFolder() + "Outbox.Dat".
  explicit TOutbox(std::string path);

  // Replaces the entries by the file's (none when it is missing). A file
  // that cannot be read raises EFileError and is never saved over.
  void Load();

  const std::vector<TOutboxEntry>& Entries() const { return entries_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  // Index of the entry for `url`; -1 when none.
  int Find(const std::string& url) const;
  static bool Unconfirmed(const TOutboxEntry& entry) { return entry.Reason == kNotConfirmed; }
  static bool Sending(const TOutboxEntry& entry);
  static bool Held(const TOutboxEntry& entry) { return entry.Reason == kHeld; }
  // Whether a round of sending again takes it by itself.
  static bool Waiting(const TOutboxEntry& entry) {
    return !Unconfirmed(entry) && !Sending(entry) && !Held(entry);
  }

  // Each change below re-reads the file under the lock, applies itself and
  // writes the file back; it raises EFileError when the file cannot be
  // read or written (a full or read-only disk), and the file is unchanged.

  // Appends `url`, or for one kept already updates its server and reason
  // (its place and first try stay).
  void Keep(const std::string& url, const std::string& server, TDateTime when,
            const std::string& reason);
  // Keep for the requests one mail carries, in one write: after a crash
  // they are all in the new state or all in the old.
  using TReasonFor = std::function<std::string(const std::string& url)>;
  void KeepAll(const std::vector<std::string>& urls, const std::string& server, TDateTime when,
               const TReasonFor& reason);
  // Removes the entry for `url`; false when there was none.
  bool Remove(const std::string& url);
  bool RemoveAll(const std::vector<std::string>& urls);
  // The states of a send, in order (Keep adds a missing entry for each).
  void MarkSending(const std::vector<std::string>& urls, const std::string& server,
                   TDateTime when) {
    KeepAll(urls, server, when, [](const std::string&) { return kSending; });
  }
  void MarkUnconfirmed(const std::vector<std::string>& urls) {
    KeepAll(urls, "", 0, [](const std::string&) { return kNotConfirmed; });
  }
  void MarkSent(const std::vector<std::string>& urls, const TReasonFor& historyLine) {
    KeepAll(urls, "", 0, [&](const std::string& url) { return kSentPrefix + historyLine(url); });
  }
  // Finishes what a process that died left: "sending" waits again, "sent"
  // joins the history (once) and leaves. Call it with the lock held and no
  // send of this process under way.
  void Recover(THistory& history);

  const std::string& Path() const { return path_; }
  // The lock file that serialises changes of this outbox and its history.
  std::string LockPath() const;
  static std::string LockPathBeside(const std::string& file);

  // One line of the file, and back. A line that is only a URL is read as
  // one with no server, time or reason.
  static std::string FormatLine(const TOutboxEntry& entry);
  static TOutboxEntry ParseLine(const std::string& line);

 private:
  // Under the lock: re-reads the file, runs `change` and writes the file
  // when it says it changed something; on a failed write the entries are
  // as before. Returns what `change` returned.
  bool Change(const std::function<bool()>& change);
  void Save() const;

  std::string path_;
  std::vector<TOutboxEntry> entries_;
  bool load_failed_ = false;
};

// Whether a failure may pass by itself (a line down, a busy server), will
// fail the same way again (a refusal, bad credentials), or left the message
// with the server without its answer (`dataSent`: the end of the message
// went out before the failure).
enum class TFailureKind { Transient, Permanent, Unconfirmed };
TFailureKind ClassifyFailure(const std::exception& e, bool dataSent = false);

// Minutes between rounds of sending again: 1, 2, 5, 10, then every 30.
class TRetrySchedule {
 public:
  int NextDelayMinutes() const;
  void Failed() { ++failures_; }
  void Reset() { failures_ = 0; }

 private:
  int failures_ = 0;
};
