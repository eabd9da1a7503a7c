#pragma once
// The common frame of the operations that compute an image row by row through the
// pixel writer (stretch, copy, filter, border): dither set-up, the progress brackets
// and the change event, with the dither buffers freed on every exit.

#include <exception>
#include <functional>
#include <utility>

#include "pgraphic/pixel_graphic.h"

namespace pg {

// Error diffusion for a palette image with Dither on; otherwise no buffers, so the
// pixel writer stores nearest indices.
inline void SetUpDither(TPixelGraphic& G) {
  if (G.GetDither() && G.GetBitCountNum() < 3) G.InitDither();
  else G.FreeDitherBuffers();
}

// Ends a conversion: OnProgressEnd (once Start fired OnProgressStart) and the change
// event when the operation returns normally, also after an abort; the release step and
// the freeing of the dither buffers in any case. An exception from an end handler
// passes on once the buffers are freed, instead of ending the program.
class TConversionScope {
public:
  explicit TConversionScope(TPixelGraphic& G) : FG(G), FExceptions(std::uncaught_exceptions()) {}
  TConversionScope(const TConversionScope&) = delete;
  TConversionScope& operator=(const TConversionScope&) = delete;

  ~TConversionScope() noexcept(false) {
    if (std::uncaught_exceptions() > FExceptions) {
      Release(true);
      return;
    }
    try {
      if (FStarted) FG.ProgressEnd();
    } catch (...) {
      Release(true);
      throw;
    }
    Release(false);
    FG.Changed();
  }

  void Start() {
    FStarted = true;
    FG.ProgressStart();
  }

  // Runs after OnProgressEnd and before the buffers are freed, on every exit.
  void SetRelease(std::function<void()> Step) { FRelease = std::move(Step); }

private:
  void Release(bool Failing) {
    try {
      if (FRelease) FRelease();
    } catch (...) {
      FG.FreeDitherBuffers();
      // The first failure is the one to report; a second one while it passes is dropped.
      if (!Failing) throw;
      return;
    }
    FG.FreeDitherBuffers();
  }

  TPixelGraphic& FG;
  int FExceptions;
  bool FStarted = false;
  std::function<void()> FRelease;
};

}  // namespace pg
