// tlmachine: create, inspect, compare and restart an emulated Windows machine.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Programs.h"
#include "Snapshot.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Odbc.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Restart.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/Text.h"

using namespace platform;

namespace {

const char kUsage[] =
    "usage: tlmachine [--machine DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "The machine is DIR, else $TOLMERA_MACHINE, else ~/.local/share/tolmera/machine.\n"
    "\n"
    "commands:\n"
    "  init [DIR]                 create a fresh machine in DIR (default: the selected machine)\n"
    "  reg query KEY [/s] [/v NAME]\n"
    "                             show a key's values and sub-keys (/s: the whole tree,\n"
    "                             /v: one value); KEY as HKLM\\SOFTWARE\\..., HKCU, HKCR, HKU\n"
    "  reg export KEY [FILE]      write the key and everything below it as a .reg file\n"
    "                             (UTF-16LE, as the registry editor writes it); without FILE,\n"
    "                             the text goes to standard output as UTF-8\n"
    "  tree [PATH] [DEPTH]        list the folders and files below PATH (default C:\\, depth 2)\n"
    "  restart                    restart the machine: carry out the pending file operations\n"
    "  snapshot FILE              write the files (size, attributes, time) and registry keys and\n"
    "                             values of the machine to FILE\n"
    "  diff SNAPSHOT              show what was added (+), changed (~) and removed (-) since\n"
    "                             SNAPSHOT was taken\n"
    "  hold PATH                  keep the file PATH open without sharing until killed\n"
    "  programs                   list the installed programs as the list of programs shows\n"
    "                             them: name, version, publisher, location and entry key\n"
    "  uninstall KEY              remove a program the way the list of programs does: run the\n"
    "                             \"UninstallString\" of its entry (KEY: the entry's key or its\n"
    "                             name); exits with the program's exit status\n"
    "  acl PATH|KEY               show the access list of a file, folder or key (SDDL and a\n"
    "                             readable listing); keys as HKLM\\SOFTWARE\\..., HKCU\\...\n"
    "  whoami                     show who runs programs on the machine: the user, the groups\n"
    "                             with their attributes, the privileges and the elevation\n"
    "  shares                     list the computer's shares (name, folder, remark) as\n"
    "                             `net share` does\n"
    "  odbc                       list the system data sources (name, 32- or 64-bit, driver)\n"
    "                             with their attributes, as the ODBC administrator shows them\n"
    "  help                       show this text\n"
    "\n"
    "Registry keys are shown as they are stored (the 64-bit view: 32-bit keys under\n"
    "WOW6432Node). Exit status: 0 success, 1 failure, 2 wrong usage.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::wstring W(const std::string& s) { return FromUtf8(s); }
std::string U(const std::wstring& s) { return ToUtf8(s); }

std::string ShowData(const reg::Value& v) {
  char buf[32];
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return U(reg::DataToString(v.data));
    case REG_MULTI_SZ: {
      std::string out;
      for (const auto& item : reg::DataToMultiString(v.data))
        out += (out.empty() ? "" : "\\0") + U(item);
      return out;
    }
    case REG_DWORD:
      if (v.data.size() == 4) {
        std::uint32_t d;
        std::memcpy(&d, v.data.data(), 4);
        std::snprintf(buf, sizeof buf, "0x%x", d);
        return buf;
      }
      break;
    case REG_QWORD:
      if (v.data.size() == 8) {
        std::uint64_t q;
        std::memcpy(&q, v.data.data(), 8);
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(q));
        return buf;
      }
      break;
    default: break;
  }
  std::string out;
  for (auto b : v.data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  return out;
}

std::wstring RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  return L"HKEY_USERS";
}

std::string KeyName(HKEY root, const std::wstring& sub) {
  std::wstring name = RootName(root);
  if (!sub.empty()) name.append(L"\\").append(sub);
  return U(name);
}

void Fail(HKEY root, const std::wstring& sub, LSTATUS status) {
  std::string text = KeyName(root, sub);
  text.append(": ").append(U(SystemErrorText(status)));
  std::wstring why = HiveErrorText(root);
  if (!why.empty()) text.append(" (").append(U(why)).append(")");
  throw std::runtime_error(text);
}

