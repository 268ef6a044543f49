// Dial-up through the Remote Access Service: phone-book entries are dialled
// by name, and only a line dialled here is hung up.
#include "net/ras_run.h"

#include <algorithm>

#include "net/ras_api_win.h"
#include "platform/errors.h"

// No bus here: the member that would hold one stays empty.
class QDBusConnection {};

// The dial-up component of one entry. A missing rasapi32 fails the dial,
// not the settings, so that the reason reaches the send that needed it.
class TagRas {
 public:
  explicit TagRas(std::string entry) : entry_(std::move(entry)) {
    try {
      api_ = std::make_unique<TRasApi>();
    } catch (const EError& e) {
      bindError_ = e.what();
    }
  }

  bool Known() const {
    if (!api_) return false;
    try {
      const std::vector<std::string> names = api_->Entries();
      return std::find(names.begin(), names.end(), entry_) != names.end();
    } catch (const EError&) {
      return false;
    }
  }

  void Dial() {
    if (!api_) throw EError(bindError_);
    if (void* open = api_->FindConnection(entry_)) {
      // Up already, by us or by the user: a line the user opened stays up.
      if (open != conn_) dialedHere_ = false;
      conn_ = open;
      return;
    }
    if (!Known()) throw EError("Dial-up: no phone-book entry \"" + entry_ + "\"");
    conn_ = api_->Dial(entry_);
    dialedHere_ = true;
  }

  void HangUp() {
    if (conn_ && dialedHere_) api_->HangUp(conn_);
    conn_ = nullptr;
    dialedHere_ = false;
  }

 private:
  std::string entry_;
  std::unique_ptr<TRasApi> api_;
  std::string bindError_;
  void* conn_ = nullptr;
  bool dialedHere_ = false;
};

TRasRun::TRasRun() = default;

TRasRun::~TRasRun() = default;

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
  if (!entry_.empty()) ras_ = std::make_unique<TagRas>(entry_);
}

bool TRasRun::EntryKnown() const { return !ras_ || ras_->Known(); }

void TRasRun::Dial() {
  if (ras_) ras_->Dial();
}

void TRasRun::HangUpNow() {
  if (ras_ && hangUp_) ras_->HangUp();
}
