// The morlane program as a user starts it: without a display, with a bad option, and with a
// display from a folder that holds a file of the engine's name (never loaded); the X server
// that render starts when there is no display, ended with the program however it ends.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Last: its macros (None, Status...) would clash with the test framework's names.
#include <X11/Xlib.h>

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

// The processes whose parent is `parent`, zombies included, as /proc lists them.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end) continue;
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const auto name = line.rfind(')');
    if (name == std::string::npos) continue;
    std::istringstream rest(line.substr(name + 1));
    char state = 0;
    long ppid = 0;
    if (rest >> state >> ppid && ppid == parent) out.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return out;
}

// A run of morlane without DISPLAY, this process the reaper of whatever it leaves behind (so
// that its X server, once its parent is gone, becomes a child here and is seen to end).
struct ReapedRun {
  int code = -1;    // the exit code, or -1 when a signal ended it
  int signal = 0;   // the signal that ended it
  int orphans = 0;  // processes it left that ended within the wait
  int left = 0;     // processes it left that still ran after the wait (then killed)
};

ReapedRun RunWithoutDisplayReaped(const std::vector<std::string>& args, bool killWhenServing,
                                  const std::string& errFile) {
  using Clock = std::chrono::steady_clock;
  ReapedRun run;
  const std::vector<pid_t> before = ChildrenOf(getpid());
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return run;
  const std::string program = BinDir() + "/morlane";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null < 0 || err < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    unsetenv("LD_LIBRARY_PATH");
    unsetenv("DISPLAY");
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (pid > 0) {
    int status = 0;
    bool ended = false;
    if (killWhenServing) {
      // Killed once its server serves: the server has written its display number and closed
      // the pipe it wrote it to (its descriptor 3). Killed earlier, a server would end anyway
      // as it writes to a pipe that nobody reads.
      auto serving = [](pid_t c) {
        std::ifstream comm("/proc/" + std::to_string(c) + "/comm");
        std::string name;
        std::getline(comm, name);
        char link[256] = {};
        const std::string fd3 = "/proc/" + std::to_string(c) + "/fd/3";
        const ssize_t n = readlink(fd3.c_str(), link, sizeof link - 1);
        return name == "Xvfb" &&
               (n <= 0 || std::string(link, static_cast<size_t>(n)).rfind("pipe:", 0) != 0);
      };
      const auto deadline = Clock::now() + std::chrono::minutes(2);
      while (!ended && Clock::now() < deadline) {
        const std::vector<pid_t> children = ChildrenOf(pid);
        if (std::any_of(children.begin(), children.end(), serving)) {
          kill(pid, SIGKILL);
          break;
        }
        ended = waitpid(pid, &status, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    if (ended || waitpid(pid, &status, 0) == pid) {
      run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    // What it left behind is this process's now: each must end within the wait.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (;;) {
      std::vector<pid_t> left;
      for (pid_t c : ChildrenOf(getpid()))
        if (std::find(before.begin(), before.end(), c) == before.end() && c != pid)
          left.push_back(c);
      for (pid_t c : left)
        if (waitpid(c, nullptr, WNOHANG) == c) ++run.orphans;
      left.erase(std::remove_if(left.begin(), left.end(), [](pid_t c) { return kill(c, 0) != 0; }),
                 left.end());
      if (left.empty()) break;
      if (Clock::now() >= deadline) {
        run.left = static_cast<int>(left.size());
        for (pid_t c : left) {
          kill(c, SIGKILL);
          waitpid(c, nullptr, 0);
        }
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  return run;
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

TEST_F(ProgramTest, TheServerRenderStartsWithoutADisplayEndsWithTheProgramHoweverItEnds) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/Xvfb";
  const std::string model = SourceDir() + "/examples/models/assembly.xml";
  const std::string err = (dir / "stderr.txt").string();
  auto text = [&] {
    std::ifstream in(err);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  };

  // Done: the picture is written, and the server ends after the program.
  const std::string png = (dir / "shown.png").string();
  ReapedRun run = RunWithoutDisplayReaped({"render", model, png, "--size", "64x48"}, false, err);
  EXPECT_EQ(run.code, 0) << text();
  EXPECT_GT(std::filesystem::file_size(png), 100u);
  EXPECT_GE(run.orphans, 1) << "no server was started";
  EXPECT_EQ(run.left, 0) << "the server outlived the program";

  // Failed after the server came up: the picture cannot be written.
  const std::string nowhere = (dir / "missing" / "shown.png").string();
  run = RunWithoutDisplayReaped({"render", model, nowhere, "--size", "64x48"}, false, err);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(text(), "morlane: cannot write " + nowhere + "\n");
  EXPECT_GE(run.orphans, 1) << "no server was started";
  EXPECT_EQ(run.left, 0) << "the server outlived the failed program";

  // Killed while its server serves: no chance to clean up, the kernel ends the server.
  // A large picture, that the kill comes while it is drawn.
  run = RunWithoutDisplayReaped({"render", model, png, "--size", "4000x3000"}, true, err);
  EXPECT_EQ(run.signal, SIGKILL) << "the program ended before it was killed: " << text();
  EXPECT_GE(run.orphans, 1) << "no server was started";
  EXPECT_EQ(run.left, 0) << "the server outlived the killed program";
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

namespace {

// Starts the windowed program with the arguments and environment, makes its window small and
// large again as a user would, closes it as a window manager does (WM_DELETE_WINDOW), and gives
// its exit code (0 when it ended by itself) and its error text.
RunResult StartResizeAndClose(const std::filesystem::path& dir, const std::string& env,
                              const std::string& args) {
  const std::string err = (dir / "window-err.txt").string();
  const std::string ids = (dir / "window-ids.txt").string();
  const std::string script =
      "cd " + Quote(dir.string()) + " || exit 90\n" + "env -u LD_LIBRARY_PATH " + env + " " +
      Quote(BinDir() + "/morlane") + " " + args + " 2>" + Quote(err) +
      " >/dev/null &\n"
      "pid=$!\n"
      "win=$(timeout 120 xdotool search --sync --onlyvisible --pid $pid | head -n 1)\n"
      "[ -n \"$win\" ] || { kill $pid; exit 91; }\n"
      "sleep 1\n"
      "for size in '400 300' '320 240' '330 250' '900 600' '1400 860'; do\n"
      "  xdotool windowsize $win $size; sleep 0.5\n"
      "done\n"
      "echo $pid $win > " +
      Quote(ids) + "\n";
  const std::string file = (dir / "window-run.sh").string();
  std::ofstream(file) << script;
  RunResult run;
  const int status = std::system(("sh " + Quote(file)).c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    run.code = 100 + (WIFEXITED(status) ? WEXITSTATUS(status) : 0);
    return run;
  }
  long pid = 0;
  unsigned long window = 0;
  std::ifstream(ids) >> pid >> window;
  if (pid <= 0 || !window) return run;
  // The close of a window manager: the protocol message WM_DELETE_WINDOW.
  Display* x = XOpenDisplay(nullptr);
  if (x) {
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, window, False, NoEventMask, &close);
    XFlush(x);
    XCloseDisplay(x);
  }
  bool ended = false;
  for (int i = 0; i < 300 && !ended; ++i) {
    ended = kill(static_cast<pid_t>(pid), 0) != 0;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!ended) kill(static_cast<pid_t>(pid), SIGKILL);
  run.code = ended ? 0 : 92;
  std::ifstream in(err);
  std::stringstream text;
  text << in.rdbuf();
  run.err = text.str();
  return run;
}

}  // namespace

// The window started, made as small as it goes (its minimum size) and large again and closed, in
// English and in Russian, at 96 dots per inch and with the fonts at 144: nothing from the toolkit
// on the error stream.
TEST_F(ProgramTest, StartResizeAndCloseLeaveNoToolkitWarningOnTheErrorStream) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no display";
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
  const std::string lng = Quote(SourceDir() + "/examples/viewer-language/Morlane.lng");
  const std::string model = Quote(SourceDir() + "/examples/models/drive.xml");
  const struct {
    const char* env;
    std::string args;
  } runs[] = {
      {"", model},
      {"", "--lang " + lng + " --language 1049 " + model},
      {"GDK_DPI_SCALE=1.5", "--lang " + lng + " --language Русский " + model},
  };
  for (const auto& r : runs) {
    const RunResult run = StartResizeAndClose(dir, r.env, r.args);
    EXPECT_EQ(run.code, 0) << r.env << " " << r.args << "\n" << run.err;
    EXPECT_EQ(run.err.find("Gtk-"), std::string::npos) << r.env << " " << r.args << "\n" << run.err;
    EXPECT_EQ(run.err.find("CRITICAL"), std::string::npos) << run.err;
  }
  // A language the file does not have, by its number: refused in one line, as by its name.
  const RunResult bad = Morlane("", "--lang " + lng + " --language 4242");
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "morlane: the language file has no language 4242\n");
}
