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

// Elements of the catalogue: the caption, then the labels of the parameters in the order the
// element adds them. The labels' texts are the parameter names, except the bearing's B ("b").
constexpr int PlanetCarrier = 480, PlanetCarrierN = 481, PlanetCarrierR = 482, PlanetCarrierL = 483;

// Gears: the gears and their tooth profiles share one set of parameter labels. Text 520, the
// bevel gear's caption, reads "Rack gear" in the shipped table.
constexpr int GearInternal = 490, GearExternal = 491, GearDoubleInternal = 503,
              GearDoubleExternal = 504;
constexpr int GearZ = 492, GearMn = 493, GearB = 494, GearAlpha = 495, GearBeta = 496, GearK = 497,
              GearX = 498, GearD = 499, GearSpline = 500, GearBn = 501, GearDn = 502;
constexpr int RackGear = 510, RackGearMn = 511, RackGearB = 512, RackGearH = 513, RackGearL = 514;
constexpr int ConeGear = 520, ConeGearZ = 521, ConeGearMe = 522, ConeGearAngle = 523,
              ConeGearDb = 524, ConeGearDc = 525, ConeGearA = 526, ConeGearC = 527, ConeGearE = 528;

// Beams.
constexpr int BeamRect = 530, BeamRectH = 531, BeamRectB = 532, BeamRectL = 533, BeamRectT = 534;
constexpr int BeamCircular = 540, BeamCircularD = 541, BeamCircularL = 542, BeamCircularT = 543;
constexpr int BeamElliptical = 550, BeamEllipticalD1 = 551, BeamEllipticalD2 = 552,
              BeamEllipticalL = 553, BeamEllipticalT = 554;
constexpr int BeamL = 560, BeamLH = 561, BeamLB = 562, BeamLT = 563, BeamLR = 564, BeamLL = 565;
constexpr int BeamZ = 570, BeamZH = 571, BeamZB = 572, BeamZT = 573, BeamZS = 574, BeamZR1 = 575,
              BeamZR2 = 576, BeamZL = 577;
constexpr int BeamT = 580, BeamTH = 581, BeamTB = 582, BeamTT = 583, BeamTS = 584, BeamTR1 = 585,
              BeamTR2 = 586, BeamTR3 = 587, BeamTL = 588, BeamTTaper = 589;
constexpr int BeamI = 590, BeamIH = 591, BeamIB = 592, BeamIT = 593, BeamIS = 594, BeamIR1 = 595,
              BeamIR2 = 596, BeamIL = 597, BeamITaper = 598;
constexpr int BeamU = 600, BeamUH = 601, BeamUB = 602, BeamUT = 603, BeamUS = 604, BeamUR1 = 605,
              BeamUR2 = 606, BeamUL = 607, BeamUTaper = 608;

// Grooves of shaft sections (their descriptions are the Desc... texts below).
constexpr int GrooveRectangular = 620, GrooveRectangularX = 621, GrooveRectangularM = 622,
              GrooveRectangularT = 623, GrooveRectangularR = 624;
constexpr int GrooveCircular = 630, GrooveCircularX = 631, GrooveCircularT = 632,
              GrooveCircularR = 633;
constexpr int NotchChevron = 640, NotchChevronX = 641, NotchChevronT = 642;
constexpr int CrossHole = 650, CrossHoleX = 651, CrossHoleT = 652, CrossHoleR = 653,
              CrossHoleAngle = 654;
constexpr int GrooveParallelKey = 660, GrooveParallelKeyX = 661, GrooveParallelKeyL = 662,
              GrooveParallelKeyT = 663, GrooveParallelKeyR = 664, GrooveParallelKeyAngle = 665;
constexpr int Slots = 670, SlotsX = 671, SlotsL = 672, SlotsN = 673, SlotsD = 674, SlotsWin = 675,
              SlotsWout = 676;

// Bearings: the caption, the parameters, and each kind's name, text BearingKindSliding plus the
// kind's code (0 sliding ... 20 needle roller).
constexpr int Bearing = 680, BearingDout = 681, BearingDin = 682, BearingB = 683;
constexpr int BearingKindSliding = 690, BearingKindRoller = 691,
              BearingKindSingleRowDeepGrooveBall = 692, BearingKindDoubleRowDeepGrooveBall = 693,
              BearingKindSingleRowAngularContactBall = 694,
              BearingKindDoubleRowAngularContactBall = 695, BearingKindSelfAligningBall = 696,
              BearingKindFourPoint = 697, BearingKindSingleDirectionThrustBall = 698,
              BearingKindDoubleDirectionThrustBall = 699,
              BearingKindSingleDirectionAngularContactThrustBall = 700,
              BearingKindDoubleDirectionAngularContactThrustBall = 701,
              BearingKindSingleRowCylindricalRoller = 702,
              BearingKindDoubleRowCylindricalRoller = 703, BearingKindTaperedRoller = 704,
              BearingKindBarrelRoller = 705, BearingKindSphericalRoller = 706,
              BearingKindSingleDirectionCylindricalRollerThrust = 707,
              BearingKindDoubleDirectionCylindricalRollerThrust = 708,
              BearingKindSphericalRollerThrust = 709, BearingKindNeedleRoller = 710;
