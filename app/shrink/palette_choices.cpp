#include "app/shrink/palette_choices.h"

namespace kv {

using namespace pg;

// The "Source", "Individual" and "Optimized" rows repeat per depth, so that a list
// entry names one row whatever list it is in.
const std::array<TPaletteChoice, PaletteChoiceCount> PaletteChoices = {{
    {"Schwarz-Weiß", "Black&White", 0, pBlackWhite, false, false, false},
    {"Quelle", "Source", 0, pUnknown, false, true, false},
    {"Individuell", "Individual", 0, pUnknown, false, false, true},
    {"Optimiert", "Optimized", 0, pUnknown, true, false, false},
    {"Grau 4", "Gray 4", 1, pGray4, false, false, false},
    {"Grau 16", "Gray 16", 1, pGray16, false, false, false},
    {"System Grau 4", "System Gray 4", 1, pSysGray4, false, false, false},
    {"System 16", "System 16", 1, pSys16, false, false, false},
    {"Quelle", "Source", 1, pUnknown, false, true, false},
    {"Individuell", "Individual", 1, pUnknown, false, false, true},
    {"Optimiert", "Optimized", 1, pUnknown, true, false, false},
    {"Grau 236", "Gray 236", 2, pGray236, false, false, false},
    {"Grau 256", "Gray 256", 2, pGray256, false, false, false},
    {"Spezial 125", "Special 125", 2, pSpecial125, false, false, false},
    {"Spezial 216 (CLUT)", "Special 216 (CLUT)", 2, pSpecial216, false, false, false},
    {"Spezial 252", "Special 252", 2, pSpecial252, false, false, false},
    {"Quelle", "Source", 2, pUnknown, false, true, false},
    {"Individuell", "Individual", 2, pUnknown, false, false, true},
    {"Optimiert", "Optimized", 2, pUnknown, true, false, false},
    {"True-Color", "True-Color", 3, pTrueColor, false, false, false},
}};

int PaletteSizeClass(int Count) {
  if (Count >= 1 && Count <= 2) return 0;
  if (Count >= 3 && Count <= 16) return 1;
  if (Count >= 17 && Count <= 256) return 2;
  return 3;
}

}  // namespace kv
