// The share step: permissions from "read"/"write" and from the "Access" letters, the folder's
// Everyone entry beside its other entries, removal by name, a repair that meets its shares, and
// the share probe.
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/ShellFolders.h"
#include "steps/ShareStep.h"
#include "steps/tests/StepsFixture.h"

#include <algorithm>

using namespace InstallManager;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\TOLMERA\\Server";

std::vector<platform::Ace> Dacl(const std::wstring& path) {
  platform::SecurityDescriptor sd;
  EXPECT_EQ(platform::GetObjectSecurity(path, platform::SE_FILE_OBJECT, sd),
            platform::ERROR_SUCCESS);
  return sd.dacl ? *sd.dacl : std::vector<platform::Ace>{};
}

std::vector<platform::Ace> ExplicitEveryone(const std::wstring& path) {
  std::vector<platform::Ace> out;
  for (const auto& a : Dacl(path))
    if (a.sid == platform::EveryoneSid() && !(a.flags & platform::INHERITED_ACE)) out.push_back(a);
  return out;
}

platform::SHARE_INFO_502 Share(const std::wstring& name) {
  platform::SHARE_INFO_502 info;
  EXPECT_EQ(platform::NetShareGetInfo(nullptr, name, 502, info), platform::NERR_Success)
      << platform::ToUtf8(name);
  return info;
}

bool HasShare(const std::wstring& name) {
  platform::SHARE_INFO_502 info;
  return platform::NetShareGetInfo(nullptr, name, 2, info) == platform::NERR_Success;
}

class ShareStep : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    for (const wchar_t* f : {L"\\Data", L"\\Projects", L"\\Libs", L"\\Bare"})
      ASSERT_EQ(platform::CreateDirectoryWithParents(kBase + f), platform::ERROR_SUCCESS);
  }
  // A server script with these SHARE entries.
  CommonTools::SettingsNodePtr Server(const std::wstring& shares) {
    return Script(L"<SERVER>" + shares + L"</SERVER>");
  }
};

}  // namespace

TEST(SharePermissions, LettersOrReadAndWriteGiveTheBitsAndTheFolderMask) {
  using InstallSteps::EveryoneFolderMask;
  using InstallSteps::SharePermissions;
  EXPECT_EQ(SharePermissions(L"", 1, 1), 3u);
  EXPECT_EQ(SharePermissions(L"", 1, 0), 1u);
  EXPECT_EQ(SharePermissions(L"", 0, 1), 2u);
  EXPECT_EQ(SharePermissions(L"", 2, 7), 0u) << "only 1 asks";
  EXPECT_EQ(SharePermissions(L"f", 0, 0), 0x7Fu);
  EXPECT_EQ(SharePermissions(L"rd", 0, 1), 0x11u) << "letters replace read and write";
  EXPECT_EQ(SharePermissions(L"ewrdcap", 0, 0), 0x7Fu);
  EXPECT_EQ(SharePermissions(L"RW", 1, 1), 0u) << "upper case adds nothing";
  EXPECT_EQ(SharePermissions(L"x-r!", 0, 0), 1u);

  EXPECT_EQ(EveryoneFolderMask(3), 0xC0020000u);
  EXPECT_EQ(EveryoneFolderMask(0x7F), 0xF01F0000u);
  EXPECT_EQ(EveryoneFolderMask(0x11), 0x80020000u) << "delete has no folder mask of its own";
  EXPECT_EQ(EveryoneFolderMask(0x08), 0x20020000u);
  EXPECT_EQ(EveryoneFolderMask(0), 0u);
}

