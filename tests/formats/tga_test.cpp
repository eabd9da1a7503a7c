#include <gtest/gtest.h>

#include <functional>

#include "pgraphic/byte_order.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/formats/tga.h"

using namespace pg;

namespace {

// Builds a file field by field, so that every header value can be set, hostile ones too.
struct TgaSpec {
  std::vector<std::uint8_t> Id;
  int MapType = 0, ImageType = 2, MapFirst = 0, MapLength = 0, MapEntrySize = 0;
  int Width = 2, Height = 2, Depth = 24, Descriptor = 0;
  std::vector<std::uint8_t> Map, Pixels;
};

std::vector<std::uint8_t> MakeTga(const TgaSpec& S) {
  std::vector<std::uint8_t> F(18, 0);
  F[0] = static_cast<std::uint8_t>(S.Id.size());
  F[1] = static_cast<std::uint8_t>(S.MapType);
  F[2] = static_cast<std::uint8_t>(S.ImageType);
  PutLE16(&F[3], static_cast<std::uint32_t>(S.MapFirst));
  PutLE16(&F[5], static_cast<std::uint32_t>(S.MapLength));
  F[7] = static_cast<std::uint8_t>(S.MapEntrySize);
  PutLE16(&F[12], static_cast<std::uint32_t>(S.Width));
  PutLE16(&F[14], static_cast<std::uint32_t>(S.Height));
  F[16] = static_cast<std::uint8_t>(S.Depth);
  F[17] = static_cast<std::uint8_t>(S.Descriptor);
  F.insert(F.end(), S.Id.begin(), S.Id.end());
  F.insert(F.end(), S.Map.begin(), S.Map.end());
  F.insert(F.end(), S.Pixels.begin(), S.Pixels.end());
  return F;
}

void Load(TPixelGraphic& G, const std::vector<std::uint8_t>& File) {
  TMemoryStream S(File);
  G.LoadFromStreamExt(S, "tga");
}

std::string LoadError(const std::vector<std::uint8_t>& File, int Index = 0) {
  TPixelGraphic G;
  try {
    TMemoryStream S(File);
    G.LoadFromStreamIndex(S, "tga", Index);
  } catch (const EPGTGAFileFormatReader& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

std::string InfoError(const std::vector<std::uint8_t>& File, int Index = 0) {
  TMemoryStream S(File);
  TPGImageInfo I;
  try {
    TTGAFileFormatReader().GetInfo(S, Index, I);
  } catch (const EPGTGAFileFormatReader& E) {
    return E.what();
  }
  return "ok";
}

// Pixel values of the file's depth: 8 bits a grey level, 16 bits 5-5-5, else blue,
// green, red (and a fourth byte that must be ignored).
std::vector<std::uint8_t> PixelBytes(TRGB C, int Depth) {
  switch (Depth) {
    case 8: return {static_cast<std::uint8_t>(RedOf(C))};
    case 16: {
      // The top bit (attribute) set on every other colour: it must not matter.
      const unsigned W = (RedOf(C) >> 3) << 10 | (GreenOf(C) >> 3) << 5 | BlueOf(C) >> 3 | ((RedOf(C) & 8) ? 0x8000u : 0);
      return {static_cast<std::uint8_t>(W), static_cast<std::uint8_t>(W >> 8)};
    }
    case 24: return {static_cast<std::uint8_t>(BlueOf(C)), static_cast<std::uint8_t>(GreenOf(C)), static_cast<std::uint8_t>(RedOf(C))};
    default: return {static_cast<std::uint8_t>(BlueOf(C)), static_cast<std::uint8_t>(GreenOf(C)), static_cast<std::uint8_t>(RedOf(C)), 0x5A};
  }
}

// Greedy run-length coding of the whole pixel sequence: packets cross row ends freely,
// as other writers' files do.
std::vector<std::uint8_t> RunLengthEncode(const std::vector<std::vector<std::uint8_t>>& Px) {
  std::vector<std::uint8_t> Out;
  std::size_t i = 0;
  const auto RunAt = [&](std::size_t k) {
    std::size_t n = 1;
    while (k + n < Px.size() && n < 128 && Px[k + n] == Px[k]) ++n;
    return n;
  };
  while (i < Px.size()) {
    const std::size_t n = RunAt(i);
    if (n >= 2) {
      Out.push_back(static_cast<std::uint8_t>(0x80 | (n - 1)));
      Out.insert(Out.end(), Px[i].begin(), Px[i].end());
      i += n;
      continue;
    }
    std::size_t m = 1;
    while (i + m < Px.size() && m < 128 && RunAt(i + m) < 2) ++m;
    Out.push_back(static_cast<std::uint8_t>(m - 1));
    for (std::size_t k = i; k < i + m; ++k) Out.insert(Out.end(), Px[k].begin(), Px[k].end());
    i += m;
  }
  return Out;
}

// A picture (top row first) stored in the file order that Descriptor says.
TgaSpec Encode(const std::vector<std::vector<TRGB>>& Picture, int Depth, int Descriptor, bool RunLength) {
  TgaSpec S;
  S.Height = static_cast<int>(Picture.size());
  S.Width = static_cast<int>(Picture[0].size());
  S.Depth = Depth;
  S.Descriptor = Descriptor;
  S.ImageType = (Depth == 8 ? 3 : 2) | (RunLength ? 8 : 0);
  std::vector<std::vector<std::uint8_t>> Px;
  for (int r = 0; r < S.Height; ++r) {
    const auto& Row = Picture[static_cast<std::size_t>(Descriptor & 0x20 ? r : S.Height - 1 - r)];
    for (int x = 0; x < S.Width; ++x) Px.push_back(PixelBytes(Row[static_cast<std::size_t>(Descriptor & 0x10 ? S.Width - 1 - x : x)], Depth));
  }
  if (RunLength) {
    S.Pixels = RunLengthEncode(Px);
  } else {
    for (const auto& P : Px) S.Pixels.insert(S.Pixels.end(), P.begin(), P.end());
  }
  return S;
}

// Channels in steps of 8, so that 16-bit pixels hold them exactly; runs inside rows and
// across row ends.
std::vector<std::vector<TRGB>> TestPicture(bool Grey) {
  std::vector<std::vector<TRGB>> P(4, std::vector<TRGB>(5));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const int k = (x < 2 || x == 4) && y != 1 ? y : 4 + 5 * y + x;  // runs at both row ends
      P[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
          Grey ? RGBColor(8 * k, 8 * k, 8 * k) : RGBColor(8 * k, 248 - 8 * k, (8 * k * 3) & 0xF8);
    }
  return P;
}

void ExpectPicture(const TPixelGraphic& G, const std::vector<std::vector<TRGB>>& P, const std::string& What) {
  ASSERT_EQ(G.GetHeight(), static_cast<int>(P.size())) << What;
  ASSERT_EQ(G.GetWidth(), static_cast<int>(P[0].size())) << What;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x)
      ASSERT_EQ(G.GetPixelColor(x, y), P[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]) << What << " at " << x << "," << y;
}

}  // namespace

// Every depth, pixel order and coding gives the same picture.
TEST(TgaReader, EveryDepthOrderAndCodingLoadsThePicture) {
  for (int Depth : {8, 16, 24, 32})
    for (int Descriptor : {0x00, 0x10, 0x20, 0x30})
      for (bool RunLength : {false, true}) {
        const auto P = TestPicture(Depth == 8);
        TPixelGraphic G;
        Load(G, MakeTga(Encode(P, Depth, Descriptor, RunLength)));
        ExpectPicture(G, P, "depth " + std::to_string(Depth) + " descriptor " + std::to_string(Descriptor) + (RunLength ? " rle" : ""));
        EXPECT_EQ(G.GetBitCountNum(), Depth == 8 ? 2 : 3);
        if (Depth == 8) {
          EXPECT_EQ(G.PaletteIdent(), pGray256);
        }
      }
}

TEST(TgaReader, SixteenBitPixels) {
  struct Case { const char* Name; unsigned Word; TRGB Expected; };
  const Case Cases[] = {
      {"white is 248", 0x7FFF, RGBColor(248, 248, 248)},
      {"low bits are blue", 0x001F, RGBColor(0, 0, 248)},
      {"middle bits are green", 0x03E0, RGBColor(0, 248, 0)},
      {"high bits are red", 0x7C00, RGBColor(248, 0, 0)},
      {"top bit is not colour", 0x8000, 0},
      {"top bit with white", 0xFFFF, RGBColor(248, 248, 248)},
  };
  for (const auto& C : Cases) {
    TgaSpec S;
    S.Width = S.Height = 1;
    S.Depth = 16;
    S.Pixels = {static_cast<std::uint8_t>(C.Word), static_cast<std::uint8_t>(C.Word >> 8)};
    TPixelGraphic G;
    Load(G, MakeTga(S));
    EXPECT_EQ(G.GetPixelColor(0, 0), C.Expected) << C.Name;
  }
}

TEST(TgaReader, ColourMaps) {
  struct Case {
    const char* Name;
    int MapType, ImageType, First, Length, EntrySize;
    std::vector<std::uint8_t> Map;
    std::uint8_t Pixel;
    int PaletteCount;
    TRGB Expected;
  };
  const Case Cases[] = {
      {"24-bit entries", 1, 1, 0, 2, 24, {1, 2, 3, 4, 5, 6}, 1, 2, RGBColor(6, 5, 4)},
      {"32-bit entries skip the fourth byte", 1, 1, 0, 2, 32, {1, 2, 3, 4, 5, 6, 7, 8}, 1, 2, RGBColor(7, 6, 5)},
      {"16-bit entries", 1, 1, 0, 2, 16, {0x00, 0x7C, 0x1F, 0x80}, 1, 2, RGBColor(0, 0, 248)},
      {"true-colour type still uses the map", 1, 2, 0, 1, 24, {9, 8, 7}, 0, 1, RGBColor(7, 8, 9)},
      {"grey type still uses the map", 1, 3, 0, 1, 24, {9, 8, 7}, 0, 1, RGBColor(7, 8, 9)},
      // Stored entries stand for indices First .. First + Length - 1.
      {"first index 2: entry 0 of the map is index 2", 1, 1, 2, 2, 24, {1, 2, 3, 4, 5, 6}, 2, 4, RGBColor(3, 2, 1)},
      {"first index 2: indices below it are black", 1, 1, 2, 2, 24, {1, 2, 3, 4, 5, 6}, 1, 4, 0},
      {"first index past the pixels' range", 1, 1, 300, 2, 24, {1, 2, 3, 4, 5, 6}, 255, 256, 0},
      {"map longer than 256 entries", 1, 1, 250, 10, 24, std::vector<std::uint8_t>(30, 77), 255, 256, RGBColor(77, 77, 77)},
      {"map of no entries is grey", 1, 1, 0, 0, 24, {}, 200, 256, RGBColor(200, 200, 200)},
      {"map type 0 ignores the map fields", 0, 1, 0, 5, 24, {}, 90, 256, RGBColor(90, 90, 90)},
      {"map type 2 is no map", 2, 1, 0, 5, 24, {}, 90, 256, RGBColor(90, 90, 90)},
  };
  for (const auto& C : Cases) {
    TgaSpec S;
    S.MapType = C.MapType;
    S.ImageType = C.ImageType;
    S.MapFirst = C.First;
    S.MapLength = C.Length;
    S.MapEntrySize = C.EntrySize;
    S.Map = C.Map;
    S.Width = S.Height = 1;
    S.Depth = 8;
    S.Pixels = {C.Pixel};
    TPixelGraphic G;
    Load(G, MakeTga(S));
    EXPECT_EQ(G.PaletteCount(), C.PaletteCount) << C.Name;
    EXPECT_EQ(G.GetPixelColor(0, 0), C.Expected) << C.Name;
  }
}

// A pixel beyond a short map keeps its index; reading its colour raises instead of
// reading past the palette.
TEST(TgaReader, IndexBeyondTheMapIsNeverLookedUpOutsideThePalette) {
  TgaSpec S;
  S.MapType = S.ImageType = 1;
  S.MapLength = 2;
  S.MapEntrySize = 24;
  S.Map = {1, 2, 3, 4, 5, 6};
  S.Width = 2;
  S.Height = 1;
  S.Depth = 8;
  S.Pixels = {1, 7};
  TPixelGraphic G;
  Load(G, MakeTga(S));
  EXPECT_EQ(G.PaletteCount(), 2);
  EXPECT_EQ(G.GetPixel(1, 0), 7);
  EXPECT_THROW(G.GetPixelColor(1, 0), EPGInvalidPaletteIndex);
}

// What stands between the header and the pixels is skipped as the format sizes it.
TEST(TgaReader, IdFieldAndUnusedMapsAreSkipped) {
  struct Case { const char* Name; std::vector<std::uint8_t> Id; int MapType, Length, EntrySize; };
  const Case Cases[] = {
      {"id field", {1, 2, 3, 4, 5}, 0, 0, 0},
      {"24-bit map beside 24-bit pixels", {}, 1, 3, 24},
      {"15-bit entries take two bytes", {}, 1, 3, 15},
      {"32-bit map and an id field", {9}, 1, 2, 32},
  };
  for (const auto& C : Cases) {
    TgaSpec S;
    S.Id = C.Id;
    S.MapType = C.MapType;
    S.MapLength = C.Length;
    S.MapEntrySize = C.EntrySize;
    S.Map.assign(static_cast<std::size_t>(C.Length * ((C.EntrySize + 7) / 8)), 0xEE);
    S.Width = 1;
    S.Height = 1;
    S.Pixels = {1, 2, 3};
    TPixelGraphic G;
    Load(G, MakeTga(S));
    EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(3, 2, 1)) << C.Name;
  }
}

