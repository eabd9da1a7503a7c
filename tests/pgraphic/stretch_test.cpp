#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pgraphic/clamp_table.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/pixel_graphic.h"
#include "tests/pgraphic/stretch_reference.h"

using namespace pg;

namespace {

constexpr TRGB Grey(int v) { return RGBColor(v, v, v); }

const char* ModeName(TStretchMode M) { return M == smFast ? "smFast" : M == smMedium ? "smMedium" : "smPrecise"; }

// Raw values of every pixel, row by row.
std::vector<int> RawPixels(const TPixelGraphic& G) {
  std::vector<int> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) V.push_back(G.GetPixel(x, y));
  return V;
}

// "first mismatch at (x, y): engine a, reference b; n of m differ", or empty.
std::string Difference(const TPixelGraphic& Engine, const TPixelGraphic& Reference) {
  int Count = 0, FirstX = -1, FirstY = -1;
  for (int y = 0; y < Engine.GetHeight(); ++y)
    for (int x = 0; x < Engine.GetWidth(); ++x)
      if (Engine.GetPixel(x, y) != Reference.GetPixel(x, y) && Count++ == 0) FirstX = x, FirstY = y;
  if (Count == 0) return "";
  std::ostringstream S;
  S << "first mismatch at (" << FirstX << ", " << FirstY << "): engine 0x" << std::hex
    << Engine.GetPixel(FirstX, FirstY) << ", reference 0x" << Reference.GetPixel(FirstX, FirstY) << std::dec << "; "
    << Count << " of " << Engine.GetWidth() * Engine.GetHeight() << " pixels differ";
  return S.str();
}

// --- randomized comparison with the reference ----------------------------------------

enum class TOp { Stretch, Copy, From };

struct TAxisCase {
  int SrcSize, Src0, SrcExtent, DestSize, Dest0, DestExtent;
};

struct TRandomCase {
  int Index = 0;
  int SrcNum = 3, DstNum = 3;
  ref::TPaletteChoice SrcPal, DstPal;
  TAxisCase H{}, V{};
  TOp Op = TOp::Stretch;
  TStretchMode Mode = smPrecise;
  bool Dither = true, Auto = true, Soft = true, Weighting = true, Cache = true;
  int Limit = 32;
  int AbortStep = -1;
  unsigned Seed = 0;  // for the pixels and palettes of both images

  std::string Describe() const {
    std::ostringstream S;
    S << "case " << Index << ": source " << H.SrcSize << "x" << V.SrcSize << " " << NumToBitCount(SrcNum) << "-bit "
      << SrcPal.Name() << " -> destination " << H.DestSize << "x" << V.DestSize << " " << NumToBitCount(DstNum)
      << "-bit " << DstPal.Name() << "; ";
    if (Op == TOp::From) S << "StretchFrom";
    else if (Op == TOp::Copy)
      S << "CopyRect(" << H.Dest0 << ", " << V.Dest0 << ", " << H.DestExtent << ", " << V.DestExtent << ", " << H.Src0
        << ", " << V.Src0 << ")";
    else
      S << "StretchRect(" << H.Dest0 << ", " << V.Dest0 << ", " << H.DestExtent << ", " << V.DestExtent << ", "
        << H.Src0 << ", " << V.Src0 << ", " << H.SrcExtent << ", " << V.SrcExtent << ")";
    S << " " << ModeName(Mode) << (Dither ? " dither" : " no dither");
    if (Dither) S << (Auto ? " auto limit" : " limit " + std::to_string(Limit) + (Soft ? " soft" : " hard"));
    S << (Weighting ? " weighted" : " unweighted") << (Cache ? "" : " no colour cache");
    if (AbortStep >= 0) S << " abort at step " << AbortStep;
    S << " seed " << Seed;
    return S.str();
  }
};

int Pick(std::mt19937& Rng, int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(Rng); }

// One axis: image sizes, rectangles that shrink, enlarge, keep the size or shrink to a
// single pixel, and origins inside, before the start or past the end of the images.
TAxisCase PickAxis(std::mt19937& Rng) {
  TAxisCase A{};
  A.SrcSize = Pick(Rng, 0, 3) == 0 ? Pick(Rng, 1, 3) : Pick(Rng, 1, 40);
  A.SrcExtent = Pick(Rng, 0, 9) < 6 ? A.SrcSize : Pick(Rng, 1, A.SrcSize + 4);
  switch (Pick(Rng, 0, 4)) {
    case 0: A.DestExtent = A.SrcExtent; break;
    case 1: A.DestExtent = Pick(Rng, 1, std::max(1, A.SrcExtent - 1)); break;
    case 2: A.DestExtent = Pick(Rng, A.SrcExtent + 1, std::min(3 * A.SrcExtent + 2, 60)); break;
    case 3: A.DestExtent = 1; break;
    default: A.DestExtent = Pick(Rng, 1, 40); break;
  }
  switch (Pick(Rng, 0, 9)) {
    case 0: case 1: A.Src0 = -Pick(Rng, 1, A.SrcExtent); break;
    case 2: case 3: A.Src0 = A.SrcSize - A.SrcExtent + Pick(Rng, 1, 3); break;
    case 4: A.Src0 = Pick(Rng, -3, A.SrcSize); break;
    default: A.Src0 = A.SrcSize >= A.SrcExtent ? Pick(Rng, 0, A.SrcSize - A.SrcExtent) : 0; break;
  }
  A.DestSize = Pick(Rng, 0, 1) == 0 ? A.DestExtent : Pick(Rng, 1, 40);
  switch (Pick(Rng, 0, 9)) {
    case 0: case 1: A.Dest0 = -Pick(Rng, 1, A.DestExtent); break;
    case 2: case 3: A.Dest0 = A.DestSize - Pick(Rng, 1, A.DestExtent); break;
    case 4: A.Dest0 = Pick(Rng, -3, A.DestSize); break;
    default: A.Dest0 = A.DestSize >= A.DestExtent ? Pick(Rng, 0, A.DestSize - A.DestExtent) : 0; break;
  }
  return A;
}

