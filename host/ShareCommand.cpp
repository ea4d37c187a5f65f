// morlane share IN OUT.html
// One page that shows the model in a browser (SharePage.h): the model tree exported as the
// workspace exports it, written as binary glTF into a private folder, and put with the WebGL
// library into the page.
#include "Command.h"
#include "SharePage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace morlane {

namespace {

namespace fs = std::filesystem;

// A private folder for the model's glTF, removed with what is in it.
class WorkFolder {
 public:
  WorkFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/morlane-share-XXXXXX";
    if (!::mkdtemp(templ.data()))
      throw Failure{"share: cannot make a temporary folder: " + std::string(std::strerror(errno))};
    m_path = templ;
  }
  ~WorkFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const fs::path& Path() const { return m_path; }

 private:
  fs::path m_path;
};

// The page's name is a plain file or nothing yet, in a folder that exists.
void CheckPageName(const std::string& path) {
  const fs::path p(path);
  fs::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw Failure{"cannot write " + path + ": the folder " + folder.string() + " does not exist"};
  if (::lstat(p.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode))
      throw Failure{"cannot write " + path + ": it is a symbolic link (not replaced)"};
    if (!S_ISREG(st.st_mode)) throw Failure{"cannot write " + path + ": it is not a plain file"};
  }
}

// Writes the page beside its name and renames it there: the name is the page whole or what it
// was before.
void WritePage(const std::string& path, const std::string& page) {
  CheckPageName(path);
  const fs::path p(path);
  fs::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  std::string templ = (folder / ".morlane-share-XXXXXX").string();
  const int fd = ::mkstemp(templ.data());
  if (fd < 0) throw Failure{"cannot write " + path + ": " + std::strerror(errno)};
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  std::size_t done = 0;
  while (done < page.size()) {
    const ssize_t n = ::write(fd, page.data() + done, page.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const int writeErrno = errno;
  const bool closed = ::close(fd) == 0;
  if (done != page.size() || !closed) {
    ::unlink(templ.c_str());
    throw Failure{"cannot write " + path + ": " +
                  std::strerror(done != page.size() ? writeErrno : errno)};
  }
  if (std::rename(templ.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(templ.c_str());
    throw Failure{"cannot write " + path + ": " + std::strerror(e)};
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) throw Failure{"share: the model's glTF cannot be read back"};
  return data;
}

// The largest model's glTF a page takes: kMaxPageModelBytes, or the positive number of bytes
// MORLANE_SHARE_MAX_MODEL_BYTES gives (the tests use it). A page from a quarter of it on opens
// slowly (the default: kLargePageModelBytes).
std::size_t PageModelLimit() {
  const char* text = std::getenv("MORLANE_SHARE_MAX_MODEL_BYTES");
  if (text && *text) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end && !*end && v > 0) return static_cast<std::size_t>(v);
  }
  return kMaxPageModelBytes;
}

std::string Megabytes(std::size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  return text;
}

}  // namespace

// share takes no options: both arguments are files, also a name that begins with '-'.
int RunShare(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"share wants IN OUT.html"};
  const std::string& out = args[1];
  const std::string ext = Lower(fs::path(out).extension().string());
  if (ext != ".html" && ext != ".htm")
    throw UsageError{"share writes a page (.html, .htm): " + out};
  const char* folder = std::getenv("MORLANE_THREE_DIR");
  const WebLibrary library = LoadWebLibrary(folder && *folder ? folder : kThreeDir);
  CheckPageName(out);
  Session session;
  auto root = session.Read(args[0]);
  QZ::ObjPtr<ICADContext> target = ExportContext(session, *root, args[0]);
  WorkFolder work;
  const fs::path glbPath = work.Path() / "model.glb";
  WriteMesh(*target, MeshFormat::Glb, glbPath.string());
  const std::string glb = ReadAll(glbPath);
  const std::size_t limit = PageModelLimit();
  if (glb.size() > limit)
    throw Failure{"cannot write " + out + ": the model's meshes take " + Megabytes(glb.size()) +
                  ", more than a page takes (" + Megabytes(limit) +
                  "); convert it to .glb instead"};
  if (glb.size() > limit / 4)
    std::fprintf(stderr, "morlane: share: the model's meshes take %s: the page opens slowly\n",
                 Megabytes(glb.size()).c_str());
  WritePage(out, SharePage(fs::path(args[0]).filename().string(), glb, library));
  return 0;
}

}  // namespace morlane
