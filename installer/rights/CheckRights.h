// Who the user is and what the user may change, as far as the run's checks need it.
//
// This is the least the run's checks need: the answers come from the machine's configuration
// (the user's memberships, the elevation of the token, the join status). The real checks of the
// administrator rights and of the access to the registry, the Program Files folder and the
// network shares replace these answers in their own stage.
#pragma once

namespace InstallManager {

struct AdminRights {
  bool isDomainAdmin = false;
  bool registryWritable = false;      // full access to HKEY_LOCAL_MACHINE
  bool programFilesWritable = false;  // full access to the Program Files folder
  int joinStatus = 0;                 // NetGetJoinInformation: 2 workgroup, 3 domain
};

class CCheckRights {
 public:
  // A member of the local Administrators with an elevated token.
  static bool HasUserAdminRightsDoSetup();
  static void VerifyAdminRights(AdminRights& result);
  // Whether the user may share folders of this computer (what the network-share probe asks).
  static bool VerifySetShareForFolder();
};

}  // namespace InstallManager
