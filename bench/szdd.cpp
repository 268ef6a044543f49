// SZDD against Debian's mscompress and msexpand on one 64 MiB file of mixed
// text and binary data: time to expand the same compressed file, time to
// compress, and compressed size. Every figure includes reading and writing
// the files, as the peer's do. Then a launcher packed with wrap-pack against
// makeself (gzip, its default) on a product of that file and a SETUP.EXE
// that only exits: unpack-and-run time, archive size, and the peak resident
// memory of the launcher with everything it waited for.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "setup/file_io.h"
#include "setup/szdd.h"

extern char** environ;

namespace {

constexpr std::size_t kSize = std::size_t{64} << 20;

// Alternating stretches of prose-like text, tables of little-endian numbers,
// sparse binary and incompressible bytes.
wrap::Bytes MixedData() {
  static const char* const words[] = {
      "the ",   "request ", "server ", "mail ",   "page ",      "address ", "of ",
      "to ",    "and ",     "a ",      "file ",   "is ",        "for ",     "with ",
      "setup ", "program ", "folder ", "copy ",   "clipboard ", "send ",    "history ",
      "\r\n",   ". ",       ", ",      "http://", "www.",       ".html",    "index"};
  std::mt19937 rng(20261207);
  wrap::Bytes out;
  out.reserve(kSize);
  while (out.size() < kSize) {
    const std::size_t stretch = 4096 + rng() % 60000;
    switch (rng() % 4) {
      case 0:
      case 1:
        for (std::size_t i = 0; i < stretch / 5; ++i) {
          const std::string w = words[std::min(rng() % 28, rng() % 28)];
          out.insert(out.end(), w.begin(), w.end());
        }
        break;
      case 2: {
        std::uint32_t v = rng() % 1000;
        for (std::size_t i = 0; i < stretch / 4; ++i) {
          v += rng() % 64;
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
        break;
      }
      default:
        for (std::size_t i = 0; i < stretch; ++i) {
          const unsigned r = rng();
          out.push_back(static_cast<std::uint8_t>(r % 3 == 0 ? 0 : r >> 8));
        }
    }
  }
  out.resize(kSize);
  return out;
}

double Seconds(const std::chrono::steady_clock::time_point& since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Run {
  double seconds;
  double peakMiB;  // of the process and the children it waited for
};

// Runs a program in a folder with extra environment entries; exits the
// benchmark when it fails. The program is started by a fresh copy of the
// benchmark (see MeasureChild): a child made straight from this large
// process would count its memory as the program's.
Run Measure(const std::vector<std::string>& args, const std::string& folder,
            const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> envText(extraEnv);
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  std::vector<char*> env, argv;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  std::vector<std::string> argText{"/proc/self/exe", "--measure"};
  argText.insert(argText.end(), args.begin(), args.end());
  for (auto& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_adddup2(&actions, out[1], 3);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), env.data()) != 0) {
    std::fprintf(stderr, "cannot start the measuring copy\n");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char text[128] = {};
  const ssize_t n = read(out[0], text, sizeof text - 1);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Run run{};
  if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text, "%lf %lf", &run.seconds, &run.peakMiB) != 2) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::exit(1);
  }
  return run;
}

