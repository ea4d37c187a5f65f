// Conditional expressions of a Windows Installer package (the Condition column of the sequence,
// Component, Condition and LaunchCondition tables), parsed and evaluated as the Installer
// documents them:
//   - operands: property names, %ENVIRONMENT variables, "quoted strings", integers, and the
//     states $Component / ?Component (action / installed) and &Feature / !Feature;
//   - comparisons = <> > >= < <=, with ~ in front for a comparison without regard to case, and
//     the substring operators >< (contains), << (starts with), >> (ends with), which on two
//     integers are the bitwise tests of the documentation (AND, high word, low word);
//   - logic, from the tightest: NOT, AND, OR, XOR, EQV, IMP, and parentheses.
// An operand on its own is true when it is a non-empty text or a non-zero integer. A property
// whose value reads as a whole integer compares as one; an integer compared with a text that is
// not one is false, except for <>. Names of properties are case-sensitive.
#pragma once

#include <functional>
#include <string>

namespace Msi {

// The answers of MsiEvaluateCondition.
enum class ConditionResult { False, True, None, Error };

// Feature and component states as the condition operands give them.
inline constexpr int kStateUnknown = -1;
inline constexpr int kStateAbsent = 2;
inline constexpr int kStateLocal = 3;

struct ConditionContext {
  std::function<std::wstring(const std::wstring&)> property;     // "" when unset
  std::function<std::wstring(const std::wstring&)> environment;  // "" when unset
  // State of a feature or component: `installed` true for ! and ?, false for & and $.
  std::function<int(const std::wstring&, bool installed)> feature;
  std::function<int(const std::wstring&, bool installed)> component;
};

// None for an empty (or blank) condition, Error for one that does not parse; the reason of an
// error in `error` when given.
ConditionResult EvaluateCondition(const std::wstring& condition, const ConditionContext& context,
                                  std::wstring* error = nullptr);

// True unless the condition is False or Error (an empty condition is true).
inline bool ConditionHolds(ConditionResult r) {
  return r == ConditionResult::True || r == ConditionResult::None;
}

}  // namespace Msi
