// Our stand-in of the host's core library: ticks per frame, the master unit and scale,
// the gamma manager and the host string type. The host keeps these scene-wide values in
// its own globals; so do we, and a scene loader sets them from the scene it loads.
#ifndef TSM_HOST_HOST_CORE_H
#define TSM_HOST_HOST_CORE_H

#include <string>

#include "host/geometry.h"

// The host string type. Equality is byte-exact.
typedef std::string CStr;

// Ticks per frame of the current scene (160 unless a scene sets another positive value).
int GetTicksPerFrame();
void SetTicksPerFrame(int ticks);

// The master unit: a unit type code and the number of those units per scene unit.
void GetMasterUnitInfo(int* type, float* scale);
// Units of the given type in one scene unit; the master scale of the scene for its own type.
double GetMasterScale(int type);
// Sets the master unit (type, scale); the defaults are type 0 (inches) and scale 1.0.
void SetMasterUnit(int type, double scale);

// The host's gamma settings for output colours.
class GammaMgr {
 public:
  bool enable = false;     // gamma correction off by default
  float dispGamma = 2.2f;  // display gamma used when enabled

  bool GammaEnabled() const { return enable; }
  // Corrects one byte value: 255 * (v / 255) ^ (1 / dispGamma), rounded to nearest.
  // A gamma that is not positive leaves the value unchanged.
  unsigned char GammaCorrect(unsigned char v) const;
};

extern GammaMgr gammaMgr;

// Puts every scene-wide value above back to its default.
void ResetHostCore();

#endif  // TSM_HOST_HOST_CORE_H
