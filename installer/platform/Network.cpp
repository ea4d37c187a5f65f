#include "platform/Network.h"

#include "platform/Machine.h"
#include "platform/Shares.h"
#include "platform/Text.h"

#include <optional>
#include <set>

namespace platform {

struct NetEnumeration {
  std::vector<NetResource> entries;
  size_t next = 0;
};

namespace {

const wchar_t kProvider[] = L"Microsoft Windows Network";

struct Computer {
  std::wstring name, workgroup;
  std::optional<std::string> root;
};

std::vector<Computer> Computers(const MachineConfig& config, const std::string& ownRoot) {
  std::vector<Computer> out;
  std::wstring own = config.join == JoinStatus::Domain ? config.domain : config.workgroup;
  out.push_back({config.computerName, own, ownRoot});
  for (const auto& c : config.network)
    out.push_back({c.name, c.workgroup.empty() ? own : c.workgroup, c.machineRoot});
  return out;
}

NetResource Container(DWORD display, std::wstring remote) {
  NetResource r;
  r.displayType = display;
  r.usage = RESOURCEUSAGE_CONTAINER;
  r.remoteName = std::move(remote);
  r.provider = kProvider;
  return r;
}

}  // namespace

std::vector<std::wstring> SharesOfMachineRoot(const std::string& machineRoot) {
  std::vector<std::wstring> out;
  for (const SHARE_INFO_502& s : StoredShares(machineRoot))
    if (s.shi502_type == STYPE_DISKTREE) out.push_back(s.shi502_netname);
  return out;
}

DWORD WNetOpenEnumW(DWORD scope, DWORD type, DWORD usage, const NetResource* container,
                    NetEnumHandle& handle) {
  handle.reset();
  (void)scope;
  (void)usage;
  Machine& machine = Machine::Current();
  const MachineConfig& config = machine.Config();
  auto it = config.raw.find("machine/network");
  if (it != config.raw.end() && EqualsNoCase(it->second, L"no")) return ERROR_NO_NETWORK;
  auto e = std::make_shared<NetEnumeration>();
  std::vector<Computer> computers = Computers(config, machine.Root());
  bool isRoot = !container || (container->remoteName.empty() && container->provider.empty());
  if (isRoot) {
    NetResource p = Container(RESOURCEDISPLAYTYPE_NETWORK, L"");
    p.comment = kProvider;
    e->entries.push_back(p);
  } else if (container->remoteName.empty()) {
    if (!EqualsNoCase(container->provider, kProvider)) return ERROR_INVALID_PARAMETER;
    // The provider: its workgroups, each once, in the order machine.ini names them.
    std::set<std::wstring> seen;
    for (const auto& c : computers)
      if (seen.insert(ToUpper(c.workgroup)).second)
        e->entries.push_back(Container(RESOURCEDISPLAYTYPE_DOMAIN, c.workgroup));
  } else if (StartsWithNoCase(container->remoteName, L"\\\\")) {
    std::wstring name = container->remoteName.substr(2);
    if (name.find(L'\\') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
    const Computer* found = nullptr;
    for (const auto& c : computers)
      if (EqualsNoCase(c.name, name)) found = &c;
    if (!found) return ERROR_BAD_NETPATH;
    if (found->root)
      for (const auto& share : SharesOfMachineRoot(*found->root)) {
        NetResource r;
        r.type = RESOURCETYPE_DISK;
        r.displayType = RESOURCEDISPLAYTYPE_SHARE;
        r.usage = RESOURCEUSAGE_CONNECTABLE;
        r.remoteName = L"\\\\" + found->name + L"\\" + share;
        r.provider = kProvider;
        e->entries.push_back(r);
      }
  } else {
    bool any = false;
    for (const auto& c : computers) {
      if (!EqualsNoCase(c.workgroup, container->remoteName)) continue;
      any = true;
      e->entries.push_back(Container(RESOURCEDISPLAYTYPE_SERVER, L"\\\\" + c.name));
    }
    if (!any) return ERROR_BAD_NETPATH;
  }
  handle = e;
  return ERROR_SUCCESS;
}

DWORD WNetEnumResourceW(const NetEnumHandle& handle, DWORD count,
                        std::vector<NetResource>& entries) {
  entries.clear();
  if (!handle) return ERROR_INVALID_HANDLE;
  if (handle->next >= handle->entries.size()) return ERROR_NO_MORE_ITEMS;
  size_t n = count == static_cast<DWORD>(-1) ? handle->entries.size() : count;
  while (n-- > 0 && handle->next < handle->entries.size())
    entries.push_back(handle->entries[handle->next++]);
  return ERROR_SUCCESS;
}

DWORD WNetCloseEnum(NetEnumHandle& handle) {
  if (!handle) return ERROR_INVALID_HANDLE;
  handle.reset();
  return ERROR_SUCCESS;
}

}  // namespace platform
