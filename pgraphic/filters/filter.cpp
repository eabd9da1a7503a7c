#include "pgraphic/filters/filter.h"

#include <cstdint>
#include <numeric>
#include <vector>

#include "pgraphic/conversion_scope.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"

namespace pg {

TRGB TPGFilter::FilterPixel(int, int) { return 0; }

void TPixelGraphic::ApplyFilter(TPGFilter& Filter, const TPixelGraphic& Source) {
  const bool Point = Filter.IsPointFilter();
  const bool SameImage = &Source == this;
  // Any other filter reads neighbours that this run would already have overwritten.
  if (SameImage && !Point) throw EPGFilter(PGLangStr(23));
  if (!SameImage) SetFormat(Source.GetWidth(), Source.GetHeight(), FBitCountNum);
  if (FWidth < 1 || FHeight < 1) return;

  // A point filter on a palette image that can hold the source's indices only needs
  // to filter the palette.
  if (Point && FBitCountNum < 3 && FBitCountNum >= Source.GetBitCountNum()) {
    if (!SameImage) Assign(&Source);
    if (PaletteCount() > 0) {
      Filter.BeginFilter(Source);
      try {
        for (int i = 0; i < PaletteCount(); ++i) SetPaletteEntry(i, Filter.FilterColor(GetPaletteEntry(i)));
      } catch (...) {
        Filter.EndFilter();
        throw;
      }
      Filter.EndFilter();
    }
    Changed();
    return;
  }

  TConversionScope Scope(*this);
  SetUpDither(*this);
  Filter.BeginFilter(Source);
  Scope.SetRelease([&Filter] { Filter.EndFilter(); });
  Scope.Start();
  const auto W = static_cast<std::size_t>(FWidth);
  std::vector<int> Columns(W);
  std::iota(Columns.begin(), Columns.end(), 0);
  std::vector<std::uint8_t> Colors(3 * W);
  for (int y = 0; y < FHeight; ++y) {
    // Pixels are filtered in the order the writer visits them (serpentine), so a
    // filter that keeps state sees the same sequence as the error diffusion.
    for (std::size_t i = 0; i < W; ++i) {
      const std::size_t x = (y & 1) ? W - 1 - i : i;
      const TRGB C = Filter.FilterPixel(static_cast<int>(x), y);
      Colors[3 * x] = static_cast<std::uint8_t>(BlueOf(C));
      Colors[3 * x + 1] = static_cast<std::uint8_t>(GreenOf(C));
      Colors[3 * x + 2] = static_cast<std::uint8_t>(RedOf(C));
    }
    if (Dithering()) NextDitherRow();
    WriteRow(y, Columns.data(), W, Colors.data());
    if (Progress(y, FHeight - 1)) break;
  }
}

}  // namespace pg
