// The border painter: the outer zone of an image fades linearly into a colour, along
// the four edges or outside and along the ellipse inscribed in the image.

#include <cmath>
#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

#include "pgraphic/conversion_scope.h"
#include "pgraphic/pixel_graphic.h"

namespace pg {

namespace {

// Blend factors run from 0 (the pixel) to 1024 (the border colour only).
constexpr int FullBlend = 1024;

inline void Blend(std::uint8_t* P, const std::uint8_t* Border, int f) {
  for (int c = 0; c < 3; ++c) P[c] = static_cast<std::uint8_t>((P[c] * (FullBlend - f) + Border[c] * f) / FullBlend);
}

// Factor of a pixel at distance d (0 .. Wb - 1) from an edge: full at the edge, none
// at Wb - 1. 64-bit, so that any border width is safe.
inline int EdgeFactor(std::int64_t d, std::int64_t Wb) {
  return static_cast<int>((Wb - 1 - d) * FullBlend / (Wb - 1));
}

// The source row as blue, green, red bytes; palette sources through their palette.
void ReadSourceRow(const TPixelGraphic& Source, int y, std::uint8_t* Out) {
  const int W = Source.GetWidth();
  if (Source.GetBitCountNum() == 3) {
    const std::uint8_t* P = Source.GetScanLine(y);
    std::copy(P, P + 3 * static_cast<std::size_t>(W), Out);
    return;
  }
  for (int x = 0; x < W; ++x, Out += 3) {
    const TRGB C = Source.GetPixelColor(x, y);
    Out[0] = static_cast<std::uint8_t>(BlueOf(C));
    Out[1] = static_cast<std::uint8_t>(GreenOf(C));
    Out[2] = static_cast<std::uint8_t>(RedOf(C));
  }
}

}  // namespace

void TPixelGraphic::DrawBorder(bool Oval, int Width, TRGB Color, const TPixelGraphic& Source) {
  // Taking the source's size clears this image: a border drawn around itself reads a copy.
  std::unique_ptr<TPixelGraphic> Copy;
  const TPixelGraphic* Src = &Source;
  if (Src == this) {
    Copy = std::make_unique<TPixelGraphic>();
    Copy->Assign(this);
    Src = Copy.get();
  }
  const int W = Src->GetWidth(), H = Src->GetHeight();
  SetFormat(W, H, FBitCountNum);

  const std::uint8_t Border[3] = {static_cast<std::uint8_t>(BlueOf(Color)), static_cast<std::uint8_t>(GreenOf(Color)),
                                  static_cast<std::uint8_t>(RedOf(Color))};
  const auto Wn = static_cast<std::size_t>(W);
  std::vector<int> Columns(Wn);
  std::iota(Columns.begin(), Columns.end(), 0);
  std::vector<std::uint8_t> Row(3 * Wn);

  TConversionScope Scope(*this);
  if (W < 3 || H < 3 || Width < 2) {
    // No room for a fading zone: all border.
    if (!FBits) return;
    SetUpDither(*this);
    for (std::size_t x = 0; x < Wn; ++x) std::copy(Border, Border + 3, &Row[3 * x]);
    for (int y = 0; y < H; ++y) {
      if (Dithering()) NextDitherRow();
      WriteRow(y, Columns.data(), Wn, Row.data());
    }
    return;
  }

  SetUpDither(*this);
  Scope.Start();
  const std::int64_t Wb = Width;
  // Oval geometry: the ellipse through the centres of the outermost pixels.
  const long double a = (W - 1) * 0.5L, b = (H - 1) * 0.5L, q1 = b / a, q2 = a / b;
  const long double Fade = static_cast<long double>(Wb - 1);
  for (int y = 0; y < H; ++y) {
    ReadSourceRow(*Src, y, Row.data());
    if (!Oval) {
      const bool Top = y < Wb, Bottom = y > H - Wb;
      const int FTop = Top ? EdgeFactor(y, Wb) : 0, FBottom = Bottom ? EdgeFactor(H - 1 - std::int64_t{y}, Wb) : 0;
      for (int x = 0; x < W; ++x) {
        const bool Left = x < Wb, Right = x > W - Wb;
        if (!(Top || Bottom || Left || Right)) continue;
        std::uint8_t* P = &Row[3 * static_cast<std::size_t>(x)];
        if (Top) Blend(P, Border, FTop);
        if (Bottom) Blend(P, Border, FBottom);
        if (Left) Blend(P, Border, EdgeFactor(x, Wb));
        if (Right) Blend(P, Border, EdgeFactor(W - 1 - std::int64_t{x}, Wb));
      }
    } else {
      const long double dy = y - b;
      for (int x = 0; x < W; ++x) {
        std::uint8_t* P = &Row[3 * static_cast<std::size_t>(x)];
        const long double dx = x - a;
        // Where the ray from the centre through the pixel meets the ellipse.
        long double px, py;
        if (dx == 0) {
          px = 0;
          py = dy > 0 ? b : -b;
        } else {
          const long double s = dy / dx;
          px = b / std::sqrt(s * s + q1 * q1);
          if (dx < 0) px = -px;
          py = s * px;
        }
        if (std::fabs(dx) > std::fabs(px) || std::fabs(dy) > std::fabs(py)) {
          std::copy(Border, Border + 3, P);
          continue;
        }
        const long double d = std::sqrt((dx - px) * (dx - px) * q1 + (dy - py) * (dy - py) * q2);
        if (d >= Fade) continue;
        Blend(P, Border, static_cast<int>(std::floor((Fade - d) * FullBlend / Fade)));
      }
    }
    if (Dithering()) NextDitherRow();
    WriteRow(y, Columns.data(), Wn, Row.data());
    if (Progress(y, H - 1)) break;
  }
}

}  // namespace pg
