#pragma once
// The texts of the `morlane` program's own window parts (menus, tool bar, the shaft data and
// about dialogs), by number, as the language file knows them (its Messages section), with the
// program's English default of each; the viewer library's texts are the library's
// (ui/TextIds.h). A text the selected language lacks, or gives empty, is the default.
//
// The numbers lie in 4000-4199, a range the library's string table does not use.

#include <cstddef>
#include <string>

namespace ProgramText {

// Menus and their items (the "&" marks the mnemonic letter; the shortcut is added by the code).
constexpr int MenuFile = 4000, MenuShafts = 4001, MenuView = 4002, MenuHelp = 4003;
constexpr int ItemOpen = 4010, ItemImport = 4011, ItemExportLeft = 4012, ItemExportRight = 4013,
              ItemExit = 4014, ItemRecognize = 4015, ItemRecognizeSelection = 4016,
              ItemShaftData = 4017, ItemGrid = 4018, ItemAxes = 4019, ItemAbout = 4020;
// The tool bar's labels.
constexpr int ToolOpen = 4030, ToolImport = 4031, ToolExportLeft = 4032, ToolExportRight = 4033,
              ToolRecognize = 4034, ToolRecognizeSelection = 4035, ToolShaftData = 4036,
              ToolGrid = 4037, ToolAxes = 4038;
// What each command does: the tool bar's tooltips and the menu items' help in the status line.
constexpr int HelpOpen = 4050, HelpImport = 4051, HelpExportLeft = 4052, HelpExportRight = 4053,
              HelpRecognize = 4054, HelpRecognizeSelection = 4055, HelpShaftData = 4056,
              HelpGrid = 4057, HelpAxes = 4058, HelpExit = 4059, HelpAbout = 4060;
// The shaft data dialog.
constexpr int ShaftDataTitle = 4070, NoShaft = 4071, ShaftWord = 4072, SectionsWord = 4073;
constexpr int GrooveNone = 4080, GrooveChevronNotch = 4081, GrooveRectangular = 4082,
              GrooveCrossHole = 4083, GrooveParallelKey = 4084, GrooveSlots = 4085;
// The about dialog and the buttons of the program's dialogs.
constexpr int AboutTitle = 4090, AboutText = 4091, AboutVersion = 4092, ButtonOk = 4093;

}  // namespace ProgramText

struct ProgramTextEntry {
  int id;
  const wchar_t* text;
};

// The whole table, sorted by number.
const ProgramTextEntry* ProgramTexts(std::size_t& count);
// The default of id; null when the program has no text of that number.
const wchar_t* ProgramDefaultText(int id);
// The text id in the selected language of the loaded language file, else its default.
std::wstring ProgramTextOf(int id);
