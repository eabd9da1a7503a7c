#include <gtest/gtest.h>

#include <vector>

#include "pgraphic/byte_order.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/formats/pcx.h"
#include "pgraphic/formats/registry.h"

using namespace pg;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A file built field by field, so that every header value can be set, hostile ones too.
struct PcxSpec {
  int Version = 5;
  int Bits = 8, Planes = 1;
  int Xmin = 0, Ymin = 0, Width = 3, Height = 2;  // Xmax = Xmin + Width - 1
  int BytesPerLine = -1;                          // -1: what the width needs, made even
  int PaletteInfo = 1, Reserved = 0;
  std::vector<TRGB> Palette16;   // header palette
  std::vector<Bytes> Lines;      // decoded lines, run-length coded by the builder
  Bytes Data;                    // coded data as is, after the coded Lines
  std::vector<TRGB> Palette256;  // the block at the end, written when not empty
  std::uint8_t Marker = 12;
  Bytes Trailer;                 // anything after the rest
};

Bytes Encode(const Bytes& Line) {
  Bytes Out;
  for (std::size_t i = 0; i < Line.size();) {
    std::size_t n = 1;
    while (i + n < Line.size() && n < 63 && Line[i + n] == Line[i]) ++n;
    if (n > 1 || Line[i] >= 0xC0) Out.push_back(static_cast<std::uint8_t>(0xC0 | n));
    Out.push_back(Line[i]);
    i += n;
  }
  return Out;
}

void PutRGB(Bytes& F, std::size_t At, TRGB C) {
  F[At] = static_cast<std::uint8_t>(RedOf(C));
  F[At + 1] = static_cast<std::uint8_t>(GreenOf(C));
  F[At + 2] = static_cast<std::uint8_t>(BlueOf(C));
}

Bytes MakePcx(const PcxSpec& S) {
  Bytes F(128, 0);
  F[0] = 10;
  F[1] = static_cast<std::uint8_t>(S.Version);
  F[2] = 1;
  F[3] = static_cast<std::uint8_t>(S.Bits);
  PutLE16(&F[4], static_cast<std::uint32_t>(S.Xmin));
  PutLE16(&F[6], static_cast<std::uint32_t>(S.Ymin));
  PutLE16(&F[8], static_cast<std::uint32_t>(S.Xmin + S.Width - 1));
  PutLE16(&F[10], static_cast<std::uint32_t>(S.Ymin + S.Height - 1));
  PutLE16(&F[12], 72);
  PutLE16(&F[14], 72);
  for (std::size_t i = 0; i < S.Palette16.size() && i < 16; ++i) PutRGB(F, 16 + 3 * i, S.Palette16[i]);
  F[64] = static_cast<std::uint8_t>(S.Reserved);
  F[65] = static_cast<std::uint8_t>(S.Planes);
  const int Needed = S.Bits == 1 ? (S.Width + 7) / 8 : S.Width;
  PutLE16(&F[66], static_cast<std::uint32_t>(S.BytesPerLine >= 0 ? S.BytesPerLine : (Needed + 1) / 2 * 2));
  PutLE16(&F[68], static_cast<std::uint32_t>(S.PaletteInfo));
  for (const Bytes& L : S.Lines) {
    const Bytes C = Encode(L);
    F.insert(F.end(), C.begin(), C.end());
  }
  F.insert(F.end(), S.Data.begin(), S.Data.end());
  if (!S.Palette256.empty()) {
    const std::size_t At = F.size();
    F.resize(At + 769, 0);
    F[At] = S.Marker;
    for (std::size_t i = 0; i < S.Palette256.size() && i < 256; ++i) PutRGB(F, At + 1 + 3 * i, S.Palette256[i]);
  }
  F.insert(F.end(), S.Trailer.begin(), S.Trailer.end());
  return F;
}

std::vector<TRGB> Ramp(int n) {
  std::vector<TRGB> P;
  for (int i = 0; i < n; ++i) P.push_back(RGBColor(i * 255 / (n - 1), 255 - i, (i * 7) & 255));
  return P;
}

