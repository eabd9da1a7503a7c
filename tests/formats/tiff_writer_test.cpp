// The TIFF writer, checked on the bytes it writes: a small directory parser below
// reads them back without our TIFF reader.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pgraphic/byte_order.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/formats/tiff_common.h"
#include "pgraphic/formats/tiff_reader.h"
#include "pgraphic/formats/tiff_writer.h"
#include "pgraphic/settings.h"

using namespace pg;
using Bytes = std::vector<std::uint8_t>;

namespace {

// --- reading back what was written ------------------------------------------------

struct Entry {
  std::uint16_t Tag = 0, Type = 0;
  std::uint32_t Count = 0;
  std::size_t Field = 0;  // file position of the 4-byte value field
};

struct Directory {
  std::size_t Offset = 0;
  std::vector<Entry> Entries;  // in file order
  std::uint32_t Next = 0;
  const Entry* Find(std::uint16_t Tag) const {
    for (const auto& E : Entries)
      if (E.Tag == Tag) return &E;
    return nullptr;
  }
};

struct Tiff {
  Bytes File;
  std::size_t Base = 0;
  bool BigEndian = false;
  std::vector<Directory> Dirs;

  std::uint32_t U16(std::size_t P) const { return BigEndian ? GetBE16(&File.at(P + 1) - 1) : GetLE16(&File.at(P + 1) - 1); }
  std::uint32_t U32(std::size_t P) const { return BigEndian ? GetBE32(&File.at(P + 3) - 3) : GetLE32(&File.at(P + 3) - 3); }

  // The values of a SHORT or LONG field, inline or at its offset; RATIONALs as pairs.
  std::vector<std::uint32_t> Values(const Directory& D, std::uint16_t Tag) const {
    const Entry* E = D.Find(Tag);
    if (!E) return {};
    const std::size_t Size = E->Type == tiff::ftShort ? 2 : 4;
    const std::size_t n = E->Type == tiff::ftRational ? 2 * E->Count : E->Count;
    const std::size_t At = n * Size <= 4 ? E->Field : Base + U32(E->Field);
    std::vector<std::uint32_t> V;
    for (std::size_t i = 0; i < n; ++i) V.push_back(Size == 2 ? U16(At + 2 * i) : U32(At + 4 * i));
    return V;
  }
  std::uint32_t Value(const Directory& D, std::uint16_t Tag) const {
    const auto V = Values(D, Tag);
    return V.empty() ? 0xDEADBEEF : V[0];
  }
};

Bytes UnPackBits(const std::uint8_t* P, std::size_t n) {
  Bytes Out;
  for (std::size_t i = 0; i < n;) {
    const auto c = static_cast<std::int8_t>(P[i++]);
    if (c >= 0) {
      for (int k = 0; k <= c && i < n; ++k) Out.push_back(P[i++]);
    } else if (c != -128 && i < n) {
      Out.insert(Out.end(), static_cast<std::size_t>(1 - c), P[i++]);
    }
  }
  return Out;
}

Tiff Parse(Bytes File, std::size_t Base = 0) {
  Tiff T;
  T.File = std::move(File);
  T.Base = Base;
  T.BigEndian = T.File.at(Base) == 'M';
  EXPECT_EQ(T.File.at(Base), T.File.at(Base + 1));
  EXPECT_EQ(T.U16(Base + 2), 42u);
  for (std::uint32_t Off = T.U32(Base + 4); Off != 0 && T.Dirs.size() < 10;) {
    Directory D;
    D.Offset = Off;
    const std::size_t P = Base + Off;
    const std::uint32_t n = T.U16(P);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t E = P + 2 + 12 * i;
      D.Entries.push_back({static_cast<std::uint16_t>(T.U16(E)), static_cast<std::uint16_t>(T.U16(E + 2)), T.U32(E + 4), E + 8});
    }
    D.Next = T.U32(P + 2 + 12 * n);
    Off = D.Next;
    T.Dirs.push_back(D);
  }
  return T;
}

