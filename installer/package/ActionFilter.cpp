#include "package/ActionFilter.h"

#include "platform/Text.h"

namespace CommonTools {

namespace {

const wchar_t* ActionTag(int action) {
  switch (action) {
    case 0: return L"|INSTALL|";
    case 1: return L"|UPDATE|";
    case 2: return L"|UPDATEONLY|";
    case 7: return L"|REPAIR|";
    case 9: return L"|UNINSTALL|";
    default: return nullptr;
  }
}

const wchar_t* KindTag(int kind) {
  switch (kind) {
    case 3: return L"|SERVER|";
    case 4: return L"|LOCAL|";
    case 5: return L"|CLIENT|";
    default: return nullptr;
  }
}

bool Contains(const std::wstring& text, const wchar_t* tag) {
  return tag && text.find(tag) != std::wstring::npos;
}

}  // namespace

bool MatchesIgnoreFor(const std::wstring& value, int action, int kind) {
  const std::wstring text = platform::ToUpper(L"|" + value + L"|");
  const bool a = Contains(text, ActionTag(action)) || Contains(text, L"|ALLACTIONS|");
  const bool k = Contains(text, KindTag(kind));
  const bool anyAction = Contains(text, L"|UPDATE|") || Contains(text, L"|REPAIR|") ||
                         Contains(text, L"|UPDATEONLY|") || Contains(text, L"|UNINSTALL|") ||
                         Contains(text, L"|INSTALL|");
  const bool anyKind =
      Contains(text, L"|SERVER|") || Contains(text, L"|LOCAL|") || Contains(text, L"|CLIENT|");
  if (a && k) return true;
  if (a) return !anyKind;
  if (k) return !anyAction;
  return false;
}

bool IsIgnoreForTag(const std::wstring& tag) {
  static const wchar_t* const kTags[] = {L"INSTALL", L"UPDATE",    L"UPDATEONLY",
                                         L"REPAIR",  L"UNINSTALL", L"ALLACTIONS",
                                         L"SERVER",  L"LOCAL",     L"CLIENT"};
  const std::wstring upper = platform::ToUpper(tag);
  for (const wchar_t* t : kTags)
    if (upper == t) return true;
  return false;
}

}  // namespace CommonTools
