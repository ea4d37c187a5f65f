// STEP exchange: the checks that run before the kernel's reader, reading with header texts,
// writing with names, colours and header texts.
#include "ExchangeCommon.h"

#include <stdlib.h>

#include <APIHeaderSection_MakeHeader.hxx>
#include <Interface_Check.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Reader.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepData_StepModel.hxx>
#include <StepRepr_HArray1OfRepresentationItem.hxx>
#include <StepRepr_MappedItem.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationMap.hxx>
#include <StepRepr_RepresentationRelationship.hxx>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <unistd.h>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

// --- Texts outside ASCII ------------------------------------------------------------------------
// The exchange format's strings are ASCII: other letters are written as "\X2\" groups of UTF-16
// code units in hex (or "\X4\" groups of code points), ended by "\X0\". The kernel's writer puts
// UTF-8 bytes into strings as they are, so a written file is rewritten with the escapes; read
// texts are decoded (also "\X\hh" Latin-1 bytes, "\S\c" upper-half letters and "\\").

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// One UTF-8 character at text[i] (advancing i); a byte that starts none is taken as Latin-1.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) {
    ++i;
    return b;
  }
  uint32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    const unsigned char f = static_cast<unsigned char>(text[i + k]);
    if ((f & 0xC0) != 0x80) {
      ++i;
      return b;
    }
    c = (c << 6) | (f & 0x3F);
  }
  i += len;
  return c;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ReadHex(std::string_view t, size_t at, int digits, uint32_t& value) {
  if (at + digits > t.size()) return false;
  value = 0;
  for (int k = 0; k < digits; ++k) {
    const int h = HexValue(t[at + k]);
    if (h < 0) return false;
    value = value * 16 + static_cast<uint32_t>(h);
  }
  return true;
}

// The text of a string of the file (without its quotes) as UTF-8.
std::string DecodeStepString(const std::string& raw) {
  if (raw.find('\\') == std::string::npos) return raw;
  std::string out;
  const std::string_view t(raw);
  size_t i = 0;
  while (i < t.size()) {
    if (t[i] != '\\') {
      out.push_back(t[i++]);
      continue;
    }
    if (t.compare(i, 4, "\\X2\\") == 0 || t.compare(i, 4, "\\X4\\") == 0) {
      const int digits = t[i + 2] == '2' ? 4 : 8;
      size_t j = i + 4;
      uint32_t high = 0;
      uint32_t v = 0;
      while (j + digits <= t.size() && ReadHex(t, j, digits, v)) {
        j += digits;
        if (digits == 4 && v >= 0xD800 && v < 0xDC00) {
          high = v;
          continue;
        }
        if (digits == 4 && v >= 0xDC00 && v < 0xE000 && high) {
          v = 0x10000 + ((high - 0xD800) << 10) + (v - 0xDC00);
          high = 0;
        }
        AppendUtf8(out, v);
      }
      if (t.compare(j, 4, "\\X0\\") == 0) j += 4;
      i = j;
      continue;
    }
    uint32_t byte = 0;
    if (t.compare(i, 3, "\\X\\") == 0 && ReadHex(t, i + 3, 2, byte)) {
      AppendUtf8(out, byte);
      i += 5;
      continue;
    }
    if (t.compare(i, 3, "\\S\\") == 0 && i + 3 < t.size()) {
      AppendUtf8(out, static_cast<unsigned char>(t[i + 3]) + 128u);
      i += 4;
      continue;
    }
    if (t.compare(i, 2, "\\\\") == 0) {
      out.push_back('\\');
      i += 2;
      continue;
    }
    out.push_back(t[i++]);
  }
  return out;
}

