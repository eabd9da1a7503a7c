#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/filters/conv_filter.h"
#include "pgraphic/pixel_graphic.h"
#include "tests/pgraphic/event_log.h"

using namespace pg;

namespace {

using kvtest::TEventLog;

constexpr TRGB Grey(int v) { return RGBColor(v, v, v); }

std::vector<int> KernelOf(const TConvFilter& F) {
  std::vector<int> K;
  for (int r = 0; r < F.GetHeight(); ++r)
    for (int c = 0; c < F.GetWidth(); ++c) K.push_back(F.GetKernel(c, r));
  return K;
}

std::vector<int> Raw(const TPixelGraphic& G) {
  std::vector<int> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) V.push_back(G.GetPixel(x, y));
  return V;
}

std::vector<TRGB> Colors(const TPixelGraphic& G) {
  std::vector<TRGB> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) V.push_back(G.GetPixelColor(x, y));
  return V;
}

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

// A 24-bit image of grey levels given row by row.
void GreyImage(TPixelGraphic& G, int W, const std::vector<int>& Levels) {
  G.SetFormat(W, static_cast<int>(Levels.size()) / W, 3);
  for (std::size_t i = 0; i < Levels.size(); ++i) G.SetPixel(static_cast<int>(i) % W, static_cast<int>(i) / W, Grey(Levels[i]));
}

std::vector<int> GreyLevels(const TPixelGraphic& G) {
  std::vector<int> V;
  for (const TRGB C : Colors(G)) V.push_back(GreenOf(C));
  return V;
}

// Inverts colours; a point filter that records what the framework asks of it.
class TInvertFilter : public TPGFilter {
public:
  bool IsPointFilter() const override { return true; }
  TRGB FilterColor(TRGB C) override { return C ^ 0xFFFFFF; }
  TRGB FilterPixel(int X, int Y) override { return FilterColor(FSource->GetPixelColor(X, Y)); }
  void BeginFilter(const TPixelGraphic& Source) override {
    ++Begun;
    Seen = &Source;
    TPGFilter::BeginFilter(Source);
  }
  void EndFilter() override {
    ++Ended;
    TPGFilter::EndFilter();
  }
  int Begun = 0, Ended = 0;
  const TPixelGraphic* Seen = nullptr;
};

// Fails at the given pixel, to see what the framework cleans up.
class TFailingFilter : public TConvFilter {
public:
  explicit TFailingFilter(int FailAt) : FFailAt(FailAt) {}
  TRGB FilterPixel(int X, int Y) override {
    if (FCount++ == FFailAt) throw std::runtime_error("filter failed");
    return TConvFilter::FilterPixel(X, Y);
  }
  void EndFilter() override {
    ++Ended;
    TConvFilter::EndFilter();
  }
  int Ended = 0;

private:
  int FFailAt, FCount = 0;
};

}  // namespace

// --- kernels -------------------------------------------------------------------------

TEST(ConvFilter, NewFilterIsTheIdentity) {
  const TConvFilter F;
  EXPECT_EQ(F.GetWidth(), 1);
  EXPECT_EQ(F.GetHeight(), 1);
  EXPECT_EQ(KernelOf(F), std::vector<int>{1});
  EXPECT_EQ(F.GetXOffset(), 0);
  EXPECT_EQ(F.GetYOffset(), 0);
  EXPECT_EQ(F.GetBias(), 0);
  EXPECT_EQ(F.GetFactor(), 1);
}

