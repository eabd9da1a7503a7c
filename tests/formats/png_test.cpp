#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <optional>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/png.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/png_builder.h"

using namespace pg;
using kvtest::BE16;
using kvtest::BE32;
using kvtest::Bytes;
using kvtest::MakePng;
using kvtest::PngPlan;

namespace {

// Runs a test body with a warning box handler and the library settings it changes, and
// puts both back afterwards.
class Scope {
public:
  explicit Scope(TPGWarningBoxHandler Handler = nullptr) { SetPGWarningBoxHandler(std::move(Handler)); }
  ~Scope() {
    SetPGWarningBoxHandler(nullptr);
    GammaCorrectOnLoad = true;
    PNGWriteGamma = true;
    PNGUseFileBackground = true;
    DefaultGamma = 1.8L;
  }
};

void Load(TPixelGraphic& G, const Bytes& File) {
  TMemoryStream S(File);
  G.LoadFromStream(S);
}

// "loaded", or the message of a PNG exception, or "other: " and the message of any
// other library exception.
std::string Outcome(const Bytes& File, TPGWarningAction Action = pgwaRaise, TPixelGraphic* Into = nullptr) {
  TPixelGraphic Own;
  TPixelGraphic& G = Into ? *Into : Own;
  G.SetReadWarningAction(Action);
  try {
    Load(G, File);
  } catch (const EPGPNGFileFormatReaderWriter& E) {
    return E.what();
  } catch (const EPixelGraphic& E) {
    return std::string("other: ") + E.what();
  }
  return "loaded";
}

TPGImageInfo Info(const Bytes& File, bool Expect = true) {
  TMemoryStream S(File);
  TPGImageInfo I;
  if (GetStreamImageInfo(S, "", 0, I) != Expect) {
    std::string Why = "succeeded";
    try {
      S.SetPosition(0);
      TPNGFileFormatReader().GetInfo(S, 0, I);
    } catch (const EPixelGraphic& E) {
      Why = E.what();
    }
    ADD_FAILURE() << "info " << Why;
  }
  return I;
}

PngPlan Plan(int Width, int Height, int BitDepth, int ColorType, std::vector<int> Samples) {
  PngPlan S;
  S.Width = Width;
  S.Height = Height;
  S.BitDepth = BitDepth;
  S.ColorType = ColorType;
  S.Samples = std::move(Samples);
  return S;
}

// A test pattern: sample c of pixel i, spread over the whole range of the depth.
std::vector<int> Pattern(int Width, int Height, int BitDepth, int Channels) {
  std::vector<int> V;
  const int Max = (1 << BitDepth) - 1;
  for (int i = 0; i < Width * Height; ++i)
    for (int c = 0; c < Channels; ++c) V.push_back((i * 7919 + c * 104729 + i * i * 31) % (Max + 1));
  return V;
}

// Samples of the file's scale brought to 8 bits the way the reader does.
int To8(int v, int BitDepth) { return BitDepth == 16 ? v >> 8 : v * 255 / ((1 << BitDepth) - 1); }

// The colour the reader must give pixel i of S, worked out from the raw samples: palette
// entries as stored; transparent and partly transparent samples composed onto Bg (in
// the file's scale) as round((F a + B (Max - a)) / Max), then cut to 8 bits.
struct Background { int R, G, B, Gray; };

TRGB ExpectedColor(const PngPlan& S, int i, std::optional<int> TrnsGray, std::optional<std::array<int, 3>> TrnsRgb,
                   const Background& Bg) {
  const int Max = (1 << S.BitDepth) - 1;
  const int Ch = kvtest::ChannelsOf(S.ColorType);
  const auto Sample = [&](int c) { return S.Samples[static_cast<std::size_t>(i * Ch + c)]; };
  const auto Over = [&](int F, int A, int B) {
    return static_cast<int>((static_cast<std::int64_t>(F) * A + static_cast<std::int64_t>(B) * (Max - A) + Max / 2) / Max);
  };
  if (S.ColorType == 3) {
    const auto& E = S.Palette[static_cast<std::size_t>(Sample(0))];
    return RGBColor(E[0], E[1], E[2]);
  }
  if (!(S.ColorType & 2)) {
    int g = Sample(0);
    const int A = S.ColorType == 4 ? Sample(1) : (TrnsGray && g == *TrnsGray ? 0 : Max);
    g = Over(g, A, Bg.Gray);
    g = To8(g, S.BitDepth);
    return RGBColor(g, g, g);
  }
  int r = Sample(0), g = Sample(1), b = Sample(2);
  const int A = S.ColorType == 6 ? Sample(3) : (TrnsRgb && r == (*TrnsRgb)[0] && g == (*TrnsRgb)[1] && b == (*TrnsRgb)[2] ? 0 : Max);
  return RGBColor(To8(Over(r, A, Bg.R), S.BitDepth), To8(Over(g, A, Bg.G), S.BitDepth), To8(Over(b, A, Bg.B), S.BitDepth));
}

}  // namespace

