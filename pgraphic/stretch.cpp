// Resampling of one image into another of any size and depth.
//
// Every destination pixel is a weighted sum over a span of source columns and a span
// of source rows, with the horizontal sum divided before it is weighted by the row.
// That lets each source row be summed horizontally once per destination row instead
// of once per destination pixel, and the last two such sums are kept because
// neighbouring destination rows share their boundary source rows. Divisions by the
// operation's two constant divisors are multiplications.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "pgraphic/conversion_scope.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/pixel_graphic.h"

namespace pg {

namespace {

struct TStretchSpan {
  std::int64_t First = 0, Last = 0;
  std::int64_t FirstWeight = 1, LastWeight = 1;
  std::uint8_t Kind = 0;  // 0 First only, 1 First and Last, 2 First .. Last
  bool Valid = true;
};

enum class TMethod { Nearest, Copy, Interpolation, Area };

// One axis of a stretch: S source pixels onto D destination pixels.
struct TAxis {
  TMethod Method;
  std::int64_t S, D, SrcOrigin, DestOrigin, SrcSize, Divisor;

  TAxis(TStretchMode Mode, std::int64_t S_, std::int64_t D_, std::int64_t SrcOrigin_, std::int64_t DestOrigin_,
        std::int64_t SrcSize_)
      : S(S_), D(D_), SrcOrigin(SrcOrigin_), DestOrigin(DestOrigin_), SrcSize(SrcSize_) {
    const bool Shrinks = S > D, Enlarges = S < D;
    if (Mode == smFast) Method = TMethod::Nearest;
    else if (!Shrinks && !Enlarges) Method = TMethod::Copy;
    else if (Mode == smMedium) Method = Shrinks ? TMethod::Interpolation : TMethod::Area;
    else Method = Shrinks ? TMethod::Area : TMethod::Interpolation;
    Divisor = Method == TMethod::Interpolation ? 2 * D : Method == TMethod::Area ? S : 1;
  }

  bool Inside(std::int64_t i) const { return i >= 0 && i < SrcSize; }

  TStretchSpan Span(std::int64_t a) const {
    const std::int64_t k = a - DestOrigin;
    TStretchSpan P;
    switch (Method) {
      case TMethod::Nearest:
        P.First = P.Last = SrcOrigin + k * S / D;
        break;
      case TMethod::Copy:
        P.First = P.Last = SrcOrigin + k;
        break;
      case TMethod::Interpolation: {
        const std::int64_t u = S * (2 * k + 1);
        P.First = SrcOrigin + (u - D) / (2 * D);
        P.Last = SrcOrigin + (u + D) / (2 * D);
        P.Valid = Inside(P.First) && Inside(P.Last);
        const bool Straddles = (P.First < 0 && P.Last >= 0) || (P.First < SrcSize && P.Last >= SrcSize);
        if (!P.Valid && S < D && Straddles) {
          P.First = std::clamp<std::int64_t>(P.First, 0, SrcSize - 1);
          P.Last = std::clamp<std::int64_t>(P.Last, 0, SrcSize - 1);
          P.Valid = true;
        }
        const std::int64_t hF = D * (2 * (P.First - SrcOrigin) + 1), hL = D * (2 * (P.Last - SrcOrigin) + 1);
        if (hF == u || P.First == P.Last) {
          P.FirstWeight = 2 * D;
        } else {
          P.FirstWeight = 2 * D - (u - hF);
          P.LastWeight = 2 * D - (hL - u);
          P.Kind = 1;
        }
        return P;
      }
      case TMethod::Area: {
        P.First = SrcOrigin + k * S / D;
        P.Last = SrcOrigin + (k + 1) * S / D - ((k + 1) * S % D == 0 ? 1 : 0);
        P.FirstWeight = (P.First - SrcOrigin + 1) * D - k * S;
        P.LastWeight = (k + 1) * S - (P.Last - SrcOrigin) * D;
        if (P.First == P.Last) P.FirstWeight = S;
        else P.Kind = P.Last - P.First >= 2 ? 2 : 1;
        break;
      }
    }
    P.Valid = Inside(P.First) && Inside(P.Last);
    return P;
  }

