#include "platform/RegistryTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/Text.h"

namespace platform::reg {

// ---------------------------------------------------------------------------------------------
// Names

std::wstring Fold(const std::wstring& name) { return platform::ToUpper(name); }

bool NamesEqual(const std::wstring& a, const std::wstring& b) {
  return platform::EqualsNoCase(a, b);
}

namespace {

// The upper-cased form of a name for a look-up, kept in the object itself when the name is short
// (key names always are): every key and value access folds a name, and a new string each time
// would cost more than the look-up.
class FoldedName {
 public:
  explicit FoldedName(const std::wstring& name) {
    wchar_t* out = room_;
    if (name.size() > kRoom) {
      heap_.resize(name.size());
      out = heap_.data();
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
      const wchar_t c = name[i];
      if (c >= L'a' && c <= L'z')
        out[i] = static_cast<wchar_t>(c - 32);
      else if (c >= 0 && c < 0x80)
        out[i] = c;
      else
        out[i] = platform::UpperChar(c);
    }
    view_ = std::wstring_view(out, name.size());
  }
  FoldedName(const FoldedName&) = delete;
  FoldedName& operator=(const FoldedName&) = delete;
  std::wstring_view View() const { return view_; }

 private:
  static constexpr std::size_t kRoom = 2 * kMaxKeyNameChars;
  wchar_t room_[kRoom];
  std::wstring heap_;
  std::wstring_view view_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Key

Key::~Key() = default;

Key* Key::Child(const std::wstring& name) const {
  auto it = children_.find(FoldedName(name).View());
  return it == children_.end() ? nullptr : it->second.get();
}

Key* Key::AddChild(const std::wstring& name) {
  const FoldedName folded(name);
  auto it = children_.find(folded.View());
  if (it != children_.end()) return it->second.get();
  return children_.emplace(std::wstring(folded.View()), std::make_unique<Key>(name))
      .first->second.get();
}

bool Key::RemoveChild(const std::wstring& name) {
  auto it = children_.find(FoldedName(name).View());
  if (it == children_.end()) return false;
  children_.erase(it);
  return true;
}

const Value* Key::FindValue(const std::wstring& name) const {
  auto it = valueIndex_.find(FoldedName(name).View());
  return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

void Key::SetValue(const std::wstring& name, DWORD type, std::vector<std::uint8_t> data) {
  const FoldedName folded(name);
  auto it = valueIndex_.find(folded.View());
  if (it != valueIndex_.end()) {
    Value& v = values_[it->second];
    v.type = type;
    v.data = std::move(data);
    valueLines_.reset();
    return;
  }
  valueLines_.reset();
  valueIndex_.emplace(std::wstring(folded.View()), values_.size());
  values_.push_back(Value{name, type, std::move(data)});
}

bool Key::RemoveValue(const std::wstring& name) {
  auto it = valueIndex_.find(FoldedName(name).View());
  if (it == valueIndex_.end()) return false;
  std::size_t index = it->second;
  valueLines_.reset();
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(index));
  for (auto& entry : valueIndex_)
    if (entry.second > index) --entry.second;
  return true;
}

std::unique_ptr<Key> Key::Clone() const {
  auto copy = std::make_unique<Key>(name_);
  copy->sddl = sddl;
  copy->values_ = values_;
  copy->valueIndex_ = valueIndex_;
  for (const auto& [folded, child] : children_) copy->children_.emplace(folded, child->Clone());
  return copy;
}

// ---------------------------------------------------------------------------------------------
// Encodings

namespace {

void AppendUtf16Unit(std::string& out, std::uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void AppendUtf16Char(std::string& out, wchar_t c) {
  auto cp = static_cast<std::uint32_t>(c);
  if (cp > 0x10FFFF) cp = 0xFFFD;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    AppendUtf16Unit(out, 0xD800 + (cp >> 10));
    AppendUtf16Unit(out, 0xDC00 + (cp & 0x3FF));
  } else {
    AppendUtf16Unit(out, cp);
  }
}

}  // namespace

std::string ToUtf16Le(const std::wstring& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (wchar_t c : text) AppendUtf16Char(out, c);
  return out;
}

std::wstring FromUtf16Le(const std::uint8_t* bytes, std::size_t count) {
  std::wstring out;
  out.reserve(count / 2);
  std::size_t units = count / 2;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      std::uint32_t v = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
      if (v >= 0xDC00 && v < 0xE000) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00)));
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(u));  // lone surrogates are kept as they are
  }
  return out;
}

