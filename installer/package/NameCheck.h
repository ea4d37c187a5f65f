// Names of a script that must stay inside the folder they are relative to: the "Name" and
// "Target" of a DIRECTORY or FILE, a shortcut's Start-menu folder and link name, a registry
// key, the folder of a SHARE or of a rights entry. Such a name is refused when it is absolute
// (a drive, a root, a network or device path), climbs (a ".." component, or a component of
// dots alone, which Windows reads as one), names a device (CON, NUL, COM1, ...), or carries a
// stream (":"). The step that reads the name and `tlpack check` give the same reason.
#pragma once

#include <string>
#include <string_view>

namespace CommonTools {

// Empty when `name` ("/" or "\" between its parts) stays inside the folder it is relative to;
// otherwise why it does not ("it is an absolute path", ...). An empty name stays inside.
// `climbs` leading levels of ".." are allowed (the target folder of the family's common files
// lies beside the product folder: "..\\Common"); with `absolute` a full path is taken as it
// stands (a step that checks where it lands, such as a share inside the product folder).
std::wstring NameOutsideReason(std::wstring_view name, int climbs = 0, bool absolute = false);

// A full path of a drive: "C:\\..." or "C:/...".
inline bool IsFullPath(std::wstring_view name) {
  return name.size() >= 3 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/');
}

// The same for a registry key below its root: a key path has no ".." of its own, so only a
// name that starts at a root ("\\", "HKEY_...\\") or holds an empty part is refused.
std::wstring KeyOutsideReason(std::wstring_view key);

}  // namespace CommonTools
