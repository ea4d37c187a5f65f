// What the property pane's rows show for a model value and what typed text gives back.
#include "ui/PropertyGridRows.h"

#include "xml/XmlText.h"

#include <gtest/gtest.h>

namespace {

TEST(PropertyGridRows, ValuesAreShownByTheirType) {
  EXPECT_EQ(FormatPropertyValue(CVariant(12.345678), L"%.2f"), L"12.35");
  EXPECT_EQ(FormatPropertyValue(CVariant(0.5235987), L"%.6f"), L"0.523599");
  EXPECT_EQ(FormatPropertyValue(CVariant(-0.004), L"%.2f"), L"-0.00");
  EXPECT_EQ(FormatPropertyValue(CVariant(1e6), L"%.2f"), L"1000000.00");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromR4(1.5f), L"%.2f"), L"1.500000") << "%f for floats";
  EXPECT_EQ(FormatPropertyValue(CVariant(24), L"%.2f"), L"24");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromI2(-7), L"%.2f"), L"-7");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromI4(-70000), L"%.2f"), L"-70000");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromUI2(65535), L"%.2f"), L"65535");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromUI4(4000000000ul), L"%.2f"), L"4000000000");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromUInt(3), L"%.2f"), L"3");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromUI1('A'), L"%.2f"), L"A");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromUI1(0), L"%.2f"), L"");
  EXPECT_EQ(FormatPropertyValue(CVariant(L"Pin 1"), L"%.2f"), L"Pin 1");
  EXPECT_EQ(FormatPropertyValue(CVariant(), L"%.2f"), L"*** error ***");
}

TEST(PropertyGridRows, OnlyTheTrueOfTheModelIsShownAsTrue) {
  EXPECT_EQ(FormatPropertyValue(CVariant(true), L"%.2f"), L"True");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromBoolRaw(VARIANT_TRUE), L"%.2f"), L"True");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromBoolRaw(1), L"%.2f"), L"False");
  EXPECT_EQ(FormatPropertyValue(CVariant::FromBoolRaw(-2), L"%.2f"), L"False");
  EXPECT_EQ(FormatPropertyValue(CVariant(false), L"%.2f"), L"False");
}

TEST(PropertyGridRows, AFormatThatIsNoFixedPrecisionIsNeverApplied) {
  for (const wchar_t* format : {L"%s", L"%.2d", L"%n", L"%.100f", L"", L"%.f", L"x%.2f"})
    EXPECT_EQ(FormatPropertyValue(CVariant(1.0), format), L"*** error ***") << format;
  EXPECT_EQ(FormatPropertyValue(CVariant(1.0), L"%.0f"), L"1");
}

TEST(PropertyGridRows, TypedTextIsReadInTheTypeOfTheValue) {
  auto parsed = ParsePropertyText(CVariant(1.0), L" 42.5 ");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Type(), VT_R8);
  EXPECT_DOUBLE_EQ(parsed->DoubleValue(), 42.5);
  parsed = ParsePropertyText(CVariant(24), L"30");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Type(), VT_INT);
  EXPECT_EQ(parsed->ToInt(), 30);
  parsed = ParsePropertyText(CVariant(false), L" TRUE");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->BoolValue(), VARIANT_TRUE);
  parsed = ParsePropertyText(CVariant(L"a"), L"any text at all");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->TextValue(), L"any text at all");
  parsed = ParsePropertyText(CVariant::FromUI1('a'), L"");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->IntegerValue(), 0);

  struct Refused {
    CVariant current;
    const wchar_t* text;
  };
  for (const Refused& r : {Refused{CVariant(1.0), L"abc"}, Refused{CVariant(1.0), L""},
                           Refused{CVariant(1.0), L"1e400"}, Refused{CVariant(1.0), L"nan"},
                           Refused{CVariant(1.0), L"12,5"}, Refused{CVariant(24), L"12.5"},
                           Refused{CVariant(24), L"3000000000"}, Refused{CVariant(true), L"1"},
                           Refused{CVariant(true), L"yes"}, Refused{CVariant::FromI2(1), L"40000"},
                           Refused{CVariant::FromUI4(1), L"-1"},
                           Refused{CVariant::FromUI1('a'), L"ab"}, Refused{CVariant(), L"1"}})
    EXPECT_FALSE(ParsePropertyText(r.current, r.text))
        << r.current.Type() << " " << MorlaneText::ToUtf8(r.text);
}

TEST(PropertyGridRows, ColoursKeepRedInTheLowestByte) {
  const wxColour c = ToColour(0x00AF8C00);
  EXPECT_EQ(c.Red(), 0x00);
  EXPECT_EQ(c.Green(), 0x8C);
  EXPECT_EQ(c.Blue(), 0xAF);
  EXPECT_EQ(ToColorRef(wxColour(0x30, 0x30, 0xC0)), 0x00C03030u);
  for (COLORREF v : {0x0u, 0x00FFFFFFu, 0x00123456u}) EXPECT_EQ(ToColorRef(ToColour(v)), v);
}

}  // namespace