TRandomCase PickCase(std::mt19937& Rng, int Index) {
  TRandomCase C;
  C.Index = Index;
  C.SrcNum = Index % 4;  // every depth pair in turn
  C.DstNum = (Index / 4) % 4;
  const auto SrcChoices = ref::PaletteChoices(C.SrcNum), DstChoices = ref::PaletteChoices(C.DstNum);
  C.SrcPal = SrcChoices[static_cast<std::size_t>(Pick(Rng, 0, static_cast<int>(SrcChoices.size()) - 1))];
  C.DstPal = DstChoices[static_cast<std::size_t>(Pick(Rng, 0, static_cast<int>(DstChoices.size()) - 1))];
  C.H = PickAxis(Rng);
  C.V = PickAxis(Rng);
  const int Op = Pick(Rng, 0, 99);
  C.Op = Op < 80 ? TOp::Stretch : Op < 92 ? TOp::Copy : TOp::From;
  C.Mode = static_cast<TStretchMode>(Pick(Rng, 0, 2));
  C.Dither = Pick(Rng, 0, 3) != 0;
  C.Auto = Pick(Rng, 0, 1) == 0;
  static const int Limits[] = {0, 1, 2, 3, 4, 31, 32, 33, 86, 104, 128, 200, 254, 255};
  C.Limit = Pick(Rng, 0, 4) == 0 ? Pick(Rng, 0, 255) : Limits[Pick(Rng, 0, std::size(Limits) - 1)];
  C.Soft = Pick(Rng, 0, 1) == 0;
  C.Weighting = Pick(Rng, 0, 3) != 0;
  C.Cache = Pick(Rng, 0, 3) != 0;
  C.AbortStep = Pick(Rng, 0, 9) == 0 ? Pick(Rng, 0, 5) : -1;
  C.Seed = static_cast<unsigned>(Rng());
  return C;
}

void MakeSource(const TRandomCase& C, TPixelGraphic& G) {
  std::mt19937 Rng(C.Seed);
  G.SetFormat(C.H.SrcSize, C.V.SrcSize, C.SrcNum);
  ref::ApplyPalette(G, C.SrcPal, Rng);
  ref::FillRandom(G, Rng);
}

// The same destination every time: palette, options and a random prefill that must
// survive wherever nothing is written.
void MakeDestination(const TRandomCase& C, TPixelGraphic& G) {
  std::mt19937 Rng(C.Seed ^ 0x5bd1e995u);
  G.SetFormat(C.H.DestSize, C.V.DestSize, C.DstNum);
  ref::ApplyPalette(G, C.DstPal, Rng);
  const int Mask = C.DstNum == 0 ? 1 : C.DstNum == 1 ? 15 : C.DstNum == 2 ? 255 : 0xFFFFFF;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) G.SetPixel(x, y, static_cast<int>(Rng()) & Mask);
  G.SetStretchMode(C.Mode);
  G.SetDither(C.Dither);
  G.SetDitherErrorLimitAuto(C.Auto);
  G.SetDitherErrorLimit(static_cast<std::uint8_t>(C.Limit));
  G.SetDitherErrorLimitSoft(C.Soft);
  G.SetRGBWeighting(C.Weighting);
  G.SetColorCache(C.Cache);
}

