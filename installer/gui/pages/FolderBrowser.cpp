#include "gui/pages/FolderBrowser.h"

#include "platform/Files.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace InstallGui {

namespace {

// "\\NAME" (a computer): two backslashes and no third.
bool IsComputer(const std::wstring& path) {
  return path.size() > 2 && path.compare(0, 2, L"\\\\") == 0 &&
         path.find(L'\\', 2) == std::wstring::npos;
}

}  // namespace

std::vector<std::wstring> CFolderBrowser::Roots() const {
  std::vector<std::wstring> roots = platform::GetLogicalDriveStringsW();
  roots.push_back(kNetwork);
  return roots;
}

std::vector<std::wstring> CFolderBrowser::Children(const std::wstring& path, const ScanPump& pump) {
  std::vector<std::wstring> out;
  if (path == kNetwork) {
    if (!m_scanned) {
      ComputerList list;
      if (ScanNetwork(list, pump)) {
        NormalizeComputerList(list);
        m_computers = list;
        m_scanned = true;
      }
    }
    for (const auto& name : m_computers) out.push_back(L"\\\\" + name);
    return out;
  }
  if (IsComputer(path)) {
    platform::NetResource computer;
    computer.remoteName = path;
    computer.usage = platform::RESOURCEUSAGE_CONTAINER;
    platform::NetEnumHandle handle;
    if (platform::WNetOpenEnumW(platform::RESOURCE_GLOBALNET, platform::RESOURCETYPE_DISK, 0,
                                &computer, handle) != platform::ERROR_SUCCESS)
      return out;
    std::vector<platform::NetResource> entries;
    while (platform::WNetEnumResourceW(handle, static_cast<platform::DWORD>(-1), entries) ==
           platform::ERROR_SUCCESS)
      for (const auto& e : entries) out.push_back(e.remoteName);
    platform::WNetCloseEnum(handle);
    return out;
  }
  std::wstring pattern = path;
  platform::PathAppendW(pattern, L"*");
  std::vector<platform::FindData> entries;
  if (platform::FindAll(pattern, entries) != platform::ERROR_SUCCESS) return out;
  for (const auto& e : entries) {
    if (!(e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring child = path;
    platform::PathAppendW(child, e.fileName);
    out.push_back(child);
  }
  return out;
}

std::vector<std::wstring> CFolderBrowser::PathChain(const std::wstring& start) {
  std::vector<std::wstring> chain;
  std::wstring path = start;
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  size_t first;
  if (path.size() > 2 && path.compare(0, 2, L"\\\\") == 0) {
    chain.push_back(kNetwork);
    first = path.find(L'\\', 2);
    chain.push_back(path.substr(0, first));
    if (first == std::wstring::npos) return chain;
  } else if (path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0])) {
    std::wstring drive = platform::ToUpper(path.substr(0, 2)) + L"\\";
    chain.push_back(drive);
    first = 2;
    path = drive.substr(0, 2) + path.substr(2);
  } else {
    return chain;
  }
  for (size_t at = first; at != std::wstring::npos && at + 1 < path.size();) {
    size_t next = path.find(L'\\', at + 1);
    chain.push_back(path.substr(0, next));
    at = next;
  }
  return chain;
}

std::wstring CFolderBrowser::Label(const std::wstring& path) {
  if (path == kNetwork) return L"Network";
  if (IsComputer(path) || (path.size() <= 3 && path.size() >= 2 && path[1] == L':')) return path;
  std::wstring name = path;
  platform::PathStripPathW(name);
  return name;
}

bool CFolderBrowser::IsFileSystemFolder(const std::wstring& path) {
  return !path.empty() && path != kNetwork && !IsComputer(path);
}

std::wstring CFolderBrowser::Title(const std::wstring& caption, const std::wstring& scriptCaption) {
  if (!caption.empty()) return caption;
  if (!scriptCaption.empty()) return scriptCaption;
  return L"Select folder";
}

}  // namespace InstallGui
