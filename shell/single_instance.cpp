#include "shell/single_instance.h"

#include <cstdio>

#include "platform/files.h"

namespace {

constexpr char kRaise[] = "raise\n";
constexpr int kWaitMs = 2000;

std::string FileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TPreviousInstance::TPreviousInstance(const std::string& programPath)
    : name_(FileNameOf(programPath)),
      base_(InstanceBasePath(name_)),
      lock_(base_.empty() ? std::string() : base_ + ".lock") {}

void TPreviousInstance::Listen(std::function<void()> onRaise) {
  if (!HoldsLock()) return;
  // Holding the lock means any socket left there belongs to a dead process.
  server_ = std::make_unique<TLocalServer>(SocketPath(), [onRaise](TLocalPeer* peer) {
    peer->OnReadable = [peer, onRaise] {
      if (peer->TakeInput().find("raise") != std::string::npos && onRaise) onRaise();
    };
  });
}

std::string TPreviousInstance::RefusalText() const {
  return "Tolvane cannot tell whether it already runs, so it does not start a second time: "
         "the instance lock could not be taken: " +
         lock_.Error();
}

bool TPreviousInstance::AskFirstToRaise() const {
  TLocalClient client(SocketPath(), kWaitMs);
  return client.Connected() && client.WriteAll(kRaise, kWaitMs);
}

TJustOne32::TJustOne32(const std::string& programFolder, const TPreviousInstance* previous) {
  const std::string flag = programFolder + "AllowDuplicateInstance.Flg";
  if (FileExists(flag)) {
    std::remove(flag.c_str());  // a failed delete is not reported: this instance runs
    return;
  }
  if (previous && previous->LockFailed()) {
    refused_ = end_ = true;
    return;
  }
  if (!previous || !previous->PreviousExists()) return;
  previous->AskFirstToRaise();
  end_ = true;
}
