#include <gtest/gtest.h>

#include <optional>

#include "pgraphic/byte_order.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/formats/tiff_common.h"
#include "pgraphic/formats/tiff_reader.h"

using namespace pg;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- a small TIFF builder: every field can be given any type, count or value field

struct Field {
  std::uint16_t Tag, Type;
  std::vector<std::uint32_t> Values;           // written where the count says they go
  std::optional<std::uint32_t> Count = {};      // declared count, when it differs from the values
  std::optional<std::uint32_t> ValueField = {}; // the 4-byte field as stored (an offset, say)
};

struct TiffPlan {
  bool BigEndian = false;
  std::vector<Field> Fields;  // StripOffsets / StripByteCounts without values get the strips'
  std::vector<Bytes> Strips;
  bool DirectoryFirst = false;
  bool SecondDirectory = false;  // the next-directory link points at a copy of the first
};

void Put(Bytes& F, std::size_t At, std::uint32_t V, int Size, bool BE) {
  if (F.size() < At + static_cast<std::size_t>(Size)) F.resize(At + static_cast<std::size_t>(Size));
  if (Size == 1) F[At] = static_cast<std::uint8_t>(V);
  else if (Size == 2) BE ? PutBE16(&F[At], V) : PutLE16(&F[At], V);
  else BE ? PutBE32(&F[At], V) : PutLE32(&F[At], V);
}

int TypeSize(std::uint16_t Type) { return Type == tiff::ftByte ? 1 : Type == tiff::ftShort ? 2 : 4; }

// Layout: header, then strips, long values and directory; with DirectoryFirst the
// directory and long values come first, so that the strips end the file.
Bytes MakeTiff(const TiffPlan& P) {
  const bool BE = P.BigEndian;
  std::vector<Field> Fields = P.Fields;
  std::vector<bool> Inline(Fields.size()), AutoOffsets(Fields.size()), AutoCounts(Fields.size());
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    Field& Fd = Fields[i];
    const bool Auto = Fd.Values.empty() && !Fd.Count && !Fd.ValueField;
    AutoOffsets[i] = Auto && Fd.Tag == tiff::StripOffsets;
    AutoCounts[i] = Auto && Fd.Tag == tiff::StripByteCounts;
    if (AutoOffsets[i] || AutoCounts[i]) Fd.Values.assign(P.Strips.size(), 0);
    Inline[i] = Fd.Values.size() * static_cast<std::size_t>(TypeSize(Fd.Type)) <= 4;
  }
  const std::size_t DirSize = 2 + tiff::EntrySize * Fields.size() + 4;
  std::size_t At = 8, Dir = 8;
  std::vector<std::size_t> ValuesAt(Fields.size()), StripAt;
  const auto PlaceValues = [&] {
    for (std::size_t i = 0; i < Fields.size(); ++i)
      if (!Inline[i]) {
        At += At % 2;
        ValuesAt[i] = At;
        At += Fields[i].Values.size() * static_cast<std::size_t>(TypeSize(Fields[i].Type));
      }
  };
  const auto PlaceStrips = [&] {
    for (const Bytes& S : P.Strips) {
      StripAt.push_back(At);
      At += S.size();
    }
  };
  if (P.DirectoryFirst) {
    At += DirSize;
    PlaceValues();
    PlaceStrips();
  } else {
    PlaceStrips();
    PlaceValues();
    Dir = At + At % 2;
    At = Dir + DirSize;
  }
  for (std::size_t i = 0; i < Fields.size(); ++i)
    for (std::size_t s = 0; s < P.Strips.size(); ++s) {
      if (AutoOffsets[i]) Fields[i].Values[s] = static_cast<std::uint32_t>(StripAt[s]);
      if (AutoCounts[i]) Fields[i].Values[s] = static_cast<std::uint32_t>(P.Strips[s].size());
    }

  Bytes F(At, 0);
  F[0] = F[1] = static_cast<std::uint8_t>(BE ? 'M' : 'I');
  Put(F, 2, tiff::Magic, 2, BE);
  Put(F, 4, static_cast<std::uint32_t>(Dir), 4, BE);
  for (std::size_t s = 0; s < P.Strips.size(); ++s)
    std::copy(P.Strips[s].begin(), P.Strips[s].end(), F.begin() + static_cast<std::ptrdiff_t>(StripAt[s]));
  Put(F, Dir, static_cast<std::uint32_t>(Fields.size()), 2, BE);
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    const Field& Fd = Fields[i];
    const int Size = TypeSize(Fd.Type);
    const std::size_t E = Dir + 2 + tiff::EntrySize * i;
    Put(F, E, Fd.Tag, 2, BE);
    Put(F, E + 2, Fd.Type, 2, BE);
    Put(F, E + 4, Fd.Count.value_or(static_cast<std::uint32_t>(Fd.Values.size())), 4, BE);
    const std::size_t Target = Inline[i] ? E + 8 : ValuesAt[i];
    for (std::size_t k = 0; k < Fd.Values.size(); ++k) Put(F, Target + k * static_cast<std::size_t>(Size), Fd.Values[k], Size, BE);
    if (!Inline[i]) Put(F, E + 8, static_cast<std::uint32_t>(ValuesAt[i]), 4, BE);
    if (Fd.ValueField) Put(F, E + 8, *Fd.ValueField, 4, BE);
  }
  if (P.SecondDirectory) {
    const Bytes Copy(F.begin() + static_cast<std::ptrdiff_t>(Dir), F.begin() + static_cast<std::ptrdiff_t>(Dir + DirSize));
    Put(F, Dir + DirSize - 4, static_cast<std::uint32_t>(F.size()), 4, BE);
    F.insert(F.end(), Copy.begin(), Copy.end());
  }
  return F;
}

