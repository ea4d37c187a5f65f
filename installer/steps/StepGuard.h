// The one guard of every operation a step cannot take back or that opens the machine wider:
// deleting a file, a folder tree or a key, climbing over emptied parents, sharing a folder,
// writing an access list and starting a program. Steps, removals and roll-backs reach those
// operations only through it (the raw machine calls live here and in the tree walker of
// FileUtilities, which refuses protected places on its own).
//
// The guard knows two things:
// - the protected places (IsProtectedFolder): drive roots, the Windows folder and every folder
//   in it, the special folders of the machine and of every profile, and every folder that holds
//   one of them. These are never deleted, emptied, shared or re-secured, whoever asks;
// - what this product put on the machine: the items this run made, and the items earlier runs
//   made, kept per product in its installed-items file beside the installed-products record.
//   A removal takes only those; a product installed before the file existed is removed by the
//   script's own names, bounded to its folder.
//
// One object per run, owned by the install manager and handed to the steps as it stands.
#pragma once

#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/Text.h"

#include <map>
#include <set>
#include <string>

namespace InstallSteps {

using PathSet = std::set<std::wstring, platform::NoCaseLess>;

// What one product put on the machine, as its installed-items file keeps it.
struct InstalledItems {
  std::wstring pv;
  int version = 0;
  std::wstring base;  // the product folder the run's names were relative to
  PathSet paths;      // files and folders the product made (full paths)
  PathSet keys;       // keys it made: "HKLM\SOFTWARE\X" (HKLM, HKCU, HKCR)
  std::map<std::wstring, std::wstring, platform::NoCaseLess> shares;  // name -> shared folder
  bool Empty() const { return paths.empty() && keys.empty() && shares.empty(); }
};

// The installed-items file of (pv, version) in the folder of the installed-products record:
// "TolmeraInstall.<pv>.<version>.items" (characters other than letters, digits, "-" and "_" in
// the key become "_").
std::wstring InstalledItemsPath(const std::wstring& recordPath, const std::wstring& pv,
                                int version);
// Reads the file (a regular file of at most kMaxItemsFileBytes). False with `error` empty when
// there is none; false with the reason when it is not a file of this kind.
constexpr std::uint64_t kMaxItemsFileBytes = 8u << 20;
bool LoadInstalledItems(const std::wstring& path, InstalledItems& items, std::wstring& error);
// Writes the file anew through a temporary file that replaces it (a crash leaves the old one).
bool SaveInstalledItems(const std::wstring& path, const InstalledItems& items);

// A key's name in the installed-items file.
std::wstring KeyItem(platform::HKEY root, const std::wstring& key);

class StepGuard {
 public:
  // ---- what needs no run: the protected places and the programs of the machine ----
  // A program may be started only from a place of the machine (never a drive that maps the
  // host's folders, never a network path that leads out of the machine).
  static bool IsMachineProgram(const std::wstring& program);
  // Starts a program through the guard: `program` (already found) must be one of the
  // machine's; the arguments are passed as they stand, never to a shell.
  static platform::DWORD StartProgram(const std::wstring& program, const std::wstring& line,
                                      const platform::StartupInfo& startup,
                                      platform::ProcessHandle& process);
  // Writes the access list of a file or folder; refused (ERROR_ACCESS_DENIED, level-0 line)
  // for a protected place.
  static platform::DWORD WriteDacl(const std::wstring& path, platform::SECURITY_INFORMATION what,
                                   const platform::ACL* acl);
  // The same change as a read of the list, `edit` and WriteDacl, with the path resolved once
  // (platform::EditFileDacl): a protected place is refused once `edit` has made the new list,
  // and that refusal is the write's.
  static platform::DWORD EditDacl(const std::wstring& path, const platform::FileDaclEdit& edit,
                                  platform::DaclEditStage& stage);
  // The installer's own files (the record, the installed-items file, the kept uninstaller):
  // a regular file is deleted now, or at the next start; never a folder.
  static bool DeleteOwnFile(const std::wstring& path);
  static bool DeleteOwnFileAtRestart(const std::wstring& path);
  // Takes back a deletion of one of those files that waits for the next start (a run that
  // writes or keeps the file for itself before that start, after a run that ended early).
  static bool KeepOwnFileAtRestart(const std::wstring& path);
  // The share primitives: a share of a protected place is refused (ERROR_ACCESS_DENIED), but
  // for the rights probe's own momentary share; a share is deleted by its name (empty: none).
  static platform::DWORD AddShare(const platform::SHARE_INFO_502& record,
                                  platform::DWORD* parmError);
  static platform::DWORD DeleteShare(const std::wstring& name);
  // Deletes a value; refused for a protected key.
  static platform::LSTATUS DeleteValue(platform::HKEY root, const std::wstring& key,
                                       const std::wstring& name);

