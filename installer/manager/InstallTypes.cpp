#include "manager/InstallTypes.h"

#include "platform/Text.h"

namespace InstallManager {

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
    {L"MsgErrorDuringInstall", L"Error during installation"},
    {L"MsgErrorDuringInstall", L"Error during installation"},
    {L"MsgErrorDuringInstall", L"Error during installation"},
    {L"MsgDataStorageNotFound", L"Data storage not found"},
    {L"MsgDataStorageNotUnpacked", L"Can't unpack data storage"},
    {L"MsgScriptFileError", L"Error in script file"},
    {L"MsgScenarioError", L"Can't load scenario"},
    {L"MsgErrorDuringInstall", L"Error during installation"},
    {L"MsgLanguagesError", L"Can't load localization"},
    {L"MsgGraphicsError", L"Can't load graphic resources"},
    {L"MsgOldInstall", L"The newer version of product is already installed"},
    {L"MsgErrorDuringInstall", L"Error during installation"},
    {L"MsgCantSendEmail", L"Can't send email to manufacturer"},
    {L"MsgErrorDeleteFolder", L"Some folder cannot be removed"},
    {L"MsgErrorCreateFile",
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
  if (result < 0 || result > irCreateFile) return L"MsgErrorDuringInstall";
  return kResults[result].id;
}

std::wstring ResultDefaultText(int result) {
  if (result < 0 || result > irCreateFile) return L"Error during installation";
  return kResults[result].text;
}

}  // namespace InstallManager
