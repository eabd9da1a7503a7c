#include "app/shrink/result_size.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kv {

int PercentToPixels(long double Percent, int SourceSize) {
  if (!(Percent > 0) || SourceSize <= 0) return 0;
  // Dividing by 100 rather than multiplying by 0.01 (not exact in binary) keeps whole
  // products whole: 20 % of 30 is 6, not 5.999... floored to 5.
  return static_cast<int>(std::floor(Percent * SourceSize / 100.0L));
}

long double PixelsToPercent(int Pixels, int SourceSize) {
  if (Pixels <= 0 || SourceSize <= 0) return 0;
  // Hundredths of a percent, rounded up in integers: a floating-point quotient that
  // lands a hair above a whole hundredth would otherwise round up one step too far.
  const std::int64_t Num = static_cast<std::int64_t>(Pixels) * 10000;
  const std::int64_t Hundredths = (Num + SourceSize - 1) / SourceSize;
  return static_cast<long double>(Hundredths) / 100.0L;
}

TResultSize::TResultSize(int SourceWidth, int SourceHeight, bool KeepAspectRatio)
    : FSourceWidth(std::max(SourceWidth, 0)), FSourceHeight(std::max(SourceHeight, 0)),
      FKeepAspectRatio(KeepAspectRatio) {}

void TResultSize::SetWidthPercent(long double Percent) {
  FWidthPercent = Percent > 0 ? Percent : 0;
  FWidth = PercentToPixels(FWidthPercent, FSourceWidth);
  if (FKeepAspectRatio) CopyWidthToHeight();
}

void TResultSize::SetWidthPixels(int Pixels) {
  FWidth = std::max(Pixels, 0);
  FWidthPercent = PixelsToPercent(FWidth, FSourceWidth);
  if (FKeepAspectRatio) CopyWidthToHeight();
}

void TResultSize::SetHeightPercent(long double Percent) {
  FHeightPercent = Percent > 0 ? Percent : 0;
  FHeight = PercentToPixels(FHeightPercent, FSourceHeight);
  if (FKeepAspectRatio) CopyHeightToWidth();
}

void TResultSize::SetHeightPixels(int Pixels) {
  FHeight = std::max(Pixels, 0);
  FHeightPercent = PixelsToPercent(FHeight, FSourceHeight);
  if (FKeepAspectRatio) CopyHeightToWidth();
}

// The percentage travels, not the pixel count: the partner axis gets its own Floor.
void TResultSize::CopyWidthToHeight() {
  FHeightPercent = FWidthPercent;
  FHeight = PercentToPixels(FHeightPercent, FSourceHeight);
}

void TResultSize::CopyHeightToWidth() {
  FWidthPercent = FHeightPercent;
  FWidth = PercentToPixels(FWidthPercent, FSourceWidth);
}

}  // namespace kv
