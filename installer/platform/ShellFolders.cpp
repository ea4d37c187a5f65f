#include "platform/ShellFolders.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace platform {

namespace {

constexpr wchar_t kWindows[] = L"C:\\Windows";

bool Is64(const MachineConfig& c) { return c.os.is64Bit; }
bool Wow64(const MachineConfig& c) { return c.os.is64Bit && c.process32Bit; }

std::wstring UserName(const MachineConfig& c, const std::wstring& user) {
  return user.empty() ? c.userName : user;
}

}  // namespace

bool IsXpLayout(const MachineConfig& config) { return config.os.major < 6; }

std::wstring ProfilesDirectory(const MachineConfig& config) {
  return IsXpLayout(config) ? L"C:\\Documents and Settings" : L"C:\\Users";
}

std::wstring PublicProfileName(const MachineConfig& config) {
  return IsXpLayout(config) ? L"All Users" : L"Public";
}

std::wstring DefaultProfileName(const MachineConfig& config) {
  return IsXpLayout(config) ? L"Default User" : L"Default";
}

std::wstring ProfilePath(const MachineConfig& config, const std::wstring& user) {
  return ProfilesDirectory(config) + L"\\" + UserName(config, user);
}

std::wstring SpecialFolderPath(const MachineConfig& c, int csidl, const std::wstring& user) {
  csidl &= ~CSIDL_FLAG_MASK;
  const bool xp = IsXpLayout(c);
  const std::wstring profile = ProfilePath(c, user);
  const std::wstring windows = kWindows;
  const std::wstring pf64 = L"C:\\Program Files";
  const std::wstring pf86 = Is64(c) ? L"C:\\Program Files (x86)" : pf64;
  const std::wstring pf = Wow64(c) ? pf86 : pf64;
  const std::wstring system32 = windows + L"\\system32";
  const std::wstring sysx86 = Is64(c) ? windows + L"\\SysWOW64" : system32;

  if (xp) {
    const std::wstring all = ProfilesDirectory(c) + L"\\All Users";
    const std::wstring roaming = profile + L"\\Application Data";
    const std::wstring local = profile + L"\\Local Settings\\Application Data";
    const std::wstring docs = profile + L"\\My Documents";
    const std::wstring start = profile + L"\\Start Menu";
    const std::wstring commonStart = all + L"\\Start Menu";
    switch (csidl) {
      case CSIDL_DESKTOP:
      case CSIDL_DESKTOPDIRECTORY: return profile + L"\\Desktop";
      case CSIDL_PROGRAMS: return start + L"\\Programs";
      case CSIDL_PERSONAL: return docs;
      case CSIDL_FAVORITES: return profile + L"\\Favorites";
      case CSIDL_STARTUP: return start + L"\\Programs\\Startup";
      case CSIDL_RECENT: return profile + L"\\Recent";
      case CSIDL_SENDTO: return profile + L"\\SendTo";
      case CSIDL_STARTMENU: return start;
      case CSIDL_MYMUSIC: return docs + L"\\My Music";
      case CSIDL_MYVIDEO: return docs + L"\\My Videos";
      case CSIDL_MYPICTURES: return docs + L"\\My Pictures";
      case CSIDL_NETHOOD: return profile + L"\\NetHood";
      case CSIDL_PRINTHOOD: return profile + L"\\PrintHood";
      case CSIDL_TEMPLATES: return profile + L"\\Templates";
      case CSIDL_APPDATA: return roaming;
      case CSIDL_LOCAL_APPDATA: return local;
      case CSIDL_INTERNET_CACHE: return profile + L"\\Local Settings\\Temporary Internet Files";
      case CSIDL_COOKIES: return profile + L"\\Cookies";
      case CSIDL_HISTORY: return profile + L"\\Local Settings\\History";
      case CSIDL_ADMINTOOLS: return start + L"\\Programs\\Administrative Tools";
      case CSIDL_CDBURN_AREA: return local + L"\\Microsoft\\CD Burning";
      case CSIDL_PROFILE: return profile;
      case CSIDL_COMMON_STARTMENU: return commonStart;
      case CSIDL_COMMON_PROGRAMS: return commonStart + L"\\Programs";
      case CSIDL_COMMON_STARTUP: return commonStart + L"\\Programs\\Startup";
      case CSIDL_COMMON_ADMINTOOLS: return commonStart + L"\\Programs\\Administrative Tools";
      case CSIDL_COMMON_DESKTOPDIRECTORY: return all + L"\\Desktop";
      case CSIDL_COMMON_FAVORITES: return all + L"\\Favorites";
      case CSIDL_COMMON_APPDATA: return all + L"\\Application Data";
      case CSIDL_COMMON_TEMPLATES: return all + L"\\Templates";
      case CSIDL_COMMON_DOCUMENTS: return all + L"\\Documents";
      case CSIDL_COMMON_MUSIC: return all + L"\\Documents\\My Music";
      case CSIDL_COMMON_PICTURES: return all + L"\\Documents\\My Pictures";
      case CSIDL_COMMON_VIDEO: return all + L"\\Documents\\My Videos";
      default: break;
    }
  } else {
    const std::wstring pub = ProfilesDirectory(c) + L"\\Public";
    const std::wstring roaming = profile + L"\\AppData\\Roaming";
    const std::wstring local = profile + L"\\AppData\\Local";
    const std::wstring win = roaming + L"\\Microsoft\\Windows";
    const std::wstring start = win + L"\\Start Menu";
    const std::wstring programData = L"C:\\ProgramData";
    const std::wstring commonStart = programData + L"\\Microsoft\\Windows\\Start Menu";
    switch (csidl) {
      case CSIDL_DESKTOP:
      case CSIDL_DESKTOPDIRECTORY: return profile + L"\\Desktop";
      case CSIDL_PROGRAMS: return start + L"\\Programs";
      case CSIDL_PERSONAL: return profile + L"\\Documents";
      case CSIDL_FAVORITES:
      case CSIDL_COMMON_FAVORITES: return profile + L"\\Favorites";
      case CSIDL_STARTUP: return start + L"\\Programs\\Startup";
      case CSIDL_RECENT: return win + L"\\Recent";
      case CSIDL_SENDTO: return win + L"\\SendTo";
      case CSIDL_STARTMENU: return start;
      case CSIDL_MYMUSIC: return profile + L"\\Music";
      case CSIDL_MYVIDEO: return profile + L"\\Videos";
      case CSIDL_MYPICTURES: return profile + L"\\Pictures";
      case CSIDL_NETHOOD: return win + L"\\Network Shortcuts";
      case CSIDL_PRINTHOOD: return win + L"\\Printer Shortcuts";
      case CSIDL_TEMPLATES: return win + L"\\Templates";
      case CSIDL_APPDATA: return roaming;
      case CSIDL_LOCAL_APPDATA: return local;
      case CSIDL_INTERNET_CACHE: return local + L"\\Microsoft\\Windows\\INetCache";
      case CSIDL_COOKIES: return local + L"\\Microsoft\\Windows\\INetCookies";
      case CSIDL_HISTORY: return local + L"\\Microsoft\\Windows\\History";
      case CSIDL_ADMINTOOLS: return start + L"\\Programs\\Administrative Tools";
      case CSIDL_CDBURN_AREA: return local + L"\\Microsoft\\Windows\\Burn\\Burn";
      case CSIDL_PROFILE: return profile;
      case CSIDL_COMMON_STARTMENU: return commonStart;
      case CSIDL_COMMON_PROGRAMS: return commonStart + L"\\Programs";
      case CSIDL_COMMON_STARTUP: return commonStart + L"\\Programs\\Startup";
      case CSIDL_COMMON_ADMINTOOLS: return commonStart + L"\\Programs\\Administrative Tools";
      case CSIDL_COMMON_DESKTOPDIRECTORY: return pub + L"\\Desktop";
      case CSIDL_COMMON_APPDATA: return programData;
      case CSIDL_COMMON_TEMPLATES: return programData + L"\\Microsoft\\Windows\\Templates";
      case CSIDL_COMMON_DOCUMENTS: return pub + L"\\Documents";
      case CSIDL_COMMON_MUSIC: return pub + L"\\Music";
      case CSIDL_COMMON_PICTURES: return pub + L"\\Pictures";
      case CSIDL_COMMON_VIDEO: return pub + L"\\Videos";
      default: break;
    }
  }
  switch (csidl) {
    case CSIDL_FONTS: return windows + L"\\Fonts";
    case CSIDL_RESOURCES: return windows + L"\\Resources";
    case CSIDL_WINDOWS: return windows;
    case CSIDL_SYSTEM: return Wow64(c) ? sysx86 : system32;
    case CSIDL_SYSTEMX86: return sysx86;
    case CSIDL_PROGRAM_FILES: return pf;
    case CSIDL_PROGRAM_FILESX86: return pf86;
    case CSIDL_PROGRAM_FILES_COMMON: return pf + L"\\Common Files";
    case CSIDL_PROGRAM_FILES_COMMONX86: return pf86 + L"\\Common Files";
    default: return {};
  }
}

