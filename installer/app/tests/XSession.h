// An X display of a test's own, as a person's desktop: an Xvfb server on a free display number
// at the size asked, with the openbox window manager when asked, both ended with the session.
// The test types and clicks through the X test extension (xdotool) and reads the screen's
// picture from the server. Nothing here waits without a bound.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <wx/image.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace setuptest {

class XSession {
 public:
  // `home`: a folder of the test's own for the window manager's configuration and cache.
  XSession(int width, int height, bool windowManager, const std::string& home)
      : m_width(width), m_height(height) {
    if (!StartServer()) return;
    if (windowManager && !StartWindowManager(home)) return;
    m_ok = true;
  }
  ~XSession() {
    if (m_display) XCloseDisplay(m_display);
    Stop(m_wmPid);
    Stop(m_serverPid);
  }
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  bool Ok() const { return m_ok; }
  const std::string& Error() const { return m_error; }
  // ":<number>".
  const std::string& Name() const { return m_name; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

  // xdotool with `args` on this display; true when it succeeded.
  bool Xdotool(const std::string& args) const {
    std::string command = "DISPLAY=" + m_name + " timeout 10 xdotool " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }
  bool Key(const std::string& keys) const { return Xdotool("key --delay 40 " + keys); }
  bool Click(int x, int y) const {
    // Without --sync: it waits for a motion that never comes when the pointer is there already.
    return Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) +
                   " sleep 0.1 click 1");
  }

  // The shown windows whose title is `title` exactly: their places (x, y, width, height of
  // the window itself, without the window manager's frame).
  struct Place {
    int x = 0, y = 0, width = 0, height = 0;
  };
  std::vector<Place> WindowsTitled(const std::string& title) const {
    std::vector<Place> out;
    std::string command = "DISPLAY=" + m_name +
                          " timeout 10 xdotool search --onlyvisible --name '^" + title +
                          "$' getwindowgeometry --shell %@ 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char line[256];
    Place place;
    while (std::fgets(line, sizeof line, p)) {
      int v = 0;
      if (std::sscanf(line, "X=%d", &v) == 1) place.x = v;
      if (std::sscanf(line, "Y=%d", &v) == 1) place.y = v;
      if (std::sscanf(line, "WIDTH=%d", &v) == 1) place.width = v;
      if (std::sscanf(line, "HEIGHT=%d", &v) == 1) {
        place.height = v;
        out.push_back(place);
      }
    }
    pclose(p);
    return out;
  }

  // A panel along the top of the screen, `height` pixels high, that keeps its strip free of
  // windows as a desktop's panel does; true once the window manager has made the work area
  // smaller for it.
  bool AddTopPanel(int height) {
    if (!m_display) return false;
    Window root = DefaultRootWindow(m_display);
    Window panel = XCreateSimpleWindow(m_display, root, 0, 0, m_width, height, 0, 0, 0x303030);
    Atom type = XInternAtom(m_display, "_NET_WM_WINDOW_TYPE", False);
    Atom dock = XInternAtom(m_display, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(m_display, panel, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dock), 1);
    long strut[12] = {0, 0, height, 0, 0, 0, 0, 0, 0, m_width - 1, 0, 0};
    XChangeProperty(m_display, panel, XInternAtom(m_display, "_NET_WM_STRUT_PARTIAL", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut), 12);
    XChangeProperty(m_display, panel, XInternAtom(m_display, "_NET_WM_STRUT", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(strut), 4);
    // Where it asks to be, as a panel asks.
    XSizeHints hints{};
    hints.flags = USPosition | PPosition;
    XSetWMNormalHints(m_display, panel, &hints);
    XMapWindow(m_display, panel);
    XSync(m_display, False);
    Atom workarea = XInternAtom(m_display, "_NET_WORKAREA", False);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int polls = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      Atom actual = None;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      long top = -1;
      if (XGetWindowProperty(m_display, root, workarea, 0, 4, False, XA_CARDINAL, &actual, &format,
                             &count, &after, &data) == Success &&
          data && count >= 4)
        top = reinterpret_cast<long*>(data)[1];
      if (data) XFree(data);
      if (top == height) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      // A window manager still starting may have missed the panel: shown again each second.
      if (++polls % 20 == 0) {
        XUnmapWindow(m_display, panel);
        XSync(m_display, False);
        XMapWindow(m_display, panel);
        XSync(m_display, False);
      }
    }
    return false;
  }

  // What the screen shows now.
  wxImage Screen() const {
    wxImage image;
    if (!m_display) return image;
    XSync(m_display, False);
    XImage* shot = XGetImage(m_display, DefaultRootWindow(m_display), 0, 0, m_width, m_height,
                             AllPlanes, ZPixmap);
    if (!shot) return image;
    image.Create(m_width, m_height);
    unsigned char* out = image.GetData();
    for (int y = 0; y < m_height; ++y)
      for (int x = 0; x < m_width; ++x) {
        unsigned long p = XGetPixel(shot, x, y);
        *out++ = static_cast<unsigned char>((p & shot->red_mask) >> 16);
        *out++ = static_cast<unsigned char>((p & shot->green_mask) >> 8);
        *out++ = static_cast<unsigned char>(p & shot->blue_mask);
      }
    XDestroyImage(shot);
    return image;
  }

 private:
  static pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                     int closeFd) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      bool replaced = false;
      for (const auto& x : extraEnv)
        if (v.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
      if (!replaced) env.push_back(v);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp, argv;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> a = args;
    for (auto& v : a) argv.push_back(v.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (closeFd >= 0) posix_spawn_file_actions_addclose(&actions, closeFd);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
  }

  static void Stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = 0;
  }

  bool StartServer() {
    int fds[2];
    if (pipe(fds) != 0) return Fail("no pipe");
    // The server chooses a free display number itself and writes it to the pipe.
    const std::string size = std::to_string(m_width) + "x" + std::to_string(m_height) + "x24";
    m_serverPid = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", size,
                         "-nolisten", "tcp", "-br"},
                        {}, fds[0]);
    close(fds[1]);
    if (!m_serverPid) {
      close(fds[0]);
      return Fail("Xvfb cannot be started");
    }
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c = 0;
      if (read(fds[0], &c, 1) != 1) break;
      if (c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) return Fail("Xvfb gave no display number");
    m_name = ":" + number;
    // The session's own connection keeps the server from resetting between its clients.
    m_display = XOpenDisplay(m_name.c_str());
    return m_display ? true : Fail("the display " + m_name + " cannot be opened");
  }

  bool StartWindowManager(const std::string& home) {
    std::filesystem::create_directories(home + "/config");
    std::filesystem::create_directories(home + "/cache");
    m_wmPid = Spawn({"openbox", "--sm-disable"},
                    {"DISPLAY=" + m_name, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                     "XDG_CACHE_HOME=" + home + "/cache"},
                    -1);
    if (!m_wmPid) return Fail("openbox cannot be started");
    // Ready when it names itself on the root window and has said where the work area is.
    Atom check = XInternAtom(m_display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom workarea = XInternAtom(m_display, "_NET_WORKAREA", False);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (HasProperty(check) && HasProperty(workarea)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Fail("openbox did not start");
  }

  bool HasProperty(Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool has =
        XGetWindowProperty(m_display, DefaultRootWindow(m_display), property, 0, 4, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        type != None && count > 0;
    if (data) XFree(data);
    return has;
  }

  bool Fail(const std::string& why) {
    m_error = why;
    return false;
  }

  int m_width, m_height;
  bool m_ok = false;
  std::string m_error;
  std::string m_name;
  Display* m_display = nullptr;
  pid_t m_serverPid = 0;
  pid_t m_wmPid = 0;
};

}  // namespace setuptest