// The rows of an image, strips concatenated and unpacked.
Bytes Samples(const Tiff& T, const Directory& D) {
  const auto Offsets = T.Values(D, tiff::StripOffsets), Counts = T.Values(D, tiff::StripByteCounts);
  EXPECT_EQ(Offsets.size(), Counts.size());
  Bytes Out;
  for (std::size_t s = 0; s < Offsets.size() && s < Counts.size(); ++s) {
    const std::uint8_t* P = &T.File.at(T.Base + Offsets[s]);
    EXPECT_LE(T.Base + Offsets[s] + Counts[s], T.File.size());
    const Bytes Strip = T.Value(D, tiff::Compression) == tiff::cPackBits ? UnPackBits(P, Counts[s]) : Bytes(P, P + Counts[s]);
    Out.insert(Out.end(), Strip.begin(), Strip.end());
  }
  return Out;
}

// --- writing ---------------------------------------------------------------------

// Every test starts from the default settings and leaves them so.
class TiffWriter : public ::testing::Test {
protected:
  void SetUp() override { Defaults(); }
  void TearDown() override { Defaults(); }
  static void Defaults() {
    TIFFWriteCompression = 1;
    TIFFWriteTrueColorPhotInterpret = 0;
    TIFFWriteGrayScalePhotInterpret = 0;
    TIFFWriteByteOrder = 0;
    TIFFWriteResolutionUnit = 1;
    TIFFWriteXResolutionNumerator = TIFFWriteYResolutionNumerator = 300;
    TIFFWriteXResolutionDenominator = TIFFWriteYResolutionDenominator = 1;
  }
};

Bytes Write(TPixelGraphic& G) {
  TTIFFileFormatWriter W;
  TMemoryStream S;
  W.WriteGraphic(S, G);
  return S.Data();
}

std::string WriteError(TPixelGraphic& G, std::size_t* Written = nullptr) {
  TTIFFileFormatWriter W;
  TMemoryStream S;
  std::string Message = "written";
  try {
    W.WriteGraphic(S, G);
  } catch (const EPGTIFFileFormatWriter& E) {
    Message = E.what();
  }
  if (Written) *Written = S.Data().size();
  return Message;
}

// An image with the given depth and standard palette whose pixel (x, y) holds Pixel(x, y).
template <typename F>
void Fill(TPixelGraphic& G, int Width, int Height, int Num, TPaletteIdent Ident, F Pixel) {
  G.SetFormat(Width, Height, Num);
  if (Num < 3) G.SetPaletteIdent(Ident);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) G.SetPixel(x, y, Pixel(x, y));
}

}  // namespace

TEST(PackBits, EncodesRowsAsDocumented) {
  struct Case { const char* Name; Bytes Row; Bytes Codes; };
  const auto Rep = [](std::size_t n, std::uint8_t v) { return Bytes(n, v); };
  const auto Cat = [](std::initializer_list<Bytes> Parts) {
    Bytes R;
    for (const auto& P : Parts) R.insert(R.end(), P.begin(), P.end());
    return R;
  };
  Bytes Ramp200(200);
  for (std::size_t i = 0; i < Ramp200.size(); ++i) Ramp200[i] = static_cast<std::uint8_t>(i);
  const Case Cases[] = {
      {"literal between runs", {5, 5, 5, 5, 1, 2, 9, 9, 9}, {0xFD, 5, 1, 1, 2, 0xFE, 9}},
      {"closing pair joins the literal", {5, 5, 5, 5, 1, 2, 3, 9, 9}, {0xFD, 5, 4, 1, 2, 3, 9, 9}},
      {"single byte", {7}, {0, 7}},
      {"lone pair stays a run", {7, 7}, {0xFF, 7}},
      {"pair before a literal joins it", {9, 9, 1, 2}, {3, 9, 9, 1, 2}},
      {"pairs chain into the literal", {1, 9, 9, 8, 8, 3, 3, 3}, {4, 1, 9, 9, 8, 8, 0xFE, 3}},
      {"pair between longer runs stays a run", {4, 4, 4, 7, 7, 6, 6, 6}, {0xFE, 4, 0xFF, 7, 0xFE, 6}},
      {"run of 128", Rep(128, 3), {0x81, 3}},
      {"run of 129 leaves a single byte", Rep(129, 3), {0x81, 3, 0, 3}},
      {"run of 130 leaves a pair", Rep(130, 3), {0x81, 3, 0xFF, 3}},
      {"run longer than 255", Rep(300, 3), {0x81, 3, 0x81, 3, 0xD5, 3}},
      {"literal splits at 128", Ramp200, Cat({{127}, Bytes(Ramp200.begin(), Ramp200.begin() + 128), {71}, Bytes(Ramp200.begin() + 128, Ramp200.end())})},
  };
  for (const auto& C : Cases) {
    const Bytes Codes = PackBitsEncodeRow(C.Row);
    EXPECT_EQ(Codes, C.Codes) << C.Name;
    EXPECT_EQ(UnPackBits(Codes.data(), Codes.size()), C.Row) << C.Name;
  }
}