// The file's strings with every character outside ASCII written with the escapes.
void EscapeStepStrings(const std::string& path) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (std::none_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; })) return;
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  const std::string_view t(text);
  size_t i = 0;
  bool inString = false;
  while (i < t.size()) {
    const char c = t[i];
    if (c == '\'') {
      if (inString && i + 1 < t.size() && t[i + 1] == '\'') {
        out += "''";
        i += 2;
        continue;
      }
      inString = !inString;
      out.push_back(c);
      ++i;
      continue;
    }
    if (!inString || !(c & 0x80)) {
      out.push_back(c);
      ++i;
      continue;
    }
    // A run of characters outside ASCII: one group for those of the basic plane, one for the
    // others.
    std::vector<uint32_t> run;
    while (i < t.size() && (t[i] & 0x80)) run.push_back(NextCodePoint(t, i));
    size_t k = 0;
    char hex[16];
    while (k < run.size()) {
      const bool wide = run[k] > 0xFFFF;
      out += wide ? "\\X4\\" : "\\X2\\";
      while (k < run.size() && (run[k] > 0xFFFF) == wide) {
        std::snprintf(hex, sizeof hex, wide ? "%08X" : "%04X", run[k]);
        out += hex;
        ++k;
      }
      out += "\\X0\\";
    }
  }
  // A new file of our own beside the target (never one that is there already, a link
  // included), renamed over it when complete.
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) Fail(QZ::eCodeFileAccess, path + ": the STEP file cannot be written");
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t w = ::write(fd, out.data() + done, out.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  const bool closed = ::close(fd) == 0;
  std::error_code ec;
  if (done != out.size() || !closed) {
    std::filesystem::remove(temp, ec);
    Fail(QZ::eCodeFileAccess, path + ": the STEP file cannot be written");
  }
  // The written file's permissions, not mkstemp's private ones.
  std::filesystem::permissions(temp, std::filesystem::status(path, ec).permissions(), ec);
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    Fail(QZ::eCodeFileAccess, path + ": the STEP file cannot be written");
  }
}

// Assembly links and shape-representation links of a STEP model must form no cycle: the
// kernel's transfer follows them recursively and would never end (GraphHasCycle).

// Entities the reader could not read as written (values of the wrong type...), by file id with
// the kernel's reason; the file's global failure, if any, refuses it.
std::vector<std::pair<uint64_t, std::string>> BrokenEntities(const Handle(StepData_StepModel) &
                                                                 model,
                                                             const std::string& path) {
  const Handle(Interface_Check)& global = model->GlobalCheck();
  if (!global.IsNull() && global->HasFailed())
    Fail(QZ::eCodeBadFile, path + ": " + (global->NbFails() > 0 ? global->CFail(1) : "unreadable"));
  std::vector<std::pair<uint64_t, std::string>> broken;
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    if (!model->IsErrorEntity(i)) continue;
    const Handle(Standard_Transient)& e = model->Value(i);
    const Handle(Interface_Check) check = model->Check(i, true);
    std::string why = "a value of the wrong kind";
    if (!check.IsNull() && check->NbFails() > 0) why = check->CFail(1);
    broken.emplace_back(static_cast<uint64_t>(model->IdentLabel(e)), why);
  }
  return broken;
}

bool HasReferenceCycle(const Handle(StepData_StepModel) & model) {
  // Each kind of link separately: assemblies, representation relationships, mapped items.
  Graph assemblies, relations, mappings;
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    const Handle(Standard_Transient)& e = model->Value(i);
    if (auto nauo = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(e)) {
      auto a = nauo->RelatingProductDefinition();
      auto b = nauo->RelatedProductDefinition();
      if (!a.IsNull() && !b.IsNull()) assemblies[a.get()].push_back(b.get());
    } else if (auto rel = Handle(StepRepr_RepresentationRelationship)::DownCast(e)) {
      auto a = rel->Rep1();
      auto b = rel->Rep2();
      if (!a.IsNull() && !b.IsNull()) relations[a.get()].push_back(b.get());
    } else if (auto rep = Handle(StepRepr_Representation)::DownCast(e)) {
      auto items = rep->Items();
      if (items.IsNull()) continue;
      for (int k = items->Lower(); k <= items->Upper(); ++k) {
        auto mapped = Handle(StepRepr_MappedItem)::DownCast(items->Value(k));
        if (mapped.IsNull() || mapped->MappingSource().IsNull()) continue;
        auto target = mapped->MappingSource()->MappedRepresentation();
        if (!target.IsNull()) mappings[rep.get()].push_back(target.get());
      }
    }
  }
  return GraphHasCycle(assemblies) || GraphHasCycle(relations) || GraphHasCycle(mappings);
}

