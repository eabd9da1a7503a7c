#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/nearest_index.h"
#include "pgraphic/pixel_graphic.h"

using namespace pg;

namespace {

using nearest::Dist2;

int FirstNearest(std::span<const TRGB> Pal, TRGB C) {
  int Index = 0;
  for (int e = 1; e < static_cast<int>(Pal.size()); ++e)
    if (Dist2(C, Pal[static_cast<std::size_t>(e)]) < Dist2(C, Pal[static_cast<std::size_t>(Index)])) Index = e;
  return Index;
}

TRGB Gray3(int Sum) { return RGBColor(Sum / 3, (Sum + 1) / 3, (Sum + 2) / 3); }  // R + G + B = Sum

}  // namespace

TEST(ColorSearch, StandardPalettes) {
  struct Case { TPaletteIdent Ident; bool Weighted; TRGB Color; int Index; };
  const Case Cases[] = {
      {pBlackWhite, false, Gray3(382), 0},        {pBlackWhite, false, Gray3(383), 1},
      {pSysGray4, false, Gray3(192), 0},          {pSysGray4, false, Gray3(193), 1},
      {pSysGray4, false, Gray3(480), 1},          {pSysGray4, false, Gray3(481), 2},
      {pSysGray4, false, Gray3(670), 2},          {pSysGray4, false, Gray3(671), 3},
      {pSpecial125, true, RGBColor(224, 0, 0), 100}, {pSpecial125, true, RGBColor(223, 0, 0), 75},
      {pSpecial125, true, RGBColor(0, 32, 0), 0}, {pSpecial125, true, RGBColor(0, 33, 0), 5},
      {pSpecial216, true, RGBColor(0, 0, 26), 0}, {pSpecial216, true, RGBColor(0, 0, 27), 1},
      {pSpecial216, true, RGBColor(255, 255, 255), 215},
      {pGray16, true, RGBColor(255, 0, 0), 4},    {pGray16, false, RGBColor(255, 0, 0), 5},
      {pGray4, false, Gray3(127), 0},             {pGray4, false, Gray3(128), 1},
      {pGray236, false, Gray3(18), 5},            {pGray256, false, Gray3(4), 1},
      {pSys16, true, RGBColor(200, 200, 200), 7}, {pSys16, true, RGBColor(255, 255, 250), 15},
      {pSpecial252, true, RGBColor(0x40, 0x40, 0x41), 40},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    G.SetFormat(1, 1, 2);
    G.SetPaletteIdent(C.Ident);
    G.SetRGBWeighting(C.Weighted);
    EXPECT_EQ(G.NearestPaletteIndex(C.Color), C.Index) << "ident " << int(C.Ident) << " colour " << std::hex << C.Color;
  }
}

TEST(ColorSearch, Special252CandidatesGiveTheNearestEntry) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 2);
  G.SetPaletteIdent(pSpecial252);
  const auto Pal = StandardPalette(pSpecial252);
  for (int r = 0; r < 256; r += 3)
    for (int g = 1; g < 256; g += 5)
      for (int b = 2; b < 256; b += 7) {
        const TRGB C = RGBColor(r, g, b);
        const int Got = G.NearestPaletteIndex(C);
        ASSERT_EQ(Dist2(C, Pal[static_cast<std::size_t>(Got)]), Dist2(C, Pal[static_cast<std::size_t>(FirstNearest(Pal, C))]))
            << r << "," << g << "," << b;
      }
}

TEST(ColorSearch, SpecialIdentities) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(1, 2, 3)), RGBColor(1, 2, 3));
  G.SetFormat(1, 1, 2);
  G.SetPaletteIdent(pNone);
  EXPECT_THROW(G.NearestPaletteIndex(0), EPGNoPalette);
  // An unknown palette without entries has nothing to choose from.
  G.SetPaletteIdent(pUnknown);
  for (bool Cache : {true, false}) {
    G.SetColorCache(Cache);
    EXPECT_THROW(G.NearestPaletteIndex(0), EPGNoPalette);
  }
  G.SetPaletteIdent(pGray16);
  G.SetPaletteIdent(pSource);
  EXPECT_EQ(G.PaletteIdent(), pGray16);
  EXPECT_EQ(G.PaletteCount(), 16);
}

