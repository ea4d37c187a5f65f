#include "pack/Matrix.h"

#include "pack/PackageFiles.h"
#include "package/InstallTypes.h"
#include "package/ScriptVocabulary.h"
#include "package/Settings.h"
#include "package/XmlSettings.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Text.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace TlPack {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return std::string();
  const std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

bool IsId(const std::string& id) {
  if (id.empty() || id.size() > 32) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
  });
}

// machine.ini text with `values` ("section/key") put in: a key of a section is replaced where it
// stands, a new one goes at the end of its section, a new section at the end of the text.
std::string WithValues(const std::string& ini,
                       const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines;
  std::istringstream in(ini);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  for (const auto& [name, value] : values) {
    const std::size_t slash = name.find('/');
    const std::string section = Lower(name.substr(0, slash));
    const std::string key = Lower(name.substr(slash + 1));
    std::string current;
    std::size_t sectionEnd = std::string::npos;
    bool done = false;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
      const std::string t = Trim(lines[i]);
      if (!t.empty() && t[0] == '[') {
        if (current == section) sectionEnd = i;
        current = Lower(Trim(t.substr(1, t.find(']') - 1)));
        continue;
      }
      if (current != section || t.empty() || t[0] == ';' || t[0] == '#') continue;
      const std::size_t eq = t.find('=');
      if (eq != std::string::npos && Lower(Trim(t.substr(0, eq))) == key) {
        lines[i] = key + " = " + value;
        done = true;
      }
    }
    if (done) continue;
    if (current == section && sectionEnd == std::string::npos) sectionEnd = lines.size();
    if (sectionEnd != std::string::npos) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), key + " = " + value);
    } else {
      lines.push_back("[" + section + "]");
      lines.push_back(key + " = " + value);
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string Qualified(const std::string& key, const std::string& defaultSection) {
  return key.find('/') == std::string::npos && key.find('.') == std::string::npos
             ? defaultSection + "/" + key
             : [&] {
                 std::string k = key;
                 std::replace(k.begin(), k.end(), '.', '/');
                 return k;
               }();
}

std::string Hex4(int value) {
  std::ostringstream s;
  s << "0x" << std::hex << std::setw(4) << std::setfill('0') << value;
  return s.str();
}

// ---- the cell files ----

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

// ---- the report ----

std::string Html(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// XML 1.0 text: markup escaped, and the controls it cannot carry dropped.
std::string Xml(const std::string& s) {
  std::string out;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\n' && c != '\t' && c != '\r') continue;
    if (c == '\'')
      out += "&apos;";
    else if (c == '"' || c == '&' || c == '<' || c == '>')
      out += Html(std::string(1, c));
    else
      out += c;
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  static const char* const kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Seconds(double s) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << s;
  return out.str();
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// One line that says why a cell failed: the failed step with the first message box a person
// would have read (the installer's own reason, in the cell's language), else the first error of
// its run log, else its exit status.
std::string ReasonOf(const TestReport& report) {
  for (const StepReport& step : report.steps) {
    if (step.ok) continue;
    const std::string status = step.name + " (exit status " + std::to_string(step.exitCode) + "): ";
    for (const std::string& q : step.questions)
      if (q.rfind("Message box: ", 0) == 0) return status + FirstLine(q.substr(13));
    for (const std::string& line : step.logLines)
      if (line.find("  ERROR : ") != std::string::npos)
        return status + FirstLine(line.substr(line.find("  ERROR : ") + 10));
    return status + FirstLine(step.note);
  }
  if (!report.traces.empty())
    return std::to_string(report.traces.size()) +
           " traces left after the removal, the first: " + report.traces.front();
  return std::string();
}

std::string ReadText(const std::string& path) {
  std::string text;
  if (!platform::hostio::ReadFile(path, text)) return std::string();
  return text;
}

// "24 cells: 8 pass, 0 fail, 14 refused as designed, 2 do not apply" (and "1 could not be run").
std::string Summary(const std::vector<CellResult>& results) {
  std::size_t pass = 0, fail = 0, refused = 0, na = 0, error = 0;
  for (const CellResult& r : results) {
    pass += r.status == "pass";
    fail += r.status == "fail";
    refused += r.status == "refused";
    na += r.status == "n/a";
    error += r.status == "error";
  }
  std::string out = std::to_string(results.size()) + " cells: " + std::to_string(pass) + " pass, " +
                    std::to_string(fail) + " fail";
  if (refused) out += ", " + std::to_string(refused) + " refused as designed";
  if (na) out += ", " + std::to_string(na) + " do not apply";
  if (error) out += ", " + std::to_string(error) + " could not be run";
  return out;
}

// A cell that failed or could not be run (a refusal as designed counts as passed).
bool Failed(const CellResult& r) { return r.status == "fail" || r.status == "error"; }

// The first line of a script text ("\\n" in the script is a line break).
std::string FirstTextLine(const std::string& text) {
  return FirstLine(text.substr(0, text.find("\\n")));
}

// The run of a refused account: the installation ends with result 3 and the message "MsgRights"
// in the cell's language, and leaves nothing on the machine. "" when so, else why not.
std::string RefusalFault(const TestReport& report, const CellPlan& plan,
                         const std::string& language) {
  const std::string id = platform::ToUtf8(ScriptNames::Message::kRights);
  if (report.steps.empty() || report.steps.front().exitCode != 3)
    return "the account is not an elevated administrator, yet the installation did not end with "
           "the refusal (result 3): " +
           (report.steps.empty() ? std::string("it did not run")
                                 : report.steps.front().name + " (exit status " +
                                       std::to_string(report.steps.front().exitCode) + ")");
  const StepReport& install = report.steps.front();
  std::string shown;
  for (const std::string& q : install.questions)
    if (q.rfind("Message box: ", 0) == 0) {
      shown = q.substr(13);
      break;
    }
  const std::size_t arrow = shown.rfind(" -> ");
  const std::string text = FirstLine(arrow == std::string::npos ? shown : shown.substr(0, arrow));
  if (plan.refusalText.empty())
    return "the refusal shows the bare message ID \"" + id +
           "\": the script has no text of it in " + language;
  if (shown.empty()) return "the refusal (result 3) shows no message; \"" + id + "\" was expected";
  if (text.rfind(FirstTextLine(plan.refusalText), 0) != 0)
    return "the refusal shows \"" + text + "\", not the text of \"" + id + "\" in " + language;
  if (!report.traces.empty())
    return "the refusal left " + std::to_string(report.traces.size()) +
           " traces on the machine, the first: " + report.traces.front();
  return std::string();
}

// Pictures are kept in a report up to this many bytes each.
constexpr std::size_t kMaxPictureBytes = 4u << 20;

}  // namespace

Matrix DefaultMatrix() {
  Matrix m;
  m.systems = {
      {"xp",
       "Windows XP x86",
       {{"os/name", "Windows XP Professional"},
        {"os/major", "5"},
        {"os/minor", "1"},
        {"os/build", "2600"},
        {"os/architecture", "x86"},
        {"os/service_pack", "Service Pack 3"},
        {"os/display_version", ""},
        {"uac/enabled", "no"}}},
      {"win7",
       "Windows 7 x64",
       {{"os/name", "Windows 7 Professional"},
        {"os/major", "6"},
        {"os/minor", "1"},
        {"os/build", "7601"},
        {"os/architecture", "x64"},
        {"os/service_pack", "Service Pack 1"},
        {"os/display_version", ""}}},
      {"win10",
       "Windows 10 x64",
       {{"os/name", "Windows 10 Pro"},
        {"os/major", "10"},
        {"os/minor", "0"},
        {"os/build", "19045"},
        {"os/architecture", "x64"},
        {"os/display_version", "22H2"}}},
      {"win11",
       "Windows 11 x64",
       {{"os/name", "Windows 11 Pro"},
        {"os/major", "10"},
        {"os/minor", "0"},
        {"os/build", "22631"},
        {"os/architecture", "x64"},
        {"os/display_version", "23H2"}}},
  };
  m.accounts = {
      {"admin",
       "administrator, elevated",
       {{"user/memberships", "Administrators, Users"}, {"user/elevated", "yes"}}},
      {"limited",
       "administrator under UAC, not elevated",
       {{"user/memberships", "Administrators, Users"}, {"user/elevated", "no"}}},
      {"standard", "standard user", {{"user/memberships", "Users"}, {"user/elevated", "no"}}},
  };
  return m;
}

Matrix ReadMatrix(const std::string& text, const std::string& fileName) {
  Matrix m;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  enum class Kind { None, System, Account, Languages } kind = Kind::None;
  std::set<std::string> seen;
  auto fail = [&](const std::string& why) {
    throw std::runtime_error(fileName + ", line " + std::to_string(lineNo) + ": " + why);
  };
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t[0] == '[') {
      if (t.back() != ']') fail("a section header must end with \"]\"");
      std::istringstream head(t.substr(1, t.size() - 2));
      std::string word, id, more;
      head >> word >> id >> more;
      word = Lower(word);
      if (!more.empty()) fail("a section has one word and an id at most");
      if (word == "languages") {
        if (!id.empty()) fail("[languages] takes no id");
        kind = Kind::Languages;
        continue;
      }
      if (word != "system" && word != "account")
        fail("unknown section \"" + word + "\" (system, account or languages)");
      if (!IsId(id)) fail("a " + word + " needs an id of letters, digits, '_' or '.'");
      if (!seen.insert(word + " " + Lower(id)).second) fail(word + " " + id + " is given twice");
      kind = word == "system" ? Kind::System : Kind::Account;
      if (kind == Kind::System)
        m.systems.push_back({id, id, {}});
      else
        m.accounts.push_back({id, id, {}});
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) fail("expected \"key = value\" or a section header");
    const std::string key = Lower(Trim(t.substr(0, eq)));
    const std::string value = Trim(t.substr(eq + 1));
    if (key.empty()) fail("a value without a key");
    if (kind == Kind::None) fail("a value outside any section");
    if (kind == Kind::Languages) {
      if (key != "only") fail("[languages] takes \"only = ID, ...\"");
      std::istringstream list(value);
      for (std::string item; std::getline(list, item, ',');)
        if (!Trim(item).empty()) m.languages.push_back(Trim(item));
      continue;
    }
    auto& title = kind == Kind::System ? m.systems.back().title : m.accounts.back().title;
    auto& values = kind == Kind::System ? m.systems.back().values : m.accounts.back().values;
    if (key == "title") {
      title = value;
      continue;
    }
    values.emplace_back(Qualified(key, kind == Kind::System ? "os" : "user"), value);
  }
  const Matrix defaults = DefaultMatrix();
  if (m.systems.empty()) m.systems = defaults.systems;
  if (m.accounts.empty()) m.accounts = defaults.accounts;
  return m;
}

