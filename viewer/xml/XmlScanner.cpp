#include "xml/XmlScanner.h"

#include "xml/XmlText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <cstring>
#include <string_view>
#include <vector>

namespace MorlaneXml {
namespace {

void AppendCodePoint(char*& out, unsigned long c) {
  out += MorlaneText::EncodeUtf8(static_cast<char32_t>(c), out);
}

bool IsXmlChar(unsigned long c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The character of a reference's name "#N" or "#xH": false when the digits are not all digits,
// there are none, or the number is no character XML allows.
bool CharacterReference(std::string_view name, unsigned long& value) {
  const bool hex = name.size() > 1 && name[1] == 'x';
  value = 0;
  std::size_t digits = 0;
  for (std::size_t k = hex ? 2 : 1; k < name.size(); ++k) {
    const char c = name[k];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<unsigned long>(d);
    if (value > 0x10FFFF) return false;
    ++digits;
  }
  return digits > 0 && IsXmlChar(value);
}

// A reference at text[i] ('&'): its length, or 0 when it is not one the layer reads. legacy is set
// for the old writer's micro sign ("&181;", "&amp;181;").
std::size_t ReferenceAt(const char* text, std::size_t i, std::size_t n, bool& legacy,
                        std::string& error) {
  std::size_t end = i + 1;
  while (end < n && end - i <= 12 && text[end] != ';' && text[end] != '&' && text[end] != '<')
    ++end;
  if (end >= n || text[end] != ';' || end == i + 1) {
    error = "A name was started with an invalid character (illegal '&' in text).";
    return 0;
  }
  const std::string_view name(text + i + 1, end - i - 1);
  if (name == "lt" || name == "gt" || name == "apos" || name == "quot") return end - i + 1;
  if (name == "amp") {
    if (n - end > 4 && std::memcmp(text + end + 1, "181;", 4) == 0) legacy = true;
    return end - i + 1;
  }
  if (name == "181") {
    legacy = true;
    return end - i + 1;
  }
  if (name[0] == '#') {
    unsigned long value = 0;
    if (CharacterReference(name, value)) return end - i + 1;
    error = "Invalid character reference '&" + std::string(name) + ";'.";
    return 0;
  }
  error = "Reference to undefined entity '" + std::string(name) + "'.";
  return 0;
}

// The positions of the characters that matter to the scan ('<', '>', '"', '\'', '&'). The mask of
// a block of sixteen bytes is computed once and serves every stop in the block: in a model file
// the stops come every few bytes (tags full of quoted attribute values), so a fresh search from
// each stop would cost more than the bytes themselves.
class MarkupStops {
 public:
  MarkupStops(const char* text, std::size_t n) : text_(text), n_(n) {}

  // The first stop at or after p; n when there is none.
  std::size_t Next(std::size_t p) {
    if (p >= n_) return n_;
    std::size_t block = p & ~static_cast<std::size_t>(15);
    if (block != block_) Load(block);
    unsigned mask = mask_ & (0xFFFFu << (p - block));
    while (!mask) {
      block += 16;
      if (block >= n_) return n_;
      Load(block);
      mask = mask_;
    }
    return block + static_cast<std::size_t>(__builtin_ctz(mask));
  }

 private:
  void Load(std::size_t block) {
    block_ = block;
#if defined(__SSE2__)
    if (block + 16 <= n_) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_ + block));
      const __m128i hit =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')),
                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))),
                       _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                 _mm_cmpeq_epi8(v, _mm_set1_epi8('\''))),
                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))));
      mask_ = static_cast<unsigned>(_mm_movemask_epi8(hit));
      return;
    }
#endif
    mask_ = 0;
    const std::size_t end = block + 16 < n_ ? block + 16 : n_;
    for (std::size_t k = block; k < end; ++k) {
      const char c = text_[k];
      if (c == '<' || c == '>' || c == '"' || c == '\'' || c == '&') mask_ |= 1u << (k - block);
    }
  }

  const char* text_;
  std::size_t n_;
  std::size_t block_ = static_cast<std::size_t>(-1);
  unsigned mask_ = 0;
};

}  // namespace

