// Our PCX reader against the decodings of peer tools (scripts/corpus/pcx_variants.py).

#include <filesystem>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

TEST(PcxPeers, DecodedPixelsEqualTheReference) {
  const auto Corpus = kvtest::CorpusFiles(fs::path(kvtest::CorpusDir()) / "pcx", ".pcx");
  ASSERT_GE(Corpus.size(), 15u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    TPixelGraphic G;
    G.LoadFromFile(File.string());
    auto Ref = File;
    const auto Reference = kvtest::ReadPpm(Ref.replace_extension(".ppm").string());
    EXPECT_EQ(kvtest::CountMismatches(G, Reference, File.filename().string()), 0);
    TPGImageInfo Info;
    ASSERT_TRUE(GetFileImageInfo(File.string(), 0, Info)) << File;
    EXPECT_EQ(Info.Width, Reference.Width) << File;
    EXPECT_EQ(Info.Height, Reference.Height) << File;
  }
}

TEST(PcxPeers, FilesOutsideTheFourLayoutsAreRefused) {
  const auto Rejects = kvtest::CorpusFiles(fs::path(kvtest::CorpusDir()) / "pcx" / "reject", ".pcx");
  ASSERT_GE(Rejects.size(), 4u);
  for (const auto& File : Rejects) {
    TPixelGraphic G;
    EXPECT_THROW(G.LoadFromFile(File.string()), EPGPCXFileFormatReader) << File;
  }
}