TEST_F(ShareStep, EntriesCreateSharesWithTheirPermissionsAndTheFolderEntryForEveryone) {
  auto root = Server(
      L"<SHARE Name=\"TlData\" Path=\"Data\" read=\"1\" write=\"1\"/>"
      L"<SHARE Name=\"TlProjects\" Path=\"Projects\" Access=\"f\"/>"
      L"<SHARE Name=\"TlLibs\" Path=\"Libs\" Access=\"rd\" read=\"0\" write=\"1\"/>"
      L"<SHARE Name=\"TlBare\" Path=\"Bare\"/>"
      L"<DIRECTORY Name=\"NotAShare\"/>");
  manager.ProcessServer(root, false, kBase);
  EXPECT_TRUE(Logged("INFO : ProcessServer: Start"));

  struct Expect {
    std::wstring name, folder;
    platform::DWORD permissions, mask;
    std::string access;
  };
  for (const Expect& e : std::vector<Expect>{{L"TlData", L"Data", 3, 0xC0020000, ""},
                                             {L"TlProjects", L"Projects", 0x7F, 0xF01F0000, "f"},
                                             {L"TlLibs", L"Libs", 0x11, 0x80020000, "rd"},
                                             {L"TlBare", L"Bare", 0, 0, ""}}) {
    const std::wstring folder = kBase + L"\\" + e.folder;
    platform::SHARE_INFO_502 s = Share(e.name);
    EXPECT_EQ(s.shi502_path, folder);
    EXPECT_EQ(s.shi502_permissions, e.permissions) << platform::ToUtf8(e.name);
    EXPECT_EQ(s.shi502_type, platform::STYPE_DISKTREE);
    EXPECT_EQ(s.shi502_max_uses, platform::SHI_USES_UNLIMITED);
    EXPECT_TRUE(s.shi502_remark.empty());
    auto everyone = ExplicitEveryone(folder);
    ASSERT_EQ(everyone.size(), 1u) << platform::ToUtf8(e.name);
    EXPECT_EQ(everyone[0].mask, e.mask) << platform::ToUtf8(e.name);
    EXPECT_EQ(everyone[0].flags & 3, 3) << "inherited by folders and files below";
    EXPECT_TRUE(Logged("INFO : CommonStepShare: Folder = " + platform::ToUtf8(folder) +
                       " was shared as " + platform::ToUtf8(e.name) + " with permissions " +
                       e.access + "\r\n"))
        << platform::ToUtf8(debug);
  }
  EXPECT_FALSE(Logged("is not sharing"));
}

TEST_F(ShareStep, TheEveryoneEntryJoinsTheFolderListAndNeverLeavesEveryoneAlone) {
  const std::wstring folder = kBase + L"\\Data";
  // A list of its own: administrators, SYSTEM, the owner, and an earlier Everyone entry.
  platform::PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;CO)(A;OICI;0x1200a9;;;WD)",
      platform::SDDL_REVISION_1, &sd, nullptr));
  bool present = false, defaulted = false;
  platform::ACL* acl = nullptr;
  ASSERT_TRUE(platform::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  ASSERT_EQ(platform::SetNamedSecurityInfoW(
                folder.c_str(), platform::SE_FILE_OBJECT,
                platform::DACL_SECURITY_INFORMATION | platform::PROTECTED_DACL_SECURITY_INFORMATION,
                nullptr, nullptr, acl, nullptr),
            platform::ERROR_SUCCESS);
  platform::LocalFree(sd);

  ASSERT_TRUE(InstallSteps::ShareFolder(folder, L"TlData", 3));
  auto dacl = Dacl(folder);
  auto has = [&](const platform::Sid& sid) {
    return std::any_of(dacl.begin(), dacl.end(), [&](const platform::Ace& a) {
      return a.sid == sid && a.mask == platform::FILE_ALL_ACCESS;
    });
  };
  EXPECT_TRUE(has(platform::BuiltinAdministratorsSid()));
  EXPECT_TRUE(has(platform::LocalSystemSid()));
  EXPECT_TRUE(has(platform::CreatorOwnerSid()));
  auto everyone = ExplicitEveryone(folder);
  ASSERT_EQ(everyone.size(), 1u) << "the earlier entry gives way to the new one";
  EXPECT_EQ(everyone[0].mask, 0xC0020000u);
  // The administrators can still open the folder and change its list.
  EXPECT_EQ(platform::CheckObjectAccess(folder, platform::SE_FILE_OBJECT, platform::WRITE_DAC),
            platform::ERROR_SUCCESS);
}

