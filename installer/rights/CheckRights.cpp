#include "rights/CheckRights.h"

#include "platform/Machine.h"
#include "platform/Text.h"

namespace InstallManager {

namespace {
bool IsMember(const wchar_t* group) {
  for (const auto& m : platform::CurrentConfig().memberships)
    if (platform::EqualsNoCase(m, group)) return true;
  return false;
}
}  // namespace

bool CCheckRights::HasUserAdminRightsDoSetup() {
  return IsMember(L"Administrators") && platform::CurrentConfig().elevated;
}

void CCheckRights::VerifyAdminRights(AdminRights& result) {
  const auto& config = platform::CurrentConfig();
  bool admin = HasUserAdminRightsDoSetup();
  result.registryWritable = admin;
  result.programFilesWritable = admin;
  result.isDomainAdmin = config.join == platform::JoinStatus::Domain && IsMember(L"Domain Admins");
  switch (config.join) {
    case platform::JoinStatus::Unjoined: result.joinStatus = 1; break;
    case platform::JoinStatus::Workgroup: result.joinStatus = 2; break;
    case platform::JoinStatus::Domain: result.joinStatus = 3; break;
    default: result.joinStatus = 0; break;
  }
}

bool CCheckRights::VerifySetShareForFolder() { return HasUserAdminRightsDoSetup(); }

}  // namespace InstallManager