// Small valid files of each layout.
PcxSpec Mono() {
  PcxSpec S;
  S.Bits = 1;
  S.Width = 10;
  S.Lines = {{0xB3, 0xFF}, {0x00, 0x40}};
  return S;
}
PcxSpec Sixteen(int Version) {
  PcxSpec S;
  S.Version = Version;
  S.Bits = 1;
  S.Planes = 4;
  S.Height = 1;
  S.Palette16 = Ramp(16);
  // Plane 0 is the lowest bit: pixels 1, 2, 15.
  S.Lines = {{0xA0, 0, 0x60, 0, 0x20, 0, 0x20, 0}};
  return S;
}
PcxSpec Indexed() {
  PcxSpec S;
  S.Palette256 = Ramp(256);
  S.Lines = {{5, 200, 0xC8, 0}, {7, 7, 7, 0}};
  return S;
}
PcxSpec TrueColor() {
  PcxSpec S;
  S.Planes = 3;
  S.Width = 2;
  S.Height = 1;
  S.Lines = {{10, 11, 20, 21, 30, 31}};
  return S;
}

void Load(TPixelGraphic& G, const Bytes& File) {
  TMemoryStream S(File);
  G.LoadFromStream(S);
}

// "loaded", the message of a PCX exception, or "other: " and the message of any other
// library exception.
std::string Outcome(const Bytes& File, TPixelGraphic* Into = nullptr) {
  TPixelGraphic Own;
  TPixelGraphic& G = Into ? *Into : Own;
  try {
    Load(G, File);
  } catch (const EPGPCXFileFormatReader& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

std::vector<std::vector<int>> Pixels(const TPixelGraphic& G) {
  std::vector<std::vector<int>> P(static_cast<std::size_t>(G.GetHeight()));
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) P[static_cast<std::size_t>(y)].push_back(G.GetPixel(x, y));
  return P;
}

}  // namespace

