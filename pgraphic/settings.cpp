#include "pgraphic/settings.h"

namespace pg {

long double DefaultGamma = 1.8L;
bool GammaCorrectOnLoad = true;

}  // namespace pg
