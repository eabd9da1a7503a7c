// Our JPEG reader against djpeg's decodings, and peers reading what we write.

#include <cmath>
#include <filesystem>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

fs::path JpegCorpus() { return fs::path(kvtest::CorpusDir()) / "jpeg"; }

// The accurate integer transform is our default decoding method.
kvtest::Rgb8Image DecodeWithDjpeg(const std::string& File) {
  const std::string Out = File + ".djpeg.ppm";
  const std::string Cmd = "djpeg -dct int -rgb -pnm -outfile '" + Out + "' '" + File + "'";
  if (std::system(Cmd.c_str()) != 0) return {};
  return kvtest::ReadPpm(Out);
}

// A reference PPM as an image: 24-bit, or 8-bit with the grey palette when every pixel
// is grey.
void LoadPpm(TPixelGraphic& G, const kvtest::Rgb8Image& P, bool Grey) {
  G.SetFormat(P.Width, P.Height, Grey ? 2 : 3);
  if (Grey) G.SetPaletteIdent(pGray256);
  for (int y = 0; y < P.Height; ++y)
    for (int x = 0; x < P.Width; ++x) G.SetPixel(x, y, Grey ? static_cast<int>(RedOf(P.At(x, y))) : static_cast<int>(P.At(x, y)));
}

struct Error {
  double Mean = 1e9;
  int Max = 255;
};

Error Compare(const TPixelGraphic& G, const kvtest::Rgb8Image& P) {
  if (P.Width != G.GetWidth() || P.Height != G.GetHeight()) return {};
  Error E{0, 0};
  for (int y = 0; y < P.Height; ++y)
    for (int x = 0; x < P.Width; ++x) {
      const TRGB A = G.GetPixelColor(x, y), B = P.At(x, y);
      for (const int d : {RedOf(A) - RedOf(B), GreenOf(A) - GreenOf(B), BlueOf(A) - BlueOf(B)}) {
        E.Mean += std::abs(d);
        E.Max = std::max(E.Max, std::abs(d));
      }
    }
  E.Mean /= 3.0 * P.Width * P.Height;
  return E;
}

struct SettingsGuard {
  std::uint8_t Decomp = JPEGDecompMethod, Quality = JPEGCompQuality;
  bool Progressive = JPEGCompProgressive;
  ~SettingsGuard() {
    JPEGDecompMethod = Decomp;
    JPEGCompQuality = Quality;
    JPEGCompProgressive = Progressive;
  }
};

}  // namespace

TEST(JpegPeers, DecodedPixelsEqualDjpeg) {
  SettingsGuard Keep;
  JPEGDecompMethod = 0;
  const auto Corpus = kvtest::CorpusFiles(JpegCorpus(), ".jpg");
  ASSERT_GE(Corpus.size(), 15u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    TPixelGraphic G;
    G.SetReadWarningAction(pgwaRaise);
    G.LoadFromFile(File.string());
    auto Ref = File;
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.replace_extension(".ppm").string()), File.filename().string()), 0);
  }
}

// Four-component files: plain CMYK and YCCK, both with an Adobe marker.
TEST(JpegPeers, FourComponentsAreRefusedButDescribed) {
  const auto Rejects = kvtest::CorpusFiles(JpegCorpus() / "reject", ".jpg");
  ASSERT_EQ(Rejects.size(), 2u);
  for (const auto& File : Rejects) {
    TPixelGraphic G;
    try {
      G.LoadFromFile(File.string());
      ADD_FAILURE() << File << " loaded";
    } catch (const EPGJPGFileFormatReaderWriter& E) {
      EXPECT_STREQ(E.what(), "JPG: Not supported subformat") << File;
    }
    TPGImageInfo I;
    ASSERT_TRUE(GetFileImageInfo(File.string(), 0, I)) << File;
    EXPECT_EQ(I.SubFormat, File.filename().string().rfind("cmyk", 0) == 0 ? "Adope, CMYK" : "Adope, YCbCrK") << File;
    EXPECT_EQ(I.Colors, "4294.9M");
    EXPECT_EQ(I.BitCount, 32);
    EXPECT_EQ(I.Width, 33);
    EXPECT_EQ(I.Height, 21);
  }
}

// djpeg decodes our files to exactly our own decoding; Pillow's decoding stays within
// an error that fits the quality, measured against the lossless pixels we wrote.
TEST(JpegPeers, PeersReadWhatWeWrite) {
  struct Case { int Quality; bool Progressive; double Mean; int Max; };
  // Measured on these crops: mean 1.3 to 2.4 and maximum 7 to 29 at quality 95, mean 3.1
  // to 4.2 and maximum 26 to 53 at 75 (chroma subsampling dominates); a swap of red and
  // blue or a row out of place costs far more.
  const Case Cases[] = {{95, false, 3.0, 40}, {95, true, 3.0, 40}, {75, false, 6.0, 64}};
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written";
  fs::create_directories(Dir);
  for (const char* Source : {"chelsea_67x45", "astronaut_67x45", "coffee_227x3", "grey_camera_67x45"}) {
    const kvtest::Rgb8Image Pixels = kvtest::ReadPpm((JpegCorpus() / "source" / (std::string(Source) + ".ppm")).string());
    ASSERT_GT(Pixels.Width, 0) << Source;
    TPixelGraphic G;
    LoadPpm(G, Pixels, std::string(Source).rfind("grey", 0) == 0);
    for (const auto& C : Cases) {
      SettingsGuard Keep;
      JPEGCompQuality = static_cast<std::uint8_t>(C.Quality);
      JPEGCompProgressive = C.Progressive;
      const std::string Name = std::string(Source) + "_q" + std::to_string(C.Quality) + (C.Progressive ? "_p" : "") + ".jpg";
      const std::string Out = (Dir / Name).string();
      G.SaveToFile(Out);
      TPixelGraphic Ours;
      Ours.LoadFromFile(Out);
      EXPECT_EQ(Ours.GetBitCountNum(), G.GetBitCountNum()) << Name;
      EXPECT_EQ(kvtest::CountMismatches(Ours, DecodeWithDjpeg(Out), Name + " (djpeg)"), 0);
      const Error E = Compare(G, kvtest::DecodeWithPeer(kvtest::Peer::Pillow, Out));
      EXPECT_LT(E.Mean, C.Mean) << Name << " (Pillow)";
      EXPECT_LE(E.Max, C.Max) << Name << " (Pillow)";
    }
  }
}
