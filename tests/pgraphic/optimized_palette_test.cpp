#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/optimized_palette.h"

using namespace pg;

namespace {

// A one-row true-colour image of the given colours.
void MakeRow(TPixelGraphic& G, const std::vector<TRGB>& Pixels) {
  G.SetFormat(static_cast<int>(Pixels.size()), 1, 3);
  for (std::size_t x = 0; x < Pixels.size(); ++x) G.SetPixel(static_cast<int>(x), 0, Pixels[x]);
}

// A one-row palette image: entry i of Colors is used Weights[i] times.
void MakeIndexedRow(TPixelGraphic& G, int Num, const std::vector<TRGB>& Colors, const std::vector<int>& Weights) {
  int Width = 0;
  for (int w : Weights) Width += w;
  G.SetFormat(Width, 1, Num);
  G.SetPaletteCount(static_cast<int>(Colors.size()));
  for (std::size_t i = 0; i < Colors.size(); ++i) G.SetPaletteEntry(static_cast<int>(i), Colors[i]);
  int x = 0;
  for (std::size_t i = 0; i < Weights.size(); ++i)
    for (int k = 0; k < Weights[i]; ++k) G.SetPixel(x++, 0, static_cast<int>(i));
}

std::vector<TRGB> PaletteOf(const TPixelGraphic& G) {
  return std::vector<TRGB>(G.GetPaletteData(), G.GetPaletteData() + G.PaletteCount());
}

std::vector<TRGB> Sys16() {
  const auto S = StandardPalette(pSys16);
  return std::vector<TRGB>(S.begin(), S.end());
}

// The octree visits colours in the order of their interleaved bits r7 g7 b7 r6 g6 b6 ...
int OctantKey(TRGB C) {
  int Key = 0;
  for (int Bit = 7; Bit >= 0; --Bit)
    Key = Key * 8 + 4 * ((RedOf(C) >> Bit) & 1) + 2 * ((GreenOf(C) >> Bit) & 1) + ((BlueOf(C) >> Bit) & 1);
  return Key;
}

// Centre of the 5-6-5 cell of a colour.
TRGB CellCentre(TRGB C) {
  return RGBColor((RedOf(C) >> 3) * 8 + 4, (GreenOf(C) >> 2) * 4 + 2, (BlueOf(C) >> 3) * 8 + 4);
}

// Pixel colour in cell (r, g, b).
constexpr TRGB Cell(int r, int g, int b) { return RGBColor(8 * r, 4 * g, 8 * b); }

}  // namespace

TEST(OptimizedPalette, NothingToCountGivesSystemColours) {
  struct Case { const char* Fault; int Width, Height, Count; bool Sys; int Expected; TPaletteIdent Ident; };
  const Case Cases[] = {
      {"empty source not handled", 0, 0, 8, false, 8, pUnknown},
      {"no room beside the system colours (n = 0)", 2, 2, 16, true, 16, pSys16},
      {"negative n", 2, 2, 1, true, 1, pUnknown},
      {"system colours appended twice for an empty source", 3, 0, 20, true, 16, pSys16},
  };
  for (const auto& C : Cases) {
    TPixelGraphic Src, Dest;
    Src.SetFormat(C.Width, C.Height, 3);
    Dest.SetFormat(1, 1, 2);
    Dest.SetPaletteIdent(pGray256);
    CreateOptimizedPalette(Dest, Src, C.Count, C.Sys);
    const auto Sys = Sys16();
    EXPECT_EQ(PaletteOf(Dest), std::vector<TRGB>(Sys.begin(), Sys.begin() + C.Expected)) << C.Fault;
    EXPECT_EQ(Dest.PaletteIdent(), C.Ident) << C.Fault;
  }
}

