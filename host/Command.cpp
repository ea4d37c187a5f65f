#include "Command.h"

#include "model/ShaftRecognition.h"
#include "model/reader/ModelReader.h"
#include "xml/XmlText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace morlane {

namespace CAD = QZ::CAD;

std::vector<std::string> ParseOptions(const std::string& command,
                                      const std::vector<CommandOption>& options,
                                      const std::vector<std::string>& args) {
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto option = std::find_if(options.begin(), options.end(),
                                     [&](const CommandOption& o) { return a == o.name; });
    if (option != options.end() && (!option->takesValue || i + 1 < args.size())) {
      option->take(option->takesValue ? args[++i] : std::string());
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{command + ": unknown option " + a};
    } else {
      files.push_back(a);
    }
  }
  return files;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

FileKind KindOf(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return FileKind::Unknown;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "xml") return FileKind::Model;
  if (ext == "step" || ext == "stp") return FileKind::Step;
  if (ext == "iges" || ext == "igs") return FileKind::Iges;
  if (ext == "stl") return FileKind::Stl;
  return FileKind::Unknown;
}

bool WantsProgress(bool asked) { return asked || isatty(2) != 0; }

namespace {

// The file must be a readable regular file (a folder or a device is refused before any reader
// sees it).
void NeedReadableFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw Failure{path + ": " + std::strerror(errno)};
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (!regular) throw Failure{path + ": not a regular file"};
}

// Progress lines on the error stream while a model's solids are built: "morlane: building
// solids: 120 of 1000", about once a second (only when the building takes that long), and the
// last one when all are built.
class ProgressLines {
 public:
  explicit ProgressLines(bool on) : m_on(on) {}
  ~ProgressLines() {
    if (m_printed && m_tty) std::fprintf(stderr, "\n");
  }
  CBuildBatch::Progress Callback() {
    if (!m_on) return {};
    m_start = Clock::now();
    return [this](int done, int total) {
      const Clock::time_point now = Clock::now();
      if (now - m_start < std::chrono::seconds(1)) return true;  // quick work shows nothing
      if (done == m_lastDone) return true;
      if (m_printed && now - m_last < std::chrono::seconds(1) && done < total) return true;
      std::fprintf(stderr, "%smorlane: building solids: %d of %d%s", m_tty ? "\r" : "", done, total,
                   m_tty ? "" : "\n");
      std::fflush(stderr);
      m_printed = true;
      m_last = now;
      m_lastDone = done;
      return true;
    };
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool m_on;
  bool m_tty = isatty(2) != 0;
  bool m_printed = false;
  int m_lastDone = -1;
  Clock::time_point m_start, m_last;
};

}  // namespace

Session::Session() {
  if (m_library.Load() != CCadEngineLibrary::eLoaded)
    throw Failure{"cannot load the engine " + CCadEngineLibrary::DefaultPath() + ": " +
                  m_library.GetError()};
  // Build messages of single objects go to the error stream, the rest of the model is read.
  SetBuildErrorReporter([](const std::wstring& m) {
    std::fprintf(stderr, "morlane: %s\n", MorlaneText::ToUtf8(m).c_str());
  });
}

QZ::ObjPtr<ICADContext> Session::NewContext() {
  QZ::ObjPtr<ICADContext> ctx(m_library.GetTools()->NewContext());
  if (!ctx) throw Failure{"the engine gives no context"};
  return ctx;
}

std::shared_ptr<CNodeRoot> Session::Read(const std::string& path, bool recognise, bool progress) {
  const FileKind kind = KindOf(path);
  if (kind == FileKind::Unknown)
    throw Failure{path + ": unknown kind of file (.xml, .step, .stp, .iges, .igs, .stl)"};
  NeedReadableFile(path);
  m_context = NewContext();
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(m_context);
  if (kind == FileKind::Model) {
    ProgressLines lines(progress);
    const ModelReadResult read =
        ReadModelFile(MorlaneText::FromUtf8(path), root, nullptr, lines.Callback());
    // The reader's own reason, with the position of an XML fault: "a.xml: not well-formed XML
    // (line 4, column 3): ...", "a.xml: not a model file: its root element is Models".
    if (!read) throw Failure{OneLine(MorlaneText::ToUtf8(read.Text()))};
    return root;
  }
  bool read = false;
  const char* what = kind == FileKind::Step ? "STEP" : kind == FileKind::Iges ? "IGES" : "STL";
  if (kind == FileKind::Step) read = m_context->ImportSTEP(path.c_str());
  if (kind == FileKind::Iges) read = m_context->ImportIGES(path.c_str());
  if (kind == FileKind::Stl) read = m_context->ImportSTL(path.c_str());
  if (!read) {
    const char* why = m_context->GetLastErrorText();
    throw Failure{path + ": cannot be read as " + what + (why && *why ? ": " + OneLine(why) : "")};
  }
  // What the reader left out or repaired, a line each.
  for (int i = 0; i < m_context->GetWarningCount(); ++i)
    if (const char* warning = m_context->GetWarning(i))
      std::fprintf(stderr, "morlane: %s\n", OneLine(warning).c_str());
  QZ::ObjPtr<CAD::IAssembly> doc(m_context->GetAssembly());
  RecognitionList recognized;
  for (int i = 0; doc && i < doc->GetChildCount(); ++i) {
    QZ::ObjPtr<CAD::IItem> item(doc->GetChild(i));
    if (item) root->ImportItem(item.Get(), recognise ? &ShaftRecogniser() : nullptr, recognized);
  }
  return root;
}

std::string Session::OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  return s;
}

std::string Utf8(const std::wstring& s) { return MorlaneText::ToUtf8(s); }

void Leaves(CTreeObject& o, std::vector<CObject3D*>& out) {
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    for (const auto& child : node->GetChildren())
      if (child) Leaves(*child, out);
  } else if (auto* leaf = dynamic_cast<CObject3D*>(&o); leaf && leaf->GetShape()) {
    out.push_back(leaf);
  }
}

}  // namespace morlane
