// The network neighbourhood of the machine (WNetOpenEnumW / WNetEnumResourceW): the network's
// root holds one provider, the provider the workgroups (and the domain), a workgroup its
// computers, a computer its shares. The computers are this one and the [computer NAME] sections
// of machine.ini; a computer's shares are the values of its registry's
// SYSTEM\CurrentControlSet\Services\LanmanServer\Shares (read from that computer's machine root
// when machine.ini gives one; a computer without a root shows no shares).
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline constexpr DWORD RESOURCE_GLOBALNET = 2;
inline constexpr DWORD RESOURCETYPE_ANY = 0;
inline constexpr DWORD RESOURCETYPE_DISK = 1;
inline constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 1;
inline constexpr DWORD RESOURCEUSAGE_CONTAINER = 2;
inline constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 1;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 2;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 3;
inline constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 6;
inline constexpr DWORD ERROR_NO_NETWORK = 1222;

// NETRESOURCEW.
struct NetResource {
  DWORD scope = RESOURCE_GLOBALNET;
  DWORD type = RESOURCETYPE_ANY;
  DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
  DWORD usage = 0;
  std::wstring localName;
  std::wstring remoteName;  // workgroup name, "\\COMPUTER" or "\\COMPUTER\share"
  std::wstring comment;
  std::wstring provider;
};

using NetEnumHandle = std::shared_ptr<struct NetEnumeration>;

// Opens the enumeration of `container` (nullptr: the network's root). ERROR_NO_NETWORK when
// the machine has no network (machine.ini: [machine] network = no), ERROR_INVALID_PARAMETER
// for a resource that is no container of this network.
DWORD WNetOpenEnumW(DWORD scope, DWORD type, DWORD usage, const NetResource* container,
                    NetEnumHandle& handle);
// Up to `count` entries (-1 as DWORD: all that are left) into `entries`; ERROR_NO_MORE_ITEMS
// once everything was handed out.
DWORD WNetEnumResourceW(const NetEnumHandle& handle, DWORD count,
                        std::vector<NetResource>& entries);
DWORD WNetCloseEnum(NetEnumHandle& handle);

// The share names a computer's registry gives (a host hive file of that computer's root).
std::vector<std::wstring> SharesOfMachineRoot(const std::string& machineRoot);

}  // namespace platform