// Runs the case through the engine and the reference; empty when they agree.
std::string RunCase(const TRandomCase& C) {
  TPixelGraphic Source, Engine, Reference;
  MakeSource(C, Source);
  MakeDestination(C, Engine);
  MakeDestination(C, Reference);
  const ref::TAbortRule Abort = [&C](int Step, int) { return Step == C.AbortStep; };

  std::string EngineEvents, ReferenceEvents;
  ref::RecordEvents(Engine, EngineEvents, Abort);
  const TAxisCase &H = C.H, &V = C.V;
  try {
    switch (C.Op) {
      case TOp::Stretch:
        Engine.StretchRect(H.Dest0, V.Dest0, H.DestExtent, V.DestExtent, H.Src0, V.Src0, H.SrcExtent, V.SrcExtent, Source);
        break;
      case TOp::Copy: Engine.CopyRect(H.Dest0, V.Dest0, H.DestExtent, V.DestExtent, H.Src0, V.Src0, Source); break;
      case TOp::From: Engine.StretchFrom(Source); break;
    }
  } catch (const std::exception& E) {
    return std::string("engine threw: ") + E.what();
  }
  try {
    switch (C.Op) {
      case TOp::Stretch:
        ReferenceEvents = ref::StretchRect(Reference, H.Dest0, V.Dest0, H.DestExtent, V.DestExtent, H.Src0, V.Src0,
                                           H.SrcExtent, V.SrcExtent, Source, Abort);
        break;
      case TOp::Copy:
        ReferenceEvents = ref::CopyRect(Reference, H.Dest0, V.Dest0, H.DestExtent, V.DestExtent, H.Src0, V.Src0, Source, Abort);
        break;
      case TOp::From:
        ReferenceEvents = ref::StretchRect(Reference, 0, 0, Reference.GetWidth(), Reference.GetHeight(), 0, 0,
                                           Source.GetWidth(), Source.GetHeight(), Source, Abort);
        break;
    }
  } catch (const std::exception& E) {
    return std::string("reference threw: ") + E.what();
  }
  std::string Result = Difference(Engine, Reference);
  if (EngineEvents != ReferenceEvents)
    Result += (Result.empty() ? "" : "; ") + std::string("events \"") + EngineEvents + "\", reference \"" + ReferenceEvents + "\"";
  if (Engine.Dithering()) Result += (Result.empty() ? "" : "; ") + std::string("dither buffers left allocated");
  return Result;
}

}  // namespace

TEST(Stretch, MatchesReferenceOnRandomCases) {
  constexpr int Cases = 640;
  constexpr int MaxReported = 12;
  std::mt19937 Rng(20240611);
  int Failed = 0;
  for (int i = 0; i < Cases; ++i) {
    const TRandomCase C = PickCase(Rng, i);
    const std::string Diff = RunCase(C);
    if (Diff.empty()) continue;
    if (++Failed <= MaxReported) ADD_FAILURE() << C.Describe() << "\n  " << Diff;
  }
  EXPECT_EQ(Failed, 0) << "of " << Cases << " random cases";
}

// --- progress protocol ----------------------------------------------------------------

