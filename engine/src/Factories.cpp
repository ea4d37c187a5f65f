// Factories of the element families. The element catalogue fills them in; until then each
// operation answers with eCodeNotImplemented.
#include "Context.h"

namespace cad_engine {

namespace {

[[noreturn]] void NotYet(const char* what) {
  Throw(QZ::eCodeNotImplemented, std::string(what) + ": not offered by this engine yet");
}

class CFastenerFactory final : public QZ::CAD::IFastenerFactory {
 public:
  QZ::CAD::IShape* BoltHex(double, double, double, double, double, double, double,
                           double) override {
    NotYet("BoltHex");
  }
  QZ::CAD::IShape* BoltHexSocket(double, double, double, double, double, double, double,
                                 double) override {
    NotYet("BoltHexSocket");
  }
  QZ::CAD::IShape* BoltHexSocketCountersunk(double, double, double, double, double, double,
                                            double) override {
    NotYet("BoltHexSocketCountersunk");
  }
  QZ::CAD::IShape* BoltHexFlange(double, double, double, double, double, double, double) override {
    NotYet("BoltHexFlange");
  }
  QZ::CAD::IShape* BoltCarriage(double, double, double, double, double, double, double,
                                double) override {
    NotYet("BoltCarriage");
  }
  QZ::CAD::IShape* BoltHexSetDogPoint(double, double, double, double, double, double, double,
                                      double) override {
    NotYet("BoltHexSetDogPoint");
  }
  QZ::CAD::IShape* BoltHexSetDogCone(double, double, double, double, double, double, double,
                                     double) override {
    NotYet("BoltHexSetDogCone");
  }
  QZ::CAD::IShape* BoltT_Head(double, double, double, double, double) override {
    NotYet("BoltT_Head");
  }
  QZ::CAD::IShape* BoltT_HeadSquareNeck(double, double, double, double, double) override {
    NotYet("BoltT_HeadSquareNeck");
  }
  QZ::CAD::IShape* BoltSpigot(double, double, double, double, double, double, double) override {
    NotYet("BoltSpigot");
  }
  QZ::CAD::IShape* BoltEye(double, double, double, double, double, double) override {
    NotYet("BoltEye");
  }
  QZ::CAD::IShape* BoltU(double, double, double, double) override { NotYet("BoltU"); }
  QZ::CAD::IShape* BoltRing(double, double, double, double, double, double) override {
    NotYet("BoltRing");
  }
  QZ::CAD::IShape* ScrewCheeseSlotted(double, double, double, double, double, double) override {
    NotYet("ScrewCheeseSlotted");
  }
  QZ::CAD::IShape* ScrewPanSlotted(double, double, double, double, double, double) override {
    NotYet("ScrewPanSlotted");
  }
  QZ::CAD::IShape* ScrewCountersunkSlotted(double, double, double, double, double) override {
    NotYet("ScrewCountersunkSlotted");
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedSlotted(double, double, double, double, double,
                                                 double) override {
    NotYet("ScrewCountersunkRaisedSlotted");
  }
  QZ::CAD::IShape* ScrewFillisterCrossRecessed(double, double, double, double, double,
                                               double) override {
    NotYet("ScrewFillisterCrossRecessed");
  }
  QZ::CAD::IShape* ScrewCountersunkCrossRecessed(double, double, double, double, double) override {
    NotYet("ScrewCountersunkCrossRecessed");
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedCrossRecessed(double, double, double, double, double,
                                                       double) override {
    NotYet("ScrewCountersunkRaisedCrossRecessed");
  }
  QZ::CAD::IShape* ScrewHexSocketButton(double, double, double, double, double) override {
    NotYet("ScrewHexSocketButton");
  }
  QZ::CAD::IShape* ScrewCountersunkSquareNeck(double, double, double, double, double) override {
    NotYet("ScrewCountersunkSquareNeck");
  }
  QZ::CAD::IShape* ScrewSquareCollar(double, double, double, double, double, double, double,
                                     double) override {
    NotYet("ScrewSquareCollar");
  }
  QZ::CAD::IShape* ScrewThumb(double, double, double, double, double, double) override {
    NotYet("ScrewThumb");
  }
  QZ::CAD::IShape* ScrewSetSlottedDogPoint(double, double, double, double, double,
                                           double) override {
    NotYet("ScrewSetSlottedDogPoint");
  }
  QZ::CAD::IShape* ScrewSetSlottedConePoint(double, double, double, double) override {
    NotYet("ScrewSetSlottedConePoint");
  }
  QZ::CAD::IShape* ScrewSetHexSocketDogPoint(double, double, double, double, double,
                                             double) override {
    NotYet("ScrewSetHexSocketDogPoint");
  }
  QZ::CAD::IShape* ScrewSetHexSocketConePoint(double, double, double, double) override {
    NotYet("ScrewSetHexSocketConePoint");
  }
  QZ::CAD::IShape* StudDoubleEnd(double, double, double, double, double) override {
    NotYet("StudDoubleEnd");
  }
};

}  // namespace

QZ::CAD::IFastenerFactory* FastenerFactory() {
  static CFastenerFactory factory;
  return &factory;
}

}  // namespace cad_engine
