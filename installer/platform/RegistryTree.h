// The registry's in-memory tree and its text form (the ".reg" files that hold the hives).
//
// A hive is a tree of keys; each key has sub-keys (ordered by their upper-cased names, the order
// in which the registry enumerates them), values in creation order, and an optional security
// descriptor in SDDL form. Names compare without regard to case through the machine layer's
// fixed upper-case table; the case in which a name was created is kept.
//
// Value data are kept as the registry API hands them over: string types (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) as arrays of wchar_t, everything else as bytes. The text form writes strings as
// UTF-16LE, as the Windows registry editor does, and converts them back when it reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Win32Errors.h"

namespace platform {

// Value types (winnt.h values).
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;
inline constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// True for the types whose data are wide strings.
constexpr bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

// Limits of the Windows registry that the emulation keeps.
inline constexpr std::size_t kMaxKeyNameChars = 255;  // one component of a key path
inline constexpr std::size_t kMaxValueNameChars = 16383;
inline constexpr std::size_t kMaxKeyDepth = 512;  // levels below a hive's root

namespace reg {

// The upper-cased form of a key or value name, used as the look-up key.
std::wstring Fold(const std::wstring& name);
// Case-insensitive equality of two names.
bool NamesEqual(const std::wstring& a, const std::wstring& b);

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
};

class Key {
 public:
  explicit Key(std::wstring name = {}) : name_(std::move(name)) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key();

  const std::wstring& Name() const { return name_; }

  // Sub-keys, ordered by upper-cased name.
  Key* Child(const std::wstring& name) const;
  Key* AddChild(const std::wstring& name);     // returns the existing one when present
  bool RemoveChild(const std::wstring& name);  // removes the whole sub-tree
  std::size_t ChildCount() const { return children_.size(); }
  using ChildMap = std::map<std::wstring, std::unique_ptr<Key>, std::less<>>;
  const ChildMap& Children() const { return children_; }

  // Values in creation order.
  const Value* FindValue(const std::wstring& name) const;
  void SetValue(const std::wstring& name, DWORD type, std::vector<std::uint8_t> data);
  bool RemoveValue(const std::wstring& name);
  const std::vector<Value>& Values() const { return values_; }

  // Security descriptor in SDDL form; empty when the key has none of its own.
  std::wstring sddl;

  // A deep copy of this key and everything below it.
  std::unique_ptr<Key> Clone() const;

  // The lines of this key's values as its stored hive holds them, kept for a key with many values
  // (kKeptLinesMinValues) so that saving the hive again copies them instead of writing every value
  // anew. Any change of the values drops them. Only the hive's own reader and writer keep them,
  // under the hive's lock (see ParseHive and WriteHive).
  const std::string* KeptValueLines() const { return valueLines_.get(); }
  void KeepValueLines(std::string lines) const {
    valueLines_ = std::make_unique<std::string>(std::move(lines));
  }

 private:
  std::wstring name_;
  // Both by folded name; looked up by a folded view without making a string of it.
  struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::wstring_view s) const noexcept {
      return std::hash<std::wstring_view>{}(s);
    }
  };
  ChildMap children_;
  std::vector<Value> values_;
  std::unordered_map<std::wstring, std::size_t, ViewHash, std::equal_to<>> valueIndex_;
  mutable std::unique_ptr<std::string> valueLines_;
};

// Keys with at least this many values keep their value lines between saves.
inline constexpr std::size_t kKeptLinesMinValues = 32;

// Parse result of a hive text.
struct ParseError {
  std::size_t line = 0;  // 1-based line of the first error, 0 when none
  std::wstring message;
};

// The text form. `rootPath` is the absolute name of the hive's root as it appears in the key
// headers ("HKEY_LOCAL_MACHINE", "HKEY_USERS\S-1-5-21-...-1001"); keys outside it are errors.
// The text is read from UTF-16LE (with BOM) or UTF-8 (with or without BOM) bytes; it starts with
// "Windows Registry Editor Version 5.00". "[-KEY]" lines and "name"=- values delete, as an import
// does. A line ";security=<SDDL>" after a key header holds the key's security descriptor.
// On failure returns nullptr and fills `error`; the tree is never partially returned.
// With `keepValueLines` (a stored hive being loaded), a key with many values whose values all
// come from one contiguous run of lines of a sealed UTF-16LE file keeps those lines (see
// Key::KeptValueLines).
std::unique_ptr<Key> ParseHive(const std::string& bytes, const std::wstring& rootPath,
                               ParseError* error, bool keepValueLines = false);

// Writes the tree as UTF-16LE text with a BOM, in the layout of the registry editor's export.
// A `sealed` hive (the stored hives) has the comment line ";sealed-hive" after the header and
// ends with ";end-of-hive"; reading such a file without its end line fails (it was cut short).
std::string WriteHive(const Key& root, const std::wstring& rootPath, bool sealed = false);
// The same into `bytes` (replaced; its room is reused, so a hive saved again and again does not
// allocate its text anew each time). With `keepValueLines` (a stored hive being saved, under its
// lock), keys with many values write their kept lines, and keep the lines they write.
void WriteHive(const Key& root, const std::wstring& rootPath, bool sealed, std::string& bytes,
               bool keepValueLines = false);

// The value part of one line ("dword:0000000a", "hex(7):41,00,...", "\"text\"") as the text
// form writes it, without line wrapping; used by `tlmachine` and snapshots.
std::wstring FormatValueData(const Value& value);

// Conversions between wchar_t strings and UTF-16LE bytes (no locale involved). Unlike the text
// layer's conversions (Text.h), which replace a lone surrogate by U+FFFD, these keep it: a
// registry string holds any sequence of UTF-16 units, and the hive file must give it back as it
// was stored. UTF-8 is the text layer's, with Surrogates::Keep.
std::string ToUtf16Le(const std::wstring& text);
std::wstring FromUtf16Le(const std::uint8_t* bytes, std::size_t count);

// Value data from wide strings and back.
std::vector<std::uint8_t> StringData(const std::wstring& text);  // with terminator
std::vector<std::uint8_t> MultiStringData(const std::vector<std::wstring>& items);
std::wstring DataToString(const std::vector<std::uint8_t>& data);  // up to first NUL
std::vector<std::wstring> DataToMultiString(const std::vector<std::uint8_t>& data);

}  // namespace reg
}  // namespace platform