TEST_F(ShareStep, ARepairMeetsItsSharesInPlaceAndAnotherFoldersShareIsAFailure) {
  auto root = Server(L"<SHARE Name=\"TlData\" Path=\"Data\" read=\"1\"/>");
  manager.ProcessServer(root, false, kBase);
  debug.clear();
  manager.ProcessServer(root, false, kBase);
  const std::string folder = platform::ToUtf8(kBase + L"\\Data");
  EXPECT_TRUE(
      Logged("INFO : CommonStepShare: Folder = " + folder + " is shared as TlData already"));
  EXPECT_TRUE(Logged("INFO : CommonStepShare: Folder = " + folder + " was shared as TlData"));
  EXPECT_FALSE(Logged("is not sharing"));
  EXPECT_EQ(ExplicitEveryone(kBase + L"\\Data").size(), 1u);

  // The same name taken by a share of another folder is a real failure.
  debug.clear();
  auto other = Server(L"<SHARE Name=\"TlData\" Path=\"Projects\" read=\"1\"/>");
  manager.ProcessServer(other, false, kBase);
  EXPECT_TRUE(Logged("WARNING : CommonStepShare: Folder = " + platform::ToUtf8(kBase) +
                     "\\Projects is not sharing \r\n"));
  EXPECT_EQ(Share(L"TlData").shi502_path, kBase + L"\\Data");
}

TEST_F(ShareStep, RemovalTakesEachShareByNameAndAnEmptyNameNothing) {
  auto root = Server(
      L"<SHARE Name=\"TlData\" Path=\"Data\" read=\"1\"/>"
      L"<SHARE Name=\"TlLibs\" Path=\"Libs\" read=\"1\"/>");
  manager.ProcessServer(root, false, kBase);
  ASSERT_TRUE(InstallSteps::ShareFolder(kBase + L"\\Bare", L"Foreign", 1));
  ASSERT_TRUE(HasShare(L"TlData") && HasShare(L"TlLibs"));

  auto removal = Server(
      L"<SHARE Name=\"TlData\" Path=\"Data\"/>"
      L"<SHARE Name=\"TlLibs\" Path=\"Libs\" IgnoreFor=\"uninstall\"/>"
      L"<SHARE Name=\"\" Path=\"Bare\"/>"
      L"<SHARE Name=\"TlGone\" Path=\"Bare\"/>");
  manager.SetAction(kUninstall, kServer);
  manager.ProcessServer(removal, true, kBase);
  EXPECT_FALSE(HasShare(L"TlData"));
  EXPECT_TRUE(HasShare(L"TlLibs")) << "ignored for an uninstall";
  EXPECT_TRUE(HasShare(L"Foreign")) << "an empty name is no share";
  EXPECT_TRUE(Logged("INFO : CommonStepShare: Folder = TlData is removed status share"));
  EXPECT_TRUE(Logged("WARNING : CommonStepShare: Folder = TlGone is not removed status share"));
  EXPECT_TRUE(Logged("WARNING : CommonStepShare: Folder =  is not removed status share"));
  EXPECT_FALSE(InstallSteps::RemoveShare(L""));
}

TEST_F(ShareStep, AMissingFolderOrABadNumberEndsTheEntryWithoutStoppingTheOthers) {
  auto root = Server(
      L"<SHARE Name=\"TlMissing\" Path=\"NoSuchFolder\" read=\"1\"/>"
      L"<SHARE Name=\"TlBad\" Path=\"Data\" read=\"yes\"/>"
      L"<SHARE Name=\"TlLibs\" Path=\"Libs\" write=\"1\"/>");
  manager.ProcessServer(root, false, kBase);
  const std::string missing = platform::ToUtf8(kBase + L"\\NoSuchFolder");
  EXPECT_TRUE(Logged("WARNING : CommonStepShare: Folder = " + missing + " is not sharing \r\n"));
  EXPECT_TRUE(Logged("WARNING : Folder = " + missing + " is not set for Everyone \r\n"));
  EXPECT_FALSE(HasShare(L"TlMissing"));
  EXPECT_FALSE(HasShare(L"TlBad")) << "the step ended at the attribute";
  EXPECT_EQ(Share(L"TlLibs").shi502_permissions, 2u);
}