TEST(Stretch, ProgressProtocol) {
  struct Case {
    const char* Name;
    int SrcW, SrcH, SrcNum, DstW, DstH, DstNum;
    bool Copy;  // CopyRect (SrcW, SrcH unused as extents) instead of StretchRect
    int DX, DY, DW, DH, SX, SY, SW, SH;
    int AbortStep;
    const char* Events;
    std::vector<int> UntouchedRows;
  };
  const Case Cases[] = {
      {"start once and one report per row", 8, 8, 3, 4, 4, 3, false, 0, 0, 4, 4, 0, 0, 8, 8, -1,
       "S P0/3 P1/3 P2/3 P3/3 E C", {}},
      {"steps count from the first clipped row", 3, 3, 3, 4, 4, 1, false, 0, -2, 4, 6, 0, 0, 3, 3, -1,
       "S P0/3 P1/3 P2/3 P3/3 E C", {}},
      {"rows past the bottom are not counted", 3, 3, 3, 4, 4, 3, false, 0, 1, 4, 10, 0, 0, 3, 3, -1,
       "S P0/2 P1/2 P2/2 E C", {0}},
      {"abort keeps the finished rows and still ends", 6, 6, 3, 4, 4, 2, false, 0, 0, 4, 4, 0, 0, 6, 6, 1,
       "S P0/3 P1/3 E C", {2, 3}},
      {"rows whose span leaves the source report nothing", 4, 4, 3, 2, 2, 3, false, 0, 0, 2, 2, 0, 2, 2, 4, -1,
       "S P0/1 E C", {1}},
      {"rectangle beside the image still reports its rows", 4, 4, 3, 2, 2, 3, false, 5, 0, 3, 2, 0, 0, 4, 4, -1,
       "S P0/1 P1/1 E C", {0, 1}},
      {"rectangle below the image only starts and ends", 4, 4, 3, 2, 2, 3, false, 0, 7, 3, 3, 0, 0, 4, 4, -1,
       "S E C", {0, 1}},
      {"empty source does nothing", 0, 0, 3, 2, 2, 3, false, 0, 0, 2, 2, 0, 0, 1, 1, -1, "", {0, 1}},
      {"24-bit copy of one row reports no rows", 5, 1, 3, 5, 1, 3, true, 0, 0, 5, 1, 0, 0, 0, 0, -1, "S E C", {}},
      {"copy into a palette reports each row", 5, 3, 3, 5, 3, 1, true, 0, 0, 5, 3, 0, 0, 0, 0, -1,
       "S P0/2 P1/2 P2/2 E C", {}},
      {"equal sizes copy and report each row", 5, 3, 2, 5, 3, 3, false, 0, 0, 5, 3, 0, 0, 5, 3, -1,
       "S P0/2 P1/2 P2/2 E C", {}},
      {"copy rows outside the source are skipped silently", 5, 3, 3, 5, 3, 0, true, 0, 0, 5, 3, 0, -1, 0, 0, -1,
       "S P1/2 P2/2 E C", {0}},
      {"abort stops a copy after the row", 5, 3, 1, 5, 3, 3, true, 0, 0, 5, 3, 0, 0, 0, 0, 0, "S P0/2 E C", {1, 2}},
      {"copy without a common column only signals the change", 5, 3, 3, 5, 3, 3, true, 0, 0, 5, 3, 5, 0, 0, 0, -1,
       "C", {0, 1, 2}},
      {"empty destination does nothing", 4, 4, 3, 0, 0, 3, false, 0, 0, 2, 2, 0, 0, 4, 4, -1, "", {}},
      {"copy from an empty source does nothing", 0, 0, 3, 5, 3, 1, true, 0, 0, 5, 3, 0, 0, 0, 0, -1, "", {0, 1, 2}},
      {"equal empty rectangles only signal the change", 4, 4, 3, 5, 3, 1, false, 0, 0, 0, 0, 0, 0, 0, 0, -1, "C",
       {0, 1, 2}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::mt19937 Rng(7);
    TPixelGraphic Source, Engine, Reference;
    Source.SetFormat(C.SrcW, C.SrcH, C.SrcNum);
    ref::ApplyPalette(Source, ref::PaletteChoices(C.SrcNum).back(), Rng);
    ref::FillRandom(Source, Rng);
    for (TPixelGraphic* D : {&Engine, &Reference}) {
      D->SetFormat(C.DstW, C.DstH, C.DstNum);
      if (C.DstNum < 3) D->SetPaletteIdent(C.DstNum == 0 ? pBlackWhite : C.DstNum == 1 ? pSys16 : pSpecial216);
      for (int y = 0; y < C.DstH; ++y)
        for (int x = 0; x < C.DstW; ++x) D->SetPixel(x, y, C.DstNum == 3 ? 0x123456 : 1);
    }
    const ref::TAbortRule Abort = [&C](int Step, int) { return Step == C.AbortStep; };
    std::string Events, Expected;
    ref::RecordEvents(Engine, Events, Abort);
    if (C.Copy) {
      Engine.CopyRect(C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, Source);
      Expected = ref::CopyRect(Reference, C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, Source, Abort);
    } else {
      Engine.StretchRect(C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source);
      Expected = ref::StretchRect(Reference, C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source, Abort);
    }
    EXPECT_EQ(Events, C.Events);
    EXPECT_EQ(Expected, C.Events) << "reference";
    EXPECT_EQ(Difference(Engine, Reference), "");
    for (const int y : C.UntouchedRows)
      for (int x = 0; x < C.DstW; ++x)
        EXPECT_EQ(Engine.GetPixel(x, y), C.DstNum == 3 ? 0x123456 : 1) << "row " << y << " column " << x;
  }
}

// Empty or negative rectangles are no special case: an empty destination extent has no
// columns (or rows) but the other axis still runs and reports, and an empty source
// extent samples the column at its origin where the method needs no division by it.
TEST(Stretch, DegenerateRectanglesMatchReference) {
  struct Case {
    const char* Name;
    int DX, DY, DW, DH, SX, SY, SW, SH;
    TStretchMode Mode;
    const char* Events;
  };
  const Case Cases[] = {
      {"zero destination width still reports its rows", 0, 0, 0, 2, 0, 0, 3, 2, smPrecise, "S P0/1 P1/1 E C"},
      {"negative destination width still reports its rows", 0, 0, -2, 2, 0, 0, 3, 2, smMedium, "S P0/1 P1/1 E C"},
      {"zero destination height only starts and ends", 0, 0, 2, 0, 0, 0, 3, 2, smPrecise, "S E C"},
  };
  std::mt19937 Rng(13);
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPixelGraphic Source, Engine, Reference;
    Source.SetFormat(3, 2, 3);
    ref::FillRandom(Source, Rng);
    for (TPixelGraphic* G : {&Engine, &Reference}) {
      G->SetFormat(3, 2, 3);
      G->SetFillValue(0x0A0B0C);
      G->Clear();
      G->SetStretchMode(C.Mode);
    }
    std::string Events;
    ref::RecordEvents(Engine, Events);
    Engine.StretchRect(C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source);
    EXPECT_EQ(ref::StretchRect(Reference, C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source), C.Events)
        << "reference";
    EXPECT_EQ(Events, C.Events);
    EXPECT_EQ(Difference(Engine, Reference), "");
  }
}

