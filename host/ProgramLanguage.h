#pragma once
// The language of the toolkit's own texts (the buttons and labels that GTK and wxWidgets draw
// themselves: the file chooser, the progress dialog's time labels, stock buttons) follows the
// language chosen in the language file, by its code (a Windows language identifier: 1049 is
// Russian, 1033 English; the library's default code 2000 is English).

#include <string>

namespace morlane {

// The ISO 639 name of a language code ("ru" for 1049), "" for one the table does not know.
std::string IsoLanguageOf(int code);

// Before the toolkit starts: GTK's texts in that language (the LANGUAGE variable of gettext,
// set over the session's own). "" does nothing.
void SetToolkitLanguageEarly(const std::string& iso);
// Once the toolkit runs: wxWidgets' own texts from its catalogue for that language, when it is
// installed (nothing otherwise: the texts stay English).
void SetToolkitLanguage(const std::string& iso);

}  // namespace morlane
