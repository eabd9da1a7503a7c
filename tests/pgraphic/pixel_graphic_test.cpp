#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "pgraphic/exceptions.h"
#include "pgraphic/pixel_graphic.h"

using namespace pg;

namespace {

std::uint32_t ReadLE32(const std::uint8_t* P) { return P[0] | P[1] << 8 | P[2] << 16 | static_cast<std::uint32_t>(P[3]) << 24; }

}  // namespace

TEST(PixelGraphic, NewImageIsEmptyTrueColor) {
  TPixelGraphic G;
  EXPECT_TRUE(G.GetEmpty());
  EXPECT_EQ(G.GetBitCountNum(), 3);
  EXPECT_EQ(G.PaletteIdent(), pTrueColor);
  EXPECT_EQ(G.GetPixel(0, 0), 0);
  EXPECT_EQ(G.GetScanLine(0), nullptr);
  EXPECT_EQ(G.GetBitmapInfo(), nullptr);
  EXPECT_EQ(G.GetGamma(), 1.8L);
}

TEST(PixelGraphic, StrideAndSize) {
  struct Case { int W, H, Num, BytesPerLine, ImageSize; };
  const Case Cases[] = {{3, 2, 0, 4, 8}, {33, 1, 0, 8, 8}, {1, 1, 3, 4, 4}, {9, 3, 1, 8, 24}, {5, 2, 2, 8, 16}, {7, 0, 3, 24, 0}};
  for (const auto& C : Cases) {
    TPixelGraphic G;
    G.SetFormat(C.W, C.H, C.Num);
    EXPECT_EQ(G.BytesPerLine(), C.BytesPerLine) << C.W << "x" << C.H << " num " << C.Num;
    EXPECT_EQ(G.ImageSize(), C.ImageSize);
    EXPECT_EQ(G.GetEmpty(), C.ImageSize == 0);
  }
}

TEST(PixelGraphic, BitmapInfoDescribesMemory) {
  TPixelGraphic G;
  G.SetPaletteIdent(pGray16);
  G.SetFormat(10, 3, 1);
  const std::uint8_t* H = G.GetBitmapInfo();
  ASSERT_NE(H, nullptr);
  EXPECT_EQ(ReadLE32(H), 40u);
  EXPECT_EQ(ReadLE32(H + 4), 10u);
  EXPECT_EQ(ReadLE32(H + 8), 3u);
  EXPECT_EQ(H[12] | H[13] << 8, 1);
  EXPECT_EQ(H[14] | H[15] << 8, 4);
  EXPECT_EQ(ReadLE32(H + 20), 24u);
  EXPECT_EQ(ReadLE32(H + 32), 16u);
  EXPECT_EQ(H[40 + 4 * 1], 17);  // entry 1 blue
  G.SetPaletteEntry(2, RGBColor(1, 2, 3));
  EXPECT_EQ(H[40 + 8], 3);
  EXPECT_EQ(H[40 + 9], 2);
  EXPECT_EQ(H[40 + 10], 1);
  G.SetPaletteCount(5);
  EXPECT_EQ(ReadLE32(H + 32), 5u);
}

TEST(PixelGraphic, PixelLayout) {
  TPixelGraphic G4;
  G4.SetFormat(3, 2, 1);
  G4.SetPixel(0, 0, 0xA);
  G4.SetPixel(1, 0, 0x15);  // only the low four bits are stored
  EXPECT_EQ(G4.GetScanLine(0)[0], 0xA5);
  EXPECT_EQ(G4.GetScanLine(0), G4.GetBits() + 4);  // bottom-up rows
  EXPECT_EQ(G4.GetPixel(1, 0), 5);

  TPixelGraphic G1;
  G1.SetFormat(9, 1, 0);
  G1.SetPixel(0, 0, 1);
  G1.SetPixel(8, 0, 1);
  EXPECT_EQ(G1.GetBits()[0], 0x80);
  EXPECT_EQ(G1.GetBits()[1], 0x80);
  G1.SetPixel(0, 0, 2);  // anything but 1 clears the bit
  EXPECT_EQ(G1.GetPixel(0, 0), 0);

  TPixelGraphic G24;
  G24.SetFormat(2, 1, 3);
  G24.SetPixel(1, 0, RGBColor(1, 2, 3));
  EXPECT_EQ(G24.GetBits()[3], 3);
  EXPECT_EQ(G24.GetBits()[4], 2);
  EXPECT_EQ(G24.GetBits()[5], 1);
  EXPECT_EQ(G24.GetPixelColor(1, 0), RGBColor(1, 2, 3));
}

TEST(PixelGraphic, OutOfRangeAccessUsesFillValue) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 2);
  G.SetFillValue(7);
  for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}}) {
    EXPECT_EQ(G.GetPixel(x, y), 7);
    G.SetPixel(x, y, 9);
  }
  for (int i = 0; i < G.ImageSize(); ++i) EXPECT_EQ(G.GetBits()[i], 0);
}