  // ---- the run ----
  // The product folder of this run: false, with a level-0 line naming `who` and the folder,
  // when it is no full path of this machine or is a protected place.
  bool BeginRun(const std::wstring& productFolder, const wchar_t* who);
  const std::wstring& ProductFolder() const { return m_product; }
  // The path is the product folder or lies below it.
  bool IsInsideProduct(const std::wstring& path) const;
  // The folder that holds the product folder: the family's common files lie there, beside it.
  std::wstring FamilyFolder() const;
  static bool IsInside(const std::wstring& path, const std::wstring& folder);
  // Earlier runs' items of this product (the installed-items file); `found` false: the product
  // was installed before such files were kept.
  void UseProductItems(const InstalledItems& items, bool found);
  bool HasProductItems() const { return m_haveItems; }
  void SetRollingBack(bool on) { m_rollingBack = on; }
  bool RollingBack() const { return m_rollingBack; }
  // Forgets what this run made (a new run begins).
  void ForgetRun();

  // What this run makes: the path and every missing folder above it, before they are made.
  void NoteMissing(const std::wstring& path);
  // The files below `folder` that are not in `before` (a listing taken with ListFiles).
  void NoteNewFiles(const std::wstring& folder, const PathSet& before);
  static PathSet ListFiles(const std::wstring& folder);
  // The key (and every missing key above it) before it is created.
  void NoteMissingKey(platform::HKEY root, const std::wstring& key);
  void NoteShare(const std::wstring& name, const std::wstring& folder);
  bool MadeByRun(const std::wstring& path) const { return m_run.paths.count(path) != 0; }
  bool MadeByProduct(const std::wstring& path) const;
  bool KeyMadeByProduct(platform::HKEY root, const std::wstring& key) const;
  // This run's items with the product's earlier ones (what the file keeps after this run).
  InstalledItems AllItems(const std::wstring& pv, int version) const;
  const InstalledItems& RunItems() const { return m_run; }

  // ---- the operations ----
  // Whether a removal may take `path` (a file or a folder tree): inside the product folder, no
  // protected place, in a roll-back made by this run, with the product's items made by it. A
  // refusal of a path outside is a level-0 line with `step` in front; keeping what was there
  // before is a level-2 line.
  bool MayRemove(const std::wstring& path, const wchar_t* step) const;
  // The same for a place outside the product folder (a link on the desktop): inside `within`.
  bool MayRemoveIn(const std::wstring& path, const std::wstring& within, const wchar_t* step,
                   bool shared = false) const;
  bool DeleteFileIn(const std::wstring& path, const std::wstring& within, const wchar_t* step,
                    bool shared = false);
  // A file; true when it is gone.
  bool DeleteFile(const std::wstring& path, const wchar_t* step);
  // A folder tree (through DeleteFolder); a folder the product did not make but filled loses
  // only what the product put in it. True when the removal was allowed.
  // `shared`: a common folder of the family, which the last product of the family removes
  // whoever of them made it (still inside `within`, never a protected place).
  bool DeleteFolderTree(const std::wstring& path, const wchar_t* step,
                        const std::wstring& within = L"", bool shared = false);
  // The parents of `path` that the removal left empty, nearest first, up to `stop` (exclusive;
  // empty: no end but the first folder that is kept): never a protected place, never one the
  // product did not make; a product without items file climbs no higher than its folder (or
  // than `stop`).
  // With `logged` each folder goes through DeleteFolder (with its log lines, and removal at the
  // next start when it cannot go now), as the folder step's climb always has.
  void RemoveEmptyParents(const std::wstring& path, const std::wstring& stop = L"",
                          bool logged = false);
  // One empty folder, when the product made it (without items file: when it lies in `within`).
  bool RemoveEmptyFolder(const std::wstring& path, const std::wstring& within, bool logged = false);

  // Keys: whether a removal may delete the key tree (a protected key never; with the product's
  // items only a key it made).
  bool MayRemoveKey(platform::HKEY root, const std::wstring& key, const wchar_t* step) const;
  platform::LSTATUS DeleteKeyTree(platform::HKEY root, const std::wstring& key,
                                  const wchar_t* step);
  // The climb over parents the removal emptied: only keys this product made.
  void RemoveEmptyParentKeys(platform::HKEY root, const std::wstring& key);

  // Shares: a folder may be shared only when it lies inside the product folder and is no
  // protected place; a share is removed only when this product made it for that folder.
  bool MayShare(const std::wstring& folder, const wchar_t* step) const;
  bool MayRemoveShare(const std::wstring& name, const std::wstring& folder,
                      const wchar_t* step) const;
  // Access lists and read-only flags: only inside the product folder, never a protected place.
  bool MayResecure(const std::wstring& path, const wchar_t* step) const;

 private:
  // A protected place's access list is never changed: said in the log, true when refused.
  static bool RefusesAccessList(const std::wstring& path);

  std::wstring m_product;
  InstalledItems m_run;   // what this run made
  InstalledItems m_done;  // what earlier runs of the product made
  bool m_haveItems = false;
  bool m_rollingBack = false;
};

}  // namespace InstallSteps
