#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/pnm.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"

using namespace pg;
using namespace std::string_literals;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& S) { return {S.begin(), S.end()}; }

void Load(TPixelGraphic& G, const std::string& File) {
  TMemoryStream S(Bytes(File));
  G.LoadFromStream(S);
}

std::string LoadError(const std::string& File) {
  TPixelGraphic G;
  try {
    Load(G, File);
  } catch (const EPGPxMFileFormatReader& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

// The grey or red values of a row, as the image's colours give them.
std::vector<int> RowValues(const TPixelGraphic& G, int y) {
  std::vector<int> V;
  for (int x = 0; x < G.GetWidth(); ++x) V.push_back(static_cast<int>(RedOf(G.GetPixelColor(x, y))));
  return V;
}

class BinaryWrites {
public:
  explicit BinaryWrites(bool On) : FSaved(PXMWriteBinary) { PXMWriteBinary = On; }
  ~BinaryWrites() { PXMWriteBinary = FSaved; }

private:
  bool FSaved;
};

std::string Save(TPixelGraphic& G, const char* Ext, bool Binary) {
  BinaryWrites B(Binary);
  TMemoryStream S;
  G.SaveToStreamExt(S, Ext);
  return {S.Data().begin(), S.Data().end()};
}

// Reports a size far beyond its data: the bytes given, then zeros.
class THugeStream : public TStream {
public:
  THugeStream(std::string Head, std::int64_t Size) : FHead(std::move(Head)), FSize(Size) {}
  std::size_t Read(void* Buffer, std::size_t Count) override {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(Count), FSize - FPos));
    auto* P = static_cast<std::uint8_t*>(Buffer);
    for (std::size_t i = 0; i < n; ++i, ++FPos)
      P[i] = FPos < static_cast<std::int64_t>(FHead.size()) ? static_cast<std::uint8_t>(FHead[static_cast<std::size_t>(FPos)]) : 0;
    return n;
  }
  void Write(const void*, std::size_t) override {}
  std::int64_t GetPosition() const override { return FPos; }
  void SetPosition(std::int64_t P) override { FPos = P; }
  std::int64_t GetSize() const override { return FSize; }

private:
  std::string FHead;
  std::int64_t FSize, FPos = 0;
};

}  // namespace

TEST(PnmReader, SamplesBecomePixels) {
  struct Case { const char* Name; std::string File; int BitCountNum; std::vector<std::vector<int>> Rows; };
  const Case Cases[] = {
      {"comment runs to the line feed", "P2 # comment\n3 2\n255\n0 128 255\n255 128 0\n", 2, {{0, 128, 255}, {255, 128, 0}}},
      {"maxval 15 scales up", "P2 3 1 15 15 7 0\n", 2, {{255, 119, 0}}},
      {"ascii maxval 65535 is read", "P2 3 1 65535 65535 32768 256\n", 2, {{255, 127, 0}}},
      {"sample above maxval is capped, not wrapped", "P2 2 1 100 200 100\n", 2, {{255, 255}}},
      {"hundreds of digits saturate", "P2 1 1 255 " + std::string(300, '9') + "\n", 2, {{255}}},
      {"comment inside a number ends it", "P2 1 1 25#x\n5\n", 2, {{51}}},
      {"any other byte separates", "P2,2;1 -255 a7b9\n", 2, {{7, 9}}},
      {"packed pbm digits are one pixel each", "P1 5 1 0110\n1", 0, {{255, 0, 0, 255, 0}}},
      {"pbm 1 is black", "P1 3 2 1 0 1\n0 1 0\n", 0, {{0, 255, 0}, {255, 0, 255}}},
      {"ppm ascii is red green blue", "P3 1 1 255 10 20 30\n", 3, {{10}}},
      {"binary pbm bits are inverted", "P4 10 2\n\x40\x80\xFF\xC0"s, 0, {{255, 0, 255, 255, 255, 255, 255, 255, 0, 255}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}},
      {"binary pgm", "P5 3 1 255\n\x00\x80\xFF"s, 2, {{0, 128, 255}}},
      {"binary pgm maxval 15 with a byte above it", "P5 3 1 15\n\x0F\x07\x14"s, 2, {{255, 119, 255}}},
      {"comment after binary maxval", "P5 2 1 255#c\n\x01\x02"s, 2, {{1, 2}}},
      {"binary ppm", "P6 2 1 255\n\x0A\x14\x1E\x28\x32\x3C"s, 3, {{10, 40}}},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    Load(G, C.File);
    ASSERT_EQ(G.GetBitCountNum(), C.BitCountNum) << C.Name;
    ASSERT_EQ(G.GetHeight(), static_cast<int>(C.Rows.size())) << C.Name;
    for (int y = 0; y < G.GetHeight(); ++y) EXPECT_EQ(RowValues(G, y), C.Rows[static_cast<std::size_t>(y)]) << C.Name << " row " << y;
    EXPECT_EQ(G.PaletteIdent(), C.BitCountNum == 0 ? pBlackWhite : C.BitCountNum == 2 ? pGray256 : pTrueColor) << C.Name;
  }
  TPixelGraphic G;
  Load(G, "P6 1 1 255\n\x0A\x14\x1E"s);
  EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(10, 20, 30));
  Load(G, "P3 1 1 100 10 20 30\n");
  EXPECT_EQ(G.GetPixelColor(0, 0), RGBColor(25, 51, 76));
}

