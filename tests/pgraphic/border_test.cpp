#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pgraphic/pixel_graphic.h"
#include "tests/pgraphic/event_log.h"

using namespace pg;

namespace {

using kvtest::TEventLog;

constexpr TRGB White = RGBColor(255, 255, 255);

void FillRandom(TPixelGraphic& G, int W, int H, int Num, unsigned Seed) {
  std::mt19937 Rng(Seed);
  G.SetFormat(W, H, Num);
  if (Num < 3) {
    G.SetPaletteCount(G.MaxPaletteCount());
    for (int i = 0; i < G.PaletteCount(); ++i) G.SetPaletteEntry(i, static_cast<TRGB>(Rng() & 0xFFFFFF));
  }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      G.SetPixel(x, y, Num == 3 ? static_cast<int>(Rng() & 0xFFFFFF) : static_cast<int>(Rng() % G.PaletteCount()));
}

std::vector<int> Raw(const TPixelGraphic& G) {
  std::vector<int> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) V.push_back(G.GetPixel(x, y));
  return V;
}

// Grey levels (the green channel) row by row.
std::vector<int> Levels(const TPixelGraphic& G) {
  std::vector<int> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) V.push_back(GreenOf(G.GetPixelColor(x, y)));
  return V;
}

void Black(TPixelGraphic& G, int W, int H) { G.SetFormat(W, H, 3); }

}  // namespace

TEST(Border, BlackImageWhiteBorder) {
  struct Row {
    const char* Fault;
    bool Oval;
    int W, H, Wb;
    std::vector<int> Expected;
  };
  const Row Rows[] = {
      {"rectangular Wb 3: second ring f 512 gives 127, its corners blended twice 191", false, 5, 5, 3,
       {255, 255, 255, 255, 255,  //
        255, 191, 127, 191, 255,  //
        255, 127, 0, 127, 255,    //
        255, 191, 127, 191, 255,  //
        255, 255, 255, 255, 255}},
      {"zones wider than the image blend top, bottom, left, right in turn", false, 3, 3, 3,
       {255, 255, 255,  //
        255, 239, 255,  //
        255, 255, 255}},
      {"oval 3 x 3: corners outside, edge middles on the ellipse, centre at distance 1", true, 3, 3, 2,
       {255, 255, 255,  //
        255, 0, 255,    //
        255, 255, 255}},
      // Diagonal pixel: d = 0.5858, f = floor(1.4142 * 512) = 724; (2, 1): d = 1, f = 512.
      {"oval circle 5 x 5", true, 5, 5, 3,
       {255, 255, 255, 255, 255,  //
        255, 180, 127, 180, 255,  //
        255, 127, 0, 127, 255,    //
        255, 180, 127, 180, 255,  //
        255, 255, 255, 255, 255}},
      // q1 = 0.5, q2 = 2: (1, 1) d = 0.7071, f = 661; centre d = 1.4142, f = 299.
      {"oval ellipse 5 x 3 scales distances per axis", true, 5, 3, 3,
       {255, 255, 255, 255, 255,  //
        255, 164, 74, 164, 255,   //
        255, 255, 255, 255, 255}},
      {"width 2: all border", false, 2, 4, 3, std::vector<int>(8, 255)},
      {"height 2: all border, also oval", true, 4, 2, 3, std::vector<int>(8, 255)},
      {"Wb 1: all border", false, 4, 4, 1, std::vector<int>(16, 255)},
      {"Wb 0 or less: all border", true, 4, 3, -5, std::vector<int>(12, 255)},
  };
  for (const Row& R : Rows) {
    TPixelGraphic Src, Dst;
    Black(Src, R.W, R.H);
    Dst.DrawBorder(R.Oval, R.Wb, White, Src);
    EXPECT_EQ(Dst.GetWidth(), R.W) << R.Fault;
    EXPECT_EQ(Levels(Dst), R.Expected) << R.Fault;
  }
}

TEST(Border, RectangularWidth2ColoursExactlyTheOuterRing) {
  TPixelGraphic Src, Dst;
  FillRandom(Src, 7, 5, 3, 1);
  const TRGB Color = RGBColor(12, 200, 99);
  Dst.DrawBorder(false, 2, Color, Src);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const bool Ring = x == 0 || y == 0 || x == 6 || y == 4;
      EXPECT_EQ(Dst.GetPixel(x, y), Ring ? Color : Src.GetPixel(x, y)) << x << ", " << y;
    }
}

