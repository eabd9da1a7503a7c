#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/jpeg.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/settings_guard.h"

using namespace pg;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Restores the library-wide settings a test changes, and the warning box.
struct SettingsGuard {
  kvtest::TSettingsGuard Settings;
  ~SettingsGuard() { SetPGWarningBoxHandler(nullptr); }
};

// A textured true-colour image (a diagonal pattern with some noise), or the same in grey.
void Fill(TPixelGraphic& G, int W, int H, bool Grey) {
  G.SetFormat(W, H, Grey ? 2 : 3);
  if (Grey) G.SetPaletteIdent(pGray256);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int n = (x * 37 + y * 91) % 23;
      if (Grey) G.SetPixel(x, y, (x * 9 + y * 5 + n) % 256);
      else G.SetPixel(x, y, RGBColor((x * 11 + n) % 256, (y * 13 + n) % 256, (x * y + n) % 256));
    }
}

Bytes Encode(TPixelGraphic& G) {
  TMemoryStream S;
  FindWriter("jpg")->WriteGraphic(S, G);
  return S.Data();
}

Bytes Sample(int W = 21, int H = 13, bool Grey = false, bool Progressive = false) {
  SettingsGuard Keep;
  JPEGCompProgressive = Progressive;
  TPixelGraphic G;
  Fill(G, W, H, Grey);
  return Encode(G);
}

void Load(TPixelGraphic& G, const Bytes& File) {
  TMemoryStream S(File);
  G.LoadFromStream(S);
}