// Every reader reads every type: a grey file named .ppm stays grey.
TEST(PnmReader, AnyReaderReadsAllTypes) {
  const TPPMFileFormatReader Ppm;
  TPixelGraphic G;
  G.SetFormat(0, 0, 3);
  TMemoryStream S(Bytes("P5 1 1 255\n\x07"s));
  Ppm.ReadGraphic(S, G, 0);
  EXPECT_EQ(G.GetBitCountNum(), 2);
  EXPECT_EQ(G.GetPixel(0, 0), 7);

  struct Sig { const char* Head; const char* Reader; };
  const Sig Sigs[] = {{"P1", "pbm"}, {"P4", "pbm"}, {"P2", "pgm"}, {"P5", "pgm"}, {"P3", "ppm"}, {"P6", "ppm"}, {"P7", ""}, {"p5", ""}};
  for (const auto& C : Sigs) {
    TMemoryStream H(Bytes(C.Head));
    const TFileFormatReader* R = FindReader(H, "");
    EXPECT_EQ(R ? R->Extension : "", C.Reader) << C.Head;
  }
}

TEST(PnmReader, Errors) {
  struct Case { const char* Name; std::string File; const char* Message; };
  const Case Cases[] = {
      {"not P", "Q5 1 1 255\n\x00"s, "PBM, PGM, PPM: Not a PBM, PGM, PPM file"},
      {"type 7", "P7 1 1 255\n\x00"s, "PBM, PGM, PPM: Unknown subformat"},
      {"width 0", "P5 0 1 255\n"s, "PBM, PGM, PPM: Not supported subformat"},
      {"height 0", "P2 1 0 255\n"s, "PBM, PGM, PPM: Not supported subformat"},
      {"ascii maxval 0", "P2 1 1 0 0\n", "PBM, PGM, PPM: Not supported subformat"},
      {"binary maxval 0", "P6 1 1 0\n\x00\x00\x00"s, "PBM, PGM, PPM: Not supported subformat"},
      {"binary 16-bit", "P5 1 1 65535\n\x00\x00"s, "PBM, PGM, PPM: Not supported subformat"},
      {"binary maxval 256", "P5 1 1 256\n\x00\x00"s, "PBM, PGM, PPM: Not supported subformat"},
      {"last sample without ending byte", "P2 2 1 255 1 2", "PBM, PGM, PPM: Unexpected end of file"},
      {"comment to the end", "P2 1 1 255 # no line feed", "PBM, PGM, PPM: Unexpected end of file"},
      {"short binary data", "P6 2 1 255\n\x01\x02\x03\x04\x05"s, "PBM, PGM, PPM: Unexpected end of file"},
      {"empty", "", "PBM, PGM, PPM: Unexpected end of file"},
      {"huge image in a tiny file", "P5 100000 100000 255\n\x00"s, "PBM, PGM, PPM: Unexpected end of file"},
      {"huge ascii image in a tiny file", "P1 5000 5000 0 1 0 1\n", "PBM, PGM, PPM: Unexpected end of file"},
      {"width of hundreds of digits", "P4 " + std::string(200, '7') + " 1\n\x00"s, "PBM, PGM, PPM: Unexpected end of file"},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    G.SetFormat(0, 0, 3);
    TMemoryStream S(Bytes(C.File));
    const TPPMFileFormatReader R;  // reaches the files whose signature no reader owns
    try {
      R.ReadGraphic(S, G, 0);
      ADD_FAILURE() << C.Name << ": loaded";
    } catch (const EPGPxMFileFormatReader& E) {
      EXPECT_STREQ(E.what(), C.Message) << C.Name;
    }
  }
  TMemoryStream S(Bytes("P5 1 1 255\n\x00"s));
  TPixelGraphic G;
  try {
    G.LoadFromStreamIndex(S, "", 1);
    ADD_FAILURE();
  } catch (const EPGPxMFileFormatReader& E) {
    EXPECT_STREQ(E.what(), "PxM: Index invalid");
  }
}