// An image with the usual fields; one strip per entry of Strips.
TiffPlan Plan(std::uint32_t Width, std::uint32_t Height, std::vector<std::uint32_t> Bits, std::uint32_t Photometric,
              std::vector<Bytes> Strips, std::uint32_t Compression = tiff::cNone, std::uint32_t RowsPerStrip = 0) {
  TiffPlan P;
  const auto Samples = static_cast<std::uint32_t>(Bits.size());
  P.Fields = {{tiff::NewSubfileType, tiff::ftLong, {0}},
              {tiff::ImageWidth, tiff::ftLong, {Width}},
              {tiff::ImageLength, tiff::ftShort, {Height}},
              {tiff::BitsPerSample, tiff::ftShort, std::move(Bits)},
              {tiff::Compression, tiff::ftShort, {Compression}},
              {tiff::PhotometricInterpretation, tiff::ftShort, {Photometric}},
              {tiff::StripOffsets, tiff::ftLong, {}},
              {tiff::SamplesPerPixel, tiff::ftShort, {Samples}},
              {tiff::RowsPerStrip, tiff::ftLong, {RowsPerStrip ? RowsPerStrip : Height}},
              {tiff::StripByteCounts, tiff::ftLong, {}},
              {tiff::PlanarConfiguration, tiff::ftShort, {1}}};
  P.Strips = std::move(Strips);
  return P;
}

// Replaces the field of that tag (or appends it); a field without type is removed.
TiffPlan With(TiffPlan P, Field Fd) {
  std::erase_if(P.Fields, [&](const Field& F) { return F.Tag == Fd.Tag; });
  if (Fd.Type) P.Fields.push_back(std::move(Fd));
  return P;
}

TiffPlan Without(TiffPlan P, std::uint16_t Tag) { return With(std::move(P), {Tag, 0, {}}); }

// Appends a field, keeping any earlier one of that tag.
TiffPlan Also(TiffPlan P, Field Fd) {
  P.Fields.push_back(std::move(Fd));
  return P;
}

TiffPlan DirectoryFirst(TiffPlan P) {
  P.DirectoryFirst = true;
  return P;
}

// ---- loading

struct BoxHandler {
  explicit BoxHandler(TPGWarningBoxHandler H) { SetPGWarningBoxHandler(std::move(H)); }
  ~BoxHandler() { SetPGWarningBoxHandler(nullptr); }
};

std::string Outcome(const Bytes& File, TPixelGraphic& G, TPGWarningAction Action = pgwaRaise, int Index = 0) {
  G.SetReadWarningAction(Action);
  try {
    TMemoryStream S(File);
    G.LoadFromStreamIndex(S, "", Index);
  } catch (const EPGTIFFileFormatReader& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

std::string Outcome(const Bytes& File, TPGWarningAction Action = pgwaRaise, int Index = 0) {
  TPixelGraphic G;
  return Outcome(File, G, Action, Index);
}

// Top row first; palette indices, or 0xRRGGBB for 24 bits.
std::vector<std::vector<int>> Pixels(const TPixelGraphic& G) {
  std::vector<std::vector<int>> Rows(static_cast<std::size_t>(G.GetHeight()));
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) Rows[static_cast<std::size_t>(y)].push_back(G.GetPixel(x, y));
  return Rows;
}

TPGImageInfo Info(const Bytes& File) {
  TMemoryStream S(File);
  TPGImageInfo I;
  EXPECT_TRUE(GetStreamImageInfo(S, "", 0, I));
  return I;
}

std::vector<std::uint32_t> ColorMap(const std::vector<TRGB>& Colors, std::size_t Entries) {
  std::vector<std::uint32_t> M(3 * Entries, 0);
  for (std::size_t i = 0; i < std::min(Colors.size(), Entries); ++i) {
    M[i] = static_cast<std::uint32_t>(RedOf(Colors[i])) * 257;
    M[i + Entries] = static_cast<std::uint32_t>(GreenOf(Colors[i])) * 256;
    M[i + 2 * Entries] = static_cast<std::uint32_t>(BlueOf(Colors[i])) * 256 + 255;
  }
  return M;
}

constexpr std::uint32_t PB = tiff::cPackBits;

}  // namespace

