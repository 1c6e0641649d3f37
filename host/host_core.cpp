#include "host/host_core.h"

#include <cmath>

GammaMgr gammaMgr;

namespace {
int ticksPerFrame = 160;
int masterUnitType = 0;
double masterUnitScale = 1.0;
}  // namespace

int GetTicksPerFrame() {
  return ticksPerFrame;
}

void SetTicksPerFrame(int ticks) {
  if (ticks > 0) ticksPerFrame = ticks;
}

void GetMasterUnitInfo(int* type, float* scale) {
  if (type) *type = masterUnitType;
  if (scale) *scale = static_cast<float>(masterUnitScale);
}

double GetMasterScale(int type) {
  // Inches in one unit of each type code we know: 0 inches, 1 feet, 2 miles, 3 millimetres,
  // 4 centimetres, 5 metres, 6 kilometres. The master scale is how many of the asked
  // type one scene unit is.
  static const double kInches[] = {1.0,        12.0,          63360.0,         1.0 / 25.4,
                                   1.0 / 2.54, 1000.0 / 25.4, 1000000.0 / 25.4};
  if (type < 0 || type > 6) return masterUnitScale;
  double sceneUnitInInches = masterUnitScale * kInches[masterUnitType];
  return sceneUnitInInches / kInches[type];
}

void SetMasterUnit(int type, double scale) {
  masterUnitType = (type >= 0 && type <= 6) ? type : 0;
  masterUnitScale = scale;
}

unsigned char GammaMgr::GammaCorrect(unsigned char v) const {
  if (!(dispGamma > 0.0f)) return v;
  double r = 255.0 * std::pow(v / 255.0, 1.0 / dispGamma) + 0.5;
  if (r > 255.0) r = 255.0;
  return static_cast<unsigned char>(r);
}

void ResetHostCore() {
  ticksPerFrame = 160;
  masterUnitType = 0;
  masterUnitScale = 1.0;
  gammaMgr = GammaMgr();
}