TEST(PngReader, DepthAndPaletteOfEveryColourType) {
  struct Case { const char* Name; int BitDepth, ColorType; bool Interlaced; int Num; TPaletteIdent Ident; };
  const Case Cases[] = {
      {"grey 1 bit", 1, 0, false, 0, pBlackWhite},
      {"grey 2 bits widen to 4", 2, 0, false, 1, pGray4},
      {"grey 2 bits interlaced", 2, 0, true, 1, pGray4},
      {"grey 4 bits", 4, 0, false, 1, pGray16},
      {"grey 8 bits", 8, 0, false, 2, pGray256},
      {"grey 16 bits keep the high byte", 16, 0, false, 2, pGray256},
      {"rgb 8 bits", 8, 2, false, 3, pTrueColor},
      {"rgb 8 bits interlaced", 8, 2, true, 3, pTrueColor},
      {"rgb 16 bits keep the high byte", 16, 2, false, 3, pTrueColor},
      {"palette 1 bit", 1, 3, false, 0, pUnknown},
      {"palette 2 bits widen to 4", 2, 3, false, 1, pUnknown},
      {"palette 2 bits interlaced", 2, 3, true, 1, pUnknown},
      {"palette 4 bits", 4, 3, false, 1, pUnknown},
      {"palette 8 bits", 8, 3, false, 2, pUnknown},
  };
  for (const auto& C : Cases) {
    for (const auto& [W, H] : {std::pair{1, 1}, std::pair{13, 11}}) {
      const std::string Name = std::string(C.Name) + " " + std::to_string(W) + "x" + std::to_string(H);
      PngPlan S = Plan(W, H, C.BitDepth, C.ColorType, Pattern(W, H, C.BitDepth, kvtest::ChannelsOf(C.ColorType)));
      S.Interlaced = C.Interlaced;
      if (C.ColorType == 3)
        for (int i = 0; i < (1 << C.BitDepth); ++i)
          S.Palette.push_back({static_cast<std::uint8_t>(i * 3 + 1), static_cast<std::uint8_t>(200 - i), static_cast<std::uint8_t>(i * 5 % 256)});
      TPixelGraphic G;
      ASSERT_EQ(Outcome(MakePng(S), pgwaRaise, &G), "loaded") << Name;
      EXPECT_EQ(G.GetBitCountNum(), C.Num) << Name;
      EXPECT_EQ(G.PaletteIdent(), C.Ident) << Name;
      if (C.ColorType == 3) { EXPECT_EQ(G.PaletteCount(), 1 << C.BitDepth) << Name; }
      int Bad = 0;
      for (int i = 0; i < W * H; ++i) {
        const TRGB Want = ExpectedColor(S, i, {}, {}, {});
        if (G.GetPixelColor(i % W, i / W) != Want && Bad++ == 0)
          ADD_FAILURE() << Name << ": pixel " << i << std::hex << " is " << G.GetPixelColor(i % W, i / W) << ", wanted " << Want;
        // 2-bit files give the sample values 0..3 as 4-bit pixels.
        if (C.BitDepth == 2) { EXPECT_EQ(G.GetPixel(i % W, i / W), S.Samples[static_cast<std::size_t>(i)]) << Name; }
      }
    }
  }
}

TEST(PngReader, TransparencyIsComposedOntoTheBackground) {
  const TRGB ImageBg = RGBColor(200, 101, 50);
  struct Case {
    const char* Name;
    int BitDepth, ColorType;
    std::optional<int> TrnsGray;
    std::optional<std::array<int, 3>> TrnsRgb;
    Bytes Bkgd;             // raw bKGD chunk data; empty for none
    bool UseFileBackground;
    Background Bg;          // what the pixels are composed on, in the file's scale
    TRGB BackGroundColor;   // the image's background colour afterwards
  };
  const Background Image8{200, 101, 50, (200 + 101 + 50) / 3};
  const Background Image16{200 * 256, 101 * 256, 50 * 256, (200 + 101 + 50) * 256 / 3};
  const Case Cases[] = {
      {"grey+alpha 8 on the image colour", 8, 4, {}, {}, {}, true, Image8, ImageBg},
      {"grey+alpha 16 on the image colour", 16, 4, {}, {}, {}, true, Image16, ImageBg},
      {"rgba 8 on the image colour", 8, 6, {}, {}, {}, true, Image8, ImageBg},
      {"rgba 16 on the image colour", 16, 6, {}, {}, {}, true, Image16, ImageBg},
      {"rgba 8 on the file colour", 8, 6, {}, {}, BE16({10, 20, 30}), true, {10, 20, 30, 0}, RGBColor(10, 20, 30)},
      {"rgba 16 on the exact 16-bit file colour", 16, 6, {}, {}, BE16({0x1111, 0x22FF, 0xFEDC}), true, {0x1111, 0x22FF, 0xFEDC, 0},
       RGBColor(0x11, 0x22, 0xFE)},
      {"rgba 16 with the file colour switched off", 16, 6, {}, {}, BE16({0x1111, 0x22FF, 0xFEDC}), false, Image16, ImageBg},
      {"grey+alpha 16 on the file grey", 16, 4, {}, {}, BE16({0x7F80}), true, {0, 0, 0, 0x7F80}, RGBColor(0x7F, 0x7F, 0x7F)},
      {"grey 1 bit trns", 1, 0, 1, {}, {}, true, {0, 0, 0, 0}, ImageBg},
      {"grey 2 bits trns on the nearest level", 2, 0, 0, {}, {}, true, {0, 0, 0, 1}, ImageBg},
      {"grey 2 bits trns on the file level", 2, 0, 0, {}, BE16({2}), true, {0, 0, 0, 2}, RGBColor(170, 170, 170)},
      {"grey 4 bits trns", 4, 0, 5, {}, {}, true, {0, 0, 0, 7}, ImageBg},
      {"grey 8 bits trns", 8, 0, 77, {}, {}, true, Image8, ImageBg},
      {"grey 16 bits trns", 16, 0, 0x1234, {}, {}, true, Image16, ImageBg},
      {"rgb 8 trns", 8, 2, {}, std::array<int, 3>{7, 8, 9}, {}, true, Image8, ImageBg},
      {"rgb 16 trns", 16, 2, {}, std::array<int, 3>{0x0707, 0x0808, 0x0909}, BE16({0xABCD, 0x0102, 0xFFFF}), true,
       {0xABCD, 0x0102, 0xFFFF, 0}, RGBColor(0xAB, 0x01, 0xFF)},
  };
  for (const auto& C : Cases) {
    const int W = 9, H = 7;
    const int Ch = kvtest::ChannelsOf(C.ColorType);
    PngPlan S = Plan(W, H, C.BitDepth, C.ColorType, Pattern(W, H, C.BitDepth, Ch));
    const int Max = (1 << C.BitDepth) - 1;
    // Fully transparent, fully opaque and transparent-colour samples must all occur.
    if (C.ColorType & 4) {
      S.Samples[static_cast<std::size_t>(Ch - 1)] = 0;
      S.Samples[static_cast<std::size_t>(2 * Ch - 1)] = Max;
    }
    if (C.TrnsGray) {
      S.Samples[0] = *C.TrnsGray;
      S.Chunks.push_back({"tRNS", BE16({*C.TrnsGray})});
    }
    if (C.TrnsRgb) {
      for (int c = 0; c < 3; ++c) S.Samples[static_cast<std::size_t>(c)] = (*C.TrnsRgb)[static_cast<std::size_t>(c)];
      S.Chunks.push_back({"tRNS", BE16({(*C.TrnsRgb)[0], (*C.TrnsRgb)[1], (*C.TrnsRgb)[2]})});
    }
    if (!C.Bkgd.empty()) S.Chunks.push_back({"bKGD", C.Bkgd});
    for (const bool Interlaced : {false, true}) {
      for (const bool WithGamma : {false, true}) {
        Scope Settings;
        PNGUseFileBackground = C.UseFileBackground;
        GammaCorrectOnLoad = false;
        PngPlan F = S;
        F.Interlaced = Interlaced;
        if (WithGamma) F.Chunks.push_back({"gAMA", BE32(45455)});  // must not change the composition
        const std::string Name = std::string(C.Name) + (Interlaced ? ", interlaced" : "") + (WithGamma ? ", gAMA" : "");
        TPixelGraphic G;
        G.SetBackGroundColor(ImageBg);
        ASSERT_EQ(Outcome(MakePng(F), pgwaRaise, &G), "loaded") << Name;
        int Bad = 0;
        for (int i = 0; i < W * H; ++i) {
          const TRGB Want = ExpectedColor(F, i, C.TrnsGray, C.TrnsRgb, C.Bg);
          if (G.GetPixelColor(i % W, i / W) != Want && Bad++ == 0)
            ADD_FAILURE() << Name << ": pixel " << i << std::hex << " is " << G.GetPixelColor(i % W, i / W) << ", wanted " << Want;
        }
        // (A palette image keeps the background colour as an index into the new palette.)
        if ((C.ColorType & 2) || (!C.Bkgd.empty() && C.UseFileBackground)) { EXPECT_EQ(G.GetBackGroundColor(), C.BackGroundColor) << Name; }
      }
    }
  }
}