std::vector<std::uint8_t> StringData(const std::wstring& text) {
  std::vector<std::uint8_t> data((text.size() + 1) * sizeof(wchar_t), 0);
  std::memcpy(data.data(), text.data(), text.size() * sizeof(wchar_t));
  return data;
}

std::vector<std::uint8_t> MultiStringData(const std::vector<std::wstring>& items) {
  std::wstring joined;
  for (const auto& item : items) {
    joined += item;
    joined.push_back(L'\0');
  }
  joined.push_back(L'\0');
  std::vector<std::uint8_t> data(joined.size() * sizeof(wchar_t));
  std::memcpy(data.data(), joined.data(), data.size());
  return data;
}

namespace {
std::wstring DataAsWide(const std::vector<std::uint8_t>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  return text;
}
}  // namespace

std::wstring DataToString(const std::vector<std::uint8_t>& data) {
  std::wstring text = DataAsWide(data);
  auto nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

std::vector<std::wstring> DataToMultiString(const std::vector<std::uint8_t>& data) {
  // A list without its final terminator (or without any) still gives its strings; an empty
  // string ends the list, as the registry's readers treat it.
  std::wstring text = DataAsWide(data);
  std::vector<std::wstring> items;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nul = text.find(L'\0', start);
    if (nul == std::wstring::npos) nul = text.size();
    if (nul == start) break;
    items.push_back(text.substr(start, nul - start));
    start = nul + 1;
  }
  return items;
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Writes the text as UTF-16LE bytes straight into the caller's buffer (grown as needed, its
// room kept between hives); `column` counts the characters of the current line.
struct Out {
  explicit Out(std::string& target) : bytes(target) {}
  std::string& bytes;
  std::size_t used = 0;
  std::size_t column = 0;
  char* Room(std::size_t n) {
    if (used + n > bytes.size())
      bytes.resize(std::max({bytes.capacity(), bytes.size() * 2, used + n + 4096}));
    char* p = bytes.data() + used;
    used += n;
    return p;
  }
  void Unit(std::uint32_t unit) {
    char* p = Room(2);
    p[0] = static_cast<char>(unit & 0xFF);
    p[1] = static_cast<char>((unit >> 8) & 0xFF);
  }
  void Ascii(const char* s) {
    for (; *s; ++s) {
      Unit(static_cast<unsigned char>(*s));
      ++column;
    }
  }
  void Ascii(char c) {
    Unit(static_cast<unsigned char>(c));
    ++column;
  }
  void Char(wchar_t c) {
    auto cp = static_cast<std::uint32_t>(c);
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      Unit(0xD800 + (cp >> 10));
      Unit(0xDC00 + (cp & 0x3FF));
    } else {
      Unit(cp);
    }
  }
  void Text(const wchar_t* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Char(s[i]);
    column += n;
  }
  void Text(const std::wstring& s) { Text(s.data(), s.size()); }
  // A quoted name or text with "\" and "\"" escaped.
  void Quoted(const wchar_t* s, std::size_t n) {
    Ascii('"');
    for (std::size_t i = 0; i < n; ++i) {
      if (s[i] == L'\\' || s[i] == L'"') Ascii('\\');
      Char(s[i]);
    }
    column += n;
    Ascii('"');
  }
  void Newline() {
    Unit(u'\r');
    Unit(u'\n');
    column = 0;
  }
  // The bytes written end the buffer.
  void Finish() { bytes.resize(used); }
};

// A REG_SZ that the quoted form carries exactly: one terminator at the end, no other NUL, no
// line breaks, a whole number of characters.
bool QuotableString(const Value& v) {
  if (v.type != REG_SZ || v.data.size() % sizeof(wchar_t) != 0 || v.data.empty()) return false;
  const auto* text = reinterpret_cast<const wchar_t*>(v.data.data());
  std::size_t n = v.data.size() / sizeof(wchar_t);
  if (text[n - 1] != L'\0') return false;
  for (std::size_t i = 0; i + 1 < n; ++i)
    if (text[i] == L'\0' || text[i] == L'\r' || text[i] == L'\n') return false;
  return true;
}

// The bytes a value's data occupy in a Windows hive (strings as UTF-16LE).
std::string WindowsBytes(const Value& v) {
  if (IsStringType(v.type)) {
    std::string bytes = ToUtf16Le(DataAsWide(v.data));
    return bytes;
  }
  return std::string(v.data.begin(), v.data.end());
}

