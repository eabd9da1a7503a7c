#include <cmath>

#include "pgraphic/exceptions.h"
#include "pgraphic/pixel_graphic.h"

namespace pg {

long double PGPower(long double Base, long double Exponent) {
  if (Exponent == 0) return 1;
  if (Base == 0) return 0;
  if (Base == 1) return 1;
  if (Base < 0) throw EPixelGraphic("Invalid Argument");
  return std::exp2l(Exponent * std::log2l(Base));
}

}  // namespace pg