// A palette's tRNS chunk changes neither the palette nor the pixels.
TEST(PngReader, PaletteTransparencyKeepsThePalette) {
  PngPlan S = Plan(4, 1, 2, 3, {0, 1, 2, 3});
  S.Palette = {{{10, 20, 30}}, {{40, 50, 60}}, {{70, 80, 90}}, {{100, 110, 120}}};
  S.Chunks = {{"tRNS", {0, 128}}, {"bKGD", {3}}};
  TPixelGraphic G;
  G.SetBackGroundColor(RGBColor(255, 255, 255));
  ASSERT_EQ(Outcome(MakePng(S), pgwaRaise, &G), "loaded");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(G.GetPixelColor(i, 0), RGBColor(S.Palette[i][0], S.Palette[i][1], S.Palette[i][2]));
  EXPECT_EQ(G.GetBackGroundColor(), RGBColor(100, 110, 120));
}

TEST(PngReader, GammaOfTheFile) {
  struct Case { const char* Name; std::vector<std::pair<std::string, Bytes>> Chunks; bool Correct; long double Gamma; };
  const Case Cases[] = {
      {"gAMA 0.45455 gives 2.2", {{"gAMA", BE32(45455)}}, false, 1.0L / 0.45455f},
      {"no gAMA gives the default", {}, false, 1.8L},
      {"sRGB alone is not a gamma", {{"sRGB", {0}}}, false, 1.8L},
      {"gAMA 0.45455 corrected on load", {{"gAMA", BE32(45455)}}, true, 1.8L},
      {"gAMA 0.54 within 5 % stays", {{"gAMA", BE32(54000)}}, true, 1.0L / 0.54f},
  };
  for (const auto& C : Cases) {
    Scope Settings;
    GammaCorrectOnLoad = C.Correct;
    PngPlan S = Plan(2, 1, 8, 0, {64, 128});
    S.Chunks = C.Chunks;
    TPixelGraphic G;
    ASSERT_EQ(Outcome(MakePng(S), pgwaRaise, &G), "loaded") << C.Name;
    EXPECT_EQ(G.GetGamma(), C.Gamma) << C.Name;
    const bool Remapped = C.Correct && std::fabs(C.Gamma - 1.8L) < 1e-9L && !C.Chunks.empty();
    const int Want = Remapped ? static_cast<int>(std::nearbyint(std::pow(64 / 255.0, (1 / 0.45455f) / 1.8) * 255)) : 64;
    EXPECT_EQ(RedOf(G.GetPixelColor(0, 0)), Want) << C.Name;
  }
}