// A header whose image the pixel memory cannot hold, with data enough to pass the size
// check: the image refuses it before taking memory.
TEST(PnmReader, SizeBeyondTheImageIsRefused) {
  for (const char* Head : {"P5 2147483647 2 255\n", "P6 46341 46341 255\n"}) {
    THugeStream S(Head, std::int64_t{1} << 34);
    TPixelGraphic G;
    try {
      G.LoadFromStream(S);
      ADD_FAILURE() << Head;
    } catch (const EPixelGraphic& E) {
      EXPECT_STREQ(E.what(), "CreateDIBSection failed") << Head;
    }
    EXPECT_TRUE(G.GetEmpty());
  }
}

namespace {

const std::string SmallFiles[] = {
    "P1\n# c\n3 2\n1 0 1\n0 1 0",  // a plain PBM pixel needs no byte after its digit
    "P2\n3 2\n15\n0 7 15\n15 7 0\n",
    "P3\n2 1\n255\n1 2 3 4 5 6\n",
    "P4\n10 2\n\xAA\x40\x55\x80"s,
    "P5\n3 2\n200\n\x00\x64\xC8\x01\x02\x03"s,
    "P6 2 2 255\n\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C"s,
};

}  // namespace

// The format has no optional part: every prefix that still shows the signature ends
// early. The image keeps its size and the rows that arrived.
TEST(PnmReader, EveryPrefixEndsEarly) {
  for (const auto& File : SmallFiles) {
    for (std::size_t n = 2; n < File.size(); ++n)
      EXPECT_EQ(LoadError(File.substr(0, n)), "PBM, PGM, PPM: Unexpected end of file") << File << " prefix " << n;
    EXPECT_EQ(LoadError(File), "loaded") << File;
  }
  TPixelGraphic G;
  EXPECT_THROW(Load(G, SmallFiles[4].substr(0, SmallFiles[4].size() - 2)), EPGPxMFileFormatReader);
  EXPECT_EQ(G.GetWidth(), 3);
  EXPECT_EQ(RowValues(G, 0), (std::vector<int>{0, 127, 255}));
  EXPECT_EQ(RowValues(G, 1), (std::vector<int>{1, 0, 0}));
}

// Any byte changed behind the signature either still loads or ends in the format's
// exception.
TEST(PnmReader, FlippedBytesAreSafe) {
  for (const auto& File : SmallFiles)
    for (std::size_t i = 2; i < File.size(); ++i)
      for (const std::uint8_t Flip : {0x01, 0x08, 0x10, 0x80, 0xFF}) {
        std::string F = File;
        F[i] = static_cast<char>(F[i] ^ Flip);
        const std::string E = LoadError(F);
        EXPECT_TRUE(E == "loaded" || E.rfind("PBM, PGM, PPM: ", 0) == 0) << File << " byte " << i << ": " << E;
      }
}

