// Nearest palette entry of a colour: closed formulas or small candidate tables for the
// standard palettes, an exhaustive search (optionally through a 5-6-5 cache) otherwise.

#include <algorithm>
#include <cstring>

#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/pixel_graphic.h"

namespace pg {

namespace {

constexpr int Dist2(TRGB A, TRGB B) {
  const int dr = RedOf(A) - RedOf(B), dg = GreenOf(A) - GreenOf(B), db = BlueOf(A) - BlueOf(B);
  return dr * dr + dg * dg + db * db;
}

constexpr int CacheJ = 32, CacheK = 64, CacheL = 32;

constexpr int CacheCell(int j, int k, int l) { return (j << 11) + (k << 5) + l; }
constexpr int CacheCellOf(TRGB C) { return CacheCell(RedOf(C) >> 3, GreenOf(C) >> 2, BlueOf(C) >> 3); }

int Sys16Nearest(TRGB Color) {
  const auto& Cand = Sys16Candidates[static_cast<std::size_t>(((RedOf(Color) >> 6) << 4) + ((GreenOf(Color) >> 6) << 2) +
                                                              (BlueOf(Color) >> 6))];
  const TRGB* Pal = Special252Colors.data();
  int Result = Cand[0];
  if (Cand[1] != Cand[0] && Dist2(Color, Pal[Cand[1]]) < Dist2(Color, Pal[Result])) Result = Cand[1];
  if (Cand[2] != Cand[1] && Dist2(Color, Pal[Cand[2]]) < Dist2(Color, Pal[Result])) Result = Cand[2];
  return Result;
}

int Special252Nearest(TRGB Color) {
  const auto& Cells = Special252Cells();
  const int n = 81 * ((RedOf(Color) + 16) >> 5) + 9 * ((GreenOf(Color) + 16) >> 5) + ((BlueOf(Color) + 16) >> 5);
  const int First = Cells.Start[static_cast<std::size_t>(n)], Last = Cells.Start[static_cast<std::size_t>(n) + 1];
  int Result = Cells.Entries[static_cast<std::size_t>(First)];
  int Best = Dist2(Color, Special252Colors[static_cast<std::size_t>(Result)]);
  for (int i = First + 1; i < Last; ++i) {
    const int e = Cells.Entries[static_cast<std::size_t>(i)];
    const int d = Dist2(Color, Special252Colors[static_cast<std::size_t>(e)]);
    if (d < Best) {
      Best = d;
      Result = e;
    }
  }
  return Result;
}

int Special125Level(int c) { return ((c == 224 ? 225 : c) + 31) / 64; }

}  // namespace

int TPixelGraphic::NearestPaletteIndex(TRGB Color) {
  if (!FLastColorStale && Color == FLastColor) return FLastIndex;
  // Nothing to choose from: no palette at all, or an unknown one without entries.
  if (FPaletteIdent == pNone || (FPaletteIdent == pUnknown && FPalette.empty())) throw EPGNoPalette(PGLangStr(2));

  const auto g = [&] { return GrayValue(Color, FRGBWeighting); };
  int Result = 0;
  switch (FPaletteIdent) {
    case pTrueColor: Result = Color; break;
    case pUnknown: Result = FColorCache ? SearchCached(Color) : SearchExhaustive(Color); break;
    case pBlackWhite: Result = (g() + 1) / 384; break;
    case pSysGray4: {
      const int v = g();
      Result = v < 193 ? 0 : v < 481 ? 1 : v < 671 ? 2 : 3;
      break;
    }
    case pSys16: Result = Sys16Nearest(Color); break;
    case pGray4: Result = (g() + 127) / 255; break;
    case pGray16: Result = (g() + 25) / 51; break;
    case pGray236: Result = Gray236Lookup()[static_cast<std::size_t>(g())]; break;
    case pGray256: Result = (g() + 1) / 3; break;
    case pSpecial125:
      Result = 25 * Special125Level(RedOf(Color)) + 5 * Special125Level(GreenOf(Color)) + Special125Level(BlueOf(Color));
      break;
    case pSpecial216:
      Result = 36 * ((RedOf(Color) + 24) / 51) + 6 * ((GreenOf(Color) + 24) / 51) + (BlueOf(Color) + 24) / 51;
      break;
    case pSpecial252: Result = Special252Nearest(Color); break;
    default: Result = 0; break;  // pOptimized252Sys16, pSource
  }
  FLastColorStale = false;
  FLastColor = Color;
  FLastIndex = Result;
  return Result;
}

int TPixelGraphic::SearchExhaustive(TRGB Color) const {
  int Result = 0;
  int Best = Dist2(Color, FPalette[0]);
  const int n = PaletteCount();
  for (int i = 1; i < n && Best > 0; ++i) {
    const int d = Dist2(Color, FPalette[static_cast<std::size_t>(i)]);
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