Bytes SRGBChromaticities() {
  Bytes B;
  for (const std::uint32_t V : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u}) {
    const Bytes P = BE32(V);
    B.insert(B.end(), P.begin(), P.end());
  }
  return B;
}

TEST(PngReader, InfoTexts) {
  struct Case { const char* Name; PngPlan Plan; const char* SubFormat; const char* Details; int BitCount; const char* Colors; };
  const auto With = [](PngPlan S, std::vector<std::pair<std::string, Bytes>> Chunks, bool Interlaced = false) {
    (S.Palette.empty() ? S.Chunks : S.BeforePalette) = std::move(Chunks);
    S.Interlaced = Interlaced;
    return S;
  };
  PngPlan Pal = Plan(3, 2, 8, 3, {0, 1, 0, 1, 0, 1});
  Pal.Palette = {{{1, 2, 3}}, {{4, 5, 6}}};
  const Case Cases[] = {
      {"palette with gamma", With(Pal, {{"gAMA", BE32(45455)}}), "palette", "(gama, plte)", 8, "256"},
      {"grey 1 bit", Plan(3, 2, 1, 0, Pattern(3, 2, 1, 1)), "GrayScale", "", 1, "2"},
      {"grey 2 bits", Plan(3, 2, 2, 0, Pattern(3, 2, 2, 1)), "GrayScale", "", 2, "4"},
      {"grey 4 bits", Plan(3, 2, 4, 0, Pattern(3, 2, 4, 1)), "GrayScale", "", 4, "16"},
      {"grey+alpha 8", Plan(3, 2, 8, 4, Pattern(3, 2, 8, 2)), "GrayScale, alpha", "", 16, "64K?"},
      {"rgb 8 interlaced", With(Plan(3, 2, 8, 2, Pattern(3, 2, 8, 3)), {}, true), "RGB, interlaced", "", 24, "16.7M"},
      {"rgba 8", Plan(3, 2, 8, 6, Pattern(3, 2, 8, 4)), "RGB, alpha", "", 32, "16.7M?"},
      {"rgb 16", Plan(3, 2, 16, 2, Pattern(3, 2, 16, 3)), "RGB", "", 48, "?"},
      {"rgba 16 interlaced", With(Plan(3, 2, 16, 6, Pattern(3, 2, 16, 4)), {}, true), "RGB, alpha, interlaced", "", 64, "?"},
      {"every listed chunk in order",
       With(Plan(3, 2, 8, 2, Pattern(3, 2, 8, 3)),
            {{"tIME", {7, 208, 1, 2, 3, 4, 5}}, {"oFFs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}},
             {"bKGD", BE16({1, 2, 3})}, {"tRNS", BE16({1, 2, 3})}, {"cHRM", SRGBChromaticities()}, {"sBIT", {8, 8, 8}},
             {"gAMA", BE32(45455)}}),
       "RGB", "(gama, sbit, chrm, trns, bkgd, phys, offs, time)", 24, "16.7M"},
      {"oFFs alone gives no details", With(Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1)), {{"oFFs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}}),
       "GrayScale", "", 8, "256"},
      {"chunks we skip are not listed", With(Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1)), {{"sRGB", {0}}, {"iCCP", {'x', 0, 0, 0x78, 1}}}),
       "GrayScale", "", 8, "256"},
  };
  for (const auto& C : Cases) {
    const TPGImageInfo I = Info(MakePng(C.Plan));
    EXPECT_EQ(I.FormatName, "Portable Network Graphics") << C.Name;
    EXPECT_EQ(I.SubFormat, C.SubFormat) << C.Name;
    EXPECT_EQ(I.Details, C.Details) << C.Name;
    EXPECT_EQ(I.Width, 3) << C.Name;
    EXPECT_EQ(I.Height, 2) << C.Name;
    EXPECT_EQ(I.BitCount, C.BitCount) << C.Name;
    EXPECT_EQ(I.Colors, C.Colors) << C.Name;
    EXPECT_EQ(I.ImageCount, 1) << C.Name;
  }
}