TEST(ConvFilter, MadeKernels) {
  struct Row {
    const char* Fault;
    TKernelKind Kind;
    bool Radial;
    long double Sigma, Strength;  // Strength 0: MakeKernel
    int Size;
    std::vector<int> Kernel;
  };
  const std::vector<int> Gauss5 = {0, 1, 2, 1, 0, 1, 6, 10, 6, 1, 2, 10, 16, 10, 2, 1, 6, 10, 6, 1, 0, 1, 2, 1, 0};
  const Row Rows[] = {
      {"triangle blur of the application", kkTriangle, false, 0.75L, 0, 3, {3, 7, 3, 7, 16, 7, 3, 7, 3}},
      {"sharpen 100 %: centre 56", kkTriangle, false, 0.75L, 100, 3, {-3, -7, -3, -7, 56, -7, -3, -7, -3}},
      {"sharpen 50 %: centre 112", kkTriangle, false, 0.75L, 50, 3, {-3, -7, -3, -7, 112, -7, -3, -7, -3}},
      {"sharpen 64 %: 87.5 rounds to even 88", kkTriangle, false, 0.75L, 64, 3, {-3, -7, -3, -7, 88, -7, -3, -7, -3}},
      {"sharpen 1 %: centre 5600", kkTriangle, false, 0.75L, 1, 3, {-3, -7, -3, -7, 5600, -7, -3, -7, -3}},
      {"box radius from where f reaches 0", kkBox, false, 1.0L, 0, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"radial box keeps the corners inside a = 1.732", kkBox, true, 1.0L, 0, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"radial gauss: entries stay while rounded above 0", kkGauss, true, 1.0L, 0, 5, Gauss5},
      {"separable gauss scaled by f(0) squared", kkGauss, false, 1.0L, 0, 5, Gauss5},
      {"tiny sigma leaves the centre only", kkGauss, true, 0.1L, 0, 1, {16}},
  };
  for (const Row& R : Rows) {
    TConvFilter F;
    F.SetBias(7);
    F.SetFactor(2);
    if (R.Strength > 0) F.MakeSharpenKernel(R.Kind, R.Radial, R.Sigma, R.Strength);
    else F.MakeKernel(R.Kind, R.Radial, R.Sigma);
    EXPECT_EQ(F.GetWidth(), R.Size) << R.Fault;
    EXPECT_EQ(F.GetHeight(), R.Size) << R.Fault;
    EXPECT_EQ(KernelOf(F), R.Kernel) << R.Fault;
    EXPECT_EQ(F.GetXOffset(), -(R.Size / 2)) << R.Fault;
    EXPECT_EQ(F.GetYOffset(), -(R.Size / 2)) << R.Fault;
    EXPECT_EQ(F.GetBias(), 0) << R.Fault;
    EXPECT_EQ(F.GetFactor(), 1) << R.Fault;
  }
}

TEST(ConvFilter, RangeErrors) {
  const auto Message = [](auto&& Action) -> std::string {
    try {
      Action();
    } catch (const EPGConvFilter& E) {
      return E.what();
    }
    return "no EPGConvFilter";
  };
  TConvFilter F;
  EXPECT_EQ(Message([&] { F.SetWidth(100); }), "TConvFilter.Width out of range");
  EXPECT_EQ(Message([&] { F.SetHeight(0); }), "TConvFilter.Height out of range");
  EXPECT_EQ(F.GetWidth(), 1);
  F.SetWidth(3);
  F.SetHeight(3);
  EXPECT_EQ(Message([&] { F.GetKernel(3, 0); }), "X, Y index out of range");
  EXPECT_EQ(Message([&] { F.SetKernel(0, -1, 5); }), "X, Y index out of range");
  // Degenerate distributions find no radius (or one too large to store) and say so
  // through the width, without searching on.
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Message([&] { F.MakeKernel(kkGauss, true, 1e30L); }), "TConvFilter.Width out of range");
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(1));
  EXPECT_EQ(Message([&] { F.MakeKernel(kkTriangle, false, 0); }), "TConvFilter.Width out of range");
  EXPECT_EQ(Message([&] { F.MakeKernel(kkBox, false, -1); }), "TConvFilter.Width out of range");
  // No centre weight for a strength of 0, nor one a kernel entry can hold.
  EXPECT_EQ(Message([&] { F.MakeSharpenKernel(kkTriangle, false, 0.75L, 0); }), "Strength out of range");
  EXPECT_EQ(Message([&] { F.MakeSharpenKernel(kkTriangle, false, 0.75L, 1e-9L); }), "Strength out of range");
}

