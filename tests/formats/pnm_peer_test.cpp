// Our PBM/PGM/PPM reader against the decodings of peer tools, and peers reading what we
// write. References live in pnm/ref/, since one beside a .ppm file would take its name.

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> PnmFiles(const fs::path& Dir) {
  std::vector<fs::path> F;
  for (const char* Ext : {".pbm", ".pgm", ".ppm"})
    for (auto& P : kvtest::CorpusFiles(Dir, Ext)) F.push_back(P);
  return F;
}

// Each peer decodes every file into File + Suffix (binary PPM, maxval 255), in one run
// where the peer allows it: a start of the peer costs more than the decoding.
void DecodeAll(const std::vector<std::string>& Files) {
  std::string Pil = "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nfor f in sys.argv[1:]: Image.open(f).convert(\"RGB\").save(f + \".pil.ppm\", \"PPM\")'";
  std::string Im = "convert-im6.q16";
  for (const auto& F : Files) {
    Pil += " '" + F + "'";
    Im += " '" + F + "'";
    ASSERT_EQ(std::system(("ppmtoppm < '" + F + "' > '" + F + ".netpbm.ppm'").c_str()), 0) << F;
  }
  Im += " -depth 8 +adjoin 'ppm:" + (fs::path(Files[0]).parent_path() / "pnm-im-%d.ppm").string() + "'";
  ASSERT_EQ(std::system(Pil.c_str()), 0);
  ASSERT_EQ(std::system(Im.c_str()), 0);
  for (std::size_t i = 0; i < Files.size(); ++i)
    fs::rename(fs::path(Files[0]).parent_path() / ("pnm-im-" + std::to_string(i) + ".ppm"), Files[i] + ".im.ppm");
}

}  // namespace

TEST(PnmPeers, DecodedPixelsEqualTheReference) {
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "pnm";
  const auto Corpus = PnmFiles(Dir);
  ASSERT_GE(Corpus.size(), 20u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    TPixelGraphic G;
    G.LoadFromFile(File.string());
    const auto Ref = Dir / "ref" / File.filename().replace_extension(".ppm");
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.string()), File.filename().string()), 0);
  }
}

// 16-bit binary samples and maxval 0.
TEST(PnmPeers, RefusedFiles) {
  const auto Rejects = PnmFiles(fs::path(kvtest::CorpusDir()) / "pnm" / "reject");
  ASSERT_GE(Rejects.size(), 4u);
  for (const auto& File : Rejects) {
    TPixelGraphic G;
    EXPECT_THROW(G.LoadFromFile(File.string()), EPGPxMFileFormatReader) << File;
  }
}

// Every format in both forms is read back by three peers with the same colours.
TEST(PnmPeers, PeersReadWhatWeWrite) {
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written";
  fs::create_directories(Dir);
  const fs::path Pnm = fs::path(kvtest::CorpusDir()) / "pnm";
  const bool Saved = PXMWriteBinary;
  std::vector<std::string> Written;
  std::vector<std::unique_ptr<TPixelGraphic>> Images;
  for (const char* Source : {"p4_netpbm_33x21.pbm", "p5_netpbm_227x3.pgm", "p6_pillow_67x45.ppm"}) {
    for (bool Binary : {false, true}) {
      auto G = std::make_unique<TPixelGraphic>();
      G->LoadFromFile((Pnm / Source).string());
      PXMWriteBinary = Binary;
      const std::string Out = (Dir / ((Binary ? "pnm_binary_" : "pnm_ascii_") + std::string(Source))).string();
      G->SaveToFile(Out);
      std::ifstream F(Out, std::ios::binary);
      char Magic[2] = {};
      F.read(Magic, 2);
      EXPECT_EQ(Magic[1] - '1', (fs::path(Source).extension() == ".pbm" ? 0 : fs::path(Source).extension() == ".pgm" ? 1 : 2) + (Binary ? 3 : 0)) << Out;
      Written.push_back(Out);
      Images.push_back(std::move(G));
    }
  }
  PXMWriteBinary = Saved;
  DecodeAll(Written);
  for (std::size_t i = 0; i < Written.size(); ++i)
    for (const char* Peer : {".pil.ppm", ".im.ppm", ".netpbm.ppm"})
      EXPECT_EQ(kvtest::CountMismatches(*Images[i], kvtest::ReadPpm(Written[i] + Peer), Written[i] + Peer), 0);
}