// The message of the JPEG exception a load raises, "other: ..." for other exceptions,
// "loaded" when none.
std::string LoadError(const Bytes& File, TPGWarningAction Action = pgwaRaise) {
  TPixelGraphic G;
  G.SetReadWarningAction(Action);
  try {
    Load(G, File);
  } catch (const EPGJPGFileFormatReaderWriter& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

std::string WriteError(TPixelGraphic& G) {
  try {
    Encode(G);
  } catch (const EPGJPGFileFormatReaderWriter& E) {
    return E.what();
  }
  return "written";
}

TPGImageInfo Info(const Bytes& File) {
  TMemoryStream S(File);
  TPGImageInfo I;
  EXPECT_TRUE(GetStreamImageInfo(S, "", 0, I));
  return I;
}

std::size_t FindMarker(const Bytes& F, std::uint8_t Marker) {
  for (std::size_t i = 0; i + 1 < F.size(); ++i)
    if (F[i] == 0xFF && F[i + 1] == Marker) return i;
  return F.size();
}

// Positions inside entropy-coded data: from after a scan header up to the next marker.
std::vector<bool> ScanData(const Bytes& F) {
  std::vector<bool> In(F.size() + 1, false);
  for (std::size_t i = 0; i + 3 < F.size(); ++i) {
    if (F[i] != 0xFF || F[i + 1] != 0xDA) continue;
    std::size_t j = i + 2 + (static_cast<std::size_t>(F[i + 2]) << 8 | F[i + 3]);
    for (; j < F.size() && !(F[j] == 0xFF && F[j + 1] != 0 && (F[j + 1] < 0xD0 || F[j + 1] > 0xD7)); ++j) In[j + 1] = true;
    i = j - 1;
  }
  return In;
}

// Files written by the library directly, in colour spaces our writer does not produce.
struct LibraryFile {
  J_COLOR_SPACE In, Out;
  int Components;
  bool Adobe;
};

Bytes WriteWithLibrary(const LibraryFile& Kind, int W = 16, int H = 8) {
  jpeg_compress_struct C;
  jpeg_error_mgr Err;
  C.err = jpeg_std_error(&Err);
  jpeg_create_compress(&C);
  unsigned char* Out = nullptr;
  unsigned long Size = 0;
  jpeg_mem_dest(&C, &Out, &Size);
  C.image_width = static_cast<JDIMENSION>(W);
  C.image_height = static_cast<JDIMENSION>(H);
  C.input_components = Kind.Components;
  C.in_color_space = Kind.In;
  jpeg_set_defaults(&C);
  jpeg_set_colorspace(&C, Kind.Out);
  if (Kind.Adobe) C.write_Adobe_marker = TRUE;
  jpeg_set_quality(&C, 100, TRUE);
  jpeg_start_compress(&C, TRUE);
  std::vector<JSAMPLE> Row(static_cast<std::size_t>(W * Kind.Components));
  while (C.next_scanline < C.image_height) {
    for (std::size_t i = 0; i < Row.size(); ++i) Row[i] = static_cast<JSAMPLE>(i % 3 == 0 ? 200 : 40);
    JSAMPROW P = Row.data();
    jpeg_write_scanlines(&C, &P, 1);
  }
  jpeg_finish_compress(&C);
  jpeg_destroy_compress(&C);
  Bytes F(Out, Out + Size);
  std::free(Out);
  return F;
}

}  // namespace

TEST(JpegRegistry, ThreeReadersAndWritersClaimTheSignature) {
  for (const char* Ext : {"jpg", "jpeg", "jif"}) {
    const TFileFormatWriter* W = FindWriter(Ext);
    ASSERT_NE(W, nullptr) << Ext;
    EXPECT_EQ(W->FormatName, "JPEG (JFIF compliant)");
    EXPECT_EQ(W->CanWriteResolutions, 160) << Ext;
    EXPECT_EQ(W->ShowInFilter, std::string(Ext) == "jpg") << Ext;
    EXPECT_FALSE(W->MultiImage);
  }
  int Readers = 0;
  for (const auto& R : FileFormatReaders())
    if (R->FormatName == "JPEG (JFIF compliant)") {
      ++Readers;
      EXPECT_TRUE(R->HasSignature);
      EXPECT_TRUE(R->ShowInFilter);
    }
  EXPECT_EQ(Readers, 3);
  // Two bytes decide, whatever the name and whatever follows.
  for (const char* Ext : {"", "png", "bmp", "jpg"}) {
    TMemoryStream S(Bytes{0xFF, 0xD8, 'x'});
    const TFileFormatReader* R = FindReader(S, Ext);
    ASSERT_NE(R, nullptr) << Ext;
    EXPECT_EQ(R->Extension, "jif");
  }
  TMemoryStream NotJpeg(Bytes{0xFF, 0xD9, 0xFF});
  EXPECT_EQ(FindReader(NotJpeg, "jpg"), nullptr);
}

TEST(JpegReader, GreyAndColourDepthsAndByteOrder) {
  SettingsGuard Keep;
  DefaultGamma = 2.2L;
  TPixelGraphic Src;
  Src.SetFormat(16, 16, 3);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) Src.SetPixel(x, y, RGBColor(250, 10, 10));
  JPEGCompQuality = 100;
  TPixelGraphic G;
  Load(G, Encode(Src));
  EXPECT_EQ(G.GetBitCountNum(), 3);
  EXPECT_EQ(G.GetGamma(), 2.2L);
  const std::uint8_t* P = G.GetScanLine(5);  // blue, green, red in memory
  EXPECT_NEAR(P[0], 10, 3);
  EXPECT_NEAR(P[1], 10, 3);
  EXPECT_NEAR(P[2], 250, 3);

  TPixelGraphic Grey;
  Fill(Grey, 9, 7, true);
  Load(G, Encode(Grey));
  EXPECT_EQ(G.GetBitCountNum(), 2);
  EXPECT_EQ(G.PaletteIdent(), pGray256);
  EXPECT_EQ(G.GetWidth(), 9);
  EXPECT_EQ(G.GetHeight(), 7);
  EXPECT_NEAR(G.GetPixel(8, 6), Grey.GetPixel(8, 6), 4);
  EXPECT_NEAR(G.GetPixel(0, 0), Grey.GetPixel(0, 0), 4);
}

