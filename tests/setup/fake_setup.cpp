// A stand-in SETUP.EXE for the Windows launcher tests. Into the file named
// by WRAP_TEST_RECORD it writes its folder (from argv[0]), its argument
// count, each argument and the folder's file names, copies DATA.BIN beside the record,
// and exits with 3. With WRAP_TEST_HANG set it writes its process id
// instead and waits to be ended.
#include <process.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  const char* record = std::getenv("WRAP_TEST_RECORD");
  if (!record || argc < 1) return 2;
  std::ofstream out(record, std::ios::binary | std::ios::trunc);
  if (std::getenv("WRAP_TEST_HANG")) {
    out << ::_getpid() << "\n";
    out.close();
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  const std::string self = argv[0];
  const std::string dir = self.substr(0, self.find_last_of("/\\"));
  out << "dir=" << dir << "\nargs=" << argc - 1 << "\n";
  for (int i = 1; i < argc; ++i) out << "arg=" << argv[i] << "\n";
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const auto& n : names) out << n << "\n";
  std::error_code ec;
  std::filesystem::copy_file(dir + "/DATA.BIN", std::string(record) + ".data", ec);
  return 3;
}