// The instances of a STEP file as the text has them, looked at before the kernel's reader sees
// the file. The reader trusts references (a dangling one, or a loop of them, crashes its
// transfer or never ends), nesting and numbers (1.E400 sends its shape repair into hours of
// work), so a file is refused for those faults, with the reason; an instance with a dangling
// reference that no other instance uses is left out with a warning instead, as the kernel's
// reader would skip it.
constexpr int kMaxNesting = 100;

struct StepText {
  std::string text;
  std::vector<uint64_t> ids;                     // instance ids, in file order
  std::vector<size_t> begin, end;                // the instance's bytes: [begin, end)
  std::vector<uint8_t> referenced;               // used by another instance
  std::vector<uint64_t> missing;                 // a reference that names no instance (0: none)
  std::unordered_map<uint64_t, uint32_t> index;  // id -> position
};

size_t LineAt(const std::string& text, size_t offset) {
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

[[noreturn]] void Refuse(const std::string& path, const std::string& text, size_t at,
                         const std::string& why) {
  Fail(QZ::eCodeBadFile, path + ": line " + std::to_string(LineAt(text, at)) + ": " + why);
}

bool IsKeyword(std::string_view statement, std::string_view keyword) {
  size_t i = 0;
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  if (statement.substr(i, keyword.size()) != keyword) return false;
  i += keyword.size();
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  return i == statement.size() || statement[i] == '(';
}

bool IsBareNonNumber(std::string_view word) {
  std::string up;
  for (char c : word) up.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return up == "NAN" || up == "INF" || up == "INFINITY";
}

// The whole file, or a refusal that says why not.
std::string ReadStepFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(QZ::eCodeFileAccess, path + ": the file cannot be opened");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) Fail(QZ::eCodeBadFile, path + ": the file is empty");
  in.seekg(0);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), size)) Fail(QZ::eCodeFileAccess, path + ": the file cannot be read");
  return text;
}

