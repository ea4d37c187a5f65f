// The morlane program as a user starts it: without a display, with a bad option, and with a
// display from a folder that holds a file of the engine's name (never loaded).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string BinDir() {
  const char* bin = std::getenv("TOLMERA_BIN_DIR");
  return bin ? bin : ".";
}

std::string SourceDir() {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  return src ? src : TOLMERA_TEST_SOURCE_DIR;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct RunResult {
  int code = -1;
  std::string err;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlane-run-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Runs morlane in dir with the given environment prefix and arguments.
  RunResult Morlane(const std::string& env, const std::string& args) {
    const std::string err = (dir / "stderr.txt").string();
    const std::string command = "cd " + Quote(dir.string()) + " && env -u LD_LIBRARY_PATH " + env +
                                " " + Quote(BinDir() + "/morlane") + " " + args + " 2>" +
                                Quote(err) + " >/dev/null";
    const int status = std::system(command.c_str());
    RunResult run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    run.err = text.str();
    return run;
  }
  std::filesystem::path dir;
};

int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoInOneLine) {
  const RunResult run = Morlane("-u DISPLAY", Quote(SourceDir() + "/examples/models/assembly.xml"));
  EXPECT_NE(run.code, 0);
  EXPECT_EQ(Lines(run.err), 1) << run.err;
  EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
}

TEST_F(ProgramTest, AnUnknownOptionOrAMissingValueIsRefusedInOneLine) {
  RunResult run = Morlane("", "--colour red");
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "morlane: unknown option --colour\n");
  run = Morlane("", "--lang");
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "morlane: --lang needs a value\n");
}

TEST_F(ProgramTest, TheEngineBesideTheLibraryIsUsedAndOneInTheCurrentFolderIsNot) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no display";
  // A file of the engine's name here would fail to load (it is no library) if it were tried.
  std::ofstream(dir / "libcad-ondravel.so") << "not a library";
  const std::string shot = (dir / "window.png").string();
  const std::string lng = SourceDir() + "/examples/viewer-language/Morlane.lng";
  const RunResult run =
      Morlane("", "--lang " + Quote(lng) + " --language English --snapshot " + Quote(shot) + " " +
                      Quote(SourceDir() + "/examples/models/assembly.xml"));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_GT(std::filesystem::file_size(shot), 10000u);

  // A language the file does not have, and a language file that is not there.
  RunResult bad = Morlane("", "--lang " + Quote(lng) + " --language Klingon");
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "morlane: the language file has no language Klingon\n");
  bad = Morlane("", "--lang missing.lng");
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(Lines(bad.err), 1);
  // A file the program cannot open is named, and the run fails.
  bad = Morlane("", "--snapshot " + Quote(shot) + " notes.txt");
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("notes.txt was not opened"), std::string::npos) << bad.err;
}

}  // namespace
