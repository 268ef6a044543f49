// Windows only: the message-only window behind a TNotifyWindow, for the
// calls that address a window (SetTimer, WSAAsyncSelect). Included by the
// Windows files of the socket layer alone.
#pragma once

#include "net/notify_window.h"

struct HWND__;

// The window's handle; null once the window is gone.
HWND__* NotifyWindowHandle(const TNotifyWindow& window);