TEST(PngReader, ErrorTexts) {
  PngPlan Good = Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1));
  const auto Changed = [&](std::function<void(Bytes&)> Change) {
    Bytes F = MakePng(Good);
    Change(F);
    return F;
  };
  const auto WithChunks = [&](std::vector<std::pair<std::string, Bytes>> Chunks, TPGWarningAction) {
    PngPlan S = Good;
    S.Chunks = std::move(Chunks);
    return MakePng(S);
  };
  struct Case { const char* Name; Bytes File; TPGWarningAction Action; const char* Outcome; };
  const Case Cases[] = {
      {"crc error in image data", Changed([](Bytes& F) { F[F.size() - 16] ^= 1; }), pgwaIgnore, "PNG: IDAT: CRC error"},
      {"bit depth 3", Changed([](Bytes& F) { F[24] = 3; kvtest::FixCrc(F, 8); }), pgwaIgnore, "PNG: Invalid IHDR data"},
      {"bit depth 3, warning raised first", Changed([](Bytes& F) { F[24] = 3; kvtest::FixCrc(F, 8); }), pgwaRaise,
       "PNG: Invalid bit depth in IHDR"},
      {"unknown critical chunk first", Changed([](Bytes& F) { F[12] = 'X'; kvtest::FixCrc(F, 8); }), pgwaIgnore, "PNG: XHDR: unhandled critical chunk"},
      {"ancillary chunk before the header", Changed([](Bytes& F) { F[12] = 'x'; kvtest::FixCrc(F, 8); }), pgwaIgnore, "PNG: IDAT: Missing IHDR before IDAT"},
      {"compressed data checksum wrong",
       Changed([](Bytes& F) { F[8 + 25 + 8 + 2 + 1] = 5; F[8 + 25 + 8 + 2 + 3] = static_cast<std::uint8_t>(~5); kvtest::FixCrc(F, 33); }),
       pgwaIgnore, "PNG: IDAT: incorrect data check"},
      {"image data ends a row early", Changed([](Bytes& F) { F[23] = 3; kvtest::FixCrc(F, 8); }), pgwaIgnore, "PNG: Not enough image data"},
      {"bad gAMA is a warning", WithChunks({{"gAMA", BE32(0)}}, pgwaRaise), pgwaRaise, "PNG: gAMA: gamma value out of range"},
      {"bad gAMA ignored", WithChunks({{"gAMA", BE32(0)}}, pgwaIgnore), pgwaIgnore, "loaded"},
      {"huge image in a tiny file", Changed([](Bytes& F) { F[18] = 0x40; F[22] = 0x40; kvtest::FixCrc(F, 8); }), pgwaIgnore,
       "PNG: Unexpected end of file"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Outcome(C.File, C.Action), C.Outcome) << C.Name;

  TPixelGraphic G;
  TMemoryStream S(MakePng(Good));
  try {
    G.LoadFromStreamIndex(S, "", 1);
    ADD_FAILURE() << "index 1 loaded";
  } catch (const EPGPNGFileFormatReaderWriter& E) {
    EXPECT_STREQ(E.what(), "PNG: Index invalid");
  }
  TPGImageInfo I;
  S.SetPosition(0);
  try {
    TPNGFileFormatReader().GetInfo(S, 1, I);
    ADD_FAILURE() << "info for index 1";
  } catch (const EPGPNGFileFormatReaderWriter& E) {
    EXPECT_STREQ(E.what(), "PNG: Invalid value for Index");
  }
}

// libpng warnings follow the image's warning policy; the info always raises them.
TEST(PngReader, WarningsFollowThePolicy) {
  PngPlan S = Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1));
  S.Chunks = {{"tEXt", {'a', 0, 'b'}}};
  Bytes File = MakePng(S);
  File[8 + 25 + 8 + 3] ^= 1;  // the text's CRC no longer fits: an ancillary chunk is dropped with a warning
  struct Case { const char* Name; TPGWarningAction Action; std::optional<TPGBoxResult> Answer; const char* Outcome; int Boxes; };
  const Case Cases[] = {
      {"ignore", pgwaIgnore, {}, "loaded", 0},
      {"OK box", pgwaOKBox, TPGBoxResult::OK, "loaded", 1},
      {"OK/Cancel box, OK", pgwaOKCancelBox, TPGBoxResult::OK, "loaded", 1},
      {"OK/Cancel box, Cancel", pgwaOKCancelBox, TPGBoxResult::Cancel, "PNG: Operation aborted on user request", 1},
      {"OK/Cancel box without a handler", pgwaOKCancelBox, {}, "PNG: Operation aborted on user request", 0},
      {"raise", pgwaRaise, {}, "PNG: tEXt: CRC error", 0},
  };
  for (const auto& C : Cases) {
    int Boxes = 0;
    Scope Handler(C.Answer ? TPGWarningBoxHandler([&](const std::string& Caption, const std::string& Text, TPGBoxButtons Buttons) {
      ++Boxes;
      EXPECT_EQ(Caption, "PNG Warning") << C.Name;
      EXPECT_EQ(Text, "tEXt: CRC error") << C.Name;
      EXPECT_EQ(Buttons, C.Action == pgwaOKBox ? TPGBoxButtons::OK : TPGBoxButtons::OKCancel) << C.Name;
      return *C.Answer;
    }) : nullptr);
    EXPECT_EQ(Outcome(File, C.Action), C.Outcome) << C.Name;
    EXPECT_EQ(Boxes, C.Boxes) << C.Name;
  }
  Info(File, false);
  Info(MakePng(Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1))), true);
}

// libpng only warns about a chunk longer than its limit and then asks for the memory;
// our allocator refuses such requests, so a few bytes cannot cost gigabytes.
TEST(PngReader, HugeChunkLengthsCostNoMemory) {
  PngPlan S = Plan(3, 2, 8, 0, Pattern(3, 2, 8, 1));
  S.Chunks = {{"tEXt", {'k', 0, 'v'}}};
  Bytes File = MakePng(S);
  File[33] = 0x68;  // the chunk after IHDR claims 1.7 GB
  std::vector<std::string> Warnings;
  Scope Handler([&](const std::string&, const std::string& Text, TPGBoxButtons) {
    Warnings.push_back(Text);
    return TPGBoxResult::OK;
  });
  EXPECT_EQ(Outcome(File, pgwaOKBox).rfind("PNG: ", 0), 0u);
  EXPECT_EQ(Warnings.front(), "tEXt: chunk data is too large");
  EXPECT_EQ(Warnings.back(), "tEXt: out of memory");  // the request was refused
}

// Exceptions of the stream and of the warning box pass through libpng unchanged.
TEST(PngReader, ForeignExceptionsPassThrough) {
  struct Boom : std::runtime_error {
    Boom() : std::runtime_error("boom") {}
  };
  class FailingStream : public TMemoryStream {
  public:
    FailingStream(Bytes Data, std::size_t FailAt) : TMemoryStream(std::move(Data)), FFailAt(FailAt) {}
    std::size_t Read(void* Buffer, std::size_t Count) override {
      if (static_cast<std::size_t>(GetPosition()) + Count > FFailAt && GetPosition() > 20) throw EPGStreamError("read failed");
      return TMemoryStream::Read(Buffer, Count);
    }
  private:
    std::size_t FFailAt;
  };
  PngPlan S = Plan(5, 4, 8, 2, Pattern(5, 4, 8, 3));
  const Bytes File = MakePng(S);
  FailingStream In(File, File.size() - 30);
  TPixelGraphic G;
  EXPECT_THROW(G.LoadFromStream(In), EPGStreamError);

  S.Chunks = {{"gAMA", BE32(0)}};
  Scope Handler([](const std::string&, const std::string&, TPGBoxButtons) -> TPGBoxResult { throw Boom(); });
  G.SetReadWarningAction(pgwaOKBox);
  EXPECT_THROW(Load(G, MakePng(S)), Boom);
}

