// The named text numbers and the library's string table agree.
#include "ui/StringTable.h"
#include "ui/TextIds.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextIds, EveryNamedTextHasADefaultInTheStringTable) {
  using namespace TextId;
  const int ids[] = {AppTitle,
                     ModelStructure,
                     ModelGeometry,
                     Node,
                     Root,
                     Object3D,
                     NoName,
                     Name,
                     Color,
                     Box,
                     BoxW,
                     BoxH,
                     BoxL,
                     Sphere,
                     SphereR,
                     Cylinder,
                     CylinderR,
                     CylinderL,
                     Cone,
                     ConeR1,
                     ConeR2,
                     ConeL,
                     Torus,
                     TorusR1,
                     TorusR2,
                     Wedge,
                     WedgeWb,
                     WedgeH,
                     WedgeL,
                     WedgeWt,
                     HollowCylinder,
                     HollowCylinderDout,
                     HollowCylinderDin,
                     HollowCylinderL,
                     HollowCone,
                     HollowConeDout1,
                     HollowConeDout2,
                     HollowConeDin1,
                     HollowConeDin2,
                     HollowConeL,
                     Shaft,
                     ShaftSection,
                     SectionEnd1,
                     SectionEnd2,
                     SectionChamfer1,
                     SectionChamfer2,
                     SectionRounding1,
                     SectionRounding2,
                     DescPosition,
                     DescOuterDiameter1,
                     DescOuterDiameter2,
                     DescInnerDiameter1,
                     DescInnerDiameter2,
                     DescDistance,
                     DescLength,
                     DescDepth,
                     DescRadius,
                     DescAngle,
                     DescOuterWidth,
                     DescInnerWidth,
                     DescSlotCount,
                     DescChamfer1,
                     DescChamfer2,
                     DescRounding1,
                     DescRounding2,
                     DescEnd1,
                     DescEnd2,
                     NotFound,
                     FileDescription,
                     FileName,
                     Author,
                     Organization,
                     Authorisation,
                     MsgInvalidParameterIn,
                     MsgInvalidParameter,
                     MsgExportError,
                     MsgImportError,
                     MsgPermissionDenied,
                     MsgInvalidUse,
                     MsgUnknownError,
                     MsgNothingSelected};
  for (int id : ids) EXPECT_NE(MorlaneBuiltInString(id), nullptr) << id;
}

TEST(TextIds, NamesMatchTheTextsTheyStandFor) {
  const struct {
    int id;
    const wchar_t* text;
  } cases[] = {
      {TextId::NoName, L"No name"},
      {TextId::Root, L"Root"},
      {TextId::Shaft, L"Shaft"},
      {TextId::Authorisation, L"Authorisation"},
      {TextId::MsgInvalidParameterIn, L"Invalid parameter in '%s'"},
      {TextId::MsgPermissionDenied, L"Permission denied for create object '%s'"},
      {TextId::MsgInvalidUse, L"Invalid use '%s'"},
      {TextId::MsgUnknownError, L"Unknown error in '%s'"},
      {TextId::MsgImportError, L"Error in file import!"},
      {TextId::MsgExportError, L"Error in file export!"},
      {TextId::MsgNothingSelected, L"Nothing is selected!"},
  };
  for (const auto& c : cases) {
    const wchar_t* text = MorlaneBuiltInString(c.id);
    ASSERT_NE(text, nullptr) << c.id;
    EXPECT_EQ(std::wstring(text), c.text) << c.id;
  }
}
