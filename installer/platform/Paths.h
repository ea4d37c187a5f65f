// The Windows path functions: pure string functions on Windows paths with the behaviour Windows
// documents for them, MAX_PATH limits included. Nothing here touches a file (except the two
// functions marked as asking the file layer), so they work on any path, of any machine.
#pragma once

#include "platform/Win32Errors.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::size_t MAX_PATH = 260;  // characters including the final zero

// Is `c` a path separator ('\\' or '/')?
constexpr bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// PathAppendW: appends `more` to `path` with one backslash between them; a `more` that begins
// with a backslash is appended as relative, a `more` with a drive or UNC root replaces `path`.
// The result is canonicalised (PathCanonicalizeW). False (path unchanged) when the result would
// not fit MAX_PATH.
bool PathAppendW(std::wstring& path, std::wstring_view more);
// PathCombineW: `dir` and `file` joined and canonicalised; empty result and false on overflow.
bool PathCombineW(std::wstring& out, std::wstring_view dir, std::wstring_view file);
// PathCanonicalizeW: removes "." and ".." elements ("C:\a\..\b" -> "C:\b"; ".." never climbs
// above the root), an empty result becomes "\". False when the input or result is MAX_PATH or
// longer.
bool PathCanonicalizeW(std::wstring& out, std::wstring_view path);
// PathRemoveFileSpecW: removes the last element and its backslash ("C:\a\b" -> "C:\a",
// "C:\a" -> "C:\", "\\server\share\x" -> "\\server\share"). True when something was removed.
bool PathRemoveFileSpecW(std::wstring& path);
// PathAddExtensionW: appends `ext` (".exe" when empty) unless the file name already has an
// extension. False when it has one or the result would not fit MAX_PATH.
bool PathAddExtensionW(std::wstring& path, std::wstring_view ext = {});
// PathRemoveExtensionW / PathRenameExtensionW.
void PathRemoveExtensionW(std::wstring& path);
bool PathRenameExtensionW(std::wstring& path, std::wstring_view ext);
// PathQuoteSpacesW: puts the whole path in quotes when it contains a space; false when it has
// none or the result would not fit MAX_PATH.
bool PathQuoteSpacesW(std::wstring& path);
// PathUnquoteSpacesW: removes surrounding quotes.
void PathUnquoteSpacesW(std::wstring& path);
// PathFindExtensionW: the extension of the file name including its dot (".txt"), or an empty view
// at the end of the text when there is none (a dot in a folder name or a name with a space after
// the dot does not count).
std::wstring_view PathFindExtensionW(std::wstring_view path);
// PathFindFileNameW: the last element (after the last '\', '/' or ':'), the text itself if none.
std::wstring_view PathFindFileNameW(std::wstring_view path);
// PathIsUNCW: "\\server..." or "\\?\UNC\..." (but not "\\?\C:\").
bool PathIsUNCW(std::wstring_view path);
// PathIsUNCServerW / PathIsUNCServerShareW.
bool PathIsUNCServerW(std::wstring_view path);
bool PathIsUNCServerShareW(std::wstring_view path);
// PathGetDriveNumberW: 0 for "A:..." to 25 for "Z:..." (also after "\\?\"), -1 otherwise.
int PathGetDriveNumberW(std::wstring_view path);
// PathIsURLW: a scheme of letters/digits/+-. of at least two characters, a ':' and more text
// ("http://x", "file:///C:/x", "mailto:a@b"); drive paths are not URLs.
bool PathIsURLW(std::wstring_view path);
// PathStripToRootW: "C:\a\b" -> "C:\", "\\server\share\a" -> "\\server\share", "\a" -> "\".
// False when the path has no root.
bool PathStripToRootW(std::wstring& path);
// PathRemoveBackslashW: removes one final backslash unless the path is a root ("C:\").
// Returns the position of the new end.
std::size_t PathRemoveBackslashW(std::wstring& path);
// PathAddBackslashW: appends a backslash unless there is one; false when it would not fit.
bool PathAddBackslashW(std::wstring& path);
// PathStripPathW: keeps only the file name ("C:\a\b.txt" -> "b.txt"; "C:\a\" -> "a\").
void PathStripPathW(std::wstring& path);
// PathIsRelativeW: no drive and no leading backslash.
bool PathIsRelativeW(std::wstring_view path);
// PathIsRootW: "C:\", "\", "\\server\share", "\\server".
bool PathIsRootW(std::wstring_view path);
// The length of the root of a path: 3 for "C:\x", 2 for "C:x", 1 for "\x", the length of
// "\\server\share" for UNC paths, 0 for a relative path.
std::size_t PathRootLength(std::wstring_view path);

// Does the last element (or any element) name a DOS device (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, also with an extension or trailing blanks, such as "con.txt")?
bool IsDosDeviceName(std::wstring_view element);
bool PathHasDeviceName(std::wstring_view path);
// Are the characters of the element allowed in a file name (no control characters,
// < > : " / \ | ? *)?
bool IsValidFileName(std::wstring_view element);

// The emulated process's current directories: one for the process and one per drive, in
// Windows form. They start from the environment (TOLMERA_CURRENT_DIRECTORY, and the "=C:"-style
// per-drive variables of the emulated environment, which started programs inherit) or, without
// them, from the host's current folder mapped by the file layer.
std::wstring GetCurrentDirectoryW();
// The current directory of a drive ('C'), the drive's root when none was set.
std::wstring GetCurrentDirectoryOfDrive(wchar_t drive);
// SetCurrentDirectoryW: resolves `path`, checks with the file layer that it is an existing
// folder (ERROR_PATH_NOT_FOUND / ERROR_DIRECTORY otherwise) and makes it current, for its drive
// too.
DWORD SetCurrentDirectoryW(std::wstring_view path);
// GetFullPathNameW: `name` made absolute against the current directories ("x" against the
// process's, "D:x" against drive D's, "\x" against the current drive's root), "." and ".."
// resolved (never above the root), "/" turned into "\", trailing dots and blanks of elements
// removed as Windows does. Device names give "\\.\CON". Fails with ERROR_INVALID_NAME for an
// empty name and ERROR_FILENAME_EXCED_RANGE for a result of 32767 characters or more.
DWORD GetFullPathNameW(std::wstring_view name, std::wstring& full);
// Forgets the current directories of this process; the next use starts again from the
// environment or the host's current folder (tests call it after switching machines).
void ResetCurrentDirectories();

}  // namespace platform