  // Calls F(index, weight) for the source pixels a span reads, in order.
  template <typename F>
  void ForEachTap(const TStretchSpan& P, F&& Tap) const {
    Tap(P.First, P.FirstWeight);
    if (P.Kind == 2)
      for (std::int64_t i = P.First + 1; i < P.Last; ++i) Tap(i, D);
    if (P.Kind != 0 && P.Last != P.First) Tap(P.Last, P.LastWeight);
  }
};

// High 64 bits of a 64 x 64 bit product.
inline std::uint64_t MulHigh(std::uint64_t a, std::uint64_t b) {
#if defined(_MSC_VER) && !defined(__clang__)
  return __umulh(a, b);
#else
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#endif
}

// Division by a constant. Values here never exceed 255 times the divisor, so below
// 2^24 the quotient is floor(n * ceil(2^64 / d) / 2^64), exact for all n < 2^32.
class TDivider {
public:
  explicit TDivider(std::int64_t D)
      : FD(static_cast<std::uint64_t>(D)), FFast(D > 1 && D < (1 << 24)), FM(FFast ? ~std::uint64_t{0} / FD + 1 : 0) {}
  std::uint64_t operator()(std::uint64_t n) const { return FFast ? MulHigh(n, FM) : FD == 1 ? n : n / FD; }

private:
  std::uint64_t FD;
  bool FFast;
  std::uint64_t FM;
};

// Weighted sum of one span of BGR pixels: First, Taps - 2 inner pixels of weight
// Inner, Last. N > 0 fixes the number of taps at compile time.
template <int N>
inline void SumSpan(const std::uint8_t* p, int Taps, std::uint32_t Inner, const std::array<std::uint32_t, 2>& W,
                    std::uint32_t (&Sum)[3]) {
  const int n = N > 0 ? N : Taps;
  for (int c = 0; c < 3; ++c) Sum[c] = W[0] * p[c];
  if (n == 1) return;
  std::uint32_t s0 = 0, s1 = 0, s2 = 0;
  for (int t = 1; t < n - 1; ++t) s0 += p[3 * t], s1 += p[3 * t + 1], s2 += p[3 * t + 2];
  const std::uint8_t* Last = p + 3 * (n - 1);
  Sum[0] += Inner * s0 + W[1] * Last[0];
  Sum[1] += Inner * s1 + W[1] * Last[1];
  Sum[2] += Inner * s2 + W[1] * Last[2];
}

// Source pixels as blue, green, red bytes; palette sources are expanded through their
// palette, and a pixel whose index the palette does not hold raises when it is read.
class TSourceRows {
public:
  explicit TSourceRows(const TPixelGraphic& Source) : FSource(Source) {
    if (Source.GetBitCountNum() == 3) return;
    for (int i = 0; i < 256; ++i) {
      try {
        const TRGB C = Source.GetPaletteEntry(i);
        FLut[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(BlueOf(C)), static_cast<std::uint8_t>(GreenOf(C)),
                                             static_cast<std::uint8_t>(RedOf(C))};
        FValid[static_cast<std::size_t>(i)] = true;
      } catch (const EPGInvalidPaletteIndex&) {
      }
    }
    FRow.resize(3 * static_cast<std::size_t>(Source.GetWidth()));
  }

  // The BGR bytes of row y for columns Lo .. Hi (others undefined); Check lists the
  // columns the caller reads, so that an index outside the palette raises as a read
  // through the palette would.
  const std::uint8_t* Row(int y, int Lo, int Hi, const std::vector<int>& Check) {
    const std::uint8_t* P = FSource.GetScanLine(y);
    if (FSource.GetBitCountNum() == 3) return P;
    bool AllValid = true;
    for (int x = Lo; x <= Hi; ++x) {
      const int v = Index(P, x);
      std::memcpy(&FRow[3 * static_cast<std::size_t>(x)], FLut[static_cast<std::size_t>(v)].data(), 3);
      AllValid &= FValid[static_cast<std::size_t>(v)];
    }
    if (!AllValid)
      for (const int x : Check)
        if (!FValid[static_cast<std::size_t>(Index(P, x))]) throw EPGInvalidPaletteIndex(PGLangStr(3));
    return FRow.data();
  }

private:
  int Index(const std::uint8_t* P, int x) const {
    switch (FSource.GetBitCountNum()) {
      case 0: return (P[x >> 3] >> (7 - (x & 7))) & 1;
      case 1: return (x & 1) ? P[x >> 1] & 15 : P[x >> 1] >> 4;
      default: return P[x];
    }
  }