TEST(ConvFilter, ChangingADimensionClearsTheKernel) {
  TConvFilter F;
  F.SetWidth(99);
  EXPECT_EQ(F.GetWidth(), 99);
  EXPECT_EQ(KernelOf(F), std::vector<int>(99, 0));
  F.SetKernel(5, 0, 9);
  F.SetWidth(99);  // the same value keeps it
  EXPECT_EQ(F.GetKernel(5, 0), 9);
  F.SetHeight(2);
  EXPECT_EQ(KernelOf(F), std::vector<int>(198, 0));
}

// --- filtering -------------------------------------------------------------------------

TEST(ConvFilter, SharpenValues) {
  struct Row {
    const char* Fault;
    int W;
    std::vector<int> Source, Expected;
  };
  // 5 x 5 of 50 with 100 in the middle: centre (5600 - 2000) / 16, edge neighbour
  // 450 / 16 = 28.125, corner neighbour 650 / 16 = 40.625.
  std::vector<int> Spot(25, 50), SpotOut(25, 50);
  Spot[12] = 100;
  SpotOut[12] = 225;
  for (const int i : {7, 11, 13, 17}) SpotOut[i] = 28;
  for (const int i : {6, 8, 16, 18}) SpotOut[i] = 41;
  std::vector<int> White(9, 0), WhiteOut(9, 0);
  White[4] = 255, WhiteOut[4] = 255;
  const Row Rows[] = {
      {"uniform image unchanged, corners renormalised over 4 taps (sum 39)", 4, std::vector<int>(12, 77), std::vector<int>(12, 77)},
      {"single white pixel clamps to 255, neighbours to 0", 3, White, WhiteOut},
      {"unclamped values round to nearest", 5, Spot, SpotOut},
  };
  for (const Row& R : Rows) {
    TPixelGraphic Src, Dst;
    GreyImage(Src, R.W, R.Source);
    TConvFilter F;
    F.MakeSharpenKernel(kkTriangle, false, 0.75L, 100);
    Dst.ApplyFilter(F, Src);
    EXPECT_EQ(GreyLevels(Dst), R.Expected) << R.Fault;
  }
}

TEST(ConvFilter, NormalisationRoundingBiasAndFactor) {
  struct Row {
    const char* Fault;
    std::vector<int> Kernel;  // a 2 x 1 kernel at offset 0: the pixel and its right neighbour
    long double Bias, Factor;
    std::vector<int> Source, Expected;
  };
  const Row Rows[] = {
      {"halves round to even; the last column has one tap", {1, 1}, 0, 1, {0, 1, 2, 3, 9}, {0, 2, 2, 6, 9}},
      {"negative weight sums give the same means", {-1, -1}, 0, 1, {0, 1, 2, 3, 9}, {0, 2, 2, 6, 9}},
      {"a zero weight sum is not divided", {1, -1}, 0, 1, {30, 10, 10, 40, 5}, {20, 0, 0, 35, 5}},
      {"factor scales the mean, halves to even", {1, 0}, 0, 0.5L, {101, 103, 0, 255, 1}, {50, 52, 0, 128, 0}},
      {"bias is a percentage of 255", {1, 0}, 10, 1, {100, 0, 240, 1, 2}, {126, 26, 255, 26, 28}},
      {"negative results clamp to 0", {1, 0}, 0, -1, {100, 0, 240, 1, 2}, {0, 0, 0, 0, 0}},
  };
  for (const Row& R : Rows) {
    TPixelGraphic Src, Dst;
    GreyImage(Src, static_cast<int>(R.Source.size()), R.Source);
    TConvFilter F;
    F.SetWidth(2);
    F.SetKernel(0, 0, R.Kernel[0]);
    F.SetKernel(1, 0, R.Kernel[1]);
    F.SetBias(R.Bias);
    F.SetFactor(R.Factor);
    Dst.ApplyFilter(F, Src);
    EXPECT_EQ(GreyLevels(Dst), R.Expected) << R.Fault;
  }
}

