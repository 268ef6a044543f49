// The clipboard watch: reports every change of the regular clipboard (never
// the primary selection) on the GUI thread. One implementation for X11 (Qt's
// clipboard), one for Wayland (the data-control protocols), chosen at start
// from the platform Qt runs on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/tray_logic.h"  // kSecretNotRead

class TClipboardWatch {
 public:
  virtual ~TClipboardWatch() = default;

  // Asked at each change, at once: true when the text is wanted. When it
  // returns false nothing is read.
  std::function<bool()> OnChange;
  // The text of a change that wanted it; empty when the clipboard holds no
  // text or a secret one. Texts arrive in the order of their changes.
  std::function<void(const std::string& text)> OnText;
};

// Password managers mark what they copy with this type; a value of
// "secret" keeps the offer's text unread (the change still arrives, as an
// empty text, and the log says so with kSecretNotRead).
extern const char kPasswordHintType[];
bool IsSecretHint(const std::string& value);

// The watch for the platform Qt runs on (after QApplication was made);
// watching starts at once and ends when it is destroyed.
std::unique_ptr<TClipboardWatch> MakeClipboardWatch();

// The Qt clipboard: sees every change under X11 (and XWayland).
std::unique_ptr<TClipboardWatch> MakeQtClipboardWatch();

// The data-control protocols over a connection of its own to `display`
// (null: $WAYLAND_DISPLAY), binding at most `maxVersion` of the protocol
// the compositor offers. Null when no compositor or no protocol is there.
std::unique_ptr<TClipboardWatch> MakeWaylandClipboardWatch(const char* display = nullptr,
                                                           unsigned maxVersion = 2);

// What the compositor of a Wayland session offers for watching the clipboard.
enum class TWaylandClipboard { NoSession, DataControl, None };
TWaylandClipboard ProbeWaylandClipboard(const char* display = nullptr);

// Before QApplication is made: on a Wayland session whose compositor offers
// no data-control protocol, runs Qt through XWayland (when there is one), so
// that the clipboard is seen without focus. Returns the log line to write
// once logging is up, empty when nothing was changed or said.
std::string ChooseClipboardPlatform();
