#include "msiexec/Condition.h"

#include <cwctype>
#include <stdexcept>

#include "platform/Text.h"

namespace Msi {

namespace {

constexpr std::size_t kMaxLength = 4096;  // longer than any column of the tables holds
constexpr int kMaxDepth = 64;             // nesting of parentheses and NOTs

struct Value {
  std::wstring text;
  bool integerLiteral = false;
  bool stringLiteral = false;
  long long integer = 0;
  bool readsAsInteger = false;
};

bool ReadInteger(const std::wstring& s, long long& out) {
  if (s.empty() || s.size() > 12) return false;
  std::size_t i = s[0] == L'-' ? 1 : 0;
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < L'0' || s[i] > L'9') return false;
    v = v * 10 + (s[i] - L'0');
  }
  out = s[0] == L'-' ? -v : v;
  return true;
}

Value FromText(std::wstring text) {
  Value v;
  v.readsAsInteger = ReadInteger(text, v.integer);
  v.text = std::move(text);
  return v;
}

Value FromInteger(long long n) {
  Value v;
  v.integer = n;
  v.integerLiteral = v.readsAsInteger = true;
  v.text = std::to_wstring(n);
  return v;
}

struct SyntaxError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Parser {
 public:
  Parser(const std::wstring& text, const ConditionContext& context)
      : m_text(text), m_context(context) {}

  bool Parse() {
    bool result = Implication();
    Skip();
    if (m_pos != m_text.size()) throw SyntaxError("unexpected text at " + std::to_string(m_pos));
    return result;
  }

 private:
  void Skip() {
    while (m_pos < m_text.size() && std::iswspace(m_text[m_pos])) ++m_pos;
  }
  static bool NameChar(wchar_t c) { return std::iswalnum(c) || c == L'_' || c == L'.'; }
  // The keyword `word` (any case) as a whole word at the position: consumed when there.
  bool Keyword(const wchar_t* word) {
    Skip();
    std::size_t n = std::wcslen(word);
    if (m_pos + n > m_text.size()) return false;
    if (!platform::EqualsNoCase(std::wstring_view(m_text).substr(m_pos, n), word)) return false;
    if (m_pos + n < m_text.size() && NameChar(m_text[m_pos + n])) return false;
    m_pos += n;
    return true;
  }
  void Enter() {
    if (++m_depth > kMaxDepth) throw SyntaxError("nested too deeply");
  }

  bool Implication() {
    bool left = Equivalence();
    while (Keyword(L"IMP")) {
      bool right = Equivalence();
      left = !left || right;
    }
    return left;
  }
  bool Equivalence() {
    bool left = Exclusive();
    while (Keyword(L"EQV")) left = left == Exclusive();
    return left;
  }
  bool Exclusive() {
    bool left = Disjunction();
    while (Keyword(L"XOR")) left = left != Disjunction();
    return left;
  }
  bool Disjunction() {
    bool left = Conjunction();
    while (Keyword(L"OR")) {
      bool right = Conjunction();  // both sides are always parsed
      left = left || right;
    }
    return left;
  }
  bool Conjunction() {
    bool left = Negation();
    while (Keyword(L"AND")) {
      bool right = Negation();
      left = left && right;
    }
    return left;
  }
  bool Negation() {
    if (Keyword(L"NOT")) {
      Enter();
      bool v = !Negation();
      --m_depth;
      return v;
    }
    return Primary();
  }
  bool Primary() {
    Skip();
    if (m_pos < m_text.size() && m_text[m_pos] == L'(') {
      ++m_pos;
      Enter();
      bool v = Implication();
      --m_depth;
      Skip();
      if (m_pos >= m_text.size() || m_text[m_pos] != L')') throw SyntaxError("missing )");
      ++m_pos;
      return v;
    }
    Value left = Operand();
    std::wstring op;
    bool noCase = false;
    if (!Comparison(op, noCase)) {
      if (left.integerLiteral) return left.integer != 0;
      return !left.text.empty();
    }
    Value right = Operand();
    return Compare(left, op, noCase, right);
  }

