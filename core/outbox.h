// Requests that could not go out and wait to be sent again, kept in
// "Outbox.Dat" beside the history so that a restart or a crash loses none.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/datetime.h"

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

  // `path` is ProgramFolder() + "Outbox.Dat".
  explicit TOutbox(std::string path);

  // Replaces the entries by the file's (none when it is missing). A file
  // that cannot be read raises EFileError and is never saved over.
  void Load();
  // Writes every entry, one CR LF line each, replacing the file atomically.
  void Save() const;

  const std::vector<TOutboxEntry>& Entries() const { return entries_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  // Index of the entry for `url`; -1 when none.
  int Find(const std::string& url) const;
  static bool Unconfirmed(const TOutboxEntry& entry) { return entry.Reason == kNotConfirmed; }

  // Appends `url`, or for one kept already updates its server and reason
  // (its place and first try stay); saves.
  void Keep(const std::string& url, const std::string& server, TDateTime when,
            const std::string& reason);
  // Removes the entry for `url` and saves; false when there was none.
  bool Remove(const std::string& url);

  const std::string& Path() const { return path_; }

  // One line of the file, and back. A line that is only a URL is read as
  // one with no server, time or reason.
  static std::string FormatLine(const TOutboxEntry& entry);
  static TOutboxEntry ParseLine(const std::string& line);

 private:
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