TEST(ColorSearch, MemoIsInvalidatedByPaletteChanges) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 2);
  G.SetPaletteCount(2);
  G.SetPaletteEntry(1, RGBColor(255, 255, 255));
  const TRGB C = RGBColor(200, 200, 200);
  EXPECT_EQ(G.NearestPaletteIndex(C), 1);
  G.SetPaletteEntry(0, C);
  EXPECT_EQ(G.NearestPaletteIndex(C), 0);
  G.SetPaletteIdent(pBlackWhite);
  EXPECT_EQ(G.NearestPaletteIndex(C), 1);
  G.SetPaletteIdent(pGray16);
  G.SetRGBWeighting(true);
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(255, 0, 0)), 4);
  G.SetRGBWeighting(false);
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(255, 0, 0)), 5);
}

TEST(ColorSearch, CachedUnknownPalette) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 2);
  G.SetPaletteCount(2);
  G.SetPaletteEntry(1, RGBColor(255, 255, 255));
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(100, 100, 100)), 0);
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(200, 200, 200)), 1);
  G.SetPaletteCount(3);
  G.SetPaletteEntry(2, RGBColor(200, 200, 200));
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(201, 201, 201)), 2);
  // Duplicates are found at their first index.
  G.SetPaletteEntry(0, RGBColor(200, 200, 200));
  EXPECT_EQ(G.NearestPaletteIndex(RGBColor(200, 200, 200)), 0);
}

// The cache answers a colour with the entry whose own 5-6-5 cell is nearest in cell
// steps (at most 4, lowest index on a tie); a cell no entry reaches takes the exact
// answer for the first colour asked in it and keeps it for the rest of the cell.
TEST(ColorSearch, CacheMatchesItsModelOnRandomPalettes) {
  std::mt19937 Rng(1234);
  for (int Size : {2, 7, 16, 100, 256}) {
    TPixelGraphic G;
    G.SetFormat(1, 1, 2);
    G.SetPaletteCount(Size);
    std::vector<TRGB> Pal;
    for (int i = 0; i < Size; ++i) {
      Pal.push_back(static_cast<TRGB>(Rng() & 0xFFFFFF));
      G.SetPaletteEntry(i, Pal.back());
    }
    const auto CellOf = [](TRGB C) { return std::array{RedOf(C) >> 3, GreenOf(C) >> 2, BlueOf(C) >> 3}; };
    std::vector<int> FirstAnswer(32 * 64 * 32, -1);
    TPixelGraphic Plain;
    Plain.SetFormat(1, 1, 2);
    Plain.CopyPaletteFrom(G);
    Plain.SetColorCache(false);
    for (int n = 0; n < 20000; ++n) {
      const TRGB C = static_cast<TRGB>(Rng() & 0xFFFFFF);
      const auto Cell = CellOf(C);
      int Claim = -1, ClaimDist = 5;
      for (int e = 0; e < Size; ++e) {
        const auto EC = CellOf(Pal[static_cast<std::size_t>(e)]);
        const int d = std::max({std::abs(EC[0] - Cell[0]), std::abs(EC[1] - Cell[1]), std::abs(EC[2] - Cell[2])});
        if (d < ClaimDist) {
          ClaimDist = d;
          Claim = e;
        }
      }
      const int Exact = FirstNearest(Pal, C);
      ASSERT_EQ(Plain.NearestPaletteIndex(C), Exact);
      int Expected = Claim;
      if (Claim < 0) {
        int& First = FirstAnswer[static_cast<std::size_t>((Cell[0] << 11) + (Cell[1] << 5) + Cell[2])];
        if (First < 0) First = Exact;
        Expected = First;
      }
      ASSERT_EQ(G.NearestPaletteIndex(C), Expected) << "palette size " << Size << " colour " << std::hex << C;
    }
  }
}
