#include "pgraphic/filters/conv_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"

namespace pg {

namespace {

constexpr int MaxKernelSize = 99;

// Rounded to the nearest integer, halves to even (the default rounding mode). rint
// gives nearbyint's value; nearbyint also keeps the inexact flag, which costs it a
// floating-point environment save and restore per call, too slow for every channel.
long double Round(long double v) { return std::rint(v); }

// A rounded channel value clamped to 0..255; NaN (from an infinite Factor) gives 0.
int ClampChannel(long double v) {
  const long double r = Round(v);
  if (!(r > 0)) return 0;
  return r >= 255 ? 255 : static_cast<int>(r);
}

int ClampChannel(std::int64_t v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v); }

// n / d rounded to the nearest integer, halves to even (d not 0).
std::int64_t RoundedQuotient(std::int64_t n, std::int64_t d) {
  std::int64_t q = n / d;
  const std::int64_t r = n % d;
  const std::uint64_t Twice = 2 * static_cast<std::uint64_t>(r < 0 ? -r : r);
  const std::uint64_t Divisor = static_cast<std::uint64_t>(d < 0 ? -d : d);
  if (Twice > Divisor || (Twice == Divisor && (q & 1) != 0)) q += (n < 0) != (d < 0) ? -1 : 1;
  return q;
}

// The distribution of standard deviation Sigma that a kernel samples.
long double Distribution(TKernelKind Kind, long double Sigma, long double x) {
  const long double Ax = std::fabs(x);
  switch (Kind) {
    case kkGauss:
      return std::exp(-(x * x) / (2 * Sigma * Sigma)) / (Sigma * std::sqrt(2 * std::numbers::pi_v<long double>));
    case kkTriangle: {
      const long double a = std::sqrt(6.0L) * Sigma;
      return Ax <= a ? 1 / a - Ax / (a * a) : 0;
    }
    case kkBox: {
      const long double a = std::sqrt(3.0L) * Sigma;
      return Ax <= a ? 1 / (2 * a) : 0;
    }
  }
  return 0;
}

}  // namespace

TConvFilter::TConvFilter() : FKernel{1} {}

void TConvFilter::SetWidth(int Value) {
  if (Value < 1 || Value > MaxKernelSize) throw EPGConvFilter(PGLangStrS1(41, "TConvFilter.Width"));
  if (Value == FWidth) return;
  FWidth = Value;
  FKernel.assign(static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight), 0);
}

void TConvFilter::SetHeight(int Value) {
  if (Value < 1 || Value > MaxKernelSize) throw EPGConvFilter(PGLangStrS1(41, "TConvFilter.Height"));
  if (Value == FHeight) return;
  FHeight = Value;
  FKernel.assign(static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight), 0);
}

int TConvFilter::GetKernel(int Col, int Row) const {
  if (Col < 0 || Col >= FWidth || Row < 0 || Row >= FHeight) throw EPGConvFilter(PGLangStr(1));
  return FKernel[static_cast<std::size_t>(Col + Row * FWidth)];
}

void TConvFilter::SetKernel(int Col, int Row, int Value) {
  if (Col < 0 || Col >= FWidth || Row < 0 || Row >= FHeight) throw EPGConvFilter(PGLangStr(1));
  FKernel[static_cast<std::size_t>(Col + Row * FWidth)] = Value;
}