bool DecodeEntities(char* s, std::string& error, std::size_t& errorAt) {
  char* in = s;
  char* out = s;
  while (*in) {
    if (*in != '&') {
      *out++ = *in++;
      continue;
    }
    char* ref = in + 1;
    char* end = std::strchr(ref, ';');
    if (!end || end == ref || end - ref > 12) {
      error = "A name was started with an invalid character (illegal '&' in text).";
      errorAt = static_cast<std::size_t>(in - s);
      return false;
    }
    const std::string name(ref, end);
    if (name == "lt") {
      *out++ = '<';
    } else if (name == "gt") {
      *out++ = '>';
    } else if (name == "amp") {
      if (std::strncmp(end + 1, "181;", 4) == 0) {
        // "&amp;181;" is an old writer's micro sign.
        AppendCodePoint(out, 0xB5);
        end += 4;
      } else {
        *out++ = '&';
      }
    } else if (name == "apos") {
      *out++ = '\'';
    } else if (name == "quot") {
      *out++ = '"';
    } else if (name == "181") {
      AppendCodePoint(out, 0xB5);  // "&181;": the same old writer's micro sign
    } else if (name[0] == '#') {
      unsigned long value = 0;
      if (!CharacterReference(name, value)) {
        error = "Invalid character reference '&" + name + ";'.";
        errorAt = static_cast<std::size_t>(in - s);
        return false;
      }
      AppendCodePoint(out, value);
    } else {
      error = "Reference to undefined entity '" + name + "'.";
      errorAt = static_cast<std::size_t>(in - s);
      return false;
    }
    in = end + 1;
  }
  *out = '\0';
  return true;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define MORLANE_XML_AVX2 1
// The same with thirty-two bytes a step, where the processor has them (most do): the pass runs
// over every byte of every document loaded, so its width shows in the time of a load. Returns
// the offset of the first control, or the first offset it left unexamined (at most 31 bytes from
// the end) when there is none before it.
__attribute__((target("avx2"))) inline __m256i ControlsOf32(const char* at) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1F)), v);
  const __m256i allowed =
      _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x09)),
                                      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x0A))),
                      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x0D)));
  return _mm256_andnot_si256(allowed, control);
}

__attribute__((target("avx2"))) std::size_t ForbiddenControlAtWide(const char* text,
                                                                   std::size_t n) {
  std::size_t i = 0;
  while (i + 128 <= n) {
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(ControlsOf32(text + i), ControlsOf32(text + i + 32)),
                        _mm256_or_si256(ControlsOf32(text + i + 64), ControlsOf32(text + i + 96)));
    if (_mm256_movemask_epi8(any)) break;
    i += 128;
  }
  while (i + 32 <= n) {
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(ControlsOf32(text + i)));
    if (mask) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    i += 32;
  }
  return i;
}
#endif

std::size_t ForbiddenControlAt(const char* text, std::size_t n) {
  std::size_t i = 0;
#if defined(MORLANE_XML_AVX2)
  static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  if (wide) {
    i = ForbiddenControlAtWide(text, n);
    if (i + 32 <= n) return i;  // a control found
  }
#endif
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x1F);
  const __m128i tab = _mm_set1_epi8(0x09), lf = _mm_set1_epi8(0x0A), cr = _mm_set1_epi8(0x0D);
  // The controls of sixteen bytes (those up to 0x1F but tab, line feed and carriage return).
  auto controls = [&](std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, below), v);
    const __m128i allowed = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
    return _mm_andnot_si128(allowed, control);
  };
  // Sixty-four bytes at a time while there are none; the block with one is looked at again.
  while (i + 64 <= n) {
    const __m128i any = _mm_or_si128(_mm_or_si128(controls(i), controls(i + 16)),
                                     _mm_or_si128(controls(i + 32), controls(i + 48)));
    if (_mm_movemask_epi8(any)) break;
    i += 64;
  }
  while (i + 16 <= n) {
    const int mask = _mm_movemask_epi8(controls(i));
    if (mask) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
#endif
  for (; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) return i;
  }
  return n;
}