TEST(TgaReader, RunLengthPackets) {
  struct Case { const char* Name; int Width, Height; std::vector<std::uint8_t> Data; std::vector<int> TopFirstGrey; };
  const Case Cases[] = {
      {"run of four", 4, 1, {0x83, 9}, {9, 9, 9, 9}},
      {"raw packet", 3, 1, {0x02, 1, 2, 3}, {1, 2, 3}},
      {"run carried into the next row", 3, 2, {0x83, 9, 0x01, 1, 2}, {9, 9, 9, 9, 1, 2}},
      {"raw packet carried into the next row", 2, 2, {0x02, 1, 2, 3, 0x80, 4}, {1, 2, 3, 4}},
      {"one packet for the whole image", 3, 3, {0x88, 5}, {5, 5, 5, 5, 5, 5, 5, 5, 5}},
      {"packet longer than the image", 2, 1, {0xFF, 6}, {6, 6}},
      {"bytes after the last row are not read", 1, 1, {0x00, 3, 0xFF}, {3}},
  };
  for (const auto& C : Cases) {
    TgaSpec S;
    S.ImageType = 11;
    S.Depth = 8;
    S.Descriptor = 0x20;
    S.Width = C.Width;
    S.Height = C.Height;
    S.Pixels = C.Data;
    TPixelGraphic G;
    Load(G, MakeTga(S));
    for (int i = 0; i < C.Width * C.Height; ++i)
      EXPECT_EQ(G.GetPixel(i % C.Width, i / C.Width), C.TopFirstGrey[static_cast<std::size_t>(i)]) << C.Name << " pixel " << i;
  }
  // A 24-bit run: one pixel value, four pixels.
  TgaSpec S;
  S.ImageType = 10;
  S.Width = 4;
  S.Height = 1;
  S.Pixels = {0x83, 10, 20, 30};
  TPixelGraphic G;
  Load(G, MakeTga(S));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(G.GetPixel(x, 0), RGBColor(30, 20, 10));
}

