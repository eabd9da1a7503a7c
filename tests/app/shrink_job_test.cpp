#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/shrink/shrink_job.h"
#include "pgraphic/optimized_palette.h"

using namespace kv;
using pg::TPixelGraphic;

namespace {

// A true-colour source with a diagonal pattern that a beat would show in.
std::unique_ptr<TPixelGraphic> Source(int Width, int Height) {
  auto G = std::make_unique<TPixelGraphic>();
  G->SetFormat(Width, Height, 3);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) G->SetPixel(x, y, pg::RGBColor((x * 37 + y * 11) % 256, (x * y) % 256, (x + 3 * y) % 256));
  return G;
}

// The plain stretch of Src's SpanW x SpanH corner into a 24-bit image.
std::unique_ptr<TPixelGraphic> PlainStretch(const TPixelGraphic& Src, int W, int H, int SpanW, int SpanH,
                                            pg::TStretchMode Mode = pg::smPrecise) {
  auto R = std::make_unique<TPixelGraphic>();
  R->SetFormat(W, H, 3);
  R->SetStretchMode(Mode);
  R->StretchRect(0, 0, W, H, 0, 0, SpanW, SpanH, Src);
  return R;
}

::testing::AssertionResult SamePixels(const TPixelGraphic& A, const TPixelGraphic& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() || A.GetBitCount() != B.GetBitCount())
    return ::testing::AssertionFailure() << "formats differ";
  for (int y = 0; y < A.GetHeight(); ++y)
    for (int x = 0; x < A.GetWidth(); ++x)
      if (A.GetPixel(x, y) != B.GetPixel(x, y))
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << A.GetPixel(x, y) << " vs "
                                             << B.GetPixel(x, y);
  return ::testing::AssertionSuccess();
}

TShrinkParams Plain(int W, int H) {
  TShrinkParams P;
  P.Width = W;
  P.Height = H;
  P.Sharpen = 0;
  return P;
}

std::vector<TShrinkStep> StepsOf(const TPixelGraphic& Src, const TShrinkParams& P, TShrinkResult* Out = nullptr) {
  std::vector<TShrinkStep> Steps;
  TShrinkObserver O;
  O.OnStep = [&](TShrinkStep S) { Steps.push_back(S); };
  TShrinkResult R = RunShrinkJob(Src, P, O);
  if (Out) *Out = std::move(R);
  return Steps;
}

}  // namespace

TEST(ShrinkJob, InterferenceDropsTheOddLastColumnAndRow) {
  const auto Src = Source(201, 101);
  const struct {
    const char* Fault;
    bool Minimize;
    int SpanW, SpanH;
  } Rows[] = {
      {"minimising keeps the odd last column and row", true, 200, 100},
      {"switched off still drops them", false, 201, 101},
  };
  for (const auto& R : Rows) {
    TShrinkParams P = Plain(100, 50);
    P.MinimizeInterference = R.Minimize;
    const TShrinkResult Result = RunShrinkJob(*Src, P);
    ASSERT_TRUE(Result.Image) << R.Fault;
    EXPECT_TRUE(SamePixels(*Result.Image, *PlainStretch(*Src, 100, 50, R.SpanW, R.SpanH))) << R.Fault;
  }
}

TEST(ShrinkJob, InterferenceSpanOnlyForTwiceThePlusOne) {
  const struct {
    const char* Fault;
    int Source, Result;
    bool Minimize;
    int Span;
  } Rows[] = {
      {"exact 2:1 changed", 200, 100, true, 200},
      {"one more than twice kept", 201, 100, true, 200},
      {"applied when off", 201, 100, false, 201},
      {"a one-pixel source emptied", 1, 0, true, 1},
      {"applied to other ratios", 203, 100, true, 203},
  };
  for (const auto& R : Rows) EXPECT_EQ(InterferenceSpan(R.Source, R.Result, R.Minimize), R.Span) << R.Fault;
}

TEST(ShrinkJob, MemoryEstimate) {
  EXPECT_EQ(ShrinkMemoryEstimate(2000, 2000, 1000, 1000), 15000000);
  EXPECT_NEAR(static_cast<double>(ShrinkMemoryMegabytes(15000000)), 14.3, 1e-9);
  // Enlarging: two result images outweigh the source and one result.
  EXPECT_EQ(ShrinkMemoryEstimate(10, 10, 100, 100), 60000);
  EXPECT_EQ(ShrinkMemoryEstimate(0, 0, 0, 0), 0);
  EXPECT_NE(ShrinkMemoryWarningText(15000000, false).find(" 14.3 MB. "), std::string::npos);
  EXPECT_NE(ShrinkMemoryWarningText(15000000, true).find("liegt bei 14.3 MB. "), std::string::npos);
}

