// The registry of a fresh machine: the keys and values of a Windows 10 (or XP) installation that
// installers read, consistent with machine.ini.
#include <cstring>

#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"
#include "platform/ShellFolders.h"

namespace platform::reg {

namespace {

Key* Path(Key& root, const std::wstring& path) {
  Key* key = &root;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    key = key->AddChild(path.substr(start, end - start));
    start = end + 1;
  }
  return key;
}

void Sz(Key* key, const std::wstring& name, const std::wstring& value) {
  key->SetValue(name, REG_SZ, StringData(value));
}
void ExpandSz(Key* key, const std::wstring& name, const std::wstring& value) {
  key->SetValue(name, REG_EXPAND_SZ, StringData(value));
}
void Dword(Key* key, const std::wstring& name, DWORD value) {
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  key->SetValue(name, REG_DWORD, std::move(data));
}

// "C:\Users\User\AppData" -> "%USERPROFILE%\AppData" for the User Shell Folders.
std::wstring Unexpand(const std::wstring& path, const std::wstring& prefix,
                      const std::wstring& variable) {
  if (path.size() >= prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
    return variable + path.substr(prefix.size());
  return path;
}

void CurrentVersionValues(Key* cv, const MachineConfig& c, bool view32) {
  const bool os64 = c.os.is64Bit;
  std::wstring pf = (os64 && view32) ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
  Sz(cv, L"ProgramFilesDir", pf);
  Sz(cv, L"CommonFilesDir", pf + L"\\Common Files");
  if (os64) {
    Sz(cv, L"ProgramFilesDir (x86)", L"C:\\Program Files (x86)");
    Sz(cv, L"CommonFilesDir (x86)", L"C:\\Program Files (x86)\\Common Files");
    Sz(cv, L"ProgramW6432Dir", L"C:\\Program Files");
    Sz(cv, L"CommonW6432Dir", L"C:\\Program Files\\Common Files");
  }
  ExpandSz(cv, L"ProgramFilesPath", L"%ProgramFiles%");
  ExpandSz(cv, L"DevicePath", L"%SystemRoot%\\inf");
  ExpandSz(cv, L"MediaPathUnexpanded", L"%SystemRoot%\\Media");
}

void NtCurrentVersionValues(Key* nt, const MachineConfig& c) {
  const auto& os = c.os;
  const bool modern = os.major >= 10 || (os.major == 6 && os.minor >= 3);
  std::wstring version =
      modern ? L"6.3" : std::to_wstring(os.major) + L"." + std::to_wstring(os.minor);
  Sz(nt, L"ProductName", os.productName);
  Sz(nt, L"CurrentVersion", version);
  Sz(nt, L"CurrentBuild", std::to_wstring(os.build));
  Sz(nt, L"CurrentBuildNumber", std::to_wstring(os.build));
  if (os.major >= 10) {
    Dword(nt, L"CurrentMajorVersionNumber", os.major);
    Dword(nt, L"CurrentMinorVersionNumber", os.minor);
    Sz(nt, L"DisplayVersion", os.displayVersion);
    Sz(nt, L"ReleaseId", L"2009");
  }
  Sz(nt, L"CurrentType", L"Multiprocessor Free");
  Sz(nt, L"EditionID", os.productType == 1 ? L"Professional" : L"ServerStandard");
  Sz(nt, L"InstallationType", os.productType == 1 ? L"Client" : L"Server");
  Sz(nt, L"SystemRoot", L"C:\\Windows");
  Sz(nt, L"PathName", L"C:\\Windows");
  Sz(nt, L"RegisteredOwner", c.userName);
  Sz(nt, L"RegisteredOrganization", L"");
  if (!os.servicePack.empty()) Sz(nt, L"CSDVersion", os.servicePack);
}

}  // namespace

void FillMachineHive(Key& root, const MachineConfig& c) {
  const bool os64 = c.os.is64Bit;
  const bool xp = IsXpLayout(c);

  // SOFTWARE: both views on 64-bit Windows.
  CurrentVersionValues(Path(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"), c, false);
  NtCurrentVersionValues(Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"), c);
  Path(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  Path(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths");
  Path(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  Path(root, L"SOFTWARE\\Classes");
  Path(root, L"SOFTWARE\\Clients");
  Path(root, L"SOFTWARE\\Policies");
  Path(root, L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources");
  if (os64) {
    CurrentVersionValues(Path(root, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion"),
                         c, true);
    NtCurrentVersionValues(
        Path(root, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion"), c);
    Path(root, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    Path(root, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run");
    Path(root, L"SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\ODBC Data Sources");
    Path(root, L"SOFTWARE\\Classes\\WOW6432Node\\CLSID");
  }
  Path(root, L"SOFTWARE\\Classes\\CLSID");

  Key* policies = Path(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
  if (!xp) {
    Dword(policies, L"EnableLUA", c.uacEnabled ? 1 : 0);
    Dword(policies, L"ConsentPromptBehaviorAdmin", 5);
    Dword(policies, L"PromptOnSecureDesktop", 1);
  }

  // Common shell folders, in both views.
  for (const wchar_t* software : {L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\"}) {
    if (!os64 && std::wstring(software) != L"SOFTWARE\\") continue;
    const std::wstring explorer =
        std::wstring(software) + L"Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    Key* shell = Path(root, explorer + L"Shell Folders");
    Key* userShell = Path(root, explorer + L"User Shell Folders");
    const std::wstring commonData = SpecialFolderPath(c, CSIDL_COMMON_APPDATA);
    const std::wstring publicDir = ProfilesDirectory(c) + L"\\" + PublicProfileName(c);
    const struct {
      const wchar_t* name;
      int csidl;
    } common[] = {
        {L"Common AppData", CSIDL_COMMON_APPDATA},
        {L"Common Desktop", CSIDL_COMMON_DESKTOPDIRECTORY},
        {L"Common Documents", CSIDL_COMMON_DOCUMENTS},
        {L"Common Programs", CSIDL_COMMON_PROGRAMS},
        {L"Common Start Menu", CSIDL_COMMON_STARTMENU},
        {L"Common Startup", CSIDL_COMMON_STARTUP},
        {L"Common Templates", CSIDL_COMMON_TEMPLATES},
        {L"Common Administrative Tools", CSIDL_COMMON_ADMINTOOLS},
        {L"CommonMusic", CSIDL_COMMON_MUSIC},
        {L"CommonPictures", CSIDL_COMMON_PICTURES},
        {L"CommonVideo", CSIDL_COMMON_VIDEO},
    };
    for (const auto& entry : common) {
      std::wstring path = SpecialFolderPath(c, entry.csidl);
      Sz(shell, entry.name, path);
      std::wstring unexpanded =
          xp ? Unexpand(path, ProfilesDirectory(c) + L"\\All Users", L"%ALLUSERSPROFILE%")
             : Unexpand(Unexpand(path, commonData, L"%ProgramData%"), publicDir, L"%PUBLIC%");
      ExpandSz(userShell, entry.name, unexpanded);
    }
  }

  // Profiles.
  Key* profiles = Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
  const std::wstring profilesDir =
      xp ? L"%SystemDrive%\\Documents and Settings" : L"%SystemDrive%\\Users";
  ExpandSz(profiles, L"ProfilesDirectory", profilesDir);
  if (xp) {
    Sz(profiles, L"AllUsersProfile", L"All Users");
    Sz(profiles, L"DefaultUserProfile", L"Default User");
  } else {
    ExpandSz(profiles, L"Default", profilesDir + L"\\Default");
    ExpandSz(profiles, L"Public", profilesDir + L"\\Public");
    ExpandSz(profiles, L"ProgramData", L"%SystemDrive%\\ProgramData");
  }
  ExpandSz(Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-18"),
           L"ProfileImagePath", L"%systemroot%\\system32\\config\\systemprofile");
  ExpandSz(Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-19"),
           L"ProfileImagePath", L"%systemroot%\\ServiceProfiles\\LocalService");
  ExpandSz(Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-20"),
           L"ProfileImagePath", L"%systemroot%\\ServiceProfiles\\NetworkService");
  for (const auto& [sid, user] :
       {std::pair{UserSidOf(c), c.userName}, std::pair{SecondUserSidOf(c), SecondUserNameOf(c)}}) {
    Key* p = Path(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid);
    ExpandSz(p, L"ProfileImagePath", ProfilePath(c, user));
    Dword(p, L"Flags", 0);
    Dword(p, L"State", 0);
  }

  // SYSTEM.
  const std::wstring ccs = L"SYSTEM\\CurrentControlSet\\";
  Key* env = Path(root, ccs + L"Control\\Session Manager\\Environment");
  ExpandSz(env, L"ComSpec", L"%SystemRoot%\\system32\\cmd.exe");
  Sz(env, L"OS", L"Windows_NT");
  ExpandSz(env, L"Path", L"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem");
  Sz(env, L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
  Sz(env, L"PROCESSOR_ARCHITECTURE", os64 ? L"AMD64" : L"x86");
  Sz(env, L"NUMBER_OF_PROCESSORS", L"2");
  ExpandSz(env, L"TEMP", L"%SystemRoot%\\TEMP");
  ExpandSz(env, L"TMP", L"%SystemRoot%\\TEMP");
  Sz(env, L"USERNAME", L"SYSTEM");
  ExpandSz(env, L"windir", L"%SystemRoot%");
  Sz(Path(root, ccs + L"Control\\ComputerName\\ComputerName"), L"ComputerName", c.computerName);
  Sz(Path(root, ccs + L"Control\\ComputerName\\ActiveComputerName"), L"ComputerName",
     c.computerName);
  Key* nls = Path(root, ccs + L"Control\\Nls\\CodePage");
  Sz(nls, L"ACP", std::to_wstring(c.ansiCodePage));
  Sz(nls, L"OEMCP", std::to_wstring(c.oemCodePage));
  Key* windows = Path(root, ccs + L"Control\\Windows");
  Dword(windows, L"CSDVersion", 0);
  Key* tcpip = Path(root, ccs + L"Services\\Tcpip\\Parameters");
  Sz(tcpip, L"Hostname", c.computerName);
  Sz(tcpip, L"Domain", c.join == JoinStatus::Domain ? c.domain : L"");
  Path(root, ccs + L"Services\\LanmanServer\\Shares\\Security");
  Key* product = Path(root, ccs + L"Control\\ProductOptions");
  Sz(product, L"ProductType",
     c.os.productType == 1   ? L"WinNT"
     : c.os.productType == 2 ? L"LanmanNT"
                             : L"ServerNT");
}

void FillUserHive(Key& root, const MachineConfig& c, const std::wstring& user) {
  Path(root, L"Software\\Classes");
  Path(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  Key* intl = Path(root, L"Control Panel\\International");
  Sz(intl, L"Locale", [&] {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"%08X", static_cast<unsigned>(c.userLcid));
    return std::wstring(buf);
  }());
  if (user.empty()) return;

  const bool xp = IsXpLayout(c);
  const std::wstring profile = ProfilePath(c, user);
  Key* shell = Path(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
  Key* userShell =
      Path(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders");
  const struct {
    const wchar_t* name;
    int csidl;
  } folders[] = {
      {L"AppData", CSIDL_APPDATA},
      {L"Local AppData", CSIDL_LOCAL_APPDATA},
      {L"Desktop", CSIDL_DESKTOPDIRECTORY},
      {L"Personal", CSIDL_PERSONAL},
      {L"Programs", CSIDL_PROGRAMS},
      {L"Start Menu", CSIDL_STARTMENU},
      {L"Startup", CSIDL_STARTUP},
      {L"Recent", CSIDL_RECENT},
      {L"SendTo", CSIDL_SENDTO},
      {L"Templates", CSIDL_TEMPLATES},
      {L"Favorites", CSIDL_FAVORITES},
      {L"My Music", CSIDL_MYMUSIC},
      {L"My Pictures", CSIDL_MYPICTURES},
      {L"My Video", CSIDL_MYVIDEO},
      {L"NetHood", CSIDL_NETHOOD},
      {L"PrintHood", CSIDL_PRINTHOOD},
      {L"Cookies", CSIDL_COOKIES},
      {L"History", CSIDL_HISTORY},
      {L"Cache", CSIDL_INTERNET_CACHE},
      {L"Administrative Tools", CSIDL_ADMINTOOLS},
      {L"CD Burning", CSIDL_CDBURN_AREA},
      {L"Fonts", CSIDL_FONTS},
  };
  for (const auto& entry : folders) {
    std::wstring path = SpecialFolderPath(c, entry.csidl, user);
    Sz(shell, entry.name, path);
    std::wstring unexpanded = Unexpand(path, profile, L"%USERPROFILE%");
    if (entry.csidl == CSIDL_FONTS) unexpanded = Unexpand(path, L"C:\\Windows", L"%SystemRoot%");
    ExpandSz(userShell, entry.name, unexpanded);
  }
  Key* env = Path(root, L"Environment");
  const std::wstring temp =
      xp ? L"%USERPROFILE%\\Local Settings\\Temp" : L"%USERPROFILE%\\AppData\\Local\\Temp";
  ExpandSz(env, L"TEMP", temp);
  ExpandSz(env, L"TMP", temp);
  Key* volatileEnv = Path(root, L"Volatile Environment");
  Sz(volatileEnv, L"USERPROFILE", profile);
  Sz(volatileEnv, L"APPDATA", SpecialFolderPath(c, CSIDL_APPDATA, user));
  Sz(volatileEnv, L"LOCALAPPDATA", SpecialFolderPath(c, CSIDL_LOCAL_APPDATA, user));
  Sz(volatileEnv, L"HOMEDRIVE", L"C:");
  Sz(volatileEnv, L"HOMEPATH", profile.substr(2));
  Sz(volatileEnv, L"USERNAME", user);
  Sz(volatileEnv, L"USERDOMAIN", c.computerName);
}

}  // namespace platform::reg
