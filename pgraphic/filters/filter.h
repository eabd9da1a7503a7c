#pragma once
// The filter framework: a filter computes the colour of each output pixel from a
// source image; TPixelGraphic::ApplyFilter runs one over a whole image through the
// pixel writer, so palette targets are dithered like any other conversion.

#include "pgraphic/pixel_graphic.h"

namespace pg {

class TPGFilter : public TObject {
public:
  ~TPGFilter() override = default;
  virtual void BeginFilter(const TPixelGraphic& Source) { FSource = &Source; }
  virtual TRGB FilterPixel(int X, int Y);
  virtual void EndFilter() { FSource = nullptr; }
  // True when the output at a pixel depends only on the input colour there.
  virtual bool IsPointFilter() const { return false; }
  virtual TRGB FilterColor(TRGB Color) { return Color; }

protected:
  const TPixelGraphic* FSource = nullptr;  // set between BeginFilter and EndFilter
};

}  // namespace pg