TEST(TgaReader, Errors) {
  const auto With = [](const std::function<void(TgaSpec&)>& Change) {
    TgaSpec S;
    S.Pixels.assign(12, 0);
    Change(S);
    return MakeTga(S);
  };
  struct Case { const char* Name; std::vector<std::uint8_t> File; const char* Message; };
  const Case Cases[] = {
      {"depth 15", With([](TgaSpec& S) { S.Depth = 15; }), "TGA: Not supported subformat"},
      {"depth 12", With([](TgaSpec& S) { S.Depth = 12; }), "TGA: Not supported subformat"},
      {"depth 0", With([](TgaSpec& S) { S.Depth = 0; }), "TGA: Not supported subformat"},
      {"15-bit map entries with 8-bit pixels",
       With([](TgaSpec& S) { S.Depth = 8; S.MapType = 1; S.MapLength = 2; S.MapEntrySize = 15; S.Map.assign(4, 0); }),
       "TGA: Not supported subformat"},
      {"8-bit map entries with 8-bit pixels",
       With([](TgaSpec& S) { S.Depth = 8; S.MapType = 1; S.MapLength = 2; S.MapEntrySize = 8; S.Map.assign(2, 0); }),
       "TGA: Not supported subformat"},
      {"run-length data ends early", With([](TgaSpec& S) { S.ImageType = 10; S.Pixels = {0x81, 1, 2, 3}; }),
       "TGA: Unexpected end of file"},
      {"raw packet ends early", With([](TgaSpec& S) { S.ImageType = 10; S.Pixels = {0x03, 1, 2, 3, 4}; }),
       "TGA: Unexpected end of file"},
      {"short header", std::vector<std::uint8_t>(17, 0), "TGA: Unexpected end of file"},
      {"huge image in a tiny file", With([](TgaSpec& S) { S.Width = 65535; S.Height = 65535; }), "TGA: Unexpected end of file"},
      {"huge run-length image in a tiny file", With([](TgaSpec& S) { S.ImageType = 10; S.Width = 65535; S.Height = 65535; }),
       "TGA: Unexpected end of file"},
  };
  for (const auto& C : Cases) EXPECT_EQ(LoadError(C.File), C.Message) << C.Name;
  EXPECT_EQ(LoadError(With([](TgaSpec&) {}), 1), "TGA: Index invalid");

  // Only the extension chooses the reader.
  TPixelGraphic G;
  TMemoryStream S(With([](TgaSpec&) {}));
  EXPECT_THROW(G.LoadFromStream(S), EPGUnknownFileFormat);
}