std::wstring TypePrefix(DWORD type) {
  if (type == REG_BINARY) return L"hex:";
  std::wstring out = L"hex(";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", type);
  for (char* p = buf; *p; ++p) out.push_back(static_cast<wchar_t>(*p));
  return out + L"):";
}

void WriteValue(Out& out, const Value& v) {
  if (v.name.empty())
    out.Ascii('@');
  else
    out.Quoted(v.name.data(), v.name.size());
  out.Ascii('=');
  if (QuotableString(v)) {
    out.Quoted(reinterpret_cast<const wchar_t*>(v.data.data()),
               v.data.size() / sizeof(wchar_t) - 1);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    std::uint32_t d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                      (static_cast<std::uint32_t>(v.data[3]) << 24);
    char buf[32];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out.Ascii(buf);
  } else {
    out.Text(TypePrefix(v.type));
    std::string bytes = WindowsBytes(v);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      auto b = static_cast<unsigned char>(bytes[i]);
      out.Ascii(kHexDigits[b >> 4]);
      out.Ascii(kHexDigits[b & 15]);
      if (i + 1 < bytes.size()) {
        out.Ascii(',');
        if (out.column >= 76) {
          out.Ascii('\\');
          out.Newline();
          out.Ascii("  ");
        }
      }
    }
  }
  out.Newline();
}

void WriteKey(Out& out, const Key& key, const std::wstring& path, bool keepLines) {
  out.Ascii('[');
  out.Text(path);
  out.Ascii(']');
  out.Newline();
  if (!key.sddl.empty()) {
    out.Ascii(";security=");
    out.Text(key.sddl);
    out.Newline();
  }
  if (keepLines && key.Values().size() >= kKeptLinesMinValues) {
    if (!key.KeptValueLines()) {
      std::string lines;
      Out own(lines);
      for (const Value& v : key.Values()) WriteValue(own, v);
      own.Finish();
      key.KeepValueLines(std::move(lines));
    }
    const std::string& lines = *key.KeptValueLines();
    std::memcpy(out.Room(lines.size()), lines.data(), lines.size());
  } else {
    for (const Value& v : key.Values()) WriteValue(out, v);
  }
  out.Newline();
  for (const auto& [folded, child] : key.Children())
    WriteKey(out, *child, path + L"\\" + child->Name(), keepLines);
}

}  // namespace

void WriteHive(const Key& root, const std::wstring& rootPath, bool sealed, std::string& bytes,
               bool keepValueLines) {
  bytes.clear();
  Out out(bytes);
  out.Unit(0xFEFF);  // the byte order mark
  out.Ascii("Windows Registry Editor Version 5.00");
  out.Newline();
  if (sealed) {
    out.Ascii(";sealed-hive");
    out.Newline();
  }
  out.Newline();
  WriteKey(out, root, rootPath, keepValueLines);
  if (sealed) {
    out.Ascii(";end-of-hive");
    out.Newline();
  }
  out.Finish();
}

std::string WriteHive(const Key& root, const std::wstring& rootPath, bool sealed) {
  // The last size written is a good guess for the next one.
  static thread_local std::size_t lastBytes = 0;
  std::string bytes;
  bytes.reserve(lastBytes + lastBytes / 8 + 512);
  WriteHive(root, rootPath, sealed, bytes);
  lastBytes = bytes.size();
  return bytes;
}

std::wstring FormatValueData(const Value& value) {
  std::string bytes;
  Out out(bytes);
  Value copy = value;
  copy.name.clear();
  WriteValue(out, copy);
  out.Finish();
  // Drop "@=" and the line breaks of the wrapped form.
  std::wstring text =
      FromUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  std::wstring flat;
  for (std::size_t i = 2; i < text.size(); ++i) {
    if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'\r') {
      i += 4;  // "\\\r\n " then the loop skips the second space
      continue;
    }
    if (text[i] == L'\r' || text[i] == L'\n') continue;
    flat.push_back(text[i]);
  }
  return flat;
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

std::wstring Decode(const std::string& bytes) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (bytes.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE)
    return FromUtf16Le(b + 2, bytes.size() - 2);
  if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    return FromUtf8(std::string_view(bytes).substr(3), Surrogates::Keep);
  // No BOM: UTF-16LE without BOM shows as "W\0i\0..."; anything else is read as UTF-8.
  if (bytes.size() >= 2 && b[1] == 0 && b[0] != 0) return FromUtf16Le(b, bytes.size());
  return FromUtf8(bytes, Surrogates::Keep);
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && (IsSpace(s.front()) || s.front() == L'\r')) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == L'\r')) s.remove_suffix(1);
  return s;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