TEST(JpegInfo, SubFormatColoursAndDepth) {
  struct Case { const char* Name; Bytes File; const char* SubFormat; int BitCount; const char* Colors; const char* Load; };
  SettingsGuard Keep;
  const Case Cases[] = {
      {"baseline", Sample(), "JFIF, YCbCr", 24, "16.7M", "loaded"},
      {"progressive", Sample(21, 13, false, true), "JFIF, YCbCr, Progressive", 24, "16.7M", "loaded"},
      {"grey", Sample(21, 13, true), "JFIF, GrayScale", 8, "256", "loaded"},
      {"cmyk", WriteWithLibrary({JCS_CMYK, JCS_CMYK, 4, false}, 21, 13), "Adope, CMYK", 32, "4294.9M", "JPG: Not supported subformat"},
      {"ycck", WriteWithLibrary({JCS_CMYK, JCS_YCCK, 4, false}, 21, 13), "Adope, YCbCrK", 32, "4294.9M", "JPG: Not supported subformat"},
      {"rgb", WriteWithLibrary({JCS_RGB, JCS_RGB, 3, false}, 21, 13), "Adope, RGB", 24, "16.7M", "loaded"},
      {"two components", WriteWithLibrary({JCS_UNKNOWN, JCS_UNKNOWN, 2, false}, 21, 13), "unknown", 16, "64K", "JPG: Not supported subformat"},
      {"both markers", WriteWithLibrary({JCS_RGB, JCS_YCbCr, 3, true}, 21, 13), "JFIF, Adope, YCbCr", 24, "16.7M", "loaded"},
  };
  for (const auto& C : Cases) {
    const TPGImageInfo I = Info(C.File);
    EXPECT_EQ(I.FormatName, "JPEG (JFIF compliant)") << C.Name;
    EXPECT_EQ(I.SubFormat, C.SubFormat) << C.Name;
    EXPECT_EQ(I.BitCount, C.BitCount) << C.Name;
    EXPECT_EQ(I.Colors, C.Colors) << C.Name;
    EXPECT_EQ(I.Width, 21) << C.Name;
    EXPECT_EQ(I.Height, 13) << C.Name;
    EXPECT_EQ(I.Details, "") << C.Name;
    EXPECT_EQ(I.ImageCount, 1) << C.Name;
    EXPECT_EQ(LoadError(C.File), C.Load) << C.Name;
  }
}

// Rows of an RGB file come out in the image's blue-green-red order too.
TEST(JpegReader, RgbColourSpaceFile) {
  TPixelGraphic G;
  Load(G, WriteWithLibrary({JCS_RGB, JCS_RGB, 3, false}));
  EXPECT_EQ(G.GetBitCountNum(), 3);
  const TRGB C = G.GetPixelColor(4, 4);  // written as red 200, green 40, blue 40
  EXPECT_NEAR(RedOf(C), 200, 2);
  EXPECT_NEAR(GreenOf(C), 40, 2);
  EXPECT_NEAR(BlueOf(C), 40, 2);
}

TEST(JpegReader, IndexOtherThanZero) {
  const Bytes File = Sample();
  TPixelGraphic G;
  TMemoryStream S(File);
  try {
    G.LoadFromStreamIndex(S, "", 1);
    ADD_FAILURE() << "loaded";
  } catch (const EPGJPGFileFormatReaderWriter& E) {
    EXPECT_STREQ(E.what(), "JPG: Index invalid");
  }
  TPGImageInfo I;
  S.SetPosition(0);
  try {
    FindReader(S, "")->GetInfo(S, 1, I);
    ADD_FAILURE() << "described";
  } catch (const EPGJPGFileFormatReaderWriter& E) {
    EXPECT_STREQ(E.what(), "JPG: Invalid value for Index");
  }
}

TEST(JpegWriter, RefusedImages) {
  struct Case { const char* Name; int W, H, Num; TPaletteIdent Palette; const char* Message; };
  const Case Cases[] = {
      {"4-bit image", 4, 4, 1, pGray16, "JPG: Invalid value for BitCount"},
      {"1-bit image", 4, 4, 0, pBlackWhite, "JPG: Invalid value for BitCount"},
      {"8-bit image with a colour palette", 4, 4, 2, pSpecial216, "JPG: Invalid value for BitCount"},
      {"8-bit image with grey palette of 236", 4, 4, 2, pGray236, "JPG: Invalid value for BitCount"},
      {"empty image", 0, 0, 3, pTrueColor, "JPG: Empty JPEG image (DNL not supported)"},
      {"too wide", 70000, 1, 3, pTrueColor, "JPG: Maximum supported image dimension is 65500 pixels"},
      {"grey with the 256-grey palette", 4, 4, 2, pGray256, "written"},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    G.SetFormat(C.W, C.H, C.Num);
    G.SetPaletteIdent(C.Palette);
    EXPECT_EQ(WriteError(G), C.Message) << C.Name;
  }
}