// A run-length image may expand 64 times (a two-byte packet of 128 grey pixels): such a
// file is not refused as too short.
TEST(TgaReader, HighlyCompressedImageIsPlausible) {
  TgaSpec S;
  S.ImageType = 11;
  S.Depth = 8;
  S.Width = 4096;
  S.Height = 1024;
  for (int i = 0; i < 4096 * 1024 / 128; ++i) S.Pixels.insert(S.Pixels.end(), {0xFF, 42});
  TPixelGraphic G;
  Load(G, MakeTga(S));
  EXPECT_EQ(G.GetPixel(4095, 0), 42);
  EXPECT_EQ(G.GetPixel(0, 1023), 42);
}

TEST(TgaReader, Info) {
  struct Case { int ImageType, Depth; const char* SubFormat; const char* Details; const char* Colors; };
  const Case Cases[] = {
      {1, 8, "Uncompressed", "Color-mapped", "256"},
      {2, 16, "Uncompressed", "True-color", "65536"},
      {3, 8, "Uncompressed", "\"Black-and-white\"", "256"},
      {9, 8, "Run-length encoded", "Color-mapped", "256"},
      {10, 24, "Run-length encoded", "True-color", "16.7M"},
      {11, 32, "Run-length encoded", "\"Black-and-white\"", "16.7M ?"},
      {2, 1, "Uncompressed", "True-color", "2"},
  };
  for (const auto& C : Cases) {
    TgaSpec S;
    S.ImageType = C.ImageType;
    S.Depth = C.Depth;
    S.Width = 300;
    S.Height = 7;
    TMemoryStream M(MakeTga(S));
    TPGImageInfo I;
    ASSERT_TRUE(GetStreamImageInfo(M, "tga", 0, I)) << C.ImageType;
    EXPECT_EQ(I.FormatName, "Truevision Targa");
    EXPECT_EQ(I.SubFormat, C.SubFormat);
    EXPECT_EQ(I.Details, C.Details);
    EXPECT_EQ(I.Colors, C.Colors);
    EXPECT_EQ(I.BitCount, C.Depth);
    EXPECT_EQ(I.Width, 300);
    EXPECT_EQ(I.Height, 7);
    EXPECT_EQ(I.ImageCount, 1);
  }
  for (int Type : {0, 4, 8, 12, 32, 255}) {
    TgaSpec S;
    S.ImageType = Type;
    EXPECT_EQ(InfoError(MakeTga(S)), "TGA: Invalid value for ImageType") << Type;
  }
  EXPECT_EQ(InfoError(MakeTga(TgaSpec{})), "ok");
  EXPECT_EQ(InfoError(MakeTga(TgaSpec{}), 1), "TGA: Invalid value for Index");
  EXPECT_EQ(InfoError(std::vector<std::uint8_t>(10, 2)), "TGA: Unexpected end of file");
}