TEST(ConvFilter, RandomKernelsFollowTheDefiningFormula) {
  // Each channel: Factor * (sum / weights) + Bias * 2.55 over the taps inside the image,
  // rounded half to even in extended precision, clamped.
  std::mt19937 Rng(5);
  const auto Uniform = [&Rng](int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(Rng); };
  for (int Case = 0; Case < 40; ++Case) {
    TPixelGraphic Src, Dst;
    FillRandom(Src, Uniform(1, 9), Uniform(1, 7), Case % 4 == 0 ? 2 : 3, static_cast<unsigned>(Case));
    TConvFilter F;
    F.SetWidth(Uniform(1, 5));
    F.SetHeight(Uniform(1, 5));
    F.SetXOffset(Uniform(-5, 2));
    F.SetYOffset(Uniform(-5, 2));
    for (int r = 0; r < F.GetHeight(); ++r)
      for (int c = 0; c < F.GetWidth(); ++c) F.SetKernel(c, r, Uniform(-20, 40));
    if (Case % 2) {
      F.SetFactor(Uniform(-300, 300) / 100.0L);
      F.SetBias(Uniform(-50, 50) / 4.0L);
    }
    Dst.ApplyFilter(F, Src);
    for (int y = 0; y < Src.GetHeight(); ++y)
      for (int x = 0; x < Src.GetWidth(); ++x) {
        long long W = 0, Sum[3] = {0, 0, 0};
        for (int i = 0; i < F.GetHeight(); ++i)
          for (int j = 0; j < F.GetWidth(); ++j) {
            const int sx = x + F.GetXOffset() + j, sy = y + F.GetYOffset() + i;
            if (sx < 0 || sy < 0 || sx >= Src.GetWidth() || sy >= Src.GetHeight()) continue;
            const int k = F.GetKernel(j, i);
            const TRGB C = Src.GetPixelColor(sx, sy);
            W += k, Sum[0] += k * RedOf(C), Sum[1] += k * GreenOf(C), Sum[2] += k * BlueOf(C);
          }
        int Expected[3];
        for (int c = 0; c < 3; ++c) {
          const long double s = static_cast<long double>(Sum[c]);
          const long double v = std::nearbyint((W != 0 ? F.GetFactor() * (s / W) : F.GetFactor() * s) + F.GetBias() * 255 * 0.01L);
          Expected[c] = v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v);
        }
        ASSERT_EQ(Dst.GetPixel(x, y), RGBColor(Expected[0], Expected[1], Expected[2])) << "case " << Case << " at " << x << ", " << y;
      }
  }
}

TEST(ConvFilter, HugeWeightsDoNotOverflowTheSums) {
  // 9999999 * 255 leaves 32 bits; the mean of equal pixels is still the pixel.
  TPixelGraphic Src, Dst;
  GreyImage(Src, 3, {200, 200, 200});
  TConvFilter F;
  F.SetWidth(3);
  F.SetXOffset(-1);
  for (int c = 0; c < 3; ++c) F.SetKernel(c, 0, 9999999);
  Dst.ApplyFilter(F, Src);
  EXPECT_EQ(GreyLevels(Dst), (std::vector<int>{200, 200, 200}));
}

TEST(ConvFilter, IdentityReproducesTheSource) {
  for (const int Num : {0, 1, 2, 3}) {
    TPixelGraphic Src;
    FillRandom(Src, 13, 7, Num, 40u + static_cast<unsigned>(Num));
    TConvFilter F;
    TPixelGraphic True;
    True.ApplyFilter(F, Src);
    EXPECT_EQ(Colors(True), Colors(Src)) << "depth " << Num;
    if (Num == 3) continue;
    // A palette target with the source's palette gets the indices back, dithered or not.
    for (const bool Dither : {false, true}) {
      TPixelGraphic Pal;
      Pal.SetFormat(1, 1, Num);
      Pal.CopyPaletteFrom(Src);
      Pal.SetDither(Dither);
      Pal.SetColorCache(false);  // the cache's 5-6-5 cells may merge two random entries
      Pal.ApplyFilter(F, Src);
      EXPECT_EQ(Raw(Pal), Raw(Src)) << "depth " << Num << (Dither ? " dithered" : "");
    }
  }
}

