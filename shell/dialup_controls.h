// The main window's dial-up row: the NetworkManager connection brought up
// to send (cboDialEntry, first item "(none)") and "Hang up after sending"
// (chkHangUp). With no NetworkManager on the bus the row is greyed and its
// tool tip says why.
#pragma once

#include <QDBusConnection>

struct TSettings;
class TfrmProps;

// Adds the row below the window's other controls and makes the window that
// much taller.
void AddDialupControls(TfrmProps& form, const QDBusConnection& bus = QDBusConnection::systemBus());

// Lists the connections anew and shows DialEntry and HangUp. A connection
// that is no longer there stays listed, so that Ok keeps the setting.
// Without the row they do nothing.
void ShowDialup(TfrmProps& form, const TSettings& settings);
void ReadDialup(const TfrmProps& form, TSettings& settings);