TEST(JpegSettings, MethodsOutsideTheCodingAreRefused) {
  SettingsGuard Keep;
  const Bytes File = Sample();
  JPEGDecompMethod = 3;
  EXPECT_EQ(LoadError(File), "JPG: Invalid value for JPEGDecompMethod");
  JPEGDecompMethod = 0;
  JPEGCompMethod = 7;
  TPixelGraphic G;
  Fill(G, 4, 4, false);
  EXPECT_EQ(WriteError(G), "JPG: Invalid value for JPEGCompMethod");
}

// The quality goes to the library unchanged: it scales the first luminance quantizer
// (16 in the standard table) by 5000/q below 50 and by 2 - q/50 above, capped to 1..255.
TEST(JpegSettings, QualityAndProgressionReachTheFile) {
  struct Case { int Quality; bool Progressive; int FirstQuantizer; std::uint8_t Frame; };
  const Case Cases[] = {{50, false, 16, 0xC0}, {100, false, 1, 0xC0}, {0, false, 255, 0xC0}, {10, false, 80, 0xC0},
                        {80, true, 6, 0xC2}, {95, true, 2, 0xC2}};
  for (const auto& C : Cases) {
    SettingsGuard Keep;
    JPEGCompQuality = static_cast<std::uint8_t>(C.Quality);
    JPEGCompProgressive = C.Progressive;
    TPixelGraphic G;
    Fill(G, 20, 12, false);
    const Bytes F = Encode(G);
    const std::size_t Dqt = FindMarker(F, 0xDB);
    ASSERT_LT(Dqt + 5, F.size());
    EXPECT_EQ(F[Dqt + 5], C.FirstQuantizer) << "quality " << C.Quality;
    EXPECT_LT(FindMarker(F, C.Frame), F.size()) << "quality " << C.Quality;
    EXPECT_LT(FindMarker(F, 0xE0), F.size()) << "JFIF header";
  }
}

// FastDecode (the dialog preview) uses the fast integer transform whatever the setting.
TEST(JpegSettings, DecodeMethodAndFastDecode) {
  SettingsGuard Keep;
  JPEGCompQuality = 60;
  const Bytes File = Sample(40, 24);
  const auto Decode = [&](std::uint8_t Method, bool Fast) {
    JPEGDecompMethod = Method;
    TPixelGraphic G;
    G.SetFastDecode(Fast);
    Load(G, File);
    return Bytes(G.GetBits(), G.GetBits() + G.ImageSize());
  };
  const Bytes Slow = Decode(0, false), Fast = Decode(1, false), Float = Decode(2, false);
  EXPECT_NE(Slow, Fast);
  EXPECT_NE(Fast, Float);
  EXPECT_EQ(Decode(0, true), Fast);
  EXPECT_EQ(Decode(2, true), Fast);
}