TRGB TConvFilter::FilterPixel(int X, int Y) {
  // Sums in 64 bits: a strong sharpening kernel times 255 leaves 32 bits behind.
  std::int64_t W = 0, R = 0, G = 0, B = 0;
  // Without a source (outside a run) every tap falls outside it.
  if (FSource) {
    const TPixelGraphic& S = *FSource;
    const std::int64_t SW = S.GetWidth(), SH = S.GetHeight();
    const std::int64_t X0 = std::int64_t{X} + FXOffset, Y0 = std::int64_t{Y} + FYOffset;
    // Taps outside the source are skipped: the kernel columns that land inside it.
    const auto JLo = static_cast<int>(std::clamp<std::int64_t>(-X0, 0, FWidth));
    const auto JHi = static_cast<int>(std::clamp<std::int64_t>(SW - X0, 0, FWidth));
    const bool TrueColor = S.GetBitCountNum() == 3;
    for (int i = 0; i < FHeight && JLo < JHi; ++i) {
      const std::int64_t sy = Y0 + i;
      if (sy < 0 || sy >= SH) continue;
      const int* K = FKernel.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(FWidth);
      if (TrueColor) {
        // GetScanLine also ends pending drawing on the source.
        const std::uint8_t* P = S.GetScanLine(static_cast<int>(sy)) + 3 * (X0 + JLo);
        for (int j = JLo; j < JHi; ++j, P += 3) {
          const std::int64_t k = K[j];
          W += k, B += k * P[0], G += k * P[1], R += k * P[2];
        }
      } else {
        for (int j = JLo; j < JHi; ++j) {
          const std::int64_t k = K[j];
          const TRGB C = S.GetPixelColor(static_cast<int>(X0 + j), static_cast<int>(sy));
          W += k, R += k * RedOf(C), G += k * GreenOf(C), B += k * BlueOf(C);
        }
      }
    }
  }
  if (FFactor == 1 && FBias == 0) {
    // The plain normalised sum, in integers: |s| stays far below 2^63, so the extended
    // quotient never crosses or lands on a half-integer the exact one does not, and
    // rounding the exact quotient gives the same channel without x87 arithmetic.
    const auto Channel = [W](std::int64_t s) { return ClampChannel(W != 0 ? RoundedQuotient(s, W) : s); };
    return RGBColor(Channel(R), Channel(G), Channel(B));
  }
  const long double BiasPart = FBias * 255 * 0.01L;
  const auto Channel = [&](std::int64_t s) {
    const long double Sum = static_cast<long double>(s);
    return ClampChannel(W != 0 ? FFactor * (Sum / static_cast<long double>(W)) + BiasPart : FFactor * Sum + BiasPart);
  };
  return RGBColor(Channel(R), Channel(G), Channel(B));
}

void TConvFilter::MakeKernel(TKernelKind Kind, bool Radial, long double Sigma) {
  const auto f = [Kind, Sigma](long double x) { return Distribution(Kind, Sigma, x); };
  const bool Box = Kind == kkBox;
  const long double f0 = f(0);
  const long double Scale = Radial ? 16 / f0 : 16 / (f0 * f0);

  // The radius: the last distance whose weight is still above 0. Past 49 the kernel
  // cannot be stored, and SetWidth below reports it; the search need not go on.
  int r = MaxKernelSize / 2 + 1;
  for (int n = 0; n <= MaxKernelSize / 2 + 1; ++n) {
    const long double v = Box ? f(n) : Radial ? Round(f(n) * Scale) : Round(f(n) * Scale * f0);
    if (!(v > 0)) {
      r = n - 1;
      break;
    }
  }
  SetWidth(2 * r + 1);
  SetHeight(2 * r + 1);
  for (int y = 0; y <= 2 * r; ++y) {
    for (int x = 0; x <= 2 * r; ++x) {
      const long double dx = x - r, dy = y - r;
      int Value;
      if (Box) Value = (Radial ? f(std::sqrt(dx * dx + dy * dy)) : f(dx) * f(dy)) > 0 ? 1 : 0;
      else if (Radial) Value = static_cast<int>(Round(f(std::sqrt(dx * dx + dy * dy)) * Scale));
      else Value = static_cast<int>(Round(f(dx) * Scale * f(dy)));
      SetKernel(x, y, Value);
    }
  }
  FXOffset = -r;
  FYOffset = -r;
  FBias = 0;
  FFactor = 1;
}

void TConvFilter::MakeSharpenKernel(TKernelKind Kind, bool Radial, long double Sigma, long double Strength) {
  // A strength of 0 or below (or NaN) has no centre weight to give.
  if (!(Strength > 0)) throw EPGConvFilter(PGLangStrS1(41, "Strength"));
  MakeKernel(Kind, Radial, Sigma);
  std::int64_t S = 0;
  for (const int k : FKernel) S += k;
  const long double Centre = Round(static_cast<long double>(S) * (100 / Strength));
  // A tiny strength asks for a centre weight a kernel entry cannot hold.
  if (!(Centre <= std::numeric_limits<int>::max())) throw EPGConvFilter(PGLangStrS1(41, "Strength"));
  for (int& k : FKernel) k = -k;
  SetKernel(-FXOffset, -FYOffset, static_cast<int>(Centre));
}

}  // namespace pg
