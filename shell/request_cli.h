// "tolvane --request URL": one request from the command line.
#pragma once

#include <string>

// Hands the address to the running tray program when there is one;
// otherwise sends it here, without a window, through the same dispatcher,
// settings, server list, history and logs. Returns 0 when the mail server
// accepted the request, 1 when it was not sent, 2 when the settings lack the
// e-mail address or the SMTP server.
int RunRequestCommand(int argc, char** argv, const std::string& url);
