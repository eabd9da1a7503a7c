#pragma once
// The twenty colour formats a result can have; the setting "Selection" is a row index.

#include <array>

#include "pgraphic/palettes.h"

namespace kv {

struct TPaletteChoice {
  const char* GermanName;
  const char* EnglishName;
  int Depth;  // bit-count index of the result: 0 = 1 bit, 1 = 4, 2 = 8, 3 = 24 bits
  pg::TPaletteIdent PaletteIdent;
  bool IsOptimized;
  bool IsSource;
  bool IsIndividual;
};

inline constexpr int PaletteChoiceCount = 20;
inline constexpr int TrueColorChoice = 19;

extern const std::array<TPaletteChoice, PaletteChoiceCount> PaletteChoices;

// The depth whose palette list can hold a palette of Count entries: 0 for 1..2,
// 1 for 3..16, 2 for 17..256, 3 (no list) otherwise.
int PaletteSizeClass(int Count);

}  // namespace kv