TEST(PnmReader, Info) {
  struct Case { std::string File; const char* SubFormat; int BitCount; const char* Colors; const char* FormatName; };
  const Case Cases[] = {
      {"P1 7 3\n", "ASCII", 1, "2", "Portable Bitmap"},
      {"P4 7 3\n", "Binary", 1, "2", "Portable Bitmap"},
      {"P2 7 3 255\n", "ASCII", 8, "256", "Portable Graymap"},
      {"P5 7 3 0\n", "Binary", 8, "256", "Portable Graymap"},
      {"P3 7 3 65535\n", "ASCII", 24, "16.7M", "Portable Pixelmap"},
      {"P6 #x\n7 3 255\n", "Binary", 24, "16.7M", "Portable Pixelmap"},
  };
  for (const auto& C : Cases) {
    TMemoryStream S(Bytes(C.File));
    TPGImageInfo I;
    ASSERT_TRUE(GetStreamImageInfo(S, "", 0, I)) << C.File;
    EXPECT_EQ(I.FormatName, C.FormatName);
    EXPECT_EQ(I.SubFormat, C.SubFormat);
    EXPECT_EQ(I.BitCount, C.BitCount);
    EXPECT_EQ(I.Colors, C.Colors);
    EXPECT_EQ(I.Width, 7);
    EXPECT_EQ(I.Height, 3);
    EXPECT_EQ(I.ImageCount, 1);
  }
  const TPGMFileFormatReader R;
  TPGImageInfo I;
  TMemoryStream S(Bytes("P5 7 3 255\n"));
  try {
    R.GetInfo(S, 1, I);
    ADD_FAILURE();
  } catch (const EPGPxMFileFormatReader& E) {
    EXPECT_STREQ(E.what(), "PBM, PGM, PPM: Invalid value for Index");
  }
  TMemoryStream Short(Bytes("P5 7"));
  EXPECT_THROW(R.GetInfo(Short, 0, I), EPGPxMFileFormatReader);
}

TEST(PnmReader, AbortKeepsTheRowsRead) {
  for (const std::string& File : {"P2 2 3 255 1 2 3 4 5 6\n"s, "P5 2 3 255\n\x01\x02\x03\x04\x05\x06"s}) {
    TPixelGraphic G;
    int Calls = 0, Starts = 0, Ends = 0;
    G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Step, Calls);
      EXPECT_EQ(Max, 3);
      Abort = ++Calls == 2;
    });
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    Load(G, File);
    EXPECT_EQ(Calls, 2);
    EXPECT_EQ(Starts, 1);
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(RowValues(G, 1), (std::vector<int>{3, 4}));
    EXPECT_EQ(RowValues(G, 2), (std::vector<int>{0, 0}));
  }
  // An early end still closes the bracket.
  TPixelGraphic G;
  int Starts = 0, Ends = 0;
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  EXPECT_THROW(Load(G, "P2 2 3 255 1 2 3"), EPGPxMFileFormatReader);
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);
}

namespace {

TPixelGraphic& Filled(TPixelGraphic& G, int Width, int Height, int Num) {
  G.SetFormat(Width, Height, Num);
  if (Num == 0) G.SetPaletteIdent(pBlackWhite);
  if (Num == 2) G.SetPaletteIdent(pGray256);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      G.SetPixel(x, y, Num == 0 ? (x + y) % 3 == 0 : Num == 2 ? (x * 37 + y * 101) % 256 : RGBColor(x * 20, y * 30, (x * y * 7) % 256));
  return G;
}

}  // namespace

TEST(PnmWriter, Layout) {
  TPixelGraphic Bw;
  Bw.SetFormat(2, 1, 0);
  Bw.SetPaletteIdent(pBlackWhite);
  Bw.SetPixel(1, 0, 1);
  EXPECT_EQ(Save(Bw, "pbm", false), "P1\n2 1\n1 0\n");

  TPixelGraphic Bits;
  Bits.SetFormat(10, 1, 0);
  Bits.SetPaletteIdent(pBlackWhite);
  for (int x : {0, 2, 9}) Bits.SetPixel(x, 0, 1);
  // The bits beyond the width are inverted too.
  EXPECT_EQ(Save(Bits, "pbm", true), "P4\n10 1\n\x5F\xBF"s);

  TPixelGraphic Grey;
  Grey.SetFormat(3, 1, 2);
  Grey.SetPaletteIdent(pGray256);
  Grey.SetPixel(1, 0, 7);
  Grey.SetPixel(2, 0, 255);
  EXPECT_EQ(Save(Grey, "pgm", false), "P2\n3 1\n255\n0 7 255\n");
  EXPECT_EQ(Save(Grey, "pgm", true), "P5\n3 1\n255\n\x00\x07\xFF"s);

  TPixelGraphic Rgb;
  Rgb.SetFormat(2, 2, 3);
  Rgb.SetPixel(0, 0, RGBColor(1, 2, 3));
  Rgb.SetPixel(1, 0, RGBColor(4, 5, 6));
  Rgb.SetPixel(0, 1, RGBColor(7, 8, 9));
  Rgb.SetPixel(1, 1, RGBColor(100, 200, 255));
  EXPECT_EQ(Save(Rgb, "ppm", false), "P3\n2 2\n255\n1 2 3 4 5 6\n7 8 9 100 200 255\n");
  EXPECT_EQ(Save(Rgb, "ppm", true), "P6\n2 2\n255\n\x01\x02\x03\x04\x05\x06\x07\x08\x09\x64\xC8\xFF"s);
}

