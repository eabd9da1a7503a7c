#pragma once
// The arithmetic that couples a result size in percent of the source with the size in
// pixels, with or without a fixed aspect ratio.

namespace kv {

// Floor(Percent / 100 · SourceSize); a negative percentage counts as 0.
int PercentToPixels(long double Percent, int SourceSize);
// Pixels in percent of SourceSize, rounded up to two decimals (100 of 300 gives 33.34);
// 0 for an empty source, and a negative pixel count counts as 0.
long double PixelsToPercent(int Pixels, int SourceSize);

// Both axes of a result, in percent and in pixels, for a source of SourceWidth x
// SourceHeight. Setting one value recomputes its partner on the same axis and, with
// KeepAspectRatio, copies the percentage to the other axis.
class TResultSize {
public:
  TResultSize(int SourceWidth, int SourceHeight, bool KeepAspectRatio);

  void SetWidthPercent(long double Percent);
  void SetWidthPixels(int Pixels);
  void SetHeightPercent(long double Percent);
  void SetHeightPixels(int Pixels);

  long double WidthPercent() const { return FWidthPercent; }
  long double HeightPercent() const { return FHeightPercent; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

private:
  void CopyWidthToHeight();
  void CopyHeightToWidth();

  int FSourceWidth, FSourceHeight;
  bool FKeepAspectRatio;
  long double FWidthPercent = 0, FHeightPercent = 0;
  int FWidth = 0, FHeight = 0;
};

}  // namespace kv