static_assert(BearingKindNeedleRoller == BearingKindSliding + 20);

// Bolts, screws and studs.
constexpr int BoltCarriage = 720, BoltCarriageD = 721, BoltCarriageB = 722, BoltCarriageDs = 723,
              BoltCarriageLs = 724, BoltCarriageD1 = 725, BoltCarriageK = 726, BoltCarriageV = 727,
              BoltCarriageF = 728;
constexpr int BoltEye = 730, BoltEyeD = 731, BoltEyeB = 732, BoltEyeLs = 733, BoltEyeD1 = 734,
              BoltEyeD2 = 735, BoltEyeS = 736;
constexpr int BoltHex = 740, BoltHexD = 741, BoltHexB = 742, BoltHexDs = 743, BoltHexLs = 744,
              BoltHexS = 745, BoltHexK = 746, BoltHexDw = 747, BoltHexC = 748;
constexpr int BoltHexFlange = 750, BoltHexFlangeD = 751, BoltHexFlangeB = 752,
              BoltHexFlangeDs = 753, BoltHexFlangeLs = 754, BoltHexFlangeD1 = 755,
              BoltHexFlangeS = 756, BoltHexFlangeK = 757;
constexpr int BoltHexSetDogCone = 760, BoltHexSetDogConeD = 761, BoltHexSetDogConeB = 762,
              BoltHexSetDogConeDs = 763, BoltHexSetDogConeLs = 764, BoltHexSetDogConeS = 765,
              BoltHexSetDogConeK = 766, BoltHexSetDogConeDp = 767, BoltHexSetDogConeZp = 768;
constexpr int BoltHexSetDogPoint = 770, BoltHexSetDogPointD = 771, BoltHexSetDogPointB = 772,
              BoltHexSetDogPointDs = 773, BoltHexSetDogPointLs = 774, BoltHexSetDogPointS = 775,
              BoltHexSetDogPointK = 776, BoltHexSetDogPointDp = 777, BoltHexSetDogPointZp = 778;
constexpr int BoltHexSocket = 780, BoltHexSocketD = 781, BoltHexSocketB = 782,
              BoltHexSocketDs = 783, BoltHexSocketLs = 784, BoltHexSocketD1 = 785,
              BoltHexSocketK = 786, BoltHexSocketS = 787, BoltHexSocketT = 788;
constexpr int BoltHexSocketCountersunk = 790, BoltHexSocketCountersunkD = 791,
              BoltHexSocketCountersunkB = 792, BoltHexSocketCountersunkDs = 793,
              BoltHexSocketCountersunkLs = 794, BoltHexSocketCountersunkD1 = 795,
              BoltHexSocketCountersunkS = 796, BoltHexSocketCountersunkT = 797;
constexpr int BoltU = 800, BoltUD = 801, BoltUB = 802, BoltULs = 803, BoltUD1 = 804;
constexpr int BoltRing = 810, BoltRingD = 811, BoltRingB = 812, BoltRingD1 = 813, BoltRingD2 = 814,
              BoltRingD3 = 815, BoltRingK = 816;
constexpr int BoltT_Head = 820, BoltT_HeadD = 821, BoltT_HeadB = 822, BoltT_HeadLs = 823,
              BoltT_HeadS1 = 824, BoltT_HeadK = 825;
constexpr int BoltT_HeadSquareNeck = 830, BoltT_HeadSquareNeckD = 831, BoltT_HeadSquareNeckB = 832,
              BoltT_HeadSquareNeckLs = 833, BoltT_HeadSquareNeckS1 = 834,
              BoltT_HeadSquareNeckK = 835;
constexpr int BoltSpigot = 1000, BoltSpigotD = 1001, BoltSpigotB = 1002, BoltSpigotDs = 1003,
              BoltSpigotLs = 1004, BoltSpigotD1 = 1005, BoltSpigotS = 1006, BoltSpigotK = 1007;
constexpr int ScrewCheeseSlotted = 840, ScrewCheeseSlottedD = 841, ScrewCheeseSlottedB = 842,
              ScrewCheeseSlottedD1 = 843, ScrewCheeseSlottedK = 844, ScrewCheeseSlottedN = 845,
              ScrewCheeseSlottedT = 846;
constexpr int ScrewPanSlotted = 850, ScrewPanSlottedD = 851, ScrewPanSlottedB = 852,
              ScrewPanSlottedD1 = 853, ScrewPanSlottedK = 854, ScrewPanSlottedN = 855,
              ScrewPanSlottedT = 856;
// The slotted countersunk screw shows the pan head screw's labels (it has no k): deliberately
// the same numbers, as the language files have them.
constexpr int ScrewCountersunkSlotted = 860, ScrewCountersunkSlottedD = ScrewPanSlottedD,
              ScrewCountersunkSlottedB = ScrewPanSlottedB,
              ScrewCountersunkSlottedD1 = ScrewPanSlottedD1,
              ScrewCountersunkSlottedN = ScrewPanSlottedN,
              ScrewCountersunkSlottedT = ScrewPanSlottedT;
