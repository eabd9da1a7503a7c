#include "tests/pgraphic/stretch_reference.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

using namespace pg;

namespace ref {

namespace {

bool Inside(std::int64_t V, std::int64_t Size) { return V >= 0 && V < Size; }

int Clamp255(std::int64_t V) { return static_cast<int>(std::clamp<std::int64_t>(V, 0, 255)); }

// The source pixels of a span with their weights; Inner weighs the inner pixels.
std::vector<std::pair<std::int64_t, std::int64_t>> Members(const TSpan& S, std::int64_t Inner) {
  std::vector<std::pair<std::int64_t, std::int64_t>> M;
  if (S.Kind == 2) {
    for (std::int64_t i = S.First; i <= S.Last; ++i)
      M.emplace_back(i, i == S.First ? S.FirstWeight : i == S.Last ? S.LastWeight : Inner);
  } else {
    M.emplace_back(S.First, S.FirstWeight);
    if (S.Last != S.First) M.emplace_back(S.Last, S.LastWeight);
  }
  return M;
}

// The pixel writer: 24-bit stores the colour, palettes dither or take the nearest index.
void WritePixel(TPixelGraphic& Dest, std::optional<TDither>& Dither, int X, int Y, int R, int G, int B) {
  if (R < 0 || R > 255 || G < 0 || G > 255 || B < 0 || B > 255) throw std::logic_error("channel out of range");
  if (Dest.GetBitCountNum() == 3) Dest.SetPixel(X, Y, RGBColor(R, G, B));
  else if (Dither) Dither->Pixel(X, Y, R, G, B);
  else Dest.SetPixel(X, Y, Dest.NearestPaletteIndex(RGBColor(R, G, B)));
}

std::optional<TDither> SetUpDither(TPixelGraphic& Dest) {
  std::optional<TDither> D;
  if (Dest.GetDither() && Dest.GetBitCountNum() < 3) D.emplace(Dest);
  return D;
}

std::string Progress(int Step, int Max) { return "P" + std::to_string(Step) + "/" + std::to_string(Max); }

}  // namespace

TAxis MakeAxis(TStretchMode Mode, int S, int D, int SrcOrigin, int DestOrigin, int SrcSize) {
  TAxis A;
  A.S = S;
  A.D = D;
  A.SrcOrigin = SrcOrigin;
  A.DestOrigin = DestOrigin;
  A.SrcSize = SrcSize;
  const auto Set = [&](TAxisMethod M, std::int64_t Divisor) {
    A.Method = M;
    A.Divisor = Divisor;
  };
  switch (Mode) {
    case smFast: Set(TAxisMethod::Nearest, 1); break;
    case smMedium:
      if (S > D) Set(TAxisMethod::Interpolation, 2 * A.D);
      else if (S < D) Set(TAxisMethod::Area, A.S);
      else Set(TAxisMethod::Copy, 1);
      break;
    case smPrecise:
      if (S > D) Set(TAxisMethod::Area, A.S);
      else if (S < D) Set(TAxisMethod::Interpolation, 2 * A.D);
      else Set(TAxisMethod::Copy, 1);
      break;
  }
  return A;
}

TSpan SpanOf(const TAxis& Ax, std::int64_t A) {
  // Plain C++ division truncates toward zero, as the resampling rules require.
  const std::int64_t k = A - Ax.DestOrigin, S = Ax.S, D = Ax.D, X0 = Ax.SrcOrigin, Size = Ax.SrcSize;
  TSpan Sp;
  switch (Ax.Method) {
    case TAxisMethod::Nearest:
      Sp.First = Sp.Last = X0 + (k * S) / D;
      Sp.Valid = Inside(Sp.First, Size);
      break;
    case TAxisMethod::Copy:
      Sp.First = Sp.Last = X0 + k;
      Sp.Valid = Inside(Sp.First, Size);
      break;
    case TAxisMethod::Interpolation: {
      const std::int64_t u = S * (2 * k + 1);
      Sp.First = X0 + (u - D) / (2 * D);
      Sp.Last = X0 + (u + D) / (2 * D);
      Sp.Valid = Inside(Sp.First, Size) && Inside(Sp.Last, Size);
      if (!Sp.Valid && S < D &&
          ((Sp.First < 0 && 0 <= Sp.Last) || (Sp.First < Size && Size <= Sp.Last))) {
        Sp.First = std::clamp<std::int64_t>(Sp.First, 0, Size - 1);
        Sp.Last = std::clamp<std::int64_t>(Sp.Last, 0, Size - 1);
        Sp.Valid = true;
      }
      const std::int64_t hF = D * (2 * (Sp.First - X0) + 1), hL = D * (2 * (Sp.Last - X0) + 1);
      Sp.FirstWeight = 2 * D - (u - hF);
      Sp.LastWeight = 2 * D - (hL - u);
      Sp.Kind = 1;
      if (hF == u || Sp.First == Sp.Last) {
        Sp.Kind = 0;
        Sp.FirstWeight = 2 * D;
      }
      break;
    }
    case TAxisMethod::Area: {
      const std::int64_t m = (k + 1) * S;
      Sp.First = X0 + (k * S) / D;
      Sp.Last = X0 + m / D - (m % D == 0 ? 1 : 0);
      Sp.Valid = Inside(Sp.First, Size) && Inside(Sp.Last, Size);
      Sp.FirstWeight = (Sp.First - X0 + 1) * D - k * S;
      Sp.LastWeight = m - (Sp.Last - X0) * D;
      if (Sp.First == Sp.Last) {
        Sp.FirstWeight = S;
        Sp.Kind = 0;
      } else {
        Sp.Kind = Sp.Last - Sp.First >= 2 ? 2 : 1;
      }
      break;
    }
  }
  return Sp;
}

std::array<int, 511> LimitCurve(int L, bool Soft) {
  std::array<int, 256> T{};
  for (int i = 0; i <= 255; ++i) T[static_cast<std::size_t>(i)] = i;
  if (L < 255)
    for (int i = L; i <= 255; ++i) T[static_cast<std::size_t>(i)] = L;
  if (Soft)
    for (int i = L / 2; i <= (3 * L) / 2 && i < 255; ++i) T[static_cast<std::size_t>(i)] = i / 2 + L / 4;
  std::array<int, 511> Curve{};
  for (int i = 0; i <= 255; ++i) {
    Curve[static_cast<std::size_t>(255 + i)] = T[static_cast<std::size_t>(i)];
    Curve[static_cast<std::size_t>(255 - i)] = -T[static_cast<std::size_t>(i)];
  }
  return Curve;
}

void ChooseLimit(const TPixelGraphic& Dest, int& Limit, bool& Soft) {
  if (!Dest.GetDitherErrorLimitAuto()) {
    Limit = Dest.GetDitherErrorLimit();
    Soft = Dest.GetDitherErrorLimitSoft();
    return;
  }
  Soft = true;
  switch (Dest.PaletteIdent()) {
    case pBlackWhite: Limit = 255; break;
    case pSysGray4:
    case pSys16:
    case pGray4: Limit = 128; break;
    case pGray236: Limit = 3; break;
    case pGray256: Limit = 2; break;
    case pSpecial125:
    case pSpecial252: Limit = 104; break;
    case pSpecial216: Limit = 86; break;
    default: Limit = 32; break;  // pNone, pTrueColor, pUnknown, pGray16
  }
}

TDither::TDither(TPixelGraphic& Dest) : FDest(Dest) {
  const std::size_t n = 3 * (static_cast<std::size_t>(Dest.GetWidth()) + 2);
  FCur.assign(n, 0);
  FNext.assign(n, 0);
  for (int i = 0; i < Dest.PaletteCount(); ++i) {
    const TRGB C = Dest.GetPaletteEntry(i);
    if (RedOf(C) != BlueOf(C) || GreenOf(C) != BlueOf(C)) FIsGray = false;
  }
  int L = 0;
  bool Soft = false;
  ChooseLimit(Dest, L, Soft);
  FCurve = LimitCurve(L, Soft);
}

void TDither::NextRow() {
  std::swap(FCur, FNext);
  std::fill(FNext.begin(), FNext.end(), 0);
}

void TDither::Spread(std::vector<std::int64_t>& Row, int X, int Channel, std::int64_t Amount) {
  Row[3 * static_cast<std::size_t>(X + 1) + static_cast<std::size_t>(Channel)] += Amount;
}

void TDither::Pixel(int X, int Y, int R, int G, int B) {
  if (X < 0 || X >= FDest.GetWidth()) throw std::logic_error("dither column outside the image");
  const auto Curve = [&](int Channel) {
    const std::int64_t a = FCur[3 * static_cast<std::size_t>(X + 1) + static_cast<std::size_t>(Channel)];
    const std::int64_t e = a >= 0 ? (a + 8) >> 4 : -((8 - a) >> 4);
    if (e < -255 || e > 255) throw std::logic_error("accumulated error beyond one channel width");
    return FCurve[static_cast<std::size_t>(255 + e)];
  };
  std::array<std::int64_t, 3> d{};
  if (!FIsGray) {
    const int R1 = Clamp255(Curve(0) + R), G1 = Clamp255(Curve(1) + G), B1 = Clamp255(Curve(2) + B);
    const int k = FDest.NearestPaletteIndex(RGBColor(R1, G1, B1));
    FDest.SetPixel(X, Y, k);
    const TRGB P = FDest.GetPaletteEntry(k);
    d = {R1 - RedOf(P), G1 - GreenOf(P), B1 - BlueOf(P)};
  } else {
    const int v = Clamp255(GrayValue(RGBColor(R, G, B), FDest.GetRGBWeighting()) / 3 + Curve(1));
    const int k = FDest.NearestPaletteIndex(RGBColor(v, v, v));
    FDest.SetPixel(X, Y, k);
    d = {0, v - GreenOf(FDest.GetPaletteEntry(k)), 0};
  }
  // Even rows run left to right, odd rows right to left: "ahead" flips with them.
  const int Ahead = (Y % 2 == 0) ? 1 : -1;
  for (int c = 0; c < 3; ++c) {
    Spread(FCur, X + Ahead, c, 7 * d[static_cast<std::size_t>(c)]);
    Spread(FNext, X - Ahead, c, 3 * d[static_cast<std::size_t>(c)]);
    Spread(FNext, X, c, 5 * d[static_cast<std::size_t>(c)]);
    Spread(FNext, X + Ahead, c, 1 * d[static_cast<std::size_t>(c)]);
  }
}

std::string StretchRect(TPixelGraphic& Dest, int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY,
                        int SrcWidth, int SrcHeight, const TPixelGraphic& Source, const TAbortRule& Abort) {
  if (DestWidth == SrcWidth && DestHeight == SrcHeight)
    return CopyRect(Dest, DestX, DestY, DestWidth, DestHeight, SrcX, SrcY, Source, Abort);
  TEvents Ev;
  if (Dest.GetWidth() < 1 || Dest.GetHeight() < 1 || Source.GetWidth() < 1 || Source.GetHeight() < 1 ||
      Dest.GetEmpty() || Source.GetEmpty())
    return Ev.Text;

  const std::int64_t Left = std::max(DestX, 0), Right = std::min<std::int64_t>(std::int64_t{DestX} + DestWidth - 1, Dest.GetWidth() - 1);
  const std::int64_t Top = std::max(DestY, 0), Bottom = std::min<std::int64_t>(std::int64_t{DestY} + DestHeight - 1, Dest.GetHeight() - 1);
  std::optional<TDither> Dither = SetUpDither(Dest);

  const TAxis H = MakeAxis(Dest.GetStretchMode(), SrcWidth, DestWidth, SrcX, DestX, Source.GetWidth());
  const TAxis V = MakeAxis(Dest.GetStretchMode(), SrcHeight, DestHeight, SrcY, DestY, Source.GetHeight());
  // An area axis over an empty source extent divides by 0: no defined result.
  if ((H.Divisor == 0 && H.D > 0) || (V.Divisor == 0 && V.D > 0)) throw std::logic_error("divisor 0");
  std::vector<TSpan> Columns;
  std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> ColumnMembers;
  for (std::int64_t x = Left; x <= Right; ++x) {
    Columns.push_back(SpanOf(H, x));
    ColumnMembers.push_back(Members(Columns.back(), H.D));
  }
  Ev.Add("S");

  for (std::int64_t y = Top; y <= Bottom; ++y) {
    if (Dither) Dither->NextRow();
    const TSpan Row = SpanOf(V, y);
    if (!Row.Valid) continue;
    const auto RowMembers = Members(Row, V.D);
    for (std::int64_t n = 0; n <= Right - Left; ++n) {
      const std::int64_t x = y % 2 == 0 ? Left + n : Right - n;
      const std::size_t c = static_cast<std::size_t>(x - Left);
      if (!Columns[c].Valid) continue;
      std::array<std::int64_t, 3> Acc{};
      for (const auto& [i, wr] : RowMembers) {
        std::array<std::int64_t, 3> Sum{};
        for (const auto& [j, wc] : ColumnMembers[c]) {
          const TRGB C = Source.GetPixelColor(static_cast<int>(j), static_cast<int>(i));
          Sum[0] += wc * RedOf(C);
          Sum[1] += wc * GreenOf(C);
          Sum[2] += wc * BlueOf(C);
        }
        for (std::size_t n = 0; n < 3; ++n) Acc[n] += (Sum[n] / H.Divisor) * wr;
      }
      WritePixel(Dest, Dither, static_cast<int>(x), static_cast<int>(y), static_cast<int>(Acc[0] / V.Divisor),
                 static_cast<int>(Acc[1] / V.Divisor), static_cast<int>(Acc[2] / V.Divisor));
    }
    const int Step = static_cast<int>(y - Top), Max = static_cast<int>(Bottom - Top);
    Ev.Add(Progress(Step, Max));
    if (Abort && Abort(Step, Max)) break;
  }
  Ev.Add("E");
  Ev.Add("C");
  return Ev.Text;
}

std::string CopyRect(TPixelGraphic& Dest, int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY,
                     const TPixelGraphic& Source, const TAbortRule& Abort) {
  TEvents Ev;
  if (Dest.GetWidth() < 1 || Dest.GetHeight() < 1 || Source.GetWidth() < 1 || Source.GetHeight() < 1) return Ev.Text;

  // Columns x of the destination rectangle inside Self whose source column
  // x + SrcX - DestX lies inside Source.
  const std::int64_t Shift = std::int64_t{SrcX} - DestX;
  const std::int64_t Left = std::max({std::int64_t{DestX}, std::int64_t{0}, -Shift});
  const std::int64_t Right = std::min({std::int64_t{DestX} + DestWidth - 1, std::int64_t{Dest.GetWidth()} - 1,
                                       Source.GetWidth() - 1 - Shift});
  if (Left > Right) {
    Ev.Add("C");
    return Ev.Text;
  }

  std::optional<TDither> Dither = SetUpDither(Dest);
  Ev.Add("S");
  const std::int64_t Top = std::max(DestY, 0), Bottom = std::min<std::int64_t>(std::int64_t{DestY} + DestHeight - 1, Dest.GetHeight() - 1);
  const bool Both24 = Dest.GetBitCountNum() == 3 && Source.GetBitCountNum() == 3;
  for (std::int64_t y = Top; y <= Bottom; ++y) {
    const std::int64_t sy = y + SrcY - DestY;
    if (!Inside(sy, Source.GetHeight())) continue;
    if (Both24) {
      for (std::int64_t x = Left; x <= Right; ++x)
        Dest.SetPixel(static_cast<int>(x), static_cast<int>(y), Source.GetPixel(static_cast<int>(x + Shift), static_cast<int>(sy)));
      continue;
    }
    if (Dither) Dither->NextRow();
    for (std::int64_t n = 0; n <= Right - Left; ++n) {
      const std::int64_t x = y % 2 == 0 ? Left + n : Right - n;
      const TRGB C = Source.GetPixelColor(static_cast<int>(x + Shift), static_cast<int>(sy));
      WritePixel(Dest, Dither, static_cast<int>(x), static_cast<int>(y), RedOf(C), GreenOf(C), BlueOf(C));
    }
    const int Step = static_cast<int>(y - Top), Max = static_cast<int>(Bottom - Top);
    Ev.Add(Progress(Step, Max));
    if (Abort && Abort(Step, Max)) break;
  }
  Ev.Add("E");
  Ev.Add("C");
  return Ev.Text;
}

void RecordEvents(TPixelGraphic& G, std::string& Log, const TAbortRule& Abort) {
  const auto Add = [&Log](const std::string& E) { Log += (Log.empty() ? "" : " ") + E; };
  TPixelGraphic* Self = &G;
  const auto Check = [Self, Add](TObject* Sender) {
    if (Sender != Self) Add("?sender");
  };
  G.SetOnProgressStart([=](TObject* Sender) { Check(Sender); Add("S"); });
  G.SetOnProgressEnd([=](TObject* Sender) { Check(Sender); Add("E"); });
  G.SetOnChange([=](TObject* Sender) { Check(Sender); Add("C"); });
  G.SetOnProgress([=](TObject* Sender, int Step, int Max, bool& Stop) {
    Check(Sender);
    if (Stop) Add("?abort-preset");
    Add(Progress(Step, Max));
    if (Abort) Stop = Abort(Step, Max);
  });
}

// --- random test images -------------------------------------------------------------

std::string TPaletteChoice::Name() const {
  static const char* const Idents[] = {"pNone",   "pTrueColor", "pUnknown",    "pBlackWhite", "pSysGray4",
                                       "pSys16",  "pGray4",     "pGray16",     "pGray236",    "pGray256",
                                       "pSpecial125", "pSpecial216", "pSpecial252", "pOptimized252Sys16", "pSource"};
  switch (Kind) {
    case TPaletteKind::Standard: return Idents[Ident];
    case TPaletteKind::RandomColor: return "random colours";
    case TPaletteKind::RandomGray: return "random greys";
    case TPaletteKind::RandomShort: return "short random palette";
    case TPaletteKind::NearlyGray: return "greys and one tinted entry";
  }
  return "?";
}

std::vector<TPaletteChoice> PaletteChoices(int Num) {
  std::vector<TPaletteChoice> C;
  const auto Std = [&](TPaletteIdent I) { C.push_back({TPaletteKind::Standard, I}); };
  switch (Num) {
    case 0: Std(pBlackWhite); break;
    case 1:
      for (const auto I : {pBlackWhite, pSysGray4, pSys16, pGray4, pGray16}) Std(I);
      break;
    case 2:
      for (const auto I : {pBlackWhite, pSys16, pGray4, pGray16, pGray236, pGray256, pSpecial125, pSpecial216, pSpecial252})
        Std(I);
      break;
    default: return {{TPaletteKind::Standard, pTrueColor}};
  }
  for (const auto K : {TPaletteKind::RandomColor, TPaletteKind::RandomGray, TPaletteKind::RandomShort, TPaletteKind::NearlyGray})
    C.push_back({K, pUnknown});
  return C;
}

void ApplyPalette(TPixelGraphic& G, const TPaletteChoice& Choice, std::mt19937& Rng) {
  if (G.GetBitCountNum() == 3) return;
  if (Choice.Kind == TPaletteKind::Standard) {
    G.SetPaletteIdent(Choice.Ident);
    return;
  }
  const int Max = G.MaxPaletteCount();
  const int Count = Choice.Kind == TPaletteKind::RandomShort ? std::uniform_int_distribution<int>(1, std::max(1, Max / 4))(Rng) : Max;
  std::uniform_int_distribution<int> Byte(0, 255);
  std::vector<TRGB> Entries(static_cast<std::size_t>(Count));
  // A stand-in that happened to equal a standard palette would be recognised as that
  // palette (with its own search and error limit) once the image refreshes its
  // palette information: draw again.
  const auto IsStandard = [&] {
    for (int I = pBlackWhite; I <= pSpecial252; ++I) {
      const auto Std = StandardPalette(static_cast<TPaletteIdent>(I));
      if (std::equal(Std.begin(), Std.end(), Entries.begin(), Entries.end())) return true;
    }
    return false;
  };
  do {
    for (TRGB& E : Entries) {
      const int v = Byte(Rng);
      E = Choice.Kind == TPaletteKind::RandomGray || Choice.Kind == TPaletteKind::NearlyGray ? RGBColor(v, v, v)
                                                                                              : RGBColor(v, Byte(Rng), Byte(Rng));
    }
    if (Choice.Kind == TPaletteKind::NearlyGray) {
      // One channel of one entry leaves the grey axis (by at least one step).
      TRGB& E = Entries[static_cast<std::size_t>(std::uniform_int_distribution<int>(0, Count - 1)(Rng))];
      const int Shift = 8 * std::uniform_int_distribution<int>(0, 2)(Rng);
      const int c = (E >> Shift) & 0xFF;
      E = (E & ~(0xFF << Shift)) | (((c + std::uniform_int_distribution<int>(1, 255)(Rng)) & 0xFF) << Shift);
    }
  } while (IsStandard());
  G.SetPaletteCount(Count);
  for (int i = 0; i < Count; ++i) G.SetPaletteEntry(i, Entries[static_cast<std::size_t>(i)]);
}

void FillRandom(TPixelGraphic& G, std::mt19937& Rng) {
  const int W = G.GetWidth(), H = G.GetHeight();
  const int Pattern = std::uniform_int_distribution<int>(0, 2)(Rng);
  std::uniform_int_distribution<int> Byte(0, 255);
  const int Count = G.GetBitCountNum() == 3 ? 0 : G.PaletteCount();
  const int R0 = Byte(Rng), G0 = Byte(Rng), B0 = Byte(Rng);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (Count > 0) {
        // Indices: noise, runs of one index, or a ramp through the palette.
        const int v = Pattern == 0 ? Byte(Rng) : Pattern == 1 ? (x / 3 + y / 2) * 7 : x + W * y;
        G.SetPixel(x, y, v % Count);
        continue;
      }
      int r, g, b;
      if (Pattern == 0) {
        r = Byte(Rng), g = Byte(Rng), b = Byte(Rng);
      } else if (Pattern == 1) {  // gradients with a little noise
        r = std::clamp(R0 + 255 * x / std::max(W, 1) - 128 + Byte(Rng) % 9, 0, 255);
        g = std::clamp(G0 + 255 * y / std::max(H, 1) - 128 + Byte(Rng) % 9, 0, 255);
        b = std::clamp(B0 + (x - y) * 4, 0, 255);
      } else {  // extremes, which drive the error rows hardest
        r = (Byte(Rng) & 1) * 255, g = (Byte(Rng) & 1) * 255, b = (Byte(Rng) & 1) * 255;
      }
      G.SetPixel(x, y, RGBColor(r, g, b));
    }
}

}  // namespace ref