// Every prefix of a file fails with the format's exception (or finds no reader when the
// signature is cut), and keeps the rows that arrived.
TEST(PngReader, EveryPrefixOfAFileFails) {
  PngPlan Pal = Plan(5, 3, 4, 3, Pattern(5, 3, 4, 1));
  for (int i = 0; i < 16; ++i) Pal.Palette.push_back({static_cast<std::uint8_t>(i * 16), 0, 0});
  Pal.Chunks = {{"tRNS", {0, 10}}};
  Pal.Trailing = {{"tEXt", {'k', 0, 'v'}}};
  PngPlan Interlaced = Plan(9, 9, 2, 0, Pattern(9, 9, 2, 1));
  Interlaced.Interlaced = true;
  const PngPlan Plans[] = {Plan(3, 3, 8, 6, Pattern(3, 3, 8, 4)), Pal, Interlaced, Plan(2, 2, 16, 0, Pattern(2, 2, 16, 1))};
  for (const auto& S : Plans) {
    const Bytes File = MakePng(S);
    ASSERT_EQ(Outcome(File), "loaded");
    for (std::size_t n = 0; n < File.size(); ++n) {
      const Bytes Prefix(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(n));
      const std::string Got = Outcome(Prefix, pgwaIgnore);
      if (n < 8) EXPECT_EQ(Got, "other: Unknown file format") << "prefix " << n;
      else EXPECT_EQ(Got.rfind("PNG: ", 0), 0u) << "prefix " << n << ": " << Got;
    }
  }
  // Cut inside the image data: the rows of the chunks that arrived are there.
  PngPlan Tall = Plan(4, 8, 8, 0, Pattern(4, 8, 8, 1));
  Tall.IdatChunkSize = 10;
  const Bytes File = MakePng(Tall);
  TPixelGraphic G;
  EXPECT_EQ(Outcome(Bytes(File.begin(), File.begin() + 8 + 25 + 3 * 22 + 12), pgwaIgnore, &G), "PNG: Read Error");
  ASSERT_EQ(G.GetWidth(), 4);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(RedOf(G.GetPixelColor(x, 3)), Tall.Samples[static_cast<std::size_t>(12 + x)]);
    EXPECT_EQ(G.GetPixel(x, 7), 0);
  }
}

// Flipped bytes anywhere after the signature, with the checksums left wrong or made to
// fit, end in a loaded image or the format's exception, under either policy.
TEST(PngReader, FlippedBytesEndInTheFormatsException) {
  PngPlan Pal = Plan(3, 2, 2, 3, {0, 1, 2, 3, 2, 1});
  Pal.Palette = {{{1, 2, 3}}, {{4, 5, 6}}, {{7, 8, 9}}, {{10, 11, 12}}};
  Pal.Chunks = {{"tRNS", {0, 9}}, {"bKGD", {1}}, {"gAMA", BE32(45455)}};
  PngPlan Rgba = Plan(3, 3, 16, 6, Pattern(3, 3, 16, 4));
  Rgba.Interlaced = true;
  Rgba.Chunks = {{"bKGD", BE16({1, 2, 3})}};
  for (const auto& S : {Pal, Rgba}) {
    const Bytes File = MakePng(S);
    // Chunk starts, to make the CRC fit again.
    std::vector<std::size_t> Starts;
    for (std::size_t At = 8; At + 8 <= File.size();) {
      Starts.push_back(At);
      At += 12 + (static_cast<std::size_t>(File[At]) << 24 | File[At + 1] << 16 | File[At + 2] << 8 | File[At + 3]);
    }
    for (std::size_t p = 8; p < File.size(); ++p) {
      for (const bool FixCrc : {false, true}) {
        Bytes F = File;
        F[p] ^= 0x5A;
        if (FixCrc) {
          const auto Start = *std::prev(std::upper_bound(Starts.begin(), Starts.end(), p));
          if (p >= Start + 8) kvtest::FixCrc(F, Start);
        }
        for (const auto Action : {pgwaIgnore, pgwaRaise}) {
          const std::string Got = Outcome(F, Action);
          EXPECT_TRUE(Got == "loaded" || Got.rfind("PNG: ", 0) == 0) << "byte " << p << (FixCrc ? " crc fixed" : "") << ": " << Got;
        }
      }
    }
  }
}

