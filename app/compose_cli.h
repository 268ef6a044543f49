// "tolvane --compose URL": the request mail that copying URL would send.
#pragma once

#include <string>

// Prints it (sender, recipient, subject and body) without sending anything.
// 1 when URL is not a request, 2 when the server list cannot be read.
int RunComposeCommand(int argc, char** argv, std::string url);