class Parser {
 public:
  // `source`: the file's bytes when their lines may be kept (UTF-16LE after a BOM), else null.
  Parser(const std::wstring& text, const std::wstring& rootPath, const std::string* source)
      : text_(text), rootPath_(rootPath), source_(source) {
    // A character beyond the basic plane was two units of the file.
    if (source_)
      for (std::size_t i = 0; i < text_.size(); ++i)
        if (static_cast<std::uint32_t>(text_[i]) >= 0x10000) pairs_.push_back(i);
  }

  std::unique_ptr<Key> Run(ParseError* error) {
    auto root = std::make_unique<Key>(L"");
    Key* current = nullptr;
    bool sawHeader = false;
    bool sealed = false, ended = false, anyKey = false;
    std::size_t pos = 0;
    while (NextLine(pos)) {
      std::wstring_view line = Trim(line_);
      if (!sawHeader) {
        if (line.empty()) continue;
        if (line != L"Windows Registry Editor Version 5.00")
          return Fail(error,
                      L"the file does not start with \"Windows Registry Editor Version 5.00\"");
        sawHeader = true;
        continue;
      }
      if (line.empty()) {
        run_.closed = true;
        continue;
      }
      if (ended) return Fail(error, L"text after the hive's end line");
      if (line == L";sealed-hive" && !current && !anyKey) {
        sealed = true;
        continue;
      }
      if (line == L";end-of-hive" && sealed) {
        ended = true;
        continue;
      }
      if (line.front() == L';') {
        constexpr std::wstring_view kSecurity = L";security=";
        if (line.substr(0, kSecurity.size()) == kSecurity) {
          if (!current) return Fail(error, L"a security line before any key");
          current->sddl = std::wstring(line.substr(kSecurity.size()));
          // Right after the key's line, the values' lines begin after it.
          if (run_.key == current && run_.end == run_.begin && !run_.closed)
            run_.begin = run_.end = pos;
          else
            run_.closed = true;
        } else {
          run_.closed = true;
        }
        continue;
      }
      if (line.front() == L'[') {
        EndRun();
        anyKey = true;
        if (line.back() != L']') return Fail(error, L"a key line without its closing \"]\"");
        std::wstring_view path = line.substr(1, line.size() - 2);
        bool remove = !path.empty() && path.front() == L'-';
        if (remove) path.remove_prefix(1);
        std::vector<std::wstring> parts;
        if (!SplitKeyPath(path, parts, error)) return nullptr;
        if (remove) {
          current = nullptr;
          if (parts.empty()) return Fail(error, L"the hive's root cannot be deleted");
          Key* parent = root.get();
          for (std::size_t i = 0; parent && i + 1 < parts.size(); ++i)
            parent = parent->Child(parts[i]);
          if (parent) parent->RemoveChild(parts.back());
          continue;
        }
        current = root.get();
        for (const auto& part : parts) current = current->AddChild(part);
        if (source_ && sealed && current->Values().empty()) run_ = ValueRun{current, pos, pos};
        continue;
      }
      if (!current) {
        if (line.front() == L'"' || line.front() == L'@')
          return Fail(error, L"a value line that belongs to no key (or to a deleted key)");
        return Fail(error, L"a line that is neither a key, a value nor a comment");
      }
      const std::size_t valuesBefore = current->Values().size();
      if (!ParseValue(line, pos, *current, error)) return nullptr;
      if (run_.key == current) {
        // One more line of the run; a deletion, or a line after a break, ends what can be kept.
        if (run_.closed || current->Values().size() < valuesBefore) run_.broken = true;
        run_.end = std::min(pos, text_.size());
      }
    }
    EndRun();
    if (!sawHeader) return Fail(error, L"the file is empty");
    // A hive this layer wrote ends with its end line: without it the file was cut short.
    if (sealed && !ended) return Fail(error, L"the hive was cut short (its end line is missing)");
    return root;
  }

 private:
  // The lines of one key's values, from the line after its key line (or its security line):
  // kept when they are all of its values.
  struct ValueRun {
    Key* key = nullptr;
    std::size_t begin = 0, end = 0;  // characters of the text
    bool closed = false;             // a blank or comment line came after the key line
    bool broken = false;             // a deletion, or values after such a line
  };