// A source rectangle without width or height has nothing to resample: taken
// literally its spans would read outside it, or divide by its zero width. It writes
// nothing and fires nothing, in every mode.
TEST(Stretch, EmptySourceRectangleProducesNothing) {
  for (TStretchMode Mode : {smFast, smMedium, smPrecise}) {
    for (auto [SW, SH] : {std::pair{0, 1}, {1, 0}, {-2, 1}, {2, -1}}) {
      TPixelGraphic Source, Dest;
      Source.SetFormat(3, 2, 3);
      Source.SetFillValue(0x010203);
      Source.Clear();
      Dest.SetFormat(3, 2, 3);
      Dest.SetStretchMode(Mode);
      std::string Events;
      ref::RecordEvents(Dest, Events);
      Dest.StretchRect(0, 0, 3, 1, 1, 0, SW, SH, Source);
      EXPECT_EQ(Events, "") << "mode " << Mode << " source " << SW << "x" << SH;
      EXPECT_EQ(Dest.GetPixel(0, 0), 0);
    }
  }
}

// A palette-depth image made from a new one keeps the true-colour identity and no
// entries: its "palette entry" k is k itself, as GetPaletteEntry says.
TEST(Stretch, PaletteDepthWithTrueColorIdentityMatchesReference) {
  std::mt19937 Rng(21);
  TPixelGraphic Source, Engine, Reference;
  Source.SetFormat(7, 5, 3);
  ref::FillRandom(Source, Rng);
  for (TPixelGraphic* G : {&Engine, &Reference}) {
    G->SetFormat(4, 3, 2);
    ASSERT_EQ(G->PaletteIdent(), pTrueColor);
  }
  Engine.StretchFrom(Source);
  ref::StretchRect(Reference, 0, 0, 4, 3, 0, 0, 7, 5, Source);
  EXPECT_EQ(Difference(Engine, Reference), "");
}

// Every standard palette, with and without RGB weighting and dithering, on colours from
// all over the cube and the grey axis.
TEST(Stretch, EveryStandardPaletteMatchesReference) {
  struct Case { TPaletteIdent Ident; int Num; };
  const Case Cases[] = {{pBlackWhite, 0}, {pSysGray4, 1}, {pSys16, 1},      {pGray4, 1},      {pGray16, 1},
                        {pGray236, 2},    {pGray256, 2},  {pSpecial125, 2}, {pSpecial216, 2}, {pSpecial252, 2}};
  std::mt19937 Rng(17);
  TPixelGraphic Source;
  Source.SetFormat(64, 24, 3);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 64; ++x) {
      const int v = Pick(Rng, 0, 255);
      Source.SetPixel(x, y, y % 3 == 0 ? Grey(v) : RGBColor(v, Pick(Rng, 0, 255), Pick(Rng, 0, 255)));
    }
  for (const Case& C : Cases)
    for (const bool Weighting : {false, true})
      for (const bool Dither : {false, true}) {
        const ref::TPaletteChoice Choice{ref::TPaletteKind::Standard, C.Ident};
        SCOPED_TRACE(Choice.Name() + (Weighting ? " weighted" : " unweighted") + (Dither ? " dithered" : ""));
        TPixelGraphic Engine, Reference;
        for (TPixelGraphic* G : {&Engine, &Reference}) {
          G->SetFormat(64, 24, C.Num);
          G->SetPaletteIdent(C.Ident);
          G->SetRGBWeighting(Weighting);
          G->SetDither(Dither);
        }
        ASSERT_EQ(Engine.PaletteIdent(), C.Ident);
        Engine.CopyRect(0, 0, 64, 24, 0, 0, Source);
        ref::CopyRect(Reference, 0, 0, 64, 24, 0, 0, Source);
        EXPECT_EQ(Difference(Engine, Reference), "");
      }
}

