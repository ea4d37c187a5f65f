#include "package/InstallTypes.h"

#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

namespace InstallManager {

namespace Msg = ScriptNames::Message;

namespace {
struct TypeRow {
  int value;
  const wchar_t* scriptName;
  const wchar_t* logName;
};
const TypeRow kTypes[] = {
    {kInstall, L"Install", L"Full"},
    {kUpdate, L"Update", L"Update"},
    {kOnlyUpdate, L"", L"OnlyUpdate"},
    {kServer, L"Server", L"Server"},
    {kLocal, L"Local", L"Local"},
    {kClient, L"Client", L"Client"},
    {kRepair, L"Repair", L"Repair"},
    {kChange, L"Change", L"Unknown"},
    {kUninstall, L"Uninstall", L"Uninstall"},
};

struct ResultRow {
  const wchar_t* id;
  const wchar_t* text;
};
const ResultRow kResults[] = {
    {L"", L""},
    {L"", L""},
    {Msg::kErrorDuringInstall, L"Error during installation"},
    {Msg::kErrorDuringInstall, L"Error during installation"},
    {Msg::kErrorDuringInstall, L"Error during installation"},
    {Msg::kDataStorageNotFound, L"Data storage not found"},
    {Msg::kDataStorageNotUnpacked, L"Can't unpack data storage"},
    {Msg::kScriptFileError, L"Error in script file"},
    {Msg::kScenarioError, L"Can't load scenario"},
    {Msg::kErrorDuringInstall, L"Error during installation"},
    {Msg::kLanguagesError, L"Can't load localization"},
    {Msg::kGraphicsError, L"Can't load graphic resources"},
    {Msg::kOldInstall, L"The newer version of product is already installed"},
    {Msg::kErrorDuringInstall, L"Error during installation"},
    {Msg::kCantSendEmail, L"Can't send email to manufacturer"},
    {Msg::kErrorDeleteFolder, L"Some folder cannot be removed"},
    {Msg::kErrorCreateFile,
     L"Error creating file %s: file maybe readonly or used other application"},
};
}  // namespace

int InstallTypeFromName(const std::wstring& name) {
  for (const auto& row : kTypes)
    if (*row.scriptName && platform::EqualsNoCase(name, row.scriptName)) return row.value;
  // The script format also knows these two.
  if (platform::EqualsNoCase(name, L"Full")) return kInstall;
  if (platform::EqualsNoCase(name, L"OnlyUpdate")) return kOnlyUpdate;
  return -1;
}

std::wstring InstallTypeScriptName(int type) {
  for (const auto& row : kTypes)
    if (row.value == type) return row.scriptName;
  return L"";
}

std::wstring InstallTypeLogName(int type) {
  for (const auto& row : kTypes)
    if (row.value == type) return row.logName;
  return L"Unknown";
}

std::wstring ResultMessageId(int result) {
  if (result < 0 || result > irCreateFile) return Msg::kErrorDuringInstall;
  return kResults[result].id;
}

std::wstring ResultDefaultText(int result) {
  if (result < 0 || result > irCreateFile) return L"Error during installation";
  return kResults[result].text;
}

}  // namespace InstallManager