TEST(JpegReader, LibraryErrorsKeepTheLibraryText) {
  const Bytes Good = Sample();
  const std::size_t Sof = FindMarker(Good, 0xC0), Dqt = FindMarker(Good, 0xDB), Sos = FindMarker(Good, 0xDA);
  struct Case { const char* Name; std::size_t At; std::uint8_t Value; const char* Message; };
  const Case Cases[] = {
      {"lossless process", Sof + 1, 0xC3, "JPG: Unsupported JPEG process: SOF type 0xc3"},
      {"12-bit precision", Sof + 4, 12, "JPG: Unsupported JPEG data precision 12"},
      {"zero width", Sof + 8, 0, "JPG: Empty JPEG image (DNL not supported)"},
      {"quantizer table id 5", Dqt + 4, 5, "JPG: Bogus DQT index 5"},
      {"scan of an unknown component", Sos + 5, 9, "JPG: Invalid component ID 9 in SOS"},
      {"marker length 1", Sof + 3, 1, "JPG: Bogus marker length"},
  };
  for (const auto& C : Cases) {
    Bytes F = Good;
    F[C.At] = C.Value;
    EXPECT_EQ(LoadError(F, pgwaIgnore), C.Message) << C.Name;
    TMemoryStream S(F);
    TPGImageInfo I;
    EXPECT_FALSE(GetStreamImageInfo(S, "", 0, I)) << C.Name;
  }
  EXPECT_EQ(LoadError(Bytes{0xFF, 0xD8}, pgwaIgnore), "JPG: JPEG datastream contains no image");
}

// A short file is padded by the library after a warning, which the image's policy
// decides: the box shows the library's text under "JPG Warning".
TEST(JpegReader, TruncatedFileFollowsTheWarningPolicy) {
  struct Case { const char* Name; TPGWarningAction Action; bool HasHandler; TPGBoxResult Answer; const char* Result; int Boxes; };
  const Case Cases[] = {
      {"ignore", pgwaIgnore, true, TPGBoxResult::Cancel, "loaded", 0},
      {"ok box", pgwaOKBox, true, TPGBoxResult::OK, "loaded", 1},
      {"ok/cancel box answered ok", pgwaOKCancelBox, true, TPGBoxResult::OK, "loaded", 1},
      {"ok/cancel box answered cancel", pgwaOKCancelBox, true, TPGBoxResult::Cancel, "JPG: Operation aborted on user request", 1},
      {"ok/cancel box without a handler", pgwaOKCancelBox, false, TPGBoxResult::OK, "JPG: Operation aborted on user request", 0},
      {"raise", pgwaRaise, true, TPGBoxResult::OK, "JPG: Premature end of JPEG file", 0},
  };
  for (const bool Progressive : {false, true}) {
    const Bytes Full = Sample(40, 40, false, Progressive);
    const std::vector<bool> InScan = ScanData(Full);
    std::size_t n = Full.size() * 3 / 4;  // a cut inside scan data, not inside a marker segment
    while (!InScan[n]) --n;
    const Bytes Cut(Full.begin(), Full.begin() + static_cast<std::ptrdiff_t>(n));
    for (const auto& C : Cases) {
      SettingsGuard Keep;
      int Boxes = 0;
      if (C.HasHandler)
        SetPGWarningBoxHandler([&](const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons) {
          ++Boxes;
          EXPECT_EQ(Caption, "JPG Warning");
          EXPECT_EQ(Text, "Premature end of JPEG file");
          EXPECT_EQ(Buttons, C.Action == pgwaOKBox ? TPGBoxButtons::OK : TPGBoxButtons::OKCancel);
          return C.Answer;
        });
      EXPECT_EQ(LoadError(Cut, C.Action), C.Result) << C.Name << (Progressive ? " progressive" : "");
      EXPECT_EQ(Boxes, C.Boxes) << C.Name;
    }
  }
}

// Every prefix either loads, padded, at the header's size or raises the JPEG exception:
// a cut inside scan data always loads; a cut inside a marker segment may fail, as the
// inserted end marker is read as part of the segment. Under pgwaRaise every proper
// prefix raises.
TEST(JpegReader, EveryPrefixOfAFileIsSafe) {
  for (const bool Progressive : {false, true}) {
    const Bytes File = Sample(17, 9, false, Progressive);
    const std::vector<bool> InScan = ScanData(File);
    const std::size_t FirstScan = FindMarker(File, 0xDA);
    for (std::size_t n = 2; n <= File.size(); ++n) {
      const Bytes Prefix(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(n));
      TPixelGraphic G;
      G.SetReadWarningAction(pgwaIgnore);
      try {
        Load(G, Prefix);
        EXPECT_GT(n, FirstScan) << "prefix " << n;
        EXPECT_EQ(G.GetWidth(), 17) << "prefix " << n;
        EXPECT_EQ(G.GetHeight(), 9) << "prefix " << n;
      } catch (const EPGJPGFileFormatReaderWriter& E) {
        EXPECT_FALSE(InScan[n]) << "prefix " << n << ": " << E.what();
      }
      const std::string Strict = LoadError(Prefix);
      if (n < File.size()) EXPECT_EQ(Strict.rfind("JPG: ", 0), 0u) << "prefix " << n << ": " << Strict;
      else EXPECT_EQ(Strict, "loaded");
    }
  }
}