// Rows of few distinct values in every mix of runs and literals: each decodes back and
// never needs more than twice its size (the output buffer the strips are sized for).
TEST(PackBits, EveryRowDecodesBackWithinTwiceItsSize) {
  std::uint32_t Seed = 12345;
  const auto Next = [&] { return Seed = Seed * 1103515245u + 12345u, Seed >> 16; };
  for (int k = 0; k < 3000; ++k) {
    Bytes Row(1 + Next() % 300);
    const std::uint32_t Values = 1 + Next() % 4;
    for (auto& b : Row) b = static_cast<std::uint8_t>(Next() % Values);
    const Bytes Codes = PackBitsEncodeRow(Row);
    ASSERT_EQ(UnPackBits(Codes.data(), Codes.size()), Row) << k;
    ASSERT_LE(Codes.size(), 2 * Row.size()) << k;
  }
}

TEST_F(TiffWriter, OnePixelRgbLittleEndian) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  G.SetPixel(0, 0, RGBColor(10, 20, 30));
  const Bytes F = Write(G);
  ASSERT_EQ(F.size(), 195u);
  EXPECT_EQ(Bytes(F.begin(), F.begin() + 8), (Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}));
  const Tiff T = Parse(F);
  ASSERT_EQ(T.Dirs.size(), 1u);
  const Directory& D = T.Dirs[0];
  std::vector<std::uint16_t> Tags;
  for (const auto& E : D.Entries) Tags.push_back(E.Tag);
  EXPECT_EQ(Tags, (std::vector<std::uint16_t>{254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296}));
  EXPECT_EQ(T.Values(D, tiff::BitsPerSample), (std::vector<std::uint32_t>{8, 8, 8}));
  EXPECT_EQ(T.U32(D.Find(tiff::BitsPerSample)->Field), 170u);  // right after the directory
  EXPECT_EQ(T.Value(D, tiff::PhotometricInterpretation), 2u);
  EXPECT_EQ(T.Value(D, tiff::SamplesPerPixel), 3u);
  EXPECT_EQ(T.Value(D, tiff::StripOffsets), 192u);
  EXPECT_EQ(T.Value(D, tiff::StripByteCounts), 3u);
  EXPECT_EQ(T.Value(D, tiff::RowsPerStrip), 1u);
  EXPECT_EQ(T.Values(D, tiff::XResolution), (std::vector<std::uint32_t>{300, 1}));
  EXPECT_EQ(T.Values(D, tiff::YResolution), (std::vector<std::uint32_t>{300, 1}));
  EXPECT_EQ(T.U32(D.Find(tiff::XResolution)->Field), 176u);
  EXPECT_EQ(T.Value(D, tiff::ResolutionUnit), 2u);
  EXPECT_EQ(D.Next, 0u);
  EXPECT_EQ(Bytes(F.begin() + 192, F.end()), (Bytes{10, 20, 30}));
}

