// The dial-up link of the request client: a socket linked to it dials at
// each open, and a line it brought up comes down after the last mail of a
// run rather than after each mail. Outside a run every close hangs up, as
// the dial-up component alone does.
#pragma once

#include <memory>
#include <string>

#include "net/raslink.h"

class QDBusConnection;
class TagRas;

class TRasRun : public TRasLink {
 public:
  // NetworkManager on the system bus, reached at the first Configure that
  // names an entry.
  TRasRun();
  ~TRasRun() override;

  // NetworkManager on `bus` instead; forgets the entry.
  void UseBus(const QDBusConnection& bus);

  // `entry` names the NetworkManager profile to bring up ("" none);
  // `hangUp` false leaves a line that was brought up running.
  void Configure(const std::string& entry, bool hangUp);
  bool Active() const { return !entry_.empty(); }
  const std::string& Entry() const { return entry_; }
  // False when the system knows no connection by the entry's name.
  bool EntryKnown() const;
  // The component, made by the first Configure that names an entry.
  TagRas* Ras() const { return ras_.get(); }

  // Runs nest; the line comes down when the outermost one ends.
  void BeginRun() { ++runs_; }
  void EndRun() {
    if (runs_ > 0 && --runs_ == 0) HangUpNow();
  }
  bool InRun() const { return runs_ > 0; }

  void Dial() override;
  // Within a run the next mail uses the same line.
  void Cancel() override {
    if (runs_ == 0) HangUpNow();
  }

 private:
  void HangUpNow();

  std::unique_ptr<QDBusConnection> bus_;
  std::unique_ptr<TagRas> ras_;
  std::string entry_;
  bool hangUp_ = true;
  int runs_ = 0;
};

// One run for the life of the object.
class TSendRun {
 public:
  explicit TSendRun(TRasRun& link) : link_(link) { link_.BeginRun(); }
  ~TSendRun() { link_.EndRun(); }
  TSendRun(const TSendRun&) = delete;
  TSendRun& operator=(const TSendRun&) = delete;

 private:
  TRasRun& link_;
};
