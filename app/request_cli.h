// "tolvane --request URL": one request from the command line.
#pragma once

#include <string>

// Hands the address to the running tray program when there is one;
// otherwise sends it here, without a window, through the same dispatcher,
// settings, server list, history and logs. Returns 0 when the mail server
// accepted the request, 1 when it was not sent, 2 when the settings lack the
// e-mail address or the SMTP server, 75 when it failed for a reason that may
// pass and waits in the outbox ("kept: <reason>" on stdout).
int RunRequestCommand(int argc, char** argv, const std::string& url);

// "tolvane --flush": sends what waits in the outbox, through the running
// tray program when there is one. 0 when the outbox is empty afterwards,
// else 75.
int RunFlushCommand(int argc, char** argv);
