// Nearest palette entry of a colour: closed formulas or small candidate tables for the
// standard palettes, an exhaustive search (optionally through a 5-6-5 cache) otherwise.

#include <algorithm>
#include <cstring>

#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/nearest_index.h"
#include "pgraphic/pixel_graphic.h"

namespace pg {

namespace {

constexpr int CacheJ = 32, CacheK = 64, CacheL = 32;

constexpr int CacheCell(int j, int k, int l) { return (j << 11) + (k << 5) + l; }
constexpr int CacheCellOf(TRGB C) { return CacheCell(RedOf(C) >> 3, GreenOf(C) >> 2, BlueOf(C) >> 3); }

}  // namespace

int TPixelGraphic::NearestPaletteIndex(TRGB Color) {
  if (!FLastColorStale && Color == FLastColor) return FLastIndex;
  // Nothing to choose from: no palette at all, or an unknown one without entries.
  if (FPaletteIdent == pNone || (FPaletteIdent == pUnknown && FPalette.empty())) throw EPGNoPalette(PGLangStr(2));

  int Result = 0;
  if (!nearest::WithStandard(FPaletteIdent, FRGBWeighting, [&](auto Nearest) { Result = Nearest(Color); })) {
    if (FPaletteIdent == pTrueColor) Result = Color;
    else if (FPaletteIdent == pUnknown) Result = FColorCache ? SearchCached(Color) : SearchExhaustive(Color);
    else Result = 0;  // pOptimized252Sys16, pSource
  }
  FLastColorStale = false;
  FLastColor = Color;
  FLastIndex = Result;
  return Result;
}

int TPixelGraphic::SearchExhaustive(TRGB Color) const {
  int Result = 0;
  int Best = nearest::Dist2(Color, FPalette[0]);
  const int n = PaletteCount();
  for (int i = 1; i < n && Best > 0; ++i) {
    const int d = nearest::Dist2(Color, FPalette[static_cast<std::size_t>(i)]);
    if (d < Best) {
      Best = d;
      Result = i;
    }
  }
  return Result;
}

int TPixelGraphic::SearchCached(TRGB Color) {
  if (FColorCacheStale) FillColorCache();
  const int n = CacheCellOf(Color);
  std::uint8_t& Filled = FColorCacheFilled[static_cast<std::size_t>(n >> 3)];
  const auto Bit = static_cast<std::uint8_t>(1u << (n & 7));
  if (Filled & Bit) return FColorCacheTable[static_cast<std::size_t>(n)];
  const int Result = SearchExhaustive(Color);
  FColorCacheTable[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(Result);
  Filled |= Bit;
  return Result;
}

void TPixelGraphic::FillColorCache() {
  FColorCacheTable = std::make_unique<std::uint8_t[]>(CacheJ * CacheK * CacheL);
  FColorCacheFilled = std::make_unique<std::uint8_t[]>(CacheJ * CacheK * CacheL / 8);
  std::uint8_t* Table = FColorCacheTable.get();
  std::uint8_t* Filled = FColorCacheFilled.get();
  const auto Claim = [&](int j, int k, int l, int e) {
    const int n = CacheCell(j, k, l);
    const auto Bit = static_cast<std::uint8_t>(1u << (n & 7));
    if (!(Filled[n >> 3] & Bit)) {
      Filled[n >> 3] |= Bit;
      Table[n] = static_cast<std::uint8_t>(e);
    }
  };
  const int Count = PaletteCount();
  // Each entry claims the free cells on the shell of Chebyshev radius i around its own
  // cell, radius by radius, so a cell goes to the entry nearest in cell steps (lowest
  // index on a tie). A face outside the grid holds only cells of smaller radius, which
  // earlier passes claimed already, so it is skipped.
  for (int i = 0; i <= 4; ++i) {
    for (int e = 0; e < Count; ++e) {
      const TRGB C = FPalette[static_cast<std::size_t>(e)];
      const int j0 = RedOf(C) >> 3, k0 = GreenOf(C) >> 2, l0 = BlueOf(C) >> 3;
      const int jLo = std::max(j0 - i, 0), jHi = std::min(j0 + i, CacheJ - 1);
      const int kLo = std::max(k0 - i, 0), kHi = std::min(k0 + i, CacheK - 1);
      const int lLo = std::max(l0 - i, 0), lHi = std::min(l0 + i, CacheL - 1);
      for (const int j : {j0 - i, j0 + i}) {
        if (j < 0 || j >= CacheJ) continue;
        for (int k = kLo; k <= kHi; ++k)
          for (int l = lLo; l <= lHi; ++l) Claim(j, k, l, e);
        if (i == 0) break;
      }
      for (const int k : {k0 - i, k0 + i}) {
        if (k < 0 || k >= CacheK) continue;
        for (int j = jLo; j <= jHi; ++j)
          for (int l = lLo; l <= lHi; ++l) Claim(j, k, l, e);
        if (i == 0) break;
      }
      for (const int l : {l0 - i, l0 + i}) {
        if (l < 0 || l >= CacheL) continue;
        for (int j = jLo; j <= jHi; ++j)
          for (int k = kLo; k <= kHi; ++k) Claim(j, k, l, e);
        if (i == 0) break;
      }
    }
  }
  FColorCacheStale = false;
}

void TPixelGraphic::ClearColorCache() {
  FColorCacheStale = true;
  FColorCacheTable.reset();
  FColorCacheFilled.reset();
}

void TPixelGraphic::SetColorCache(bool Value) {
  if (Value == FColorCache) return;
  FColorCache = Value;
  FLastColorStale = true;
  Changed();
}

void TPixelGraphic::SetRGBWeighting(bool Value) {
  if (Value == FRGBWeighting) return;
  FRGBWeighting = Value;
  FLastColorStale = true;
}

}  // namespace pg
