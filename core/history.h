// The request history: one line per request sent, newest first, kept in
// "History.Dat" of the program folder. What each request cost in bytes is
// kept beside it in "History.Bytes", so that History.Dat keeps its format.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"

class THistory {
 public:
  static constexpr int HistoryLimit = 250;

  // `path` is the history file (ProgramFolder() + "History.Dat").
  explicit THistory(std::string path);

  const std::vector<std::string>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }

  // Time the newest entry was added in this run; 0 until then, so an entry
  // loaded from the file never counts as a fast duplicate.
  TDateTime LastRequestTime = 0;

  // Replaces the list by the file's lines (all of them); an empty list when
  // there is no file. A file that cannot be read raises EFileError and
  // marks the history as not loaded: it is then never saved over the file.
  void Load();

  // Re-reads the file under the outbox's lock, cuts the list to
  // HistoryLimit and writes it back, replacing the file atomically. Raises
  // EFileError when the file cannot be read or written.
  void Save();

  // The line of a request sent: URL + " via " + server + " on " + date +
  // " " + time.
  static std::string EntryLine(const std::string& server, const std::string& url, TDateTime when);
  // Inserts EntryLine at the top of the list as the file has it now, cuts
  // it to HistoryLimit and saves it, so that a crash loses no request that
  // was already sent. Raises EFileError when it cannot be saved; the entry
  // is in the list all the same.
  void AddHistoryEntry(const std::string& server, const std::string& url);
  void AddHistoryEntry(const std::string& server, const std::string& url, TDateTime when);
  // Called with the line of every entry AddHistoryEntry adds.
  std::function<void(const std::string& line)> OnAdded;
  // Adds `line` at the top unless the list has it already.
  void AddLineOnce(const std::string& line);

  // Removes entry `index` (ignored when out of range) and saves the list.
  void Delete(int index);

  // Index of the first entry whose URL equals `url` exactly; -1 if none.
  int FindInHistory(const std::string& url) const;

  // The text before the first blank; empty when there is none.
  static std::string HistoryUrl(const std::string& line);

  // The text of the "Show Detail" box for one line.
  static std::string DetailText(const std::string& line);

  // The bytes that went over the link for entry `index`; nullopt when none
  // were recorded (an entry older than the record, or out of range).
  std::optional<std::uint64_t> Bytes(int index) const;
  // The bytes recorded in a month of local time (1 to 12), read from the
  // file, so that what other programs sent counts; 0 when it cannot be read.
  std::uint64_t MonthBytes(int year, int month) const;
  // Records `total` bytes, divided evenly, for the entries `lines` that
  // shared one connection, under the outbox's lock. Records from before
  // the same month a year earlier go. Raises EFileError when the file cannot be read or written.
  void RecordBytes(const std::vector<std::string>& lines, TDateTime when, std::uint64_t total);
  // Path() with ".Dat" replaced by ".Bytes".
  std::string BytesPath() const;

  bool LoadFailed() const { return load_failed_; }
  const std::string& Path() const { return path_; }

 private:
  void Cut();
  // Re-reads the file under the lock, applies `change` and saves.
  void Change(const std::function<void()>& change);

  struct TBytesRecord {
    std::string stamp;  // "YYYY-MM-DD HH:MM:SS", local time
    std::uint64_t bytes = 0;
    std::string line;  // the history entry
  };
  static std::vector<TBytesRecord> ReadBytes(const std::string& path);

  std::string path_;
  std::vector<std::string> items_;
  std::vector<TBytesRecord> bytes_;
  bool load_failed_ = false;
};
