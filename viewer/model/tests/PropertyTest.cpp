// The property system: labels and descriptions by text number, kinds, groups, values and their
// conversions, and the relabelling of the shaft-section ends.

#include "model/Property.h"
#include "ui/MlsString.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

namespace {

CGeometry* FakeOwner() { return reinterpret_cast<CGeometry*>(static_cast<std::uintptr_t>(0x1000)); }

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { CMlsString::Clear(); }
  void TearDown() override { CMlsString::Clear(); }
};

}  // namespace

TEST_F(PropertyTest, StandardPropertyTakesItsTextsByNumber) {
  CPropertyStandard w(FakeOwner(), L"w", 401, 0, CVariant(0.0));
  EXPECT_EQ(w.GetKind(), CProperty::eKindStandard);
  EXPECT_EQ(w.GetName(), L"w");
  EXPECT_EQ(w.GetLabel(), L"w");
  EXPECT_EQ(w.GetDescription(), L"");
  EXPECT_EQ(w.GetOwner(), FakeOwner());
  EXPECT_STREQ(w.GetArchiveTag(), "param");
  EXPECT_TRUE(w.IsNamed(L"W"));
  EXPECT_FALSE(w.IsNamed(L"w2"));

  CPropertyStandard pos(nullptr, L"pos", 619, 1100, CVariant(0.0));
  EXPECT_EQ(pos.GetLabel(), L"pos");
  EXPECT_EQ(pos.GetDescription(), L"Section position, mm");
  pos.SetDescriptionId(0);
  EXPECT_EQ(pos.GetDescription(), L"");
  pos.SetLabelId(394);
  EXPECT_EQ(pos.GetLabel(), L"Name");
  pos.SetDescription(L"from the file");
  EXPECT_EQ(pos.GetDescription(), L"from the file");
}

TEST_F(PropertyTest, LabelsAreResolvedInTheLanguageOfTheirTime) {
  TempDir dir;
  dir.Write("lang.xml",
            "<L><Language ID=\"1049\" Caption=\"Russian\"><Messages>"
            "<Item ID=\"394\" Caption=\"&#1048;&#1084;&#1103;\"/></Messages></Language>"
            "<Language ID=\"2000\" Caption=\"English\"><Messages/></Language></L>");
  ASSERT_TRUE(CMlsString::Initialize(dir.WFile("lang.xml").c_str(), 1049, nullptr));
  CPropertyStandard name(nullptr, L"Name", 394, 0, CVariant(L"x"));
  EXPECT_EQ(name.GetLabel(), L"\u0418\u043c\u044f");
  ASSERT_TRUE(CMlsString::SetLanguageLocation(2000));
  EXPECT_EQ(name.GetLabel(), L"\u0418\u043c\u044f");  // kept until set again
  name.SetLabelId(394);
  EXPECT_EQ(name.GetLabel(), L"Name");
}

TEST_F(PropertyTest, ColourAndGroupProperties) {
  CPropertyColor color(FakeOwner(), L"Color", 395, 0);
  EXPECT_EQ(color.GetKind(), CProperty::eKindColor);
  EXPECT_EQ(color.GetLabel(), L"Color");
  color.SetColor(0x00AF8C00);
  EXPECT_EQ(color.GetColor(), 0x00AF8C00u);

  auto group = std::make_shared<CPropertyGroup>(FakeOwner(), L"Box");
  EXPECT_EQ(group->GetKind(), CProperty::eKindGroup);
  EXPECT_EQ(group->GetName(), L"Box");
  EXPECT_EQ(group->GetLabel(), L"Box");
  EXPECT_EQ(group->GetDescription(), L"");
  EXPECT_EQ(group->GetChildCount(), 0);
  auto w = std::make_shared<CPropertyStandard>(FakeOwner(), L"w", 401, 0, CVariant(1.0));
  auto c = std::make_shared<CPropertyColor>(FakeOwner(), L"Color", 395, 0);
  group->AddChild(w);
  group->AddChild(c);
  group->AddChild(nullptr);
  ASSERT_EQ(group->GetChildCount(), 2);
  EXPECT_EQ(group->GetChild(0), w);
  EXPECT_EQ(group->GetChild(1)->GetKind(), CProperty::eKindColor);
  EXPECT_EQ(group->GetChild(2), nullptr);
  EXPECT_EQ(group->GetChild(-1), nullptr);
  // The kind tells value-bearing properties apart.
  EXPECT_EQ(dynamic_cast<CPropertyStandard*>(group->GetChild(1).get()), nullptr);
}