// A conversion that fails half-way must not leave the error rows behind.
TEST(Stretch, ErrorsFreeTheDitherBuffers) {
  struct Case { const char* Name; bool Copy; bool EmptyPalette; };
  const Case Cases[] = {
      {"stretch into a palette image without entries", false, true},
      {"copy into a palette image without entries", true, true},
      {"stretch from a source index beyond its palette", false, false},
      {"copy from a source index beyond its palette", true, false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPixelGraphic Source, Dest;
    Source.SetFormat(4, 4, 2);
    Source.SetPaletteCount(2);
    if (!C.EmptyPalette) Source.SetPixel(2, 2, 7);
    Dest.SetFormat(4, 4, 2);
    Dest.SetPaletteIdent(C.EmptyPalette ? pNone : pSpecial216);
    try {
      if (C.Copy) Dest.CopyRect(0, 0, 4, 4, 0, 0, Source);
      else Dest.StretchRect(0, 0, 3, 3, 0, 0, 4, 4, Source);
      EXPECT_FALSE(C.EmptyPalette) << "no error";
    } catch (const EPixelGraphic&) {
    }
    EXPECT_FALSE(Dest.Dithering());
  }
}

// Products of coordinates and extents (k * S, S * (2k + 1)) leave 32 bits long before
// the images get large.
TEST(Stretch, LargeExtentsMatchReference) {
  struct Case {
    const char* Name;
    int SrcW, SrcH, DstW, DstH;
    int DX, DY, DW, DH, SX, SY, SW, SH;
    TStretchMode Mode;
  };
  const Case Cases[] = {
      {"interpolating shrink of a wide row", 50000, 1, 40000, 1, 0, 0, 40000, 1, 0, 0, 50000, 1, smMedium},
      {"area shrink of a wide row", 50000, 1, 40000, 1, 0, 0, 40000, 1, 0, 0, 50000, 1, smPrecise},
      {"interpolating enlargement of a wide row", 40000, 1, 50000, 1, 0, 0, 50000, 1, 0, 0, 40000, 1, smPrecise},
      {"area enlargement of a wide row", 40000, 1, 50000, 1, 0, 0, 50000, 1, 0, 0, 40000, 1, smMedium},
      {"nearest shrink of a wide row", 60000, 1, 50000, 1, 0, 0, 50000, 1, 0, 0, 60000, 1, smFast},
      {"interpolating shrink of a tall column", 1, 50000, 1, 40000, 0, 0, 1, 40000, 0, 0, 1, 50000, smMedium},
      {"area shrink of a tall column", 1, 50000, 1, 40000, 0, 0, 1, 40000, 0, 0, 1, 50000, smPrecise},
      {"huge destination rectangle, interpolating", 5, 5, 8, 8, -1999999992, 0, 2000000000, 8, 0, 0, 5, 5, smPrecise},
      {"huge destination rectangle, area", 5, 5, 8, 8, -1999999992, 0, 2000000000, 8, 0, 0, 5, 5, smMedium},
      {"huge destination rectangle, nearest", 5, 5, 8, 8, -1999999992, 0, 2000000000, 8, 0, 0, 5, 5, smFast},
      {"huge destination rectangle between two source pixels", 5, 5, 8, 8, -799999996, -799999996, 2000000000,
       2000000000, 0, 0, 5, 5, smPrecise},
      {"huge source rectangle, interpolating", 5, 5, 8, 1, 0, 0, 8, 1, -1124999998, 0, 2000000000, 5, smMedium},
      {"huge source rectangle, nearest", 5, 5, 8, 1, 0, 0, 8, 1, -999999998, 0, 2000000000, 5, smFast},
  };
  std::mt19937 Rng(11);
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPixelGraphic Source, Engine, Reference, Untouched;
    Source.SetFormat(C.SrcW, C.SrcH, 3);
    ref::FillRandom(Source, Rng);
    for (TPixelGraphic* G : {&Engine, &Reference, &Untouched}) {
      G->SetFormat(C.DstW, C.DstH, 3);
      G->SetFillValue(0x0A0B0C);
      G->Clear();
      G->SetStretchMode(C.Mode);
    }
    std::string Events;
    ref::RecordEvents(Engine, Events);
    Engine.StretchRect(C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source);
    const std::string Expected = ref::StretchRect(Reference, C.DX, C.DY, C.DW, C.DH, C.SX, C.SY, C.SW, C.SH, Source);
    EXPECT_EQ(Difference(Engine, Reference), "");
    EXPECT_EQ(Events, Expected);
    EXPECT_NE(Difference(Reference, Untouched), "")
        << "the case writes nothing";
  }
}

// --- fixed cases ----------------------------------------------------------------------

namespace {

constexpr int Keep = -1;  // the pixel keeps the prefill
int Prefill(int Num) { return Num == 3 ? 0x0A0B0C : Num == 0 ? 1 : 3; }

}  // namespace