TEST(Border, BlendsPerChannelFromPaletteSources) {
  // Red source, blue border, Wb 3: f 512 mixes the channels separately.
  TPixelGraphic Src, Dst;
  Src.SetFormat(5, 5, 1);
  Src.SetPaletteIdent(pSys16);
  const int Red = Src.NearestPaletteIndex(RGBColor(255, 0, 0));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) Src.SetPixel(x, y, Red);
  Dst.DrawBorder(false, 3, RGBColor(0, 0, 200), Src);
  EXPECT_EQ(Dst.GetBitCountNum(), 3);
  EXPECT_EQ(Dst.GetPixel(2, 1), RGBColor(127, 0, 100));
  EXPECT_EQ(Dst.GetPixel(2, 2), RGBColor(255, 0, 0));
  EXPECT_EQ(Dst.GetPixel(0, 3), RGBColor(0, 0, 200));
}

TEST(Border, PaletteTargetsGoThroughThePixelWriter) {
  TPixelGraphic Src;
  FillRandom(Src, 17, 9, 3, 2);
  for (const bool Oval : {false, true}) {
    for (const int Wb : {5, 1}) {  // 1: the degenerate fill
      TPixelGraphic True;
      True.DrawBorder(Oval, Wb, RGBColor(30, 140, 250), Src);
      TPixelGraphic Nearest, Dithered, Reference;
      for (TPixelGraphic* G : {&Nearest, &Dithered, &Reference}) {
        G->SetFormat(1, 1, 1);
        G->SetPaletteIdent(pSys16);
      }
      Nearest.SetDither(false);
      Nearest.DrawBorder(Oval, Wb, RGBColor(30, 140, 250), Src);
      Dithered.DrawBorder(Oval, Wb, RGBColor(30, 140, 250), Src);
      Reference.SetWidth(17);
      Reference.SetHeight(9);
      Reference.StretchFrom(True);
      const std::string Case = std::string(Oval ? "oval" : "rectangular") + " Wb " + std::to_string(Wb);
      EXPECT_EQ(Raw(Dithered), Raw(Reference)) << Case << ": serpentine error diffusion as the engine's";
      EXPECT_FALSE(Dithered.Dithering()) << Case;
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x)
          ASSERT_EQ(Nearest.GetPixel(x, y), Nearest.NearestPaletteIndex(True.GetPixel(x, y))) << Case << " at " << x << ", " << y;
    }
  }
}

TEST(Border, ProgressAndAbort) {
  struct Row {
    const char* Fault;
    int W, Wb, AbortAt;
    std::string Events;
    std::vector<int> Expected;
  };
  const Row Rows[] = {
      {"one step per row, end and change once", 3, 2, -1, "C S P0/2 P1/2 P2/2 E C ",
       {255, 255, 255, 255, 0, 255, 255, 255, 255}},
      {"abort in row 0 leaves the other rows as SetFormat left them", 3, 2, 0, "C S P0/2 E C ",
       {255, 255, 255, 0, 0, 0, 0, 0, 0}},
      {"degenerate fill: no progress, one change", 2, 2, -1, "C C ", {255, 255, 255, 255, 255, 255}},
  };
  for (const Row& R : Rows) {
    TPixelGraphic Src, Dst;
    Black(Src, R.W, 3);
    TEventLog Log;
    Log.Attach(Dst, R.AbortAt);
    Dst.DrawBorder(false, R.Wb, White, Src);
    EXPECT_EQ(Log.Events, R.Events) << R.Fault;
    EXPECT_EQ(Levels(Dst), R.Expected) << R.Fault;
  }
}

TEST(Border, EmptySourceOnlyChanges) {
  TPixelGraphic Src, Dst;
  Dst.SetFormat(4, 4, 3);
  TEventLog Log;
  Log.Attach(Dst);
  Dst.DrawBorder(true, 10, White, Src);
  EXPECT_EQ(Dst.GetWidth(), 0);
  EXPECT_EQ(Log.Events, "C C ");
}

TEST(Border, SourceIsSelfKeepsItsPixels) {
  // Taking the size of itself clears the image; the border must still frame its pixels.
  TPixelGraphic G, Original;
  FillRandom(G, 6, 5, 3, 3);
  Original.Assign(&G);
  G.DrawBorder(false, 2, White, G);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool Ring = x == 0 || y == 0 || x == 5 || y == 4;
      EXPECT_EQ(G.GetPixel(x, y), Ring ? White : Original.GetPixel(x, y)) << x << ", " << y;
    }
}

TEST(Border, HugeWidthIsSafe) {
  // Factors are computed in 64 bits: a width near the integer limit fades over the
  // whole image without overflow (every pixel is then nearly full border colour).
  TPixelGraphic Src, Dst;
  Black(Src, 4, 3);
  Dst.DrawBorder(false, 2147483647, White, Src);
  for (const int v : Levels(Dst)) EXPECT_GE(v, 254);
  Dst.DrawBorder(true, 2147483647, White, Src);
  for (const int v : Levels(Dst)) EXPECT_GE(v, 254);
}