// The measuring copy: forks the program from this small process, waits,
// and writes seconds and peak MiB to descriptor 3.
int MeasureChild(char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(3);
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  const double elapsed = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  dprintf(3, "%f %f\n", elapsed, static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}

// Runs the peer on one file in its folder; the elapsed seconds.
double RunPeer(const char* program, const std::string& folder, const std::string& file) {
  return Measure({program, file}, folder).seconds;
}

void Row(const char* row, double ours, double peer, const char* unit, const char* name = "ms") {
  std::printf("%s: ours %.3f%s, %s %.3f%s, ratio %.3f\n", row, ours, unit, name, peer, unit,
              ours / peer);
  std::fflush(stdout);
}

// The launcher rows; the product folder holds the data and a SETUP.EXE.
void LauncherRows(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  const fs::path product = root / "product";
  const fs::path ours = root / "ours.run";
  const fs::path theirs = root / "makeself.run";
  Measure({std::string(TOLVANE_BIN_DIR) + "/wrap-pack", "--title", "Setup", "--question",
           "Install?", product, ours},
          root);
  Measure({"makeself", "--quiet", product, theirs, "Setup", "./SETUP.EXE"}, root);
  for (const char* d : {"tmp-ours", "tmp-makeself"}) fs::create_directory(root / d);
  const Run a = Measure({ours, "--accept"}, root, {"TMPDIR=" + (root / "tmp-ours").string()});
  const Run b =
      Measure({theirs, "--quiet", "--nox11"}, root, {"TMPDIR=" + (root / "tmp-makeself").string()});
  if (!fs::is_empty(root / "tmp-ours") || !fs::is_empty(root / "tmp-makeself")) {
    std::fprintf(stderr, "a launcher left its folder behind\n");
    std::exit(1);
  }
  Row("launcher unpack-and-run time", a.seconds, b.seconds, " s", "makeself");
  Row("launcher peak memory", a.peakMiB, b.peakMiB, " MiB", "makeself");
  Row("launcher archive size", static_cast<double>(fs::file_size(ours)) / 1048576.0,
      static_cast<double>(fs::file_size(theirs)) / 1048576.0, " MiB", "makeself");
}

// The SZDD rows; false when a round trip differs.
bool SzddRows(const std::filesystem::path& root, const wrap::Bytes& data) {
  namespace fs = std::filesystem;
  auto start = std::chrono::steady_clock::now();
  {
    const wrap::Bytes input = wrap::ReadWholeFile(root / "ours/data.bin");
    wrap::WriteWholeFile(root / "ours/data.bin_", wrap::SzddCompress(input, 0));
  }
  const double oursCompress = Seconds(start);
  const double msCompress = RunPeer("mscompress", root / "ms", "data.bin");

  // Both expanders get the peer's compressed file.
  fs::copy_file(root / "ms/data.bin_", root / "ours-x/data.bin_");
  fs::copy_file(root / "ms/data.bin_", root / "ms-x/data.bin_");
  start = std::chrono::steady_clock::now();
  wrap::SzddExpandFile(root / "ours-x/data.bin_", root / "ours-x/data.bin");
  const double oursExpand = Seconds(start);
  const double msExpand = RunPeer("msexpand", root / "ms-x", "data.bin_");

  const bool same = wrap::ReadWholeFile(root / "ours-x/data.bin") == data &&
                    wrap::ReadWholeFile(root / "ms-x/data.bin") == data &&
                    wrap::SzddExpandToMemory(wrap::ReadWholeFile(root / "ours/data.bin_")) == data;
  const auto oursSize = static_cast<double>(fs::file_size(root / "ours/data.bin_"));
  const auto msSize = static_cast<double>(fs::file_size(root / "ms/data.bin_"));

  Row("expand time", oursExpand, msExpand, " s");
  Row("compress time", oursCompress, msCompress, " s");
  std::printf("compressed size: ours %.0f bytes, ms %.0f bytes, ratio %.3f\n", oursSize, msSize,
              oursSize / msSize);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--measure") return MeasureChild(argv + 2);
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "bench-szdd.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const fs::path root = tmpl;
  for (const char* d : {"ours", "ms", "ours-x", "ms-x"}) fs::create_directory(root / d);

  const wrap::Bytes data = MixedData();
  wrap::WriteWholeFile(root / "ours/data.bin", data);
  wrap::WriteWholeFile(root / "ms/data.bin", data);

  // "launcher" alone skips the SZDD peers, which take many minutes.
  const bool szddRows = argc < 2 || std::string(argv[1]) != "launcher";
  const bool same = !szddRows || SzddRows(root, data);
  fs::create_directory(root / "product");
  fs::rename(root / "ours/data.bin", root / "product/DATA.BIN");
  wrap::WriteWholeFile(root / "product/SETUP.EXE",
                       wrap::Bytes{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, 0755);
  LauncherRows(root);
  fs::remove_all(root);
  if (!same) {
    std::fprintf(stderr, "round trip differs\n");
    return 1;
  }
  return 0;
}