std::pair<unsigned, unsigned> CodePagesOf(int lcid) {
  switch (lcid & 0x3FF) {
    case 0x19:  // Russian
    case 0x22:  // Ukrainian
    case 0x23:  // Belarusian
    case 0x02:  // Bulgarian
      return {1251, 866};
    case 0x05:  // Czech
    case 0x0E:  // Hungarian
    case 0x15:  // Polish
    case 0x18:  // Romanian
    case 0x1A:  // Croatian
    case 0x1B:  // Slovak
    case 0x24:  // Slovenian
      return {1250, 437};
    case 0x1F:  // Turkish
      return {1254, 437};
    default: return {1252, 437};
  }
}

bool MaySetUpSoftware(const std::string& machineIni) {
  try {
    const platform::Token token =
        platform::MakeUserToken(platform::MachineConfig::Parse(machineIni));
    // The rights check: the running token is a member of Administrators and, where Windows
    // knows integrity levels, runs at the high level (or the system's).
    return token.IsMember(platform::BuiltinAdministratorsSid()) &&
           (!token.hasElevation || token.integrity >= platform::SECURITY_MANDATORY_HIGH_RID);
  } catch (const std::exception&) {
    return false;
  }
}

CellPlan PlanCell(const std::string& script, int languageId, const std::string& machineIni) {
  using CommonTools::SettingsNodePtr;
  namespace E = ScriptNames::Element;
  namespace A = ScriptNames::Attribute;
  CellPlan plan;
  CommonTools::CXmlSettings doc;
  SettingsNodePtr root;
  if (!doc.LoadFromBytes(script) || !doc.GetRoot(root) || !root)
    throw std::runtime_error("the package's script cannot be read");
  auto child = [](const SettingsNodePtr& node, const std::wstring& name) {
    SettingsNodePtr c;
    try {
      if (node && node->GetChild(name, c)) return c;
    } catch (const std::exception&) {}
    return SettingsNodePtr();
  };
  // The cell's language section.
  SettingsNodePtr language;
  CommonTools::SettingsNodeListPtr list;
  const SettingsNodePtr localization = child(root, E::kLocalization);
  if (localization && localization->GetChildren(list))
    for (int i = 0, n = list->GetCount(); i < n && !language; ++i) {
      SettingsNodePtr item;
      if (!list->GetItem(i, item) || !item) continue;
      try {
        if (CommonTools::GetInt(item, A::kId, -1) == languageId) language = item;
      } catch (const std::exception&) {}
    }
  // A page or a control of DIALOGS is shown unless its "Show" hides it.
  auto shown = [&](const SettingsNodePtr& node) {
    if (!node) return true;
    const std::wstring show = CommonTools::GetText(node, A::kShow, L"Y");
    return show.empty() || !platform::EqualsNoCase(show, ScriptNames::Value::kHide);
  };

  plan.refused = !MaySetUpSoftware(machineIni);
  if (const SettingsNodePtr rights =
          child(child(language, E::kMessages), ScriptNames::Message::kRights))
    plan.refusalText = platform::ToUtf8(CommonTools::GetText(rights, A::kCaption));
  if (plan.refused) return plan;

  // The script's own type (a name the installer does not know is none: -1).
  const int scriptType =
      InstallManager::InstallTypeFromName(CommonTools::GetText(root, A::kInstallType));
  const std::string clientReason =
      "a client installs from the shared folder of a server on another computer: one machine "
      "alone cannot hold both";
  auto typeOf = [&](int type, const std::string& answer) {
    CellPlan::Type t;
    t.name = Lower(platform::ToUtf8(InstallManager::InstallTypeLogName(type)));
    t.answer = answer;
    if (type == InstallManager::kClient) t.notApplicable = clientReason;
    return t;
  };
  const SettingsNodePtr page = child(child(root, E::kDialogs), ScriptNames::Page::kInstallType);
  if (scriptType != InstallManager::kInstall || !shown(page)) {
    // Without the page the run installs the script's own type.
    plan.types.push_back(typeOf(scriptType, ""));
    return plan;
  }
  if (!child(language, ScriptNames::Page::kInstallType)) {
    // The page lacks its texts in this language: the run installs locally without it.
    plan.types.push_back(typeOf(InstallManager::kLocal, ""));
    return plan;
  }
  // The rows of the page: a kind the script cannot install is not offered, a row its switch
  // hides neither. The server row needs the share probe, which an elevated administrator passes.
  const SettingsNodePtr clientNode = child(root, E::kClient);
  const SettingsNodePtr exec = child(clientNode, E::kExec);
  const bool clientPackage = exec && (!CommonTools::GetText(exec, A::kPath).empty() ||
                                      !CommonTools::GetText(exec, A::kMsgKey).empty());
  if (child(root, E::kServer) && shown(child(page, L"TYPE_SERVER")))
    plan.types.push_back(typeOf(InstallManager::kServer, "Server"));
  if (shown(child(page, L"TYPE_LOCAL")))
    plan.types.push_back(typeOf(InstallManager::kLocal, "Local"));
  if (clientNode && clientPackage && shown(child(page, L"TYPE_CLIENT")))
    plan.types.push_back(typeOf(InstallManager::kClient, "Client"));
  // A page without a row to choose: the run shows what the author's answers make of it.
  if (plan.types.empty()) plan.types.push_back({"none", "", ""});
  return plan;
}

