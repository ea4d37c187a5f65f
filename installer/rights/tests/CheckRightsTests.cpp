#include "testing/MachineFixture.h"
#include "rights/CheckRights.h"

#include <gtest/gtest.h>

using InstallManager::AdminRights;
using InstallManager::CCheckRights;

namespace {

// A machine of its own configuration, made current for the test.
class ConfiguredMachine {
 public:
  explicit ConfiguredMachine(const platform::MachineConfig& config) {
    std::string root = m_base.Base() + "/configured";
    platform::Machine::Init(root, config);
    platform::Machine::SetCurrentForProcess(root);
  }

 private:
  tltest::ScopedMachine m_base;
};

}  // namespace

TEST(CheckRights, ElevatedAdministratorInAWorkgroup) {
  ConfiguredMachine m(platform::MachineConfig::Defaults());
  EXPECT_TRUE(CCheckRights::HasUserAdminRightsDoSetup());
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_TRUE(r.registryWritable);
  EXPECT_TRUE(r.programFilesWritable);
  EXPECT_FALSE(r.isDomainAdmin);
  EXPECT_EQ(r.joinStatus, 2);
  EXPECT_TRUE(CCheckRights::VerifySetShareForFolder());
}

TEST(CheckRights, UsersWithoutElevationOrMembership) {
  {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.elevated = false;
    ConfiguredMachine m(c);
    EXPECT_FALSE(CCheckRights::HasUserAdminRightsDoSetup());
    AdminRights r;
    CCheckRights::VerifyAdminRights(r);
    EXPECT_FALSE(r.registryWritable);
    EXPECT_FALSE(CCheckRights::VerifySetShareForFolder());
  }
  {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.memberships = {L"Users"};
    ConfiguredMachine m(c);
    EXPECT_FALSE(CCheckRights::HasUserAdminRightsDoSetup());
  }
}

TEST(CheckRights, DomainAdministrator) {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.join = platform::JoinStatus::Domain;
  c.domain = L"CORP";
  c.memberships = {L"Administrators", L"domain admins"};
  ConfiguredMachine m(c);
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_TRUE(r.isDomainAdmin);
  EXPECT_EQ(r.joinStatus, 3);
}