TEST(OptimizedPalette, TrueColourBoxes) {
  struct Case { const char* Fault; std::vector<TRGB> Pixels; int Count; bool Sys; std::vector<TRGB> Expected; };
  const Case Cases[] = {
      {"entry is not the cell centre", {RGBColor(10, 20, 30)}, 1, false, {RGBColor(12, 22, 28)}},
      {"system colours missing after the entries", {RGBColor(10, 20, 30)}, 20, true, {RGBColor(12, 22, 28)}},
      {"black and white not split on green", {RGBColor(0, 0, 0), RGBColor(255, 255, 255)}, 2, false,
       {RGBColor(4, 2, 4), RGBColor(252, 254, 252)}},
      {"splitting goes on without cells to split",
       {RGBColor(0, 0, 0), RGBColor(255, 255, 255), RGBColor(255, 0, 0)}, 10, false,
       {RGBColor(4, 2, 4), RGBColor(252, 254, 252), RGBColor(252, 2, 4)}},
      {"volume used when few splits are left",
       {Cell(0, 0, 0), Cell(10, 20, 10), Cell(0, 63, 31), Cell(31, 63, 31)}, 3, false,
       {RGBColor(44, 42, 44), RGBColor(4, 254, 252), RGBColor(252, 254, 252)}},
      {"size used while many splits are left",
       {Cell(0, 0, 0), Cell(10, 20, 10), Cell(0, 63, 31), Cell(31, 63, 31)}, 4, false,
       {RGBColor(4, 2, 4), RGBColor(4, 254, 252), RGBColor(84, 82, 84), RGBColor(252, 254, 252)}},
      {"a later box wins a tie", {Cell(0, 0, 0), Cell(31, 0, 0), Cell(0, 63, 0), Cell(31, 63, 0)}, 3, false,
       {RGBColor(4, 2, 4), RGBColor(128, 254, 4), RGBColor(252, 2, 4)}},
      {"equal weighted extents not split on green", {Cell(0, 0, 0), Cell(0, 4, 3), Cell(3, 0, 3)}, 2, false,
       {RGBColor(16, 2, 16), RGBColor(4, 18, 28)}},
      {"wider red not preferred over green", {Cell(0, 0, 0), Cell(31, 40, 0), Cell(0, 40, 0)}, 2, false,
       {RGBColor(4, 82, 4), RGBColor(252, 162, 4)}},
      {"split plane off by one", {Cell(0, 0, 0), Cell(0, 32, 0), Cell(0, 63, 0)}, 2, false,
       {RGBColor(4, 2, 4), RGBColor(4, 192, 4)}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic Src, Dest;
    MakeRow(Src, C.Pixels);
    Dest.SetFormat(3, 1, 2);
    for (int x = 0; x < 3; ++x) Dest.SetPixel(x, 0, x + 1);
    CreateOptimizedPalette(Dest, Src, C.Count, C.Sys);
    auto Expected = C.Expected;
    if (C.Sys)
      for (TRGB S : Sys16()) Expected.push_back(S);
    EXPECT_EQ(PaletteOf(Dest), Expected) << C.Fault;
    EXPECT_EQ(Dest.PaletteIdent(), pUnknown) << C.Fault;
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Dest.GetPixel(x, 0), x + 1) << C.Fault << ": pixels touched";
  }
}

TEST(OptimizedPalette, HistogramCountersSaturate) {
  // 80000 black and 40000 white pixels: black counts as 65535 (not 80000, nor wrapped).
  TPixelGraphic Src, Dest;
  Src.SetFormat(400, 300, 3);
  for (int y = 200; y < 300; ++y) std::memset(Src.GetScanLine(y), 255, 3 * 400);
  Dest.SetFormat(1, 1, 2);
  CreateOptimizedPalette(Dest, Src, 1, false);
  EXPECT_EQ(PaletteOf(Dest), std::vector<TRGB>{RGBColor(98, 98, 98)});
}

TEST(OptimizedPalette, EnoughEntriesKeepEveryColour) {
  // With no more distinct cells (true colour) or colours (palette source) than
  // entries, each one gets its own entry.
  std::mt19937 Rng(7);
  for (int Num : {3, 2}) {
    std::set<TRGB> Used;
    std::vector<TRGB> Colors;
    while (Colors.size() < 100) {
      const TRGB C = static_cast<TRGB>(Rng() & 0xFFFFFF);
      if (Used.insert(Num == 3 ? CellCentre(C) : C).second) Colors.push_back(C);
    }
    TPixelGraphic Src, Dest;
    if (Num == 3) {
      Src.SetFormat(37, 11, 3);
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x) Src.SetPixel(x, y, Colors[(static_cast<std::size_t>(y) * 37 + x) % Colors.size()]);
    } else {
      MakeIndexedRow(Src, 2, Colors, std::vector<int>(Colors.size(), 2));
    }
    Dest.SetFormat(1, 1, 2);
    CreateOptimizedPalette(Dest, Src, 128, false);
    const auto Pal = PaletteOf(Dest);
    EXPECT_EQ(std::set<TRGB>(Pal.begin(), Pal.end()), Used) << "depth " << Num;
    EXPECT_EQ(Pal.size(), Used.size()) << "depth " << Num;
  }
}