std::vector<MatrixCell> CellsOf(const Matrix& matrix,
                                const std::vector<ScriptLanguage>& languages) {
  std::vector<ScriptLanguage> chosen;
  if (matrix.languages.empty()) {
    chosen = languages;
  } else {
    for (const std::string& wanted : matrix.languages) {
      auto it = std::find_if(languages.begin(), languages.end(), [&](const ScriptLanguage& l) {
        return std::to_string(l.id) == wanted ||
               platform::EqualsNoCase(l.systemName, platform::FromUtf8(wanted));
      });
      if (it == languages.end())
        throw std::runtime_error("the matrix names the language " + wanted +
                                 ", which the script does not have");
      chosen.push_back(*it);
    }
  }
  if (chosen.empty()) throw std::runtime_error("the script has no language to test");
  const std::string defaults = platform::MachineConfig::Defaults().ToIni();
  std::vector<MatrixCell> cells;
  for (const MatrixSystem& system : matrix.systems)
    for (const MatrixAccount& account : matrix.accounts)
      for (const ScriptLanguage& language : chosen) {
        MatrixCell cell{system, account, language, {}, {}, {}};
        cell.id = system.id + "-" + account.id + "-" + std::to_string(language.id);
        const auto [ansi, oem] = CodePagesOf(language.id);
        std::vector<std::pair<std::string, std::string>> values = system.values;
        values.insert(values.end(), account.values.begin(), account.values.end());
        for (const char* key :
             {"locale/system_language", "locale/user_language", "locale/ui_language"})
          values.emplace_back(key, Hex4(language.id));
        values.emplace_back("locale/ansi_code_page", std::to_string(ansi));
        values.emplace_back("locale/oem_code_page", std::to_string(oem));
        const std::string text = WithValues(defaults, values);
        platform::MachineConfig config;
        try {
          config = platform::MachineConfig::Parse(text, system.id + " with " + account.id);
        } catch (const platform::MachineError& e) {
          throw std::runtime_error(std::string("the matrix does not make a machine: ") + e.what());
        }
        const bool administrator = std::any_of(
            config.memberships.begin(), config.memberships.end(),
            [](const std::wstring& g) { return platform::EqualsNoCase(g, L"Administrators"); });
        if (administrator && !config.elevated && !config.uacEnabled)
          cell.notApplicable = system.title + " has no UAC: an administrator always runs elevated";
        else
          cell.machine = text;
        cells.push_back(std::move(cell));
      }
  return cells;
}