ScanResult ScanText(const char* text, std::size_t n, int maxDepth) {
  ScanResult r;
  MarkupStops stops(text, n);
  auto find = [&](std::size_t from, const char* what) -> std::size_t {
    const std::size_t len = std::strlen(what);
    if (from >= n) return n;
    const std::string_view rest(text + from, n - from);
    const std::size_t at = rest.find(std::string_view(what, len));
    return at == std::string_view::npos ? n : from + at + len;
  };
  auto fail = [&](const std::string& error, std::size_t offset) {
    r.ok = false;
    r.error = error;
    r.offset = offset;
    return r;
  };
  int depth = 0;
  std::size_t i = 0;
  while (i < n) {
    // Text up to the next tag; its references on the way ('>' and quotes mean nothing here).
    i = stops.Next(i);
    while (i < n && text[i] != '<' && text[i] != '&') i = stops.Next(i + 1);
    if (i >= n) break;
    if (text[i] == '&') {
      std::string error;
      const std::size_t length = ReferenceAt(text, i, n, r.legacy, error);
      if (!length) return fail(error, i);
      if (text[i + 1] == '#') r.charRefsInText = true;
      i += length;
      continue;
    }
    const std::size_t ltAt = i;
    if (ltAt + 1 >= n) break;
    const char c = text[ltAt + 1];
    std::size_t next;
    if (c == '/') {
      --depth;
      std::size_t k = stops.Next(ltAt + 2);
      while (k < n && text[k] != '>') k = stops.Next(k + 1);
      next = k + 1;
    } else if (c == '?') {
      next = find(ltAt, "?>");
    } else if (c == '!') {
      if (n - ltAt >= 4 && std::memcmp(text + ltAt, "<!--", 4) == 0) {
        next = find(ltAt + 4, "-->");
      } else if (n - ltAt >= 9 && std::memcmp(text + ltAt, "<![CDATA[", 9) == 0) {
        next = find(ltAt + 9, "]]>");
      } else {
        const std::size_t gt = find(ltAt, ">");
        const std::size_t bracket = find(ltAt, "[");
        next = bracket < gt ? find(find(bracket, "]"), ">") : gt;
      }
    } else {
      if (++depth > maxDepth) return fail("Elements are nested too deeply.", ltAt);
      // The tag up to its '>', with quoted attribute values and their references; an '&' between
      // the attributes is the parser's to report.
      std::size_t k = ltAt + 1;
      next = n;
      while (k < n) {
        k = stops.Next(k);
        while (k < n && text[k] == '&') k = stops.Next(k + 1);
        if (k >= n) break;
        const char t = text[k];
        if (t == '"' || t == '\'') {
          std::size_t a = stops.Next(k + 1);
          while (a < n && text[a] != t) {
            if (text[a] == '&') {
              std::string error;
              const std::size_t length = ReferenceAt(text, a, n, r.legacy, error);
              if (!length) return fail(error, a);
              a = stops.Next(a + length);
            } else {
              a = stops.Next(a + 1);
            }
          }
          k = a + 1;
          continue;
        }
        if (t == '>') {
          if (text[k - 1] == '/') --depth;
          next = k + 1;
          break;
        }
        // '<' inside a tag: a tag left open, which the parser reports.
        next = k;
        break;
      }
    }
    if (next >= n) break;
    i = next;
  }
  return r;
}

bool QuickScan(const char* text, std::size_t n, ScanResult& result) {
  result = ScanResult();
  std::string error;
  for (const char* p = static_cast<const char*>(std::memchr(text, '&', n)); p;) {
    const std::size_t i = static_cast<std::size_t>(p - text);
    const std::size_t length = ReferenceAt(text, i, n, result.legacy, error);
    if (!length) return false;
    if (text[i + 1] == '#') result.charRefsInText = true;
    const std::size_t next = i + length;
    p = next < n ? static_cast<const char*>(std::memchr(text + next, '&', n - next)) : nullptr;
  }
  return true;
}

pugi::xml_node FirstTooDeep(const pugi::xml_node& top, int maxDepth) {
  // The parser's own walk, which follows its nodes without a call per step (a walk through the
  // public calls costs two to three times as much on a large document). Without recursion; only
  // elements have children, so depth counts elements: the walker's depth of top's children is 0.
  struct Walker : pugi::xml_tree_walker {
    int limit = 0;
    pugi::xml_node found;
    bool for_each(pugi::xml_node& node) override {
      if (depth() < limit || node.type() != pugi::node_element) return true;
      found = node;
      return false;
    }
  } walker;
  walker.limit = maxDepth;
  pugi::xml_node(top).traverse(walker);
  return walker.found;
}

std::ptrdiff_t ElementOffset(const pugi::xml_node& element) {
  const std::ptrdiff_t name = element.offset_debug();
  return name > 0 ? name - 1 : -1;
}

void DropBlankText(pugi::xml_node top) {
  std::vector<pugi::xml_node> blanks;
  pugi::xml_node n = top.first_child();
  while (n) {
    if (n.type() == pugi::node_pcdata && n.parent() != top) {
      const char* v = n.value();
      while (*v == ' ' || *v == '\t' || *v == '\r' || *v == '\n') ++v;
      if (!*v) blanks.push_back(n);
    }
    n = MorlaneText::NextInDocument(n, top);
  }
  for (pugi::xml_node b : blanks) b.parent().remove_child(b);
}

}  // namespace MorlaneXml