TEST(OptimizedPalette, PaletteSourcesCountOnlyTheirPixels) {
  struct Case { const char* Fault; int Num; std::vector<int> Pixels; };
  const Case Cases[] = {
      {"last bit of a 1-bit row lost", 0, {0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"4-bit nibbles swapped or padding counted", 1, {1, 2, 3}},
      {"8-bit row padding counted", 2, {5, 6, 7}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic Src, Dest;
    Src.SetFormat(static_cast<int>(C.Pixels.size()), 2, C.Num);
    Src.SetPaletteIdent(C.Num == 0 ? pBlackWhite : C.Num == 1 ? pSys16 : pSpecial252);
    for (int y = 0; y < 2; ++y)
      for (std::size_t x = 0; x < C.Pixels.size(); ++x) Src.SetPixel(static_cast<int>(x), y, C.Pixels[x]);
    std::set<TRGB> Expected;
    for (int p : C.Pixels) Expected.insert(Src.GetPaletteEntry(p));
    Dest.SetFormat(1, 1, 2);
    CreateOptimizedPalette(Dest, Src, 16, false);
    const auto Pal = PaletteOf(Dest);
    EXPECT_EQ(std::set<TRGB>(Pal.begin(), Pal.end()), Expected) << C.Fault;
    EXPECT_EQ(Pal.size(), Expected.size()) << C.Fault;
  }
}

TEST(OptimizedPalette, OctreeListsLeavesInOctantOrder) {
  TPixelGraphic Src, Dest;
  Src.SetFormat(16, 1, 1);
  Src.SetPaletteIdent(pSys16);
  for (int x = 0; x < 16; ++x) Src.SetPixel(x, 0, x);
  Dest.SetFormat(1, 1, 1);
  CreateOptimizedPalette(Dest, Src, 16, false);
  auto Expected = Sys16();
  std::stable_sort(Expected.begin(), Expected.end(), [](TRGB A, TRGB B) { return OctantKey(A) < OctantKey(B); });
  ASSERT_NE(Expected, Sys16());
  EXPECT_EQ(PaletteOf(Dest), Expected);
  EXPECT_EQ(Dest.PaletteIdent(), pUnknown);
}

TEST(OptimizedPalette, OctreeMerges) {
  struct Case {
    const char* Fault;
    std::vector<TRGB> Colors;
    std::vector<int> Weights;
    int Count;
    int DestNum;
    std::vector<TRGB> Expected;
  };
  const Case Cases[] = {
      {"listed branch not merged",
       {RGBColor(0, 0, 0), RGBColor(0, 0, 2), RGBColor(0, 0, 3), RGBColor(255, 255, 255)}, {1, 1, 1, 1}, 2, 2,
       {RGBColor(0, 0, 1), RGBColor(255, 255, 255)}},
      {"newest listed node merged instead of the darkest",
       {RGBColor(0, 0, 0), RGBColor(0, 0, 1), RGBColor(0, 0, 1), RGBColor(254, 254, 254), RGBColor(254, 254, 255),
        RGBColor(254, 254, 255), RGBColor(128, 128, 128)},
       {1, 1, 1, 1, 1, 1, 1}, 4, 2,
       {RGBColor(0, 0, 0), RGBColor(128, 128, 128), RGBColor(254, 254, 254), RGBColor(254, 254, 255)}},
      {"leaf level not raised after a shallow merge",
       {RGBColor(0, 0, 0), RGBColor(0, 0, 2), RGBColor(0, 0, 3), RGBColor(255, 255, 255), RGBColor(255, 255, 254)},
       {1, 1, 1, 1, 1}, 2, 2, {RGBColor(0, 0, 1), RGBColor(255, 255, 254)}},
      {"branch outside every list left unmerged",
       {RGBColor(0, 0, 0), RGBColor(0, 0, 2), RGBColor(255, 255, 255)}, {1, 3, 1}, 2, 2,
       {RGBColor(0, 0, 1), RGBColor(255, 255, 255)}},
      {"more leaves than a 1-bit image holds",
       {RGBColor(0, 0, 0), RGBColor(128, 0, 0), RGBColor(0, 128, 0)}, {1, 1, 2}, 2, 0, {RGBColor(32, 64, 0)}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic Src, Dest;
    MakeIndexedRow(Src, 2, C.Colors, C.Weights);
    Dest.SetFormat(1, 1, C.DestNum);
    ASSERT_NO_THROW(CreateOptimizedPalette(Dest, Src, C.Count, false)) << C.Fault;
    EXPECT_EQ(PaletteOf(Dest), C.Expected) << C.Fault;
  }
}

TEST(OptimizedPalette, OctreePaletteAlwaysFits) {
  // Channel values from a small set make shared branches, duplicates and branches
  // that never enter a list; the palette must still fit into n entries. Short colour
  // lists too, where the last colour is often the one that needs a merge.
  std::mt19937 Rng(11);
  const int Levels[] = {0, 1, 2, 3, 64, 128, 129, 255};
  for (int Round = 0; Round < 300; ++Round) {
    std::vector<TRGB> Colors(static_cast<std::size_t>(2 + Rng() % (Round % 3 == 0 ? 255 : 12)));
    for (TRGB& C : Colors) C = RGBColor(Levels[Rng() % 8], Levels[Rng() % 8], Levels[Rng() % 8]);
    const int n = 1 + static_cast<int>(Rng() % 16);
    const bool Sys = Round % 2 == 1;
    TPixelGraphic Src, Dest;
    MakeIndexedRow(Src, 2, Colors, std::vector<int>(Colors.size(), 1));
    Dest.SetFormat(1, 1, Sys ? 2 : 1);
    ASSERT_NO_THROW(CreateOptimizedPalette(Dest, Src, Sys ? n + 16 : n, Sys)) << "round " << Round;
    const int Own = Dest.PaletteCount() - (Sys ? 16 : 0);
    EXPECT_GE(Own, 1) << "round " << Round;
    EXPECT_LE(Own, n) << "round " << Round;
  }
}

TEST(OptimizedPalette, ProgressPerRowAndAbortKeepsCountedRows) {
  struct Case { const char* Fault; int Num; bool Abort; std::vector<TRGB> Expected; };
  const Case Cases[] = {
      {"true colour: progress missing", 3, false, {RGBColor(4, 2, 4), RGBColor(252, 254, 252)}},
      {"true colour: abort not honoured or row lost", 3, true, {RGBColor(4, 2, 4)}},
      {"palette source: progress missing", 2, false, {RGBColor(0, 0, 0), RGBColor(255, 255, 255)}},
      {"palette source: abort not honoured or row lost", 2, true, {RGBColor(0, 0, 0)}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic Src, Dest;
    Src.SetFormat(3, 2, C.Num);
    if (C.Num != 3) Src.SetPaletteIdent(pBlackWhite);
    for (int x = 0; x < 3; ++x) Src.SetPixel(x, 1, C.Num == 3 ? RGBColor(255, 255, 255) : 1);
    Dest.SetFormat(1, 1, 2);
    std::vector<std::pair<int, int>> Calls;
    Dest.SetOnProgress([&](TObject* Sender, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Sender, &Dest);
      EXPECT_FALSE(Abort);
      Calls.emplace_back(Step, Max);
      Abort = C.Abort;
    });
    CreateOptimizedPalette(Dest, Src, 2, false);
    const std::vector<std::pair<int, int>> ExpectedCalls =
        C.Abort ? std::vector<std::pair<int, int>>{{0, 1}} : std::vector<std::pair<int, int>>{{0, 1}, {1, 1}};
    EXPECT_EQ(Calls, ExpectedCalls) << C.Fault;
    EXPECT_EQ(PaletteOf(Dest), C.Expected) << C.Fault;
  }
}

TEST(OptimizedPalette, PixelOutsideTheSourcePaletteRaises) {
  TPixelGraphic Src, Dest;
  MakeIndexedRow(Src, 2, {RGBColor(1, 2, 3), RGBColor(4, 5, 6)}, {1, 1});
  Src.SetPixel(1, 0, 5);
  Dest.SetFormat(1, 1, 2);
  EXPECT_THROW(CreateOptimizedPalette(Dest, Src, 8, false), EPGInvalidPaletteIndex);
}

// More entries than any palette holds are not asked of the box table.
TEST(OptimizedPalette, CountAboveTheLargestPaletteIsCapped) {
  TPixelGraphic Source;
  Source.SetFormat(64, 64, 3);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) Source.SetPixel(x, y, RGBColor(x * 4, y * 4, (x ^ y) * 4));
  TPixelGraphic Dest;
  Dest.SetFormat(1, 1, 2);
  CreateOptimizedPalette(Dest, Source, 1000, false);
  EXPECT_EQ(Dest.PaletteCount(), 256);
}