TEST(ShrinkJob, NoSharpenNoBorderTrueColourIsThePlainStretch) {
  const auto Src = Source(37, 23);
  for (const pg::TStretchMode Mode : {pg::smFast, pg::smMedium, pg::smPrecise}) {
    TShrinkParams P = Plain(15, 9);
    P.StretchMode = Mode;
    P.DoBorder = true;
    P.BorderWidth = 0;  // a border of no width is no border step
    TShrinkResult Result;
    EXPECT_EQ(StepsOf(*Src, P, &Result), std::vector<TShrinkStep>{TShrinkStep::Stretch});
    ASSERT_TRUE(Result.Image);
    EXPECT_TRUE(SamePixels(*Result.Image, *PlainStretch(*Src, 15, 9, 37, 23, Mode))) << Mode;
    EXPECT_FALSE(Result.Image->GetOnProgress()) << "the result keeps the job's progress handler";
  }
}

TEST(ShrinkJob, StepsFollowTheParameters) {
  const auto Src = Source(20, 20);
  using S = TShrinkStep;
  const struct {
    const char* Fault;
    int Selection, Sharpen;
    bool Border;
    std::vector<S> Steps;
    int BitCount;
  } Rows[] = {
      {"true colour gets a palette step", 19, 50, false, {S::Stretch, S::Sharpen}, 24},
      {"border skipped", 19, 0, true, {S::Stretch, S::Border}, 24},
      {"standard palette not mapped", 14, 0, false, {S::Stretch, S::Mapping}, 8},
      {"optimized palette not built", 10, 0, false, {S::Stretch, S::OptimizedPalette, S::Mapping}, 4},
      {"all steps out of order", 3, 30, true, {S::Stretch, S::Sharpen, S::Border, S::OptimizedPalette, S::Mapping}, 1},
  };
  for (const auto& R : Rows) {
    TShrinkParams P = Plain(10, 10);
    P.Selection = R.Selection;
    P.Sharpen = R.Sharpen;
    P.DoBorder = R.Border;
    P.BorderWidth = 3;
    P.OptimizedPaletteSize = R.Selection == 3 ? 2 : 16;
    TShrinkResult Result;
    EXPECT_EQ(StepsOf(*Src, P, &Result), R.Steps) << R.Fault;
    ASSERT_TRUE(Result.Image) << R.Fault;
    EXPECT_EQ(Result.Image->GetBitCount(), R.BitCount) << R.Fault;
  }
}

TEST(ShrinkJob, StandardRowMapsIntoItsPalette) {
  const auto Src = Source(20, 20);
  TShrinkParams P = Plain(10, 10);
  P.Selection = 14;
  const TShrinkResult Result = RunShrinkJob(*Src, P);
  ASSERT_TRUE(Result.Image);
  EXPECT_EQ(Result.Image->PaletteIdent(), pg::pSpecial216);
  EXPECT_EQ(Result.Image->PaletteCount(), 216);
}

TEST(ShrinkJob, IncludeSystemColoursIgnoredAtSixteen) {
  const auto Src = Source(20, 20);
  TShrinkParams P = Plain(10, 10);
  P.Selection = 10;
  P.OptimizedPaletteSize = 16;
  P.OptimizedPaletteIncludeSys = true;
  const TShrinkResult Result = RunShrinkJob(*Src, P);
  ASSERT_TRUE(Result.Image);

  TPixelGraphic Expected;
  Expected.SetFormat(10, 10, 1);
  pg::CreateOptimizedPalette(Expected, *PlainStretch(*Src, 10, 10, 20, 20), 16, false);
  ASSERT_EQ(Result.Image->PaletteCount(), Expected.PaletteCount());
  for (int i = 0; i < Expected.PaletteCount(); ++i)
    EXPECT_EQ(Result.Image->GetPaletteEntry(i), Expected.GetPaletteEntry(i)) << i;
}

