#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/color_res_negotiation.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/palettes.h"

using namespace pg;

namespace {

constexpr TColorResolutions Only(TColorResolution R) { return static_cast<TColorResolutions>(1u << R); }

// Records what it is given to write, and writes a marker.
class TRecordingWriter : public TFileFormatWriter {
public:
  explicit TRecordingWriter(TColorResolutions Accepts, std::string FormatName = "Portable Bitmap")
      : TFileFormatWriter("tst", std::move(FormatName), true, Accepts) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override {
    if (Fail) throw std::runtime_error("disk full");
    Written = &Graphic;
    Resolution = ColorResolutionOf(Graphic);
    BitCountNum = Graphic.GetBitCountNum();
    Palette.assign(Graphic.GetPaletteData(), Graphic.GetPaletteData() + Graphic.PaletteCount());
    Pixels.clear();
    for (int y = 0; y < Graphic.GetHeight(); ++y)
      for (int x = 0; x < Graphic.GetWidth(); ++x) Pixels.push_back(Graphic.GetPixel(x, y));
    Stream.Write("written", 7);
  }
  bool Fail = false;
  const TPixelGraphic* Written = nullptr;
  TColorResolution Resolution = crTrueColor;
  int BitCountNum = -1;
  std::vector<TRGB> Palette;
  std::vector<int> Pixels;
};

class TNoResolutionWriter : public TFileFormatWriter {
public:
  TNoResolutionWriter() : TFileFormatWriter("none", "Nothing", true, 0) {}
};

// Everything the save must leave alone.
struct TSnapshot {
  int BitCountNum, Width, Height;
  TPaletteIdent Ident;
  std::vector<TRGB> Palette;
  std::vector<int> Pixels;
  explicit TSnapshot(const TPixelGraphic& G)
      : BitCountNum(G.GetBitCountNum()), Width(G.GetWidth()), Height(G.GetHeight()), Ident(G.PaletteIdent()),
        Palette(G.GetPaletteData(), G.GetPaletteData() + G.PaletteCount()) {
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) Pixels.push_back(G.GetPixel(x, y));
  }
  bool operator==(const TSnapshot&) const = default;
};

// A true-colour image of a smooth colour ramp.
void Ramp(TPixelGraphic& G, int W = 12, int H = 9) {
  G.SetFormat(W, H, 3);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) G.SetPixel(x, y, RGBColor(x * 255 / (W - 1), y * 255 / (H - 1), (x + y) * 10));
}

// An image of the given resolution with all its palette's colours.
void ImageOf(TPixelGraphic& G, TColorResolution R) {
  static constexpr int Num[] = {0, 0, 1, 1, 1, 2, 2, 3};
  static constexpr TPaletteIdent Ident[] = {pBlackWhite, pUnknown, pGray16, pSys16, pUnknown, pGray256, pUnknown, pTrueColor};
  if (R == crTrueColor) return Ramp(G);
  G.SetFormat(16, 16, Num[R]);
  if (Ident[R] != pUnknown) {
    G.SetPaletteIdent(Ident[R]);
  } else {
    std::mt19937 Rng(R);
    G.SetPaletteCount(G.MaxPaletteCount());
    for (int i = 0; i < G.PaletteCount(); ++i) G.SetPaletteEntry(i, static_cast<TRGB>(Rng() & 0xFFFFFF));
  }
  for (int i = 0; i < 256; ++i) G.SetPixel(i % 16, i / 16, i % G.PaletteCount());
  G.UpdatePaletteInfo();
}

class ScopedBoxHandler {
public:
  explicit ScopedBoxHandler(TPGWarningBoxHandler H) { SetPGWarningBoxHandler(std::move(H)); }
  ~ScopedBoxHandler() { SetPGWarningBoxHandler(nullptr); }
};

}  // namespace

TEST(ColorResNegotiation, PreferenceTable) {
  // Each row as the digits of its resolutions. A writer taking only the tail of a row
  // from position k on must get entry k.
  const char* Rows[] = {"01234567", "14673025", "24567301", "34672501",
                        "46732501", "56724301", "67435201", "76435201"};
  for (int r = 0; r < 8; ++r) {
    const auto R = static_cast<TColorResolution>(r);
    for (int k = 0; k < 8; ++k) {
      TColorResolutions Accepts = 0;
      for (int j = k; j < 8; ++j) Accepts |= Only(static_cast<TColorResolution>(Rows[r][j] - '0'));
      const TRecordingWriter W(Accepts);
      EXPECT_EQ(NegotiateColorResolution(W, R), Rows[r][k] - '0') << "row " << r << " from position " << k;
    }
  }
}

TEST(ColorResNegotiation, WriterWithoutResolutionsIsNamed) {
  TNoResolutionWriter W;
  TPixelGraphic G;
  Ramp(G);
  TMemoryStream S;
  try {
    WriteWithColorResolution(S, W, G);
    ADD_FAILURE() << "no EPGCanWriteResolutionsEmpty";
  } catch (const EPGCanWriteResolutionsEmpty& E) {
    EXPECT_STREQ(E.what(), "TNoResolutionWriter.CanWriteResolutions is empty");
  }
  EXPECT_EQ(S.GetSize(), 0);
}