std::vector<int> KnownCsidls() {
  std::vector<int> out;
  MachineConfig defaults;
  for (int csidl = 0; csidl < 0x60; ++csidl)
    if (!SpecialFolderPath(defaults, csidl, L"x").empty()) out.push_back(csidl);
  return out;
}

bool IsPerUserCsidl(int csidl) {
  MachineConfig c;
  std::wstring a = SpecialFolderPath(c, csidl, L"UserA");
  std::wstring b = SpecialFolderPath(c, csidl, L"UserB");
  return !a.empty() && a != b;
}

HRESULT SHGetFolderPathW(void* window, int csidl, void* token, DWORD flags, std::wstring& path) {
  path.clear();
  const MachineConfig& config = CurrentConfig();
  std::wstring folder = SpecialFolderPath(config, csidl);
  if (folder.empty()) return E_INVALIDARG;
  if (csidl & CSIDL_FLAG_CREATE) {
    DWORD status = CreateDirectoryWithParents(folder);
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) return HResultFromWin32(status);
  } else if (!(csidl & CSIDL_FLAG_DONT_VERIFY) && !PathIsDirectoryW(folder)) {
    return HResultFromWin32(ERROR_FILE_NOT_FOUND);
  }
  path = folder;
  return S_OK;
}

bool SHGetSpecialFolderPathW(void* window, std::wstring& path, int csidl, bool create) {
  int flags = create ? CSIDL_FLAG_CREATE : 0;
  return SHGetFolderPathW(window, (csidl & ~CSIDL_FLAG_MASK) | flags, nullptr, 0, path) == S_OK;
}

