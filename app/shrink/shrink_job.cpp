#include "app/shrink/shrink_job.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "pgraphic/filters/conv_filter.h"
#include "pgraphic/optimized_palette.h"

namespace kv {

using pg::TPixelGraphic;

const char* ShrinkStepName(TShrinkStep Step, bool German) {
  switch (Step) {
    case TShrinkStep::Stretch: return German ? "Strecken/schrumpfen" : "Stretching";
    case TShrinkStep::Sharpen: return German ? "Schärfen" : "Sharpening";
    case TShrinkStep::Border: return German ? "Rand bearbeiten" : "Border";
    case TShrinkStep::OptimizedPalette: return German ? "Optimale Palette bestimmen" : "Create optimized palette";
    case TShrinkStep::Mapping: return German ? "Auf Palette abbilden" : "Map to palette";
  }
  return "";
}

int InterferenceSpan(int SourceSize, int ResultSize, bool MinimizeInterference) {
  if (MinimizeInterference && SourceSize > 1 && SourceSize == 2 * ResultSize + 1) return 2 * ResultSize;
  return SourceSize;
}

std::int64_t ShrinkMemoryEstimate(int SourceWidth, int SourceHeight, int ResultWidth, int ResultHeight) {
  const std::int64_t Source = static_cast<std::int64_t>(SourceWidth) * SourceHeight;
  const std::int64_t Result = static_cast<std::int64_t>(ResultWidth) * ResultHeight;
  return std::max(Source * 3 + Result * 3, Result * 6);
}

long double ShrinkMemoryMegabytes(std::int64_t Bytes) {
  return std::nearbyint(static_cast<long double>(Bytes) / 1048576.0L * 10.0L) * 0.1L;
}

std::string ShrinkMemoryWarningText(std::int64_t Bytes, bool German) {
  std::ostringstream M;
  M << static_cast<double>(ShrinkMemoryMegabytes(Bytes));
  if (German)
    return "Der geschätzte Speicherbedarf für die Berechnung liegt bei " + M.str() + " MB. " +
           "Bei der Anforderung von großen Speicherbereichen kann es zu " +
           "Verzögerungen kommen. Speicheranforderungen können auch fehlschlagen. \r\r" +
           "Möchten Sie trotzdem fortfahren?\r\r" +
           "(Über das Optionen-Dialogfenster kann festgelegt werden ab welchem Speicherbedarf diese Warnung angezeigt "
           "wird.)";
  return "The estimated memory consumption for this calculation is " + M.str() + " MB. " +
         "It can take some time to allocate large amounts of memory. " + "Memory allocations can also fail. \r\r" +
         "Continue anyway?\r\r" + "(You can set the limit for this warning in the options dialog.)";
}

namespace {

// The run's state: the abort request survives the step that saw it, so the later
// steps are skipped.
class TRun {
public:
  explicit TRun(const TShrinkObserver& Observer) : FObserver(Observer) {}

  bool Aborted() const { return FAborted; }

  void Step(TShrinkStep S) const {
    if (FObserver.OnStep) FObserver.OnStep(S);
  }