TEST_F(TiffWriter, CmykTakesTheBlackOutOfTheInks) {
  TIFFWriteTrueColorPhotInterpret = 1;
  TPixelGraphic G;
  const TRGB Colors[] = {RGBColor(255, 0, 0), RGBColor(0, 0, 0), RGBColor(255, 255, 255), RGBColor(100, 150, 200)};
  Fill(G, 4, 1, 3, pTrueColor, [&](int x, int) { return static_cast<int>(Colors[x]); });
  const Tiff T = Parse(Write(G));
  const Directory& D = T.Dirs.at(0);
  EXPECT_EQ(T.Value(D, tiff::SamplesPerPixel), 4u);
  EXPECT_EQ(T.Values(D, tiff::BitsPerSample), (std::vector<std::uint32_t>{8, 8, 8, 8}));
  EXPECT_EQ(T.Value(D, tiff::PhotometricInterpretation), 5u);
  EXPECT_EQ(Samples(T, D), (Bytes{0, 255, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 100, 50, 0, 55}));
}

// Grey palettes are stored as grey levels (inverted for WhiteIsZero), other palettes
// with a colour map; padding bits past the width stay 0.
TEST_F(TiffWriter, LayoutPerDepthAndPalette) {
  struct Case {
    const char* Name; int Num; TPaletteIdent Ident; int Width; bool WhiteIsZero;
    std::uint32_t Photometric, Bits; Bytes Row; std::size_t ColorMap;
  };
  const Case Cases[] = {
      {"1 bit BlackIsZero", 0, pBlackWhite, 11, false, 1, 1, {0xAA, 0xA0}, 0},
      {"1 bit WhiteIsZero is inverted", 0, pBlackWhite, 11, true, 0, 1, {0x55, 0x40}, 0},
      {"4 bit grey", 1, pGray16, 3, false, 1, 4, {0x01, 0x20}, 0},
      {"4 bit grey WhiteIsZero is inverted", 1, pGray16, 3, true, 0, 4, {0xFE, 0xD0}, 0},
      {"4 bit colours", 1, pSys16, 3, true, 3, 4, {0x01, 0x20}, 48},
      {"8 bit grey", 2, pGray256, 3, false, 1, 8, {0, 1, 2}, 0},
      {"8 bit grey WhiteIsZero is inverted", 2, pGray256, 3, true, 0, 8, {255, 254, 253}, 0},
      {"8 bit colours", 2, pSpecial216, 3, true, 3, 8, {0, 1, 2}, 768},
  };
  for (const auto& C : Cases) {
    TIFFWriteGrayScalePhotInterpret = C.WhiteIsZero;
    TPixelGraphic G;
    Fill(G, C.Width, 1, C.Num, C.Ident, [&](int x, int) { return C.Num == 0 ? 1 - x % 2 : x % 16; });
    const Tiff T = Parse(Write(G));
    const Directory& D = T.Dirs.at(0);
    EXPECT_EQ(T.Value(D, tiff::PhotometricInterpretation), C.Photometric) << C.Name;
    EXPECT_EQ(T.Values(D, tiff::BitsPerSample), std::vector<std::uint32_t>{C.Bits}) << C.Name;
    EXPECT_EQ(Samples(T, D), C.Row) << C.Name;
    EXPECT_EQ(D.Entries.size(), C.ColorMap ? 14u : 13u) << C.Name;
    EXPECT_EQ(T.Values(D, tiff::ColorMap).size(), C.ColorMap) << C.Name;
  }
}