TEST(PixelGraphic, SameFormatRefillsOtherFormatZeroes) {
  for (int Num : {0, 1, 2, 3}) {
    TPixelGraphic G;
    G.SetFormat(5, 3, Num);
    G.SetFillValue(1);
    G.SetFormat(5, 3, Num);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(G.GetPixel(x, y), 1) << "depth " << Num;
    G.SetFormat(5, 4, Num);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(G.GetPixel(x, y), 0);
  }
}

TEST(PixelGraphic, FormatErrors) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 2);
  try {
    G.SetFormat(-1, -1, 3);
    FAIL();
  } catch (const EPGInvalidSize& E) {
    EXPECT_STREQ(E.what(), "Negative width");
  }
  try {
    G.SetFormat(5, -1, 3);
    FAIL();
  } catch (const EPGInvalidSize& E) {
    EXPECT_STREQ(E.what(), "Negative height");
  }
  EXPECT_EQ(G.GetWidth(), 2);  // a failed size check changes nothing
  EXPECT_EQ(G.GetBitCountNum(), 2);
  EXPECT_THROW(BitCountToNum(2), EPGInvalidBitCountNum);
  EXPECT_EQ(BitCountToNum(24), 3);
  try {
    BitCountToNum(16);
  } catch (const EPGInvalidBitCountNum& E) {
    EXPECT_STREQ(E.what(), "Invalid value for BitCountNum");
  }
}

TEST(PixelGraphic, SizeBeyondThirtyTwoBitsFailsCleanly) {
  const int Max = std::numeric_limits<int>::max();
  for (auto [W, H] : {std::pair{Max, 1}, {70000, 70000}, {Max, Max}}) {
    TPixelGraphic G;
    try {
      G.SetFormat(W, H, 3);
      FAIL() << W << "x" << H;
    } catch (const EPixelGraphic& E) {
      EXPECT_STREQ(E.what(), "CreateDIBSection failed");
    }
    EXPECT_TRUE(G.GetEmpty());
    EXPECT_EQ(G.GetWidth(), 0);
    EXPECT_EQ(G.GetPixel(0, 0), 0);
    G.SetPixel(0, 0, 1);  // no memory: ignored
  }
}

TEST(PixelGraphic, DepthChangeTrimsPalette) {
  TPixelGraphic G;
  G.SetFormat(4, 4, 2);
  G.SetPaletteIdent(pGray256);
  G.SetFormat(4, 4, 1);
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.PaletteIdent(), pUnknown);
  G.SetFormat(4, 4, 3);
  EXPECT_EQ(G.PaletteCount(), 0);
  EXPECT_EQ(G.PaletteIdent(), pTrueColor);
  EXPECT_EQ(G.GetPalette(), nullptr);
}

TEST(PixelGraphic, PaletteCountIsClampedToCapacity) {
  TPixelGraphic G;
  G.SetFormat(4, 4, 1);
  G.SetPaletteCount(300);
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(ReadLE32(G.GetBitmapInfo() + 32), 16u);
  G.SetPaletteIdent(pGray256);  // does not fit: the identity says what the image holds
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.PaletteIdent(), pUnknown);
  EXPECT_LT(G.NearestPaletteIndex(RGBColor(255, 255, 255)), 16);
  TPixelGraphic Empty;  // no palette depth yet: room for any palette
  Empty.SetPaletteCount(256);
  EXPECT_EQ(Empty.PaletteCount(), 256);
}

TEST(PixelGraphic, PaletteAccessErrors) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 3);
  EXPECT_THROW(G.SetPaletteEntry(0, 0), EPGNoPalette);
  EXPECT_EQ(G.GetPaletteEntry(5), 5);
  G.SetFormat(2, 2, 2);
  G.SetPaletteCount(3);
  EXPECT_THROW(G.SetPaletteEntry(3, 0), EPGInvalidPaletteIndex);
  EXPECT_THROW(G.SetPaletteEntry(-1, 0), EPGInvalidPaletteIndex);
  EXPECT_THROW((void)G.GetPaletteEntry(3), EPGInvalidPaletteIndex);
  try {
    G.SetPaletteIdent(pNone);
    G.SetPaletteEntry(0, 0);
  } catch (const EPGNoPalette& E) {
    EXPECT_STREQ(E.what(), "No palette");
  }
}

