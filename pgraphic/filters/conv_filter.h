#pragma once
// A weighted convolution with an integer kernel, normalised by the weights that fall
// inside the image; the application sharpens with it.

#include <vector>

#include "pgraphic/filters/filter.h"

namespace pg {

enum TKernelKind { kkGauss, kkTriangle, kkBox };

class TConvFilter : public TPGFilter {
public:
  TConvFilter();  // the identity: a 1 x 1 kernel of weight 1

  TRGB FilterPixel(int X, int Y) override;

  int GetWidth() const { return FWidth; }
  int GetHeight() const { return FHeight; }
  void SetWidth(int Value);   // 1 .. 99; a change clears the kernel
  void SetHeight(int Value);  // 1 .. 99; a change clears the kernel
  int GetKernel(int Col, int Row) const;
  void SetKernel(int Col, int Row, int Value);
  int GetXOffset() const { return FXOffset; }
  void SetXOffset(int Value) { FXOffset = Value; }
  int GetYOffset() const { return FYOffset; }
  void SetYOffset(int Value) { FYOffset = Value; }
  long double GetBias() const { return FBias; }
  void SetBias(long double Value) { FBias = Value; }
  long double GetFactor() const { return FFactor; }
  void SetFactor(long double Value) { FFactor = Value; }

  // Fills the kernel from a distribution of standard deviation Sigma, centred.
  void MakeKernel(TKernelKind Kind, bool Radial, long double Sigma);
  // MakeKernel, then negated around a centre weight set by Strength (above 0).
  void MakeSharpenKernel(TKernelKind Kind, bool Radial, long double Sigma, long double Strength);

private:
  std::vector<int> FKernel;  // Kernel[Col, Row] at Col + Row * Width
  int FWidth = 1, FHeight = 1;
  int FXOffset = 0, FYOffset = 0;
  long double FBias = 0, FFactor = 1;
};

}  // namespace pg