TEST(ColorResNegotiation, ConversionTargets) {
  // Conversions from true colour and from a 16-grey image: depth, identity and palette of
  // what the writer receives, and pixels as the engine converts them.
  for (const TColorResolution From : {crTrueColor, cr16Grays}) {
    for (int t = 0; t < 8; ++t) {
      const auto Target = static_cast<TColorResolution>(t);
      if (Target == From) continue;
      TPixelGraphic G;
      ImageOf(G, From);
      G.SetSaveColorResWarningAction(pgwaIgnore);
      TRecordingWriter W(Only(Target));
      TMemoryStream S;
      WriteWithColorResolution(S, W, G);
      const std::string Case = "from " + std::to_string(From) + " to " + std::to_string(t);
      ASSERT_NE(W.Written, nullptr) << Case;
      EXPECT_NE(W.Written, &G) << Case;
      // Sixteen greys optimized into sixteen colours are the grey ramp again, and say so.
      EXPECT_EQ(W.Resolution, From == cr16Grays && Target == cr16Colors ? cr16Grays : Target) << Case;
      static constexpr int Num[] = {0, 0, 1, 1, 1, 2, 2, 3};
      EXPECT_EQ(W.BitCountNum, Num[t]) << Case;
      if (Target == cr256Colors) {
        // The optimized colours, then the 16 system colours.
        const auto Sys = StandardPalette(pSys16);
        ASSERT_GE(W.Palette.size(), 17u) << Case;
        ASSERT_LE(W.Palette.size(), 252u) << Case;
        EXPECT_TRUE(std::equal(Sys.begin(), Sys.end(), W.Palette.end() - 16)) << Case;
      }
      if (Target == cr2Colors || Target == cr16Colors) {
        EXPECT_LE(W.Palette.size(), Target == cr2Colors ? 2u : 16u) << Case;
      }
      // Standard palettes: the same pixels as the engine's conversion with default options.
      static constexpr TPaletteIdent Ident[] = {pBlackWhite, pNone, pGray16, pSys16, pNone, pGray256, pNone, pTrueColor};
      if (Ident[t] != pNone) {
        TPixelGraphic Ref;
        Ref.SetBitCountNum(Num[t]);
        if (t != crTrueColor) Ref.SetPaletteIdent(Ident[t]);
        Ref.SetWidth(G.GetWidth());
        Ref.SetHeight(G.GetHeight());
        Ref.StretchFrom(G);
        EXPECT_EQ(W.Pixels, TSnapshot(Ref).Pixels) << Case;
      }
      EXPECT_EQ(S.GetSize(), 7) << Case;
    }
  }
}

TEST(ColorResNegotiation, AcceptedResolutionIsWrittenAsItIs) {
  TPixelGraphic G;
  ImageOf(G, cr256Colors);
  G.SetSaveColorResWarningAction(pgwaRaise);
  TRecordingWriter W(Only(cr256Colors) | Only(crTrueColor));
  TMemoryStream S;
  WriteWithColorResolution(S, W, G);
  EXPECT_EQ(W.Written, &G);
}

TEST(ColorResNegotiation, WarningPolicies) {
  struct Row {
    const char* Fault;
    TPGWarningAction Action;
    bool Handler;
    TPGBoxResult Answer;
    int Boxes;
    TPGBoxButtons Buttons;
    bool Written;
  };
  const Row Rows[] = {
      {"ignore: no box, converted", pgwaIgnore, true, TPGBoxResult::Cancel, 0, TPGBoxButtons::OK, true},
      {"OK box: shown, then converted", pgwaOKBox, true, TPGBoxResult::OK, 1, TPGBoxButtons::OK, true},
      {"OK/Cancel answered OK: converted", pgwaOKCancelBox, true, TPGBoxResult::OK, 1, TPGBoxButtons::OKCancel, true},
      {"OK/Cancel answered Cancel: raises, nothing written", pgwaOKCancelBox, true, TPGBoxResult::Cancel, 1,
       TPGBoxButtons::OKCancel, false},
      {"OK/Cancel with nobody to answer counts as Cancel", pgwaOKCancelBox, false, TPGBoxResult::OK, 0,
       TPGBoxButtons::OKCancel, false},
      {"raise: no box, raises", pgwaRaise, true, TPGBoxResult::OK, 0, TPGBoxButtons::OK, false},
  };
  const std::string Text =
      "The graphic cannot be saved to a Portable Bitmap file with the current color resolution (16.7 million colors)."
      "\r\rThe graphic will be saved with a different color resolution (black and white).";
  for (const Row& R : Rows) {
    int Boxes = 0;
    ScopedBoxHandler Box(R.Handler ? TPGWarningBoxHandler([&](const std::string& Caption, const std::string& Message,
                                                                TPGBoxButtons Buttons) {
      ++Boxes;
      EXPECT_EQ(Caption, "Warning") << R.Fault;
      EXPECT_EQ(Message, Text) << R.Fault;
      EXPECT_EQ(Buttons, R.Buttons) << R.Fault;
      return R.Answer;
    })
                                   : TPGWarningBoxHandler());
    TPixelGraphic G;
    Ramp(G);
    G.SetSaveColorResWarningAction(R.Action);
    const TSnapshot Before(G);
    TRecordingWriter W(Only(crBlackWhite));
    TMemoryStream S;
    try {
      WriteWithColorResolution(S, W, G);
      EXPECT_TRUE(R.Written) << R.Fault;
    } catch (const EPGCannotWriteColorRes& E) {
      EXPECT_FALSE(R.Written) << R.Fault;
      EXPECT_STREQ(E.what(),
                   "The graphic cannot be saved with to a Portable Bitmap file with the current color resolution "
                   "(16.7 million colors)")
          << R.Fault;
    }
    EXPECT_EQ(Boxes, R.Boxes) << R.Fault;
    EXPECT_EQ(S.GetSize(), R.Written ? 7 : 0) << R.Fault;
    EXPECT_EQ(W.Resolution, R.Written ? crBlackWhite : crTrueColor) << R.Fault;
    EXPECT_TRUE(TSnapshot(G) == Before) << R.Fault << ": the saved image changed";
  }
}

