// Setup on a package whose product the installed-products record already lists: the build in
// the record decides between update, repair and refusal.
#include "package/tests/TestArchive.h"
#include "package/tests/TestMachine.h"
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

std::string BinDir()
{
    if (const char* d = std::getenv("TOLMERA_BIN_DIR"))
        return d;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string SourceDir()
{
    if (const char* d = std::getenv("TOLMERA_SOURCE_DIR"))
        return d;
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path().string();
}

struct Outcome {
    int exitCode = -1;
    std::string stderrText;
};

// Runs Setup with the machine and answer file in its environment; stderr is caught in a file.
Outcome RunSetup(const std::string& machineRoot, const std::string& answers, const std::vector<std::string>& args)
{
    std::string errPath = machineRoot + ".stderr";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("TOLMERA_MACHINE=", 0) == 0 || v.rfind("TOLMERA_ANSWERS=", 0) == 0 || v.rfind("TOLMERA_ENVIRONMENT=", 0) == 0 ||
            v.rfind("TOLMERA_CURRENT_DIRECTORY=", 0) == 0 || v.rfind("DISPLAY=", 0) == 0)
            continue;
        env.push_back(v);
    }
    env.push_back("TOLMERA_MACHINE=" + machineRoot);
    env.push_back("TOLMERA_ANSWERS=" + answers);
    std::vector<char*> envp;
    for (auto& v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    std::string program = BinDir() + "/Setup";
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Outcome out;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return out;
    int status = 0;
    // A run never waits for anyone: give it a generous minute, then stop it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "Setup did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.stderrText = tltest::ReadHostFile(errPath);
    return out;
}

const std::wstring kRecord = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";

class RecordedProduct : public ::testing::Test {
protected:
    void SetUp() override
    {
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
    std::string RunWithInstalledBuild(int build)
    {
        std::string record = recordTemplate;
        record.replace(record.find("@BUILD@"), 7, std::to_string(build));
        // The machine exists once it is first used; the record goes into its common data folder.
        platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
        EXPECT_EQ(platform::WriteWholeFile(kRecord, record), platform::ERROR_SUCCESS);
        recordBefore = record;
        Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
        EXPECT_EQ(o.exitCode, 0) << o.stderrText;
        std::string log;
        platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", log);
        return log;
    }

    static bool Has(const std::string& log, const std::string& line) { return log.find(line + "\r\n") != std::string::npos; }

    tltest::TempMachine machine;
    std::string folder, answers, recordTemplate, recordBefore;
};

} // namespace

TEST_F(RecordedProduct, LowerBuildInstalledOffersTheUpdate)
{
    std::string log = RunWithInstalledBuild(150);
    EXPECT_TRUE(Has(log, "INFO : Installed product build = 150")) << log;
    EXPECT_TRUE(Has(log, "INFO : Install Type = Update =====================")) << log;
    EXPECT_TRUE(Has(log, "INFO : Page DLG_UPDATE -> Next")) << log;
    EXPECT_FALSE(Has(log, "INFO : Page DLG_REPAIR -> Next")) << log;
    EXPECT_TRUE(Has(log, "INFO : CInstallManager::Init() installed libraries 1;3")) << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(RecordedProduct, SameBuildInstalledOffersTheRepair)
{
    std::string log = RunWithInstalledBuild(200);
    EXPECT_TRUE(Has(log, "INFO : Installed product build = 200")) << log;
    EXPECT_TRUE(Has(log, "INFO : Install Type = Repair =====================")) << log;
    EXPECT_TRUE(Has(log, "INFO : Page DLG_REPAIR -> Next")) << log;
    EXPECT_FALSE(Has(log, "INFO : Page DLG_UPDATE -> Next")) << log;
    EXPECT_TRUE(Has(log, "INFO : CInstallManager::Init() install path C:\\Program Files (x86)\\TOLMERA")) << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(RecordedProduct, HigherBuildInstalledIsRefused)
{
    std::string log = RunWithInstalledBuild(201);
    EXPECT_TRUE(Has(log, "INFO : Installed product build = 201")) << log;
    EXPECT_NE(log.find("This package holds build 200. A newer build is installed."), std::string::npos) << log;
    // Result 12 with its text; no page was shown, no action chosen.
    EXPECT_TRUE(Has(log, "ERROR : The newer version of product is already installed")) << log;
    EXPECT_EQ(log.find("Install Type = "), std::string::npos) << log;
    EXPECT_EQ(log.find("INFO : Page "), std::string::npos) << log;
    // The record is left as it was, the other product's entry included.
    std::string after;
    platform::ReadWholeFile(kRecord, after);
    EXPECT_EQ(after, recordBefore);
}
