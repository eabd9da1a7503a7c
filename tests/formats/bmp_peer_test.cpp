// Our BMP reader against the decodings of peer tools, and peers reading what we write.

#include <filesystem>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "tests/formats/peer_support.h"

using namespace pg;
namespace fs = std::filesystem;

TEST(BmpPeers, DecodedPixelsEqualTheReference) {
  const auto Corpus = kvtest::CorpusFiles(fs::path(kvtest::CorpusDir()) / "bmp", ".bmp");
  ASSERT_GE(Corpus.size(), 20u) << "corpus missing: run scripts/make-test-corpus.sh";
  for (const auto& File : Corpus) {
    TPixelGraphic G;
    G.LoadFromFile(File.string());
    auto Ref = File;
    EXPECT_EQ(kvtest::CountMismatches(G, kvtest::ReadPpm(Ref.replace_extension(".ppm").string()), File.filename().string()), 0);
  }
}

TEST(BmpPeers, NewerHeadersAreRefused) {
  const auto Rejects = kvtest::CorpusFiles(fs::path(kvtest::CorpusDir()) / "bmp" / "reject", ".bmp");
  ASSERT_FALSE(Rejects.empty());
  for (const auto& File : Rejects) {
    TPixelGraphic G;
    EXPECT_THROW(G.LoadFromFile(File.string()), EPGBMPFileFormatReader) << File;
  }
}

// Every depth we write is read back by both peers with the same colours.
TEST(BmpPeers, PeersReadWhatWeWrite) {
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written";
  fs::create_directories(Dir);
  const fs::path Bmp = fs::path(kvtest::CorpusDir()) / "bmp";
  for (const char* Source : {"win1_pal2_33x21", "win4_67x45", "win8_clrused100_67x45", "win24_67x45", "win24_227x3", "os2_8_67x45"}) {
    TPixelGraphic G;
    G.LoadFromFile((Bmp / (std::string(Source) + ".bmp")).string());
    for (const char* Ext : {".bmp", ".dib"}) {
      const std::string Out = (Dir / (std::string(Source) + Ext)).string();
      G.SaveToFile(Out);
      for (auto P : {kvtest::Peer::Pillow, kvtest::Peer::ImageMagick}) {
        if (P == kvtest::Peer::Pillow && std::string(Ext) == ".dib") continue;  // Pillow goes by the name
        EXPECT_EQ(kvtest::CountMismatches(G, kvtest::DecodeWithPeer(P, Out), Out + (P == kvtest::Peer::Pillow ? " (Pillow)" : " (ImageMagick)")), 0);
      }
    }
  }
}