TEST(PngReader, ProgressAndAbort) {
  struct Case { const char* Name; PngPlan Plan; int AbortAt; int Calls; int Max; };
  PngPlan Plain = Plan(4, 5, 2, 0, {1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0});
  PngPlan Adam7 = Plain;
  Adam7.Interlaced = true;
  // Chunk after the image data whose CRC is wrong: png_read_end raises it.
  Plain.Trailing = Adam7.Trailing = {{"tEXt", {'k', 0, 'v'}}};
  const Case Cases[] = {
      {"plain, every row", Plain, -1, 5, 5},
      {"interlaced, every row of every pass", Adam7, -1, 35, 35},
      {"plain, abort after the first row", Plain, 0, 1, 5},
      {"interlaced, abort in the last pass", Adam7, 31, 32, 35},
  };
  for (const auto& C : Cases) {
    Bytes File = MakePng(C.Plan);
    File[File.size() - 12 - 1] ^= 1;  // the tEXt CRC
    TPixelGraphic G;
    int Calls = 0, Starts = 0, Ends = 0, Last = -1;
    G.SetOnProgressStart([&](TObject*) { ++Starts; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
      EXPECT_EQ(Step, Last + 1) << C.Name;
      EXPECT_EQ(Max, C.Max) << C.Name;
      Last = Step;
      Abort = Calls++ == C.AbortAt;
    });
    const std::string Got = Outcome(File, pgwaRaise, &G);
    EXPECT_EQ(Got, C.AbortAt < 0 ? "PNG: tEXt: CRC error" : "loaded") << C.Name;  // read_end only when not aborted
    EXPECT_EQ(Calls, C.Calls) << C.Name;
    EXPECT_EQ(Starts, 1) << C.Name;
    EXPECT_EQ(Ends, 1) << C.Name;
    if (C.AbortAt >= 0) {
      // A complete row is there, still packed two bits a pixel: 01 10 11 00.
      const int Row = C.Plan.Interlaced ? 4 : 0;
      EXPECT_EQ(G.GetPixel(0, Row), 0x6) << C.Name;
      EXPECT_EQ(G.GetPixel(1, Row), 0xC) << C.Name;
      if (!C.Plan.Interlaced) { EXPECT_EQ(G.GetPixel(0, 1), 0) << C.Name; }
    } else {
      for (int x = 0; x < 4; ++x) EXPECT_EQ(G.GetPixel(x, 4), C.Plan.Samples[static_cast<std::size_t>(16 + x)]) << C.Name;
    }
  }
  // A handler that throws still gets its end notification.
  TPixelGraphic G;
  int Ends = 0;
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  G.SetOnProgress([](TObject*, int, int, bool&) { throw std::runtime_error("handler"); });
  EXPECT_THROW(Load(G, MakePng(Plain)), std::runtime_error);
  EXPECT_EQ(Ends, 1);
}

namespace {

// The chunks of a file we wrote: type and data, in order.
std::vector<std::pair<std::string, Bytes>> Chunks(const Bytes& F) {
  std::vector<std::pair<std::string, Bytes>> C;
  for (std::size_t At = 8; At + 12 <= F.size();) {
    const std::size_t n = static_cast<std::size_t>(F[At]) << 24 | F[At + 1] << 16 | F[At + 2] << 8 | F[At + 3];
    C.push_back({std::string(F.begin() + static_cast<std::ptrdiff_t>(At + 4), F.begin() + static_cast<std::ptrdiff_t>(At + 8)),
                 Bytes(F.begin() + static_cast<std::ptrdiff_t>(At + 8), F.begin() + static_cast<std::ptrdiff_t>(At + 8 + n))});
    At += 12 + n;
  }
  return C;
}

void Fill(TPixelGraphic& G, int Width, int Height, int Num, TPaletteIdent Ident) {
  G.SetFormat(Width, Height, Num);
  if (Ident != pTrueColor && Ident != pUnknown) G.SetPaletteIdent(Ident);
  if (Ident == pUnknown) {
    G.SetPaletteCount(G.MaxPaletteCount());
    for (int i = 0; i < G.PaletteCount(); ++i) G.SetPaletteEntry(i, RGBColor(i, 255 - i, i * 7 % 256));
  }
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      G.SetPixel(x, y, Num == 3 ? RGBColor(x * 30, y * 40, x + y) : (x * 5 + y * 3) % G.MaxPaletteCount());
}

}  // namespace

TEST(PngWriter, ColourTypeDepthAndChunks) {
  struct Case { const char* Name; int Num; TPaletteIdent Ident; bool WriteGamma; int BitDepth, ColorType; std::size_t PaletteEntries; std::vector<std::string> Types; };
  const Case Cases[] = {
      {"24 bits as rgb", 3, pTrueColor, true, 8, 2, 0, {"IHDR", "gAMA", "IDAT", "IEND"}},
      {"256 greys as grey", 2, pGray256, true, 8, 0, 0, {"IHDR", "gAMA", "IDAT", "IEND"}},
      {"256 colours as palette", 2, pUnknown, true, 8, 3, 256, {"IHDR", "gAMA", "PLTE", "IDAT", "IEND"}},
      {"16 greys as palette", 1, pGray16, true, 4, 3, 16, {"IHDR", "gAMA", "PLTE", "IDAT", "IEND"}},
      {"black and white as palette", 0, pBlackWhite, false, 1, 3, 2, {"IHDR", "PLTE", "IDAT", "IEND"}},
      {"without gamma", 3, pTrueColor, false, 8, 2, 0, {"IHDR", "IDAT", "IEND"}},
  };
  for (const auto& C : Cases) {
    Scope Settings;
    PNGWriteGamma = C.WriteGamma;
    TPixelGraphic G;
    Fill(G, 7, 5, C.Num, C.Ident);
    TMemoryStream S;
    G.SaveToStreamExt(S, "png");
    const auto Found = Chunks(S.Data());
    std::vector<std::string> Types;
    for (const auto& [T, D] : Found) Types.push_back(T);
    EXPECT_EQ(Types, C.Types) << C.Name;
    const Bytes& H = Found[0].second;
    EXPECT_EQ(H[8], C.BitDepth) << C.Name;
    EXPECT_EQ(H[9], C.ColorType) << C.Name;
    EXPECT_EQ(H[12], 0) << C.Name;  // not interlaced
    for (const auto& [T, D] : Found) {
      if (T == "PLTE") { EXPECT_EQ(D.size(), 3 * C.PaletteEntries) << C.Name; }
      if (T == "gAMA") { EXPECT_EQ(D, BE32(55556)) << C.Name; }  // 1 / 1.8
    }

    // Read back: the same pixels, and a gamma within reach of the one written.
    S.SetPosition(0);
    TPixelGraphic R;
    R.LoadFromStream(S);
    ASSERT_EQ(R.GetBitCountNum(), C.Num) << C.Name;
    EXPECT_NEAR(static_cast<double>(R.GetGamma()), 1.8, 1e-4) << C.Name;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(R.GetPixelColor(x, y), G.GetPixelColor(x, y)) << C.Name << " at " << x << "," << y;
  }
  Scope Settings;
  TPixelGraphic G;
  Fill(G, 2, 2, 3, pTrueColor);
  G.SetGamma(2.2L);
  TMemoryStream S;
  G.SaveToStreamExt(S, "png");
  EXPECT_EQ(Chunks(S.Data())[1].second, BE32(45455));
}