bool SHGetSpecialFolderPathW(void* window, wchar_t* path, int csidl, bool create) {
  if (!path) return false;
  path[0] = L'\0';
  std::wstring folder;
  if (!SHGetSpecialFolderPathW(window, folder, csidl, create)) return false;
  if (folder.size() >= 260) return false;
  std::memcpy(path, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Profiles of a fresh machine

namespace {

// Creates "C:\..." inside a machine that need not be the process's current one, matching the
// names that exist already without regard to case.
void MakeFolderIn(const Machine& machine, const std::wstring& windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != L':') return;
  std::string host = machine.DriveHostPath(windowsPath[0]);
  if (host.empty()) return;
  ::mkdir(host.c_str(), 0777);
  std::size_t start = 3;
  while (start < windowsPath.size()) {
    std::size_t end = windowsPath.find(L'\\', start);
    if (end == std::wstring::npos) end = windowsPath.size();
    std::wstring part = windowsPath.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    std::string name = ToUtf8(part);
    if (DIR* dir = ::opendir(host.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        if (EqualsNoCase(FromUtf8(e->d_name), part)) {
          name = e->d_name;
          break;
        }
      }
      ::closedir(dir);
    }
    host += "/" + name;
    ::mkdir(host.c_str(), 0777);
  }
}

}  // namespace

void CreateProfiles(const Machine& machine) {
  const MachineConfig& config = machine.Config();
  std::vector<std::wstring> users = {config.userName, SecondUserNameOf(config),
                                     DefaultProfileName(config)};
  for (int csidl : KnownCsidls()) {
    if (IsPerUserCsidl(csidl)) {
      for (const auto& user : users) MakeFolderIn(machine, SpecialFolderPath(config, csidl, user));
    } else {
      MakeFolderIn(machine, SpecialFolderPath(config, csidl));
    }
  }
  MakeFolderIn(machine, ProfilesDirectory(config) + L"\\" + PublicProfileName(config));
  // The user's temporary folder, as TEMP names it.
  for (const auto& user : users)
    MakeFolderIn(machine, IsXpLayout(config)
                              ? ProfilePath(config, user) + L"\\Local Settings\\Temp"
                              : ProfilePath(config, user) + L"\\AppData\\Local\\Temp");
}

}  // namespace platform