  bool Comparison(std::wstring& op, bool& noCase) {
    Skip();
    std::size_t start = m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == L'~') {
      noCase = true;
      ++m_pos;
    }
    static const wchar_t* const kOps[] = {L"<>", L"><", L"<<", L">>", L">=",
                                          L"<=", L"=",  L"<",  L">"};
    for (const wchar_t* o : kOps) {
      std::size_t n = std::wcslen(o);
      if (m_text.compare(m_pos, n, o) == 0) {
        op = o;
        m_pos += n;
        return true;
      }
    }
    if (noCase) throw SyntaxError("~ without a comparison");
    m_pos = start;
    return false;
  }

  std::wstring Name() {
    std::size_t start = m_pos;
    while (m_pos < m_text.size() && NameChar(m_text[m_pos])) ++m_pos;
    if (m_pos == start) throw SyntaxError("a name is missing at " + std::to_string(start));
    return m_text.substr(start, m_pos - start);
  }

  Value Operand() {
    Skip();
    if (m_pos >= m_text.size()) throw SyntaxError("an operand is missing");
    wchar_t c = m_text[m_pos];
    if (c == L'"') {
      std::size_t end = m_text.find(L'"', m_pos + 1);
      if (end == std::wstring::npos) throw SyntaxError("a string is not closed");
      Value v;
      v.text = m_text.substr(m_pos + 1, end - m_pos - 1);
      v.stringLiteral = true;
      m_pos = end + 1;
      return v;
    }
    if (std::iswdigit(c) ||
        (c == L'-' && m_pos + 1 < m_text.size() && std::iswdigit(m_text[m_pos + 1]))) {
      std::size_t start = m_pos++;
      while (m_pos < m_text.size() && std::iswdigit(m_text[m_pos])) ++m_pos;
      long long n = 0;
      if (!ReadInteger(m_text.substr(start, m_pos - start), n))
        throw SyntaxError("an integer is too long");
      return FromInteger(n);
    }
    if (c == L'%') {
      ++m_pos;
      std::wstring name = Name();
      return FromText(m_context.environment ? m_context.environment(name) : L"");
    }
    if (c == L'$' || c == L'?' || c == L'&' || c == L'!') {
      ++m_pos;
      std::wstring name = Name();
      const bool installed = c == L'?' || c == L'!';
      const auto& ask = (c == L'$' || c == L'?') ? m_context.component : m_context.feature;
      return FromInteger(ask ? ask(name, installed) : kStateUnknown);
    }
    if (std::iswalpha(c) || c == L'_') {
      std::size_t start = m_pos;
      std::wstring name = Name();
      for (const wchar_t* k : {L"NOT", L"AND", L"OR", L"XOR", L"EQV", L"IMP"})
        if (platform::EqualsNoCase(name, k)) {
          m_pos = start;
          throw SyntaxError("an operand is missing before a keyword");
        }
      return FromText(m_context.property ? m_context.property(name) : L"");
    }
    throw SyntaxError("unexpected character at " + std::to_string(m_pos));
  }

  static bool Compare(const Value& a, const std::wstring& op, bool noCase, const Value& b) {
    // Integers compare as integers; an integer against a text that is none is unequal only.
    const bool numeric =
        a.readsAsInteger && !a.stringLiteral && b.readsAsInteger && !b.stringLiteral;
    if (!numeric && (a.integerLiteral || b.integerLiteral)) return op == L"<>";
    if (numeric) {
      const long long x = a.integer, y = b.integer;
      if (op == L"=") return x == y;
      if (op == L"<>") return x != y;
      if (op == L">") return x > y;
      if (op == L">=") return x >= y;
      if (op == L"<") return x < y;
      if (op == L"<=") return x <= y;
      if (op == L"><") return (x & y) != 0;
      if (op == L"<<") return ((x >> 16) & 0xffff) == y;
      if (op == L">>") return (x & 0xffff) == y;
      return false;
    }
    const std::wstring x = noCase ? platform::ToUpper(a.text) : a.text;
    const std::wstring y = noCase ? platform::ToUpper(b.text) : b.text;
    if (op == L"=") return x == y;
    if (op == L"<>") return x != y;
    if (op == L">") return x > y;
    if (op == L">=") return x >= y;
    if (op == L"<") return x < y;
    if (op == L"<=") return x <= y;
    if (op == L"><") return x.find(y) != std::wstring::npos;
    if (op == L"<<") return x.compare(0, y.size(), y) == 0 && x.size() >= y.size();
    if (op == L">>")
      return x.size() >= y.size() && x.compare(x.size() - y.size(), y.size(), y) == 0;
    return false;
  }

  const std::wstring& m_text;
  const ConditionContext& m_context;
  std::size_t m_pos = 0;
  int m_depth = 0;
};

}  // namespace

ConditionResult EvaluateCondition(const std::wstring& condition, const ConditionContext& context,
                                  std::wstring* error) {
  bool blank = true;
  for (wchar_t c : condition) blank = blank && std::iswspace(c);
  if (blank) return ConditionResult::None;
  if (condition.size() > kMaxLength) {
    if (error) *error = L"the condition is too long";
    return ConditionResult::Error;
  }
  try {
    Parser parser(condition, context);
    return parser.Parse() ? ConditionResult::True : ConditionResult::False;
  } catch (const SyntaxError& e) {
    if (error) *error = platform::FromUtf8(e.what());
    return ConditionResult::Error;
  }
}

}  // namespace Msi