// Uncompressed rows are read as far as the file goes; run-length data that ends early is
// an error. Either way every prefix of a file is safe.
TEST(TgaReader, EveryPrefixOfAFileIsSafe) {
  const auto P = TestPicture(false);
  // First: the picture position of the first stored pixel, which is not black.
  struct File { const char* Name; std::vector<std::uint8_t> Data; bool RunLength; int FirstX, FirstY; };
  TgaSpec Mapped;
  Mapped.MapType = Mapped.ImageType = 1;
  Mapped.Id = {1, 2, 3};
  Mapped.MapLength = 3;
  Mapped.MapEntrySize = 24;
  Mapped.Map.assign(9, 0x40);
  Mapped.Depth = 8;
  Mapped.Width = 3;
  Mapped.Pixels = {1, 2, 0, 2, 1, 0};
  const File Files[] = {
      {"24-bit", MakeTga(Encode(P, 24, 0, false)), false, 0, 3},
      {"16-bit right to left", MakeTga(Encode(P, 16, 0x30, false)), false, 4, 0},
      {"32-bit run-length", MakeTga(Encode(P, 32, 0x20, true)), true, 0, 0},
      {"colour-mapped", MakeTga(Mapped), false, 0, 1},
  };
  for (const auto& F : Files) {
    const std::size_t PixelsStart = F.Data.size() - (F.RunLength ? 0 : static_cast<std::size_t>(GetLE16(&F.Data[12]) * GetLE16(&F.Data[14]) * F.Data[16] / 8));
    for (std::size_t n = 0; n <= F.Data.size(); ++n) {
      const std::vector<std::uint8_t> Prefix(F.Data.begin(), F.Data.begin() + static_cast<std::ptrdiff_t>(n));
      TPixelGraphic G;
      if (n < 18 || (F.RunLength && n < F.Data.size())) {
        EXPECT_THROW(Load(G, Prefix), EPGTGAFileFormatReader) << F.Name << " prefix " << n;
      } else {
        Load(G, Prefix);
        EXPECT_EQ(G.GetWidth(), GetLE16(&F.Data[12])) << F.Name << " prefix " << n;
        if (!F.RunLength && n >= PixelsStart) {
          EXPECT_EQ(G.GetPixel(F.FirstX, F.FirstY) != 0, n > PixelsStart) << F.Name << " prefix " << n;
        }
      }
    }
  }
}