TEST(Stretch, FixedCases) {
  struct Case {
    const char* Name;
    int SrcW, SrcH, SrcNum;
    std::vector<int> Src;  // raw values, row by row
    int DstW, DstH, DstNum;
    TPaletteIdent DstPal;
    TStretchMode Mode;
    bool Dither;
    int Limit;  // -1: automatic
    bool Weighting;
    int DX, DY, DW, DH, SX, SY, SW, SH;
    std::vector<int> Expected;
  };
  const TRGB P = RGBColor(10, 200, 30);
  const std::vector<int> Five(25, P);
  const TRGB A = RGBColor(1, 2, 3), B = RGBColor(40, 50, 60), C = RGBColor(70, 80, 90), D = RGBColor(200, 210, 220);
  const Case Cases[] = {
      {"fast enlarges 1x1 to five copies per row", 1, 1, 3, {P}, 5, 5, 3, pTrueColor, smFast, false, -1, true,
       0, 0, 5, 5, 0, 0, 1, 1, Five},
      {"medium enlarges 1x1 to five copies per row", 1, 1, 3, {P}, 5, 5, 3, pTrueColor, smMedium, false, -1, true,
       0, 0, 5, 5, 0, 0, 1, 1, Five},
      {"precise enlarges 1x1 to five copies per row", 1, 1, 3, {P}, 5, 5, 3, pTrueColor, smPrecise, false, -1, true,
       0, 0, 5, 5, 0, 0, 1, 1, Five},
      {"precise shrink 3 to 2 weighs 2,1 and 1,2", 3, 1, 3, {Grey(0), Grey(30), Grey(90)}, 2, 1, 3, pTrueColor,
       smPrecise, false, -1, true, 0, 0, 2, 1, 0, 0, 3, 1, {Grey(10), Grey(70)}},
      {"precise shrink 3 to 2 down a column", 1, 3, 3, {Grey(0), Grey(30), Grey(90)}, 1, 2, 3, pTrueColor,
       smPrecise, false, -1, true, 0, 0, 1, 2, 0, 0, 1, 3, {Grey(10), Grey(70)}},
      {"medium shrink 3 to 2 weighs 3,1 and 1,3 per channel", 3, 1, 3,
       {RGBColor(0, 100, 8), RGBColor(40, 40, 8), RGBColor(100, 0, 8)}, 2, 1, 3, pTrueColor, smMedium, false, -1, true,
       0, 0, 2, 1, 0, 0, 3, 1, {RGBColor(10, 85, 8), RGBColor(85, 10, 8)}},
      {"precise enlarge 2 to 4 interpolates and clamps the last span", 2, 1, 3, {Grey(0), Grey(100)}, 4, 1, 3,
       pTrueColor, smPrecise, false, -1, true, 0, 0, 4, 1, 0, 0, 2, 1, {Grey(0), Grey(25), Grey(75), Grey(100)}},
      {"precise enlarge 2 to 4 down a column", 1, 2, 3, {Grey(0), Grey(100)}, 1, 4, 3, pTrueColor, smPrecise, false,
       -1, true, 0, 0, 1, 4, 0, 0, 1, 2, {Grey(0), Grey(25), Grey(75), Grey(100)}},
      {"medium enlarge 2 to 4 repeats pixels", 2, 1, 3, {Grey(0), Grey(100)}, 4, 1, 3, pTrueColor, smMedium, false,
       -1, true, 0, 0, 4, 1, 0, 0, 2, 1, {Grey(0), Grey(0), Grey(100), Grey(100)}},
      {"fast shrink 4 to 3 picks columns 0, 1, 2", 4, 1, 3, {Grey(10), Grey(20), Grey(30), Grey(40)}, 3, 1, 3,
       pTrueColor, smFast, false, -1, true, 0, 0, 3, 1, 0, 0, 4, 1, {Grey(10), Grey(20), Grey(30)}},
      {"area shrink past the right edge leaves the column unwritten", 4, 1, 3,
       {Grey(10), Grey(20), Grey(30), Grey(40)}, 2, 1, 3, pTrueColor, smPrecise, false, -1, true, 0, 0, 2, 1, 2, 0, 4,
       1, {Grey(35), Keep}},
      {"interpolating shrink past the right edge leaves the column unwritten", 4, 1, 3,
       {Grey(10), Grey(20), Grey(30), Grey(40)}, 2, 1, 3, pTrueColor, smMedium, false, -1, true, 0, 0, 2, 1, 2, 0, 4,
       1, {Grey(35), Keep}},
      {"destination partly outside writes only the inside part", 2, 2, 3, {A, B, C, D}, 4, 4, 3, pTrueColor,
       smMedium, false, -1, true, -1, -1, 4, 4, 0, 0, 2, 2,
       {A, B, B, Keep, C, D, D, Keep, C, D, D, Keep, Keep, Keep, Keep, Keep}},
      {"mid grey dithers to a checkerboard on black and white", 2, 2, 3, {Grey(128), Grey(128), Grey(128), Grey(128)},
       2, 2, 0, pBlackWhite, smPrecise, true, -1, true, 0, 0, 2, 2, 0, 0, 2, 2, {1, 0, 0, 1}},
      {"zero limit on a grey palette dithers the grey level of the sum", 1, 1, 3, {RGBColor(26, 0, 0)}, 1, 1, 1,
       pGray16, smPrecise, true, 0, false, 0, 0, 1, 1, 0, 0, 1, 1, {0}},
      {"without dithering a grey palette takes the nearest entry", 1, 1, 3, {RGBColor(26, 0, 0)}, 1, 1, 1, pGray16,
       smPrecise, false, 0, false, 0, 0, 1, 1, 0, 0, 1, 1, {1}},
      {"without dithering a shrink stores the nearest index of the computed colour", 3, 1, 3,
       {Grey(0), Grey(30), Grey(90)}, 2, 1, 2, pGray256, smPrecise, false, -1, true, 0, 0, 2, 1, 0, 0, 3, 1, {10, 70}},
  };
  for (const Case& K : Cases) {
    SCOPED_TRACE(K.Name);
    TPixelGraphic Source;
    Source.SetFormat(K.SrcW, K.SrcH, K.SrcNum);
    for (int i = 0; i < K.SrcW * K.SrcH; ++i) Source.SetPixel(i % K.SrcW, i / K.SrcW, K.Src[static_cast<std::size_t>(i)]);
    std::vector<int> Expected = K.Expected;
    for (int& v : Expected)
      if (v == Keep) v = Prefill(K.DstNum);
    TPixelGraphic Engine, Reference;
    for (TPixelGraphic* G : {&Engine, &Reference}) {
      G->SetFormat(K.DstW, K.DstH, K.DstNum);
      if (K.DstNum < 3) G->SetPaletteIdent(K.DstPal);
      for (int y = 0; y < K.DstH; ++y)
        for (int x = 0; x < K.DstW; ++x) G->SetPixel(x, y, Prefill(K.DstNum));
      G->SetStretchMode(K.Mode);
      G->SetDither(K.Dither);
      G->SetDitherErrorLimitAuto(K.Limit < 0);
      if (K.Limit >= 0) G->SetDitherErrorLimit(static_cast<std::uint8_t>(K.Limit));
      G->SetRGBWeighting(K.Weighting);
    }
    Engine.StretchRect(K.DX, K.DY, K.DW, K.DH, K.SX, K.SY, K.SW, K.SH, Source);
    ref::StretchRect(Reference, K.DX, K.DY, K.DW, K.DH, K.SX, K.SY, K.SW, K.SH, Source);
    EXPECT_EQ(RawPixels(Engine), Expected);
    EXPECT_EQ(RawPixels(Reference), Expected) << "reference";
  }
}

