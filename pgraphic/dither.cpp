// The pixel writer of palette images: nearest index, or serpentine Floyd-Steinberg
// error diffusion with the error carried through a limit curve (optionally soft-kneed)
// that keeps small palettes from smearing colour errors across the image.

#include <algorithm>

#include "pgraphic/clamp_table.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/nearest_index.h"
#include "pgraphic/pixel_graphic.h"
#include "pgraphic/pixel_store.h"

namespace pg {

namespace {

// The error limit the palette's identity calls for, with the soft knee on.
int AutoErrorLimit(TPaletteIdent Ident) {
  switch (Ident) {
    case pBlackWhite: return 255;
    case pSysGray4:
    case pSys16:
    case pGray4: return 128;
    case pGray236: return 3;
    case pGray256: return 2;
    case pSpecial125:
    case pSpecial252: return 104;
    case pSpecial216: return 86;
    default: return 32;
  }
}

// Accumulated sixteenths rounded to channel steps, halves away from zero.
inline int RoundError(std::int32_t a) { return a >= 0 ? (a + 8) >> 4 : -((8 - a) >> 4); }

// An accumulator receives at most 16 sixteenths of errors of at most 255 steps.
constexpr int MaxAccumulated = 16 * 256;

// Raw state of one error-diffusion row, so the hot loop works on plain pointers.
struct TDitherRow {
  std::int32_t* Cur;           // errors of this row, column -1 at index 0
  std::int32_t* Next;          // errors of the next row
  const std::int32_t* Limit;   // limited error in channel steps per accumulator value
  bool Gray;                   // grey palette: one error, in the green slot
  bool Weighted;               // RGB weighting of grey values
};

// One pixel of error diffusion: returns the index chosen for (R, G, B) at column X
// of row Y and spreads the remaining error. Entry(k) gives palette entry k.
template <typename Nearest, typename Entry>
inline int DitherStep(const TDitherRow& D, int X, int Y, int R, int G, int B, Nearest&& NearestIndex, Entry&& PaletteEntry) {
  const std::uint8_t* Clamp = ClampTable();
  const auto Curve = [&D](std::int32_t a) { return D.Limit[std::clamp(a, -MaxAccumulated, MaxAccumulated)]; };
  std::int32_t* Cur = D.Cur + 3 * (static_cast<std::ptrdiff_t>(X) + 1);
  std::int32_t* Next = D.Next + 3 * (static_cast<std::ptrdiff_t>(X) + 1);
  const std::ptrdiff_t Ahead = (Y & 1) ? -3 : 3;  // the next pixel in this row's direction
  const auto Spread = [&](int c, int d) {
    Cur[Ahead + c] += 7 * d;
    Next[-Ahead + c] += 3 * d;
    Next[c] += 5 * d;
    Next[Ahead + c] += d;
  };
  if (!D.Gray) {
    const int R1 = Clamp[Curve(Cur[0]) + R], G1 = Clamp[Curve(Cur[1]) + G], B1 = Clamp[Curve(Cur[2]) + B];
    const int k = NearestIndex(RGBColor(R1, G1, B1));
    const TRGB P = PaletteEntry(k);
    Spread(0, R1 - RedOf(P));
    Spread(1, G1 - GreenOf(P));
    Spread(2, B1 - BlueOf(P));
    return k;
  }
  const int v = Clamp[GrayValue(RGBColor(R, G, B), D.Weighted) / 3 + Curve(Cur[1])];
  const int k = NearestIndex(RGBColor(v, v, v));
  Spread(1, v - GreenOf(PaletteEntry(k)));
  return k;
}

}  // namespace

void TPixelGraphic::InitDither() {
  const std::size_t n = 3 * (static_cast<std::size_t>(FWidth) + 2);
  FDitherErrors.assign(n, 0);
  FDitherNextErrors.assign(n, 0);
  FIsGray = std::all_of(FPalette.begin(), FPalette.end(),
                        [](TRGB C) { return RedOf(C) == BlueOf(C) && GreenOf(C) == BlueOf(C); });

  const bool Auto = FDitherErrorLimitAuto;
  const int L = Auto ? AutoErrorLimit(FPaletteIdent) : FDitherErrorLimit;
  const bool Soft = Auto || FDitherErrorLimitSoft;
  int T[256];
  for (int i = 0; i < 256; ++i) T[i] = i < L ? i : L;
  if (Soft)
    for (int i = L / 2; i <= 3 * L / 2 && i < 255; ++i) T[i] = i / 2 + L / 4;
  // Indexed by the accumulator itself, so that rounding and limiting are one look-up.
  FDitherLimits.assign(2 * MaxAccumulated + 1, 0);
  for (int a = -MaxAccumulated; a <= MaxAccumulated; ++a) {
    const int e = std::clamp(RoundError(a), -255, 255);
    FDitherLimits[static_cast<std::size_t>(a + MaxAccumulated)] = e >= 0 ? T[e] : -T[-e];
  }
}

void TPixelGraphic::NextDitherRow() {
  std::swap(FDitherErrors, FDitherNextErrors);
  std::fill(FDitherNextErrors.begin(), FDitherNextErrors.end(), 0);
}

void TPixelGraphic::FreeDitherBuffers() {
  FDitherErrors = {};
  FDitherNextErrors = {};
  FDitherLimits = {};
}

void TPixelGraphic::DitherPixel(int X, int Y, int R, int G, int B) {
  if (X < 0 || X >= FWidth || Y < 0 || Y >= FHeight || FDitherErrors.empty()) return;
  const TDitherRow D{FDitherErrors.data(), FDitherNextErrors.data(), FDitherLimits.data() + MaxAccumulated, FIsGray, FRGBWeighting};
  const int k = DitherStep(D, X, Y, R, G, B, [this](TRGB C) { return NearestPaletteIndex(C); },
                           [this](int i) { return GetPaletteEntry(i); });
  SetPixel(X, Y, k);
}

void TPixelGraphic::WriteRow(int Y, const int* Columns, std::size_t Count, const std::uint8_t* BGR) {
  if (Y < 0 || Y >= FHeight || !FBits) return;
  std::uint8_t* Row = GetScanLine(Y);
  if (FBitCountNum == 3) {
    for (std::size_t c = 0; c < Count; ++c) {
      std::uint8_t* P = Row + 3 * static_cast<std::size_t>(Columns[c]);
      P[0] = BGR[3 * c], P[1] = BGR[3 * c + 1], P[2] = BGR[3 * c + 2];
    }
    return;
  }
  if (Count == 0) return;

  const int Depth = FBitCountNum;
  const TRGB* Pal = FPalette.data();
  const auto PalCount = static_cast<unsigned>(FPalette.size());
  const auto Entry = [&](int k) {
    if (static_cast<unsigned>(k) >= PalCount) throw EPGInvalidPaletteIndex(PGLangStr(3));
    return Pal[k];
  };
  const bool Dither = !FDitherErrors.empty();
  const TDitherRow D{FDitherErrors.data(), FDitherNextErrors.data(), FDitherLimits.data() + MaxAccumulated, FIsGray, FRGBWeighting};
  const auto RunWith = [&](auto&& NearestIndex, auto&& PaletteEntry) {
    for (std::size_t i = 0; i < Count; ++i) {
      const std::size_t c = (Y & 1) ? Count - 1 - i : i;
      const int X = Columns[c];
      const std::uint8_t* P = BGR + 3 * c;
      const int k = Dither ? DitherStep(D, X, Y, P[2], P[1], P[0], NearestIndex, PaletteEntry)
                           : NearestIndex(RGBColor(P[2], P[1], P[0]));
      StorePixel(Row, Depth, X, k);
    }
  };

  // The searches below give what NearestPaletteIndex gives, without its per-call
  // dispatch; its one-colour memo cannot change a result, only save a search.
  const auto Run = [&](auto&& NearestIndex) { RunWith(NearestIndex, Entry); };
  if (nearest::WithStandard(FPaletteIdent, FRGBWeighting, Run)) return;
  if (FPaletteIdent == pUnknown && !FPalette.empty()) {
    if (FColorCache) {
      Run([this](TRGB C) { return SearchCached(C); });
    } else {
      TRGB Last = -1;
      int LastIndex = 0;
      Run([&](TRGB C) {
        if (C != Last) Last = C, LastIndex = SearchExhaustive(C);
        return LastIndex;
      });
    }
    return;
  }
  RunWith([this](TRGB C) { return NearestPaletteIndex(C); }, [this](int k) { return GetPaletteEntry(k); });
}

}  // namespace pg
