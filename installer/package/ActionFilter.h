// The action filter of the script: the "IgnoreFor" tags that keep a node (or a macro) out of
// some actions and installation kinds.
#pragma once

#include <string>

namespace CommonTools {

// Whether the tag list `value` (tags between "|", any case, e.g. "Update|Client") selects the
// run with the install type `action` (0 install, 1 update, 2 only-update, 7 repair,
// 9 uninstall) and the installation kind `kind` (3 server, 4 local, 5 client, else none).
// A list naming only actions (or only kinds) selects those actions (or kinds); a list naming
// both selects only where one of its actions meets one of its kinds. "AllActions" stands for
// every action. An empty value is handled by the callers (it never selects).
bool MatchesIgnoreFor(const std::wstring& value, int action, int kind);

// Whether one tag of such a list (the text between two "|") is one the filter knows, in any
// case: INSTALL, UPDATE, UPDATEONLY, REPAIR, UNINSTALL, ALLACTIONS, SERVER, LOCAL, CLIENT.
// A tag with blanks around it is not ("Local " never matches).
bool IsIgnoreForTag(const std::wstring& tag);

}  // namespace CommonTools
