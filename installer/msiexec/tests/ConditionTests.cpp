// Conditional expressions of a package, evaluated against fixed properties and states.
#include "msiexec/Condition.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Msi::ConditionResult;

struct Case {
  const wchar_t* condition;
  ConditionResult expected;
};

class Conditions : public ::testing::Test {
 protected:
  Conditions() {
    context.property = [this](const std::wstring& n) {
      auto it = properties.find(n);
      return it == properties.end() ? std::wstring() : it->second;
    };
    context.environment = [](const std::wstring& n) {
      return n == L"PROBE_HOME" ? std::wstring(L"C:\\Probe") : std::wstring();
    };
    context.feature = [](const std::wstring& n, bool installed) {
      if (n == L"Docs") return installed ? Msi::kStateAbsent : Msi::kStateLocal;
      if (n == L"Core") return installed ? Msi::kStateLocal : Msi::kStateUnknown;
      return Msi::kStateUnknown;
    };
    context.component = [](const std::wstring& n, bool installed) {
      if (n == L"Main") return installed ? Msi::kStateLocal : Msi::kStateAbsent;
      return Msi::kStateUnknown;
    };
  }
  void Check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      std::wstring error;
      EXPECT_EQ(Msi::EvaluateCondition(c.condition, context, &error), c.expected)
          << std::string(c.condition, c.condition + std::wcslen(c.condition));
    }
  }
  std::map<std::wstring, std::wstring> properties = {
      {L"VersionNT", L"603"}, {L"Installed", L""},   {L"COLOUR", L"Red"},
      {L"COUNT", L"12"},      {L"FLAGS", L"196613"}, {L"PATH1", L"C:\\Program Files\\Probe"},
      {L"NEGATIVE", L"-5"},   {L"ALLUSERS", L"1"}};
  Msi::ConditionContext context;
};

constexpr auto T = ConditionResult::True;
constexpr auto F = ConditionResult::False;
constexpr auto E = ConditionResult::Error;

TEST_F(Conditions, PropertiesLiteralsAndComparisons) {
  Check({{L"VersionNT", T},
         {L"Installed", F},
         {L"NOT Installed", T},
         {L"UNSET", F},
         {L"VersionNT >= 600", T},
         {L"VersionNT < 600", F},
         {L"VersionNT = 603", T},
         {L"COUNT > 9", T},  // integers, not texts ("12" < "9")
         {L"NEGATIVE < 0", T},
         {L"COLOUR = \"Red\"", T},
         {L"COLOUR = \"red\"", F},
         {L"COLOUR ~= \"red\"", T},
         {L"COLOUR <> \"Blue\"", T},
         {L"COLOUR = 5", F},   // a text against an integer
         {L"COLOUR <> 5", T},  // ... is unequal
         {L"UNSET = \"\"", T},
         {L"\"abc\" < \"abd\"", T},
         {L"0", F},
         {L"7", T},
         {L"\"\"", F},
         {L"\"x\"", T},
         {L"%PROBE_HOME = \"C:\\Probe\"", T},
         {L"%NO_SUCH_VARIABLE", F},
         {L"ALLUSERS=1", T}});
}

TEST_F(Conditions, SubstringAndBitwiseOperators) {
  Check({{L"PATH1 >< \"Program\"", T},
         {L"PATH1 >< \"program\"", F},
         {L"PATH1 ~>< \"program\"", T},
         {L"PATH1 << \"C:\\\"", T},
         {L"PATH1 >> \"Probe\"", T},
         {L"PATH1 ~>> \"PROBE\"", T},
         {L"PATH1 << \"D:\"", F},
         // 196613 = 0x00030005: high word 3, low word 5.
         {L"FLAGS << 3", T},
         {L"FLAGS >> 5", T},
         {L"FLAGS >> 3", F},
         {L"FLAGS >< 4", T},
         {L"FLAGS >< 8", F}});
}

TEST_F(Conditions, LogicFromTheTightestOperatorOn) {
  Check({{L"VersionNT AND NOT Installed", T},
         {L"Installed OR COUNT", T},
         {L"Installed OR UNSET", F},
         {L"NOT (Installed OR UNSET)", T},
         // AND binds tighter than OR: true OR (false AND false).
         {L"VersionNT OR Installed AND UNSET", T},
         {L"(VersionNT OR Installed) AND UNSET", F},
         {L"VersionNT XOR COUNT", F},
         {L"VersionNT XOR UNSET", T},
         {L"Installed EQV UNSET", T},
         {L"VersionNT EQV UNSET", F},
         {L"VersionNT IMP UNSET", F},
         {L"Installed IMP UNSET", T},
         // XOR binds tighter than EQV, which binds tighter than IMP.
         {L"Installed IMP VersionNT XOR COUNT", T},
         {L"not installed", T},  // keywords in any case; names keep theirs (no "installed")
         {L"VersionNT and Installed", F}});
}

TEST_F(Conditions, FeatureAndComponentStates) {
  Check({{L"&Docs = 3", T},
         {L"!Docs = 2", T},
         {L"!Core = 3 AND &Core = -1", T},
         {L"?Main = 3", T},
         {L"$Main = 2", T},
         {L"$Main = 3", F},
         {L"&Missing = -1", T}});
}

TEST_F(Conditions, BadTextIsAnErrorAndBlankIsNone) {
  EXPECT_EQ(Msi::EvaluateCondition(L"", context), ConditionResult::None);
  EXPECT_EQ(Msi::EvaluateCondition(L"   ", context), ConditionResult::None);
  EXPECT_TRUE(Msi::ConditionHolds(ConditionResult::None));
  EXPECT_FALSE(Msi::ConditionHolds(ConditionResult::Error));
  Check({{L"VersionNT >", E},
         {L"(VersionNT", E},
         {L"VersionNT)", E},
         {L"COLOUR = \"Red", E},
         {L"AND VersionNT", E},
         {L"VersionNT ~ 3", E},
         {L"VersionNT # 3", E},
         {L"NOT", E},
         {L"VersionNT VersionNT", E}});
  std::wstring error;
  EXPECT_EQ(Msi::EvaluateCondition(L"(VersionNT", context, &error), E);
  EXPECT_NE(error.find(L")"), std::wstring::npos) << std::string(error.begin(), error.end());
  // Nesting is bounded, not a stack overflow.
  EXPECT_EQ(Msi::EvaluateCondition(std::wstring(40, L'(') + L"1" + std::wstring(40, L')'), context),
            T);
  EXPECT_EQ(
      Msi::EvaluateCondition(std::wstring(100, L'(') + L"1" + std::wstring(100, L')'), context), E);
  std::wstring nots;
  for (int i = 0; i < 100; ++i) nots += L"NOT ";
  EXPECT_EQ(Msi::EvaluateCondition(nots + L"1", context), E);
}

}  // namespace
