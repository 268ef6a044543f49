// Resource numbers of the request windows: the progress window and the
// password box (3000-3999).
#pragma once

#define IDD_PROGRESS 3000
#define IDC_PROGRESS_LABEL 3001
#define IDC_PROGRESS_BAR 3002
#define IDD_PASSWORD 3100
#define IDC_PASSWORD_PROMPT 3101
#define IDC_PASSWORD_EDIT 3102