  void EndRun() {
    const ValueRun run = run_;
    run_ = ValueRun{};
    if (!run.key || run.broken || run.end <= run.begin ||
        run.key->Values().size() < kKeptLinesMinValues || text_[run.end - 1] != L'\n')
      return;
    const std::size_t from = SourceOffset(run.begin), to = SourceOffset(run.end);
    if (to <= source_->size()) run.key->KeepValueLines(source_->substr(from, to - from));
  }

  // Where a character of the text begins in the file.
  std::size_t SourceOffset(std::size_t character) const {
    const auto before = std::lower_bound(pairs_.begin(), pairs_.end(), character) - pairs_.begin();
    return 2 + 2 * (character + static_cast<std::size_t>(before));
  }

  bool NextLine(std::size_t& pos) {
    if (pos >= text_.size()) return false;
    std::size_t end = text_.find(L'\n', pos);
    if (end == std::wstring::npos) end = text_.size();
    line_ = std::wstring_view(text_).substr(pos, end - pos);
    pos = end + 1;
    ++lineNo_;
    return true;
  }

  std::nullptr_t Fail(ParseError* error, const std::wstring& message) {
    if (error) {
      error->line = lineNo_;
      error->message = message;
    }
    failed_ = true;
    return nullptr;
  }

  bool SplitKeyPath(std::wstring_view path, std::vector<std::wstring>& parts, ParseError* error) {
    std::wstring_view root = rootPath_;
    if (path.size() < root.size() || !platform::EqualsNoCase(path.substr(0, root.size()), root) ||
        (path.size() > root.size() && path[root.size()] != L'\\')) {
      Fail(error, L"the key lies outside " + rootPath_);
      return false;
    }
    path.remove_prefix(root.size());
    while (!path.empty()) {
      path.remove_prefix(1);  // the "\"
      std::size_t next = path.find(L'\\');
      std::wstring_view part = path.substr(0, next);
      if (part.empty()) {
        Fail(error, L"an empty key name in a key path");
        return false;
      }
      if (part.size() > kMaxKeyNameChars) {
        Fail(error, L"a key name longer than 255 characters");
        return false;
      }
      parts.emplace_back(part);
      if (parts.size() > kMaxKeyDepth) {
        Fail(error, L"a key path deeper than 512 levels");
        return false;
      }
      if (next == std::wstring_view::npos) break;
      path.remove_prefix(next);
    }
    return true;
  }

  // Reads a quoted string starting at s[i] == '"'; on success i is past the closing quote.
  bool Quoted(std::wstring_view s, std::size_t& i, std::wstring& out, ParseError* error) {
    ++i;
    while (i < s.size()) {
      wchar_t c = s[i];
      if (c == L'"') {
        ++i;
        return true;
      }
      if (c == L'\\') {
        if (i + 1 >= s.size()) break;
        wchar_t e = s[i + 1];
        if (e != L'\\' && e != L'"') {
          Fail(error,
               L"an unknown escape sequence in a quoted text (only \\\\ and \\\" are allowed)");
          return false;
        }
        out.push_back(e);
        i += 2;
        continue;
      }
      out.push_back(c);
      ++i;
    }
    Fail(error, L"a quoted text without its closing quote");
    return false;
  }