TEST_F(PropertyTest, ShaftSectionEndsFollowTheSignOfTheirValue) {
  CPropertyStandard lch1(nullptr, L"lch1", 617, 1117, CVariant(0.0));
  EXPECT_EQ(lch1.GetLabel(), L"c1 (r1)");
  lch1.SetValue(CVariant(-0.5));
  EXPECT_EQ(lch1.GetLabel(), L"c1 x 45\u00b0");
  EXPECT_EQ(lch1.GetDescription(), L"Initial chamfer width, \u04411, mm");
  lch1.SetValue(CVariant(0.0000005));
  EXPECT_EQ(lch1.GetLabel(), L"c1 (r1)");
  EXPECT_EQ(lch1.GetDescription(), L"Initial chamfer width (rounding radius), \u04411 (r1), mm");
  lch1.SetValue(CVariant(2.0));
  EXPECT_EQ(lch1.GetLabel(), L"r1");
  EXPECT_EQ(lch1.GetDescription(), L"Initial rounding radius, r1, mm");
  lch1.SetValue(CVariant(-0.000001));  // inside the band
  EXPECT_EQ(lch1.GetLabel(), L"c1 (r1)");

  CPropertyStandard lch2(nullptr, L"LCH2", 618, 1118, CVariant(0.0));
  lch2.SetValue(CVariant(-1));
  EXPECT_EQ(lch2.GetLabel(), L"c2 x 45\u00b0");
  EXPECT_EQ(lch2.GetDescription(), L"Final chamfer width, \u04412, mm");
  lch2.SetValue(CVariant(3));
  EXPECT_EQ(lch2.GetLabel(), L"r2");
  EXPECT_EQ(lch2.GetDescription(), L"Final rounding radius, r2, mm");
  EXPECT_TRUE(lch2.UpdateEndLabels(0.0));
  EXPECT_EQ(lch2.GetLabel(), L"c2 (r2)");

  CPropertyStandard other(nullptr, L"l", 616, 1106, CVariant(0.0));
  other.SetValue(CVariant(-5.0));
  EXPECT_EQ(other.GetLabel(), L"l");
  EXPECT_FALSE(other.UpdateEndLabels(-5.0));
  EXPECT_EQ(other.GetValue().ToDouble(), -5.0);
}

TEST(PropertyValue, KindsAndConversions) {
  EXPECT_EQ(CVariant(1.5).Type(), VT_R8);
  EXPECT_EQ(CVariant(3).Type(), VT_INT);
  EXPECT_EQ(CVariant(true).Type(), VT_BOOL);
  EXPECT_EQ(CVariant(true).BoolValue(), VARIANT_TRUE);
  EXPECT_EQ(CVariant(L"t").Type(), VT_BSTR);
  EXPECT_TRUE(CVariant().IsEmpty());

  EXPECT_EQ(CVariant(L" 2.5 ").ToDouble(), 2.5);
  EXPECT_EQ(CVariant(7).ToDouble(), 7.0);
  EXPECT_EQ(CVariant(true).ToDouble(), -1.0);
  EXPECT_EQ(CVariant(2.5).ToInt(), 2);
  EXPECT_EQ(CVariant(3.5).ToInt(), 4);
  EXPECT_EQ(CVariant(L"12").ToUInt(), 12u);
  EXPECT_TRUE(CVariant(L"True").ToBool());
  EXPECT_FALSE(CVariant(L"false").ToBool());
  EXPECT_TRUE(CVariant(0.5).ToBool());
  EXPECT_FALSE(CVariant(0).ToBool());
  EXPECT_EQ(CVariant(2.5).ToText(), L"2.5");
  EXPECT_EQ(CVariant(false).ToText(), L"False");

  EXPECT_THROW(CVariant(L"abc").ToDouble(), CComError);
  EXPECT_THROW(CVariant(L"yes").ToBool(), CComError);
  EXPECT_THROW(CVariant(-1.0).ToUInt(), CComError);
  EXPECT_THROW(CVariant(1e12).ToInt(), CComError);
  try {
    CVariant(L"x").ToDouble();
    FAIL() << "no error";
  } catch (const CComError& e) {
    EXPECT_EQ(e.Error(), CComError::DISP_E_TYPEMISMATCH);
  }

  EXPECT_EQ(CVariant::FromBoolRaw(1).BoolValue(), 1);
  EXPECT_EQ(CVariant::FromUI4(4000000000ul).ToDouble(), 4000000000.0);
  EXPECT_EQ(CVariant(1.0), CVariant(1.0));
  EXPECT_NE(CVariant(1.0), CVariant(1));
  EXPECT_NE(CVariant(L"a"), CVariant(L"b"));
}

