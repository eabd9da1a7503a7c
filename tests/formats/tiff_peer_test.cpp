// Our TIFF reader against the decodings of peer tools (the corpus of
// scripts/corpus/tiff_variants.py), and the files of other kinds it must refuse.

#include <filesystem>
#include <fstream>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

fs::path TiffCorpus() { return fs::path(kvtest::CorpusDir()) / "tiff"; }

bool Has(const std::string& Name, const char* Part) { return Name.find(Part) != std::string::npos; }

}  // namespace

TEST(TiffPeers, DecodedPixelsEqualTheReference) {
  const auto Corpus = kvtest::CorpusFiles(TiffCorpus(), ".tif");
  ASSERT_GE(Corpus.size(), 20u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    const std::string Name = File.stem().string();
    TPixelGraphic G;
    G.LoadFromFile(File.string());
    auto Ref = File;
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.replace_extension(".ppm").string()), Name), 0);

    // The names tell the byte order and compression the generator checked.
    TPGImageInfo Info;
    ASSERT_TRUE(GetFileImageInfo(File.string(), 0, Info)) << Name;
    EXPECT_EQ(Info.FormatName, "Tagged Image File Format") << Name;
    EXPECT_EQ(Info.SubFormat.substr(0, 3), Has(Name, "_be_") ? "M, " : "I, ") << Name;
    EXPECT_EQ(Info.SubFormat.find("PackBits") != std::string::npos, Has(Name, "packbits")) << Name;
    EXPECT_EQ(Info.Width, G.GetWidth()) << Name;
    EXPECT_EQ(Info.Height, G.GetHeight()) << Name;
  }
}

// Valid files of kinds the reader does not take, each with the message it must give
// (listed by the generator in reject/messages.txt).
TEST(TiffPeers, OtherKindsAreRefusedWithTheirMessage) {
  std::ifstream List(TiffCorpus() / "reject" / "messages.txt");
  std::string Line;
  int Files = 0;
  while (std::getline(List, Line)) {
    const auto Tab = Line.find('\t');
    ASSERT_NE(Tab, std::string::npos) << Line;
    const fs::path File = TiffCorpus() / "reject" / Line.substr(0, Tab);
    TPixelGraphic G;
    try {
      G.LoadFromFile(File.string());
      ADD_FAILURE() << File << " loaded";
    } catch (const EPGTIFFileFormatReader& E) {
      EXPECT_EQ(E.what(), Line.substr(Tab + 1)) << File;
    }
    ++Files;
  }
  EXPECT_GE(Files, 6);
}