std::string CellResultText(const CellResult& r) {
  std::ostringstream out;
  out << "cell\t" << Escape(r.id) << "\nsystem\t" << Escape(r.system) << "\naccount\t"
      << Escape(r.account) << "\nlanguage\t" << Escape(r.language) << "\nstatus\t"
      << Escape(r.status) << "\nreason\t" << Escape(r.reason) << "\nseconds\t" << Seconds(r.seconds)
      << "\n";
  auto run = [&](const std::vector<StepReport>& steps, const std::vector<std::string>& traces,
                 const std::vector<std::string>& kept) {
    for (const StepReport& s : steps) {
      out << "step\t" << Escape(s.name) << "\t" << s.exitCode << "\t" << (s.ok ? 1 : 0) << "\t"
          << Seconds(s.seconds) << "\t" << Escape(s.note) << "\n";
      for (const std::string& l : s.logLines) out << "log\t" << Escape(l) << "\n";
      for (const std::string& q : s.questions) out << "question\t" << Escape(q) << "\n";
      for (const std::string& p : s.screenshots) out << "picture\t" << Escape(p) << "\n";
    }
    for (const std::string& t : traces) out << "trace\t" << Escape(t) << "\n";
    for (const std::string& k : kept) out << "kept\t" << Escape(k) << "\n";
  };
  run(r.steps, r.traces, r.kept);
  // A type's lines follow its own line, up to the next type.
  for (const TypeResult& t : r.types) {
    out << "type\t" << Escape(t.name) << "\t" << Escape(t.status) << "\t" << Seconds(t.seconds)
        << "\t" << Escape(t.reason) << "\n";
    run(t.steps, t.traces, t.kept);
  }
  return out.str();
}