TEST(PcxReader, EachLayoutDecodesTopRowFirst) {
  struct Case { const char* Name; PcxSpec Spec; int Num; std::vector<std::vector<int>> Pixels; };
  const Case Cases[] = {
      {"1 bit", Mono(), 0, {{1, 0, 1, 1, 0, 0, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}},
      {"4 planes", Sixteen(5), 1, {{1, 2, 15}}},
      {"8 bits", Indexed(), 2, {{5, 200, 0xC8}, {7, 7, 7}}},
      {"3 planes", TrueColor(), 3, {{static_cast<int>(RGBColor(10, 20, 30)), static_cast<int>(RGBColor(11, 21, 31))}}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    ASSERT_EQ(Outcome(MakePcx(C.Spec), &G), "loaded") << C.Name;
    EXPECT_EQ(G.GetBitCountNum(), C.Num) << C.Name;
    EXPECT_EQ(Pixels(G), C.Pixels) << C.Name;
  }
}

TEST(PcxReader, PalettesOfEachLayout) {
  TPixelGraphic G;
  Load(G, MakePcx(Mono()));
  EXPECT_EQ(G.PaletteIdent(), pBlackWhite);
  // The bits of the last byte past the width are cleared, the row padding stays zero.
  EXPECT_EQ(G.GetScanLine(0)[1], 0xC0);
  EXPECT_EQ(G.GetScanLine(0)[2], 0);

  const auto Header = Ramp(16);
  Load(G, MakePcx(Sixteen(5)));
  EXPECT_EQ(G.PaletteCount(), 16);
  EXPECT_EQ(G.GetPixelColor(2, 0), Header[15]);
  // Version 3 files carry no palette: whatever the header holds, the system colours apply.
  Load(G, MakePcx(Sixteen(3)));
  EXPECT_EQ(G.PaletteIdent(), pSys16);
  EXPECT_EQ(G.GetPixelColor(2, 0), StandardPalette(pSys16)[15]);

  Load(G, MakePcx(Indexed()));
  EXPECT_EQ(G.PaletteCount(), 256);
  EXPECT_EQ(G.GetPixelColor(1, 0), Ramp(256)[200]);
  EXPECT_EQ(G.GetPixelColor(0, 1), Ramp(256)[7]);
}

TEST(PcxReader, RunsEndWithTheLine) {
  PcxSpec S;
  S.Width = 20;
  S.Palette256 = Ramp(256);
  // A run of 63 that starts 10 bytes before the end fills those 10 bytes only; the next
  // line starts with a fresh code, a run of 0 writes nothing, and a value of 0xC0 or
  // more needs a run of 1.
  S.Data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 77, 3, 0xC0, 99, 0xC1, 0xD0, 0xD2, 4};
  TPixelGraphic G;
  ASSERT_EQ(Outcome(MakePcx(S), &G), "loaded");
  std::vector<int> Top{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, Bottom{3, 0xD0};
  Top.resize(20, 77);
  Bottom.resize(20, 4);
  EXPECT_EQ(Pixels(G), (std::vector<std::vector<int>>{Top, Bottom}));
}

TEST(PcxReader, WindowGivesTheSize) {
  // 640 x 480 at 0,0 and a window that does not start at 0 (the fields are signed).
  PcxSpec Large = Mono();
  Large.Width = 640;
  Large.Height = 480;
  Large.Lines.assign(480, Bytes(80, 0xFF));
  Large.Lines[0][0] = 0x7F;
  PcxSpec Shifted = TrueColor();
  Shifted.Xmin = -5;
  Shifted.Ymin = 1000;
  for (const auto& [S, W, H] : {std::tuple{Large, 640, 480}, std::tuple{Shifted, 2, 1}}) {
    TPixelGraphic G;
    Load(G, MakePcx(S));
    EXPECT_EQ(G.GetWidth(), W);
    EXPECT_EQ(G.GetHeight(), H);
  }
  TPixelGraphic G;
  Load(G, MakePcx(Large));
  EXPECT_EQ(G.GetPixel(0, 0), 0);  // the first line is the top row
  EXPECT_EQ(G.GetPixel(1, 0), 1);
  EXPECT_EQ(G.GetPixel(0, 479), 1);
}

// Bytes per line below what the width needs: the pixels the file does not have are 0,
// in every plane; 0 bytes per line read nothing and give a blank image.
TEST(PcxReader, ShortBytesPerLineIsPaddedWithZero) {
  struct Case { const char* Name; PcxSpec Spec; std::vector<std::vector<int>> Pixels; };
  const auto With = [](PcxSpec S, int BytesPerLine, std::vector<Bytes> Lines) {
    S.BytesPerLine = BytesPerLine;
    S.Lines = std::move(Lines);
    return S;
  };
  PcxSpec Wide = Indexed();
  Wide.Width = 6;
  PcxSpec Tall = Mono();
  Tall.Height = 1000;
  const int Red = static_cast<int>(RGBColor(10, 20, 30));
  const Case Cases[] = {
      {"8 bits", With(Wide, 2, {{1, 2}, {3, 4}}), {{1, 2, 0, 0, 0, 0}, {3, 4, 0, 0, 0, 0}}},
      {"3 planes of 1 byte", With(TrueColor(), 1, {{10, 20, 30}}), {{Red, 0}}},
      {"4 planes of 1 byte", With([] { PcxSpec S = Sixteen(5); S.Width = 12; return S; }(), 1, {{0x80, 0x80, 0x80, 0x80}}),
       {{15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"1 bit, 0 bytes per line", With(Tall, 0, {}), std::vector<std::vector<int>>(1000, std::vector<int>(10, 0))},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    ASSERT_EQ(Outcome(MakePcx(C.Spec), &G), "loaded") << C.Name;
    EXPECT_EQ(Pixels(G), C.Pixels) << C.Name;
  }
}

TEST(PcxReader, RefusedFiles) {
  struct Case { const char* Name; PcxSpec Spec; const char* Message; };
  const auto With = [](PcxSpec S, auto Change) {
    Change(S);
    return S;
  };
  const Case Cases[] = {
      {"palette info 2 (grey)", With(Indexed(), [](PcxSpec& S) { S.PaletteInfo = 2; }), "PCX: Unknown subformat"},
      {"reserved byte set", With(TrueColor(), [](PcxSpec& S) { S.Reserved = 1; }), "PCX: Unknown subformat"},
      {"2 bits per plane", With(Mono(), [](PcxSpec& S) { S.Bits = 2; }), "PCX: Unknown subformat"},
      {"1 bit in 3 planes", With(Mono(), [](PcxSpec& S) { S.Planes = 3; }), "PCX: Unknown subformat"},
      {"8 bits in 4 planes", With(TrueColor(), [](PcxSpec& S) { S.Planes = 4; }), "PCX: Unknown subformat"},
      {"missing palette marker", With(Indexed(), [](PcxSpec& S) { S.Marker = 13; }), "PCX: Unknown subformat"},
      {"bytes after the palette", With(Indexed(), [](PcxSpec& S) { S.Trailer = {0, 0}; }), "PCX: Unknown subformat"},
      {"no room for a palette", With(Indexed(), [](PcxSpec& S) { S.Palette256.clear(); }), "PCX: Unknown subformat"},
      {"Xmax before Xmin", With(TrueColor(), [](PcxSpec& S) { S.Width = -3; }), "PCX: Xmax invalid"},
      {"empty window", With(TrueColor(), [](PcxSpec& S) { S.Width = 0; }), "PCX: Xmax invalid"},
      {"Ymax before Ymin", With(Mono(), [](PcxSpec& S) { S.Ymin = 100; S.Height = -50; }), "PCX: Ymax invalid"},
      {"huge image in a tiny file", With(TrueColor(), [](PcxSpec& S) { S.Width = 30000; S.Height = 30000; }), "PCX: Unexpected end of file"},
      {"huge blank image", With(Indexed(), [](PcxSpec& S) { S.Width = S.Height = 30000; S.BytesPerLine = 0; }), "PCX: Unexpected end of file"},
      {"data ends early", With(TrueColor(), [](PcxSpec& S) { S.Height = 2; }), "PCX: Unexpected end of file"},
      {"short data does not read the palette as pixels", With(Indexed(), [](PcxSpec& S) { S.Height = 3; }),
       "PCX: Unexpected end of file"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Outcome(MakePcx(C.Spec)), C.Message) << C.Name;
  EXPECT_EQ(Outcome(Bytes{10, 5, 1, 8}), "PCX: Unexpected end of file");

  TPixelGraphic G;
  TMemoryStream S(MakePcx(Mono()));
  try {
    G.LoadFromStreamIndex(S, "", 1);
    ADD_FAILURE() << "image 1 loaded";
  } catch (const EPGPCXFileFormatReader& E) {
    EXPECT_STREQ(E.what(), "PCX: Index invalid");
  }
}

// Every prefix of a file and every byte flipped either loads or raises the format's
// exception; a file cut inside its data keeps its size and the rows read.
TEST(PcxReader, DamagedFilesFailCleanly) {
  for (const PcxSpec& Spec : {Mono(), Sixteen(2), Indexed(), TrueColor()}) {
    const Bytes File = MakePcx(Spec);
    for (std::size_t n = 1; n < File.size(); ++n) {
      const std::string Got = Outcome(Bytes(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(n)));
      EXPECT_EQ(Got.rfind("PCX: ", 0), 0u) << "prefix " << n << ": " << Got;
    }
    for (std::size_t i = 0; i < File.size(); ++i)
      for (std::uint8_t Flip : {0x01, 0x40, 0x80, 0xFF}) {
        Bytes Damaged = File;
        Damaged[i] ^= Flip;
        const std::string Got = Outcome(Damaged);
        if (i == 0) EXPECT_EQ(Got, "other: Unknown file format");
        else EXPECT_TRUE(Got == "loaded" || Got.rfind("PCX: ", 0) == 0) << "byte " << i << " ^ " << int{Flip} << ": " << Got;
      }
  }
  PcxSpec S = Mono();
  S.Lines.resize(4, {0xFF, 0xFF});
  S.Height = 5;
  TPixelGraphic G;
  EXPECT_EQ(Outcome(MakePcx(S), &G), "PCX: Unexpected end of file");
  EXPECT_EQ(G.GetHeight(), 5);
  EXPECT_EQ(G.GetPixel(0, 3), 1);
  EXPECT_EQ(G.GetPixel(0, 4), 0);
}

TEST(PcxReader, AbortKeepsTheRowsRead) {
  PcxSpec S = Indexed();
  S.Height = 4;
  S.Lines = {{1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}, {4, 4, 4, 0}};
  TPixelGraphic G;
  std::vector<int> Steps;
  int Starts = 0, Ends = 0;
  G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Max, 4);
    Steps.push_back(Step);
    Abort = Step == 1;
  });
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  EXPECT_EQ(Outcome(MakePcx(S), &G), "loaded");
  EXPECT_EQ(Steps, (std::vector<int>{0, 1}));
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);
  EXPECT_EQ(Pixels(G), (std::vector<std::vector<int>>{{1, 1, 1}, {2, 2, 2}, {0, 0, 0}, {0, 0, 0}}));

  // The end notification comes also when the data runs out.
  S.Lines.resize(2);
  G.SetOnProgress(nullptr);
  EXPECT_EQ(Outcome(MakePcx(S), &G), "PCX: Unexpected end of file");
  EXPECT_EQ(Ends, 2);
}

TEST(PcxReader, InfoFromTheHeader) {
  struct Case { const char* Name; PcxSpec Spec; const char* SubFormat; const char* Colors; int BitCount, Width, Height; };
  const auto With = [](PcxSpec S, auto Change) {
    Change(S);
    return S;
  };
  const Case Cases[] = {
      {"version 0", With(Mono(), [](PcxSpec& S) { S.Version = 0; }), "Version 2.5 (0)", "2", 1, 10, 2},
      {"version 2", Sixteen(2), "Version 2.8 (2) with Palette", "16", 4, 3, 1},
      {"version 3", Sixteen(3), "Version 2.8 (3) without Palette", "16", 4, 3, 1},
      {"version 5", Indexed(), "Version 3.0 (5)", "256", 8, 3, 2},
      {"version 4", With(TrueColor(), [](PcxSpec& S) { S.Version = 4; }), "", "16.7M", 24, 2, 1},
      // The layout is not checked here, nor the window.
      {"16 bits", With(TrueColor(), [](PcxSpec& S) { S.Planes = 2; }), "Version 3.0 (5)", "65536", 16, 2, 1},
      {"too many bits to count", With(TrueColor(), [](PcxSpec& S) { S.Planes = 200; }), "Version 3.0 (5)", "", 1600, 2, 1},
      {"reversed window", With(TrueColor(), [](PcxSpec& S) { S.Xmin = 10; S.Width = -4; }), "Version 3.0 (5)", "16.7M", 24, -4, 1},
  };
  for (const auto& C : Cases) {
    TMemoryStream S(MakePcx(C.Spec));
    TPGImageInfo I;
    ASSERT_TRUE(GetStreamImageInfo(S, "", 0, I)) << C.Name;
    EXPECT_EQ(I.FormatName, "Paintbrush") << C.Name;
    EXPECT_EQ(I.SubFormat, C.SubFormat) << C.Name;
    EXPECT_EQ(I.Colors, C.Colors) << C.Name;
    EXPECT_EQ(I.BitCount, C.BitCount) << C.Name;
    EXPECT_EQ(I.Width, C.Width) << C.Name;
    EXPECT_EQ(I.Height, C.Height) << C.Name;
    EXPECT_EQ(I.ImageCount, 1) << C.Name;
  }

  const TPCXFileFormatReader Reader;
  for (const auto& [Spec, Index, Message] :
       {std::tuple{Mono(), 1, "PCX: Invalid value for Index"},
        std::tuple{With(Indexed(), [](PcxSpec& S) { S.PaletteInfo = 2; }), 0, "PCX: Unknown subformat"},
        std::tuple{With(Mono(), [](PcxSpec& S) { S.Reserved = 9; }), 0, "PCX: Unknown subformat"}}) {
    TMemoryStream S(MakePcx(Spec));
    TPGImageInfo I;
    try {
      Reader.GetInfo(S, Index, I);
      ADD_FAILURE() << Message;
    } catch (const EPGPCXFileFormatReader& E) {
      EXPECT_STREQ(E.what(), Message);
    }
  }
}
