#include <gtest/gtest.h>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/bmp_builder.h"

using namespace pg;
using kvtest::BmpSpec;
using kvtest::MakeBmp;

namespace {

void Load(TPixelGraphic& G, const std::vector<std::uint8_t>& File) {
  TMemoryStream S(File);
  G.LoadFromStream(S);
}

std::string LoadError(const std::vector<std::uint8_t>& File) {
  TPixelGraphic G;
  try {
    Load(G, File);
  } catch (const EPGBMPFileFormatReader& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

TPGImageInfo Info(const std::vector<std::uint8_t>& File) {
  TMemoryStream S(File);
  TPGImageInfo I;
  EXPECT_TRUE(GetStreamImageInfo(S, "", 0, I));
  return I;
}

}  // namespace

TEST(BmpReader, TopDownRowsAreFlipped) {
  BmpSpec S;
  S.Height = -2;
  S.Pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  TPixelGraphic G;
  Load(G, MakeBmp(S));
  EXPECT_EQ(G.GetHeight(), 2);
  EXPECT_EQ(G.GetPixel(0, 0), RGBColor(3, 2, 1));  // first stored row on top
  EXPECT_EQ(G.GetPixel(1, 1), RGBColor(12, 11, 10));
  const TPGImageInfo I = Info(MakeBmp(S));
  EXPECT_EQ(I.FormatName, "Bitmap");
  EXPECT_EQ(I.SubFormat, "Windows, RGB, Top-Down");
  EXPECT_EQ(I.Height, -2);
  EXPECT_EQ(I.Colors, "16.7M");
}

TEST(BmpReader, SixteenAndThirtyTwoBitChannels) {
  struct Case { const char* Name; int Bits; std::uint32_t Compression; std::vector<std::uint32_t> Masks; std::uint32_t Pixel; bool Expand; TRGB Expected; };
  const Case Cases[] = {
      {"555 white", 16, 0, {}, 0x7FFF, true, RGBColor(255, 255, 255)},
      {"555 ones", 16, 0, {}, 0x0421, true, RGBColor(16, 16, 16)},
      {"555 black", 16, 0, {}, 0x0000, true, 0},
      {"555 ones without expansion", 16, 0, {}, 0x0421, false, RGBColor(8, 8, 8)},
      {"565 green 63", 16, 3, {0xF800, 0x07E0, 0x001F}, 0x07E0, true, RGBColor(0, 255, 0)},
      {"565 green 1", 16, 3, {0xF800, 0x07E0, 0x001F}, 0x0020, true, RGBColor(0, 8, 0)},
      {"32-bit", 32, 0, {}, 0x00123456, true, RGBColor(0x12, 0x34, 0x56)},
      {"32-bit bit fields", 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0x00123456, true, RGBColor(0x56, 0x34, 0x12)},
      {"zero masks give black", 16, 3, {0, 0, 0}, 0xFFFF, true, 0},
      {"wide mask is capped", 32, 3, {0xFFF00000, 0x000FF000, 0x00000FFF}, 0xFFFFFFFF, true, RGBColor(255, 255, 255)},
  };
  for (const auto& C : Cases) {
    BmpSpec S;
    S.Width = 1;
    S.Height = 1;
    S.BitCount = C.Bits;
    S.Compression = C.Compression;
    S.Masks = C.Masks;
    S.Pixels = {static_cast<std::uint8_t>(C.Pixel), static_cast<std::uint8_t>(C.Pixel >> 8),
                static_cast<std::uint8_t>(C.Pixel >> 16), static_cast<std::uint8_t>(C.Pixel >> 24)};
    Expand16BitChannels = C.Expand;
    TPixelGraphic G;
    Load(G, MakeBmp(S));
    Expand16BitChannels = true;
    EXPECT_EQ(G.GetPixel(0, 0), C.Expected) << C.Name;
    EXPECT_EQ(G.GetBitCountNum(), 3);
  }
}

TEST(BmpReader, ShortColourTableAndOversizedCount) {
  BmpSpec S;
  S.Width = 1;
  S.Height = 1;
  S.BitCount = 8;
  S.ClrUsed = 16;
  for (std::uint32_t i = 0; i < 16; ++i) S.Palette.push_back(i * 0x010101);
  S.Pixels = {9, 0, 0, 0};
  TPixelGraphic G;
  Load(G, MakeBmp(S));
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(9, 9, 9));

  // 20 colours for a 4-bit image: the palette is clamped, the pixels still found.
  BmpSpec F;
  F.Width = 2;
  F.Height = 1;
  F.BitCount = 4;
  F.ClrUsed = 20;
  for (std::uint32_t i = 0; i < 20; ++i) F.Palette.push_back(i);
  F.Pixels = {0x3F, 0, 0, 0};
  Load(G, MakeBmp(F));
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.GetPixel(0, 0), 3);
  EXPECT_EQ(G.GetPixel(1, 0), 15);
}

