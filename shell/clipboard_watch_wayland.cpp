// The clipboard watch on Wayland: a connection of its own to the compositor,
// bound to whichever data-control protocol it offers, because Qt's own
// Wayland clipboard reports changes only while one of our windows has focus.
#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "ext-data-control-v1-client.h"
#include "shell/clipboard_watch.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace {

// Text types in the order we prefer them.
constexpr std::array<const char*, 4> kTextTypes = {"text/plain;charset=utf-8", "text/plain",
                                                   "UTF8_STRING", "TEXT"};
// No address is this long; a bigger text is not read to its end.
constexpr std::size_t kTextCap = 1 << 20;
// A hint is one short word.
constexpr std::size_t kHintCap = 64;
constexpr int kReadTimeOutMs = 5000;

const char* BestTextType(const std::vector<std::string>& offered) {
  for (const char* type : kTextTypes) {
    if (std::find(offered.begin(), offered.end(), type) != offered.end()) return type;
  }
  return nullptr;
}

// What the two protocols differ in: names only; both have the same messages.
struct TExt {
  using Manager = ext_data_control_manager_v1;
  using Device = ext_data_control_device_v1;
  using Offer = ext_data_control_offer_v1;
  using DeviceListener = ext_data_control_device_v1_listener;
  using OfferListener = ext_data_control_offer_v1_listener;
  static constexpr const char* kName = "ext_data_control_manager_v1";
  static const wl_interface* Interface() { return &ext_data_control_manager_v1_interface; }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return ext_data_control_manager_v1_get_data_device(m, seat);
  }
  static void AddListener(Device* d, const DeviceListener* l, void* data) {
    ext_data_control_device_v1_add_listener(d, l, data);
  }
  static void AddListener(Offer* o, const OfferListener* l, void* data) {
    ext_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    ext_data_control_offer_v1_receive(o, type, fd);
  }
  static void Destroy(Offer* o) { ext_data_control_offer_v1_destroy(o); }
  static void Destroy(Device* d) { ext_data_control_device_v1_destroy(d); }
  static void Destroy(Manager* m) { ext_data_control_manager_v1_destroy(m); }
};

struct TWlr {
  using Manager = zwlr_data_control_manager_v1;
  using Device = zwlr_data_control_device_v1;
  using Offer = zwlr_data_control_offer_v1;
  using DeviceListener = zwlr_data_control_device_v1_listener;
  using OfferListener = zwlr_data_control_offer_v1_listener;
  static constexpr const char* kName = "zwlr_data_control_manager_v1";
  static const wl_interface* Interface() { return &zwlr_data_control_manager_v1_interface; }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return zwlr_data_control_manager_v1_get_data_device(m, seat);
  }
  static void AddListener(Device* d, const DeviceListener* l, void* data) {
    zwlr_data_control_device_v1_add_listener(d, l, data);
  }
  static void AddListener(Offer* o, const OfferListener* l, void* data) {
    zwlr_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    zwlr_data_control_offer_v1_receive(o, type, fd);
  }
  static void Destroy(Offer* o) { zwlr_data_control_offer_v1_destroy(o); }
  static void Destroy(Device* d) { zwlr_data_control_device_v1_destroy(d); }
  static void Destroy(Manager* m) { zwlr_data_control_manager_v1_destroy(m); }
};

// The globals a session offers that matter here.
struct TGlobals {
  wl_seat* seat = nullptr;
  std::uint32_t ext = 0, ext_version = 0;  // names, 0: not offered
  std::uint32_t wlr = 0, wlr_version = 0;
  wl_registry* registry = nullptr;
  unsigned max_version = 2;

  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* iface,
                     std::uint32_t version) {
    auto* g = static_cast<TGlobals*>(data);
    if (std::strcmp(iface, TExt::kName) == 0) {
      g->ext = name;
      g->ext_version = version;
    } else if (std::strcmp(iface, TWlr::kName) == 0) {
      g->wlr = name;
      g->wlr_version = version;
    } else if (std::strcmp(iface, "wl_seat") == 0 && !g->seat) {
      // The first seat: desktops with several are rare, and its clipboard is
      // the one the user copies into.
      g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
  }
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
};

const wl_registry_listener kRegistryListener = {TGlobals::Global, TGlobals::GlobalRemove};

// One offer's text on its way through a pipe, read without blocking the GUI.
// An offer with a password manager's hint has the hint read first; the offer
// is kept meanwhile, and its text is asked for only when the hint allows.
struct TRead {
  int fd = -1;
  std::string text;
  bool done = false;
  bool hint = false;  // the pipe carries the hint, not the text
  const char* text_type = nullptr;
  std::function<void(const char* type, int fd)> receive;
  std::function<void()> destroy_offer;
  std::unique_ptr<QSocketNotifier> notifier;
  std::unique_ptr<QTimer> timer;