CellResult ParseCellResult(const std::string& text) {
  CellResult r;
  std::istringstream in(text);
  std::string line;
  std::vector<StepReport>* steps = &r.steps;
  std::vector<std::string>* traces = &r.traces;
  std::vector<std::string>* kept = &r.kept;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      f.push_back(Unescape(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (f.size() < 2) continue;
    const std::string& k = f[0];
    if (k == "cell")
      r.id = f[1];
    else if (k == "system")
      r.system = f[1];
    else if (k == "account")
      r.account = f[1];
    else if (k == "language")
      r.language = f[1];
    else if (k == "status")
      r.status = f[1];
    else if (k == "reason")
      r.reason = f[1];
    else if (k == "seconds")
      r.seconds = std::atof(f[1].c_str());
    else if (k == "type" && f.size() >= 5) {
      TypeResult t;
      t.name = f[1];
      t.status = f[2];
      t.seconds = std::atof(f[3].c_str());
      t.reason = f[4];
      r.types.push_back(std::move(t));
      steps = &r.types.back().steps;
      traces = &r.types.back().traces;
      kept = &r.types.back().kept;
    } else if (k == "step" && f.size() >= 6) {
      StepReport s;
      s.name = f[1];
      s.exitCode = std::atoi(f[2].c_str());
      s.ok = f[3] == "1";
      s.seconds = std::atof(f[4].c_str());
      s.note = f[5];
      steps->push_back(s);
    } else if (k == "log" && !steps->empty())
      steps->back().logLines.push_back(f[1]);
    else if (k == "question" && !steps->empty())
      steps->back().questions.push_back(f[1]);
    else if (k == "picture" && !steps->empty())
      steps->back().screenshots.push_back(f[1]);
    else if (k == "trace")
      traces->push_back(f[1]);
    else if (k == "kept")
      kept->push_back(f[1]);
  }
  if (r.id.empty() || r.status.empty()) throw std::runtime_error("not a cell result");
  return r;
}

void RunCell(const TestOptions& base, const MatrixCell& cell, const std::string& resultFile,
             bool screenshots) {
  CellResult r;
  r.id = cell.id;
  r.system = cell.system.title;
  r.account = cell.account.title;
  r.language = platform::ToUtf8(cell.language.title);
  const auto start = std::chrono::steady_clock::now();
  const fs::path folder = fs::path(resultFile).parent_path().parent_path();
  // Pictures are named from the report's folder, so that the folder can move.
  auto relative = [&](std::vector<StepReport>& steps) {
    for (StepReport& s : steps)
      for (std::string& p : s.screenshots) p = fs::relative(p, folder).string();
  };
  if (!cell.notApplicable.empty()) {
    r.status = "n/a";
    r.reason = cell.notApplicable;
  } else {
    try {
      std::string script;
      {
        ToolMachine machine;
        std::wstring error;
        if (!ReadArchiveEntry(platform::FromUtf8(fs::absolute(base.package).string()),
                              ScriptNames::kScriptFile, script, error))
          throw std::runtime_error(base.package + ": " + platform::ToUtf8(error));
      }
      const CellPlan plan = PlanCell(script, cell.language.id, cell.machine);
      TestOptions options = base;
      options.machineIni = cell.machine;
      if (plan.refused) {
        // One installation: the refusal comes before anything else, whatever the type.
        options.screenshots =
            screenshots ? (folder / "pictures" / cell.id).string() : std::string();
        TestReport report = RunPackageTest(options);
        const std::string fault = RefusalFault(report, plan, r.language);
        r.status = fault.empty() ? "refused" : "fail";
        r.reason =
            fault.empty() ? "refused as designed: " + FirstTextLine(plan.refusalText) : fault;
        r.steps = report.steps;
        r.traces = report.traces;
        r.kept = report.kept;
        relative(r.steps);
      } else {
        // Every type in a fresh machine of its own, so that no type sees another's traces.
        for (const CellPlan::Type& type : plan.types) {
          TypeResult t;
          t.name = type.name;
          if (!type.notApplicable.empty()) {
            t.status = "n/a";
            t.reason = type.notApplicable;
            r.types.push_back(t);
            continue;
          }
          const auto typeStart = std::chrono::steady_clock::now();
          options.installType = type.answer;
          options.screenshots =
              screenshots ? (folder / "pictures" / cell.id / type.name).string() : std::string();
          TestReport report = RunPackageTest(options);
          t.status = report.Passed() ? "pass" : "fail";
          t.reason = report.Passed() ? std::string() : ReasonOf(report);
          t.steps = report.steps;
          t.traces = report.traces;
          t.kept = report.kept;
          relative(t.steps);
          t.seconds =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - typeStart).count();
          r.types.push_back(std::move(t));
        }
        auto failed = std::find_if(r.types.begin(), r.types.end(),
                                   [](const TypeResult& t) { return t.status == "fail"; });
        const bool ran = std::any_of(r.types.begin(), r.types.end(),
                                     [](const TypeResult& t) { return t.status == "pass"; });
        if (failed != r.types.end()) {
          r.status = "fail";
          r.reason = failed->name + ": " + failed->reason;
        } else if (ran) {
          r.status = "pass";
        } else {
          r.status = "n/a";
          r.reason = r.types.empty() ? "the install-type page offers no type"
                                     : r.types.front().name + ": " + r.types.front().reason;
        }
      }
    } catch (const std::exception& e) {
      r.status = "error";
      r.reason = e.what();
    }
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!platform::hostio::WriteFileAtomic(resultFile, CellResultText(r)))
    throw std::runtime_error(resultFile + " cannot be written");
}

