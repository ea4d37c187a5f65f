#include "ProgramLanguage.h"

#include <wx/intl.h>
#include <wx/translation.h>

#include <cstdlib>

namespace morlane {

namespace {

// Primary language (the low 10 bits of a Windows language identifier) and its ISO name.
struct PrimaryLanguage {
  int primary;
  const char* iso;
};

constexpr PrimaryLanguage kLanguages[] = {
    {0x04, "zh"}, {0x05, "cs"}, {0x06, "da"}, {0x07, "de"}, {0x08, "el"}, {0x09, "en"},
    {0x0A, "es"}, {0x0B, "fi"}, {0x0C, "fr"}, {0x0E, "hu"}, {0x10, "it"}, {0x11, "ja"},
    {0x12, "ko"}, {0x13, "nl"}, {0x14, "nb"}, {0x15, "pl"}, {0x16, "pt"}, {0x18, "ro"},
    {0x19, "ru"}, {0x1A, "hr"}, {0x1B, "sk"}, {0x1D, "sv"}, {0x1F, "tr"}, {0x22, "uk"},
    {0x23, "be"}, {0x24, "sl"}, {0x25, "et"}, {0x26, "lv"}, {0x27, "lt"}, {0x3F, "kk"},
};

constexpr int kLibraryDefaultCode = 2000;  // the library's own code: its English texts

}  // namespace

std::string IsoLanguageOf(int code) {
  if (code == kLibraryDefaultCode) return "en";
  if (code <= 0 || code > 0xFFFF) return {};
  const int primary = code & 0x3FF;
  for (const PrimaryLanguage& l : kLanguages)
    if (l.primary == primary) return l.iso;
  return {};
}

void SetToolkitLanguageEarly(const std::string& iso) {
  if (iso.empty()) return;
  // gettext reads LANGUAGE before the locale's own language (unless the locale is "C"); the
  // language asked for on the command line wins over the session's.
  setenv("LANGUAGE", iso.c_str(), 1);
}

void SetToolkitLanguage(const std::string& iso) {
  if (iso.empty() || iso == "en") return;
  auto* translations = new wxTranslations;
  translations->SetLanguage(wxString::FromAscii(iso.c_str()));
  translations->AddStdCatalog();
  wxTranslations::Set(translations);  // owned by the toolkit from here on
}

}  // namespace morlane
