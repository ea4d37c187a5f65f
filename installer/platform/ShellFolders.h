// Special folders of the shell (SHGetFolderPathW, SHGetSpecialFolderPathW) and the user
// profiles of a fresh machine.
//
// The folders follow the Windows 10 layout (C:\Users\<user>\AppData\Roaming, C:\ProgramData,
// C:\Users\Public\...) or, when machine.ini gives an OS version before 6.0, the Windows XP layout
// (C:\Documents and Settings\<user>\Application Data, ...\All Users\...). A 32-bit process on
// 64-bit Windows gets "C:\Program Files (x86)" as its program-files folder and SysWOW64 as its
// system folder, as Windows gives it.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32Errors.h"

namespace platform {

class Machine;
struct MachineConfig;

// CSIDL values (shlobj.h).
inline constexpr int CSIDL_DESKTOP = 0x0000;
inline constexpr int CSIDL_PROGRAMS = 0x0002;
inline constexpr int CSIDL_PERSONAL = 0x0005;
inline constexpr int CSIDL_MYDOCUMENTS = 0x0005;
inline constexpr int CSIDL_FAVORITES = 0x0006;
inline constexpr int CSIDL_STARTUP = 0x0007;
inline constexpr int CSIDL_RECENT = 0x0008;
inline constexpr int CSIDL_SENDTO = 0x0009;
inline constexpr int CSIDL_STARTMENU = 0x000b;
inline constexpr int CSIDL_MYMUSIC = 0x000d;
inline constexpr int CSIDL_MYVIDEO = 0x000e;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
inline constexpr int CSIDL_NETHOOD = 0x0013;
inline constexpr int CSIDL_FONTS = 0x0014;
inline constexpr int CSIDL_TEMPLATES = 0x0015;
inline constexpr int CSIDL_COMMON_STARTMENU = 0x0016;
inline constexpr int CSIDL_COMMON_PROGRAMS = 0x0017;
inline constexpr int CSIDL_COMMON_STARTUP = 0x0018;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x0019;
inline constexpr int CSIDL_APPDATA = 0x001a;
inline constexpr int CSIDL_PRINTHOOD = 0x001b;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x001c;
inline constexpr int CSIDL_COMMON_FAVORITES = 0x001f;
inline constexpr int CSIDL_INTERNET_CACHE = 0x0020;
inline constexpr int CSIDL_COOKIES = 0x0021;
inline constexpr int CSIDL_HISTORY = 0x0022;
inline constexpr int CSIDL_COMMON_APPDATA = 0x0023;
inline constexpr int CSIDL_WINDOWS = 0x0024;
inline constexpr int CSIDL_SYSTEM = 0x0025;
inline constexpr int CSIDL_PROGRAM_FILES = 0x0026;
inline constexpr int CSIDL_MYPICTURES = 0x0027;
inline constexpr int CSIDL_PROFILE = 0x0028;
inline constexpr int CSIDL_SYSTEMX86 = 0x0029;
inline constexpr int CSIDL_PROGRAM_FILESX86 = 0x002a;
inline constexpr int CSIDL_PROGRAM_FILES_COMMON = 0x002b;
inline constexpr int CSIDL_PROGRAM_FILES_COMMONX86 = 0x002c;
inline constexpr int CSIDL_COMMON_TEMPLATES = 0x002d;
inline constexpr int CSIDL_COMMON_DOCUMENTS = 0x002e;
inline constexpr int CSIDL_COMMON_ADMINTOOLS = 0x002f;
inline constexpr int CSIDL_ADMINTOOLS = 0x0030;
inline constexpr int CSIDL_COMMON_MUSIC = 0x0035;
inline constexpr int CSIDL_COMMON_PICTURES = 0x0036;
inline constexpr int CSIDL_COMMON_VIDEO = 0x0037;
inline constexpr int CSIDL_RESOURCES = 0x0038;
inline constexpr int CSIDL_CDBURN_AREA = 0x003b;
inline constexpr int CSIDL_FLAG_DONT_VERIFY = 0x4000;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;
inline constexpr int CSIDL_FLAG_MASK = 0xFF00;

inline constexpr DWORD SHGFP_TYPE_CURRENT = 0;
inline constexpr DWORD SHGFP_TYPE_DEFAULT = 1;

// The folder of `csidl` (flags ORed in as Windows allows) for the machine's user:
//   S_OK and the path; E_INVALIDARG for an unknown CSIDL; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
//   when the folder does not exist (unless CSIDL_FLAG_CREATE creates it with its parents, or
//   CSIDL_FLAG_DONT_VERIFY skips the check). `window` and `token` are ignored.
HRESULT SHGetFolderPathW(void* window, int csidl, void* token, DWORD flags, std::wstring& path);
// TRUE-style result: the path when the folder exists or, with `create`, was created.
bool SHGetSpecialFolderPathW(void* window, std::wstring& path, int csidl, bool create);
// The same into a buffer of MAX_PATH (260) characters, as Windows fills it.
bool SHGetSpecialFolderPathW(void* window, wchar_t* path, int csidl, bool create);

// The path of `csidl` (flags ignored) for the user `user` (a profile name; empty = the machine's
// user) on a machine with `config`, whether or not it exists; empty for an unknown CSIDL.
std::wstring SpecialFolderPath(const MachineConfig& config, int csidl,
                               const std::wstring& user = {});

// The profile folders: "C:\Users" (or "C:\Documents and Settings"), a user's profile, and the
// names of the common (Public / All Users) and default (Default / Default User) profiles.
std::wstring ProfilesDirectory(const MachineConfig& config);
std::wstring ProfilePath(const MachineConfig& config, const std::wstring& user);
std::wstring PublicProfileName(const MachineConfig& config);
std::wstring DefaultProfileName(const MachineConfig& config);
bool IsXpLayout(const MachineConfig& config);

// Every CSIDL this service knows (for tests and `tlmachine`).
std::vector<int> KnownCsidls();
// A per-user CSIDL (its folder lies in a user's profile)?
bool IsPerUserCsidl(int csidl);

// Creates the profiles of a fresh machine with their per-user folders (the user, the second
// user, Default) and the common folders (Public / All Users, ProgramData). Run by Machine::Init.
void CreateProfiles(const Machine& machine);

}  // namespace platform