// Flipped bytes anywhere in header, map or pixels end in a picture or the library's own
// exception, never outside the buffers (the sanitizer build watches this).
TEST(TgaReader, FlippedBytesAreSafe) {
  TgaSpec Mapped;
  Mapped.ImageType = 9;
  Mapped.MapType = 1;
  Mapped.MapLength = 4;
  Mapped.MapEntrySize = 16;
  Mapped.Map.assign(8, 0x33);
  Mapped.Depth = 8;
  Mapped.Width = 4;
  Mapped.Height = 3;
  Mapped.Pixels = {0x82, 1, 0x02, 2, 3, 0, 0x83, 3, 0x01, 1, 2};
  const std::vector<std::vector<std::uint8_t>> Files = {MakeTga(Encode(TestPicture(false), 24, 0x10, true)),
                                                        MakeTga(Encode(TestPicture(false), 16, 0x20, false)),
                                                        MakeTga(Mapped)};
  for (const auto& File : Files)
    for (std::size_t i = 0; i < File.size(); ++i)
      for (std::uint8_t Mask : {0x01, 0x10, 0x80, 0xFF}) {
        auto Bad = File;
        Bad[i] ^= Mask;
        TPixelGraphic G;
        try {
          Load(G, Bad);
          for (int y = 0; y < G.GetHeight() && !G.GetEmpty(); ++y) (void)G.GetPixel(G.GetWidth() - 1, y);
        } catch (const EPixelGraphic&) {
        }
        TMemoryStream S(Bad);
        TPGImageInfo I;
        GetStreamImageInfo(S, "tga", 0, I);
      }
}

