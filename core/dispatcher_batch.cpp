// Requests that travel together: held until the user's word or the set
// time, and kept requests for one server sharing a mail.
#include <utility>

#include "base/helpers.h"
#include "core/dispatcher.h"

bool TRequestDispatcher::Claimable(const TJob& job, const TOutboxEntry& entry) {
  return job.userAsked || TOutbox::Waiting(entry) || (job.withHeld && TOutbox::Held(entry));
}

void TRequestDispatcher::Hold(const std::string& url) {
  try {
    outbox_->Keep(url, RequestServer(), Clock(), TOutbox::kHeld);
  } catch (const std::exception& e) {
    last_error_ = e.what();
    ShowError("Request Failed", last_error_);
    Finish(url, TOutcome::Failed);
    return;
  }
  DebugLog("Request held: " + url);
  last_error_ = "held until the collected requests are sent";
  if (OnOutboxChanged) OnOutboxChanged();
  Finish(url, TOutcome::Kept);
}

void TRequestDispatcher::QueueBatch(const std::vector<std::string>& urls, bool withHeld) {
  for (const TJob& job : pending_) {
    if (job.kind == TJob::Kind::Batch && job.urls == urls) return;
  }
  Run({TJob::Kind::Batch, urls.front(), false, false, withHeld, urls});
}

void TRequestDispatcher::DispatchBatch(const TJob& job) {
  FlagGuard busy(request_busy_);
  last_error_.clear();
  if (StopHere(job.text)) return;
  // Built again now: the server choice may have changed since the queueing.
  std::vector<RequestBatch> built = BuildRequestBatches(job.urls, servers_());
  if (built.size() != 1) {
    for (const RequestBatch& batch : built) {
      for (const std::string& url : batch.Urls) QueueKept(url, false, job.withHeld);
    }
    return;
  }
  const RequestMail& mail = built.front().Mail;
  if (!IsUsableServer(mail.Recipient)) {
    last_error_ = kNoUsableServer;
    if (!std::exchange(told_no_server_, true)) ui_.ShowServerChoice(last_error_);
    for (const std::string& url : job.urls) Finish(url, TOutcome::Refused);
    return;
  }
  const TDispatchSettings settings = settings_();
  message_.Sender().SetAddress(settings.Email);
  sender_.SetServer(settings.Smtp);
  SetMail(mail);
  std::optional<TFileLock> lock;
  if (!ClaimBatch(job, lock)) return;
  SendClaimed(job.urls, std::to_string(job.urls.size()) + " requests", true);
  lock.reset();
}

// All the batch's requests are claimed at once, or none: one taken by
// another program meanwhile sends the rest on their own.
bool TRequestDispatcher::ClaimBatch(const TJob& job, std::optional<TFileLock>& lock) {
  try {
    lock.emplace(outbox_->LockPath(), [this] { return WaitForLock(); });
    outbox_->Recover(history_);
    for (const std::string& url : job.urls) {
      const int i = outbox_->Find(url);
      if (i >= 0 && Claimable(job, outbox_->Entries()[i])) continue;
      lock.reset();
      for (const std::string& other : job.urls) {
        if (other != url) QueueKept(other, false, job.withHeld);
      }
      return false;
    }
    outbox_->MarkSending(job.urls, RequestServer(), Clock());
  } catch (const std::exception& e) {
    if (StopHere(job.text)) return false;
    last_error_ = e.what();
    ShowError("Request Failed", last_error_);
    for (const std::string& url : job.urls) Finish(url, TOutcome::Failed);
    return false;
  }
  return true;
}
