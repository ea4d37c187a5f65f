// Setup on a package whose product the installed-products record already lists: the build in
// the record decides between update, repair and refusal.
#include "app/tests/SetupProcess.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using setuptest::BinDir;
using setuptest::Outcome;
using setuptest::RunSetup;
using setuptest::SourceDir;

const std::wstring kRecord = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";

class RecordedProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string source = SourceDir() + "/examples/test-packages/record/";
    folder = machine.Base() + "/pkg";
    std::filesystem::create_directories(folder);
    std::string script = tltest::ReadHostFile(source + "InstallScript.cfg");
    ASSERT_FALSE(script.empty());
    ASSERT_TRUE(tltest::WriteZip(folder + "/Setup.data", {{"InstallScript.cfg", script}}));
    answers = folder + "/answers.txt";
    std::ofstream(answers) << tltest::ReadHostFile(source + "answers.txt");
    recordTemplate = tltest::ReadHostFile(source + "record-template.cfg");
    ASSERT_FALSE(recordTemplate.empty());
  }

  // Runs Setup with the record listing the product at `build`; returns the run log.
  std::string RunWithInstalledBuild(int build, int expectedExit = 0) {
    std::string record = recordTemplate;
    record.replace(record.find("@BUILD@"), 7, std::to_string(build));
    // The machine exists once it is first used; the record goes into its common data folder.
    platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
    EXPECT_EQ(platform::WriteWholeFile(kRecord, record), platform::ERROR_SUCCESS);
    // An installed product has its folder on the machine (a repair of a vanished one fails).
    platform::CreateDirectoryWithParents(L"C:\\Program Files (x86)\\TOLMERA");
    recordBefore = record;
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, expectedExit) << o.stderrText;
    std::string log;
    platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", log);
    return log;
  }

  static bool Has(const std::string& log, const std::string& line) {
    return log.find(line + "\r\n") != std::string::npos;
  }

  tltest::ScopedMachine machine;
  std::string folder, answers, recordTemplate, recordBefore;
};

}  // namespace

TEST_F(RecordedProduct, LowerBuildInstalledOffersTheUpdate) {
  std::string log = RunWithInstalledBuild(150);
  EXPECT_TRUE(Has(log, "INFO : Installed product build = 150")) << log;
  EXPECT_TRUE(Has(log, "INFO : Install Type = Update =====================")) << log;
  EXPECT_TRUE(Has(log, "INFO : Page DLG_UPDATE -> Next")) << log;
  EXPECT_FALSE(Has(log, "INFO : Page DLG_REPAIR -> Next")) << log;
  EXPECT_TRUE(Has(log, "INFO : CInstallManager::Init() installed libraries 1;3")) << log;
  EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(RecordedProduct, SameBuildInstalledOffersTheRepair) {
  std::string log = RunWithInstalledBuild(200);
  EXPECT_TRUE(Has(log, "INFO : Installed product build = 200")) << log;
  EXPECT_TRUE(Has(log, "INFO : Install Type = Repair =====================")) << log;
  EXPECT_TRUE(Has(log, "INFO : Page DLG_REPAIR -> Next")) << log;
  EXPECT_FALSE(Has(log, "INFO : Page DLG_UPDATE -> Next")) << log;
  EXPECT_TRUE(
      Has(log, "INFO : CInstallManager::Init() install path C:\\Program Files (x86)\\TOLMERA"))
      << log;
  EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(RecordedProduct, HigherBuildInstalledIsRefused) {
  // The answered run's exit status is its result, 12.
  std::string log = RunWithInstalledBuild(201, 12);
  EXPECT_TRUE(Has(log, "INFO : Installed product build = 201")) << log;
  EXPECT_NE(log.find("This package holds build 200. A newer build is installed."),
            std::string::npos)
      << log;
  // Result 12 with its text; no page was shown, no action chosen.
  EXPECT_TRUE(Has(log, "ERROR : The newer version of product is already installed")) << log;
  EXPECT_EQ(log.find("Install Type = "), std::string::npos) << log;
  EXPECT_EQ(log.find("INFO : Page "), std::string::npos) << log;
  // The record is left as it was, the other product's entry included.
  std::string after;
  platform::ReadWholeFile(kRecord, after);
  EXPECT_EQ(after, recordBefore);
}
