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

// Captions of the element catalogue (the primitives' and the shaft's are above). Text 520, the
// bevel gear's caption, reads "Rack gear" in the shipped table. A bearing kind's name is text
// BearingKindSliding plus the kind's code (0 sliding ... 20 needle roller).
constexpr int PlanetCarrier = 480;
constexpr int GearInternal = 490;
constexpr int GearExternal = 491;
constexpr int GearDoubleInternal = 503;
constexpr int GearDoubleExternal = 504;
constexpr int RackGear = 510;
constexpr int ConeGear = 520;
constexpr int BeamRect = 530;
constexpr int BeamCircular = 540;
constexpr int BeamElliptical = 550;
constexpr int BeamL = 560;
constexpr int BeamZ = 570;
constexpr int BeamT = 580;
constexpr int BeamI = 590;
constexpr int BeamU = 600;
constexpr int GrooveRectangular = 620;
constexpr int GrooveCircular = 630;
constexpr int NotchChevron = 640;
constexpr int CrossHole = 650;
constexpr int GrooveParallelKey = 660;
constexpr int Slots = 670;
constexpr int Bearing = 680;
constexpr int BearingKindSliding = 690;
constexpr int BoltCarriage = 720;
constexpr int BoltEye = 730;
constexpr int BoltHex = 740;
constexpr int BoltHexFlange = 750;
constexpr int BoltHexSetDogCone = 760;
constexpr int BoltHexSetDogPoint = 770;
constexpr int BoltHexSocket = 780;
constexpr int BoltHexSocketCountersunk = 790;
constexpr int BoltU = 800;
constexpr int BoltRing = 810;
constexpr int BoltT_Head = 820;
constexpr int BoltT_HeadSquareNeck = 830;
constexpr int ScrewCheeseSlotted = 840;
constexpr int ScrewPanSlotted = 850;
constexpr int ScrewCountersunkSlotted = 860;
constexpr int ScrewCountersunkRaisedSlotted = 870;
constexpr int ScrewFillisterCrossRecessed = 880;
constexpr int ScrewCountersunkCrossRecessed = 890;
constexpr int ScrewCountersunkRaisedCrossRecessed = 900;
constexpr int ScrewHexSocketButton = 910;
constexpr int ScrewCountersunkSquareNeck = 920;
constexpr int ScrewSquareCollar = 930;
constexpr int ScrewThumb = 940;
constexpr int ScrewSetSlottedDogPoint = 950;
constexpr int ScrewSetSlottedConePoint = 960;
constexpr int ScrewSetHexSocketDogPoint = 970;
constexpr int ScrewSetHexSocketConePoint = 980;
constexpr int StudDoubleEnd = 990;
constexpr int BoltSpigot = 1000;
constexpr int PointOfProfile = 1010;

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

// The frame's file dialogs: titles and filters ("description|patterns|...||").
constexpr int DlgExport = 2100;          // "Export"
constexpr int DlgImport = 2101;          // "Import"
constexpr int DlgExchangeFilter = 2102;  // STEP, IGES and STL
constexpr int DlgRecognize = 2103;       // "Recognize"
constexpr int DlgStepFilter = 2105;      // STEP only
constexpr int DlgOpen = 2106;            // "Open"
constexpr int DlgModelFilter = 2107;     // model files; from the library's table only

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
constexpr int MsgCannotOpenModel = 3011;  // no built-in text: the language file's, or the frame's
constexpr int MsgBuildingSolids = 3012;   // "Building the solids of the model..."

}  // namespace TextId