// The body of a statement from i up to and past its ';', outside strings and comments: the
// references of an instance go to refs, and what the kernel's reader cannot be trusted with (a
// string or comment not closed, lists nested too deep, numbers out of range) is refused.
// Returns the offset after the ';'.
size_t ScanStatementBody(const std::string& path, const std::string& text, size_t i,
                         size_t statementStart, bool isInstance, std::vector<uint64_t>& refs) {
  const size_t n = text.size();
  int depth = 0;
  bool ended = false;
  char previous = '(';  // the last character that is not blank, outside strings
  while (i < n) {
    const char c = text[i];
    if (c == '\'') {
      ++i;
      while (i < n) {
        if (text[i] == '\'') {
          if (i + 1 < n && text[i + 1] == '\'') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      if (i >= n) Refuse(path, text, statementStart, "a string is not closed");
      ++i;
      previous = '\'';
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) Refuse(path, text, i, "a comment is not closed");
      i = end + 2;
    } else if (c == '#') {
      uint64_t r = 0;
      size_t j = i + 1;
      while (j < n && std::isdigit(static_cast<unsigned char>(text[j])) && r < (1ull << 60))
        r = r * 10 + static_cast<uint64_t>(text[j++] - '0');
      if (j > i + 1 && isInstance) refs.push_back(r);
      i = j;
      previous = '#';
    } else if (c == ';') {
      ++i;
      ended = true;
      break;
    } else if (c == '(') {
      if (++depth > kMaxNesting)
        Refuse(path, text, i, "lists nested deeper than " + std::to_string(kMaxNesting));
      previous = c;
      ++i;
    } else if (c == ')') {
      --depth;
      previous = c;
      ++i;
    } else if (isInstance && (std::isdigit(static_cast<unsigned char>(c)) ||
                              ((c == '-' || c == '+' || c == '.') && i + 1 < n &&
                               std::isdigit(static_cast<unsigned char>(text[i + 1]))))) {
      // A number. Only a long mantissa or an exponent of three digits can leave the range
      // of doubles; only those are converted.
      size_t j = i + 1, digits = 0, expDigits = 0;
      bool inExp = false;
      while (j < n) {
        const char d = text[j];
        if (std::isdigit(static_cast<unsigned char>(d))) {
          (inExp ? expDigits : digits)++;
        } else if (d == 'E' || d == 'e') {
          inExp = true;
        } else if (!(d == '.' || ((d == '-' || d == '+') && inExp))) {
          break;
        }
        ++j;
      }
      if (digits > 300 || expDigits >= 3) {
        const std::string token = text.substr(i, j - i);
        const double v = std::strtod(token.c_str(), nullptr);
        if (!std::isfinite(v))
          Refuse(path, text, i, "the number " + token.substr(0, 40) + " is out of range");
      }
      previous = '0';
      i = j;
    } else if (isInstance && std::isalpha(static_cast<unsigned char>(c)) &&
               (previous == '(' || previous == ',')) {
      size_t j = i;
      while (j < n && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_')) ++j;
      size_t k = j;
      while (k < n && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
      if (k < n && (text[k] == ',' || text[k] == ')') &&
          IsBareNonNumber(std::string_view(text).substr(i, j - i)))
        Refuse(path, text, i, "a value is not a finite number");
      previous = 'a';
      i = j;
    } else {
      if (!std::isspace(static_cast<unsigned char>(c))) previous = c;
      ++i;
    }
  }
  if (!ended) Refuse(path, text, statementStart, "the file ends inside a statement");
  return i;
}

// The index of the instances by id, each reference's target (kNoTarget for none), and which
// instances are used and which name an instance the file lacks; an id defined twice is refused.
constexpr uint32_t kNoTarget = ~0u;

std::vector<uint32_t> ResolveReferences(const std::string& path, StepText& st,
                                        const std::vector<uint64_t>& refs,
                                        const std::vector<size_t>& firstRef) {
  const std::string& text = st.text;
  const size_t count = st.ids.size();
  st.index.reserve(count * 2);
  for (uint32_t k = 0; k < count; ++k)
    if (!st.index.emplace(st.ids[k], k).second)
      Refuse(path, text, st.begin[k], "#" + std::to_string(st.ids[k]) + " is defined twice");
  std::vector<uint32_t> target(refs.size(), kNoTarget);
  st.referenced.assign(count, 0);
  st.missing.assign(count, 0);
  for (uint32_t k = 0; k < count; ++k) {
    for (size_t r = firstRef[k]; r < firstRef[k + 1]; ++r) {
      auto it = st.index.find(refs[r]);
      if (it == st.index.end()) {
        if (!st.missing[k]) st.missing[k] = refs[r] ? refs[r] : ~0ull;
        continue;
      }
      target[r] = it->second;
      st.referenced[it->second] = 1;
    }
  }
  return target;
}

// Loops of references: iterative depth-first search with three colours.
void RefuseReferenceLoops(const std::string& path, const StepText& st,
                          const std::vector<size_t>& firstRef,
                          const std::vector<uint32_t>& target) {
  const std::string& text = st.text;
  const size_t count = st.ids.size();
  std::vector<uint8_t> colour(count, 0);
  std::vector<std::pair<uint32_t, size_t>> stack;
  for (uint32_t start = 0; start < count; ++start) {
    if (colour[start]) continue;
    colour[start] = 1;
    stack.emplace_back(start, firstRef[start]);
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      if (next == firstRef[node + 1]) {
        colour[node] = 2;
        stack.pop_back();
        continue;
      }
      const uint32_t child = target[next++];
      if (child == kNoTarget) continue;
      if (colour[child] == 1)
        Refuse(path, text, st.begin[child],
               "a loop of references runs through #" + std::to_string(st.ids[child]));
      if (colour[child] == 0) {
        colour[child] = 1;
        stack.emplace_back(child, firstRef[child]);
      }
    }
  }
}

StepText ScanStepText(const std::string& path) {
  StepText st;
  st.text = ReadStepFile(path);
  const std::string& text = st.text;
  std::vector<uint64_t> refs;       // all references, grouped by instance
  std::vector<size_t> firstRef{0};  // refs of instance k: [firstRef[k], firstRef[k+1])
  const size_t n = text.size();
  bool inData = false, sawData = false;
  size_t i = 0;
  while (i < n) {
    // Start of a statement: skip blanks and comments.
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i + 1 < n && text[i] == '/' && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) Refuse(path, text, i, "a comment is not closed");
      i = end + 2;
      continue;
    }
    if (i >= n) break;
    const size_t statementStart = i;
    bool isInstance = false;
    uint64_t id = 0;
    if (inData && text[i] == '#') {
      size_t j = i + 1;
      while (j < n && std::isdigit(static_cast<unsigned char>(text[j])) && id < (1ull << 60))
        id = id * 10 + static_cast<uint64_t>(text[j++] - '0');
      while (j < n && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
      if (j < n && text[j] == '=') {
        isInstance = true;
        i = j + 1;
      }
    }
    // The statement's body up to its ';'. Strings are read as strings everywhere (a header
    // text may well say "DATA;").
    const size_t refStart = refs.size();
    i = ScanStatementBody(path, text, i, statementStart, isInstance, refs);
    if (isInstance) {
      st.ids.push_back(id);
      st.begin.push_back(statementStart);
      st.end.push_back(i);
      firstRef.push_back(refs.size());
    } else {
      refs.resize(refStart);
      const std::string_view statement(text.data() + statementStart, i - 1 - statementStart);
      if (IsKeyword(statement, "DATA")) {
        inData = sawData = true;
      } else if (IsKeyword(statement, "ENDSEC")) {
        inData = false;
      }
    }
    if ((st.ids.size() & 0xFFFF) == 0xFFFF) CheckStop(0.2 * static_cast<double>(i) / n);
  }
  if (!sawData) Fail(QZ::eCodeBadFile, path + ": the file has no data section");

  const std::vector<uint32_t> target = ResolveReferences(path, st, refs, firstRef);
  RefuseReferenceLoops(path, st, firstRef, target);
  return st;
}

// The instances to leave out: those with a dangling reference (each must be unused, else the
// file is refused) and the ids given.
std::vector<uint32_t> InstancesToDrop(const StepText& st, const std::string& path,
                                      const std::vector<std::pair<uint64_t, std::string>>& broken) {
  std::vector<uint32_t> drop;
  for (uint32_t k = 0; k < st.ids.size(); ++k) {
    if (!st.missing[k]) continue;
    const std::string what = "#" + std::to_string(st.ids[k]) + " refers to #" +
                             std::to_string(st.missing[k]) + ", which the file does not define";
    if (st.referenced[k]) Refuse(path, st.text, st.begin[k], what + ", and other instances use it");
    Warn("line " + std::to_string(LineAt(st.text, st.begin[k])) + ": " + what + "; left out");
    drop.push_back(k);
  }
  for (const auto& [id, why] : broken) {
    auto it = st.index.find(id);
    if (it == st.index.end()) continue;
    const uint32_t k = it->second;
    const std::string what = "#" + std::to_string(id) + " cannot be read (" + why + ")";
    if (st.referenced[k]) Refuse(path, st.text, st.begin[k], what + ", and other instances use it");
    Warn("line " + std::to_string(LineAt(st.text, st.begin[k])) + ": " + what + "; left out");
    drop.push_back(k);
  }
  return drop;
}

// Colours whose components lie outside 0..1: the kernel's reader refuses the whole file for
// one of them (values a little above 1 from rounding are common). Each such COLOUR_RGB
// instance is given again with its components held within the range, with a warning.
using Replacements = std::vector<std::pair<uint32_t, std::string>>;

Replacements ColoursInRange(const StepText& st) {
  Replacements out;
  const std::string& t = st.text;
  for (uint32_t k = 0; k < st.ids.size(); ++k) {
    size_t i = t.find('=', st.begin[k]);
    if (i == std::string::npos || i >= st.end[k]) continue;
    ++i;
    while (i < st.end[k] && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    if (t.compare(i, 10, "COLOUR_RGB") != 0) continue;
    i += 10;
    while (i < st.end[k] && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    if (i >= st.end[k] || t[i] != '(') continue;
    ++i;
    // The name: a string ('' inside it is a quote) or $.
    const size_t nameStart = i;
    while (i < st.end[k] && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    if (i < st.end[k] && t[i] == '\'') {
      for (++i; i < st.end[k]; ++i) {
        if (t[i] != '\'') continue;
        if (i + 1 < st.end[k] && t[i + 1] == '\'') {
          ++i;
          continue;
        }
        break;
      }
      ++i;
    } else {
      while (i < st.end[k] && t[i] != ',') ++i;
    }
    const std::string name = t.substr(nameStart, i - nameStart);
    double v[3];
    bool ok = true, outside = false;
    for (int c = 0; c < 3 && ok; ++c) {
      while (i < st.end[k] && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
      if (i >= st.end[k] || t[i] != ',') {
        ok = false;
        break;
      }
      ++i;
      const std::string rest = t.substr(i, std::min<size_t>(64, st.end[k] - i));
      char* endp = nullptr;
      v[c] = std::strtod(rest.c_str(), &endp);
      if (endp == rest.c_str() || !std::isfinite(v[c])) ok = false;
      i += static_cast<size_t>(endp - rest.c_str());
      if (v[c] < 0.0 || v[c] > 1.0) outside = true;
    }
    if (!ok || !outside) continue;
    char values[96];
    std::snprintf(values, sizeof values, ",%.12g,%.12g,%.12g);", std::clamp(v[0], 0.0, 1.0),
                  std::clamp(v[1], 0.0, 1.0), std::clamp(v[2], 0.0, 1.0));
    out.emplace_back(k, "#" + std::to_string(st.ids[k]) + "=COLOUR_RGB(" + name + values);
    Warn("line " + std::to_string(LineAt(t, st.begin[k])) + ": the colour #" +
         std::to_string(st.ids[k]) + " has components outside 0..1; held within the range");
  }
  return out;
}

// A copy of the file without the given instances (blanked, so that lines keep their numbers)
// and with the replaced ones written anew, in a temporary file of its own that goes with the
// object.
class CleanedCopy {
 public:
  CleanedCopy(const StepText& st, const std::vector<uint32_t>& drop,
              const Replacements& replace = {}) {
    std::string text = st.text;
    for (uint32_t k : drop)
      for (size_t i = st.begin[k]; i < st.end[k]; ++i)
        if (text[i] != '\n') text[i] = ' ';
    // Replacements from the end backwards, so that earlier offsets stay; each keeps the lines
    // of the instance it replaces.
    for (auto it = replace.rbegin(); it != replace.rend(); ++it) {
      const uint32_t k = it->first;
      if (std::find(drop.begin(), drop.end(), k) != drop.end()) continue;
      std::string with = it->second;
      with.append(static_cast<size_t>(
                      std::count(text.begin() + st.begin[k], text.begin() + st.end[k], '\n')),
                  '\n');
      text.replace(st.begin[k], st.end[k] - st.begin[k], with);
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "cad-step-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) Fail(QZ::eCodeFileAccess, "no temporary file for the cleaned STEP data");
    m_path = pattern;
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
      if (w <= 0) break;
      done += static_cast<size_t>(w);
    }
    ::close(fd);
    if (done != text.size()) Fail(QZ::eCodeFileAccess, "the cleaned STEP data cannot be written");
  }
  ~CleanedCopy() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove(m_path, ec);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};
}  // namespace

void WriteSTEP(const DocState& state, const HeaderTexts& header, const std::string& path) {
  InitExchange();
  CheckFacetedSize(state, "STEP");
  state.shapes->UpdateAssemblies();
  FacetedMeshes faceted(state);
  STEPCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  if (!writer.Transfer(state.doc, STEPControl_AsIs, nullptr, progress->Start()))
    FailOrStopped(QZ::eCodeFailure, path + ": the shapes cannot be written as STEP");
  APIHeaderSection_MakeHeader h(writer.ChangeWriter().Model());
  h.SetName(Ascii(header.fileName));
  h.SetDescriptionValue(1, Ascii(header.fileDescription));
  h.SetAuthorValue(1, Ascii(header.author));
  h.SetOrganizationValue(1, Ascii(header.organization));
  h.SetAuthorisation(Ascii(header.authorisation));
  CheckStop(0.8);
  if (writer.Write(path.c_str()) != IFSelect_RetDone)
    Fail(QZ::eCodeFileAccess, path + ": the STEP file cannot be written");
  EscapeStepStrings(path);
}

std::shared_ptr<DocState> ReadSTEP(const std::string& path, HeaderTexts& header) {
  InitExchange();
  if (!FileReadable(path)) Fail(QZ::eCodeFileAccess, path + ": no such file");
  const StepText st = ScanStepText(path);
  const Replacements colours = ColoursInRange(st);
  std::vector<std::pair<uint64_t, std::string>> broken;
  // At most two reads: the file (or a copy without its dangling instances), then, when the
  // reader finds instances it cannot read that nothing uses, a copy without those too.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::vector<uint32_t> drop = InstancesToDrop(st, path, broken);
    std::unique_ptr<CleanedCopy> copy;
    if (!drop.empty() || !colours.empty()) copy = std::make_unique<CleanedCopy>(st, drop, colours);
    const std::string& file = copy ? copy->Path() : path;
    // The header is taken while the reader still holds its model (it goes with the reader).
    HeaderTexts read;
    bool retry = false;
    auto state =
        ReadDocument<STEPCAFControl_Reader>(file, "STEP", [&](STEPCAFControl_Reader& reader) {
          Handle(StepData_StepModel) model = reader.ChangeReader().StepModel();
          if (model.IsNull()) Fail(QZ::eCodeBadFile, path + ": the file holds no STEP model");
          auto found = BrokenEntities(model, path);
          if (!found.empty()) {
            if (attempt > 0) {
              Fail(QZ::eCodeBadFile, path + ": #" + std::to_string(found[0].first) +
                                         " cannot be read (" + found[0].second + ")");
            }
            broken = std::move(found);
            retry = true;
            return false;
          }
          if (HasReferenceCycle(model))
            Fail(QZ::eCodeBadFile, path + ": an assembly or representation contains itself");
          APIHeaderSection_MakeHeader h(model);
          read.fileName = DecodeStepString(Text(h.Name()));
          read.fileDescription =
              h.NbDescription() > 0 ? DecodeStepString(Text(h.DescriptionValue(1))) : std::string();
          read.author = h.NbAuthor() > 0 ? DecodeStepString(Text(h.AuthorValue(1))) : std::string();
          read.organization = h.NbOrganization() > 0
                                  ? DecodeStepString(Text(h.OrganizationValue(1)))
                                  : std::string();
          read.authorisation = DecodeStepString(Text(h.Authorisation()));
          return true;
        });
    if (retry) continue;
    if (!state) break;
    header = read;
    return state;
  }
  Fail(QZ::eCodeBadFile, path + ": the file cannot be read as STEP");
}

}  // namespace cad_engine
