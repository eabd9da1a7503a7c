#pragma once
// The standard palettes the library loads by name, and the constant tables of the
// nearest-colour searches for them.

#include <array>
#include <cstdint>
#include <span>

#include "pgraphic/types.h"

namespace pg {

enum TPaletteIdent : std::uint8_t {
  pNone,
  pTrueColor,
  pUnknown,
  pBlackWhite,
  pSysGray4,
  pSys16,
  pGray4,
  pGray16,
  pGray236,
  pGray256,
  pSpecial125,
  pSpecial216,
  pSpecial252,
  pOptimized252Sys16,
  pSource,
};

// Grey sum 0..765: plain R + G + B, or the luminance-weighted sum scaled to that range.
constexpr int GrayValue(TRGB Color, bool Weighted) {
  const int R = RedOf(Color), G = GreenOf(Color), B = BlueOf(Color);
  return Weighted ? ((299 * R + 587 * G + 114 * B) * 3) / 1000 : R + G + B;
}

// Entries of a standard palette in index order; empty for identities without a fixed
// palette (pNone, pTrueColor, pUnknown, pOptimized252Sys16, pSource).
std::span<const TRGB> StandardPalette(TPaletteIdent Ident);

extern const std::array<TRGB, 252> Special252Colors;

// Three pSys16 candidates per cell of the top two bits of each channel,
// cell index (R shr 6) * 16 + (G shr 6) * 4 + (B shr 6).
extern const std::array<std::array<std::uint8_t, 3>, 64> Sys16Candidates;

// pGray236 index nearest to a grey sum 0..765 (lower index on a tie).
const std::array<std::uint8_t, 766>& Gray236Lookup();

// Candidate lists of pSpecial252 on a 9 x 9 x 9 grid of channel cells (c + 16) shr 5:
// cell n = 81 kr + 9 kg + kb lists Entries[Start[n]] .. Entries[Start[n + 1] - 1].
struct TSpecial252Cells {
  std::array<std::uint16_t, 730> Start;
  std::array<std::uint8_t, 1928> Entries;
};
const TSpecial252Cells& Special252Cells();

}  // namespace pg