TEST(TiffReader, EveryLayoutDecodes) {
  const TiffPlan Pal4 = With(Plan(3, 1, {4}, 3, {{0x2F, 0x10}}),
                             {tiff::ColorMap, tiff::ftShort, ColorMap({RGBColor(1, 2, 3), 0, RGBColor(200, 100, 50)}, 16)});
  struct Case { const char* Name; TiffPlan Plan; int Num; TPaletteIdent Ident; std::vector<std::vector<int>> Rows; };
  const Case Cases[] = {
      {"bilevel WhiteIsZero: a 0 bit is white", Plan(10, 2, {1}, 0, {{0x40, 0x3F, 0xFF, 0xC0}}), 0, pBlackWhite,
       {{1, 0, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"bilevel BlackIsZero", Plan(3, 1, {1}, 1, {{0xA0}}), 0, pBlackWhite, {{1, 0, 1}}},
      {"bilevel palette without colour map", Plan(3, 1, {1}, 3, {{0x60}}), 0, pBlackWhite, {{0, 1, 1}}},
      {"4-bit WhiteIsZero is 15 - v", Plan(3, 1, {4}, 0, {{0x0F, 0x30}}), 1, pGray16, {{15, 0, 12}}},
      {"4-bit BlackIsZero, high nibble first", Plan(3, 1, {4}, 1, {{0x0F, 0x30}}), 1, pGray16, {{0, 15, 3}}},
      {"8-bit WhiteIsZero 0, 255 gives 255, 0", Plan(2, 1, {8}, 0, {{0, 255}}), 2, pGray256, {{255, 0}}},
      {"8-bit BlackIsZero copied", Plan(2, 2, {8}, 1, {{7, 8, 9, 10}}), 2, pGray256, {{7, 8}, {9, 10}}},
      {"4-bit palette keeps its indices", Pal4, 1, pUnknown, {{2, 15, 1}}},
      {"RGB", Plan(2, 1, {8, 8, 8}, 2, {{1, 2, 3, 4, 5, 6}}), 3, pTrueColor, {{RGBColor(1, 2, 3), RGBColor(4, 5, 6)}}},
      {"RGB with a fourth sample ignores it", Plan(2, 1, {8, 8, 8, 8}, 2, {{1, 2, 3, 99, 4, 5, 6, 98}}), 3, pTrueColor,
       {{RGBColor(1, 2, 3), RGBColor(4, 5, 6)}}},
      {"CMYK: none is white, K is black, and C and K subtract", Plan(3, 1, {8, 8, 8, 8}, 5, {{0, 0, 0, 0, 0, 0, 0, 255, 200, 0, 0, 100}}),
       3, pTrueColor, {{0xFFFFFF, 0x000000, RGBColor(0, 155, 155)}}},
      {"big-endian RGB in two strips with SHORT offsets in the value field",
       [] {
         TiffPlan P = Plan(1, 2, {8, 8, 8}, 2, {{1, 2, 3}, {4, 5, 6}}, tiff::cNone, 1);
         P.BigEndian = true;
         return With(With(P, {tiff::StripOffsets, tiff::ftShort, {8, 11}}), {tiff::StripByteCounts, tiff::ftShort, {3, 3}});
       }(),
       3, pTrueColor, {{RGBColor(1, 2, 3)}, {RGBColor(4, 5, 6)}}},
      {"strips of three rows, the last one short", Plan(1, 4, {8}, 1, {{1, 2, 3}, {4}}, tiff::cNone, 3), 2, pGray256, {{1}, {2}, {3}, {4}}},
      {"strips sharing their data", With(Plan(2, 3, {8}, 1, {{5, 6}}, tiff::cNone, 1), {tiff::StripOffsets, tiff::ftLong, {8, 8, 8}}), 2, pGray256, {{5, 6}, {5, 6}, {5, 6}}},
      {"PackBits literal, repeat and no-op codes", Plan(6, 1, {8}, 1, {{0x01, 7, 8, 0x80, 0xFD, 9}}, PB), 2, pGray256,
       {{7, 8, 9, 9, 9, 9}}},
      {"PackBits runs end with their row", Plan(2, 2, {8}, 1, {{0xFF, 1, 0x01, 2, 3}}, PB), 2, pGray256, {{1, 1}, {2, 3}}},
      {"PackBits bilevel WhiteIsZero", Plan(9, 1, {1}, 0, {{0xFF, 0x0F}}, PB), 0, pBlackWhite, {{1, 1, 1, 1, 0, 0, 0, 0, 1}}},
      {"width 0 has no pixels to read", Plan(0, 3, {8}, 1, {{}}), 2, pGray256, {{}, {}, {}}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    ASSERT_EQ(Outcome(MakeTiff(C.Plan), G), "loaded") << C.Name;
    EXPECT_EQ(G.GetBitCountNum(), C.Num) << C.Name;
    EXPECT_EQ(G.PaletteIdent(), C.Ident) << C.Name;
    EXPECT_EQ(Pixels(G), C.Rows) << C.Name;
  }
}

// Colour maps hold 16-bit values (kept: the high byte); only the entries the depth can
// index are taken, and pixels beyond a short map never read past the palette.
TEST(TiffReader, ColorMapEntries) {
  TPixelGraphic G;
  const std::vector<TRGB> Three = {RGBColor(1, 2, 3), RGBColor(4, 5, 6), RGBColor(255, 128, 0)};
  ASSERT_EQ(Outcome(MakeTiff(With(Plan(3, 1, {8}, 3, {{0, 2, 3}}), {tiff::ColorMap, tiff::ftShort, ColorMap(Three, 3)})), G), "loaded");
  EXPECT_EQ(G.PaletteCount(), 3);
  EXPECT_EQ(G.GetPixelColor(1, 0), RGBColor(255, 128, 0));
  EXPECT_THROW(G.GetPixelColor(2, 0), EPGInvalidPaletteIndex);

  ASSERT_EQ(Outcome(MakeTiff(With(Plan(2, 1, {4}, 3, {{0x1F}}), {tiff::ColorMap, tiff::ftShort, ColorMap(Three, 300)})), G), "loaded");
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(4, 5, 6));
  EXPECT_EQ(G.GetPixelColor(1, 0), 0);

  // A bilevel palette file shows its own two colours.
  ASSERT_EQ(Outcome(MakeTiff(With(Plan(2, 1, {1}, 3, {{0x40}}), {tiff::ColorMap, tiff::ftShort, ColorMap(Three, 2)})), G), "loaded");
  EXPECT_EQ(G.PaletteCount(), 2);
  EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(1, 2, 3));
  EXPECT_EQ(G.GetPixelColor(1, 0), RGBColor(4, 5, 6));

  ASSERT_EQ(Outcome(MakeTiff(With(Plan(2, 1, {8}, 3, {{0, 1}}), {tiff::ColorMap, tiff::ftShort, {1, 2}})), G), "loaded");
  EXPECT_EQ(G.PaletteIdent(), pNone);
  EXPECT_THROW(G.GetPixelColor(0, 0), EPGInvalidPaletteIndex);
}

TEST(TiffReader, FieldsAndDirectory) {
  const TiffPlan Grey = Plan(2, 1, {8}, 1, {{3, 4}});
  struct Case { const char* Name; TiffPlan Plan; std::vector<std::vector<int>> Rows; };
  const Case Cases[] = {
      {"the last of two entries counts", Also(Grey, {tiff::ImageWidth, tiff::ftShort, {1}}), {{3}}},
      {"BYTE values", With(With(Grey, {tiff::ImageWidth, tiff::ftByte, {1}}), {tiff::BitsPerSample, tiff::ftByte, {8}}), {{3}}},
      {"LONG values", With(Grey, {tiff::SamplesPerPixel, tiff::ftLong, {1}}), {{3, 4}}},
      {"a single value is the start of the value field", With(Grey, {tiff::ImageWidth, tiff::ftShort, {1, 7}}), {{3}}},
      {"tags not asked for may have any type", With(Grey, {305, 2, {}, 5, 0}), {{3, 4}}},
      {"samples per pixel absent: one", Without(Grey, tiff::SamplesPerPixel), {{3, 4}}},
      {"bits per sample absent: one", Without(With(Grey, {tiff::ImageWidth, tiff::ftShort, {9}}), tiff::BitsPerSample), {{0, 0, 0, 0, 0, 0, 1, 1, 0}}},
      {"planar configuration absent", Without(Grey, tiff::PlanarConfiguration), {{3, 4}}},
      {"rows per strip absent with one strip", Without(Grey, tiff::RowsPerStrip), {{3, 4}}},
      {"strip byte counts absent", Without(Grey, tiff::StripByteCounts), {{3, 4}}},
      {"directory before the data", DirectoryFirst(Grey), {{3, 4}}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    ASSERT_EQ(Outcome(MakeTiff(C.Plan), G), "loaded") << C.Name;
    EXPECT_EQ(Pixels(G), C.Rows) << C.Name;
  }
}

// Offsets count from where the file starts in the stream.
TEST(TiffReader, EmbeddedInALargerStream) {
  Bytes Data(13, 0xEE);
  const Bytes File = MakeTiff(Plan(2, 1, {8, 8, 8}, 2, {{1, 2, 3, 4, 5, 6}}));
  Data.insert(Data.end(), File.begin(), File.end());
  TMemoryStream S(Data);
  S.SetPosition(13);
  TPixelGraphic G;
  G.LoadFromStreamExt(S, "tif");
  EXPECT_EQ(G.GetPixel(1, 0), RGBColor(4, 5, 6));
  S.SetPosition(13);
  TPGImageInfo I;
  ASSERT_TRUE(GetStreamImageInfo(S, "", 0, I));
  EXPECT_EQ(I.SubFormat, "I, Uncompr., RGB");
}

TEST(TiffReader, ErrorTexts) {
  const TiffPlan Grey = Plan(2, 2, {8}, 1, {{1, 2, 3, 4}});
  const auto Edit = [](Bytes F, std::size_t At, std::uint8_t V) { F[At] = V; return F; };
  const Bytes GreyFile = MakeTiff(Grey);
  struct Case { const char* Name; Bytes File; const char* Message; };
  const Case Cases[] = {
      {"planar configuration 2", MakeTiff(With(Grey, {tiff::PlanarConfiguration, tiff::ftShort, {2}})), "TIFF: PlanarConfiguration invalid"},
      {"two samples", MakeTiff(With(With(Grey, {tiff::SamplesPerPixel, tiff::ftShort, {2}}), {tiff::BitsPerSample, tiff::ftShort, {8, 8}})),
       "TIFF: Invalid SamplesPerPixel"},
      {"RGB without bits per sample", MakeTiff(Without(Plan(1, 1, {8, 8, 8}, 2, {{1, 2, 3}}), tiff::BitsPerSample)), "TIFF: Invalid SamplesPerPixel"},
      {"bits per sample without values", MakeTiff(With(Grey, {tiff::BitsPerSample, tiff::ftShort, {}})), "TIFF: Invalid count of SamplesPerPixel"},
      {"bits for three samples of one", MakeTiff(With(Grey, {tiff::BitsPerSample, tiff::ftShort, {8, 8, 8}})),
       "TIFF: Invalid count of SamplesPerPixel"},
      {"16-bit samples", MakeTiff(With(Grey, {tiff::BitsPerSample, tiff::ftShort, {16}})), "TIFF: Invalid SamplesPerPixel"},
      {"2-bit samples", MakeTiff(With(Grey, {tiff::BitsPerSample, tiff::ftShort, {2}})), "TIFF: Invalid SamplesPerPixel"},
      {"4-bit RGB", MakeTiff(Plan(2, 2, {4, 4, 4}, 2, {{0, 0, 0, 0, 0, 0}})), "TIFF: Invalid SamplesPerPixel"},
      {"RGB called CMYK", MakeTiff(Plan(1, 1, {8, 8, 8}, 5, {{0, 0, 0}})), "TIFF: Invalid SamplesPerPixel"},
      {"grey called RGB", MakeTiff(With(Grey, {tiff::PhotometricInterpretation, tiff::ftShort, {2}})), "TIFF: Invalid SamplesPerPixel"},
      {"transparency mask", MakeTiff(With(Grey, {tiff::PhotometricInterpretation, tiff::ftShort, {4}})), "TIFF: Invalid SamplesPerPixel"},
      {"rows per strip absent, three strips", MakeTiff(Without(Plan(1, 3, {8}, 1, {{1}, {2}, {3}}), tiff::RowsPerStrip)),
       "TIFF: Invalid RowsPerStrip"},
      {"rows per strip absent, height 0", MakeTiff(Without(Plan(1, 0, {8}, 1, {{1}}), tiff::RowsPerStrip)), "TIFF: Invalid RowsPerStrip"},
      {"ASCII width", MakeTiff(With(Grey, {tiff::ImageWidth, tiff::ftAscii, {}, 1, 2})), "TIFF: Unsupported field Type: 2"},
      {"RATIONAL colour map", MakeTiff(With(Grey, {tiff::ColorMap, tiff::ftRational, {}, 1, 8})), "TIFF: Unsupported field Type: 5"},
      {"compression absent", MakeTiff(Without(Grey, tiff::Compression)), "TIFF: Unsupported compression 0"},
      {"CCITT 1D", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {2}})), "TIFF: Unsupported compression CCITT 1D"},
      {"Group 3", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {3}})), "TIFF: Unsupported compression Group 3 Fax"},
      {"Group 4", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {4}})), "TIFF: Unsupported compression Group 4 Fax"},
      {"LZW", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {5}})), "TIFF: Unsupported compression LZW"},
      {"JPEG", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {6}})), "TIFF: Unsupported compression JPEG"},
      {"Deflate", MakeTiff(With(Grey, {tiff::Compression, tiff::ftShort, {8}})), "TIFF: Unsupported compression 8"},
      {"two strips for one", MakeTiff(Plan(1, 2, {8}, 1, {{1}, {2}}, tiff::cNone, 2)),
       "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip"},
      {"no strip offsets", MakeTiff(Without(Grey, tiff::StripOffsets)), "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip"},
      {"PackBits literal claims 5 bytes when 3 remain", MakeTiff(Plan(4, 2, {8}, 1, {{0x03, 1, 2, 3, 4, 0x00, 5, 0x04, 1, 2, 3, 4, 5}}, PB)),
       "TIFF (PackBits): Invalid count of bytes in row 1"},
      {"PackBits repeat past the row", MakeTiff(Plan(2, 1, {8}, 1, {{0xFE, 1}}, PB)), "TIFF (PackBits): Invalid count of bytes in row 0"},
      {"PackBits strip cut short", MakeTiff(DirectoryFirst(Plan(4, 1, {8}, 1, {{0x03, 1, 2}}, PB))), "TIFF: Unexpected end of file"},
      {"uncompressed strip cut short", MakeTiff(DirectoryFirst(Plan(4, 1, {8}, 1, {{1, 2, 3}}))), "TIFF: Unexpected end of file"},
      {"strip offset past the end", MakeTiff(With(Grey, {tiff::StripOffsets, tiff::ftLong, {100000}})), "TIFF: Unexpected end of file"},
      {"directory offset past the end", Edit(GreyFile, 6, 0x7F), "TIFF: Unexpected end of file"},
      {"empty directory", MakeTiff(TiffPlan{}), "TIFF: Invalid RowsPerStrip"},
      {"65535 directory entries", Edit(Edit(MakeTiff(DirectoryFirst(Grey)), 8, 0xFF), 9, 0xFF), "TIFF: Unexpected end of file"},
      {"bits per sample array past the end", MakeTiff(With(Plan(1, 1, {8, 8, 8}, 2, {{1, 2, 3}}), {tiff::BitsPerSample, tiff::ftShort, {}, 3, 60000})),
       "TIFF: Unexpected end of file"},
      {"four billion strip offsets", MakeTiff(With(Grey, {tiff::StripOffsets, tiff::ftLong, {}, 0xFFFFFFFF, 8})), "TIFF: Unexpected end of file"},
      {"four billion colour map entries", MakeTiff(With(Grey, {tiff::ColorMap, tiff::ftShort, {}, 0xFFFFFFFF, 8})), "TIFF: Unexpected end of file"},
      {"strip byte counts past the end", MakeTiff(With(Grey, {tiff::StripByteCounts, tiff::ftLong, {}, 1000, 8})), "TIFF: Unexpected end of file"},
      {"width beyond 32-bit signed", MakeTiff(With(Grey, {tiff::ImageWidth, tiff::ftLong, {0x80000000}})), "TIFF: ImageWidth invalid"},
      {"height beyond 32-bit signed", MakeTiff(With(Grey, {tiff::ImageLength, tiff::ftLong, {0xFFFFFFFF}})), "TIFF: ImageLength invalid"},
      {"huge image in a tiny file", MakeTiff(Plan(40000, 40000, {8}, 1, {{1, 2, 3, 4}})), "TIFF: Unexpected end of file"},
      {"huge PackBits image in a tiny file", MakeTiff(Plan(65536, 4096, {8}, 1, {{0x81, 0}}, PB)), "TIFF: Unexpected end of file"},
      // Strips may share their data, but each counts only for its own rows.
      {"a million rows from one shared strip",
       MakeTiff(With(With(Plan(1000, 1, {8}, 1, {{0x81, 0}}, PB, 1000), {tiff::ImageLength, tiff::ftLong, {1000000}}),
                     {tiff::StripOffsets, tiff::ftLong, std::vector<std::uint32_t>(1000, 8)})),
       "TIFF: Unexpected end of file"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Outcome(C.File), C.Message) << C.Name;

  // A broken signature reaches the reader only when it is called directly.
  for (const auto& [At, Value] : {std::pair<std::size_t, std::uint8_t>{1, 'M'}, {2, 43}, {3, 42}}) {
    TMemoryStream S(Edit(GreyFile, At, Value));
    TPixelGraphic G;
    try {
      TTIFFileFormatReader().ReadGraphic(S, G, 0);
      ADD_FAILURE() << "byte " << At;
    } catch (const EPGTIFFileFormatReader& E) {
      EXPECT_STREQ(E.what(), "TIFF: Not a TIF file");
    }
  }

  // Only the first directory exists for the reader, even when there are more.
  TiffPlan Two = Grey;
  Two.SecondDirectory = true;
  EXPECT_EQ(Outcome(MakeTiff(Two), pgwaRaise, 0), "loaded");
  EXPECT_EQ(Outcome(MakeTiff(Two), pgwaRaise, 1), "TIFF: Index invalid");
  TMemoryStream S(MakeTiff(Two));
  TPGImageInfo I;
  EXPECT_THROW(TTIFFileFormatReader().GetInfo(S, 1, I), EPGTIFFileFormatReader);
}

