#include "setup/launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <filesystem>
#include <functional>
#include <map>

#include "setup/file_list.h"
#include "setup/packer.h"
#include "setup/payload.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"
#include "test_util.h"

using wrap::Bytes;
using wrap::ResourceType;

namespace {

const std::string kTitle = "Setup - Ravelin v1.31";
const std::string kQuestion =
    "This program will install Ravelin v1.31 (English). Do you want to continue?";

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A payload as the packer would make it, with ways to damage it.
class Payload {
 public:
  Payload() {
    Set(ResourceType::String, 1, Text(kTitle));
    Set(ResourceType::String, 2, Text(kQuestion));
    Set(ResourceType::String, 3, Text("Setup failed."));
    Bytes stamp;
    wrap::PutLE(stamp, wrap::ParseFileTime("1998-03-07T00:31:00Z"), 8);
    Set(ResourceType::RawData, 1, stamp);
  }
  void AddFile(const std::string& name, const Bytes& data, char lastChar = 0,
               bool withResource = true, std::uint16_t mode = 0644) {
    const Bytes packed = wrap::SzddCompress(data, lastChar ? lastChar : name.back());
    if (withResource) Set(ResourceType::RawData, next_, packed, mode);
    records_.push_back(
        {next_++, static_cast<std::uint32_t>(packed.size()), wrap::CompressedName(name)});
  }
  void Set(ResourceType type, std::uint16_t id, const Bytes& data, std::uint16_t mode = 0) {
    resources_[{type, id}] = {data, mode};
  }
  std::vector<wrap::FileRecord>& Records() { return records_; }
  Bytes Image() {
    Set(ResourceType::RawData, 2, wrap::BuildFileList(records_));
    return wrap::BuildBundle([&](wrap::BundleWriter& w) {
      for (const auto& [key, r] : resources_) w.Add(key.type, key.id, r.first, r.second);
    });
  }
  wrap::Bundle Build() { return wrap::Bundle::Parse(Image()); }

 private:
  std::map<wrap::ResourceKey, std::pair<Bytes, std::uint16_t>> resources_;
  std::vector<wrap::FileRecord> records_;
  std::uint16_t next_ = 101;
};

int MakePipe(int fds[2]) {
#ifdef _WIN32
  return ::_pipe(fds, 1 << 16, _O_BINARY | _O_NOINHERIT);
#else
  return ::pipe2(fds, O_CLOEXEC);
#endif
}

// Runs the launcher with the real terminal asker over pipes; returns what
// it showed.
std::string RunLauncher(const wrap::Bundle* bundle, const std::string& tmp,
                        const std::string& answer, const std::string& target = "-") {
  int in[2], out[2];
  if (MakePipe(in) != 0 || MakePipe(out) != 0) std::abort();
  if (::write(in[1], answer.data(), static_cast<unsigned>(answer.size())) !=
      static_cast<ssize_t>(answer.size()))
    std::abort();
  ::close(in[1]);
  {
    wrap::TerminalAsker asker(in[0], out[1]);
    wrap::Launcher launcher(bundle, asker, tmp);
    if (target == "-") {
      launcher.Run();
    } else {
      launcher.Extract(target);
    }
  }
  ::close(out[1]);
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
    shown.append(buf, static_cast<std::size_t>(n));
  ::close(in[0]);
  ::close(out[0]);
  return shown;
}

// A SETUP.EXE that records its folder, arguments and what it found (and,
// on POSIX, the modes of both), copies DATA.BIN beside the record and
// exits with 3. On Windows the test build's fake_setup program, which
// finds the record's name in WRAP_TEST_RECORD.
#ifdef _WIN32
Bytes SetupProgram(const std::string&) { return wraptest::ReadFile(WRAP_FAKE_SETUP); }
#else
Bytes SetupProgram(const std::string& record) {
  const std::string script =
      "#!/bin/sh\n"
      "d=$(dirname \"$0\")\n"
      "{ echo \"dir=$d\"; echo \"args=$#\"; echo \"folder=$(stat -c %a \"$d\")\";\n"
      "  echo \"self=$(stat -c %a \"$0\")\"; ls \"$d\"; } > '" +
      record +
      "'\n"
      "cp \"$d/DATA.BIN\" '" +
      record +
      ".data' 2>/dev/null\n"
      "exit 3\n";
  return Bytes(script.begin(), script.end());
}
#endif

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(tmp_); }
  TempFolder root_;
  std::string tmp_ = root_ / "tmp";
  std::string record_ = root_ / "record";
  EnvGuard recordName_{"WRAP_TEST_RECORD", record_};
  std::string Failed(const std::string& error) {
    return kTitle + "\n" + error + "\n" + kTitle + "\nSetup failed.\n";
  }
  std::string Invalid(const std::string& why) {
    return Question() + Failed(wrap::ErrorText(wrap::kInvalidData) + "\n" + why);
  }
  std::string Question() { return kTitle + "\n" + kQuestion + " [y/N] "; }
};

}  // namespace

