#pragma once
// The shrink job's computing part: stretch, sharpen, border, palette and mapping, from
// a source image and plain parameters to a finished result. No widgets: the window
// program's job timer and the command-line tool call the same steps.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/shrink/palette_choices.h"
#include "pgraphic/pixel_graphic.h"

namespace kv {

// Every parameter of a run; the defaults are those of the settings store.
struct TShrinkParams {
  int Width = 0;   // result size in pixels
  int Height = 0;
  bool MinimizeInterference = true;
  pg::TStretchMode StretchMode = pg::smPrecise;  // of the stretch and of the mapping
  int Sharpen = 50;                              // percent; 0 skips the step
  bool DoBorder = false;
  bool BorderEllipse = false;
  int BorderWidth = 20;                          // 0 skips the step
  pg::TRGB BorderColor = 0xFFFFFF;
  int Selection = TrueColorChoice;               // row of PaletteChoices
  int OptimizedPaletteSize = 252;
  bool OptimizedPaletteIncludeSys = true;        // only honoured above 16 entries
  bool Dithering = true;
  bool RGBWeighting = true;
  bool FastUnknownPalette = true;
  std::vector<pg::TRGB> IndividualPalette;       // entries of the "Individual" rows
};

enum class TShrinkStep { Stretch, Sharpen, Border, OptimizedPalette, Mapping };

// The name the status bar shows for a step.
const char* ShrinkStepName(TShrinkStep Step, bool German);

// What a run reports while it works. OnProgress is installed on every image the run
// fills; setting Abort stops the current step after its row and ends the run.
struct TShrinkObserver {
  std::function<void(TShrinkStep)> OnStep;
  pg::TPGProgressEvent OnProgress;
};

struct TShrinkResult {
  std::unique_ptr<pg::TPixelGraphic> Image;  // nullptr after an abort or for an empty source
  bool Aborted = false;
};

// The source extent the stretch reads on one axis: a source exactly one pixel more than
// twice the result drops its last column (row), so that the reduction is exactly 2 : 1
// and no beat pattern appears.
int InterferenceSpan(int SourceSize, int ResultSize, bool MinimizeInterference);

// Bytes a run needs at most: the source copy and one result-size image at 3 bytes a
// pixel, or two result-size images when that is more.
std::int64_t ShrinkMemoryEstimate(int SourceWidth, int SourceHeight, int ResultWidth, int ResultHeight);
// The estimate in megabytes as the warning shows it: one decimal, halves to even.
long double ShrinkMemoryMegabytes(std::int64_t Bytes);
// The text of the memory warning box.
std::string ShrinkMemoryWarningText(std::int64_t Bytes, bool German);

// Runs the steps on Source, which must stay unchanged during the run. Raises the
// library's exceptions, and std::invalid_argument when the chosen row's palette cannot
// be had (a source or individual palette that does not fit the row's depth, an
// optimized size the depth cannot hold).
TShrinkResult RunShrinkJob(const pg::TPixelGraphic& Source, const TShrinkParams& Params,
                           const TShrinkObserver& Observer = {});

}  // namespace kv
