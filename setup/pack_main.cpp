// wrap-pack: builds a setup launcher from a folder of files, and compresses
// or expands single SZDD files.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "setup/file_io.h"
#include "setup/folders.h"
#include "setup/launcher.h"
#include "setup/packer.h"
#include "setup/self.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"

namespace {

const char* const kUsage =
    "usage: wrap-pack [--launcher WRAP] --title TEXT --question TEXT [--failed TEXT]\n"
    "                 [--file-time YYYY-MM-DDTHH:MM:SSZ|@SECONDS] [--icon IMAGE]\n"
    "                 FOLDER OUTPUT\n"
    "       wrap-pack --compress FILE...   (writes FILE_ as mscompress does)\n"
    "       wrap-pack --expand FILE_...    (writes the expanded name beside it)\n"
    "\n"
    "Packs every file of FOLDER, SETUP.EXE among them, into a copy of the launcher\n"
    "(WRAP, default: the wrap beside wrap-pack) written to OUTPUT.\n"
    "  --title TEXT      title of every box, 1 to 49 bytes\n"
    "  --question TEXT   the install question, 1 to 259 bytes\n"
    "  --failed TEXT     the failure notice (default \"Setup failed.\")\n"
    "  --file-time T     time given to the unpacked compressed files\n"
    "                    (default: SOURCE_DATE_EPOCH, else now)\n"
    "  --icon IMAGE      carried as the launcher's icon\n"
    "Files must be plain files with 8.3 names not ending in \"_\"; execute bits\n"
    "are carried and restored. Each part is recorded with its SHA-256.\n";

std::string BesideMe(const std::string& name) {
  return wrap::OwnFolder() + name + wrap::kProgramSuffix;
}

int CompressFiles(const std::vector<std::string>& files) {
  for (const auto& file : files) {
    const wrap::Bytes data = wrap::ReadWholeFile(file);
    wrap::WriteWholeFile(file + "_", wrap::SzddCompress(data, 0));
  }
  return 0;
}

int ExpandFiles(const std::vector<std::string>& files) {
  for (const auto& file : files) {
    const auto name = wrap::GetExpandedName(file);
    if (!name) throw wrap::EWrapError(wrap::kInvalidData, file + " is not an SZDD file");
    const std::size_t slash = file.find_last_of(wrap::kPathSeparators);
    const std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    if (dir + *name == file) throw wrap::EWrapError(EINVAL, file + " would expand onto itself");
    wrap::SzddExpandFile(file, dir + *name);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = wrap::ProgramArguments(argc, argv);
  try {
    if (!args.empty() && (args[0] == "--compress" || args[0] == "--expand")) {
      const std::vector<std::string> files(args.begin() + 1, args.end());
      if (files.empty()) throw wrap::EWrapError(EINVAL, "no files given");
      return args[0] == "--compress" ? CompressFiles(files) : ExpandFiles(files);
    }
    wrap::PackOptions o;
    o.launcher = BesideMe("wrap");
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    o.fileTime = epoch ? wrap::ParseFileTime(std::string("@") + epoch)
                       : wrap::UnixToFileTime(static_cast<std::int64_t>(std::time(nullptr)), 0);
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= args.size()) throw wrap::EWrapError(EINVAL, a + " needs a value");
        return args[++i];
      };
      if (a == "--help" || a == "-h") {
        std::cout << kUsage;
        return 0;
      } else if (a == "--launcher") {
        o.launcher = value();
      } else if (a == "--title") {
        o.title = value();
      } else if (a == "--question") {
        o.question = value();
      } else if (a == "--failed") {
        o.failed = value();
      } else if (a == "--file-time") {
        o.fileTime = wrap::ParseFileTime(value());
      } else if (a == "--icon") {
        o.icon = value();
      } else if (a.size() > 1 && a[0] == '-') {
        throw wrap::EWrapError(EINVAL, "unknown option " + a);
      } else {
        rest.push_back(a);
      }
    }
    if (rest.size() != 2) {
      std::cerr << kUsage;
      return 2;
    }
    o.folder = rest[0];
    o.output = rest[1];
    wrap::Pack(o);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "wrap-pack: " << e.what() << "\n";
    return 1;
  }
}