TEST(ShrinkJob, SourceAndIndividualPalettes) {
  TPixelGraphic Src;
  Src.SetFormat(8, 8, 1);
  Src.SetPaletteCount(4);
  const pg::TRGB Colors[] = {0x000000, 0x0000FF, 0x00FF00, 0xFFFFFF};
  for (int i = 0; i < 4; ++i) Src.SetPaletteEntry(i, Colors[i]);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) Src.SetPixel(x, y, (x / 2 + y) % 4);

  TShrinkParams P = Plain(4, 4);
  P.Selection = 8;  // source, 4 bits
  const TShrinkResult FromSource = RunShrinkJob(Src, P);
  ASSERT_TRUE(FromSource.Image);
  ASSERT_EQ(FromSource.Image->PaletteCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(FromSource.Image->GetPaletteEntry(i), Colors[i]);

  P.Selection = 0 + 2;  // individual, 1 bit
  P.IndividualPalette = {0x123456, 0xABCDEF};
  const TShrinkResult FromIndividual = RunShrinkJob(Src, P);
  ASSERT_TRUE(FromIndividual.Image);
  ASSERT_EQ(FromIndividual.Image->PaletteCount(), 2);
  EXPECT_EQ(FromIndividual.Image->GetPaletteEntry(1), 0xABCDEFu);

  // A palette the depth cannot hold is refused rather than cut short.
  P.Selection = 2;
  P.IndividualPalette.assign(5, 0);
  EXPECT_THROW(RunShrinkJob(Src, P), std::invalid_argument);
  P.Selection = 16;
  EXPECT_THROW(RunShrinkJob(*Source(4, 4), P), std::invalid_argument) << "a true-colour source has no palette";
}

TEST(ShrinkJob, AbortEndsTheRunAfterTheCurrentRow) {
  const auto Src = Source(40, 40);
  using S = TShrinkStep;
  const struct {
    const char* Fault;
    S AbortIn;
    std::vector<S> Steps;
  } Rows[] = {
      {"stretch abort runs the later steps", S::Stretch, {S::Stretch}},
      {"sharpen abort runs the later steps", S::Sharpen, {S::Stretch, S::Sharpen}},
      {"mapping abort still hands out a result", S::Mapping, {S::Stretch, S::Sharpen, S::Mapping}},
  };
  for (const auto& R : Rows) {
    TShrinkParams P = Plain(20, 20);
    P.Sharpen = 50;
    P.Selection = 14;
    std::vector<S> Steps;
    int RowsAfterAbort = -1;
    TShrinkObserver O;
    O.OnStep = [&](S Step) { Steps.push_back(Step); };
    O.OnProgress = [&](pg::TObject*, int, int, bool& Abort) {
      if (RowsAfterAbort >= 0) ++RowsAfterAbort;
      if (Steps.back() == R.AbortIn && RowsAfterAbort < 0) {
        Abort = true;
        RowsAfterAbort = 0;
      }
    };
    const TShrinkResult Result = RunShrinkJob(*Src, P, O);
    EXPECT_TRUE(Result.Aborted) << R.Fault;
    EXPECT_FALSE(Result.Image) << R.Fault;
    EXPECT_EQ(Steps, R.Steps) << R.Fault;
    EXPECT_EQ(RowsAfterAbort, 0) << R.Fault << ": rows went on after the abort";
  }
}

TEST(ShrinkJob, EmptySourceGivesNothing) {
  TPixelGraphic Empty;
  const TShrinkResult Result = RunShrinkJob(Empty, Plain(10, 10));
  EXPECT_FALSE(Result.Image);
  EXPECT_FALSE(Result.Aborted);
}

TEST(ShrinkJob, StepNames) {
  const struct {
    TShrinkStep Step;
    const char* German;
    const char* English;
  } Rows[] = {
      {TShrinkStep::Stretch, "Strecken/schrumpfen", "Stretching"},
      {TShrinkStep::Sharpen, "Schärfen", "Sharpening"},
      {TShrinkStep::Border, "Rand bearbeiten", "Border"},
      {TShrinkStep::OptimizedPalette, "Optimale Palette bestimmen", "Create optimized palette"},
      {TShrinkStep::Mapping, "Auf Palette abbilden", "Map to palette"},
  };
  for (const auto& R : Rows) {
    EXPECT_EQ(std::string(ShrinkStepName(R.Step, true)), R.German);
    EXPECT_EQ(std::string(ShrinkStepName(R.Step, false)), R.English);
  }
}
