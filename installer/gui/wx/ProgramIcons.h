// The program's own icons (the resources 128, setup, and 141, removal), drawn here: the window
// shows one when the script's icon file gives none.
#pragma once

#include <wx/icon.h>

namespace InstallGui {

// The icon of resource `id`; resource 128 for an ID the program does not have.
wxIcon ProgramIcon(int id);

}  // namespace InstallGui