  // A new image of the given format that reports its rows to the observer.
  std::unique_ptr<TPixelGraphic> NewImage(int Width, int Height, int BitCountNum) {
    auto G = std::make_unique<TPixelGraphic>();
    G->SetFormat(Width, Height, BitCountNum);
    G->SetOnProgress([this](pg::TObject* Sender, int Step, int Max, bool& Abort) {
      if (FObserver.OnProgress) FObserver.OnProgress(Sender, Step, Max, Abort);
      if (Abort) FAborted = true;
    });
    return G;
  }

private:
  const TShrinkObserver& FObserver;
  bool FAborted = false;
};

void SetPaletteFrom(TPixelGraphic& Dest, const std::vector<pg::TRGB>& Entries, const char* What) {
  const int Count = static_cast<int>(Entries.size());
  if (Count < 1 || Count > Dest.MaxPaletteCount())
    throw std::invalid_argument(std::string(What) + " has " + std::to_string(Count) + " entries; a " +
                                std::to_string(Dest.GetBitCount()) + "-bit result takes 1 to " +
                                std::to_string(Dest.MaxPaletteCount()));
  Dest.SetPaletteCount(Count);
  for (int i = 0; i < Count; ++i) Dest.SetPaletteEntry(i, Entries[static_cast<std::size_t>(i)]);
}

}  // namespace

TShrinkResult RunShrinkJob(const TPixelGraphic& Source, const TShrinkParams& Params, const TShrinkObserver& Observer) {
  TShrinkResult Result;
  if (Source.GetWidth() <= 0 || Source.GetHeight() <= 0) return Result;
  if (Params.Selection < 0 || Params.Selection >= PaletteChoiceCount)
    throw std::invalid_argument("no colour format row " + std::to_string(Params.Selection));
  const TPaletteChoice& Choice = PaletteChoices[static_cast<std::size_t>(Params.Selection)];
  const int Width = std::max(Params.Width, 0), Height = std::max(Params.Height, 0);
  TRun Run(Observer);

  // Stretch: always into true colour, so that sharpening and the border work on full
  // colours and the palette is met only once, at the end.
  Run.Step(TShrinkStep::Stretch);
  std::unique_ptr<TPixelGraphic> R = Run.NewImage(Width, Height, 3);
  R->SetStretchMode(Params.StretchMode);
  R->StretchRect(0, 0, Width, Height, 0, 0,
                 InterferenceSpan(Source.GetWidth(), Width, Params.MinimizeInterference),
                 InterferenceSpan(Source.GetHeight(), Height, Params.MinimizeInterference), Source);

  if (Params.Sharpen != 0 && !Run.Aborted()) {
    Run.Step(TShrinkStep::Sharpen);
    auto S = Run.NewImage(Width, Height, 3);
    pg::TConvFilter F;
    F.MakeSharpenKernel(pg::kkTriangle, false, 0.75L, Params.Sharpen);
    S->ApplyFilter(F, *R);
    R = std::move(S);
  }

  if (Params.DoBorder && Params.BorderWidth > 0 && !Run.Aborted()) {
    Run.Step(TShrinkStep::Border);
    auto S = Run.NewImage(Width, Height, 3);
    S->DrawBorder(Params.BorderEllipse, Params.BorderWidth, Params.BorderColor, *R);
    R = std::move(S);
  }

  if (Choice.Depth != 3 && !Run.Aborted()) {
    auto S = Run.NewImage(Width, Height, Choice.Depth);
    S->SetDither(Params.Dithering);
    S->SetRGBWeighting(Params.RGBWeighting);
    S->SetStretchMode(Params.StretchMode);
    if (Choice.IsOptimized) {
      const int N = Params.OptimizedPaletteSize;
      if (N < 1 || N > S->MaxPaletteCount())
        throw std::invalid_argument("an optimized palette of " + std::to_string(N) + " entries does not fit a " +
                                    std::to_string(S->GetBitCount()) + "-bit result");
      Run.Step(TShrinkStep::OptimizedPalette);
      // The 16 system colours would crowd out the image's own in a small palette.
      pg::CreateOptimizedPalette(*S, *R, N, Params.OptimizedPaletteIncludeSys && N > 16);
    } else if (Choice.IsIndividual) {
      SetPaletteFrom(*S, Params.IndividualPalette, "the individual palette");
    } else if (Choice.IsSource) {
      SetPaletteFrom(*S, std::vector<pg::TRGB>(Source.GetPaletteData(), Source.GetPaletteData() + Source.PaletteCount()),
                     "the source palette");
    } else {
      S->SetPaletteIdent(Choice.PaletteIdent);
    }
    if (!Run.Aborted()) {
      Run.Step(TShrinkStep::Mapping);
      S->SetColorCache(Params.FastUnknownPalette);
      S->StretchFrom(*R);
    }
    R = std::move(S);
  }

  if (Run.Aborted()) {
    Result.Aborted = true;
    return Result;
  }
  R->SetOnProgress(nullptr);
  Result.Image = std::move(R);
  return Result;
}

}  // namespace kv