// Flipped bytes anywhere end in a load or the JPEG exception, never anything else.
TEST(JpegReader, FlippedBytesEndInTheFormatsException) {
  for (const bool Progressive : {false, true}) {
    const Bytes File = Sample(17, 9, false, Progressive);
    for (std::size_t i = 2; i < File.size(); ++i) {
      Bytes F = File;
      F[i] ^= 0xFF;
      for (const TPGWarningAction Action : {pgwaIgnore, pgwaRaise}) {
        const std::string R = LoadError(F, Action);
        EXPECT_TRUE(R == "loaded" || R.rfind("JPG: ", 0) == 0) << "byte " << i << ": " << R;
      }
      TMemoryStream S(F);
      TPGImageInfo I;
      GetStreamImageInfo(S, "", 0, I);
    }
  }
}

// Warnings while reading a header make the description fail, whatever the policy.
TEST(JpegInfo, HeaderWarningsRaise) {
  Bytes F = Sample();
  const std::size_t Dqt = FindMarker(F, 0xDB);
  F.insert(F.begin() + static_cast<std::ptrdiff_t>(Dqt), {0x12, 0x34});
  TMemoryStream S(F);
  TPGImageInfo I;
  try {
    FindReader(S, "")->GetInfo(S, 0, I);
    ADD_FAILURE() << "described";
  } catch (const EPGJPGFileFormatReaderWriter& E) {
    EXPECT_STREQ(E.what(), "JPG: Corrupt JPEG data: 2 extraneous bytes before marker 0xdb");
  }
  EXPECT_EQ(LoadError(F, pgwaIgnore), "loaded");
  EXPECT_EQ(LoadError(F, pgwaRaise), "JPG: Corrupt JPEG data: 2 extraneous bytes before marker 0xdb");
}

// A header that promises far more pixels than its data could describe is refused
// before the memory is taken.
TEST(JpegReader, HugeImageInATinyFile) {
  Bytes F = Sample();
  const std::size_t Sof = FindMarker(F, 0xC0);
  for (const std::size_t At : {Sof + 5, Sof + 7}) F[At] = 0xF0, F[At + 1] = 0x00;  // 61440 x 61440
  EXPECT_EQ(LoadError(F, pgwaIgnore), "JPG: Unexpected end of file");
  const TPGImageInfo I = Info(F);
  EXPECT_EQ(I.Width, 61440);
}

TEST(JpegReader, ProgressAndAbort) {
  const Bytes File = Sample(8, 20);
  for (const int AbortAt : {0, 2}) {
    TPixelGraphic G;
    std::vector<int> Steps;
    int Starts = 0, Ends = 0;
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Max, 20);
      Steps.push_back(Step);
      Abort = Step == AbortAt;
    });
    Load(G, File);
    EXPECT_EQ(Starts, 1);
    EXPECT_EQ(Ends, 1);
    if (AbortAt == 0) {
      ASSERT_EQ(Steps.size(), 20u);
      EXPECT_EQ(Steps.front(), 1);
      EXPECT_EQ(Steps.back(), 20);
    } else {
      EXPECT_EQ(Steps, (std::vector<int>{1, 2}));
      EXPECT_NE(G.GetPixel(7, 1), 0);  // the two rows read are kept
      EXPECT_EQ(G.GetPixel(7, 2), 0);
      EXPECT_EQ(G.GetPixel(0, 19), 0);
    }
  }
}