TEST(PnmWriter, RoundTripEveryFormAndLongRows) {
  for (int Num : {0, 2, 3})
    for (bool Binary : {false, true})
      for (int Width : {1, 9, 1500}) {
        TPixelGraphic G;
        Filled(G, Width, 3, Num);
        const char* Ext = Num == 0 ? "pbm" : Num == 2 ? "pgm" : "ppm";
        const std::string File = Save(G, Ext, Binary);
        TPixelGraphic R;
        Load(R, File);
        ASSERT_EQ(R.GetBitCountNum(), Num) << Ext;
        ASSERT_EQ(R.GetWidth(), Width);
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < Width; ++x)
            ASSERT_EQ(R.GetPixelColor(x, y), G.GetPixelColor(x, y)) << Ext << " binary " << Binary << " at " << x << "," << y;
      }
}

TEST(PnmWriter, Errors) {
  struct Case { const char* Name; TPXMFileFormatWriter Writer; int Width, Num; const char* Message; };
  const Case Cases[] = {
      {"unknown extension", TPXMFileFormatWriter("pxm", "x", AllColorResolutions), 2, 3, "PBM, PGM, PPM: Unknown file extension \"pxm\""},
      {"empty image", TPPMFileFormatWriter(), 0, 3, "PBM, PGM, PPM: Width = 0 or Height = 0"},
      {"pbm of 8 bits", TPBMFileFormatWriter(), 2, 2, "PBM: Invalid color resolution"},
      {"pbm with another palette", TPBMFileFormatWriter(), 2, 0, "PBM: Invalid color resolution"},
      {"pgm of 24 bits", TPGMFileFormatWriter(), 2, 3, "PGM: Invalid color resolution"},
      {"ppm of 8 bits", TPPMFileFormatWriter(), 2, 2, "PPM: Invalid color resolution"},
  };
  for (auto C : Cases) {
    TPixelGraphic G;
    G.SetFormat(C.Width, 1, C.Num);
    if (C.Num == 0) G.SetPaletteIdent(pSys16);
    TMemoryStream S;
    int Starts = 0;
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    try {
      C.Writer.WriteGraphic(S, G);
      ADD_FAILURE() << C.Name;
    } catch (const EPGPxMFileFormatWriter& E) {
      EXPECT_STREQ(E.what(), C.Message) << C.Name;
    }
    EXPECT_EQ(Starts, 0) << C.Name;
    EXPECT_TRUE(S.Data().empty()) << C.Name;
  }
}

// Saving goes through the colour-resolution negotiation: a colour image saved as PGM
// arrives grey, as PBM black and white.
TEST(PnmWriter, SaveConvertsToTheFormatsResolution) {
  TPixelGraphic G;
  Filled(G, 4, 2, 3);
  G.SetSaveColorResWarningAction(pgwaIgnore);
  TPixelGraphic R;
  Load(R, Save(G, "pgm", true));
  EXPECT_EQ(R.GetBitCountNum(), 2);
  Load(R, Save(G, "pbm", false));
  EXPECT_EQ(R.GetBitCountNum(), 0);
}

TEST(PnmWriter, ProgressPerRowFromTheImageAndNoAbort) {
  TPixelGraphic G;
  Filled(G, 3, 4, 2);
  int Calls = 0, Ends = 0;
  G.SetOnProgress([&](TObject* Sender, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Sender, &G);
    EXPECT_EQ(Step, Calls++);
    EXPECT_EQ(Max, 4);
    Abort = true;
  });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  const std::string File = Save(G, "pgm", true);
  EXPECT_EQ(Calls, 4);
  EXPECT_EQ(Ends, 1);
  EXPECT_EQ(File.size(), std::string("P5\n3 4\n255\n").size() + 12);
}
