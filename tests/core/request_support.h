// A program folder holding a server list, and the request builder over it.
#pragma once

#include <string>
#include <vector>

#include "core/request_builder.h"
#include "tests/base/program_folder.h"

class RequestFolderTest : public ProgramFolderTest {
 protected:
  // Writes the server list and loads it as the window would at start.
  void Servers(const std::string& text) {
    PutFile(dir / "uservers.dat", text);
    servers.Load();
  }

  // The shipped data files, copied into the program folder.
  void ShippedData(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      PutFile(dir / name, GetFile(std::string(TOLVANE_SOURCE_DIR "/data/") + name));
    }
    servers.Load();
  }

  RequestMail Build(const std::string& url) {
    RequestMail mail;
    EXPECT_TRUE(BuildRequest(url, servers.Choice(), mail)) << url;
    return mail;
  }

  TServerList servers{dir / "TOLVANE.INI"};
};

// Lines as a service's documentation prints them, one under the other.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  return text;
}
