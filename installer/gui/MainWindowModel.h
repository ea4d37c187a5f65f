// What the main window decides without a toolkit (its progress count and Escape rules are
// CProgressState): the placement of the window, the bar and the two lines over the background
// picture, the text colour and the bar's place from the script's "ProgressBar", the shortening
// of a path in the item line, the bar's steps and the window's icon. The wx window is
// wx/DlgMain.
#pragma once

#include "package/Settings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace InstallGui {

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsPositive() const { return Width() > 0 && Height() > 0; }
  bool operator==(const PixelRect&) const = default;
};

// "r,g,b" as the script writes "ClrText": r before the first comma, g before the next, b after
// it; a missing part is 0, a part that is not a number counts as 0 (as wtol reads it), each
// part keeps its low 8 bits. The result is a COLORREF: r + 256 g + 65536 b.
std::uint32_t ParseTextColour(const std::wstring& text);
inline int ColourRed(std::uint32_t c) { return static_cast<int>(c & 0xFF); }
inline int ColourGreen(std::uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
inline int ColourBlue(std::uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }

// The script's "ProgressBar": the bar's rectangle in the window (pixels) and the text colour.
struct ProgressBarSettings {
  PixelRect rect;            // empty: the default placement
  std::uint32_t colour = 0;  // black
};
// Reads "PosX", "PosY", "Width", "Height" and "ClrText" of the root's child "ProgressBar" into
// `settings`; without the element nothing changes. A position that is not a number reads as 0.
void ReadProgressBarSettings(const CommonTools::SettingsNodePtr& root,
                             ProgressBarSettings& settings);

// Where the window, the bar and the two lines go for a background of `imageWidth` by
// `imageHeight` on a screen of `screenWidth` by `screenHeight`. A dimension of the picture
// larger than the screen takes the screen's size at position 0; otherwise the window is
// centred. The bar takes `barRect` when it has a positive size and lies inside the window,
// else the default placement (80 % of the width, 22 pixels high, centred), which `barRect`
// then keeps. The item line lies directly above the bar, the stage line 5 pixels below it.
struct MainWindowLayout {
  PixelRect window;                    // screen coordinates
  PixelRect bar, stageLine, itemLine;  // client coordinates
};
MainWindowLayout ArrangeMainWindow(int imageWidth, int imageHeight, int screenWidth,
                                   int screenHeight, PixelRect& barRect, int stageLineHeight,
                                   int itemLineHeight);

// The item line's text: a trailing "\" is dropped; when `fitOf` says fewer characters fit than
// the text has and the text holds a "\", the first folder stays, then "...\" and the shortest
// tail of whole components that fits (a last component that is still too long stays whole).
// `fitOf(text)` gives the number of leading characters of `text` that fit the line.
std::wstring ShortenItemPath(const std::wstring& text,
                             const std::function<size_t(const std::wstring&)>& fitOf);

// The program's own icon when the script's icon file gives none: 141 for an uninstallation
// (install type 9, or "Uninstall"), else 128.
inline constexpr int kIconSetup = 128;
inline constexpr int kIconUninstall = 141;
int MainWindowIconResource(const std::wstring& installType);

// The position of a bar of `steps` steps (0 to steps) for `position` of `range`, so counts of
// any size (bytes beyond 32 bits) show on a bar with a small range; beyond the range is full.
int BarSteps(std::uint64_t position, std::uint64_t range, int steps);

}  // namespace InstallGui