// Full intensity is 65535, so that readers scaling by 65535 and readers taking the high
// byte agree.
TEST_F(TiffWriter, ColorMapSpansTheFullScaleWithZerosBeyondThePalette) {
  TPixelGraphic G;
  G.SetFormat(2, 1, 1);
  G.SetPaletteCount(3);
  G.SetPaletteEntry(0, RGBColor(1, 2, 3));
  G.SetPaletteEntry(1, RGBColor(255, 128, 0));
  G.SetPaletteEntry(2, RGBColor(7, 8, 9));
  G.SetPaletteIdent(pUnknown);
  const Tiff T = Parse(Write(G));
  const auto Map = T.Values(T.Dirs.at(0), tiff::ColorMap);
  ASSERT_EQ(Map.size(), 48u);
  std::vector<std::uint32_t> Want(48, 0);
  for (int c = 0; c < 3; ++c) {
    Want[static_cast<std::size_t>(16 * c)] = 257u * (c + 1);
    Want[static_cast<std::size_t>(16 * c + 1)] = std::vector<std::uint32_t>{65535, 128 * 257, 0}[static_cast<std::size_t>(c)];
    Want[static_cast<std::size_t>(16 * c + 2)] = 257u * (c + 7);
  }
  EXPECT_EQ(Map, Want);
}

TEST_F(TiffWriter, TallPackBitsImageIsSplitIntoEvenStrips) {
  TIFFWriteCompression = 32773;
  TPixelGraphic G;
  Fill(G, 100, 1000, 2, pGray256, [](int x, int y) { return (x / 7 + y) % 256; });
  const Tiff T = Parse(Write(G));
  const Directory& D = T.Dirs.at(0);
  EXPECT_EQ(T.Value(D, tiff::RowsPerStrip), 163u);
  const auto Offsets = T.Values(D, tiff::StripOffsets), Counts = T.Values(D, tiff::StripByteCounts);
  ASSERT_EQ(Offsets.size(), 7u);
  EXPECT_EQ(D.Find(tiff::StripOffsets)->Count, 7u);
  for (std::size_t s = 0; s < Offsets.size(); ++s) {
    EXPECT_EQ(Offsets[s] % 2, 0u) << s;
    if (s > 0) {
      EXPECT_EQ(Offsets[s], Offsets[s - 1] + Counts[s - 1] + (Counts[s - 1] & 1)) << s;
    }
  }
  const Bytes Pixels = Samples(T, D);
  ASSERT_EQ(Pixels.size(), 100000u);
  for (int y = 0; y < 1000; y += 111)
    for (int x = 0; x < 100; x += 9) ASSERT_EQ(Pixels[static_cast<std::size_t>(100 * y + x)], G.GetPixel(x, y)) << x << "," << y;
}

TEST_F(TiffWriter, OddStripIsFollowedByAPadByte) {
  TPixelGraphic G;
  Fill(G, 32767, 2, 2, pGray256, [](int x, int y) { return (x + y) & 0xFF; });
  const Bytes F = Write(G);
  const Tiff T = Parse(F);
  const Directory& D = T.Dirs.at(0);
  EXPECT_EQ(T.Value(D, tiff::RowsPerStrip), 1u);
  const auto Offsets = T.Values(D, tiff::StripOffsets);
  ASSERT_EQ(Offsets.size(), 2u);
  EXPECT_EQ(Offsets[1], Offsets[0] + 32768);
  EXPECT_EQ(F.at(Offsets[0] + 32767), 0);
  EXPECT_EQ(T.Values(D, tiff::StripByteCounts), (std::vector<std::uint32_t>{32767, 32767}));
  EXPECT_EQ(Samples(T, D).at(32767 + 5), 6);
}