constexpr int ScrewCountersunkRaisedSlotted = 870, ScrewCountersunkRaisedSlottedD = 871,
              ScrewCountersunkRaisedSlottedB = 872, ScrewCountersunkRaisedSlottedD1 = 873,
              ScrewCountersunkRaisedSlottedK = 874, ScrewCountersunkRaisedSlottedN = 875,
              ScrewCountersunkRaisedSlottedT = 876;
constexpr int ScrewFillisterCrossRecessed = 880, ScrewFillisterCrossRecessedD = 881,
              ScrewFillisterCrossRecessedB = 882, ScrewFillisterCrossRecessedD1 = 883,
              ScrewFillisterCrossRecessedK = 884, ScrewFillisterCrossRecessedA = 885,
              ScrewFillisterCrossRecessedN = 886;
constexpr int ScrewCountersunkCrossRecessed = 890, ScrewCountersunkCrossRecessedD = 891,
              ScrewCountersunkCrossRecessedB = 892, ScrewCountersunkCrossRecessedD1 = 893,
              ScrewCountersunkCrossRecessedA = 894, ScrewCountersunkCrossRecessedN = 895;
constexpr int ScrewCountersunkRaisedCrossRecessed = 900, ScrewCountersunkRaisedCrossRecessedD = 901,
              ScrewCountersunkRaisedCrossRecessedB = 902,
              ScrewCountersunkRaisedCrossRecessedD1 = 903,
              ScrewCountersunkRaisedCrossRecessedK = 904,
              ScrewCountersunkRaisedCrossRecessedA = 905,
              ScrewCountersunkRaisedCrossRecessedN = 906;
constexpr int ScrewHexSocketButton = 910, ScrewHexSocketButtonD = 911, ScrewHexSocketButtonB = 912,
              ScrewHexSocketButtonD1 = 913, ScrewHexSocketButtonS = 914,
              ScrewHexSocketButtonT = 915;
constexpr int ScrewCountersunkSquareNeck = 920, ScrewCountersunkSquareNeckD = 921,
              ScrewCountersunkSquareNeckB = 922, ScrewCountersunkSquareNeckD1 = 923,
              ScrewCountersunkSquareNeckV = 924, ScrewCountersunkSquareNeckF = 925;
constexpr int ScrewSquareCollar = 930, ScrewSquareCollarD = 931, ScrewSquareCollarB = 932,
              ScrewSquareCollarDs = 933, ScrewSquareCollarLs = 934, ScrewSquareCollarS = 935,
              ScrewSquareCollarK = 936, ScrewSquareCollarD1 = 937, ScrewSquareCollarC = 938;
constexpr int ScrewThumb = 940, ScrewThumbD = 941, ScrewThumbB = 942, ScrewThumbDs = 943,
              ScrewThumbLs = 944, ScrewThumbD1 = 945, ScrewThumbK = 946;
constexpr int ScrewSetSlottedDogPoint = 950, ScrewSetSlottedDogPointD = 951,
              ScrewSetSlottedDogPointB = 952, ScrewSetSlottedDogPointDp = 953,
              ScrewSetSlottedDogPointZp = 954, ScrewSetSlottedDogPointN = 955,
              ScrewSetSlottedDogPointT = 956;
constexpr int ScrewSetSlottedConePoint = 960, ScrewSetSlottedConePointD = 961,
              ScrewSetSlottedConePointB = 962, ScrewSetSlottedConePointN = 963,
              ScrewSetSlottedConePointT = 964;
constexpr int ScrewSetHexSocketDogPoint = 970, ScrewSetHexSocketDogPointD = 971,
              ScrewSetHexSocketDogPointB = 972, ScrewSetHexSocketDogPointDp = 973,
              ScrewSetHexSocketDogPointZp = 974, ScrewSetHexSocketDogPointS = 975,
              ScrewSetHexSocketDogPointT = 976;
constexpr int ScrewSetHexSocketConePoint = 980, ScrewSetHexSocketConePointD = 981,
              ScrewSetHexSocketConePointB = 982, ScrewSetHexSocketConePointS = 983,
              ScrewSetHexSocketConePointT = 984;
constexpr int StudDoubleEnd = 990, StudDoubleEndD = 991, StudDoubleEndB1 = 992,
              StudDoubleEndB2 = 993, StudDoubleEndDs = 994, StudDoubleEndLs = 995;

// Points of tooth profiles.
constexpr int PointOfProfile = 1010, PointOfProfileR = 1011, PointOfProfileAngle = 1012;

// Shafts and the ends of their sections.
constexpr int Shaft = 610;  // "Shaft"
constexpr int ShaftSection = 611, ShaftSectionPos = 619, ShaftSectionDout1 = 612,
              ShaftSectionDout2 = 613, ShaftSectionDin1 = 614, ShaftSectionDin2 = 615,
              ShaftSectionL = 616;                   // then lch1, lch2: SectionEnd1, SectionEnd2
constexpr int SectionEnd1 = 617, SectionEnd2 = 618;  // "c1 (r1)", "c2 (r2)"
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
