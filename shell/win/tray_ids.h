// Resource numbers of the tray program's own resources: its icons. The
// windows engineer's dialogs use 100-2999, the progress window 3000-3999.
#pragma once

#define IDI_TOLVANE_BRIGHT 1
#define IDI_TOLVANE_DIM 2
