#include "gui/MainWindowModel.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

#include <cwctype>

namespace InstallGui {

namespace A = ScriptNames::Attribute;

namespace {

// wtol: optional blanks, an optional sign, then digits; anything else ends the number. The
// value is kept in 64 bits while it is read and saturates, so a long run of digits cannot
// overflow.
long long ReadNumber(const std::wstring& s) {
  size_t i = 0;
  while (i < s.size() && std::iswspace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
  long long v = 0;
  for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
    if (v < 0x7FFFFFFF) v = v * 10 + (s[i] - L'0');
  }
  if (v > 0x7FFFFFFF) v = 0x7FFFFFFF;
  return negative ? -v : v;
}

std::uint32_t Low8(long long v) { return static_cast<std::uint32_t>(v) & 0xFF; }

// An integer attribute; a text that is not a number gives `def` (logged), never an exception.
int ReadInt(const CommonTools::SettingsNodePtr& node, const std::wstring& name, int def) {
  try {
    return CommonTools::GetInt(node, name, def);
  } catch (const CommonTools::SettingsError&) {
    CommonTools::LogLine(
        CommonTools::LogLevel::Warning,
        L"ProgressBar: \"" + name + L"\" is not a number; " + std::to_wstring(def) + L" is used");
    return def;
  }
}

}  // namespace

std::uint32_t ParseTextColour(const std::wstring& text) {
  long long r = 0, g = 0, b = 0;
  size_t first = text.find(L',');
  if (first == std::wstring::npos) {
    r = ReadNumber(text);
  } else {
    r = ReadNumber(text.substr(0, first));
    std::wstring rest = text.substr(first + 1);
    size_t second = rest.find(L',');
    if (second == std::wstring::npos) {
      g = ReadNumber(rest);
    } else {
      g = ReadNumber(rest.substr(0, second));
      b = ReadNumber(rest.substr(second + 1));
    }
  }
  return Low8(r) + 256 * Low8(g) + 65536 * Low8(b);
}

void ReadProgressBarSettings(const CommonTools::SettingsNodePtr& root,
                             ProgressBarSettings& settings) {
  CommonTools::SettingsNodePtr bar;
  try {
    if (!root || !root->GetChild(ScriptNames::Element::kProgressBar, bar) || !bar) return;
  } catch (const CommonTools::SettingsError&) {
    return;
  }
  int x = ReadInt(bar, A::kPosX, 0), y = ReadInt(bar, A::kPosY, 0);
  int w = ReadInt(bar, A::kWidth, 0), h = ReadInt(bar, A::kHeight, 0);
  // Sums in 64 bits: a huge position must not wrap round into a small rectangle.
  auto clamp = [](long long v) {
    return static_cast<int>(v > 0x3FFFFFFF ? 0x3FFFFFFF : v < -0x3FFFFFFF ? -0x3FFFFFFF : v);
  };
  settings.rect = {clamp(x), clamp(y), clamp(static_cast<long long>(x) + w),
                   clamp(static_cast<long long>(y) + h)};
  std::wstring colour = L"0";
  try {
    colour = CommonTools::GetText(bar, A::kClrText, L"0");
  } catch (const CommonTools::SettingsError&) {
    colour = L"0";
  }
  if (!colour.empty()) settings.colour = ParseTextColour(colour);
}

MainWindowLayout ArrangeMainWindow(int imageWidth, int imageHeight, int screenWidth,
                                   int screenHeight, PixelRect& barRect, int stageLineHeight,
                                   int itemLineHeight) {
  MainWindowLayout out;
  int w = imageWidth, h = imageHeight;
  int x = 0, y = 0;
  if (w > screenWidth)
    w = screenWidth;
  else
    x = (screenWidth - w) / 2;
  if (h > screenHeight)
    h = screenHeight;
  else
    y = (screenHeight - h) / 2;
  out.window = {x, y, x + w, y + h};

  bool inside = barRect.IsPositive() && barRect.left >= 0 && barRect.top >= 0 &&
                barRect.right <= w && barRect.bottom <= h;
  if (!inside) {
    int l = static_cast<int>(w * 0.8) / 2;
    barRect = {w / 2 - l, h / 2 - 11, w / 2 + l, h / 2 + 11};
  }
  out.bar = barRect;
  int left = barRect.left;
  int width = w - 2 * left;
  if (width < 0) width = 0;
  out.stageLine = {left, barRect.bottom + 5, left + width, barRect.bottom + 5 + stageLineHeight};
  out.itemLine = {left, barRect.top - itemLineHeight - 1, left + width, barRect.top - 1};
  return out;
}

std::wstring ShortenItemPath(const std::wstring& text,
                             const std::function<size_t(const std::wstring&)>& fitOf) {
  std::wstring t = text;
  if (!t.empty() && t.back() == L'\\') t.pop_back();
  if (t.empty() || !fitOf) return t;
  size_t fit = fitOf(t);
  size_t slash = t.find(L'\\');
  if (fit >= t.size() || slash == std::wstring::npos) return t;
  std::wstring head = t.substr(0, slash + 1);
  std::wstring rest = t.substr(slash + 1);
  size_t room = fit > head.size() ? fit - head.size() : 0;
  while (rest.size() > room) {
    size_t next = rest.find(L'\\');
    if (next == std::wstring::npos) break;
    rest.erase(0, next + 1);
  }
  return head + L"...\\" + rest;
}

int MainWindowIconResource(const std::wstring& installType) {
  bool uninstall = platform::EqualsNoCase(installType, ScriptNames::Value::kUninstall) ||
                   platform::Trim(installType) == L"9";
  return uninstall ? kIconUninstall : kIconSetup;
}

int BarSteps(std::uint64_t position, std::uint64_t range, int steps) {
  if (range == 0 || steps <= 0) return 0;
  if (position >= range) return steps;
  long double f = static_cast<long double>(position) / static_cast<long double>(range);
  int v = static_cast<int>(f * steps);
  return v < 0 ? 0 : v > steps ? steps : v;
}

}  // namespace InstallGui