// Independent of the reference: without dithering, a palette destination holds the
// nearest index of what the same resampling computes into a 24-bit image.
TEST(Stretch, WithoutDitherEachPixelTakesNearestIndexOfComputedColour) {
  const TPaletteIdent Palettes[] = {pBlackWhite, pSys16, pGray16, pSpecial216, pSpecial252};
  std::mt19937 Rng(99);
  for (const TPaletteIdent Ident : Palettes)
    for (const TStretchMode Mode : {smFast, smMedium, smPrecise}) {
      const ref::TPaletteChoice Choice{ref::TPaletteKind::Standard, Ident};
      SCOPED_TRACE(std::string(ModeName(Mode)) + " palette " + Choice.Name());
      TPixelGraphic Source, True, Indexed;
      Source.SetFormat(Pick(Rng, 1, 30), Pick(Rng, 1, 30), 3);
      ref::FillRandom(Source, Rng);
      const int W = Pick(Rng, 1, 30), H = Pick(Rng, 1, 30);
      True.SetFormat(W, H, 3);
      Indexed.SetFormat(W, H, Ident == pBlackWhite ? 0 : Ident == pSys16 || Ident == pGray16 ? 1 : 2);
      Indexed.SetPaletteIdent(Ident);
      Indexed.SetDither(false);
      for (TPixelGraphic* G : {&True, &Indexed}) {
        G->SetStretchMode(Mode);
        G->StretchFrom(Source);
      }
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          ASSERT_EQ(Indexed.GetPixel(x, y), Indexed.NearestPaletteIndex(True.GetPixel(x, y))) << x << ", " << y;
    }
}

// The reference itself against the worked examples of the resampling rules.
TEST(Stretch, ReferenceSpansFollowWorkedExamples) {
  struct Case {
    const char* Name;
    TStretchMode Mode;
    int S, D, k;
    std::int64_t First, Last, FirstWeight, LastWeight, Divisor;
  };
  const Case Cases[] = {
      {"precise 3 to 2, first", smPrecise, 3, 2, 0, 0, 1, 2, 1, 3},
      {"precise 3 to 2, second", smPrecise, 3, 2, 1, 1, 2, 1, 2, 3},
      {"medium 3 to 2, first", smMedium, 3, 2, 0, 0, 1, 3, 1, 4},
      {"medium 3 to 2, second", smMedium, 3, 2, 1, 1, 2, 1, 3, 4},
      {"precise 2 to 4, second", smPrecise, 2, 4, 1, 0, 1, 6, 2, 8},
      {"precise 2 to 4, last clamped", smPrecise, 2, 4, 3, 1, 1, 8, -1, 8},
      {"fast 4 to 3, last", smFast, 4, 3, 2, 2, 2, 1, 1, 1},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const ref::TAxis Axis = ref::MakeAxis(C.Mode, C.S, C.D, 0, 0, C.S);
    const ref::TSpan S = ref::SpanOf(Axis, C.k);
    EXPECT_TRUE(S.Valid);
    EXPECT_EQ(S.First, C.First);
    EXPECT_EQ(S.Last, C.Last);
    EXPECT_EQ(S.FirstWeight, C.FirstWeight);
    if (C.LastWeight >= 0) {
      EXPECT_EQ(S.LastWeight, C.LastWeight);
    }
    EXPECT_EQ(Axis.Divisor, C.Divisor);
  }
}

TEST(ClampTable, ClampsEveryEntry) {
  const std::uint8_t* T = ClampTable();
  for (int i = -510; i <= 510; ++i) ASSERT_EQ(T[i], std::clamp(i, 0, 255)) << i;
}
