#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/settings.h"
#include "tests/formats/bmp_builder.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> SmallBmp() {
  kvtest::BmpSpec S;
  S.Pixels.assign(16, 0x40);
  return kvtest::MakeBmp(S);
}

class TempDir {
public:
  TempDir() : FPath(fs::temp_directory_path() / ("kv-registry-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(FPath);
    fs::create_directories(FPath);
  }
  ~TempDir() { fs::remove_all(FPath); }
  std::string operator/(const std::string& Name) const { return (FPath / Name).string(); }
  std::size_t Count() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(FPath), fs::directory_iterator())); }

private:
  fs::path FPath;
};

std::string ReadAll(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>()};
}

}  // namespace

// The full lists as the open and save dialogs show them, in the sorted order that
// decides which reader of a shared signature wins.
TEST(Registry, ListsHoldEveryFormatSortedByExtension) {
  struct ReaderRow { const char* Ext; const char* Name; bool HasSignature; };
  const ReaderRow Readers[] = {
      {"bmp", "Bitmap", true}, {"dib", "Bitmap", true}, {"jif", "JPEG (JFIF compliant)", true},
      {"jpeg", "JPEG (JFIF compliant)", true}, {"jpg", "JPEG (JFIF compliant)", true}, {"pbm", "Portable Bitmap", true},
      {"pcx", "Paintbrush", true}, {"pgm", "Portable Graymap", true}, {"png", "Portable Network Graphics", true},
      {"ppm", "Portable Pixelmap", true}, {"rle", "Bitmap", true}, {"tga", "Truevision Targa", false},
      {"tif", "Tagged Image File Format", true}, {"tiff", "Tagged Image File Format", true},
  };
  ASSERT_EQ(FileFormatReaders().size(), std::size(Readers));
  for (std::size_t i = 0; i < std::size(Readers); ++i) {
    const TFileFormatReader& R = *FileFormatReaders()[i];
    EXPECT_EQ(R.Extension, Readers[i].Ext) << i;
    EXPECT_EQ(R.FormatName, Readers[i].Name) << R.Extension;
    EXPECT_EQ(R.HasSignature, Readers[i].HasSignature) << R.Extension;
    EXPECT_TRUE(R.ShowInFilter) << R.Extension;
  }

  struct WriterRow { const char* Ext; const char* Name; bool Show; TColorResolutions Can; bool Multi; };
  const WriterRow Writers[] = {
      {"bmp", "Bitmap", true, 255, false}, {"dib", "Bitmap", false, 255, false},
      {"jif", "JPEG (JFIF compliant)", false, 160, false}, {"jpeg", "JPEG (JFIF compliant)", false, 160, false},
      {"jpg", "JPEG (JFIF compliant)", true, 160, false}, {"pbm", "Portable Bitmap", true, 1, false},
      {"pgm", "Portable Graymap", true, 32, false}, {"png", "Portable Network Graphics", true, 255, false},
      {"ppm", "Portable Pixelmap", true, 128, false}, {"tga", "Truevision Targa", true, 192, false},
      {"tif", "Tagged Image File Format", true, 253, true}, {"tiff", "Tagged Image File Format", false, 253, true},
  };
  ASSERT_EQ(FileFormatWriters().size(), std::size(Writers));
  for (std::size_t i = 0; i < std::size(Writers); ++i) {
    const TFileFormatWriter& W = *FileFormatWriters()[i];
    EXPECT_EQ(W.Extension, Writers[i].Ext) << i;
    EXPECT_EQ(W.FormatName, Writers[i].Name) << W.Extension;
    EXPECT_EQ(W.ShowInFilter, Writers[i].Show) << W.Extension;
    EXPECT_EQ(W.CanWriteResolutions, Writers[i].Can) << W.Extension;
    EXPECT_EQ(W.MultiImage, Writers[i].Multi) << W.Extension;
  }
}

TEST(Registry, FindReaderBySignatureNotByName) {
  const auto File = SmallBmp();
  for (const char* Ext : {"", "bmp", ".rle", "png", "tga"}) {
    TMemoryStream S(File);
    S.SetPosition(0);
    const TFileFormatReader* R = FindReader(S, Ext);
    ASSERT_NE(R, nullptr) << Ext;
    EXPECT_EQ(R->Extension, "bmp");
    EXPECT_EQ(S.GetPosition(), 0);
  }
  // Shorter than a signature header: probed all the same, and nothing matches.
  TMemoryStream Short(std::vector<std::uint8_t>{'B'});
  EXPECT_EQ(FindReader(Short, "bmp"), nullptr);
  EXPECT_EQ(Short.GetPosition(), 0);
  TPixelGraphic G;
  try {
    G.LoadFromStream(Short);
    FAIL();
  } catch (const EPGUnknownFileFormat& E) {
    EXPECT_STREQ(E.what(), "Unknown file format");
  }
}

TEST(Registry, ExtractExtension) {
  struct Case { const char* Name; const char* Ext; };
  const Case Cases[] = {{"photo.JPG", "jpg"}, {"a.b.tif", "tif"}, {"noext", ""}, {"dir.d/file", ""},
                        {"x.", ""}, {".hidden", "hidden"}, {"c:file.Bmp", "bmp"},
#ifdef _WIN32
                        {"C:\\dir.d\\file", ""},
#else
                        {"dir.d\\file", "d\\file"},  // a backslash is part of the name here
#endif
  };
  for (const auto& C : Cases) EXPECT_EQ(ExtractExtension(C.Name), C.Ext) << C.Name;
}

