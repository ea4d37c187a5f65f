// The `tlpack` program run as an author runs it: the sample product checked, built and tested,
// and a package whose removal forgets a registry key.
#include "Snapshot.h"
#include "app/tests/SetupProcess.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"
#include "pack/tests/ToolRun.h"
#include "testing/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using packtest::Quote;
using packtest::Result;
using packtest::Shell;
using packtest::Write;

class Tlpack : public ::testing::Test {
 protected:
  void SetUp() override {
    tltest::ResetProcessState();
    const char* bin = std::getenv("TOLMERA_BIN_DIR");
    const char* build = std::getenv("TOLMERA_BUILD_DIR");
    if (!bin || !build) GTEST_SKIP() << "TOLMERA_BIN_DIR is not set (run through ctest)";
    bin_ = bin;
    tool_ = bin_ + "/tlpack";
    sample_ = std::string(build) + "/examples/sample-product";
    ASSERT_TRUE(fs::exists(tool_)) << tool_;
    ASSERT_TRUE(fs::exists(sample_ + "/Setup.data")) << sample_;
  }
  void TearDown() override { tltest::ResetProcessState(); }

  Result Run(const std::string& args) { return Shell(Quote(tool_) + " " + args); }

  // Installs `archive` with the sample's answers into a fresh machine at `root`; its snapshot.
  tlmachine::Snapshot InstallInto(const std::string& root, const std::string& archive) {
    platform::Machine::Init(root);
    auto outcome = setuptest::RunSetup(
        root, setuptest::SourceDir() + "/examples/sample-product/answers.txt", {"/X", archive});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.stderrText;
    platform::Machine::SetCurrentForProcess(root);
    tlmachine::Snapshot snapshot = tlmachine::TakeSnapshot();
    platform::Machine::ResetCurrent();
    return snapshot;
  }

  std::string bin_, tool_, sample_;
  tltest::TempFolder temp_{"tlpack-prog-"};
};

TEST_F(Tlpack, TheSampleProductPassesTheCheckWithoutAWarning) {
  for (const std::string& target : {sample_ + "/stage", sample_ + "/Setup.data"}) {
    Result r = Run("check --strict " + Quote(target));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "0 error(s), 0 warning(s)\n");
  }
}