TEST(PropertyValue, StandardValueIsCopied) {
  CPropertyStandard name(nullptr, L"Name", 394, 0, CVariant(L"No name"));
  CVariant v = name.GetValue();
  EXPECT_EQ(v.TextValue(), L"No name");
  name.SetValue(CVariant(L"Shaft 1"));
  EXPECT_EQ(v.TextValue(), L"No name");
  EXPECT_EQ(name.GetValue().TextValue(), L"Shaft 1");
}

TEST_F(PropertyTest, TextIsConvertedByTheKindOfTheCurrentValue) {
  CPropertyStandard d(nullptr, L"w", 401, 0, CVariant(0.0));
  d.SetValueFromText(L"12.5mm");
  EXPECT_EQ(d.GetValue().Type(), VT_R8);
  EXPECT_EQ(d.GetValue().ToDouble(), 12.5);
  d.SetValueFromText(L"abc");
  EXPECT_EQ(d.GetValue().ToDouble(), 0.0);

  CPropertyStandard b(nullptr, L"taper", 589, 0, CVariant(false));
  b.SetValueFromText(L"true");
  EXPECT_EQ(b.GetValue().BoolValue(), VARIANT_TRUE);
  b.SetValueFromText(L"yes");
  EXPECT_EQ(b.GetValue().BoolValue(), VARIANT_FALSE);

  CPropertyStandard z(nullptr, L"z", 492, 0, CVariant::FromUInt(0));
  z.SetValueFromText(L" 42 teeth");
  EXPECT_EQ(z.GetValue().Type(), VT_INT);
  EXPECT_EQ(z.GetValue().ToInt(), 42);

  CPropertyStandard name(nullptr, L"Name", 394, 0, CVariant(L"No name"));
  name.SetValueFromText(L"Gear 1");
  EXPECT_EQ(name.GetValue().TextValue(), L"Gear 1");

  CPropertyStandard lch1(nullptr, L"lch1", 617, 1117, CVariant(0.0));
  lch1.SetValueFromText(L"-1");
  EXPECT_EQ(lch1.GetLabel(), L"c1 x 45\u00b0");
}

TEST_F(PropertyTest, SerializeWritesAndReadsNameValueAndDescription) {
  XMLDocument doc;
  XMLNode* node = doc.GetRoot()->NewChild(L"param");
  CPropertyStandard w(nullptr, L"w", 401, 1106, CVariant(2.5));
  w.Serialize(node, true);
  EXPECT_EQ(node->GetStrAttr(L"Name"), L"w");
  EXPECT_EQ(node->GetTagValue(), L"2.5");
  EXPECT_EQ(node->GetStrAttr(L"Description"), L"Length, l, mm");

  CPropertyStandard back(nullptr, L"w", 401, 0, CVariant(0.0));
  back.Serialize(node, false);
  EXPECT_EQ(back.GetValue().ToDouble(), 2.5);
  EXPECT_EQ(back.GetDescription(), L"Length, l, mm");
}
