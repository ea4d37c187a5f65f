// The morlane program as a user starts it: without a display, with a bad option, and with a
// display from a folder that holds a file of the engine's name (never loaded).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
  // Runs morlane itself (no shell) with one more environment variable, as its own process:
  // its output, its error text and the most memory it held.
  struct Measured {
    int code = -1;
    std::string out, err;
    long maxResidentKB = 0;
  };
  Measured MorlaneMeasured(const std::string& variable, const std::string& value,
                           const std::vector<std::string>& args) {
    const std::string program = BinDir() + "/morlane";
    const std::string outFile = (dir / "stdout.txt").string();
    const std::string errFile = (dir / "stderr.txt").string();
    Measured m;
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
      unsetenv("LD_LIBRARY_PATH");
      setenv(variable.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    if (pid < 0) return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.maxResidentKB = usage.ru_maxrss;
    for (auto [file, text] : {std::pair{&outFile, &m.out}, std::pair{&errFile, &m.err}}) {
      std::ifstream in(*file);
      std::stringstream all;
      all << in.rdbuf();
      *text = all.str();
    }
    return m;
  }
  std::filesystem::path dir;
};

// A closed torus of nu x nv quads (two triangles each) about z, radii 100 and 30, as binary STL.
void WriteTorusStl(const std::filesystem::path& path, int nu, int nv) {
  std::string data(80, ' ');
  const std::uint32_t count = 2u * static_cast<std::uint32_t>(nu * nv);
  data.append(reinterpret_cast<const char*>(&count), 4);
  auto point = [&](int i, int j, float* out) {
    const double u = 2 * M_PI * (i % nu) / nu, v = 2 * M_PI * (j % nv) / nv;
    out[0] = static_cast<float>((100 + 30 * std::cos(v)) * std::cos(u));
    out[1] = static_cast<float>((100 + 30 * std::cos(v)) * std::sin(u));
    out[2] = static_cast<float>(30 * std::sin(v));
  };
  auto put = [&](int a0, int a1, int b0, int b1, int c0, int c1) {
    std::array<float, 12> f{};
    point(a0, a1, f.data() + 3);
    point(b0, b1, f.data() + 6);
    point(c0, c1, f.data() + 9);
    data.append(reinterpret_cast<const char*>(f.data()), 48);
    data.append(2, '\0');
  };
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      put(i, j, i + 1, j, i + 1, j + 1);
      put(i, j, i + 1, j + 1, i, j + 1);
    }
  std::ofstream(path, std::ios::binary) << data;
}

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

TEST_F(ProgramTest, AMeshTooLargeForStepIsRefusedWithItsReasonAndNothingIsBuilt) {
  // 64,000 triangles, the limit set to 4,000 faces: refused in one line that says why, with no
  // file written and no more memory than reading the mesh takes (the faces would need hundreds
  // of megabytes more).
  const std::filesystem::path mesh = dir / "torus.stl";
  WriteTorusStl(mesh, 400, 80);
  const std::string limit = "CAD_ONDRAVEL_MAX_MESH_FACES";
  const Measured info = MorlaneMeasured(limit, "4000", {"info", mesh.string()});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("box (-130, -130, -30) - (130, 130, 30)"), std::string::npos) << info.out;

  const std::filesystem::path step = dir / "torus.step";
  const Measured refused =
      MorlaneMeasured(limit, "4000", {"convert", mesh.string(), step.string()});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(Lines(refused.err), 1) << refused.err;
  EXPECT_NE(refused.err.find("the mesh has 64,000 triangles; STEP export of a mesh is limited to "
                             "4,000 faces"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(step));
  EXPECT_LT(refused.maxResidentKB, info.maxResidentKB + 40 * 1024)
      << "info " << info.maxResidentKB << " kB, refused convert " << refused.maxResidentKB << " kB";

  // STL keeps the mesh as it is, every triangle; a small mesh still goes to STEP.
  const std::filesystem::path stl = dir / "again.stl";
  const Measured again = MorlaneMeasured(limit, "4000", {"convert", mesh.string(), stl.string()});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(std::filesystem::file_size(stl), 84u + 50u * 64000u);
  const std::filesystem::path small = dir / "small.stl";
  WriteTorusStl(small, 20, 10);
  const Measured written =
      MorlaneMeasured(limit, "4000", {"convert", small.string(), step.string()});
  EXPECT_EQ(written.code, 0) << written.err;
  EXPECT_GT(std::filesystem::file_size(step), 100000u);
}

}  // namespace