TEST(ConvFilter, PaletteTargetsGoThroughThePixelWriter) {
  TPixelGraphic Src, Filtered;
  FillRandom(Src, 23, 11, 3, 7);
  TConvFilter F;
  F.MakeSharpenKernel(kkTriangle, false, 0.75L, 60);
  Filtered.ApplyFilter(F, Src);
  for (const TPaletteIdent Ident : {pSys16, pGray16, pSpecial216}) {
    const int Num = Ident == pSpecial216 ? 2 : 1;
    TPixelGraphic Nearest, Dithered, Reference;
    for (TPixelGraphic* G : {&Nearest, &Dithered, &Reference}) {
      G->SetFormat(1, 1, Num);
      G->SetPaletteIdent(Ident);
    }
    Nearest.SetDither(false);
    Nearest.ApplyFilter(F, Src);
    Dithered.ApplyFilter(F, Src);
    // The same colours converted by the engine: the serpentine error diffusion must match.
    Reference.SetWidth(Src.GetWidth());
    Reference.SetHeight(Src.GetHeight());
    Reference.StretchFrom(Filtered);
    EXPECT_EQ(Raw(Dithered), Raw(Reference)) << "palette " << Ident;
    for (int y = 0; y < Src.GetHeight(); ++y)
      for (int x = 0; x < Src.GetWidth(); ++x)
        ASSERT_EQ(Nearest.GetPixel(x, y), Nearest.NearestPaletteIndex(Filtered.GetPixelColor(x, y)))
            << "palette " << Ident << " at " << x << ", " << y;
  }
}

TEST(ConvFilter, ProgressAndAbort) {
  struct Row {
    const char* Fault;
    int AbortAt;
    std::string Events;
  };
  const Row Rows[] = {
      {"one step per row, ends and changes once", -1, "C S P0/2 P1/2 P2/2 E C "},
      {"abort in row 0 stops the loop, end still fires", 0, "C S P0/2 E C "},
  };
  for (const Row& R : Rows) {
    TPixelGraphic Src, Dst;
    GreyImage(Src, 2, {10, 20, 30, 40, 50, 60});
    TEventLog Log;
    Log.Attach(Dst, R.AbortAt);
    TConvFilter F;
    F.SetFactor(2);
    Dst.ApplyFilter(F, Src);
    EXPECT_EQ(Log.Events, R.Events) << R.Fault;
    const std::vector<int> Expected = R.AbortAt == 0 ? std::vector<int>{20, 40, 0, 0, 0, 0}
                                                     : std::vector<int>{20, 40, 60, 80, 100, 120};
    EXPECT_EQ(GreyLevels(Dst), Expected) << R.Fault;
  }
}

TEST(ConvFilter, EmptySourceDoesNothing) {
  TPixelGraphic Src, Dst;
  TEventLog Log;
  Log.Attach(Dst);
  TInvertFilter F;
  Dst.ApplyFilter(F, Src);
  EXPECT_EQ(Log.Events, "");
  EXPECT_EQ(F.Begun, 0);
}

TEST(ConvFilter, FailureEndsTheFilterAndFreesTheBuffers) {
  TPixelGraphic Src, Dst;
  FillRandom(Src, 5, 4, 3, 3);
  Dst.SetFormat(1, 1, 1);
  Dst.SetPaletteIdent(pSys16);
  TEventLog Log;
  Log.Attach(Dst);
  TFailingFilter F(7);
  EXPECT_THROW(Dst.ApplyFilter(F, Src), std::runtime_error);
  EXPECT_EQ(F.Ended, 1);
  EXPECT_FALSE(Dst.Dithering());
  EXPECT_EQ(Log.Events, "C S P0/3 ") << "no end or change events after a failure";
}

TEST(ConvFilter, ThrowingEndHandlersPassTheirErrorOn) {
  // An exception from an end-of-run handler reaches the caller (it must not end the
  // program), after the filter is ended and the dither buffers are freed.
  for (const bool FromProgressEnd : {true, false}) {
    TPixelGraphic Src, Dst;
    FillRandom(Src, 5, 4, 3, 4);
    Dst.SetFormat(5, 4, 1);
    Dst.SetPaletteIdent(pSys16);
    bool Running = false;  // SetFormat's own change event comes before the run
    Dst.SetOnProgressStart([&Running](TObject*) { Running = true; });
    const auto Fail = [&Running](TObject*) {
      if (Running) throw std::runtime_error("handler failed");
    };
    if (FromProgressEnd) Dst.SetOnProgressEnd(Fail);
    else Dst.SetOnChange(Fail);
    TFailingFilter F(-1);
    EXPECT_THROW(Dst.ApplyFilter(F, Src), std::runtime_error) << (FromProgressEnd ? "OnProgressEnd" : "OnChange");
    EXPECT_EQ(F.Ended, 1);
    EXPECT_FALSE(Dst.Dithering());
  }
}

