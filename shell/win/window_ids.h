// Resource and control ids of the Windows shell's dialogs (100-2999), shared
// by the .rc templates and the code. Plain #defines: the resource compiler
// reads this file too.
#pragma once

// The main window.
#define IDD_MAIN 100
#define IDC_HISTORY_LABEL 1001
#define IDC_VERSION 1002
#define IDC_HISTORY 1003
#define IDC_ENABLED_GROUP 1004
#define IDC_ENABLED_YES 1005
#define IDC_ENABLED_NO 1006
#define IDC_CONFIRM_GROUP 1007
#define IDC_CONFIRM_ALL 1008
#define IDC_CONFIRM_ZIP 1009
#define IDC_CONFIRM_NONE 1010
#define IDC_CHECK_HISTORY 1011
#define IDC_EMAIL_GROUP 1012
#define IDC_EMAIL_LABEL 1013
#define IDC_EMAIL 1014
#define IDC_SMTP_LABEL 1015
#define IDC_SMTP 1016
#define IDC_SERVERS_GROUP 1017
#define IDC_PAGES_LABEL 1018
#define IDC_PAGES 1019
#define IDC_BINARY_LABEL 1020
#define IDC_BINARY 1021
#define IDC_FTP_LABEL 1022
#define IDC_FTP 1023
#define IDC_UNLOAD 1024
#define IDC_HELP_BUTTON 1025
#define IDC_SHOW_TIPS 1026
#define IDC_TIP_NOW 1027
#define IDC_KEEP_FAILED 1028
#define IDC_ACCOUNT_GROUP 1029
#define IDC_SECURITY_LABEL 1030
#define IDC_SECURITY 1031
#define IDC_USER_LABEL 1032
#define IDC_USER 1033
#define IDC_PASSWORD_LABEL 1034
#define IDC_PASSWORD 1035
#define IDC_COLLECT 1036
#define IDC_SEND_AT_LABEL 1037
#define IDC_SEND_AT 1038
#define IDC_AUTOSTART 1039
#define IDC_EDIT_SERVERS 1040
#define IDC_DIAL_LABEL 1041
#define IDC_DIAL_ENTRY 1042
#define IDC_HANG_UP 1043

// The history list's menu.
#define IDM_SHOW_DETAIL 2001
#define IDM_DELETE_HISTORY 2002
#define IDM_REQUEST_AGAIN 2003
#define IDM_SEND_NOW 2004
#define IDM_DISCARD 2005
#define IDM_ASK_HELP 2006
#define IDM_HELP 2007

// The tip of the day.
#define IDD_TIPS 200
#define IDC_TIP_IMAGE 1101
#define IDC_TIP_TITLE 1102
#define IDC_TIP_TEXT 1103
#define IDC_TIP_NEXT 1104
#define IDC_TIP_PREVIOUS 1105
#define IDC_TIP_HELP 1106
#define IDC_TIP_SHOW 1107
