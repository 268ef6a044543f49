#include "shell/single_instance.h"

#include "app/tray_logic.h"

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
  return ::RefusalText(lock_.Error());
}

bool TPreviousInstance::AskFirstToRaise() const {
  TLocalClient client(SocketPath(), kWaitMs);
  return client.Connected() && client.WriteAll(kRaise, kWaitMs);
}

TJustOne32::TJustOne32(const std::string& programFolder, const TPreviousInstance* previous) {
  const TStartChoice choice =
      ChooseStart(programFolder, previous && previous->LockFailed(),
                  previous && previous->PreviousExists(), [previous] { previous->AskFirstToRaise(); });
  end_ = choice != TStartChoice::Run;
  refused_ = choice == TStartChoice::EndRefused;
}