TEST(ColorResNegotiation, FailuresLeaveTheImageAlone) {
  for (const TColorResolution From : {cr256Colors, cr16SysColors, cr2Colors}) {
    TPixelGraphic G;
    ImageOf(G, From);
    G.SetSaveColorResWarningAction(pgwaIgnore);
    const TSnapshot Before(G);
    TRecordingWriter W(Only(crBlackWhite) | Only(cr256Grays));
    W.Fail = true;
    TMemoryStream S;
    EXPECT_THROW(WriteWithColorResolution(S, W, G), std::runtime_error);
    EXPECT_TRUE(TSnapshot(G) == Before) << "from " << From;
  }
}

TEST(ColorResNegotiation, ProgressGoesToTheImagesHandlersAndAbortCancelsTheSave) {
  struct Row {
    const char* Fault;
    bool Abort;
  };
  for (const Row& R : {Row{"progress of the conversion is reported", false},
                       Row{"an aborted conversion is not written half done", true}}) {
    TPixelGraphic G;
    Ramp(G);
    G.SetSaveColorResWarningAction(pgwaIgnore);
    int Starts = 0, Steps = 0, Ends = 0;
    TObject* Sender = nullptr;
    G.SetOnProgressStart([&](TObject* S) { ++Starts, Sender = S; });
    G.SetOnProgress([&](TObject*, int, int, bool& Abort) { ++Steps, Abort = R.Abort; });
    G.SetOnProgressEnd([&](TObject*) { ++Ends; });
    TRecordingWriter W(Only(cr256Colors));
    TMemoryStream S;
    if (R.Abort) {
      try {
        WriteWithColorResolution(S, W, G);
        ADD_FAILURE() << R.Fault;
      } catch (const EPGCannotWriteColorRes& E) {
        EXPECT_STREQ(E.what(), "Operation aborted on user request") << R.Fault;
      }
      EXPECT_EQ(S.GetSize(), 0) << R.Fault;
    } else {
      WriteWithColorResolution(S, W, G);
      EXPECT_GE(Steps, 2 * G.GetHeight()) << R.Fault << ": palette counting and conversion";
    }
    EXPECT_EQ(Starts, Ends) << R.Fault;
    EXPECT_GE(Starts, 1) << R.Fault;
    EXPECT_NE(Sender, &G) << R.Fault << ": the events come from the temporary copy";
  }
}

TEST(ColorResNegotiation, SaveToStreamExtNegotiates) {
  // A black-and-white image as JPEG becomes 256 greys (row 0: the first JPEG takes is 5).
  TPixelGraphic G;
  G.SetFormat(16, 8, 0);
  G.SetPaletteIdent(pBlackWhite);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 16; ++x) G.SetPixel(x, y, 1);
  G.SetSaveColorResWarningAction(pgwaIgnore);
  const TSnapshot Before(G);
  TMemoryStream S;
  G.SaveToStreamExt(S, "jpg");
  EXPECT_TRUE(TSnapshot(G) == Before);
  S.SetPosition(0);
  TPixelGraphic Back;
  Back.LoadFromStream(S);
  EXPECT_EQ(Back.GetBitCountNum(), 2);
  EXPECT_EQ(Back.PaletteIdent(), pGray256);
  EXPECT_LE(GreenOf(Back.GetPixelColor(3, 4)), 8);
  EXPECT_GE(GreenOf(Back.GetPixelColor(12, 4)), 247);

  G.SetSaveColorResWarningAction(pgwaRaise);
  TMemoryStream Refused;
  try {
    G.SaveToStreamExt(Refused, "jpg");
    ADD_FAILURE() << "no EPGCannotWriteColorRes";
  } catch (const EPGCannotWriteColorRes& E) {
    EXPECT_STREQ(E.what(),
                 "The graphic cannot be saved with to a JPEG (JFIF compliant) file with the current color resolution "
                 "(black and white)");
  }
  EXPECT_EQ(Refused.GetSize(), 0);
}