TEST(JpegWriter, ProgressCannotAbort) {
  TPixelGraphic G;
  Fill(G, 8, 20, false);
  std::vector<int> Steps;
  G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Max, 20);
    Steps.push_back(Step);
    Abort = true;
  });
  const Bytes F = Encode(G);
  ASSERT_EQ(Steps.size(), 20u);
  EXPECT_EQ(Steps.back(), 20);
  EXPECT_EQ(LoadError(F), "loaded");
}

namespace {

class FailingStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  std::size_t ReadsLeft = 1000, WritesLeft = 1000;
  std::size_t Read(void* Buffer, std::size_t Count) override {
    if (ReadsLeft-- == 0) throw EPGStreamError("read failed");
    return TMemoryStream::Read(Buffer, Count < 64 ? Count : 64);
  }
  void Write(const void* Buffer, std::size_t Count) override {
    if (WritesLeft-- == 0) throw EPGStreamError("write failed");
    TMemoryStream::Write(Buffer, Count);
  }
};

}  // namespace

// Exceptions from the stream and from handlers pass through the library unchanged,
// with the progress bracket closed and the library objects freed.
TEST(JpegCodec, ExceptionsFromStreamsAndHandlersPassThrough) {
  SettingsGuard Keep;
  const Bytes File = Sample(40, 40);
  for (const std::size_t Reads : {1u, 3u, 10u}) {
    FailingStream S(File);
    S.ReadsLeft = Reads;
    TPixelGraphic G;
    int Ends = 0;
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    EXPECT_THROW(G.LoadFromStream(S), EPGStreamError) << Reads;
    EXPECT_LE(Ends, 1);
    S.SetPosition(0);
    S.ReadsLeft = Reads;
    TPGImageInfo I;
    EXPECT_THROW(FindReader(S, "")->GetInfo(S, 0, I), EPGStreamError);
  }
  TPixelGraphic Src;
  Fill(Src, 300, 200, false);
  for (const std::size_t Writes : {0u, 1u}) {
    FailingStream S;
    S.WritesLeft = Writes;
    EXPECT_THROW(FindWriter("jpg")->WriteGraphic(S, Src), EPGStreamError) << Writes;
  }

  TPixelGraphic G;
  int Ends = 0;
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  G.SetOnProgress([](TObject*, int Step, int, bool&) {
    if (Step == 3) throw std::runtime_error("handler");
  });
  EXPECT_THROW(Load(G, File), std::runtime_error);
  EXPECT_EQ(Ends, 1);
  Ends = 0;
  EXPECT_THROW(Encode(G), std::runtime_error);
  EXPECT_EQ(Ends, 1);

  SetPGWarningBoxHandler([](const std::string&, const std::string&, TPGBoxButtons) -> TPGBoxResult { throw std::logic_error("box"); });
  TPixelGraphic W;
  W.SetReadWarningAction(pgwaOKBox);
  EXPECT_THROW(Load(W, Bytes(File.begin(), File.end() - 40)), std::logic_error);
}

TEST(JpegWriter, SaveByExtensionRoundTrip) {
  for (const char* Ext : {"jpg", "jpeg", "jif"}) {
    SettingsGuard Keep;
    JPEGCompQuality = 95;
    TPixelGraphic G;
    G.SetFormat(33, 21, 3);
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 33; ++x) G.SetPixel(x, y, RGBColor(x * 7, y * 11, (x + y) * 4));
    TMemoryStream S;
    G.SaveToStreamExt(S, Ext);
    S.SetPosition(0);
    TPixelGraphic R;
    R.LoadFromStream(S);
    ASSERT_EQ(R.GetWidth(), 33);
    ASSERT_EQ(R.GetHeight(), 21);
    long Sum = 0;
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 33; ++x) {
        const TRGB A = G.GetPixelColor(x, y), B = R.GetPixelColor(x, y);
        Sum += std::abs(RedOf(A) - RedOf(B)) + std::abs(GreenOf(A) - GreenOf(B)) + std::abs(BlueOf(A) - BlueOf(B));
      }
    EXPECT_LT(Sum / (33.0 * 21 * 3), 1.5) << Ext;
  }
}
