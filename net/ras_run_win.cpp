// No dial-up on Windows yet: a set entry fails the send with a plain reason
// rather than sending over whatever network happens to be up.
#include "net/ras_run.h"

#include "platform/errors.h"

// Neither NetworkManager's bus nor its component exists here: the members
// that would hold them stay empty, and only need a type to be destroyed.
class QDBusConnection {};
class TagRas {};

TRasRun::TRasRun() = default;

TRasRun::~TRasRun() = default;

void TRasRun::Configure(const std::string& entry, bool hangUp) {
  entry_ = entry;
  hangUp_ = hangUp;
}

bool TRasRun::EntryKnown() const { return true; }

void TRasRun::EndRun() {
  if (runs_ > 0) --runs_;
}

void TRasRun::Dial() { throw EError("Dial-up is not available in this build"); }

void TRasRun::Cancel() {}

void TRasRun::HangUpNow() {}
