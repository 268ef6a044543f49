// A copying program that offers more than one type at once, as a password
// manager does: `clip_offer TEXT [HINT]` puts TEXT on the clipboard and, when
// HINT is given, the password managers' hint with that value. Says "offered"
// once the clipboard is its own and ends when another program takes it.
// On X11 through Qt; on Wayland through wlroots' data-control protocol, as
// wl-copy does, because a compositor gives the clipboard to a window only
// when it has the focus.
#include <unistd.h>
#include <wayland-client.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wlr-data-control-unstable-v1-client.h"

namespace {

constexpr char kHintType[] = "x-kde-passwordManagerHint";

struct TOffer {
  std::string text, hint;
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
  bool taken = false;
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* iface, uint32_t) {
  auto* o = static_cast<TOffer*>(data);
  if (std::strcmp(iface, "wl_seat") == 0 && !o->seat) {
    o->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(iface, "zwlr_data_control_manager_v1") == 0) {
    o->manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
  }
}
void GlobalRemove(void*, wl_registry*, uint32_t) {}

void Send(void* data, zwlr_data_control_source_v1*, const char* type, int32_t fd) {
  auto* o = static_cast<TOffer*>(data);
  const std::string& value = std::strcmp(type, kHintType) == 0 ? o->hint : o->text;
  for (std::size_t at = 0; at < value.size();) {
    const ssize_t n = ::write(fd, value.data() + at, value.size() - at);
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  ::close(fd);
}
void Cancelled(void* data, zwlr_data_control_source_v1*) {
  static_cast<TOffer*>(data)->taken = true;
}

int OfferOnWayland(TOffer& o) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader may stop early
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  static const wl_registry_listener registry_listener = {Global, GlobalRemove};
  wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, &o);
  wl_display_roundtrip(display);
  if (!o.seat || !o.manager) {
    std::fprintf(stderr, "clip_offer: no wlr data-control\n");
    return 1;
  }
  auto* source = zwlr_data_control_manager_v1_create_data_source(o.manager);
  for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT"}) {
    zwlr_data_control_source_v1_offer(source, type);
  }
  if (!o.hint.empty()) zwlr_data_control_source_v1_offer(source, kHintType);
  static const zwlr_data_control_source_v1_listener source_listener = {Send, Cancelled};
  zwlr_data_control_source_v1_add_listener(source, &source_listener, &o);
  auto* device = zwlr_data_control_manager_v1_get_data_device(o.manager, o.seat);
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  std::printf("offered\n");
  std::fflush(stdout);
  while (!o.taken && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}

int OfferThroughQt(int argc, char** argv, const TOffer& o) {
  QGuiApplication app(argc, argv);
  auto* data = new QMimeData;
  data->setText(QString::fromStdString(o.text));
  if (!o.hint.empty()) data->setData(kHintType, QByteArray::fromStdString(o.hint));
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setMimeData(data);
  if (!clipboard->ownsClipboard()) return 1;
  std::printf("offered\n");
  std::fflush(stdout);
  QObject::connect(clipboard, &QClipboard::dataChanged, &app, [&] {
    if (!clipboard->ownsClipboard()) app.quit();
  });
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: clip_offer TEXT [HINT]\n");
    return 2;
  }
  TOffer o;
  o.text = argv[1];
  if (argc == 3) o.hint = argv[2];
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool x11 = std::getenv("DISPLAY") && platform && std::strcmp(platform, "xcb") == 0;
  if (std::getenv("WAYLAND_DISPLAY") && !x11) return OfferOnWayland(o);
  return OfferThroughQt(argc, argv, o);
}