TEST(Registry, ImageInfo) {
  TMemoryStream S(SmallBmp());
  S.SetPosition(5);
  TPGImageInfo I;
  EXPECT_FALSE(GetStreamImageInfo(S, "bmp", 0, I));
  S.SetPosition(0);
  ASSERT_TRUE(GetStreamImageInfo(S, "bmp", 0, I));
  EXPECT_EQ(S.GetPosition(), 0);
  EXPECT_EQ(I.FormatName, "Bitmap");
  EXPECT_EQ(I.SubFormat, "Windows, RGB");
  EXPECT_EQ(I.Width, 2);
  EXPECT_EQ(I.BitCount, 24);
  EXPECT_EQ(I.ImageCount, 1);
  EXPECT_FALSE(GetStreamImageInfo(S, "bmp", 1, I));
  EXPECT_FALSE(GetFileImageInfo("/nonexistent/file.bmp", 0, I));
  EXPECT_FALSE(GetFileImageInfo("/tmp/", 0, I));
}

TEST(Registry, UnknownExtensionOnSave) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  TMemoryStream S;
  try {
    G.SaveToStreamExt(S, "GIF");
    FAIL();
  } catch (const EPGUnknownExtension& E) {
    EXPECT_STREQ(E.what(), "Unknown file extension \"gif\"");
  }
  EXPECT_EQ(S.GetSize(), 0);
}

TEST(Registry, GammaCorrectionOnLoad) {
  TPixelGraphic G;
  G.SetFormat(1, 1, 3);
  G.SetPixel(0, 0, RGBColor(128, 0, 255));
  G.SetGamma(1.85L);  // within 5 %: left as read
  CorrectGammaOnLoad(G);
  EXPECT_EQ(G.GetGamma(), 1.85L);
  EXPECT_EQ(G.GetPixel(0, 0), RGBColor(128, 0, 255));
  G.SetGamma(2.2L);
  CorrectGammaOnLoad(G);
  EXPECT_EQ(G.GetGamma(), DefaultGamma);
  EXPECT_EQ(G.GetPixel(0, 0), RGBColor(110, 0, 255));  // round(255 * (128/255)^(2.2/1.8)) = round(109.6)

  TPixelGraphic P;
  P.SetFormat(1, 1, 2);
  P.SetPaletteIdent(pGray256);
  P.SetGamma(2.2L);
  GammaCorrectOnLoad = false;
  CorrectGammaOnLoad(P);
  GammaCorrectOnLoad = true;
  EXPECT_EQ(P.GetPaletteEntry(128), RGBColor(128, 128, 128));
  CorrectGammaOnLoad(P);
  EXPECT_EQ(P.GetPaletteEntry(128), RGBColor(110, 110, 110));
}

TEST(Registry, WriteDataThenReadData) {
  TPixelGraphic G;
  G.SetFormat(3, 2, 1);
  G.SetPaletteIdent(pSys16);
  G.SetPixel(2, 1, 9);
  TMemoryStream S;
  S.Write("xy", 2);
  G.WriteData(S);
  S.Write("z", 1);
  S.SetPosition(2);
  TPixelGraphic R;
  R.ReadData(S);
  EXPECT_EQ(S.GetPosition(), S.GetSize() - 1);
  EXPECT_EQ(R.GetPixel(2, 1), 9);
  EXPECT_EQ(R.PaletteIdent(), pSys16);
}

TEST(SaveToFile, ReplacesOnlyWhenComplete) {
  TempDir Dir;
  TPixelGraphic G;
  G.SetFormat(2, 2, 3);
  G.SetPixel(0, 0, RGBColor(1, 2, 3));
  const std::string Target = Dir / "out.bmp";
  { std::ofstream(Target) << "old contents"; }
  fs::permissions(Target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // Fails before writing: the old file stays, no temporary file is left.
  const std::string Gif = Dir / "out.gif";
  { std::ofstream(Gif) << "old gif"; }
  EXPECT_THROW(G.SaveToFile(Gif), EPGUnknownExtension);
  EXPECT_EQ(ReadAll(Gif), "old gif");
  EXPECT_EQ(Dir.Count(), 2u);

  // Fails after writing (the target is a folder): nothing is left behind, and the error
  // names the target.
  fs::create_directory(Dir / "folder.bmp");
  try {
    G.SaveToFile(Dir / "folder.bmp");
    ADD_FAILURE();
  } catch (const EPGStreamError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Cannot write \"" + (Dir / "folder.bmp") + "\": ", 0), 0u) << E.what();
  }
  EXPECT_TRUE(fs::is_directory(Dir / "folder.bmp"));
  EXPECT_EQ(Dir.Count(), 3u);

  // A folder that does not exist: the error names the file asked for.
  try {
    G.SaveToFile(Dir / "missing/x.bmp");
    ADD_FAILURE();
  } catch (const EPGStreamError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Cannot create \"" + (Dir / "missing/x.bmp") + "\": ", 0), 0u) << E.what();
  }

  // A new file that fails is not created at all.
  EXPECT_THROW(G.SaveToFile(Dir / "new.gif"), EPGUnknownExtension);
  EXPECT_FALSE(fs::exists(Dir / "new.gif"));

  // Success replaces the file and keeps its permissions.
  G.SaveToFile(Target);
  EXPECT_EQ(Dir.Count(), 3u);
  EXPECT_EQ(fs::status(Target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  TPixelGraphic R;
  R.LoadFromFile(Target);
  EXPECT_EQ(R.GetPixel(0, 0), RGBColor(1, 2, 3));

  // Through a link, the file it points to is replaced and the link stays.
  fs::create_symlink(Target, Dir / "link.bmp");
  G.SetPixel(0, 0, RGBColor(4, 5, 6));
  G.SaveToFile(Dir / "link.bmp");
  EXPECT_TRUE(fs::is_symlink(Dir / "link.bmp"));
  R.LoadFromFile(Target);
  EXPECT_EQ(R.GetPixel(0, 0), RGBColor(4, 5, 6));
}
