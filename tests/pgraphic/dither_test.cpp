#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pgraphic/pixel_graphic.h"
#include "tests/pgraphic/stretch_reference.h"

using namespace pg;

namespace {

int Pick(std::mt19937& Rng, int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(Rng); }

// Drives the dither protocol over Colors (a 24-bit image of the same size) the way a
// resampler does: rows top to bottom, serpentine, skipping the columns Skip marks.
void DitherWithEngine(TPixelGraphic& Dest, const TPixelGraphic& Colors, const std::vector<bool>& Skip) {
  const int W = Dest.GetWidth();
  Dest.InitDither();
  for (int y = 0; y < Dest.GetHeight(); ++y) {
    Dest.NextDitherRow();
    for (int n = 0; n < W; ++n) {
      const int x = y % 2 == 0 ? n : W - 1 - n;
      if (Skip[static_cast<std::size_t>(y * W + x)]) continue;
      const TRGB C = Colors.GetPixel(x, y);
      Dest.DitherPixel(x, y, RedOf(C), GreenOf(C), BlueOf(C));
    }
  }
  Dest.FreeDitherBuffers();
}

void DitherWithReference(TPixelGraphic& Dest, const TPixelGraphic& Colors, const std::vector<bool>& Skip) {
  const int W = Dest.GetWidth();
  ref::TDither D(Dest);
  for (int y = 0; y < Dest.GetHeight(); ++y) {
    D.NextRow();
    for (int n = 0; n < W; ++n) {
      const int x = y % 2 == 0 ? n : W - 1 - n;
      if (Skip[static_cast<std::size_t>(y * W + x)]) continue;
      const TRGB C = Colors.GetPixel(x, y);
      D.Pixel(x, y, RedOf(C), GreenOf(C), BlueOf(C));
    }
  }
}

struct TDitherCase {
  int Num = 2;
  ref::TPaletteChoice Pal;
  bool Auto = true, Soft = true, Weighting = true, Cache = true;
  int Limit = 32;
  unsigned Seed = 0;
  std::string Describe(int W, int H) const {
    std::ostringstream S;
    S << W << "x" << H << " " << NumToBitCount(Num) << "-bit " << Pal.Name() << ", "
      << (Auto ? "auto limit" : "limit " + std::to_string(Limit) + (Soft ? " soft" : " hard"))
      << (Weighting ? " weighted" : " unweighted") << (Cache ? "" : " no colour cache") << ", seed " << Seed;
    return S.str();
  }
};

void MakeDest(const TDitherCase& C, int W, int H, TPixelGraphic& G) {
  std::mt19937 Rng(C.Seed);
  G.SetFormat(W, H, C.Num);
  ref::ApplyPalette(G, C.Pal, Rng);
  G.SetDitherErrorLimitAuto(C.Auto);
  G.SetDitherErrorLimit(static_cast<std::uint8_t>(C.Limit));
  G.SetDitherErrorLimitSoft(C.Soft);
  G.SetRGBWeighting(C.Weighting);
  G.SetColorCache(C.Cache);
}

}  // namespace