TEST(PixelGraphic, UpdatePaletteInfoIdentifies) {
  struct Case { TPaletteIdent Ident; int Num; };
  for (const Case C : {Case{pBlackWhite, 0}, {pGray4, 1}, {pSysGray4, 1}, {pGray16, 1}, {pGray236, 2}, {pGray256, 2},
                       {pSys16, 1}, {pSpecial216, 2}, {pSpecial125, 2}, {pSpecial252, 2}}) {
    TPixelGraphic G;
    G.SetFormat(1, 1, C.Num);
    G.SetPaletteIdent(C.Ident);
    G.SetPaletteEntry(0, G.GetPaletteEntry(0));
    EXPECT_EQ(G.PaletteIdent(), pUnknown);
    G.UpdatePaletteInfo();
    EXPECT_EQ(G.PaletteIdent(), C.Ident);
    const bool Gray = C.Ident != pSys16 && C.Ident < pSpecial125;
    EXPECT_EQ(G.IsGray(), Gray) << int(C.Ident);
  }
  TPixelGraphic G;
  G.SetFormat(1, 1, 2);
  G.SetPaletteCount(2);
  G.SetPaletteEntry(1, RGBColor(255, 255, 254));
  G.UpdatePaletteInfo();
  EXPECT_EQ(G.PaletteIdent(), pUnknown);
  G.SetPaletteCount(0);
  G.UpdatePaletteInfo();
  EXPECT_EQ(G.PaletteIdent(), pNone);
  EXPECT_TRUE(G.IsGray());
}

TEST(PixelGraphic, BackGroundColor) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 3);
  G.SetBackGroundColor(RGBColor(9, 8, 7));
  EXPECT_EQ(G.GetFillValue(), RGBColor(9, 8, 7));
  G.SetFormat(2, 2, 0);
  G.SetPaletteIdent(pBlackWhite);
  G.SetBackGroundColor(RGBColor(250, 250, 250));
  EXPECT_EQ(G.GetFillValue(), 1);
  EXPECT_EQ(G.GetBackGroundColor(), RGBColor(255, 255, 255));
  G.Clear();
  EXPECT_EQ(G.GetPixel(1, 1), 1);
}

TEST(PixelGraphic, GetPaletteIsCachedUntilPaletteChanges) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 0);
  G.SetPaletteIdent(pBlackWhite);
  const TPGLogPalette* P = G.GetPalette();
  ASSERT_NE(P, nullptr);
  EXPECT_EQ(*P, (TPGLogPalette{0xFF000000u, 0xFFFFFFFFu}));
  G.SetPaletteEntry(0, RGBColor(255, 0, 0));
  EXPECT_EQ(G.GetPalette()->at(0), 0xFFFF0000u);
}

TEST(PixelGraphic, AssignCopiesEverythingButEvents) {
  TPixelGraphic Src;
  Src.SetFormat(10, 3, 0);
  Src.SetPaletteIdent(pBlackWhite);
  Src.SetPixel(3, 1, 1);
  Src.SetDither(false);
  Src.SetGamma(2.2L);
  Src.SetFastDecode(true);
  Src.SetStretchMode(smFast);
  Src.SetReadWarningAction(pgwaRaise);
  Src.SetFillValue(1);

  TPixelGraphic Dst;
  int Changes = 0;
  Dst.SetOnChange([&](TObject* Sender) {
    EXPECT_EQ(Sender, &Dst);
    ++Changes;
  });
  Dst.Assign(&Src);
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(Dst.GetWidth(), 10);
  EXPECT_EQ(Dst.GetBitCountNum(), 0);
  EXPECT_EQ(0, std::memcmp(Dst.GetBits(), Src.GetBits(), static_cast<std::size_t>(Src.ImageSize())));
  EXPECT_EQ(Dst.PaletteIdent(), pBlackWhite);
  EXPECT_EQ(Dst.PaletteCount(), 2);
  EXPECT_FALSE(Dst.GetDither());
  EXPECT_EQ(Dst.GetGamma(), 2.2L);
  EXPECT_FALSE(Dst.GetFastDecode());
  EXPECT_EQ(Dst.GetStretchMode(), smFast);
  EXPECT_EQ(Dst.GetReadWarningAction(), pgwaRaise);
  EXPECT_EQ(Dst.GetFillValue(), 1);

  Dst.Assign(nullptr);
  EXPECT_EQ(Changes, 2);
  EXPECT_TRUE(Dst.GetEmpty());
  EXPECT_EQ(Dst.GetBitCountNum(), 3);
}

TEST(PixelGraphic, ChangeNotification) {
  TPixelGraphic G;
  int Changes = 0;
  G.SetOnChange([&](TObject*) { ++Changes; });
  G.SetFormat(2, 2, 2);
  EXPECT_EQ(Changes, 1);
  G.SetPixel(0, 0, 1);
  G.SetPaletteCount(4);
  G.SetPaletteEntry(0, 5);
  EXPECT_EQ(Changes, 1);
  G.BeginUpdate();
  G.Clear();
  G.SetColorCache(false);
  G.EndUpdate();
  EXPECT_EQ(Changes, 2);
}

TEST(PGPower, Cases) {
  EXPECT_EQ(PGPower(0, 0), 1);
  EXPECT_EQ(PGPower(0, 2), 0);
  EXPECT_EQ(PGPower(1, 5), 1);
  EXPECT_NEAR(static_cast<double>(PGPower(0.5L, 2.2L / 1.8L)), 0.428622, 1e-6);
  EXPECT_THROW(PGPower(-0.5L, 2), EPixelGraphic);
}
