#include "ProgramTexts.h"

#include "ui/MlsString.h"

#include <algorithm>
#include <iterator>

// The program's own texts with their English defaults, sorted by number. Keep
// examples/viewer-language/Morlane.lng in step: a test lists what a language of it lacks.
namespace {

constexpr ProgramTextEntry kTable[] = {
    {ProgramText::MenuFile, L"&File"},
    {ProgramText::MenuShafts, L"&Shafts"},
    {ProgramText::MenuView, L"&View"},
    {ProgramText::MenuHelp, L"&Help"},
    {ProgramText::ItemOpen, L"&Open model..."},
    {ProgramText::ItemImport, L"&Import..."},
    {ProgramText::ItemExportLeft, L"&Export left..."},
    {ProgramText::ItemExportRight, L"Export &right..."},
    {ProgramText::ItemExit, L"E&xit"},
    {ProgramText::ItemRecognize, L"&Recognize shafts..."},
    {ProgramText::ItemRecognizeSelection, L"Recognize the &selection"},
    {ProgramText::ItemShaftData, L"Shaft &data of the selection"},
    {ProgramText::ItemGrid, L"&Grid"},
    {ProgramText::ItemAxes, L"&Axes"},
    {ProgramText::ItemAbout, L"&About..."},
    {ProgramText::ToolOpen, L"Open"},
    {ProgramText::ToolImport, L"Import"},
    {ProgramText::ToolExportLeft, L"Export left"},
    {ProgramText::ToolExportRight, L"Export right"},
    {ProgramText::ToolRecognize, L"Recognize"},
    {ProgramText::ToolRecognizeSelection, L"Recognize selection"},
    {ProgramText::ToolShaftData, L"Shaft data"},
    {ProgramText::ToolGrid, L"Grid"},
    {ProgramText::ToolAxes, L"Axes"},
    {ProgramText::HelpOpen, L"Open a model file"},
    {ProgramText::HelpImport, L"Import a STEP, IGES or STL file"},
    {ProgramText::HelpExportLeft, L"Export the left model"},
    {ProgramText::HelpExportRight, L"Export the right model"},
    {ProgramText::HelpRecognize, L"Import a STEP file and recognise its shafts"},
    {ProgramText::HelpRecognizeSelection, L"Recognise the shafts of the left selection"},
    {ProgramText::HelpShaftData, L"The shaft data of the right selection"},
    {ProgramText::HelpGrid, L"Show or hide the grid"},
    {ProgramText::HelpAxes, L"Show or hide the axes"},
    {ProgramText::HelpExit, L"Close the window"},
    {ProgramText::HelpAbout, L"About this program"},
    {ProgramText::ShaftDataTitle, L"Shaft data"},
    {ProgramText::NoShaft, L"No shaft in the selection."},
    {ProgramText::ShaftWord, L"Shaft"},
    {ProgramText::SectionsWord, L"sections"},
    {ProgramText::GrooveNone, L"none"},
    {ProgramText::GrooveChevronNotch, L"chevron notch"},
    {ProgramText::GrooveRectangular, L"rectangular groove"},
    {ProgramText::GrooveCrossHole, L"cross hole"},
    {ProgramText::GrooveParallelKey, L"parallel-key groove"},
    {ProgramText::GrooveSlots, L"slots"},
    {ProgramText::AboutTitle, L"About"},
    {ProgramText::AboutText,
     L"Shows mechanical models: a model tree, a property grid and a 3D view in each of two "
     L"workspaces, with STEP, IGES and STL exchange and the recognition of shafts."},
    {ProgramText::AboutVersion, L"Version"},
    {ProgramText::ButtonOk, L"OK"},
};

}  // namespace

const ProgramTextEntry* ProgramTexts(std::size_t& count) {
  count = std::size(kTable);
  return kTable;
}

const wchar_t* ProgramDefaultText(int id) {
  const auto it =
      std::lower_bound(std::begin(kTable), std::end(kTable), id,
                       [](const ProgramTextEntry& e, int wanted) { return e.id < wanted; });
  if (it == std::end(kTable) || it->id != id) return nullptr;
  return it->text;
}

std::wstring ProgramTextOf(int id) {
  // The language file's item; the library's table has none of these numbers.
  std::wstring text = CMlsString::GetResourceString(eMessages, id);
  if (!text.empty()) return text;
  const wchar_t* fallback = ProgramDefaultText(id);
  return fallback ? fallback : L"";
}
