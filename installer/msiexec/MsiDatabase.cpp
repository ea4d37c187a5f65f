#include "msiexec/MsiDatabase.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Text.h"

extern char** environ;

namespace Msi {

namespace {

constexpr std::size_t kOutputLimit = 64u << 20;  // a table larger than this is not a package's

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = line.find(separator, start);
    parts.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

std::wstring Cell(std::string text) {
  for (char& c : text) {
    if (c == '\x11')
      c = '\t';
    else if (c == '\x19')
      c = '\n';
    else if (c == '\x1b')
      c = '\r';
  }
  return platform::FromUtf8(text);
}

}  // namespace

int Table::Column(const std::wstring& name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

std::wstring Table::Cell(std::size_t row, const std::wstring& name) const {
  int c = Column(name);
  if (c < 0 || row >= rows.size() || static_cast<std::size_t>(c) >= rows[row].size()) return L"";
  return rows[row][c];
}

bool ParseExport(const std::string& text, Table& table) {
  table = Table{};
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (lines.size() < 3) return false;
  for (const auto& name : Split(lines[0], '\t')) table.columns.push_back(platform::FromUtf8(name));
  for (std::size_t i = 3; i < lines.size(); ++i) {
    if (lines[i].empty() && table.columns.size() > 1) continue;
    std::vector<std::wstring> row;
    for (auto& cell : Split(lines[i], '\t')) row.push_back(Msi::Cell(cell));
    row.resize(table.columns.size());
    table.rows.push_back(std::move(row));
  }
  return true;
}

bool RunHost(const std::vector<std::string>& argv, std::string& output) {
  output.clear();
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", 01 /*O_WRONLY*/, 0);
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    return false;
  }
  char buffer[8192];
  bool tooLong = false;
  while (true) {
    ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output.size() + static_cast<std::size_t>(got) > kOutputLimit) {
      tooLong = true;
      continue;  // drained, not kept
    }
    output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return !tooLong && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Database::Open(const std::string& hostPath, std::string& error) {
  m_path = hostPath;
  m_tables.clear();
  m_tableNames.clear();
  m_summary.clear();
  m_summaryRead = false;
  std::string out;
  if (!RunHost({"msiinfo", "tables", hostPath}, out)) {
    error = "msiinfo cannot read " + hostPath;
    return false;
  }
  for (auto& line : Split(out, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) m_tableNames.push_back(platform::FromUtf8(line));
  }
  return true;
}

const Table& Database::Get(const std::wstring& name) {
  auto found = m_tables.find(name);
  if (found != m_tables.end()) return found->second;
  Table& table = m_tables[name];
  bool present = false;
  for (const auto& n : m_tableNames) present = present || n == name;
  std::string out;
  if (present && RunHost({"msiinfo", "export", m_path, platform::ToUtf8(name)}, out))
    ParseExport(out, table);
  return table;
}

std::wstring Database::Summary(const std::wstring& field) {
  if (!m_summaryRead) {
    m_summaryRead = true;
    std::string out;
    if (RunHost({"msiinfo", "suminfo", m_path}, out))
      for (auto& line : Split(out, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t colon = line.find(": ");
        if (colon != std::string::npos)
          m_summary[platform::FromUtf8(line.substr(0, colon))] =
              platform::FromUtf8(line.substr(colon + 2));
      }
  }
  auto it = m_summary.find(field);
  return it == m_summary.end() ? L"" : it->second;
}

std::map<std::wstring, std::wstring> Database::Properties() {
  std::map<std::wstring, std::wstring> properties;
  const Table& t = Get(L"Property");
  for (std::size_t i = 0; i < t.rows.size(); ++i)
    properties[t.Cell(i, L"Property")] = t.Cell(i, L"Value");
  return properties;
}

bool Database::ExtractFiles(const std::string& hostFolder, std::vector<std::string>& files,
                            std::string& error) {
  files.clear();
  std::string out;
  if (!RunHost({"msiextract", "-C", hostFolder, m_path}, out)) {
    error = "msiextract cannot extract the files of " + m_path;
    return false;
  }
  for (auto& line : Split(out, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // What msiextract names lies below the folder; anything else is not taken.
    if (line.empty() || line[0] == '/' || line.find("..") != std::string::npos) continue;
    files.push_back(line);
  }
  return true;
}

}  // namespace Msi
