// The Setup program itself, started as a process on a fresh machine with an answer file.
#include "app/SingleCopy.h"
#include "package/tests/TestArchive.h"
#include "package/tests/TestMachine.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
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

std::string WriteAnswers(const std::string& folder, const std::string& text)
{
    std::string path = folder + "/answers.txt";
    std::ofstream(path) << text;
    return path;
}

// The lines of a log with their time stamps checked and removed.
std::vector<std::string> EntryTexts(const std::string& log)
{
    static const std::regex stamp(R"(^\d{4}\.\d{2}\.\d{2} - \d{2}:\d{2}:\d{2}  )");
    std::vector<std::string> texts;
    size_t start = 0, end;
    while ((end = log.find("\r\n", start)) != std::string::npos) {
        std::string line = log.substr(start, end - start);
        start = end + 2;
        std::smatch m;
        if (std::regex_search(line, m, stamp))
            texts.push_back(line.substr(m.length(0)));
        else
            texts.push_back("RAW " + line);
    }
    return texts;
}

class SetupProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = machine.Base() + "/pkg with blanks";
        std::filesystem::create_directories(folder);
        std::string script = tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/InstallScript.cfg");
        ASSERT_FALSE(script.empty());
        ASSERT_TRUE(tltest::WriteZip(folder + "/Setup.data", {{"InstallScript.cfg", script}}));
    }
    std::string LogText()
    {
        std::string bytes;
        platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", bytes);
        return bytes;
    }

    tltest::TempMachine machine;
    std::string folder;
};

} // namespace

TEST_F(SetupProgram, InstallsTheSamplePackageWithAnAnswerFile)
{
    std::string answers = WriteAnswers(machine.Base(), tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 0) << o.stderrText;
    std::string log = LogText();
    std::vector<std::string> texts = EntryTexts(log);
    ASSERT_GE(texts.size(), 10u) << log << o.stderrText;
    EXPECT_EQ(texts[0], "RAW ---------------------");
    std::vector<std::string> expected = {
        "INFO : CInstallManager::Init() extract script-file from data storage",
        "INFO : CInstallManager::Init() load localization from scenario",
        "INFO : CInstallManager::Init() load graphical resources",
        "INFO : CInstallManager::Init() create main dialog",
        "INFO : CInstallManager::Init() load info about installed products from C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg",
        "INFO : CInstallManager::Init() Project TSAMPLE version 3",
        "INFO : Scenario build = 1207",
        "INFO : Install Type = Full =====================",
        "INFO : " + std::string(57, '-'),
        "INFO : " + std::string(57, '-'),
        "INFO : Install product as Install",
        "INFO : Page DLG_GREETING -> Next",
        "INFO : Page DLG_LICENSE -> Next",
        "INFO : Page DLG_INSTALL_TYPE -> Next",
        "WARNING : CInstallManager::ProcessInstallMain() Local: the steps of this action are not part of this build",
        "INFO : TOLMERAInstall Finish",
    };
    ASSERT_GE(texts.size(), expected.size() + 2);
    EXPECT_EQ(texts[1].rfind(std::string("INFO : Setup Version = ") + TL_EXPECTED_VERSION + " Date = ", 0), 0u) << texts[1];
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(texts[2 + i], expected[i]) << "entry " << i + 2 << "\n" << log;
    // The log's end: the blank line that closes the file.
    EXPECT_EQ(texts.back(), "RAW ");
    EXPECT_EQ(log.find("ERROR"), std::string::npos);
    // The run's temporary folder is gone.
    EXPECT_FALSE(platform::PathFileExistsW(platform::GetTempPathW() + L"Setup\\InstallScript.cfg"));
}

TEST_F(SetupProgram, EmptyCommandLineUsesThePackageBesideTheProgram)
{
    // Beside the program (the build's bin folder) there is no Setup.data.
    std::string answers = WriteAnswers(machine.Base(), "");
    Outcome o = RunSetup(machine.Root(), answers, {});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_NE(o.stderrText.find("ERROR : Data storage not found\r\n"), std::string::npos) << o.stderrText;
    EXPECT_NE(o.stderrText.find("INFO : Message box: Installation is corrupted! -> OK\r\n"), std::string::npos) << o.stderrText;
    EXPECT_NE(o.stderrText.find("INFO : TOLMERAInstall Finish\r\n"), std::string::npos) << o.stderrText;
    EXPECT_TRUE(LogText().empty());
}

TEST_F(SetupProgram, MissingArchiveOnTheCommandLineFallsBack)
{
    std::string answers = WriteAnswers(machine.Base(), "");
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Nothing.data"});
    std::wstring z = L"Z:" + platform::FromUtf8(folder) + L"\\Nothing.data";
    for (auto& c : z)
        if (c == L'/')
            c = L'\\';
    std::string line = "INFO : IsFileExists: '" + platform::ToUtf8(z) + "' is NOT FOUND. Cause: The system cannot find the file specified.\r\n";
    EXPECT_NE(o.stderrText.find(line), std::string::npos) << o.stderrText;
    EXPECT_NE(o.stderrText.find("ERROR : Data storage not found\r\n"), std::string::npos) << o.stderrText;
}

TEST_F(SetupProgram, AQuestionWithoutAnswerEndsTheRunAtOnce)
{
    // Only the greeting is answered.
    std::string answers = WriteAnswers(machine.Base(), "[page DLG_GREETING]\nbutton = Next\n");
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 0);
    std::string log = LogText();
    EXPECT_NE(log.find("ERROR : CInstallManager::Run() a question was not answered: No answer for the page DLG_LICENSE"), std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR : Error during installation\r\n"), std::string::npos) << log;
}

TEST_F(SetupProgram, ASecondCopyOnTheSameMachineEndsSilently)
{
    // This process plays the first copy: it holds the machine's lock.
    platform::Machine& m = platform::Machine::Current();
    InstallManager::SingleCopyGuard first(m.StateDir());
    ASSERT_TRUE(first.IsFirst());
    InstallManager::SingleCopyGuard::TakeRaiseRequest();

    std::string answers = WriteAnswers(machine.Base(), tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.stderrText.empty()) << o.stderrText;
    EXPECT_TRUE(LogText().empty());
    // The first copy was asked to come forward.
    bool asked = false;
    for (int i = 0; i < 100 && !asked; ++i) {
        asked = InstallManager::SingleCopyGuard::TakeRaiseRequest();
        if (!asked)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(asked);
}

TEST_F(SetupProgram, AnAnswerFileThatCannotBeReadStopsBeforeTheRun)
{
    Outcome o = RunSetup(machine.Root(), machine.Base() + "/no-such-answers.txt", {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_NE(o.stderrText.find("cannot be read"), std::string::npos) << o.stderrText;
    EXPECT_TRUE(LogText().empty());
}