// Every palette kind and error limit curve (automatic per palette, manual with and
// without the soft knee), with some columns skipped as resampling does at the edges.
TEST(Dither, MatchesReferenceOnRandomImages) {
  constexpr int Cases = 300;
  static const int Limits[] = {0, 1, 2, 3, 4, 31, 32, 33, 64, 86, 104, 128, 170, 200, 254, 255};
  std::mt19937 Rng(4711);
  int Failed = 0;
  for (int i = 0; i < Cases; ++i) {
    TDitherCase C;
    C.Num = i % 3;
    const auto Choices = ref::PaletteChoices(C.Num);
    C.Pal = Choices[static_cast<std::size_t>(Pick(Rng, 0, static_cast<int>(Choices.size()) - 1))];
    C.Auto = Pick(Rng, 0, 2) == 0;
    C.Limit = Pick(Rng, 0, 3) == 0 ? Pick(Rng, 0, 255) : Limits[Pick(Rng, 0, std::size(Limits) - 1)];
    C.Soft = Pick(Rng, 0, 1) == 0;
    C.Weighting = Pick(Rng, 0, 3) != 0;
    C.Cache = Pick(Rng, 0, 3) != 0;
    C.Seed = static_cast<unsigned>(Rng());
    const int W = Pick(Rng, 1, 24), H = Pick(Rng, 1, 12);

    TPixelGraphic Colors, Engine, Reference;
    Colors.SetFormat(W, H, 3);
    ref::FillRandom(Colors, Rng);
    std::vector<bool> Skip(static_cast<std::size_t>(W * H), false);
    if (Pick(Rng, 0, 2) == 0)
      for (std::size_t n = 0; n < Skip.size(); ++n) Skip[n] = Pick(Rng, 0, 4) == 0;
    MakeDest(C, W, H, Engine);
    MakeDest(C, W, H, Reference);

    std::string Problem;
    try {
      DitherWithEngine(Engine, Colors, Skip);
      if (Engine.Dithering()) Problem = "buffers still allocated after FreeDitherBuffers; ";
    } catch (const std::exception& E) {
      Problem = std::string("engine threw: ") + E.what() + "; ";
    }
    DitherWithReference(Reference, Colors, Skip);
    for (int y = 0; y < H && Problem.empty(); ++y)
      for (int x = 0; x < W; ++x)
        if (Engine.GetPixel(x, y) != Reference.GetPixel(x, y)) {
          Problem = "first mismatch at (" + std::to_string(x) + ", " + std::to_string(y) + "): engine " +
                    std::to_string(Engine.GetPixel(x, y)) + ", reference " + std::to_string(Reference.GetPixel(x, y));
          break;
        }
    if (!Problem.empty() && ++Failed <= 12) ADD_FAILURE() << "case " << i << ": " << C.Describe(W, H) << "\n  " << Problem;
  }
  EXPECT_EQ(Failed, 0) << "of " << Cases << " random cases";
}

// With limit 0 no error is passed on: colour palettes then store the nearest index of
// each colour, exactly as SetPixelColor does.
TEST(Dither, ZeroLimitOnColourPaletteStoresNearestColour) {
  struct Case { const char* Name; int Num; ref::TPaletteChoice Pal; };
  const Case Cases[] = {
      {"pSys16", 1, {ref::TPaletteKind::Standard, pSys16}},
      {"pSpecial125", 2, {ref::TPaletteKind::Standard, pSpecial125}},
      {"pSpecial216", 2, {ref::TPaletteKind::Standard, pSpecial216}},
      {"pSpecial252", 2, {ref::TPaletteKind::Standard, pSpecial252}},
      {"random colours", 2, {ref::TPaletteKind::RandomColor, pUnknown}},
      {"random colours, 1 bit", 0, {ref::TPaletteKind::RandomColor, pUnknown}},
  };
  std::mt19937 Rng(3);
  for (const Case& C : Cases)
    for (const bool Soft : {false, true}) {
      SCOPED_TRACE(std::string(C.Name) + (Soft ? " soft" : " hard"));
      TPixelGraphic Colors, Dithered, Plain;
      Colors.SetFormat(17, 6, 3);
      ref::FillRandom(Colors, Rng);
      const unsigned Seed = static_cast<unsigned>(Rng());
      for (TPixelGraphic* G : {&Dithered, &Plain}) {
        std::mt19937 PalRng(Seed);
        G->SetFormat(17, 6, C.Num);
        ref::ApplyPalette(*G, C.Pal, PalRng);
        G->SetColorCache(false);  // the plain search, whatever the order of requests
      }
      Dithered.SetDitherErrorLimitAuto(false);
      Dithered.SetDitherErrorLimit(0);
      Dithered.SetDitherErrorLimitSoft(Soft);
      DitherWithEngine(Dithered, Colors, std::vector<bool>(17 * 6, false));
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 17; ++x) {
          Plain.SetPixelColor(x, y, Colors.GetPixel(x, y));
          ASSERT_EQ(Dithered.GetPixel(x, y), Plain.GetPixel(x, y)) << x << ", " << y;
        }
    }
}

