// Text snapshots of a machine (files with size, attributes and time; registry keys and values)
// and their comparison, for `tlmachine snapshot` and `tlmachine diff`.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

namespace tlmachine {

// One line per item: "<id>\t<details>", the id unique ("F C:\dir\file", "D C:\dir",
// "K HKEY_LOCAL_MACHINE\SOFTWARE\X", "V HKEY_LOCAL_MACHINE\SOFTWARE\X : \"name\"").
using Snapshot = std::map<std::string, std::string>;

// Takes the snapshot of the current machine: every drive kept inside the machine root, and
// every hive. Throws std::runtime_error when a hive cannot be read.
// With `security`, every file and folder line also carries its access list ("security=<SDDL>"),
// so that a comparison shows re-secured folders too.
Snapshot TakeSnapshot(bool security = false);

// Writes and reads the snapshot file (UTF-8 text, first line "# tlmachine snapshot 1").
void WriteSnapshot(const Snapshot& snapshot, std::ostream& out);
// Throws std::runtime_error naming the line of a malformed file.
Snapshot ReadSnapshot(const std::string& path);

// "REG_SZ", "REG_DWORD", ...; "REG_<n>" for a type without a name.
std::string TypeName(std::uint32_t type);

struct DiffCounts {
  std::size_t added = 0, changed = 0, removed = 0;
};
// Prints "+ <line>", "- <line>" and "~ <id>\t<old> -> <new>" in id order.
DiffCounts PrintDiff(const Snapshot& before, const Snapshot& after, std::ostream& out);

}  // namespace tlmachine
