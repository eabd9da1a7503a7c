// Our PNG reader against the references of scripts/corpus/png_variants.py, and peers
// reading what we write.

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

// The background colour png_variants.py composes transparent pixels onto when a file
// has no bKGD chunk.
constexpr TRGB CorpusBackground = RGBColor(201, 102, 51);

// pngtopam writes PBM, PGM or PPM as the file's colours need; ppmtoppm makes it P6.
kvtest::Rgb8Image DecodeWithPngtopam(const std::string& File) {
  const std::string Out = File + ".pam.ppm";
  if (std::system(("pngtopam '" + File + "' | ppmtoppm > '" + Out + "'").c_str()) != 0) return {};
  return kvtest::ReadPpm(Out);
}

class GammaCorrectionOff {
public:
  GammaCorrectionOff() { GammaCorrectOnLoad = false; }
  ~GammaCorrectionOff() {
    GammaCorrectOnLoad = true;
    PNGWriteGamma = true;
  }
};

}  // namespace

// Peers ignore gAMA, so the pixels are compared as read, without gamma correction.
TEST(PngPeers, DecodedPixelsEqualTheReference) {
  GammaCorrectionOff Off;
  const auto Corpus = kvtest::CorpusFiles(fs::path(kvtest::CorpusDir()) / "png", ".png");
  ASSERT_GE(Corpus.size(), 30u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    const std::string Name = File.filename().string();
    TPixelGraphic G;
    G.SetReadWarningAction(pgwaRaise);
    G.SetBackGroundColor(CorpusBackground);
    G.LoadFromFile(File.string());
    auto Ref = File;
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.replace_extension(".ppm").string()), Name), 0);
    const bool HasGamma = Name.find("_gama_") != std::string::npos;
    EXPECT_NEAR(static_cast<double>(G.GetGamma()), HasGamma ? 1 / 0.45455 : 1.8, 1e-4) << Name;
  }
}

// Every depth we write, palettes of colours and of greys, with and without gAMA, is
// read back by both peers with the same colours.
TEST(PngPeers, PeersReadWhatWeWrite) {
  GammaCorrectionOff Off;
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written";
  fs::create_directories(Dir);
  const fs::path Png = fs::path(kvtest::CorpusDir()) / "png";
  struct Source { const char* Name; int Num; TPaletteIdent Ident; };
  const Source Sources[] = {
      {"pal1_33x21", 0, pUnknown},   {"grey1_33x21", 0, pBlackWhite}, {"pal4_67x45", 1, pUnknown},
      {"grey4_67x45", 1, pGray16},   {"grey2_33x21", 1, pGray4},      {"pal8_67x45", 2, pUnknown},
      {"grey8_67x45", 2, pGray256},  {"rgb8_67x45", 3, pTrueColor},   {"rgba8_67x45", 3, pTrueColor},
  };
  for (const auto& S : Sources) {
    TPixelGraphic G;
    G.LoadFromFile((Png / (std::string(S.Name) + ".png")).string());
    ASSERT_EQ(G.GetBitCountNum(), S.Num) << S.Name;
    ASSERT_EQ(G.PaletteIdent(), S.Ident) << S.Name;
    for (const bool WriteGamma : {true, false}) {
      PNGWriteGamma = WriteGamma;
      const std::string Out = (Dir / (std::string(S.Name) + (WriteGamma ? "_gama" : "") + ".png")).string();
      G.SaveToFile(Out);
      EXPECT_EQ(kvtest::CountMismatches(G, kvtest::DecodeWithPeer(kvtest::Peer::Pillow, Out), Out + " (Pillow)"), 0);
      EXPECT_EQ(kvtest::CountMismatches(G, DecodeWithPngtopam(Out), Out + " (pngtopam)"), 0);
    }
  }
}