TEST_F(TiffWriter, BigEndianShortsStandHighByteFirst) {
  TIFFWriteByteOrder = 1;
  TIFFWriteCompression = 32773;
  TPixelGraphic G;
  Fill(G, 2, 2, 0, pBlackWhite, [](int x, int y) { return x ^ y; });
  const Bytes F = Write(G);
  EXPECT_EQ(Bytes(F.begin(), F.begin() + 8), (Bytes{'M', 'M', 0, 42, 0, 0, 0, 8}));
  const Tiff T = Parse(F);
  const Directory& D = T.Dirs.at(0);
  const std::size_t Field = D.Find(tiff::Compression)->Field;
  EXPECT_EQ(Bytes(F.begin() + static_cast<std::ptrdiff_t>(Field), F.begin() + static_cast<std::ptrdiff_t>(Field) + 4), (Bytes{0x80, 0x05, 0, 0}));
  EXPECT_EQ(Bytes(F.begin() + 8, F.begin() + 10), (Bytes{0, 13}));
  EXPECT_EQ(T.Value(D, tiff::ImageWidth), 2u);
  EXPECT_EQ(Samples(T, D), (Bytes{0x40, 0x80}));
}

TEST_F(TiffWriter, ResolutionSettings) {
  TIFFWriteXResolutionNumerator = 150;
  TIFFWriteXResolutionDenominator = 2;
  TIFFWriteYResolutionNumerator = 7;
  TIFFWriteYResolutionDenominator = 3;
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  for (const std::uint8_t Unit : {0, 1, 2}) {
    TIFFWriteResolutionUnit = Unit;
    const Tiff T = Parse(Write(G));
    EXPECT_EQ(T.Value(T.Dirs.at(0), tiff::ResolutionUnit), Unit + 1u);
    EXPECT_EQ(T.Values(T.Dirs.at(0), tiff::XResolution), (std::vector<std::uint32_t>{150, 2}));
    EXPECT_EQ(T.Values(T.Dirs.at(0), tiff::YResolution), (std::vector<std::uint32_t>{7, 3}));
  }
}

// Nothing is written when the image or the settings cannot be.
TEST_F(TiffWriter, RefusalsComeBeforeAnyByte) {
  struct Case { const char* Name; int Width, Height; void (*Set)(); const char* Message; };
  const Case Cases[] = {
      {"height 0", 5, 0, [] {}, "TIFF: Width = 0 or Height = 0"},
      {"width 0", 0, 5, [] {}, "TIFF: Width = 0 or Height = 0"},
      {"LZW compression setting", 1, 1, [] { TIFFWriteCompression = 5; }, "TIFF: Internal Error"},
      {"no compression setting", 1, 1, [] { TIFFWriteCompression = 0; }, "TIFF: Internal Error"},
      {"byte order setting", 1, 1, [] { TIFFWriteByteOrder = 2; }, "TIFF: Invalid value for TIFFWriteByteOrder"},
      {"resolution unit setting", 1, 1, [] { TIFFWriteResolutionUnit = 3; }, "TIFF: Invalid value for TIFFWriteResolutionUnit"},
      {"true colour setting", 1, 1, [] { TIFFWriteTrueColorPhotInterpret = 2; }, "TIFF: Invalid value for TIFFWriteTrueColorPhotInterpret"},
      {"grey setting", 1, 1, [] { TIFFWriteGrayScalePhotInterpret = 9; }, "TIFF: Invalid value for TIFFWriteGrayScalePhotInterpret"},
  };
  for (const auto& C : Cases) {
    Defaults();
    C.Set();
    TPixelGraphic G;
    G.SetFormat(C.Width, C.Height, 3);
    std::size_t Written = 99;
    EXPECT_EQ(WriteError(G, &Written), C.Message) << C.Name;
    EXPECT_EQ(Written, 0u) << C.Name;
  }
  Defaults();
  TTIFFileFormatWriter W;
  TMemoryStream S;
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  try {
    W.WriteMultiImage(S, G);
    ADD_FAILURE() << "an image without a file header was written";
  } catch (const EPGTIFFileFormatWriter& E) {
    EXPECT_STREQ(E.what(), "TIFF: Internal Error");
  }
  EXPECT_TRUE(S.Data().empty());
}