int RunMatrix(const MatrixOptions& options, std::ostream& out) {
  if (!fs::is_regular_file(options.package))
    throw std::runtime_error(options.package + " is not a package archive");
  std::string script;
  std::wstring error;
  std::vector<ScriptLanguage> languages;
  {
    ToolMachine machine;
    if (!ReadArchiveEntry(platform::FromUtf8(fs::absolute(options.package).string()),
                          L"InstallScript.cfg", script, error))
      throw std::runtime_error(options.package + ": " + platform::ToUtf8(error));
    languages = ScriptLanguages(script);
  }
  Matrix matrix = DefaultMatrix();
  if (!options.matrixFile.empty()) {
    std::string text;
    if (!platform::hostio::ReadFile(options.matrixFile, text))
      throw std::runtime_error(options.matrixFile + " cannot be read");
    matrix = ReadMatrix(text, options.matrixFile);
  }
  std::vector<MatrixCell> all = CellsOf(matrix, languages);
  std::vector<MatrixCell> cells;
  for (std::size_t k = 0; k < all.size(); ++k)
    if (static_cast<int>(k % static_cast<std::size_t>(options.shardCount)) ==
        options.shardIndex - 1)
      cells.push_back(all[k]);

  const fs::path folder = fs::absolute(options.out.empty() ? "tlpack-report" : options.out);
  std::error_code ec;
  fs::create_directories(folder / "cells", ec);
  fs::create_directories(folder / "machines", ec);
  if (ec) throw std::runtime_error(folder.string() + " cannot be made: " + ec.message());

  struct Running {
    pid_t pid;
    std::size_t index;
  };
  std::vector<Running> running;
  std::vector<CellResult> results(cells.size());
  std::size_t next = 0, done = 0;
  const std::string package = fs::absolute(options.package).string();
  auto start = [&](std::size_t index) {
    const MatrixCell& cell = cells[index];
    const std::string machineFile = (folder / "machines" / (cell.id + ".ini")).string();
    platform::hostio::WriteFileAtomic(machineFile, cell.machine);
    std::vector<std::string> args = {options.self,
                                     "test",
                                     package,
                                     "--cell",
                                     machineFile,
                                     "--result",
                                     (folder / "cells" / (cell.id + ".cell")).string()};
    if (!options.answers.empty()) args.insert(args.end(), {"--answers", options.answers});
    if (!options.previous.empty()) args.insert(args.end(), {"--previous", options.previous});
    if (options.screenshots) args.push_back("--screenshots");
    args.insert(args.end(),
                {"--cell-titles", cell.id, cell.system.title, cell.account.title,
                 platform::ToUtf8(cell.language.title), std::to_string(cell.language.id)});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const std::string err = (folder / "cells" / (cell.id + ".stderr")).string();
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, options.self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error(options.self + " cannot be started");
    running.push_back({pid, index});
  };
  const int jobs = std::max(1, options.jobs);
  auto report = [&](std::size_t index) {
    const CellResult& r = results[index];
    out << "[" << std::setw(3) << done << "/" << cells.size() << "] " << std::left << std::setw(28)
        << r.id << std::right << " " << r.status << ", " << Seconds(r.seconds) << " s";
    if (!r.types.empty()) {
      out << " (";
      for (std::size_t k = 0; k < r.types.size(); ++k)
        out << (k ? ", " : "") << r.types[k].name << " " << r.types[k].status;
      out << ")";
    }
    out << (r.reason.empty() ? std::string() : ": " + r.reason) << "\n";
    out.flush();
  };
  while (done < cells.size()) {
    while (running.size() < static_cast<std::size_t>(jobs) && next < cells.size()) {
      const MatrixCell& cell = cells[next];
      if (cell.notApplicable.empty()) {
        start(next++);
        continue;
      }
      // A cell that does not apply is not run: its result is known.
      CellResult& r = results[next];
      r.id = cell.id;
      r.system = cell.system.title;
      r.account = cell.account.title;
      r.language = platform::ToUtf8(cell.language.title);
      r.status = "n/a";
      r.reason = cell.notApplicable;
      platform::hostio::WriteFileAtomic((folder / "cells" / (cell.id + ".cell")).string(),
                                        CellResultText(r));
      ++done;
      report(next++);
    }
    if (running.empty()) continue;
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) throw std::runtime_error("a cell's process is lost");
    auto it = std::find_if(running.begin(), running.end(),
                           [&](const Running& r) { return r.pid == pid; });
    if (it == running.end()) continue;
    const std::size_t index = it->index;
    running.erase(it);
    ++done;
    const MatrixCell& cell = cells[index];
    const std::string cellFile = (folder / "cells" / (cell.id + ".cell")).string();
    const std::string errFile = (folder / "cells" / (cell.id + ".stderr")).string();
    CellResult& r = results[index];
    try {
      r = ParseCellResult(ReadText(cellFile));
    } catch (const std::exception&) {
      r = CellResult();
      r.id = cell.id;
      r.system = cell.system.title;
      r.account = cell.account.title;
      r.language = platform::ToUtf8(cell.language.title);
      r.status = "error";
      std::string why = Trim(ReadText(errFile));
      r.reason = why.empty() ? "the cell's process ended without a result" : why;
      platform::hostio::WriteFileAtomic(cellFile, CellResultText(r));
    }
    fs::remove(errFile, ec);
    report(index);
  }
  fs::remove_all(folder / "machines", ec);
  // The report is named after the product, as the script names it, and the archive.
  std::string product;
  {
    CommonTools::CXmlSettings doc;
    CommonTools::SettingsNodePtr root;
    if (doc.LoadFromBytes(script) && doc.GetRoot(root) && root)
      product = platform::ToUtf8(CommonTools::GetText(root, ScriptNames::Attribute::kName));
  }
  const std::string archive = fs::path(options.package).filename().string();
  WriteReports(results, product.empty() ? archive : product + " (" + archive + ")",
               folder.string());
  const auto failed = std::count_if(results.begin(), results.end(), Failed);
  out << Summary(results) << "; " << (folder / "report.html").string() << "\n";
  return failed ? 1 : 0;
}

