#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "pgraphic/nearest_index.h"
#include "pgraphic/palettes.h"

using namespace pg;

namespace {

using nearest::Dist2;

// Nearest entry of Pal to C; -1 when two entries tie for nearest.
int UniqueNearest(std::span<const TRGB> Pal, TRGB C) {
  int Best = 1 << 30, Index = -1;
  bool Tie = false;
  for (int e = 0; e < static_cast<int>(Pal.size()); ++e) {
    const int d = Dist2(C, Pal[static_cast<std::size_t>(e)]);
    if (d < Best) {
      Best = d;
      Index = e;
      Tie = false;
    } else if (d == Best) {
      Tie = true;
    }
  }
  return Tie ? -1 : Index;
}

}  // namespace

TEST(Palettes, StandardContents) {
  struct Case { TPaletteIdent Ident; std::size_t Size; int Index; TRGB Color; };
  const Case Cases[] = {
      {pBlackWhite, 2, 1, RGBColor(255, 255, 255)}, {pSysGray4, 4, 2, RGBColor(192, 192, 192)},
      {pSys16, 16, 3, RGBColor(128, 128, 0)},       {pSys16, 16, 7, RGBColor(192, 192, 192)},
      {pGray4, 4, 2, RGBColor(170, 170, 170)},      {pGray16, 16, 15, RGBColor(255, 255, 255)},
      {pGray236, 236, 6, RGBColor(7, 7, 7)},        {pGray236, 236, 234, RGBColor(254, 254, 254)},
      {pGray256, 256, 77, RGBColor(77, 77, 77)},    {pSpecial125, 125, 25 * 3 + 5 * 1 + 4, RGBColor(192, 64, 255)},
      {pSpecial216, 216, 36 * 2 + 6 * 5 + 3, RGBColor(102, 255, 153)},
      {pSpecial252, 252, 16, RGBColor(0, 0, 0x40)}, {pSpecial252, 252, 251, RGBColor(0xE0, 0x60, 0xC0)},
  };
  for (const auto& C : Cases) {
    const auto Pal = StandardPalette(C.Ident);
    ASSERT_EQ(Pal.size(), C.Size) << int(C.Ident);
    EXPECT_EQ(Pal[static_cast<std::size_t>(C.Index)], C.Color) << int(C.Ident) << " entry " << C.Index;
  }
  for (TPaletteIdent I : {pNone, pTrueColor, pUnknown, pOptimized252Sys16, pSource}) EXPECT_TRUE(StandardPalette(I).empty());
  const auto G236 = StandardPalette(pGray236);
  const int Start[] = {0, 1, 2, 3, 4, 5, 7, 8};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(RedOf(G236[static_cast<std::size_t>(i)]), Start[i]);
}

TEST(Palettes, GrayValue) {
  EXPECT_EQ(GrayValue(RGBColor(255, 0, 0), true), 228);
  EXPECT_EQ(GrayValue(RGBColor(255, 0, 0), false), 255);
  EXPECT_EQ(GrayValue(RGBColor(255, 255, 255), true), 765);
  EXPECT_EQ(GrayValue(RGBColor(0, 0, 255), true), 87);
}

TEST(Palettes, Gray236LookupFollowsItsRule) {
  const auto& L = Gray236Lookup();
  EXPECT_EQ(L[0], 0);
  EXPECT_EQ(L[1], 0);
  EXPECT_EQ(L[2], 1);
  EXPECT_EQ(L[4], 1);
  EXPECT_EQ(L[18], 5);
  EXPECT_EQ(L[765], 235);
  const auto Pal = StandardPalette(pGray236);
  for (int s = 0; s <= 765; ++s) {
    int Best = 0;
    for (int i = 1; i < 236; ++i)
      if (std::abs(3 * RedOf(Pal[static_cast<std::size_t>(i)]) - s) < std::abs(3 * RedOf(Pal[static_cast<std::size_t>(Best)]) - s)) Best = i;
    EXPECT_EQ(L[static_cast<std::size_t>(s)], Best) << "grey sum " << s;
  }
}

// Rebuilds the pSpecial252 candidate lists from their rule: the entries that are the
// unique nearest of at least one colour of the cell. Entries that cannot beat the best
// worst-case distance of the cell are pruned before the colours are visited.
TEST(Palettes, Special252CellsFollowTheirRule) {
  const auto& Cells = Special252Cells();
  std::vector<int> Entries;
  std::vector<int> Start;
  for (int kr = 0; kr < 9; ++kr)
    for (int kg = 0; kg < 9; ++kg)
      for (int kb = 0; kb < 9; ++kb) {
        const int k[3] = {kr, kg, kb};
        int Lo[3], Hi[3];
        for (int c = 0; c < 3; ++c) {
          Lo[c] = std::max(0, 32 * k[c] - 16);
          Hi[c] = std::min(255, 32 * k[c] + 15);
        }
        const auto Channel = [](TRGB C, int c) { return c == 0 ? RedOf(C) : c == 1 ? GreenOf(C) : BlueOf(C); };
        int MinOfMax = 1 << 30;
        std::vector<int> MinDist(252);
        for (int e = 0; e < 252; ++e) {
          int Mn = 0, Mx = 0;
          for (int c = 0; c < 3; ++c) {
            const int v = Channel(Special252Colors[static_cast<std::size_t>(e)], c);
            const int dn = v < Lo[c] ? Lo[c] - v : v > Hi[c] ? v - Hi[c] : 0;
            const int dx = std::max(std::abs(v - Lo[c]), std::abs(v - Hi[c]));
            Mn += dn * dn;
            Mx += dx * dx;
          }
          MinDist[static_cast<std::size_t>(e)] = Mn;
          MinOfMax = std::min(MinOfMax, Mx);
        }
        std::vector<TRGB> Cand;
        std::vector<int> CandIndex;
        for (int e = 0; e < 252; ++e)
          if (MinDist[static_cast<std::size_t>(e)] <= MinOfMax) {
            Cand.push_back(Special252Colors[static_cast<std::size_t>(e)]);
            CandIndex.push_back(e);
          }
        std::vector<bool> Used(252);
        for (int r = Lo[0]; r <= Hi[0]; ++r)
          for (int g = Lo[1]; g <= Hi[1]; ++g)
            for (int b = Lo[2]; b <= Hi[2]; ++b) {
              const int u = UniqueNearest(Cand, RGBColor(r, g, b));
              if (u >= 0) Used[static_cast<std::size_t>(CandIndex[static_cast<std::size_t>(u)])] = true;
            }
        Start.push_back(static_cast<int>(Entries.size()));
        for (int e = 0; e < 252; ++e)
          if (Used[static_cast<std::size_t>(e)]) Entries.push_back(e);
      }
  Start.push_back(static_cast<int>(Entries.size()));
  ASSERT_EQ(Entries.size(), Cells.Entries.size());
  EXPECT_TRUE(std::equal(Start.begin(), Start.end(), Cells.Start.begin()));
  EXPECT_TRUE(std::equal(Entries.begin(), Entries.end(), Cells.Entries.begin()));
}