TEST_F(Tlpack, ABrokenPackageIsReportedAndNeverWritten) {
  const std::string folder = temp_ / "broken";
  Write(folder + "/InstallScript.cfg",
        "<?xml version=\"1.0\"?>\n"
        "<SCENARIO Name=\"B\" PV=\"B\" RegKey=\"B\" Build=\"1\">\n"
        "  <INSTALL><DIRECTORY Name=\"bin\"/></INSTALL>\n"
        "  <Localization><ENGLISH ID=\"1033\" Title=\"English\" SystemName=\"English\"/>"
        "</Localization><Images/>\n"
        "</SCENARIO>\n");
  Result r = Run("build " + Quote(folder) + " -o " + Quote(temp_ / "B.data"));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_THAT(r.out, HasSubstr(folder + "/InstallScript.cfg:3:23: error: folder \"bin\" is not "
                                        "in the package\n"));
  EXPECT_THAT(r.out, HasSubstr("tlpack: nothing written"));
  EXPECT_FALSE(fs::exists(temp_ / "B.data"));

  // Warnings alone refuse only a strict build.
  Write(folder + "/bin/b.exe", "#!/bin/sh\n");
  r = Run("build --strict " + Quote(folder) + " -o " + Quote(temp_ / "B.data"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out,
              HasSubstr(": warning: language \"English\" has no messages \"MsgBeginUpdate\", "
                        "\"MsgCancellInstallation\", "));
  EXPECT_FALSE(fs::exists(temp_ / "B.data"));
  r = Run("build " + Quote(folder) + " -o " + Quote(folder + "/B.data"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr("B.data: 2 files"));
  // Built again into itself: the archive is not packed into the archive.
  r = Run("build " + Quote(folder) + " -o " + Quote(folder + "/B.data"));
  EXPECT_THAT(r.out, HasSubstr("B.data: 2 files"));
  r = Run("check " + Quote(folder + "/B.data"));
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(Tlpack, TheBuiltSampleInstallsAsTheArchiveCommandsPackageDid) {
  const std::string stage = sample_ + "/stage";
  const std::string built = temp_ / "Setup.data";
  Result r = Run("build " + Quote(stage) + " -o " + Quote(built));
  ASSERT_EQ(r.status, 0) << r.out;
  // The package as CMake's archive command made it before tlpack.
  const std::string reference = temp_ / "reference.zip";
  r = Shell("cd " + Quote(stage) + " && " + Quote(TL_CMAKE_COMMAND) + " -E tar cf " +
            Quote(reference) + " --format=zip -- *");
  ASSERT_EQ(r.status, 0) << r.out;

  tlmachine::Snapshot before = InstallInto(temp_ / "reference-machine", reference);
  tlmachine::Snapshot after = InstallInto(temp_ / "built-machine", built);
  ASSERT_GT(before.size(), 300u);
  // The same folders, files, keys and values, with the same sizes, attributes and data. The
  // times differ: the archive command stored them in the host's time zone, tlpack in the
  // machine's, so only tlpack's installation has the files' own times (below).
  const std::regex time(" time=[0-9]+");
  auto strip = [&](const tlmachine::Snapshot& s) {
    std::map<std::string, std::string> out;
    for (const auto& [id, details] : s) out[id] = std::regex_replace(details, time, "");
    return out;
  };
  auto a = strip(before), b = strip(after);
  for (const auto& [id, details] : a) {
    auto it = b.find(id);
    if (it == b.end()) {
      ADD_FAILURE() << "only the archive command's package gives " << id;
    } else if (it->second != details && id.find("tlinstall.log") == std::string::npos) {
      ADD_FAILURE() << id << ": " << details << " -> " << it->second;
    }
  }
  for (const auto& [id, details] : b)
    if (!a.count(id)) ADD_FAILURE() << "only tlpack's package gives " << id;

  struct stat st {};
  ASSERT_EQ(::stat((stage + "/readme.txt").c_str(), &st), 0);
  const std::string id = "F C:\\Program Files (x86)\\TOLMERA Design 7\\readme.txt";
  ASSERT_TRUE(after.count(id));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(after.at(id), m, std::regex("time=([0-9]+)")));
  const long long installed = std::stoll(m[1]);
  const long long original = (static_cast<long long>(st.st_mtime) + 11644473600LL) * 10000000LL;
  EXPECT_LE(std::llabs(installed - original), 30'000'000LL) << "the file's time is not kept";
}

TEST_F(Tlpack, TheSampleProductLeavesNothingOfItselfBehind) {
  Result r = Run("test " + Quote(sample_ + "/Setup.data") + " --answers " +
                 Quote(setuptest::SourceDir() + "/examples/sample-product/answers.txt"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_THAT(r.out, HasSubstr("== install: ok, exit status 0, "));
  EXPECT_THAT(r.out, HasSubstr("== repair: ok, exit status 0, "));
  EXPECT_THAT(r.out, HasSubstr("== change: ok, exit status 0, "));
  EXPECT_THAT(r.out, HasSubstr("== remove: ok, exit status 0, "));
  EXPECT_THAT(r.out, HasSubstr("the list of programs' entry TolmeraDesign7: "));
  EXPECT_THAT(r.out, HasSubstr("== restart: ok"));
  EXPECT_THAT(r.out, HasSubstr("nothing of the product\n"));
  EXPECT_THAT(r.out, HasSubstr("  + F C:\\ProgramData\\TOLMERA\\tlinstall.log\t"));
  EXPECT_THAT(r.out, HasSubstr("result: clean (0 traces left)\n"));
}

// A package whose registry value is left out of the removal ("IgnoreFor" UNINSTALL on its
// key): the remove pass cannot reach the key, and the test says so.
TEST_F(Tlpack, AForgottenRegistryRemovalIsReportedWithItsKey) {
  const std::string folder = temp_ / "forgetful";
  Write(folder + "/bin/forgetful.exe", "#!/bin/sh\nexit 0\n");
  Write(folder + "/license.txt", "Use it.\n");
  Write(folder + "/InstallScript.cfg",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SCENARIO Name=\"Forgetful\" PV=\"FORGET\" RegKey=\"Forgetful\" Version=\"1\" "
        "InstallType=\"Install\" Build=\"1\" DirName=\"Forgetful\">\n"
        "  <INSTALL>\n"
        "    <DIRECTORY Name=\"bin\"/>\n"
        "    <REGISTRY>\n"
        "      <HKLM KeyName=\"SOFTWARE\\Forgetful\\Kept\" ValueName=\"Path\" "
        "TextValue=\"%DestinationDir%\"/>\n"
        "      <HKLM KeyName=\"SOFTWARE\\Forgetful\\Forgotten\" ValueName=\"Path\" "
        "TextValue=\"%DestinationDir%\" IgnoreFor=\"UNINSTALL\"/>\n"
        "    </REGISTRY>\n"
        "  </INSTALL>\n"
        "  <UNINSTALLER Title=\"Forgetful 1\" Company=\"TOLMERA\"/>\n"
        "  <Images/>\n"
        "  <Localization>\n"
        "    <ENGLISH ID=\"1033\" Title=\"English\" SystemName=\"English\">\n"
        "      <DLG_LICENSE><LICENSE Path=\"license.txt\"/></DLG_LICENSE>\n"
        "    </ENGLISH>\n"
        "  </Localization>\n"
        "</SCENARIO>\n");
  Result r = Run("build " + Quote(folder) + " -o " + Quote(temp_ / "Forgetful.data"));
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string kept = temp_ / "kept-machine";
  r = Run("test " + Quote(temp_ / "Forgetful.data") + " --keep " + Quote(kept));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("== install: ok, exit status 0"));
  // Nothing to change: the short maintenance page has no Change.
  EXPECT_THAT(r.out, HasSubstr("== change: ok, exit status 1"));
  EXPECT_THAT(r.out, HasSubstr("the package offers no change of its components"));
  EXPECT_THAT(r.out, HasSubstr("== remove: ok, exit status 0"));
  EXPECT_THAT(r.out,
              HasSubstr("+ K HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Forgetful\\Forgotten\t"));
  EXPECT_THAT(r.out, HasSubstr("+ V HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Forgetful\\"
                               "Forgotten : \"Path\"\tREG_SZ"));
  EXPECT_THAT(r.out, Not(HasSubstr("Forgetful\\Kept")));
  EXPECT_THAT(r.out, HasSubstr("result: FAILED"));
  // The machine is kept for a look with tlmachine.
  EXPECT_TRUE(fs::exists(kept + "/machine.ini"));
  Result look = Shell(Quote(bin_ + "/tlmachine") + " --machine " + Quote(kept) +
                      " reg query 'HKLM\\SOFTWARE\\WOW6432Node\\Forgetful\\Forgotten'");
  EXPECT_EQ(look.status, 0) << look.out;
  EXPECT_THAT(look.out, HasSubstr("Path"));
  // A kept machine is never made over an earlier one.
  r = Run("test " + Quote(temp_ / "Forgetful.data") + " --keep " + Quote(kept));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_THAT(r.out, HasSubstr("is not empty"));
}

TEST_F(Tlpack, EachVerbHasItsManualAndAWrongCallSaysHowToCall) {
  for (const std::string verb : {"build", "check", "test"}) {
    Result r = Run(verb + " --help");
    EXPECT_EQ(r.status, 0) << verb;
    EXPECT_THAT(r.out, HasSubstr("NAME\n    tlpack " + verb + " - "));
    EXPECT_THAT(r.out, HasSubstr("EXIT STATUS\n"));
    EXPECT_EQ(Run("help " + verb).out, r.out);
  }
  Result r = Run("pack something");
  EXPECT_EQ(r.status, 3);
  EXPECT_THAT(r.out, HasSubstr("tlpack: unknown verb pack\nusage: tlpack build FOLDER"));
  r = Run("check");
  EXPECT_EQ(r.status, 3);
  r = Run("check " + Quote(temp_ / "nowhere"));
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, HasSubstr("is neither a folder nor a file"));
}

}  // namespace