// Two images in a stream that does not start at 0: offsets count from the file's
// start, each directory is linked from the one before, and a directory after an odd
// strip starts on a word boundary.
TEST_F(TiffWriter, SeveralImagesAreChained) {
  TPixelGraphic A, B;
  Fill(A, 1, 1, 3, pTrueColor, [](int, int) { return static_cast<int>(RGBColor(1, 2, 3)); });
  Fill(B, 5, 3, 1, pGray16, [](int x, int y) { return x + y; });
  TMemoryStream S;
  S.Write("abc", 3);
  TTIFFileFormatWriter W;
  W.BeginMultiImage(S);
  W.WriteMultiImage(S, A);
  TIFFWriteByteOrder = 1;  // the file keeps the byte order it started with
  W.WriteMultiImage(S, B);
  W.EndMultiImage(S);
  EXPECT_EQ(S.GetPosition(), S.GetSize());
  const Tiff T = Parse(S.Data(), 3);
  EXPECT_FALSE(T.BigEndian);
  ASSERT_EQ(T.Dirs.size(), 2u);
  EXPECT_EQ(T.Dirs[0].Offset, 8u);
  EXPECT_EQ(T.Dirs[1].Offset, 196u);  // 195 rounded up
  EXPECT_EQ(T.Dirs[1].Next, 0u);
  EXPECT_EQ(Samples(T, T.Dirs[0]), (Bytes{1, 2, 3}));
  EXPECT_EQ(Samples(T, T.Dirs[1]), (Bytes{0x01, 0x23, 0x40, 0x12, 0x34, 0x50, 0x23, 0x45, 0x60}));
  EXPECT_EQ(T.Value(T.Dirs[1], tiff::PhotometricInterpretation), 1u);
}

// The registry's writers are shared: files written at once on several threads come out
// as when written one after another.
TEST_F(TiffWriter, SharedWriterServesSeveralThreads) {
  TFileFormatWriter* W = FindWriter("tif");
  ASSERT_NE(W, nullptr);
  TIFFWriteCompression = 32773;
  TPixelGraphic Images[4];
  for (int i = 0; i < 4; ++i)
    Fill(Images[i], 50 + 17 * i, 300, i % 2 ? 2 : 3, pSpecial216, [i](int x, int y) { return (x * 7 + y * i) % 216; });
  Bytes Alone[4];
  // Files at different stream positions, so that a base shared between threads shows.
  const auto WriteOne = [&](int i) {
    TMemoryStream S;
    S.Write("0123", static_cast<std::size_t>(i));
    W->WriteGraphic(S, Images[i]);
    return S.Data();
  };
  for (int i = 0; i < 4; ++i) Alone[i] = WriteOne(i);
  std::atomic<int> Different = 0;
  std::vector<std::thread> Threads;
  for (int i = 0; i < 4; ++i)
    Threads.emplace_back([&, i] {
      for (int k = 0; k < 20; ++k)
        if (WriteOne(i) != Alone[i]) ++Different;
    });
  for (auto& t : Threads) t.join();
  EXPECT_EQ(Different, 0);
}

TEST_F(TiffWriter, RegisteredUnderBothExtensions) {
  for (const char* Ext : {"tif", "tiff"}) {
    const TFileFormatWriter* W = FindWriter(Ext);
    ASSERT_NE(dynamic_cast<const TTIFFileFormatWriter*>(W), nullptr) << Ext;
    EXPECT_EQ(W->FormatName, "Tagged Image File Format");
    EXPECT_EQ(W->CanWriteResolutions, 253);
    EXPECT_TRUE(W->MultiImage);
    EXPECT_EQ(W->ShowInFilter, std::string(Ext) == "tif");
  }
}