TEST(TgaReader, ProgressAndAbort) {
  const auto P = TestPicture(false);
  for (bool RunLength : {false, true}) {
    TPixelGraphic G;
    int Calls = 0, Starts = 0, Ends = 0;
    G.SetOnProgress([&](TObject* Sender, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Sender, &G);
      EXPECT_EQ(Step, Calls);
      EXPECT_EQ(Max, 4);
      Abort = ++Calls == 2;
    });
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    Load(G, MakeTga(Encode(P, 24, 0x20, RunLength)));
    EXPECT_EQ(Calls, 2);
    EXPECT_EQ(Starts, 1);
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(G.GetPixelColor(4, 1), P[1][4]);  // the rows read before the abort stay
    EXPECT_EQ(G.GetPixelColor(4, 2), 0u);
  }
  // The end is reported when the data fails, too.
  TgaSpec S;
  S.ImageType = 10;
  S.Pixels = {0x80, 1, 2, 3};
  TPixelGraphic G;
  int Starts = 0, Ends = 0;
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  EXPECT_THROW(Load(G, MakeTga(S)), EPGTGAFileFormatReader);
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);
}

TEST(TgaWriter, LayoutOfAColourMappedFile) {
  TPixelGraphic G;
  G.SetFormat(3, 2, 2);
  G.SetPaletteCount(4);
  for (int i = 0; i < 4; ++i) G.SetPaletteEntry(i, RGBColor(10 * i, 10 * i + 1, 10 * i + 2));
  G.SetPixel(0, 0, 1);  // top row
  G.SetPixel(2, 1, 3);  // bottom row
  TMemoryStream S;
  G.SaveToStreamExt(S, "tga");
  const std::vector<std::uint8_t> Expected = {
      0, 1, 1, 0, 0, 4, 0, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0,   // header
      2, 1, 0, 12, 11, 10, 22, 21, 20, 32, 31, 30,               // map: blue, green, red
      0, 0, 3,                                                   // bottom row first
      1, 0, 0};
  EXPECT_EQ(S.Data(), Expected);
}

TEST(TgaWriter, LayoutOfATrueColourFile) {
  TPixelGraphic G;
  G.SetFormat(2, 2, 3);
  G.SetPixel(0, 1, RGBColor(1, 2, 3));
  G.SetPixel(1, 0, RGBColor(4, 5, 6));
  TMemoryStream S;
  G.SaveToStreamExt(S, "tga");
  const std::vector<std::uint8_t> Expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                                              3, 2, 1, 0, 0, 0,   // bottom row, no padding
                                              0, 0, 0, 6, 5, 4};
  EXPECT_EQ(S.Data(), Expected);
}

// Whatever the writer is handed comes back with the same colours; images of 1 and 4
// bits (which the save negotiation never hands over) are widened to 8-bit indices.
TEST(TgaWriter, RoundTrip) {
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
    TTGAFileFormatWriter().WriteGraphic(S, G);
    S.SetPosition(0);
    TPixelGraphic R;
    R.LoadFromStreamExt(S, "tga");
    ASSERT_EQ(R.GetBitCountNum(), Num == 3 ? 3 : 2);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(R.GetPixelColor(x, y), G.GetPixelColor(x, y)) << "depth " << Num;
  }
}

TEST(TgaWriter, EdgeCases) {
  // A palette image without palette gets a full black map, so the file stays readable.
  TPixelGraphic G;
  G.SetFormat(2, 1, 2);
  G.SetPixel(1, 0, 9);
  TMemoryStream S;
  TTGAFileFormatWriter().WriteGraphic(S, G);
  EXPECT_EQ(GetLE16(&S.Data()[5]), 256);
  EXPECT_EQ(S.Data().size(), 18u + 768u + 2u);

  // An empty image is a header alone; progress is reported per row, never aborted.
  TPixelGraphic E;
  E.SetFormat(0, 3, 3);
  int Calls = 0;
  E.SetOnProgress([&](TObject* Sender, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Sender, &E);
    EXPECT_EQ(Step, Calls++);
    EXPECT_EQ(Max, 3);
    Abort = true;
  });
  TMemoryStream ES;
  TTGAFileFormatWriter().WriteGraphic(ES, E);
  EXPECT_EQ(ES.Data().size(), 18u);
  EXPECT_EQ(Calls, 3);

  // Sizes past the header's 16 bits cannot be written.
  TPixelGraphic W;
  W.SetFormat(65536, 1, 2);
  TMemoryStream WS;
  EXPECT_THROW(TTGAFileFormatWriter().WriteGraphic(WS, W), EPGInvalidSize);
}
