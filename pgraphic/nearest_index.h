#pragma once
// Nearest palette index of a colour for each standard palette, as closed formulas or
// small candidate searches. Shared by NearestPaletteIndex and the row writers of the
// conversion engine, which call them without the per-call overhead.

#include "pgraphic/palettes.h"

namespace pg::nearest {

constexpr int Dist2(TRGB A, TRGB B) {
  const int dr = RedOf(A) - RedOf(B), dg = GreenOf(A) - GreenOf(B), db = BlueOf(A) - BlueOf(B);
  return dr * dr + dg * dg + db * db;
}

inline int Sys16(TRGB Color) {
  const auto& Cand = Sys16Candidates[static_cast<std::size_t>(((RedOf(Color) >> 6) << 4) + ((GreenOf(Color) >> 6) << 2) +
                                                              (BlueOf(Color) >> 6))];
  const TRGB* Pal = Special252Colors.data();
  int Result = Cand[0];
  if (Cand[1] != Cand[0] && Dist2(Color, Pal[Cand[1]]) < Dist2(Color, Pal[Result])) Result = Cand[1];
  if (Cand[2] != Cand[1] && Dist2(Color, Pal[Cand[2]]) < Dist2(Color, Pal[Result])) Result = Cand[2];
  return Result;
}

inline int Special252(const TSpecial252Cells& Cells, TRGB Color) {
  const int n = 81 * ((RedOf(Color) + 16) >> 5) + 9 * ((GreenOf(Color) + 16) >> 5) + ((BlueOf(Color) + 16) >> 5);
  const int First = Cells.Start[static_cast<std::size_t>(n)], Last = Cells.Start[static_cast<std::size_t>(n) + 1];
  int Result = Cells.Entries[static_cast<std::size_t>(First)];
  int Best = Dist2(Color, Special252Colors[static_cast<std::size_t>(Result)]);
  for (int i = First + 1; i < Last; ++i) {
    const int e = Cells.Entries[static_cast<std::size_t>(i)];
    const int d = Dist2(Color, Special252Colors[static_cast<std::size_t>(e)]);
    if (d < Best) {
      Best = d;
      Result = e;
    }
  }
  return Result;
}

inline int Special125Level(int c) { return ((c == 224 ? 225 : c) + 31) / 64; }

// Calls F with a functor TRGB -> index for a standard palette identity and returns
// true; returns false (without calling F) for the others.
template <typename F>
bool WithStandard(TPaletteIdent Ident, bool Weighted, F&& Use) {
  const auto Gray = [Weighted](TRGB C) { return GrayValue(C, Weighted); };
  switch (Ident) {
    case pBlackWhite: Use([=](TRGB C) { return (Gray(C) + 1) / 384; }); return true;
    case pSysGray4:
      Use([=](TRGB C) {
        const int v = Gray(C);
        return v < 193 ? 0 : v < 481 ? 1 : v < 671 ? 2 : 3;
      });
      return true;
    case pSys16: Use([](TRGB C) { return Sys16(C); }); return true;
    case pGray4: Use([=](TRGB C) { return (Gray(C) + 127) / 255; }); return true;
    case pGray16: Use([=](TRGB C) { return (Gray(C) + 25) / 51; }); return true;
    case pGray236: {
      const std::uint8_t* L = Gray236Lookup().data();
      Use([=](TRGB C) { return static_cast<int>(L[Gray(C)]); });
      return true;
    }
    case pGray256: Use([=](TRGB C) { return (Gray(C) + 1) / 3; }); return true;
    case pSpecial125:
      Use([](TRGB C) { return 25 * Special125Level(RedOf(C)) + 5 * Special125Level(GreenOf(C)) + Special125Level(BlueOf(C)); });
      return true;
    case pSpecial216:
      Use([](TRGB C) { return 36 * ((RedOf(C) + 24) / 51) + 6 * ((GreenOf(C) + 24) / 51) + (BlueOf(C) + 24) / 51; });
      return true;
    case pSpecial252: {
      const TSpecial252Cells& Cells = Special252Cells();
      Use([&Cells](TRGB C) { return Special252(Cells, C); });
      return true;
    }
    default: return false;
  }
}

}  // namespace pg::nearest