void WriteReports(const std::vector<CellResult>& results, const std::string& title,
                  const std::string& folderName) {
  const fs::path folder(folderName);
  // junit.xml: a suite per system and account, a case per language and installation type (a
  // case per language where the cell ran no types: a refusal, a cell that does not apply).
  {
    struct Case {
      std::string classname, name, status, reason, details;
      double seconds = 0;
    };
    auto detailsOf = [](const std::vector<StepReport>& steps,
                        const std::vector<std::string>& traces) {
      std::string details;
      for (const StepReport& st : steps) {
        details += st.name + ": " + (st.ok ? "ok" : "FAILED") + ", exit status " +
                   std::to_string(st.exitCode) + "\n";
        for (const std::string& q : st.questions)
          if (q.rfind("Message box: ", 0) == 0) details += "  " + q + "\n";
        for (const std::string& l : st.logLines) details += "  " + l + "\n";
      }
      for (const std::string& tr : traces) details += tr + "\n";
      return details;
    };
    std::map<std::string, std::vector<Case>> suites;
    std::vector<std::string> order;
    for (const CellResult& r : results) {
      const std::string suite = r.system + " / " + r.account;
      if (!suites.count(suite)) order.push_back(suite);
      const std::string classname = r.id.substr(0, r.id.rfind('-'));
      std::vector<Case>& cases = suites[suite];
      if (r.types.empty()) {
        std::string details = detailsOf(r.steps, r.traces);
        if (r.status == "refused") details = r.reason + "\n" + details;
        cases.push_back({classname, r.language, r.status, r.reason, details, r.seconds});
      }
      for (const TypeResult& t : r.types)
        cases.push_back({classname, r.language + " / " + t.name, t.status, t.reason,
                         detailsOf(t.steps, t.traces), t.seconds});
    }
    auto failure = [](const Case& c) { return c.status == "fail"; };
    auto error = [](const Case& c) { return c.status == "error"; };
    auto skipped = [](const Case& c) { return c.status == "n/a"; };
    std::ostringstream x;
    std::size_t tests = 0, failures = 0, errors = 0, skips = 0;
    double total = 0;
    for (const auto& [name, cases] : suites)
      for (const Case& c : cases) {
        ++tests;
        failures += failure(c);
        errors += error(c);
        skips += skipped(c);
        total += c.seconds;
      }
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" << Xml(title)
      << "\" tests=\"" << tests << "\" failures=\"" << failures << "\" errors=\"" << errors
      << "\" skipped=\"" << skips << "\" time=\"" << Seconds(total) << "\">\n";
    for (const std::string& name : order) {
      const auto& cases = suites[name];
      std::size_t f = 0, e = 0, k = 0;
      double t = 0;
      for (const Case& c : cases) {
        f += failure(c);
        e += error(c);
        k += skipped(c);
        t += c.seconds;
      }
      x << "  <testsuite name=\"" << Xml(name) << "\" tests=\"" << cases.size() << "\" failures=\""
        << f << "\" errors=\"" << e << "\" skipped=\"" << k << "\" time=\"" << Seconds(t)
        << "\">\n";
      for (const Case& c : cases) {
        x << "    <testcase classname=\"" << Xml(c.classname) << "\" name=\"" << Xml(c.name)
          << "\" time=\"" << Seconds(c.seconds) << "\">\n";
        if (failure(c))
          x << "      <failure message=\"" << Xml(c.reason) << "\">" << Xml(c.details)
            << "</failure>\n";
        else if (error(c))
          x << "      <error message=\"" << Xml(c.reason) << "\"/>\n";
        else if (skipped(c))
          x << "      <skipped message=\"" << Xml(c.reason) << "\"/>\n";
        else if (!c.details.empty())
          x << "      <system-out>" << Xml(c.details) << "</system-out>\n";
        x << "    </testcase>\n";
      }
      x << "  </testsuite>\n";
    }
    x << "</testsuites>\n";
    if (!platform::hostio::WriteFileAtomic((folder / "junit.xml").string(), x.str()))
      throw std::runtime_error((folder / "junit.xml").string() + " cannot be written");
  }

  // report.html: the matrix as a table (a row per system and account, a column per language),
  // and under it each cell's steps, log lines, traces and pictures; a cell's link opens its part.
  std::vector<std::string> languages, rows;
  for (const CellResult& r : results) {
    if (std::find(languages.begin(), languages.end(), r.language) == languages.end())
      languages.push_back(r.language);
    const std::string row = r.system + "\n" + r.account;
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
  }
  std::ostringstream h;
  std::size_t passed = 0, refused = 0;
  for (const CellResult& r : results) {
    passed += r.status == "pass";
    refused += r.status == "refused";
  }
  h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << Html(title)
    << ": package test matrix</title>\n<style>\n"
    << "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
    << "table.matrix{border-collapse:collapse;margin:1em 0}\n"
    << ".matrix th,.matrix td{border:1px solid #999;padding:.4em .8em;text-align:left}\n"
    << ".matrix td a{display:block;color:inherit;text-decoration:none;font-weight:bold}\n"
    << "td.pass{background:#b7e4b0}td.fail{background:#f4a6a0}td.error{background:#f6d28b}\n"
    << "td.na{background:#ddd;color:#666}td.refused{background:#b8d4f0}\n"
    << ".matrix td small{display:block;font-weight:normal;font-size:80%}\n"
    << "details.type{margin:.6em 0;border-left:4px solid #999;padding-left:.6em}\n"
    << "details.type.pass{border-color:#5a9e50}details.type.fail{border-color:#d0574d}\n"
    << "summary{cursor:pointer;font-weight:bold}\n"
    << ".cell{display:none;border-top:2px solid #999;margin-top:1em;padding-top:.5em}\n"
    << ".cell:target{display:block}\n"
    << "pre{background:#f4f4f4;padding:.5em;overflow-x:auto;font-size:90%}\n"
    << ".shots{display:flex;flex-wrap:wrap;gap:8px}.shots figure{margin:0}\n"
    << ".shots img{max-width:420px;border:1px solid #999}\n"
    << "figcaption{font-size:80%;color:#555}\n</style></head><body>\n"
    << "<h1>" << Html(title) << "</h1>\n<p>" << passed << " of " << results.size() << " cells pass"
    << (refused ? ", " + std::to_string(refused) +
                      " are refused as designed (Setup lets only an elevated administrator set "
                      "up software)"
                : std::string())
    << ". A cell opens its installation types, each with its steps, log lines, what was left "
       "behind and the pictures of its pages.</p>\n"
    << "<table class=\"matrix\"><tr><th>Windows</th><th>account</th>";
  for (const std::string& l : languages) h << "<th>" << Html(l) << "</th>";
  h << "</tr>\n";
  for (const std::string& row : rows) {
    const std::string system = row.substr(0, row.find('\n'));
    const std::string account = row.substr(row.find('\n') + 1);
    h << "<tr><th>" << Html(system) << "</th><th>" << Html(account) << "</th>";
    for (const std::string& l : languages) {
      auto it = std::find_if(results.begin(), results.end(), [&](const CellResult& r) {
        return r.system == system && r.account == account && r.language == l;
      });
      if (it == results.end()) {
        h << "<td></td>";
        continue;
      }
      const std::string css = it->status == "n/a" ? "na" : it->status;
      const std::string label = it->status == "refused" ? "refused as designed" : it->status;
      std::string types;
      for (const TypeResult& t : it->types)
        types += (types.empty() ? "" : ", ") + t.name + " " + t.status;
      h << "<td class=\"" << css << "\" title=\"" << Html(it->reason) << "\"><a href=\"#"
        << Html(it->id) << "\">" << Html(label)
        << (types.empty() ? std::string() : "<small>" + Html(types) + "</small>") << "</a></td>";
    }
    h << "</tr>\n";
  }
  h << "</table>\n";
  // The steps of one run (a type, or a refused account's installation) and what it left.
  auto run = [&](const std::vector<StepReport>& steps, const std::vector<std::string>& traces,
                 const char* heading) {
    for (const StepReport& s : steps) {
      h << "<" << heading << ">" << Html(s.name) << ": " << (s.ok ? "ok" : "FAILED")
        << ", exit status " << s.exitCode << ", " << Seconds(s.seconds) << " s</" << heading
        << ">\n";
      if (!s.note.empty()) h << "<p>" << Html(s.note) << "</p>\n";
      if (!s.questions.empty()) {
        h << "<ul class=\"questions\">";
        for (const std::string& q : s.questions) h << "<li>" << Html(q) << "</li>";
        h << "</ul>\n";
      }
      if (!s.logLines.empty()) {
        h << "<pre>";
        for (const std::string& l : s.logLines) h << Html(l) << "\n";
        h << "</pre>\n";
      }
      if (!s.screenshots.empty()) {
        h << "<div class=\"shots\">";
        for (const std::string& p : s.screenshots) {
          const fs::path picture = fs::path(p).is_absolute() ? fs::path(p) : folder / p;
          std::string bytes;
          std::error_code ec;
          if (fs::file_size(picture, ec) > kMaxPictureBytes || ec ||
              !platform::hostio::ReadFile(picture.string(), bytes))
            continue;
          h << "<figure><img alt=\"" << Html(picture.filename().string())
            << "\" src=\"data:image/png;base64," << Base64(bytes) << "\"><figcaption>"
            << Html(picture.filename().string()) << "</figcaption></figure>";
        }
        h << "</div>\n";
      }
    }
    h << "<" << heading << ">left behind after the removal</" << heading << ">\n<pre>";
    for (const std::string& t : traces) h << Html(t) << "\n";
    if (traces.empty()) h << (steps.empty() ? "not run" : "nothing of the product") << "\n";
    h << "</pre>\n";
  };
  for (const CellResult& r : results) {
    const std::string label = r.status == "refused" ? "refused as designed" : r.status;
    h << "<section class=\"cell\" id=\"" << Html(r.id) << "\"><h2>" << Html(r.system) << ", "
      << Html(r.account) << ", " << Html(r.language) << ": " << Html(label) << "</h2>\n";
    if (!r.reason.empty()) h << "<p>" << Html(r.reason) << "</p>\n";
    if (r.types.empty() || !r.steps.empty()) run(r.steps, r.traces, "h3");
    for (const TypeResult& t : r.types) {
      h << "<details class=\"type " << Html(t.status == "n/a" ? "na" : t.status) << "\" id=\""
        << Html(r.id + "-" + t.name) << "\" open><summary>" << Html(t.name) << ": "
        << Html(t.status) << (t.reason.empty() ? std::string() : " (" + Html(t.reason) + ")")
        << (t.status == "n/a" ? std::string() : ", " + Seconds(t.seconds) + " s") << "</summary>\n";
      if (t.status != "n/a") run(t.steps, t.traces, "h4");
      h << "</details>\n";
    }
    h << "</section>\n";
  }
  h << "</body></html>\n";
  if (!platform::hostio::WriteFileAtomic((folder / "report.html").string(), h.str()))
    throw std::runtime_error((folder / "report.html").string() + " cannot be written");
}