TEST(BmpReader, RunLengthData) {
  struct Case { const char* Name; int Bits; std::uint32_t Compression; int Width; std::vector<std::uint8_t> Block; std::vector<int> BottomRow; };
  const Case Cases[] = {
      {"rle8 run then end", 8, 1, 4, {3, 5, 0, 0, 0, 1}, {5, 5, 5, 0}},
      {"rle4 absolute run", 4, 2, 4, {0, 3, 0x12, 0x30, 0, 1}, {1, 2, 3, 0}},
      {"rle4 encoded run alternates", 4, 2, 5, {5, 0xAB, 0, 1}, {10, 11, 10, 11, 10}},
      {"rle8 delta", 8, 1, 4, {0, 2, 2, 0, 1, 7, 0, 1}, {0, 0, 7, 0}},
      {"rle8 run past the row is clipped", 8, 1, 2, {200, 9, 0, 1}, {9, 9}},
      {"rle8 absolute run past the block stops", 8, 1, 4, {0, 9, 1, 2}, {1, 2, 0, 0}},
      {"rle8 odd absolute run is padded", 8, 1, 4, {0, 3, 1, 2, 3, 0, 1, 4}, {1, 2, 3, 4}},
  };
  for (const auto& C : Cases) {
    BmpSpec S;
    S.Width = C.Width;
    S.Height = 2;
    S.BitCount = C.Bits;
    S.Compression = C.Compression;
    S.SizeImage = static_cast<std::uint32_t>(C.Block.size());
    S.ClrUsed = 16;
    S.Palette.assign(16, 0);
    S.Pixels = C.Block;
    TPixelGraphic G;
    Load(G, MakeBmp(S));
    for (int x = 0; x < C.Width; ++x) EXPECT_EQ(G.GetPixel(x, 1), C.BottomRow[static_cast<std::size_t>(x)]) << C.Name << " x " << x;
  }
}