TEST(PngWriter, ProgressWritesEveryRow) {
  TPixelGraphic G;
  Fill(G, 3, 4, 3, pTrueColor);
  std::vector<int> Steps;
  int Starts = 0, Ends = 0;
  G.SetOnProgressStart([&](TObject*) { ++Starts; });
  G.SetOnProgressEnd([&](TObject*) { ++Ends; });
  G.SetOnProgress([&](TObject*, int Step, int Max, bool& Abort) {
    EXPECT_EQ(Max, 3);
    Steps.push_back(Step);
    Abort = true;
  });
  TMemoryStream S;
  G.SaveToStreamExt(S, "png");
  EXPECT_EQ(Steps, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(Starts, 1);
  EXPECT_EQ(Ends, 1);
  S.SetPosition(0);
  TPixelGraphic R;
  R.LoadFromStream(S);
  EXPECT_EQ(R.GetPixelColor(2, 3), G.GetPixelColor(2, 3));
}

TEST(PngWriter, Failures) {
  class FullDisk : public TMemoryStream {
  public:
    void Write(const void* Buffer, std::size_t Count) override {
      if (GetSize() + static_cast<std::int64_t>(Count) > 60) throw EPGStreamError("disk full");
      TMemoryStream::Write(Buffer, Count);
    }
  };
  struct Case { const char* Name; std::function<void(TPixelGraphic&)> Make; bool FullDisk; const char* Message; };
  const Case Cases[] = {
      {"empty image", [](TPixelGraphic& G) { G.SetFormat(0, 3, 3); }, false, "PNG: Width = 0 or Height = 0"},
      {"palette image without colours", [](TPixelGraphic& G) { G.SetFormat(2, 2, 2); }, false, "PNG: Invalid palette"},
      {"stream fails", [](TPixelGraphic& G) { Fill(G, 40, 40, 3, pTrueColor); }, true, "disk full"},
  };
  for (const auto& C : Cases) {
    TPixelGraphic G;
    C.Make(G);
    int Ends = 0;
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    FullDisk Disk;
    TMemoryStream Memory;
    TStream& S = C.FullDisk ? static_cast<TStream&>(Disk) : Memory;
    try {
      TPNGFileFormatWriter().WriteGraphic(S, G);
      ADD_FAILURE() << C.Name << " was written";
    } catch (const EPixelGraphic& E) {
      EXPECT_STREQ(E.what(), C.Message) << C.Name;
      EXPECT_EQ(C.FullDisk, dynamic_cast<const EPGStreamError*>(&E) != nullptr) << C.Name;
    }
    EXPECT_EQ(Ends, C.FullDisk ? 1 : 0) << C.Name;
  }
}

// libpng calls an index beyond the palette a benign error; like when reading, it is a
// warning under the image's policy instead of a failed save.
TEST(PngWriter, IndexBeyondThePaletteIsAWarning) {
  for (const auto Action : {pgwaIgnore, pgwaRaise}) {
    TPixelGraphic G;
    G.SetFormat(3, 2, 2);
    G.SetPaletteCount(100);
    for (int i = 0; i < 100; ++i) G.SetPaletteEntry(i, RGBColor(i, 2 * i, 0));
    G.SetPixel(1, 1, 200);
    G.SetReadWarningAction(Action);
    TMemoryStream S;
    try {
      G.SaveToStreamExt(S, "png");
      EXPECT_EQ(Action, pgwaIgnore);
    } catch (const EPGPNGFileFormatReaderWriter& E) {
      EXPECT_EQ(Action, pgwaRaise);
      EXPECT_STREQ(E.what(), "PNG: Wrote palette index exceeding num_palette");
    }
  }
}

TEST(PngRegistry, ReaderAndWriterRows) {
  const TFileFormatWriter* W = FindWriter("png");
  ASSERT_NE(W, nullptr);
  EXPECT_EQ(W->FormatName, "Portable Network Graphics");
  EXPECT_EQ(W->CanWriteResolutions, AllColorResolutions);
  EXPECT_TRUE(W->ShowInFilter);
  EXPECT_FALSE(W->MultiImage);
  const Bytes File = MakePng(Plan(1, 1, 8, 0, {0}));
  for (const char* Ext : {"", "bmp", "png"}) {
    TMemoryStream S(File);
    const TFileFormatReader* R = FindReader(S, Ext);
    ASSERT_NE(R, nullptr);
    EXPECT_EQ(R->Extension, "png");
    EXPECT_TRUE(R->HasSignature);
  }
}
