// Our TGA reader against the decodings of peer tools, and peers reading what we write.

#include <filesystem>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

// netpbm's decoding of a file we wrote; empty on failure.
kvtest::Rgb8Image DecodeWithNetpbm(const std::string& File) {
  const std::string Out = File + ".pnm.ppm";
  const std::string Cmd = "tgatoppm '" + File + "' > '" + Out + "' 2>/dev/null";
  if (std::system(Cmd.c_str()) != 0) return {};
  return kvtest::ReadPpm(Out);
}

fs::path TgaCorpus() { return fs::path(kvtest::CorpusDir()) / "tga"; }

int Mismatches(const TPixelGraphic& A, const TPixelGraphic& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight()) return -1;
  int Bad = 0;
  for (int y = 0; y < A.GetHeight(); ++y)
    for (int x = 0; x < A.GetWidth(); ++x) Bad += A.GetPixelColor(x, y) != B.GetPixelColor(x, y);
  return Bad;
}

}  // namespace

TEST(TgaPeers, DecodedPixelsEqualTheReference) {
  const auto Corpus = kvtest::CorpusFiles(TgaCorpus(), ".tga");
  ASSERT_GE(Corpus.size(), 20u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    TPixelGraphic G;
    G.LoadFromFile(File.string());
    auto Ref = File;
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.replace_extension(".ppm").string()), File.filename().string()), 0);
  }
}

TEST(TgaPeers, UnsupportedDepthsAreRefused) {
  const auto Rejects = kvtest::CorpusFiles(TgaCorpus() / "reject", ".tga");
  ASSERT_GE(Rejects.size(), 3u);
  for (const auto& File : Rejects) {
    TPixelGraphic G;
    try {
      G.LoadFromFile(File.string());
      ADD_FAILURE() << File << " loaded";
    } catch (const EPGTGAFileFormatReader& E) {
      EXPECT_STREQ(E.what(), "TGA: Not supported subformat") << File;
    }
  }
}

// Both kinds of file we write are read back by two peers with the same colours as our
// own reader sees in them (and, where the save needed no conversion, as the image had).
TEST(TgaPeers, PeersReadWhatWeWrite) {
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written";
  fs::create_directories(Dir);
  struct Case { const char* Source; int BitCountNum; bool Converted; };
  const Case Cases[] = {
      {"t1_cmap24_67x45", 2, false},  {"t1_cmap24_first16_33x21", 2, false}, {"t9_cmap24_rle_cross_33x21", 2, false},
      {"t3_grey_67x45", 2, true},     {"t2_24_67x45", 3, false},             {"t2_24_5x3", 3, false},
      {"t10_24_rle_227x3", 3, false}, {"t2_16_67x45", 3, false},
  };
  std::vector<std::string> Written;
  for (const auto& C : Cases) {
    TPixelGraphic G;
    G.SetSaveColorResWarningAction(pgwaIgnore);  // a grey palette is not one the format takes
    G.LoadFromFile((TgaCorpus() / (std::string(C.Source) + ".tga")).string());
    ASSERT_EQ(G.GetBitCountNum(), C.BitCountNum) << C.Source;
    Written.push_back((Dir / (std::string(C.Source) + ".tga")).string());
    G.SaveToFile(Written.back());
    TPixelGraphic Back;
    Back.LoadFromFile(Written.back());
    if (!C.Converted) {
      EXPECT_EQ(Mismatches(Back, G), 0) << C.Source;
    }
  }
  // One Pillow run for all files: starting it per file would cost more than the rest.
  std::string Cmd = "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nfor f in sys.argv[1:]: "
                    "Image.open(f).convert(\"RGB\").save(f + \".pil.ppm\", \"PPM\")'";
  for (const auto& W : Written) Cmd += " '" + W + "'";
  ASSERT_EQ(std::system(Cmd.c_str()), 0);
  for (const auto& W : Written) {
    TPixelGraphic Back;
    Back.LoadFromFile(W);
    EXPECT_EQ(kvtest::CountMismatches(Back, kvtest::ReadPpm(W + ".pil.ppm"), W + " (Pillow)"), 0);
    EXPECT_EQ(kvtest::CountMismatches(Back, DecodeWithNetpbm(W), W + " (netpbm)"), 0);
  }
}