  bool ParseValue(std::wstring_view line, std::size_t& pos, Key& key, ParseError* error) {
    std::size_t i = 0;
    std::wstring name;
    if (line[0] == L'@') {
      i = 1;
    } else if (line[0] == L'"') {
      if (!Quoted(line, i, name, error)) return false;
      if (name.size() > kMaxValueNameChars) {
        Fail(error, L"a value name longer than 16383 characters");
        return false;
      }
    } else {
      Fail(error, L"a line that is neither a key, a value nor a comment");
      return false;
    }
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size() || line[i] != L'=') {
      Fail(error, L"a value without \"=\"");
      return false;
    }
    ++i;
    while (i < line.size() && IsSpace(line[i])) ++i;
    std::wstring_view data = line.substr(i);
    if (data == L"-") {
      key.RemoveValue(name);
      return true;
    }
    if (!data.empty() && data[0] == L'"') {
      std::size_t j = 0;
      std::wstring text;
      if (!Quoted(data, j, text, error)) return false;
      if (!Trim(data.substr(j)).empty()) {
        Fail(error, L"text after the closing quote of a value");
        return false;
      }
      key.SetValue(name, REG_SZ, StringData(text));
      return true;
    }
    constexpr std::wstring_view kDword = L"dword:";
    if (data.substr(0, kDword.size()) == kDword) {
      std::wstring_view digits = data.substr(kDword.size());
      if (digits.empty() || digits.size() > 8) {
        Fail(error, L"a dword value needs 1 to 8 hexadecimal digits");
        return false;
      }
      std::uint32_t d = 0;
      for (wchar_t c : digits) {
        int h = HexValue(c);
        if (h < 0) {
          Fail(error, L"a dword value with a character that is not a hexadecimal digit");
          return false;
        }
        d = (d << 4) | static_cast<std::uint32_t>(h);
      }
      std::vector<std::uint8_t> bytes = {
          static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
          static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)};
      key.SetValue(name, REG_DWORD, std::move(bytes));
      return true;
    }
    if (data.substr(0, 3) != L"hex") {
      Fail(error, L"a value of unknown form (expected \"text\", dword:, hex: or hex(N):)");
      return false;
    }
    DWORD type = REG_BINARY;
    std::size_t k = 3;
    if (k < data.size() && data[k] == L'(') {
      ++k;
      std::uint32_t t = 0;
      std::size_t digits = 0;
      while (k < data.size() && HexValue(data[k]) >= 0 && digits < 8) {
        t = (t << 4) | static_cast<std::uint32_t>(HexValue(data[k]));
        ++k;
        ++digits;
      }
      if (digits == 0 || k >= data.size() || data[k] != L')') {
        Fail(error, L"a malformed hex(N) type");
        return false;
      }
      ++k;
      type = t;
    }
    if (k >= data.size() || data[k] != L':') {
      Fail(error, L"a hex value without \":\"");
      return false;
    }
    ++k;
    // The bytes, possibly continued over lines ending in "\".
    std::string bytes;
    std::wstring_view rest = data.substr(k);
    std::size_t startLine = lineNo_;
    while (true) {
      rest = Trim(rest);
      bool more = !rest.empty() && rest.back() == L'\\';
      if (more) rest.remove_suffix(1);
      std::size_t p = 0;
      while (p < rest.size()) {
        while (p < rest.size() && IsSpace(rest[p])) ++p;
        if (p >= rest.size()) break;
        int hi = HexValue(rest[p]);
        int lo = p + 1 < rest.size() ? HexValue(rest[p + 1]) : -1;
        if (hi < 0 || lo < 0) {
          Fail(error, L"a hex value with a byte that is not two hexadecimal digits");
          return false;
        }
        bytes.push_back(static_cast<char>((hi << 4) | lo));
        p += 2;
        while (p < rest.size() && IsSpace(rest[p])) ++p;
        if (p < rest.size()) {
          if (rest[p] != L',') {
            Fail(error, L"hex bytes must be separated by commas");
            return false;
          }
          ++p;
        }
      }
      if (!more) break;
      if (!NextLine(pos)) {
        Fail(error, L"a hex value continued past the end of the file");
        return false;
      }
      rest = line_;
    }
    (void)startLine;
    std::vector<std::uint8_t> value;
    if (IsStringType(type)) {
      if (bytes.size() % 2 != 0) {
        Fail(error, L"a string value with an odd number of bytes");
        return false;
      }
      std::wstring text =
          FromUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      value.resize(text.size() * sizeof(wchar_t));
      std::memcpy(value.data(), text.data(), value.size());
    } else {
      value.assign(bytes.begin(), bytes.end());
    }
    key.SetValue(name, type, std::move(value));
    return true;
  }

  const std::wstring& text_;
  const std::wstring& rootPath_;
  const std::string* source_;
  std::vector<std::size_t> pairs_;  // characters of the text that were surrogate pairs
  ValueRun run_;
  std::wstring_view line_;
  std::size_t lineNo_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Key> ParseHive(const std::string& bytes, const std::wstring& rootPath,
                               ParseError* error, bool keepValueLines) {
  std::wstring text = Decode(bytes);
  // Lines are kept only from the stored form: UTF-16LE after a BOM, a whole number of units.
  const bool utf16 = bytes.size() >= 2 && bytes.size() % 2 == 0 &&
                     static_cast<unsigned char>(bytes[0]) == 0xFF &&
                     static_cast<unsigned char>(bytes[1]) == 0xFE;
  const bool keep = keepValueLines && utf16;
  Parser parser(text, rootPath, keep ? &bytes : nullptr);
  return parser.Run(error);
}

}  // namespace platform::reg