TEST(BmpReader, HeaderErrors) {
  struct Case { const char* Name; BmpSpec Spec; const char* Message; };
  const auto With = [](auto Change) {
    BmpSpec S;
    S.Pixels.assign(16, 0);
    Change(S);
    return S;
  };
  const Case Cases[] = {
      {"v4 header", With([](BmpSpec& S) { S.HeaderSize = 108; }), "BMP: Invalid size of BitmapInfoHeader/BitmapCoreHeader"},
      {"planes", With([](BmpSpec& S) { S.Planes = 2; }), "BMP: BitmapInfoHeader.biPlanes invalid"},
      {"bit count", With([](BmpSpec& S) { S.BitCount = 2; }), "BMP: BitmapInfoHeader.biBitCount invalid"},
      {"rle8 with 4 bits", With([](BmpSpec& S) { S.BitCount = 4; S.Compression = 1; }), "BMP: BitmapInfoHeader.biCompression invalid"},
      {"rle4 top-down", With([](BmpSpec& S) { S.BitCount = 4; S.Compression = 2; S.Height = -2; }), "BMP: BitmapInfoHeader.biCompression invalid"},
      {"bit fields with 24 bits", With([](BmpSpec& S) { S.Compression = 3; }), "BMP: BitmapInfoHeader.biCompression invalid"},
      {"core planes", With([](BmpSpec& S) { S.HeaderSize = 12; S.Planes = 0; }), "BMP: BitmapCoreHeader.bcPlanes invalid"},
      {"core bit count", With([](BmpSpec& S) { S.HeaderSize = 12; S.BitCount = 16; }), "BMP: BitmapCoreHeader.bcBitCount invalid"},
      {"most negative height", With([](BmpSpec& S) { S.Height = INT32_MIN; }), "BMP: BitmapInfoHeader.biHeight invalid"},
      {"huge image in a tiny file", With([](BmpSpec& S) { S.Width = 30000; S.Height = 30000; }), "BMP: Unexpected end of file"},
      {"huge rle image in a tiny file", With([](BmpSpec& S) { S.Width = 60000; S.Height = 60000; S.BitCount = 8; S.Compression = 1; }), "BMP: Unexpected end of file"},
      {"negative width", With([](BmpSpec& S) { S.Width = -3; }), "other: Negative width"},
  };
  for (const auto& C : Cases) EXPECT_EQ(LoadError(MakeBmp(C.Spec)), C.Message) << C.Name;
  TPixelGraphic G;
  TMemoryStream S(MakeBmp(Cases[0].Spec));
  try {
    G.LoadFromStreamIndex(S, "", 1);
  } catch (const EPGBMPFileFormatReader& E) {
    EXPECT_STREQ(E.what(), "BMP: Index invalid");
  }
}

// Short pixel data is not an error: the image keeps the header's size, with the
// missing pixels left zero. Every prefix of a file either loads so or raises the
// format's exception.
TEST(BmpReader, EveryPrefixOfAFileIsSafe) {
  std::vector<std::vector<std::uint8_t>> Files;
  BmpSpec S24;
  S24.Width = 3;
  S24.Height = 3;
  S24.Pixels.assign(36, 0xAB);
  Files.push_back(MakeBmp(S24));
  BmpSpec Rle;
  Rle.Width = 5;
  Rle.Height = 3;
  Rle.BitCount = 4;
  Rle.Compression = 2;
  Rle.ClrUsed = 4;
  Rle.Palette = {1, 2, 3, 4};
  Rle.Pixels = {3, 0x12, 0, 0, 0, 5, 0x12, 0x30, 0x10, 0, 0, 2, 1, 1, 2, 0x33, 0, 1};
  Rle.SizeImage = static_cast<std::uint32_t>(Rle.Pixels.size());
  Files.push_back(MakeBmp(Rle));
  BmpSpec Core;
  Core.HeaderSize = 12;
  Core.BitCount = 8;
  Core.Palette.assign(256, 0x102030);
  Core.Pixels.assign(8, 7);
  Files.push_back(MakeBmp(Core));
  BmpSpec Fields;
  Fields.BitCount = 16;
  Fields.Compression = 3;
  Fields.Masks = {0xF800, 0x07E0, 0x001F};
  Fields.Pixels.assign(8, 0xFF);
  Files.push_back(MakeBmp(Fields));

  for (const auto& File : Files) {
    const std::size_t HeadersEnd = 14 + GetLE32(&File[14]);
    for (std::size_t n = 0; n <= File.size(); ++n) {
      const std::vector<std::uint8_t> Prefix(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(n));
      TPixelGraphic G;
      if (n < HeadersEnd) {
        EXPECT_THROW(Load(G, Prefix), EPixelGraphic) << "prefix " << n;
      } else {
        Load(G, Prefix);
        EXPECT_EQ(G.GetWidth(), static_cast<int>(GetLE16(&File[18]))) << "prefix " << n;
      }
    }
  }
  // The 24-bit file cut inside its pixels keeps its size and the bytes that arrived.
  const auto& File = Files[0];
  TPixelGraphic G;
  Load(G, std::vector<std::uint8_t>(File.begin(), File.end() - 20));
  EXPECT_EQ(G.GetWidth(), 3);
  EXPECT_EQ(G.GetPixel(0, 2), RGBColor(0xAB, 0xAB, 0xAB));
  EXPECT_EQ(G.GetPixel(0, 0), 0);
}