  ~TRead() {
    Close();
    notifier.reset();
    timer.reset();
    DestroyOffer();
  }
  void DestroyOffer() {
    receive = nullptr;
    if (auto destroy = std::exchange(destroy_offer, nullptr)) destroy();
  }
  void Close() {
    if (notifier) notifier->setEnabled(false);
    if (timer) timer->stop();
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

class TWaylandClipboardWatch : public TClipboardWatch {
 public:
  TWaylandClipboardWatch(wl_display* display, TGlobals globals)
      : display_(display), globals_(globals) {}

  ~TWaylandClipboardWatch() override {
    notifier_.reset();
    reads_.clear();
    if (release_) release_();
    if (globals_.seat) wl_seat_destroy(globals_.seat);
    if (globals_.registry) wl_registry_destroy(globals_.registry);
    wl_display_disconnect(display_);
  }

  template <class P>
  bool Start(std::uint32_t name, std::uint32_t version) {
    auto* manager = static_cast<typename P::Manager*>(
        wl_registry_bind(globals_.registry, name, P::Interface(), version));
    auto* device = P::GetDevice(manager, globals_.seat);
    static const typename P::DeviceListener listener = {DataOffer<P>, Selection<P>, Finished<P>,
                                                        PrimarySelection<P>};
    P::AddListener(device, &listener, this);
    release_ = [manager, device] {
      P::Destroy(device);
      P::Destroy(manager);
    };
    // The selection the compositor reports at once is the one from before
    // we came: not a change.
    starting_ = true;
    const bool ok = wl_display_roundtrip(display_) >= 0;
    starting_ = false;
    if (!ok) return false;
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
    return true;
  }

 private:
  template <class P>
  static void DataOffer(void* data, typename P::Device*, typename P::Offer* offer) {
    static const typename P::OfferListener listener = {
        [](void* self, typename P::Offer* o, const char* type) {
          static_cast<TWaylandClipboardWatch*>(self)->offer_types_[o].emplace_back(type);
        }};
    static_cast<TWaylandClipboardWatch*>(data)->offer_types_[offer];
    P::AddListener(offer, &listener, data);
  }

  template <class P>
  void Forget(typename P::Offer* offer) {
    offer_types_.erase(offer);
    P::Destroy(offer);
  }

  template <class P>
  static void Selection(void* data, typename P::Device*, typename P::Offer* offer) {
    // A cleared clipboard (its owner went away) is no copy.
    if (!offer) return;
    auto* self = static_cast<TWaylandClipboardWatch*>(data);
    if (self->starting_ || !self->OnChange || !self->OnChange()) return self->Forget<P>(offer);
    const std::vector<std::string> types = std::move(self->offer_types_[offer]);
    self->offer_types_.erase(offer);
    self->Changed(
        types, [offer](const char* type, int fd) { P::Receive(offer, type, fd); },
        [offer] { P::Destroy(offer); });
  }

  template <class P>
  static void PrimarySelection(void* data, typename P::Device*, typename P::Offer* offer) {
    if (offer) static_cast<TWaylandClipboardWatch*>(data)->Forget<P>(offer);
  }

  template <class P>
  static void Finished(void* data, typename P::Device*) {
    auto* self = static_cast<TWaylandClipboardWatch*>(data);
    DebugLog("The compositor ended clipboard watching");
    if (self->notifier_) self->notifier_->setEnabled(false);
  }

  void Dispatch() {
    if (wl_display_dispatch(display_) < 0) {
      DebugLog("Lost the Wayland connection of the clipboard watch");
      notifier_->setEnabled(false);  // freed with the watch, not in its own signal
      return;
    }
    wl_display_flush(display_);
  }

  void Changed(const std::vector<std::string>& types, std::function<void(const char*, int)> receive,
               std::function<void()> destroy) {
    auto read = std::make_unique<TRead>();
    TRead& r = *read;
    r.receive = std::move(receive);
    r.destroy_offer = std::move(destroy);
    r.text_type = BestTextType(types);
    reads_.push_back(std::move(read));
    if (std::find(types.begin(), types.end(), kPasswordHintType) != types.end()) {
      r.hint = true;
      if (StartPipe(r, kPasswordHintType)) return;
      DebugLog(kSecretNotRead);  // a hint that cannot be read may say secret
      r.hint = false;
      r.done = true;
      r.DestroyOffer();
    } else {
      StartText(r);
    }
    DeliverLater();
  }

  void StartText(TRead& r) {
    r.hint = false;
    if (!r.text_type || !StartPipe(r, r.text_type)) r.done = true;  // no text offered
    r.DestroyOffer();  // the text is on its way: the offer has done its part
  }

  // Asks the offer for `type` through a pipe that the GUI reads as it fills.
  bool StartPipe(TRead& r, const char* type) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    r.receive(type, fds[1]);
    ::close(fds[1]);
    wl_display_flush(display_);
    r.fd = fds[0];
    TRead* p = &r;
    r.notifier = std::make_unique<QSocketNotifier>(r.fd, QSocketNotifier::Read);
    QObject::connect(r.notifier.get(), &QSocketNotifier::activated, [this, p] { Pull(*p); });
    r.timer = std::make_unique<QTimer>();
    r.timer->setSingleShot(true);
    QObject::connect(r.timer.get(), &QTimer::timeout, [this, p] {
      DebugLog("Clipboard text not read: the copying program did not send it in time");
      Finish(*p, false);
    });
    r.timer->start(kReadTimeOutMs);
    return true;
  }

  void Pull(TRead& r) {
    char buffer[16384];
    const std::size_t cap = r.hint ? kHintCap : kTextCap;
    for (;;) {
      const ssize_t n = ::read(r.fd, buffer, sizeof buffer);
      if (n > 0) {
        r.text.append(buffer, static_cast<std::size_t>(n));
        if (r.text.size() > cap) {
          if (!r.hint) {
            DebugLog("Clipboard text not read: longer than " + std::to_string(cap) + " bytes");
          }
          return Finish(r, false);
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      return Finish(r, n == 0);  // a broken-off text is not the copied one
    }
  }

  void Finish(TRead& r, bool keep) {
    r.Close();
    if (r.hint) {
      // The text's pipe replaces this one's notifier and timer: not inside
      // their own signal.
      const bool secret = !keep || IsSecretHint(r.text);
      r.text.clear();
      QTimer::singleShot(0, &context_, [this, &r, secret] { AfterHint(r, secret); });
      return;
    }
    if (!keep) r.text.clear();
    r.done = true;
    DeliverLater();
  }

  void AfterHint(TRead& r, bool secret) {
    if (secret) {
      DebugLog(kSecretNotRead);
      r.hint = false;
      r.done = true;
      r.DestroyOffer();
    } else {
      StartText(r);
    }
    wl_display_flush(display_);
    DeliverLater();
  }

  // Never from inside the compositor's or a pipe's callback: the dispatch
  // may run a nested event loop, and a read's notifier is freed with it.
  void DeliverLater() {
    QTimer::singleShot(0, &context_, [this] { Deliver(); });
  }

  // Hands over finished texts in the order of their changes.
  void Deliver() {
    if (delivering_) return;
    delivering_ = true;
    while (!reads_.empty() && reads_.front()->done) {
      const std::string text = std::move(reads_.front()->text);
      reads_.pop_front();
      // The dispatch may run a nested event loop that finishes later reads.
      if (OnText) OnText(text);
    }
    delivering_ = false;
  }

  wl_display* display_;
  TGlobals globals_;
  std::function<void()> release_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::deque<std::unique_ptr<TRead>> reads_;
  // Mime types of each offer, gathered before the selection names it.
  std::unordered_map<void*, std::vector<std::string>> offer_types_;
  bool starting_ = false;
  bool delivering_ = false;
  QObject context_;  // ends pending deliveries with the watch
};

// Connects and gathers the globals; null display when there is no session.
wl_display* Connect(const char* name, TGlobals& globals) {
  wl_display* display = wl_display_connect(name);
  if (!display) return nullptr;
  globals.registry = wl_display_get_registry(display);
  wl_registry_add_listener(globals.registry, &kRegistryListener, &globals);
  if (wl_display_roundtrip(display) < 0) {
    wl_registry_destroy(globals.registry);
    wl_display_disconnect(display);
    return nullptr;
  }
  return display;
}

}  // namespace

std::unique_ptr<TClipboardWatch> MakeWaylandClipboardWatch(const char* name, unsigned maxVersion) {
  TGlobals globals;
  wl_display* display = Connect(name, globals);
  if (!display) return nullptr;
  auto watch = std::make_unique<TWaylandClipboardWatch>(display, globals);
  if (!globals.seat) return nullptr;
  // The standard protocol first; wlroots' older one where it is alone.
  bool ok = false;
  if (globals.ext) {
    ok = watch->Start<TExt>(globals.ext, 1);
  } else if (globals.wlr) {
    ok = watch->Start<TWlr>(globals.wlr, std::min<unsigned>({globals.wlr_version, maxVersion, 2}));
  }
  if (!ok) return nullptr;
  return watch;
}

TWaylandClipboard ProbeWaylandClipboard(const char* name) {
  TGlobals globals;
  wl_display* display = Connect(name, globals);
  if (!display) return TWaylandClipboard::NoSession;
  const bool offered = globals.ext || globals.wlr;
  if (globals.seat) wl_seat_destroy(globals.seat);
  wl_registry_destroy(globals.registry);
  wl_display_disconnect(display);
  return offered ? TWaylandClipboard::DataControl : TWaylandClipboard::None;
}

std::string ChooseClipboardPlatform() {
  // The user's own choice of platform stands.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return {};
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!wayland || !*wayland) return {};
  if (ProbeWaylandClipboard() != TWaylandClipboard::None) return {};
  const char* x = std::getenv("DISPLAY");
  if (!x || !*x) {
    return "The Wayland compositor offers no clipboard watching (data-control) and there is "
           "no XWayland: copies are seen only while a Tolvane window has the focus";
  }
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  return "The Wayland compositor offers no clipboard watching (data-control): running through "
         "XWayland";
}