void QueryKey(HKEY root, const std::wstring& sub, bool recurse, const std::wstring* only) {
  RegKey key;
  LSTATUS status = key.Open(root, sub, KEY_READ | KEY_WOW64_64KEY);
  if (status != ERROR_SUCCESS) Fail(root, sub, status);
  std::cout << KeyName(root, sub) << "\n";
  bool found = false;
  for (const auto& v : key.ValueList()) {
    if (only && !EqualsNoCase(v.name, *only)) continue;
    found = true;
    std::cout << "    " << (v.name.empty() ? "(Default)" : U(v.name)) << "    "
              << tlmachine::TypeName(v.type) << "    " << ShowData(v) << "\n";
  }
  if (only && !found && !recurse) Fail(root, sub + L" : " + *only, ERROR_FILE_NOT_FOUND);
  std::cout << "\n";
  for (const auto& name : key.SubKeyNames()) {
    std::wstring child = sub.empty() ? name : sub + L"\\" + name;
    if (recurse)
      QueryKey(root, child, true, only);
    else if (!only)
      std::cout << U(RootName(root)) << "\\" << U(child) << "\n";
  }
}

void Tree(const std::wstring& folder, int depth, const std::string& indent) {
  std::vector<FindData> entries;
  DWORD status = FindAll(folder + L"\\*", entries);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error(U(folder) + ": " + U(SystemErrorText(status)));
  for (const auto& e : entries) {
    bool dir = (e.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::cout << indent << U(e.fileName);
    if (dir)
      std::cout << "\\";
    else
      std::cout << "  (" << e.size << " bytes)";
    std::string attrs;
    if (e.attributes & FILE_ATTRIBUTE_READONLY) attrs += 'R';
    if (e.attributes & FILE_ATTRIBUTE_HIDDEN) attrs += 'H';
    if (e.attributes & FILE_ATTRIBUTE_SYSTEM) attrs += 'S';
    if (!attrs.empty()) std::cout << "  [" << attrs << "]";
    std::cout << "\n";
    if (dir && depth > 1 && !(e.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      Tree(folder + L"\\" + e.fileName, depth - 1, indent + "  ");
  }
}

std::wstring TrimSlash(std::wstring path) {
  while (path.size() > 2 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.size() == 3 && path[1] == L':') path.pop_back();
  return path;
}

int Run(std::vector<std::string> args) {
  std::string machineDir;
  if (args.size() >= 2 && args[0] == "--machine") {
    machineDir = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) throw UsageError("no command given");
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "help" || command == "--help" || command == "-h") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "init") {
    if (args.size() > 1) throw UsageError("init takes at most one folder");
    std::string dir = !args.empty()         ? args[0]
                      : !machineDir.empty() ? machineDir
                                            : Machine::SelectedRootPath();
    auto machine = Machine::Init(dir);
    std::cout << "created a fresh machine in " << machine->Root() << "\n";
    return 0;
  }
  if (!machineDir.empty())
    Machine::SetCurrentForProcess(machineDir);
  else
    Machine::Current();

  if (command == "reg") {
    if (args.size() < 2) throw UsageError("reg needs query or export and a key");
    HKEY root;
    std::wstring sub;
    if (!SplitRootKey(W(args[1]), root, sub))
      throw UsageError("unknown root key in \"" + args[1] + "\"");
    if (args[0] == "query") {
      bool recurse = false;
      std::wstring value;
      bool haveValue = false;
      for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "/s" || args[i] == "/S")
          recurse = true;
        else if ((args[i] == "/v" || args[i] == "/V") && i + 1 < args.size())
          value = W(args[++i]), haveValue = true;
        else
          throw UsageError("unknown reg query option \"" + args[i] + "\"");
      }
      QueryKey(root, sub, recurse, haveValue ? &value : nullptr);
      return 0;
    }
    if (args[0] == "export") {
      if (args.size() > 3) throw UsageError("reg export takes a key and at most one file");
      std::string text;
      LSTATUS status = ExportKey(root, sub, KEY_WOW64_64KEY, text);
      if (status != ERROR_SUCCESS) Fail(root, sub, status);
      if (args.size() == 3) {
        std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) throw std::runtime_error(args[2] + ": cannot be written");
      } else {
        std::cout << U(reg::FromUtf16Le(reinterpret_cast<const std::uint8_t*>(text.data()) + 2,
                                        text.size() - 2));
      }
      return 0;
    }
    throw UsageError("unknown reg command \"" + args[0] + "\"");
  }
  if (command == "tree") {
    if (args.size() > 2) throw UsageError("tree takes a path and a depth");
    std::wstring path = args.empty() ? L"C:\\" : W(args[0]);
    int depth = 2;
    if (args.size() == 2) {
      try {
        depth = std::stoi(args[1]);
      } catch (...) {
        throw UsageError("the depth must be a number");
      }
      if (depth < 1) throw UsageError("the depth must be at least 1");
    }
    if (!PathIsDirectoryW(path))
      throw std::runtime_error(U(path) + ": not a folder of the machine");
    std::cout << U(path) << "\n";
    Tree(TrimSlash(path), depth, "  ");
    return 0;
  }
  if (command == "restart") {
    if (!args.empty()) throw UsageError("restart takes no arguments");
    auto results = RestartMachine();
    for (const auto& r : results) {
      std::cout << (r.operation.destination.empty() ? "delete " : "move ") << U(r.operation.source);
      if (!r.operation.destination.empty()) std::cout << " -> " << U(r.operation.destination);
      std::cout << ": " << (r.status == ERROR_SUCCESS ? "done" : U(SystemErrorText(r.status)))
                << "\n";
    }
    std::cout << "restarted; " << results.size() << " pending file operations carried out\n";
    return 0;
  }
  if (command == "snapshot") {
    if (args.size() != 1) throw UsageError("snapshot needs one file");
    auto snapshot = tlmachine::TakeSnapshot();
    std::ofstream out(args[0], std::ios::binary | std::ios::trunc);
    tlmachine::WriteSnapshot(snapshot, out);
    out.close();
    if (!out) throw std::runtime_error(args[0] + ": cannot be written");
    std::cout << "snapshot of " << snapshot.size() << " items written to " << args[0] << "\n";
    return 0;
  }
  if (command == "diff") {
    if (args.size() != 1) throw UsageError("diff needs one snapshot file");
    auto before = tlmachine::ReadSnapshot(args[0]);
    auto after = tlmachine::TakeSnapshot();
    auto counts = tlmachine::PrintDiff(before, after, std::cout);
    std::cout << "# " << counts.added << " added, " << counts.changed << " changed, "
              << counts.removed << " removed\n";
    return 0;
  }
  if (command == "acl") {
    if (args.size() != 1) throw UsageError("acl needs one path or key");
    std::wstring name = W(args[0]);
    HKEY root;
    std::wstring sub;
    const bool isKey = name.size() < 2 || name[1] != L':' ? SplitRootKey(name, root, sub) : false;
    SE_OBJECT_TYPE type = isKey ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
    SecurityDescriptor sd;
    DWORD status = GetObjectSecurity(name, type, sd);
    if (status != ERROR_SUCCESS)
      throw std::runtime_error(args[0] + ": " + U(SystemErrorText(status)));
    std::cout << U(name) << "\n" << U(sd.ToSddl()) << "\n" << U(DescribeSecurity(sd, type));
    return 0;
  }
  if (command == "shares") {
    std::cout << U(DescribeShares());
    return 0;
  }
  if (command == "odbc") {
    std::cout << U(DescribeSystemDataSources());
    return 0;
  }
  if (command == "whoami") {
    if (!args.empty()) throw UsageError("whoami takes no arguments");
    std::cout << U(DescribeToken(*CurrentToken()));
    return 0;
  }
  if (command == "hold") {
    if (args.size() != 1) throw UsageError("hold needs one file");
    FileHandle handle;
    DWORD status = handle.Open(W(args[0]), GENERIC_READ, 0, OPEN_EXISTING);
    if (status != ERROR_SUCCESS)
      throw std::runtime_error(args[0] + ": " + U(SystemErrorText(status)));
    std::cout << "holding " << args[0] << " (pid " << ::getpid() << ")" << std::endl;
    while (true) ::pause();
  }
  if (command == "programs") {
    if (!args.empty()) throw UsageError("programs takes no arguments");
    auto entries = tlmachine::ListPrograms();
    std::cout << "Name\tVersion\tPublisher\tLocation\tEntry\n";
    for (const auto& e : entries)
      std::cout << U(e.name) << "\t" << U(e.version) << "\t" << U(e.publisher) << "\t"
                << U(e.location) << "\t" << U(e.root) << "\\" << U(e.key) << "\n";
    std::cout << "# " << entries.size() << " programs\n";
    return 0;
  }
  if (command == "uninstall") {
    if (args.size() != 1) throw UsageError("uninstall needs the key or the name of an entry");
    tlmachine::ProgramEntry entry;
    if (!tlmachine::FindProgramEntry(W(args[0]), entry))
      throw std::runtime_error(args[0] + ": no such entry in the list of programs");
    if (entry.uninstallString.empty())
      throw std::runtime_error(args[0] + ": the entry has no UninstallString");
    std::cout << "running " << U(entry.uninstallString) << std::endl;
    DWORD exitCode = 0;
    DWORD status = RunProcess(entry.uninstallString, exitCode);
    if (status != ERROR_SUCCESS)
      throw std::runtime_error(U(entry.uninstallString) + ": " + U(SystemErrorText(status)));
    std::cout << "the uninstaller ended with exit status " << exitCode << "\n";
    return static_cast<int>(exitCode & 0xFF);
  }
  throw UsageError("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "tlmachine: " << e.what() << "\n\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tlmachine: " << e.what() << "\n";
    return 1;
  }
}