// No-op codes are skipped, but the image skips no more of them than its data has bytes:
// strips that share a long stretch of them would otherwise take quadratic time.
TEST(TiffReader, SharedNoOpCodesAreSkippedOnce) {
  Bytes Strip(2000, 0x80);
  Strip.push_back(0x00);
  Strip.push_back(7);
  EXPECT_EQ(Outcome(MakeTiff(Plan(1, 1, {8}, 1, {Strip}, PB))), "loaded");
  const TiffPlan Shared = With(Plan(1, 10, {8}, 1, {Strip}, PB, 1), {tiff::StripOffsets, tiff::ftLong, std::vector<std::uint32_t>(10, 8)});
  EXPECT_EQ(Outcome(MakeTiff(Shared)), "TIFF (PackBits): Invalid count of bytes in row 1");
}

// One strip for more rows than RowsPerStrip: the image's policy decides, and reading on
// takes all rows from that strip.
TEST(TiffReader, SingleStripWarningFollowsThePolicy) {
  Bytes Strip(100);
  for (int i = 0; i < 100; ++i) Strip[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  const Bytes File = MakeTiff(Plan(1, 100, {8}, 1, {Strip}, tiff::cNone, 8));
  const char* Text = "TIFF: NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip";
  struct Case { const char* Name; TPGWarningAction Action; std::optional<TPGBoxResult> Answer; const char* Outcome; int Boxes; };
  const Case Cases[] = {
      {"ignore", pgwaIgnore, {}, "loaded", 0},
      {"OK box", pgwaOKBox, TPGBoxResult::OK, "loaded", 1},
      {"OK/Cancel box, OK", pgwaOKCancelBox, TPGBoxResult::OK, "loaded", 1},
      {"OK/Cancel box, Cancel", pgwaOKCancelBox, TPGBoxResult::Cancel, Text, 1},
      {"raise", pgwaRaise, {}, Text, 0},
  };
  for (const auto& C : Cases) {
    int Boxes = 0;
    BoxHandler H(C.Answer ? TPGWarningBoxHandler([&](const std::string& Caption, const std::string& Msg, TPGBoxButtons Buttons) {
      ++Boxes;
      EXPECT_EQ(Caption, "TIFF-Warning") << C.Name;
      EXPECT_EQ(Msg, Text) << C.Name;
      EXPECT_EQ(Buttons, C.Action == pgwaOKBox ? TPGBoxButtons::OK : TPGBoxButtons::OKCancel) << C.Name;
      return *C.Answer;
    }) : nullptr);
    TPixelGraphic G;
    EXPECT_EQ(Outcome(File, G, C.Action), C.Outcome) << C.Name;
    EXPECT_EQ(Boxes, C.Boxes) << C.Name;
    if (std::string(C.Outcome) == "loaded") {
      EXPECT_EQ(G.GetPixel(0, 99), 99) << C.Name;
      EXPECT_EQ(G.GetPixel(0, 50), 50) << C.Name;
    }
  }
}

TEST(TiffReader, InfoTexts) {
  struct Case { const char* Name; TiffPlan Plan; const char* SubFormat; const char* Details; int Bits; const char* Colors; };
  const auto Big = [](TiffPlan P) { P.BigEndian = true; return P; };
  const Case Cases[] = {
      {"big-endian PackBits RGB", Big(Plan(3, 2, {8, 8, 8}, 2, {{}}, PB)), "M, PackBits, RGB", "", 24, "16.7 M"},
      {"bilevel WhiteIsZero", Plan(3, 2, {1}, 0, {{}}), "I, Uncompr., WhiteIsZero", "", 1, "2"},
      {"4-bit grey", Plan(3, 2, {4}, 1, {{}}), "I, Uncompr., BlackIsZero", "", 4, "16"},
      {"8-bit palette", Plan(3, 2, {8}, 3, {{}}), "I, Uncompr., RGB Palette", "", 8, "256"},
      {"CMYK", Plan(3, 2, {8, 8, 8, 8}, 5, {{}}), "I, Uncompr., CMYK", "", 32, "16.7 M"},
      {"LZW", Plan(3, 2, {8, 8, 8}, 2, {{}}, tiff::cLZW), "I, LZW, RGB", "(Unsupported compression)", 24, "16.7 M"},
      {"CCITT 1D", Plan(3, 2, {1}, 0, {{}}, 2), "I, CCITT 1D, WhiteIsZero", "(Unsupported compression)", 1, "2"},
      {"Group 3", Plan(3, 2, {1}, 0, {{}}, 3), "I, Group 3 F., WhiteIsZero", "(Unsupported compression)", 1, "2"},
      {"Group 4", Big(Plan(3, 2, {1}, 0, {{}}, 4)), "M, Group 4 F., WhiteIsZero", "(Unsupported compression)", 1, "2"},
      {"JPEG", Plan(3, 2, {8, 8, 8}, 2, {{}}, tiff::cJPEG), "I, JPEG, RGB", "(Unsupported compression)", 24, "16.7 M"},
      {"Deflate names nothing", Plan(3, 2, {8}, 1, {{}}, 8), "I, , BlackIsZero", "", 8, "256"},
  };
  for (const auto& C : Cases) {
    const TPGImageInfo I = Info(MakeTiff(C.Plan));
    EXPECT_EQ(I.FormatName, "Tagged Image File Format") << C.Name;
    EXPECT_EQ(I.SubFormat, C.SubFormat) << C.Name;
    EXPECT_EQ(I.Details, C.Details) << C.Name;
    EXPECT_EQ(I.Width, 3) << C.Name;
    EXPECT_EQ(I.Height, 2) << C.Name;
    EXPECT_EQ(I.BitCount, C.Bits) << C.Name;
    EXPECT_EQ(I.Colors, C.Colors) << C.Name;
    EXPECT_EQ(I.ImageCount, 1) << C.Name;
  }
  // The info parses the directory with its messages.
  TMemoryStream S(MakeTiff(Plan(3, 2, {16}, 1, {{}})));
  TPGImageInfo I;
  try {
    TTIFFileFormatReader().GetInfo(S, 0, I);
    ADD_FAILURE() << "16-bit samples accepted";
  } catch (const EPGTIFFileFormatReader& E) {
    EXPECT_STREQ(E.what(), "TIFF: Invalid SamplesPerPixel");
  }
}

TEST(TiffReader, SignatureAndRegistration) {
  TTIFFileFormatReader R;
  const TSignatureHeader LE = {0x49, 0x49, 0x2A, 0}, BE = {0x4D, 0x4D, 0, 0x2A}, Mixed = {0x49, 0x49, 0, 0x2A};
  EXPECT_TRUE(R.IsSignature(LE));
  EXPECT_TRUE(R.IsSignature(BE));
  EXPECT_FALSE(R.IsSignature(Mixed));
  EXPECT_EQ(R.Extension, "tif");
  EXPECT_EQ(TTIFFFileFormatReader().Extension, "tiff");
  TMemoryStream S(MakeTiff(Plan(1, 1, {8}, 1, {{1}})));
  const TFileFormatReader* Found = FindReader(S, "");
  ASSERT_NE(Found, nullptr);
  EXPECT_EQ(Found->Extension, "tif");
  EXPECT_TRUE(Found->HasSignature);
  EXPECT_TRUE(Found->ShowInFilter);
}

// Every prefix of a file ends in the format's exception (or finds no reader when the
// signature is cut), unless only the unread link to a next directory is missing.
TEST(TiffReader, EveryPrefixOfAFileFails) {
  TiffPlan Rgb = Plan(3, 2, {8, 8, 8}, 2, {Bytes(9, 1), Bytes(9, 2)}, tiff::cNone, 1);
  Rgb.DirectoryFirst = true;
  TiffPlan Packed = Plan(5, 3, {4}, 3, {{0x02, 0x12, 0x34, 0x50, 0xFE, 0x77}, {0x02, 1, 2, 3}}, PB, 2);
  Packed = With(Packed, {tiff::ColorMap, tiff::ftShort, ColorMap({RGBColor(1, 2, 3)}, 16)});
  Packed.BigEndian = true;
  TiffPlan Cmyk = Plan(2, 1, {8, 8, 8, 8}, 5, {Bytes(8, 9)});
  for (const auto& P : {Rgb, Packed, Cmyk}) {
    const Bytes File = MakeTiff(P);
    ASSERT_EQ(Outcome(File), "loaded");
    for (std::size_t n = 0; n < File.size(); ++n) {
      const std::string Got = Outcome(Bytes(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(n)));
      // "II*" is still a signature: the header is zero-filled.
      if (n < 4) EXPECT_TRUE(Got == "other: Unknown file format" || Got == "TIFF: Unexpected end of file") << "prefix " << n;
      else if (!P.DirectoryFirst && n >= File.size() - 4) EXPECT_EQ(Got, "loaded") << "prefix " << n;
      else EXPECT_EQ(Got.rfind("TIFF", 0), 0u) << "prefix " << n << ": " << Got;
    }
  }
  // Cut inside the second strip: the image keeps its size and the first strip's rows.
  const Bytes File = MakeTiff(Rgb);
  TPixelGraphic G;
  EXPECT_EQ(Outcome(Bytes(File.begin(), File.end() - 4), G), "TIFF: Unexpected end of file");
  ASSERT_EQ(G.GetWidth(), 3);
  EXPECT_EQ(G.GetPixel(2, 0), RGBColor(1, 1, 1));
  EXPECT_EQ(G.GetPixel(2, 1), 0);
}

// Flipped bytes anywhere end in a loaded image or the format's exception.
TEST(TiffReader, FlippedBytesEndInTheFormatsException) {
  TiffPlan Pal = Plan(9, 3, {4}, 3, {{0x02, 1, 2, 3, 0xFF, 4, 0x04, 1, 2, 3, 4, 5}, {0xFC, 9}}, PB, 2);
  Pal = With(Pal, {tiff::ColorMap, tiff::ftShort, ColorMap({RGBColor(1, 2, 3), RGBColor(4, 5, 6)}, 16)});
  TiffPlan Rgb = Plan(3, 2, {8, 8, 8, 8}, 2, {Bytes(12, 1), Bytes(12, 2)}, tiff::cNone, 1);
  Rgb.BigEndian = true;
  for (const auto& P : {Pal, Rgb}) {
    const Bytes File = MakeTiff(P);
    ASSERT_EQ(Outcome(File), "loaded");
    for (std::size_t p = 0; p < File.size(); ++p) {
      for (const std::uint8_t Mask : {0x01, 0x80, 0xFF}) {
        Bytes F = File;
        F[p] ^= Mask;
        for (const auto Action : {pgwaIgnore, pgwaRaise}) {
          TPixelGraphic G;
          const std::string Got = Outcome(F, G, Action);
          EXPECT_TRUE(Got == "loaded" || Got.rfind("TIFF", 0) == 0 || (p < 4 && Got == "other: Unknown file format"))
              << "byte " << p << " ^ " << int(Mask) << ": " << Got;
        }
      }
    }
  }
}

TEST(TiffReader, ProgressAndAbort) {
  const Bytes File = MakeTiff(DirectoryFirst(Plan(2, 4, {8}, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}}, tiff::cNone, 2)));
  struct Case { const char* Name; Bytes File; int AbortAt; int Calls; const char* Outcome; };
  const Case Cases[] = {
      {"every row", File, -1, 4, "loaded"},
      {"abort after the second row", File, 1, 2, "loaded"},
      {"failure in the second strip", Bytes(File.begin(), File.end() - 3), -1, 2, "TIFF: Unexpected end of file"},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    int Calls = 0, Starts = 0, Ends = 0;
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Step, Calls) << C.Name;
      EXPECT_EQ(Max, 4) << C.Name;
      Abort = Calls++ == C.AbortAt;
    });
    EXPECT_EQ(Outcome(C.File, G), C.Outcome) << C.Name;
    EXPECT_EQ(Calls, C.Calls) << C.Name;
    EXPECT_EQ(Starts, 1) << C.Name;
    EXPECT_EQ(Ends, 1) << C.Name;
    EXPECT_EQ(G.GetPixel(1, 1), 4) << C.Name;
    EXPECT_EQ(G.GetPixel(0, 2), C.Calls > 2 ? 5 : 0) << C.Name;
  }
}
