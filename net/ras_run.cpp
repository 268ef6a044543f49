#include "net/ras_run.h"

#include "net/ras.h"

TRasRun::TRasRun() = default;

TRasRun::~TRasRun() = default;

void TRasRun::UseBus(const QDBusConnection& bus) {
  ras_.reset();
  entry_.clear();
  bus_ = std::make_unique<QDBusConnection>(bus);
}

void TRasRun::Configure(const std::string& entry, bool hangUp) {
  if (entry == entry_) {
    hangUp_ = hangUp;
    return;
  }
  // A line brought up for the old entry goes as the settings said then.
  if (ras_ && hangUp_) ras_->HangUp();
  hangUp_ = hangUp;
  entry_ = entry;
  ras_.reset();
  if (entry_.empty()) return;
  if (!bus_) bus_ = std::make_unique<QDBusConnection>(QDBusConnection::systemBus());
  ras_ = std::make_unique<TagRas>(*bus_);
  ras_->SetService(entry_);
}

bool TRasRun::EntryKnown() const { return !ras_ || !ras_->Service().empty(); }

void TRasRun::Dial() {
  if (ras_) ras_->Dial();
}

void TRasRun::HangUpNow() {
  // The component hangs up only a line it dialled itself.
  if (ras_ && hangUp_) ras_->Cancel();
}