TEST(ConvFilter, SourceIsSelf) {
  // A neighbourhood filter would read pixels it already wrote: refused, nothing changes.
  {
    TPixelGraphic G;
    FillRandom(G, 6, 4, 3, 9);
    const auto Before = Raw(G);
    TEventLog Log;
    Log.Attach(G);
    TConvFilter F;
    try {
      G.ApplyFilter(F, G);
      ADD_FAILURE() << "no EPGFilter";
    } catch (const EPGFilter& E) {
      EXPECT_STREQ(E.what(), "Cannot apply this filter to a source that is identical to the target");
    }
    EXPECT_EQ(Raw(G), Before);
    EXPECT_EQ(Log.Events, "");
  }
  // A point filter on a palette image filters the palette and leaves the indices.
  {
    TPixelGraphic G;
    FillRandom(G, 6, 4, 1, 10);
    const auto Indices = Raw(G);
    std::vector<TRGB> Palette(G.GetPaletteData(), G.GetPaletteData() + G.PaletteCount());
    TEventLog Log;
    Log.Attach(G);
    TInvertFilter F;
    G.ApplyFilter(F, G);
    EXPECT_EQ(Raw(G), Indices);
    for (int i = 0; i < G.PaletteCount(); ++i) EXPECT_EQ(G.GetPaletteEntry(i), Palette[static_cast<std::size_t>(i)] ^ 0xFFFFFF);
    EXPECT_EQ(Log.Events, "C ");
    EXPECT_EQ(F.Begun, 1);
    EXPECT_EQ(F.Ended, 1);
    EXPECT_EQ(F.Seen, &G);
  }
  // A point filter on a true-colour image runs over the pixels.
  {
    TPixelGraphic G, Original;
    FillRandom(G, 6, 4, 3, 11);
    Original.Assign(&G);
    TInvertFilter F;
    G.ApplyFilter(F, G);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(G.GetPixel(x, y), Original.GetPixel(x, y) ^ 0xFFFFFF);
  }
}

TEST(ConvFilter, PointFilterPaletteShortcut) {
  // An 8-bit target holds a 4-bit source's indices: it becomes a copy with a filtered palette.
  TPixelGraphic Src, Dst;
  FillRandom(Src, 7, 3, 1, 12);
  Dst.SetFormat(2, 2, 2);
  Dst.SetPaletteIdent(pGray256);
  TInvertFilter F;
  Dst.ApplyFilter(F, Src);
  EXPECT_EQ(Dst.GetBitCountNum(), 1);
  EXPECT_EQ(Raw(Dst), Raw(Src));
  for (int i = 0; i < Src.PaletteCount(); ++i) EXPECT_EQ(Dst.GetPaletteEntry(i), Src.GetPaletteEntry(i) ^ 0xFFFFFF);
  EXPECT_EQ(F.Seen, &Src);
  // A 4-bit target cannot hold an 8-bit source's indices: pixel by pixel into its own palette.
  TPixelGraphic Wide, Narrow;
  FillRandom(Wide, 7, 3, 2, 13);
  Narrow.SetFormat(1, 1, 1);
  Narrow.SetPaletteIdent(pSys16);
  Narrow.SetDither(false);
  Narrow.ApplyFilter(F, Wide);
  EXPECT_EQ(Narrow.GetBitCountNum(), 1);
  EXPECT_EQ(Narrow.PaletteIdent(), pSys16);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(Narrow.GetPixel(x, y), Narrow.NearestPaletteIndex(Wide.GetPixelColor(x, y) ^ 0xFFFFFF));
}