  const TPixelGraphic& FSource;
  std::array<std::array<std::uint8_t, 3>, 256> FLut{};
  std::array<bool, 256> FValid{};
  std::vector<std::uint8_t> FRow;
};

// Writes one row of computed colours (BGR per listed column) through the pixel writer.
void WriteConverted(TPixelGraphic& G, int y, const std::vector<int>& Columns, const std::uint8_t* Colors) {
  if (G.Dithering()) G.NextDitherRow();
  G.WriteRow(y, Columns.data(), Columns.size(), Colors);
}

}  // namespace

void TPixelGraphic::StretchFrom(const TPixelGraphic& Source) {
  StretchRect(0, 0, FWidth, FHeight, 0, 0, Source.GetWidth(), Source.GetHeight(), Source);
}

void TPixelGraphic::StretchRect(int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY, int SrcWidth,
                                int SrcHeight, const TPixelGraphic& Source) {
  Flush();
  if (DestWidth == SrcWidth && DestHeight == SrcHeight) {
    CopyRect(DestX, DestY, DestWidth, DestHeight, SrcX, SrcY, Source);
    return;
  }
  if (FWidth < 1 || FHeight < 1 || !FBits || Source.GetWidth() < 1 || Source.GetHeight() < 1 || Source.GetEmpty()) return;
  // An empty source rectangle has nothing to resample; its spans would read outside it
  // or divide by its width.
  if (SrcWidth < 1 || SrcHeight < 1) return;

  const int Left = std::max(DestX, 0);
  const int Right = static_cast<int>(std::min<std::int64_t>(std::int64_t{DestX} + DestWidth - 1, FWidth - 1));
  const int Top = std::max(DestY, 0);
  const int Bottom = static_cast<int>(std::min<std::int64_t>(std::int64_t{DestY} + DestHeight - 1, FHeight - 1));

  TConversionScope Scope(*this);
  SetUpDither(*this);
  const TAxis Cols(FStretchMode, SrcWidth, DestWidth, SrcX, DestX, Source.GetWidth());
  const TAxis Rows(FStretchMode, SrcHeight, DestHeight, SrcY, DestY, Source.GetHeight());

  // Column spans of the listed (valid) columns. The source pixels of a span are
  // contiguous: First, then inner pixels of weight D, then Last.
  std::vector<int> Columns, ColFirst, ColTaps, Checked;
  std::vector<std::uint64_t> ColFirstWeight, ColLastWeight;
  int SrcLo = Source.GetWidth(), SrcHi = -1;
  bool SingleTaps = true, UpToTwoTaps = true;
  for (int x = Left; x <= Right; ++x) {
    const TStretchSpan P = Cols.Span(x);
    if (!P.Valid) continue;
    const int Taps = P.Kind == 0 || P.First == P.Last ? 1 : static_cast<int>(P.Last - P.First + 1);
    Columns.push_back(x);
    ColFirst.push_back(static_cast<int>(P.First));
    ColTaps.push_back(Taps);
    ColFirstWeight.push_back(static_cast<std::uint64_t>(P.FirstWeight));
    ColLastWeight.push_back(static_cast<std::uint64_t>(P.LastWeight));
    SingleTaps &= Taps == 1 && P.FirstWeight == Cols.Divisor;
    UpToTwoTaps &= Taps <= 2;
    SrcLo = std::min(SrcLo, static_cast<int>(P.First));
    SrcHi = std::max(SrcHi, static_cast<int>(P.Last));
    Checked.push_back(static_cast<int>(P.First));
    if (Taps > 1) Checked.push_back(static_cast<int>(P.Last));
  }
  const std::size_t n = Columns.size();
  const TDivider HDiv(Cols.Divisor), VDiv(Rows.Divisor);
  const auto Inner = static_cast<std::uint64_t>(Cols.D);
  // Below 2^24 every horizontal sum fits 32 bits (at most 255 times the divisor).
  const bool NarrowH = Cols.Divisor < (1 << 24);
  const auto Inner32 = static_cast<std::uint32_t>(Cols.D);
  std::vector<std::array<std::uint32_t, 2>> ColWeights32;
  if (NarrowH)
    for (std::size_t c = 0; c < n; ++c)
      ColWeights32.push_back({static_cast<std::uint32_t>(ColFirstWeight[c]), static_cast<std::uint32_t>(ColLastWeight[c])});

  TSourceRows SourceRows(Source);
  // Horizontal sums (divided) of the last two source rows: B, G, R per listed column.
  struct TSummedRow {
    std::int64_t Row = -1;
    std::vector<std::uint32_t> Sums;
  };
  std::array<TSummedRow, 2> Summed;
  int Older = 0;
  const auto SummedRow = [&](std::int64_t i) -> const std::uint32_t* {
    for (auto& S : Summed)
      if (S.Row == i) return S.Sums.data();
    TSummedRow& S = Summed[static_cast<std::size_t>(Older)];
    Older ^= 1;
    S.Row = i;
    S.Sums.resize(3 * n);
    const std::uint8_t* Src = SourceRows.Row(static_cast<int>(i), SrcLo, SrcHi, Checked);
    std::uint32_t* Out = S.Sums.data();
    if (SingleTaps) {
      // One source pixel of full weight: the division gives the pixel back.
      for (std::size_t c = 0; c < n; ++c) {
        const std::uint8_t* p = Src + 3 * static_cast<std::size_t>(ColFirst[c]);
        Out[3 * c] = p[0], Out[3 * c + 1] = p[1], Out[3 * c + 2] = p[2];
      }
    } else if (UpToTwoTaps) {
      for (std::size_t c = 0; c < n; ++c) {
        const std::uint8_t* p = Src + 3 * static_cast<std::size_t>(ColFirst[c]);
        const std::uint64_t wF = ColFirstWeight[c], wL = ColTaps[c] == 2 ? ColLastWeight[c] : 0;
        const std::uint8_t* q = ColTaps[c] == 2 ? p + 3 : p;
        Out[3 * c] = static_cast<std::uint32_t>(HDiv(wF * p[0] + wL * q[0]));
        Out[3 * c + 1] = static_cast<std::uint32_t>(HDiv(wF * p[1] + wL * q[1]));
        Out[3 * c + 2] = static_cast<std::uint32_t>(HDiv(wF * p[2] + wL * q[2]));
      }
    } else if (NarrowH) {
      for (std::size_t c = 0; c < n; ++c) {
        const std::uint8_t* p = Src + 3 * static_cast<std::size_t>(ColFirst[c]);
        const int Taps = ColTaps[c];
        std::uint32_t Sum[3];
        switch (Taps) {  // the usual spans of whole-number ratios, unrolled
          case 3: SumSpan<3>(p, Taps, Inner32, ColWeights32[c], Sum); break;
          case 4: SumSpan<4>(p, Taps, Inner32, ColWeights32[c], Sum); break;
          case 5: SumSpan<5>(p, Taps, Inner32, ColWeights32[c], Sum); break;
          default: SumSpan<0>(p, Taps, Inner32, ColWeights32[c], Sum); break;
        }
        Out[3 * c] = static_cast<std::uint32_t>(HDiv(Sum[0]));
        Out[3 * c + 1] = static_cast<std::uint32_t>(HDiv(Sum[1]));
        Out[3 * c + 2] = static_cast<std::uint32_t>(HDiv(Sum[2]));
      }
    } else {
      for (std::size_t c = 0; c < n; ++c) {
        const std::uint8_t* p = Src + 3 * static_cast<std::size_t>(ColFirst[c]);
        const std::uint64_t wF = ColFirstWeight[c];
        std::uint64_t b = wF * p[0], g = wF * p[1], r = wF * p[2];
        if (ColTaps[c] > 1) {
          const std::uint8_t* Last = p + 3 * static_cast<std::size_t>(ColTaps[c] - 1);
          std::uint64_t sb = 0, sg = 0, sr = 0;
          for (const std::uint8_t* q = p + 3; q < Last; q += 3) sb += q[0], sg += q[1], sr += q[2];
          const std::uint64_t wL = ColLastWeight[c];
          b += Inner * sb + wL * Last[0];
          g += Inner * sg + wL * Last[1];
          r += Inner * sr + wL * Last[2];
        }
        Out[3 * c] = static_cast<std::uint32_t>(HDiv(b));
        Out[3 * c + 1] = static_cast<std::uint32_t>(HDiv(g));
        Out[3 * c + 2] = static_cast<std::uint32_t>(HDiv(r));
      }
    }
    return Out;
  };

  // Vertical sums stay below 2^32 when the divisor is below 2^24 (each term is at
  // most 255 times its weight), so they fit 32-bit lanes the compiler can vectorise.
  const bool Narrow = Rows.Divisor < (1 << 24);
  std::vector<std::uint32_t> Acc32(3 * n);
  std::vector<std::uint64_t> Acc64(Narrow ? 0 : 3 * n);
  std::vector<std::uint8_t> Colors(3 * n);
  Scope.Start();
  for (int y = Top; y <= Bottom; ++y) {
    const TStretchSpan P = Rows.Span(y);
    if (!P.Valid) {
      if (Dithering()) NextDitherRow();
      continue;
    }
    if ((P.Kind == 0 || P.First == P.Last) && P.FirstWeight == Rows.Divisor) {
      // One source row of full weight: its sums are the colours.
      const std::uint32_t* Sums = SummedRow(P.First);
      for (std::size_t c = 0; c < 3 * n; ++c) Colors[c] = static_cast<std::uint8_t>(Sums[c]);
    } else if (Narrow) {
      std::fill(Acc32.begin(), Acc32.end(), 0);
      Rows.ForEachTap(P, [&](std::int64_t i, std::int64_t w) {
        const std::uint32_t* Sums = SummedRow(i);
        const auto W = static_cast<std::uint32_t>(w);
        std::uint32_t* A = Acc32.data();
        for (std::size_t c = 0; c < 3 * n; ++c) A[c] += Sums[c] * W;
      });
      for (std::size_t c = 0; c < 3 * n; ++c) Colors[c] = static_cast<std::uint8_t>(VDiv(Acc32[c]));
    } else {
      std::fill(Acc64.begin(), Acc64.end(), 0);
      Rows.ForEachTap(P, [&](std::int64_t i, std::int64_t w) {
        const std::uint32_t* Sums = SummedRow(i);
        for (std::size_t c = 0; c < 3 * n; ++c) Acc64[c] += Sums[c] * static_cast<std::uint64_t>(w);
      });
      for (std::size_t c = 0; c < 3 * n; ++c) Colors[c] = static_cast<std::uint8_t>(VDiv(Acc64[c]));
    }
    WriteConverted(*this, y, Columns, Colors.data());
    if (Progress(y - Top, Bottom - Top)) break;
  }
}

void TPixelGraphic::CopyRect(int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY,
                             const TPixelGraphic& Source) {
  Flush();
  if (FWidth < 1 || FHeight < 1 || Source.GetWidth() < 1 || Source.GetHeight() < 1) return;

  // Destination columns inside both images.
  const std::int64_t Shift = std::int64_t{SrcX} - DestX;
  const std::int64_t Lo = std::max<std::int64_t>({DestX, 0, -Shift});
  const std::int64_t Hi = std::min<std::int64_t>({std::int64_t{DestX} + DestWidth - 1, FWidth - 1, Source.GetWidth() - 1 - Shift});
  TConversionScope Scope(*this);
  if (Lo > Hi) return;

  SetUpDither(*this);
  Scope.Start();
  const int Top = std::max(DestY, 0);
  const int Bottom = static_cast<int>(std::min<std::int64_t>(std::int64_t{DestY} + DestHeight - 1, FHeight - 1));
  const bool Bytes24 = FBitCountNum == 3 && Source.GetBitCountNum() == 3;
  std::vector<int> Columns;
  for (auto x = Lo; x <= Hi; ++x) Columns.push_back(static_cast<int>(x));
  std::vector<int> SourceColumns;
  for (auto x = Lo; x <= Hi; ++x) SourceColumns.push_back(static_cast<int>(x + Shift));
  std::vector<std::uint8_t> Colors(3 * Columns.size());
  TSourceRows SourceRows(Source);
  for (int y = Top; y <= Bottom; ++y) {
    const std::int64_t sy = std::int64_t{y} + SrcY - DestY;
    if (sy < 0 || sy >= Source.GetHeight()) continue;
    const auto First = static_cast<int>(Lo + Shift), Last = static_cast<int>(Hi + Shift);
    const std::uint8_t* Src = SourceRows.Row(static_cast<int>(sy), First, Last, SourceColumns);
    if (Bytes24) {
      std::memcpy(GetScanLine(y) + 3 * Lo, Src + 3 * static_cast<std::size_t>(First), 3 * Columns.size());
      continue;
    }
    std::memcpy(Colors.data(), Src + 3 * static_cast<std::size_t>(First), Colors.size());
    WriteConverted(*this, y, Columns, Colors.data());
    if (Progress(y - Top, Bottom - Top)) break;
  }
}

}  // namespace pg