// Progress runs from row 0 to height - 1 against height - 1, brackets the rows even
// when writing fails, and an abort request does not cut the file short.
TEST_F(TiffWriter, ProgressAndFailingStreams) {
  TPixelGraphic G;
  Fill(G, 3, 4, 2, pGray256, [](int x, int y) { return x + y; });
  std::vector<std::pair<int, int>> Steps;
  int Starts = 0, Ends = 0;
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
    Steps.emplace_back(Step, Max);
    Abort = true;
  });
  const Tiff T = Parse(Write(G));
  EXPECT_EQ(Samples(T, T.Dirs.at(0)).size(), 12u);
  EXPECT_EQ(Steps, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);

  // A stream that takes only so many bytes: the failure passes on, the bracket closes.
  class TShortStream : public TMemoryStream {
  public:
    explicit TShortStream(std::size_t Limit) : FLimit(Limit) {}
    void Write(const void* Buffer, std::size_t Count) override {
      if (static_cast<std::size_t>(GetPosition()) + Count > FLimit) throw EPGStreamError("disk full");
      TMemoryStream::Write(Buffer, Count);
    }

  private:
    std::size_t FLimit;
  };
  const std::size_t Full = Write(G).size();
  for (std::size_t Limit = 0; Limit < Full; ++Limit) {
    Starts = Ends = 0;
    TShortStream S(Limit);
    TTIFFileFormatWriter W;
    EXPECT_THROW(W.WriteGraphic(S, G), EPGStreamError) << Limit;
    EXPECT_EQ(Starts, Ends) << Limit;
  }
}

// What we write, our reader reads back unchanged: every layout in both byte orders, with
// and without compression, tall enough for several strips.
TEST_F(TiffWriter, OurReaderReadsBackEveryLayout) {
  struct Layout { const char* Name; int Num; TPaletteIdent Ident; std::uint8_t GreyOrCmyk; };
  const Layout Layouts[] = {
      {"1 bit", 0, pBlackWhite, 0}, {"1 bit WhiteIsZero", 0, pBlackWhite, 1},
      {"4 bit grey", 1, pGray16, 0}, {"4 bit grey WhiteIsZero", 1, pGray16, 1}, {"4 bit colours", 1, pSys16, 0},
      {"8 bit grey", 2, pGray256, 0}, {"8 bit grey WhiteIsZero", 2, pGray256, 1}, {"8 bit colours", 2, pSpecial216, 0},
      {"RGB", 3, pTrueColor, 0}, {"CMYK", 3, pTrueColor, 1},
  };
  const TTIFFileFormatReader Reader;
  for (const Layout& L : Layouts)
    for (std::uint8_t Order : {0, 1})
      for (int Compression : {1, 32773}) {
        const std::string Name = std::string(L.Name) + (Order ? " MM" : " II") + (Compression == 1 ? "" : " PackBits");
        TIFFWriteByteOrder = Order;
        TIFFWriteCompression = Compression;
        TIFFWriteGrayScalePhotInterpret = TIFFWriteTrueColorPhotInterpret = L.GreyOrCmyk;
        TPixelGraphic G;
        Fill(G, 37, 301, L.Num, L.Ident, [&](int x, int y) {
          const int v = x * 7 + y * 13 + x * y;
          return L.Num == 0 ? v & 1 : L.Num == 1 ? v & 15 : L.Num == 2 ? v % 216 : (v * 2654435761u) & 0xFFFFFF;
        });
        TMemoryStream S(Write(G));
        TPixelGraphic Back;
        Reader.ReadGraphic(S, Back, 0);
        ASSERT_EQ(Back.GetWidth(), 37) << Name;
        ASSERT_EQ(Back.GetHeight(), 301) << Name;
        ASSERT_EQ(Back.GetBitCountNum(), L.Num) << Name;
        int Wrong = 0;
        for (int y = 0; y < 301; ++y)
          for (int x = 0; x < 37; ++x) Wrong += Back.GetPixel(x, y) != G.GetPixel(x, y);
        EXPECT_EQ(Wrong, 0) << Name;
        ASSERT_GE(Back.PaletteCount(), G.PaletteCount()) << Name;  // the colour map is always full
        for (int i = 0; i < G.PaletteCount(); ++i) EXPECT_EQ(Back.GetPaletteEntry(i), G.GetPaletteEntry(i)) << Name << " entry " << i;
      }
}