int MergeReports(const std::vector<std::string>& folders, const std::string& out,
                 std::ostream& report) {
  std::vector<CellResult> results;
  std::set<std::string> ids;
  const fs::path target = fs::absolute(out);
  std::error_code ec;
  fs::create_directories(target, ec);
  if (ec) throw std::runtime_error(out + " cannot be made: " + ec.message());
  for (const std::string& name : folders) {
    const fs::path folder = fs::absolute(name);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder / "cells", ec))
      if (entry.is_regular_file() && entry.path().extension() == ".cell")
        files.push_back(entry.path());
    if (files.empty()) throw std::runtime_error(name + " holds no cell results");
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      CellResult r;
      try {
        r = ParseCellResult(ReadText(file.string()));
      } catch (const std::exception&) {
        throw std::runtime_error(file.string() + " is not a cell result");
      }
      if (!ids.insert(r.id).second) continue;  // the same cell in two runs: the first one
      auto anchor = [&](std::vector<StepReport>& steps) {
        for (StepReport& s : steps)
          for (std::string& p : s.screenshots)
            if (!fs::path(p).is_absolute()) p = (folder / p).string();
      };
      anchor(r.steps);
      for (TypeResult& t : r.types) anchor(t.steps);
      results.push_back(std::move(r));
    }
  }
  // The merged cells are kept too, so that a merged report can be merged again.
  fs::create_directories(target / "cells", ec);
  for (const CellResult& r : results) {
    if (!platform::hostio::WriteFileAtomic((target / "cells" / (r.id + ".cell")).string(),
                                           CellResultText(r)))
      throw std::runtime_error((target / "cells").string() + " cannot be written");
  }
  WriteReports(results, "merged report", target.string());
  const auto failed = std::count_if(results.begin(), results.end(), Failed);
  report << Summary(results) << " (from " << folders.size() << " reports); "
         << (target / "report.html").string() << "\n";
  return failed ? 1 : 0;
}

}  // namespace TlPack