// Grey palettes dither the grey level of the channel sum, RGB(v, v, v) with v = sum div 3,
// which is not always the entry SetPixelColor picks for the colour itself.
TEST(Dither, ZeroLimitOnGreyPaletteStoresNearestGreyLevel) {
  struct Case { const char* Name; int Num; ref::TPaletteChoice Pal; };
  const Case Cases[] = {
      {"pBlackWhite", 0, {ref::TPaletteKind::Standard, pBlackWhite}},
      {"pGray4", 1, {ref::TPaletteKind::Standard, pGray4}},
      {"pSysGray4", 1, {ref::TPaletteKind::Standard, pSysGray4}},
      {"pGray16", 1, {ref::TPaletteKind::Standard, pGray16}},
      {"pGray236", 2, {ref::TPaletteKind::Standard, pGray236}},
      {"pGray256", 2, {ref::TPaletteKind::Standard, pGray256}},
      {"random greys", 2, {ref::TPaletteKind::RandomGray, pUnknown}},
  };
  std::mt19937 Rng(5);
  for (const Case& C : Cases)
    for (const bool Weighting : {false, true}) {
      SCOPED_TRACE(std::string(C.Name) + (Weighting ? " weighted" : " unweighted"));
      TPixelGraphic Colors, G;
      Colors.SetFormat(17, 6, 3);
      ref::FillRandom(Colors, Rng);
      G.SetFormat(17, 6, C.Num);
      ref::ApplyPalette(G, C.Pal, Rng);
      G.SetColorCache(false);
      G.SetRGBWeighting(Weighting);
      G.SetDitherErrorLimitAuto(false);
      G.SetDitherErrorLimit(0);
      DitherWithEngine(G, Colors, std::vector<bool>(17 * 6, false));
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 17; ++x) {
          const int v = GrayValue(Colors.GetPixel(x, y), Weighting) / 3;
          ASSERT_EQ(G.GetPixel(x, y), G.NearestPaletteIndex(RGBColor(v, v, v))) << x << ", " << y;
        }
    }
  // The difference made visible: (26, 0, 0) unweighted is entry 1 of pGray16 by colour,
  // but its grey level 8 is nearest to entry 0.
  TPixelGraphic G;
  G.SetFormat(1, 1, 1);
  G.SetPaletteIdent(pGray16);
  G.SetRGBWeighting(false);
  G.SetDitherErrorLimitAuto(false);
  G.SetDitherErrorLimit(0);
  G.SetPixelColor(0, 0, RGBColor(26, 0, 0));
  EXPECT_EQ(G.GetPixel(0, 0), 1);
  G.InitDither();
  G.NextDitherRow();
  G.DitherPixel(0, 0, 26, 0, 0);
  G.FreeDitherBuffers();
  EXPECT_EQ(G.GetPixel(0, 0), 0);
}

TEST(Dither, MidGreyOnBlackAndWhiteAlternates) {
  TPixelGraphic Colors, G;
  Colors.SetFormat(2, 2, 3);
  for (int i = 0; i < 4; ++i) Colors.SetPixel(i % 2, i / 2, RGBColor(128, 128, 128));
  G.SetFormat(2, 2, 0);
  G.SetPaletteIdent(pBlackWhite);
  DitherWithEngine(G, Colors, std::vector<bool>(4, false));
  // Row 1 runs right to left: its first pixel is (1, 1).
  EXPECT_EQ(G.GetPixel(0, 0), 1);
  EXPECT_EQ(G.GetPixel(1, 0), 0);
  EXPECT_EQ(G.GetPixel(1, 1), 1);
  EXPECT_EQ(G.GetPixel(0, 1), 0);
}