TEST_F(LauncherTest, UnpacksRunsSetupAndRemovesTheFolder) {
  const Bytes data = wraptest::Mixed(300000, 11);
  Payload p;
  p.AddFile("DATA.BIN", data);
  p.AddFile("README.TXT", Text("read me\r\n"));
  p.AddFile("SETUP.EXE", SetupProgram(record_));
  const wrap::Bundle bundle = p.Build();
#ifdef _WIN32
  const std::string folder = "dir=" + tmp_ + "/_INST0\nargs=0";
  {
#else
  // Whatever the umask, the folder is private and SETUP.EXE can run.
  using Mask = std::pair<mode_t, std::string>;  // umask, SETUP.EXE's mode
  for (const auto& [mask, self] : {Mask{0177, "700"}, Mask{0, "755"}}) {
    const mode_t old = ::umask(mask);
    const std::string folder = "dir=" + tmp_ + "/_INST0\nargs=0\nfolder=700\nself=" + self;
#endif
    const std::string shown = RunLauncher(&bundle, tmp_, "y\n");
#ifndef _WIN32
    ::umask(old);
#endif
    EXPECT_EQ(shown, Question());
    const Bytes rec = wraptest::ReadFile(record_);
    EXPECT_EQ(std::string(rec.begin(), rec.end()), folder + "\nDATA.BIN\nREADME.TXT\nSETUP.EXE\n");
    EXPECT_EQ(wraptest::ReadFile(record_ + ".data"), data);
    EXPECT_TRUE(Listing(tmp_).empty());
  }
}

TEST_F(LauncherTest, AnythingButYesLeavesNothingBehind) {
  Payload p;
  p.AddFile("SETUP.EXE", SetupProgram(record_));
  const wrap::Bundle bundle = p.Build();
  for (const std::string answer : {"n\n", "\n", "", "maybe\n"}) {
    EXPECT_EQ(RunLauncher(&bundle, tmp_, answer), Question());
    EXPECT_TRUE(Listing(tmp_).empty());
    EXPECT_FALSE(std::filesystem::exists(record_));
  }
}

// Folders in the way are skipped and left alone; a plain file in the way
// fails with "File exists" and is left alone too.
TEST_F(LauncherTest, WhatIsInTheWayIsLeftAlone) {
  Payload p;
  p.AddFile("SETUP.EXE", SetupProgram(record_));
  const wrap::Bundle bundle = p.Build();
  wraptest::WriteFile(tmp_ + "/_INST0", std::string("not a folder"));
  EXPECT_EQ(RunLauncher(&bundle, tmp_, "y\n"), Question() + Failed("File exists"));
  EXPECT_EQ(Listing(tmp_), std::vector<std::string>{"_INST0"});
  EXPECT_EQ(wraptest::ReadFile(tmp_ + "/_INST0"), Text("not a folder"));

  std::filesystem::remove(tmp_ + "/_INST0");
  for (const char* d : {"_INST0", "_INST1"}) {
    std::filesystem::create_directory(tmp_ + "/" + d);
    wraptest::WriteFile(tmp_ + "/" + d + "/KEEP", std::string("mine"));
  }
  RunLauncher(&bundle, tmp_ + "/", "y\n");
  const Bytes rec = wraptest::ReadFile(record_);
  EXPECT_EQ(std::string(rec.begin(), rec.end()).substr(0, 4 + tmp_.size() + 8),
            "dir=" + tmp_ + "/_INST2\n");
  EXPECT_EQ(Listing(tmp_), (std::vector<std::string>{"_INST0", "_INST1"}));
  EXPECT_EQ(wraptest::ReadFile(tmp_ + "/_INST1/KEEP"), Text("mine"));
}

// Each way a payload can be damaged or unsafe is invalid data, and nothing
// is written, outside the folder least of all; an empty list fails at
// starting SETUP.EXE, with nothing left behind either.
TEST_F(LauncherTest, BadPayloadsFailAndLeaveNothing) {
  const Bytes setup = SetupProgram(record_);
  const std::vector<std::pair<std::function<void(Payload&)>, std::string>> cases = {
      {[&](Payload& p) {
         p.AddFile("DATA.BIN", wraptest::Random(5000, 1));
         p.AddFile("SETUP.EXE", setup, 0, false);
       },
       "Missing part: SETUP.EX_"},
      {[&](Payload& p) {
         p.AddFile("SETUP.EXE", setup);
         p.Records()[0].name = "../EVIL.EX_";
       },
       "Damaged part: file list"},
      // The letter in the header would make the expanded name a path.
      {[&](Payload& p) {
         p.AddFile("EVIL.TXT", Text("x"), '/');
         p.AddFile("SETUP.EXE", setup);
       },
       "EVIL.TX/ is not a plain 8.3 file name"},
      // Not compressed at all: it would be expanded onto itself.
      {[&](Payload& p) {
         p.AddFile("SETUP.EXE", setup);
         p.Set(ResourceType::RawData, 101, Text("plain text, no header"));
         p.Records()[0].length = 21;
       },
       "SETUP.EX_ is not a compressed file"},
      {[&](Payload& p) {
         p.AddFile("SETUP.EXE", setup);
         p.Records()[0].length += 1;  // longer than its resource
       },
       "Damaged part: file list (SETUP.EX_ too long)"},
      {[&](Payload& p) {
         p.AddFile("SETUP.EXE", setup);
         p.Records()[0].length -= 1;  // compressed data cut short
       },
       "compressed data ends early"},
      {[&](Payload& p) {
         p.Set(ResourceType::RawData, 1, Bytes{1, 2, 3});  // file time too short
         p.AddFile("SETUP.EXE", setup);
       },
       "Damaged part: file time"},
  };
  for (const auto& [damage, why] : cases) {
    Payload p;
    damage(p);
    const wrap::Bundle bundle = p.Build();
    EXPECT_EQ(RunLauncher(&bundle, tmp_, "y\n"), Invalid(why));
  }
  const wrap::Bundle empty = Payload().Build();
  EXPECT_EQ(RunLauncher(&empty, tmp_, "y\n"), Question() + Failed("No such file or directory"));
  EXPECT_EQ(RunLauncher(nullptr, tmp_, "y\n"),
            "Setup\n" + wrap::ErrorText(wrap::kInvalidData) + "\nSetup\nSetup failed.\n");
  EXPECT_TRUE(Listing(tmp_).empty());
  EXPECT_EQ(Listing(root_.path()), std::vector<std::string>{"tmp"});
}

TEST_F(LauncherTest, AFlippedBitInAnyPartIsNamedAndNothingIsWritten) {
  Payload p;
  p.AddFile("DATA.BIN", wraptest::Mixed(20000, 4));
  p.AddFile("SETUP.EXE", SetupProgram(record_));
  const Bytes image = p.Image();
  const wrap::Bundle sound = wrap::Bundle::Parse(image);
  for (const std::string name : {"string 2", "file time", "file list", "DATA.BI_", "SETUP.EX_"}) {
    // Where the part's bytes lie, found through a sound copy.
    auto at = image.end();
    for (const auto& key : sound.Keys()) {
      if (wrap::PartName(sound, key) != name) continue;
      const Bytes part = *sound.Load(key.type, key.id);
      at = std::search(image.begin(), image.end(), part.begin(), part.end()) + 1;
    }
    ASSERT_NE(at, image.end()) << name;
    Bytes damaged = image;
    damaged[static_cast<std::size_t>(at - image.begin())] ^= 0x10;
    const wrap::Bundle bundle = wrap::Bundle::Parse(damaged);
    const std::string shown = RunLauncher(&bundle, tmp_, "y\n");
    // The question itself may be the damaged part; the verdict is the same.
    EXPECT_NE(shown.find(wrap::ErrorText(wrap::kInvalidData) + "\nDamaged part: " + name + "\n"),
              std::string::npos)
        << name << ": " << shown;
    EXPECT_TRUE(Listing(tmp_).empty()) << name;
    EXPECT_FALSE(std::filesystem::exists(record_)) << name;
  }
}

TEST_F(LauncherTest, ExecuteBitsComeBackAndTargetsAreKept) {
  Payload p;
  p.AddFile("TOOL.SH", Text("#!/bin/sh\n"), 0, true, 0750);
  p.AddFile("README.TXT", Text("read me"), 0, true, 0600);
  p.AddFile("SETUP.EXE", SetupProgram(record_), 0, true, 0644);
  const wrap::Bundle bundle = p.Build();
#ifdef _WIN32
  EXPECT_EQ(RunLauncher(&bundle, tmp_, "", root_ / "kept/"), "");
#else
  const mode_t old = ::umask(022);
  EXPECT_EQ(RunLauncher(&bundle, tmp_, "", root_ / "kept/"), "");
  ::umask(old);
  auto mode = [&](const char* name) {
    struct stat st {};
    ::stat((root_ / "kept/" + name).c_str(), &st);
    return st.st_mode & 0777;
  };
  EXPECT_EQ(mode("TOOL.SH"), 0754u);  // its own execute bits, user and group
  EXPECT_EQ(mode("README.TXT"), 0644u);
  EXPECT_EQ(mode("SETUP.EXE"), 0755u);
#endif
  EXPECT_EQ(Listing(root_ / "kept"),
            (std::vector<std::string>{"README.TXT", "SETUP.EXE", "TOOL.SH"}));
  EXPECT_FALSE(std::filesystem::exists(record_));  // nothing ran

  // A failed unpack into a folder that existed takes only what it wrote.
  std::filesystem::create_directory(root_ / "mine");
  wraptest::WriteFile(root_ / "mine/KEEP", std::string("mine"));
  Payload bad;
  bad.AddFile("DATA.BIN", wraptest::Random(3000, 2));
  bad.AddFile("SETUP.EXE", Text("x"));
  bad.Records()[1].length -= 1;
  const wrap::Bundle damaged = bad.Build();
  RunLauncher(&damaged, tmp_, "", root_ / "mine");
  EXPECT_EQ(Listing(root_ / "mine"), std::vector<std::string>{"KEEP"});
}

TEST(LauncherHelpers, ErrorTextsSlashesAndFileTimes) {
  // Known codes and plain and slashed folders are the launcher tests' own.
  EXPECT_EQ(wrap::ErrorText(0x12345), "Unknown error. Code = 0x12345");
  EXPECT_EQ(wrap::AppendBackslash(""), "");
  EXPECT_EQ(wrap::AppendBackslash("C:\\TEMP\\"), "C:\\TEMP\\");

  std::int64_t s = 0;
  long ns = 0;
  wrap::FileTimeToUnix(wrap::ParseFileTime("1998-03-07T00:31:00Z"), s, ns);
  EXPECT_EQ(s, 889230660);
  EXPECT_EQ(ns, 0);
  EXPECT_EQ(wrap::ParseFileTime("1998-03-07T00:31:00Z"), 125337042600000000ull);
  wrap::FileTimeToUnix(wrap::UnixToFileTime(-1, 500), s, ns);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(ns, 500);
  EXPECT_EQ(wrap::ParseFileTime("@0"), 116444736000000000ull);
  EXPECT_THROW(wrap::ParseFileTime("yesterday"), wrap::EWrapError);
}
