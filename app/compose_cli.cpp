#include "app/compose_cli.h"

#include <iostream>
#include <utility>

#include "app/settings.h"
#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "core/dispatcher.h"
#include "core/request_builder.h"
#include "core/server_list.h"
#include "platform/datetime.h"
#include "platform/folders.h"

namespace {

constexpr int kNoRequest = 1;
constexpr int kFileError = 2;

// On stdout the line ends are the terminal's.
std::string ForTerminal(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Composes the request exactly as a clipboard copy of `text` would, from the
// program folder's data and the saved server choices, and prints it.
int Compose(std::string url) {
  DebugLog("Started Tolvane");
  // The dispatcher's shape test and slash rule.
  if (!TRequestDispatcher::HasAddressShape(url)) {
    std::cerr << "tolvane: " << TRequestDispatcher::kNoAddressShape << "\n";
    return kNoRequest;
  }
  if (TRequestDispatcher::CountChar('/', url) < 3) url += '/';
  if (!IsRequestUrl(url)) {
    std::cerr << "tolvane: " << NotARequestText(url) << "\n";
    return kNoRequest;
  }

  RequestMail request;
  try {
    TServerList servers(SettingsFilePath());
    servers.Load();
    BuildRequest(url, servers.Choice(), request);
  } catch (const std::exception& e) {
    std::cerr << "tolvane: " << e.what() << "\n";
    return kFileError;
  }
  if (!IsUsableServer(request.Recipient)) {
    std::cerr << "tolvane: no usable request server (\"" << request.Recipient << "\") for " << url
              << ": " << TRequestDispatcher::kNoUsableServer << "\n";
    return kNoRequest;
  }
  const std::string sender = TSettings::Read(SettingsFilePath()).Email;
  if (!sender.empty()) std::cout << "From: " << sender << "\n";
  std::cout << "To: " << request.Recipient << "\n"
            << "Subject: " << request.Subject << "\n\n"
            << ForTerminal(request.Body);
  if (request.Body.empty() || request.Body.back() != '\n') std::cout << "\n";
  std::cout.flush();
  return 0;
}

}  // namespace

int RunComposeCommand(int argc, char** argv, std::string url) {
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  return Compose(std::move(url));
}
