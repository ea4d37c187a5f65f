#pragma once
// The numbers of the viewer's texts, as the language file and the library's string table
// (ui/StringTable.cpp) know them. Code looks texts up by these names, never by bare numbers;
// a new text gets its constant here and its default in the string table.

namespace TextId {

// Windows and panes.
constexpr int AppTitle = 110;        // "CAD Ondravel Viewer"
constexpr int ModelStructure = 155;  // "Model Structure"
constexpr int ModelGeometry = 158;   // "Model Geometry and Properties"

// Model tree objects.
constexpr int Node = 390;      // "Node"
constexpr int Root = 391;      // "Root"
constexpr int Object3D = 392;  // "Object 3D"
constexpr int NoName = 393;    // "No name"
constexpr int Name = 394;      // "Name"
constexpr int Color = 395;     // "Color"

// Primitive solids: caption, then the labels of their parameters in order.
constexpr int Box = 400, BoxW = 401, BoxH = 402, BoxL = 403;
constexpr int Sphere = 410, SphereR = 411;
constexpr int Cylinder = 420, CylinderR = 421, CylinderL = 422;
constexpr int Cone = 430, ConeR1 = 431, ConeR2 = 432, ConeL = 433;
constexpr int Torus = 440, TorusR1 = 441, TorusR2 = 442;
constexpr int Wedge = 450, WedgeWb = 451, WedgeH = 452, WedgeL = 453, WedgeWt = 454;
constexpr int HollowCylinder = 460, HollowCylinderDout = 461, HollowCylinderDin = 462,
              HollowCylinderL = 463;
constexpr int HollowCone = 470, HollowConeDout1 = 471, HollowConeDout2 = 472, HollowConeDin1 = 473,
              HollowConeDin2 = 474, HollowConeL = 475;

// Shafts and the ends of their sections.
constexpr int Shaft = 610;                                     // "Shaft"
constexpr int ShaftSection = 611;                              // "Shaft section"
constexpr int SectionEnd1 = 617, SectionEnd2 = 618;            // "c1 (r1)", "c2 (r2)"
constexpr int SectionChamfer1 = 625, SectionChamfer2 = 626;    // "c1 x 45°", "c2 x 45°"
constexpr int SectionRounding1 = 627, SectionRounding2 = 628;  // "r1", "r2"

// Descriptions of the shaft-section and groove parameters.
constexpr int DescPosition = 1100, DescOuterDiameter1 = 1101, DescOuterDiameter2 = 1102,
              DescInnerDiameter1 = 1103, DescInnerDiameter2 = 1104, DescDistance = 1105,
              DescLength = 1106, DescDepth = 1107, DescRadius = 1108, DescAngle = 1109,
              DescOuterWidth = 1110, DescInnerWidth = 1111, DescSlotCount = 1112,
              DescChamfer1 = 1113, DescChamfer2 = 1114, DescRounding1 = 1115, DescRounding2 = 1116,
              DescEnd1 = 1117, DescEnd2 = 1118;
constexpr int NotFound = 1119;  // "%s not found !"

// The five header texts of a model, in order (FileDescription ... Authorisation).
constexpr int FileDescription = 2000, FileName = 2001, Author = 2002, Organization = 2003,
              Authorisation = 2004;

// Messages.
constexpr int MsgInvalidParameterIn = 3000;  // "Invalid parameter in '%s'"
constexpr int MsgInvalidParameter = 3001;    // "Invalid parameter!"
constexpr int MsgExportError = 3002;         // "Error in file export!"
constexpr int MsgImportError = 3003;         // "Error in file import!"
constexpr int MsgPermissionDenied = 3006;    // "Permission denied for create object '%s'"
constexpr int MsgInvalidUse = 3007;          // "Invalid use '%s'"
constexpr int MsgUnknownError = 3008;        // "Unknown error in '%s'"
constexpr int MsgNothingSelected = 3009;     // "Nothing is selected!"

}  // namespace TextId