TEST_F(ShareStep, AnIgnoredServerNodeOrNoneSharesNothing) {
  manager.SetAction(kInstall, kServer);
  manager.ProcessServer(Script(L"<SERVER IgnoreFor=\"install\"><SHARE Name=\"TlData\" "
                               L"Path=\"Data\" read=\"1\"/></SERVER>"),
                        false, kBase);
  EXPECT_FALSE(HasShare(L"TlData"));
  manager.ProcessServer(Script(L"<INSTALL/>"), false, kBase);
  EXPECT_TRUE(Logged("INFO : ProcessServer: Start"));
  std::vector<platform::SHARE_INFO_502> all;
  ASSERT_EQ(platform::NetShareEnum(nullptr, 0, all), platform::NERR_Success);
  EXPECT_EQ(all.size(), 3u) << "the default shares only";
}

TEST_F(ShareStep, TheProbeSharesProgramFilesOnlyForAMomentAndLeavesItsListAlone) {
  std::wstring pf;
  ASSERT_TRUE(platform::SHGetSpecialFolderPathW(nullptr, pf, platform::CSIDL_PROGRAM_FILES, false));
  platform::SecurityDescriptor before, after;
  ASSERT_EQ(platform::GetObjectSecurity(pf, platform::SE_FILE_OBJECT, before),
            platform::ERROR_SUCCESS);
  EXPECT_TRUE(InstallSteps::VerifySetShareForFolder());
  ASSERT_EQ(platform::GetObjectSecurity(pf, platform::SE_FILE_OBJECT, after),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(after.ToSddl(), before.ToSddl());
  EXPECT_FALSE(HasShare(InstallSteps::kProbeShareName));
  EXPECT_TRUE(Logged("INFO : VerifySetShareForFolder: Folder = " + platform::ToUtf8(pf) +
                     " was shared as Product shared temporary folder with permissions ACCESS_READ "
                     "& ACCESS_WRITE"));
  EXPECT_TRUE(
      Logged("INFO : VerifySetShareForFolder: Folder = Product shared temporary folder is "
             "removed status share"));

  // Program Files shared already under another name: nothing is made, that share stays.
  // (another program's share: the steps never share Program Files for good)
  platform::SHARE_INFO_502 programs;
  programs.shi502_netname = L"Programs";
  programs.shi502_type = platform::STYPE_DISKTREE;
  programs.shi502_permissions = 1;
  programs.shi502_max_uses = platform::SHI_USES_UNLIMITED;
  programs.shi502_path = pf;
  ASSERT_EQ(platform::NetShareAdd(nullptr, 502, programs, nullptr), platform::NERR_Success);
  debug.clear();
  EXPECT_TRUE(InstallSteps::VerifySetShareForFolder());
  EXPECT_TRUE(HasShare(L"Programs"));
  EXPECT_TRUE(
      Logged("WARNING : VerifySetShareForFolder: Folder = Product shared temporary folder "
             "is not removed status share"));
}

namespace {
class ShareStepWithoutRights : public StepsTest {
 protected:
  platform::MachineConfig Config() override {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.elevated = false;  // under UAC without elevation
    return c;
  }
};
}  // namespace

TEST_F(ShareStepWithoutRights, TheProbeSaysNoAndTheStepSharesNothing) {
  EXPECT_FALSE(InstallSteps::VerifySetShareForFolder());
  EXPECT_TRUE(Logged("WARNING : VerifySetShareForFolder: Folder = "));
  EXPECT_TRUE(Logged(" is not sharing \r\n"));
  const std::wstring own = L"C:\\Users\\User\\Documents\\Data";
  ASSERT_EQ(platform::CreateDirectoryWithParents(own), platform::ERROR_SUCCESS);
  EXPECT_FALSE(InstallSteps::ShareFolder(own, L"TlData", 3));
  EXPECT_FALSE(HasShare(L"TlData"));
}