TEST(BmpWriter, LayoutOfWrittenFiles) {
  TPixelGraphic G;
  G.SetFormat(3, 2, 0);
  G.SetPaletteIdent(pBlackWhite);
  G.SetPixel(1, 0, 1);
  TMemoryStream S;
  G.SaveToStreamExt(S, "bmp");
  const auto& D = S.Data();
  ASSERT_EQ(D.size(), 70u);
  EXPECT_EQ(GetLE32(&D[2]), 70u);
  EXPECT_EQ(GetLE32(&D[10]), 62u);
  EXPECT_EQ(GetLE32(&D[14 + 32]), 2u);

  TPixelGraphic T;
  T.SetFormat(2, 2, 3);
  TMemoryStream S24;
  T.SaveToStreamExt(S24, "dib");
  EXPECT_EQ(GetLE32(&S24.Data()[10]), 54u);
  EXPECT_EQ(GetLE32(&S24.Data()[14 + 32]), 0u);
  EXPECT_EQ(S24.Data()[0], 'B');
}

TEST(BmpWriter, RoundTripEveryDepth) {
  for (int Num : {0, 1, 2, 3}) {
    TPixelGraphic G;
    G.SetFormat(7, 5, Num);
    if (Num < 3) {
      G.SetPaletteCount(G.MaxPaletteCount());
      for (int i = 0; i < G.PaletteCount(); ++i) G.SetPaletteEntry(i, RGBColor(i, 255 - i, i * 7 % 256));
    }
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) G.SetPixel(x, y, Num == 3 ? RGBColor(x * 30, y * 40, x + y) : (x * 5 + y) % G.MaxPaletteCount());
    TMemoryStream S;
    G.SaveToStreamExt(S, "bmp");
    S.SetPosition(0);
    TPixelGraphic R;
    R.LoadFromStream(S);
    ASSERT_EQ(R.GetBitCountNum(), Num);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(R.GetPixelColor(x, y), G.GetPixelColor(x, y)) << "depth " << Num;
  }
}

// A palette image without entries gets a full (black) colour table: a count of 0 would
// make readers take the pixels for the table.
TEST(BmpWriter, PaletteImageWithoutEntriesStaysReadable) {
  TPixelGraphic G;
  G.SetFormat(4, 1, 2);
  G.SetPixel(2, 0, 9);
  TMemoryStream S;
  G.SaveToStream(S);
  EXPECT_EQ(GetLE32(&S.Data()[14 + 32]), 256u);
  S.SetPosition(0);
  TPixelGraphic R;
  R.LoadFromStream(S);
  EXPECT_EQ(R.GetPixel(2, 0), 9);
  EXPECT_EQ(R.PaletteCount(), 256);
}

TEST(BmpReader, AbortAfterTheFirstTenthKeepsWhatWasRead) {
  BmpSpec S;
  S.Width = 20;
  S.Height = 20;
  S.Pixels.assign(20 * 60, 0x11);
  TPixelGraphic G;
  int Calls = 0, Starts = 0, Ends = 0;
  G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Step, 1);
    EXPECT_EQ(Max, 10);
    ++Calls;
    Abort = true;
  });
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  Load(G, MakeBmp(S));
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);
  EXPECT_EQ(G.GetPixel(0, 19), RGBColor(0x11, 0x11, 0x11));  // first tenth: the bottom two rows
  EXPECT_EQ(G.GetPixel(0, 18), RGBColor(0x11, 0x11, 0x11));
  EXPECT_EQ(G.GetPixel(0, 17), 0);
}
