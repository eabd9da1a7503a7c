// Peers reading the TIFF files we write: every layout in both byte orders, plain and
// PackBits, decoded by Pillow, ImageMagick and libtiff (tifftopnm), and described by
// tiffinfo. The images come from a photo of the corpus.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "pgraphic/formats/tiff_writer.h"
#include "pgraphic/settings.h"
#include "tests/formats/peer_support.h"
#include "tests/settings_guard.h"

using namespace pg;
namespace fs = std::filesystem;

namespace {

// The command's standard output and error; empty when it could not run.
std::string RunCommand(const std::string& Command) {
  std::string Out;
  if (FILE* P = popen((Command + " 2>&1").c_str(), "r")) {
    char Buf[4096];
    for (std::size_t n; (n = std::fread(Buf, 1, sizeof Buf, P)) > 0;) Out.append(Buf, n);
    pclose(P);
  }
  return Out;
}

std::vector<std::uint8_t> ReadBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), {}};
}

std::string Quoted(const std::vector<std::string>& Files) {
  std::string S;
  for (const auto& F : Files) S += " '" + F + "'";
  return S;
}

// Pillow: P6 beside each file, or the raw samples of a CMYK file (Pillow does not
// convert CMYK on its own terms here: its samples are what the file holds).
void DecodeAllWithPillow(const std::vector<std::string>& Files) {
  RunCommand("/usr/bin/python3 -c '\n"
      "import sys\n"
      "from PIL import Image\n"
      "for f in sys.argv[1:]:\n"
      "    im = Image.open(f)\n"
      "    if im.mode == \"CMYK\":\n"
      "        open(f + \".pil.cmyk\", \"wb\").write(im.tobytes())\n"
      "    else:\n"
      "        im.convert(\"RGB\").save(f + \".pil.ppm\", \"PPM\")\n'" +
      Quoted(Files));
}

// ImageMagick in one process per output kind: NAME.ppm or NAME.cmyk in Dir.
void DecodeAllWithImageMagick(const fs::path& Dir, const std::vector<std::string>& Files, const char* Format) {
  if (!Files.empty()) RunCommand("mogrify-im6.q16 -path '" + Dir.string() + "' -format " + Format + " -depth 8" + Quoted(Files));
}

// libtiff through netpbm's tifftopnm, all files in one shell: NAME.tif.pnm beside each.
void DecodeAllWithTifftopnm(const std::vector<std::string>& Files) {
  RunCommand("sh -c 'for f; do tifftopnm -quiet \"$f\" > \"$f.pnm\"; done' sh" + Quoted(Files));
}

// A binary PBM, PGM or PPM file (as tifftopnm writes them) as RGB, scaled to 0..255.
kvtest::Rgb8Image ReadPnm(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::string Magic;
  int MaxVal = 1;
  kvtest::Rgb8Image Img;
  F >> Magic >> Img.Width >> Img.Height;
  if (Magic != "P4") F >> MaxVal;
  F.get();
  if (!F || (Magic != "P4" && Magic != "P5" && Magic != "P6") || MaxVal < 1 || MaxVal > 255) return {};
  const auto W = static_cast<std::size_t>(Img.Width), H = static_cast<std::size_t>(Img.Height);
  const std::size_t RowBytes = Magic == "P4" ? (W + 7) / 8 : Magic == "P5" ? W : 3 * W;
  std::vector<std::uint8_t> Row(RowBytes);
  for (std::size_t y = 0; y < H; ++y) {
    if (!F.read(reinterpret_cast<char*>(Row.data()), static_cast<std::streamsize>(RowBytes))) return {};
    for (std::size_t x = 0; x < W; ++x)
      for (std::size_t c = 0; c < 3; ++c) {
        // PBM: 1 is black.
        const int v = Magic == "P4" ? ((Row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255)
                      : Magic == "P5" ? Row[x] * 255 / MaxVal : Row[3 * x + c] * 255 / MaxVal;
        Img.Pixels.push_back(static_cast<std::uint8_t>(v));
      }
  }
  return Img;
}

// tiffinfo's report of each file, from one run over all of them.
std::map<std::string, std::string> DescribeAllWithTiffinfo(const std::vector<std::string>& Files, std::string& All) {
  All = RunCommand("tiffinfo" + Quoted(Files));
  std::map<std::string, std::string> Reports;
  for (std::size_t At = All.find("File "); At != std::string::npos;) {
    const std::size_t NameEnd = All.find(":\n", At);
    if (NameEnd == std::string::npos) break;
    const std::size_t Next = All.find("\nFile ", NameEnd);
    Reports[All.substr(At + 5, NameEnd - At - 5)] = All.substr(NameEnd, Next == std::string::npos ? std::string::npos : Next - NameEnd);
    At = Next == std::string::npos ? Next : Next + 1;
  }
  return Reports;
}

// CMYK as the writer stores it: inks without their common part, which is black.
std::vector<std::uint8_t> ExpectedCmyk(const TPixelGraphic& G) {
  std::vector<std::uint8_t> V;
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) {
      const TRGB c = G.GetPixelColor(x, y);
      const int C = 255 - RedOf(c), M = 255 - GreenOf(c), Y = 255 - BlueOf(c), K = std::min({C, M, Y});
      for (const int v : {C - K, M - K, Y - K, K}) V.push_back(static_cast<std::uint8_t>(v));
    }
  return V;
}

// A 131 x 97 copy of a corpus photo: wide enough for odd row lengths at every depth,
// tall enough for several strips of the true-colour layouts.
void LoadPhoto(TPixelGraphic& Photo) {
  const auto Ref = kvtest::ReadPpm((fs::path(kvtest::CorpusDir()) / "bmp" / "win24_67x45.ppm").string());
  ASSERT_GT(Ref.Width, 0) << "corpus missing: run scripts/make-test-corpus.sh";
  TPixelGraphic Small;
  Small.SetFormat(Ref.Width, Ref.Height, 3);
  for (int y = 0; y < Ref.Height; ++y)
    for (int x = 0; x < Ref.Width; ++x) Small.SetPixel(x, y, static_cast<int>(Ref.At(x, y)));
  Photo.SetFormat(131, 97, 3);
  Photo.StretchFrom(Small);
}

fs::path FreshDir(const char* Name) {
  const fs::path Dir = fs::path(kvtest::CorpusDir()) / "written" / Name;
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  return Dir;
}

}  // namespace

TEST(TiffWriterPeers, PeersReadEveryLayout) {
  kvtest::TSettingsGuard Restore;
  TPixelGraphic Photo;
  LoadPhoto(Photo);
  if (HasFatalFailure()) return;
  const fs::path Dir = FreshDir("tiff");

  struct Layout {
    const char* Name; int Num; TPaletteIdent Ident; bool WhiteIsZero, CMYK; const char* Photometric;
    bool ImageMagick = true;
  };
  const Layout Layouts[] = {
      {"bw", 0, pBlackWhite, false, false, "min-is-black"},
      {"bw_miniswhite", 0, pBlackWhite, true, false, "min-is-white"},
      {"grey4", 1, pGray16, false, false, "min-is-black"},
      // ImageMagick decodes 4-bit min-is-white as a negative (also files of pamtotiff).
      {"grey4_miniswhite", 1, pGray16, true, false, "min-is-white", false},
      {"pal4", 1, pSys16, false, false, "palette color"},
      {"grey8", 2, pGray256, false, false, "min-is-black"},
      {"grey8_miniswhite", 2, pGray256, true, false, "min-is-white"},
      {"pal8_216", 2, pSpecial216, true, false, "palette color"},
      {"rgb", 3, pTrueColor, false, false, "RGB color"},
      {"cmyk", 3, pTrueColor, false, true, "separated"},
  };
  struct Written {
    std::string File; const TPixelGraphic* Image; bool CMYK, PackBits; const char* Photometric; bool ImageMagick;
  };
  std::vector<Written> Files;
  std::vector<std::unique_ptr<TPixelGraphic>> Images;
  for (const auto& L : Layouts) {
    auto G = std::make_unique<TPixelGraphic>();
    G->SetFormat(Photo.GetWidth(), Photo.GetHeight(), L.Num);
    if (L.Num < 3) G->SetPaletteIdent(L.Ident);
    G->StretchFrom(Photo);
    ASSERT_EQ(G->PaletteIdent(), L.Ident) << L.Name;
    for (const int Order : {0, 1})
      for (const int Compression : {1, 32773}) {
        TIFFWriteGrayScalePhotInterpret = L.WhiteIsZero;
        TIFFWriteTrueColorPhotInterpret = L.CMYK;
        TIFFWriteByteOrder = static_cast<std::uint8_t>(Order);
        TIFFWriteCompression = Compression;
        const std::string File = (Dir / (std::string(L.Name) + (Order ? "_mm" : "_ii") + (Compression == 1 ? "" : "_packbits") + ".tif")).string();
        G->SaveToFile(File);
        Files.push_back({File, G.get(), L.CMYK, Compression != 1, L.Photometric, L.ImageMagick});
      }
    Images.push_back(std::move(G));
  }

  std::vector<std::string> All, ImRgb, ImCmyk, Rgb;
  for (const auto& W : Files) {
    All.push_back(W.File);
    if (!W.CMYK) Rgb.push_back(W.File);
    if (W.ImageMagick) (W.CMYK ? ImCmyk : ImRgb).push_back(W.File);
  }
  DecodeAllWithPillow(All);
  DecodeAllWithImageMagick(Dir, ImRgb, "ppm");
  DecodeAllWithImageMagick(Dir, ImCmyk, "cmyk");
  DecodeAllWithTifftopnm(Rgb);
  std::string AllInfo;
  const auto Reports = DescribeAllWithTiffinfo(All, AllInfo);
  EXPECT_EQ(AllInfo.find("arning"), std::string::npos) << AllInfo;
  EXPECT_EQ(AllInfo.find("rror"), std::string::npos) << AllInfo;

  bool SeveralStrips = false;
  for (const auto& W : Files) {
    const auto Found = Reports.find(W.File);
    const std::string Info = Found == Reports.end() ? "no report for " + W.File : Found->second;
    EXPECT_NE(Info.find("Image Width: 131 Image Length: 97"), std::string::npos) << Info;
    EXPECT_NE(Info.find(std::string("Compression Scheme: ") + (W.PackBits ? "PackBits" : "None")), std::string::npos) << Info;
    EXPECT_NE(Info.find(std::string("Photometric Interpretation: ") + W.Photometric), std::string::npos) << Info;
    EXPECT_NE(Info.find("Resolution: 300, 300 pixels/inch"), std::string::npos) << Info;
    SeveralStrips |= Info.find("Rows/Strip: 97") == std::string::npos;

    fs::path ImName = W.File;
    if (W.CMYK) {
      const auto Expected = ExpectedCmyk(*W.Image);
      EXPECT_EQ(ReadBytes(W.File + ".pil.cmyk"), Expected) << W.File << " (Pillow)";
      EXPECT_EQ(ReadBytes(ImName.replace_extension(".cmyk").string()), Expected) << W.File << " (ImageMagick)";
      continue;
    }
    EXPECT_EQ(kvtest::CountMismatches(*W.Image, kvtest::ReadPpm(W.File + ".pil.ppm"), W.File + " (Pillow)"), 0);
    if (W.ImageMagick) {
      EXPECT_EQ(kvtest::CountMismatches(*W.Image, kvtest::ReadPpm(ImName.replace_extension(".ppm").string()), W.File + " (ImageMagick)"), 0);
    }
    EXPECT_EQ(kvtest::CountMismatches(*W.Image, ReadPnm(W.File + ".pnm"), W.File + " (tifftopnm)"), 0);
  }
  EXPECT_TRUE(SeveralStrips);
}

// Two images through BeginMultiImage .. EndMultiImage: two directories, each with its
// own pixels; and the resolution settings as tiffinfo reports them.
TEST(TiffWriterPeers, TwoImagesInOneFile) {
  kvtest::TSettingsGuard Restore;
  TPixelGraphic Photo, Pal;
  LoadPhoto(Photo);
  if (HasFatalFailure()) return;
  Pal.SetFormat(40, 23, 2);
  Pal.SetPaletteIdent(pSpecial216);
  for (int y = 0; y < Pal.GetHeight(); ++y)
    for (int x = 0; x < Pal.GetWidth(); ++x) Pal.SetPixel(x, y, (x * 5 + y * 3) % 216);
  const fs::path Dir = FreshDir("tiff_multi");
  const std::string File = (Dir / "two.tif").string();
  {
    TIFFWriteByteOrder = 1;
    TIFFWriteCompression = 32773;
    TIFFWriteResolutionUnit = 2;
    TIFFWriteXResolutionNumerator = 150;
    TIFFWriteXResolutionDenominator = 2;
    TIFFWriteYResolutionNumerator = 7;
    TIFFWriteYResolutionDenominator = 4;
    TFileStream S(File, TFileStream::TMode::Create);
    TTIFFileFormatWriter W;
    W.BeginMultiImage(S);
    W.WriteMultiImage(S, Photo);
    TIFFWriteResolutionUnit = 0;
    W.WriteMultiImage(S, Pal);
    W.EndMultiImage(S);
    S.Close();
  }
  const std::string Info = RunCommand("tiffinfo '" + File + "'");
  EXPECT_EQ(Info.find("arning"), std::string::npos) << Info;
  EXPECT_NE(Info.find("=== TIFF directory 1 ==="), std::string::npos) << Info;
  EXPECT_EQ(Info.find("=== TIFF directory 2 ==="), std::string::npos) << Info;
  EXPECT_NE(Info.find("Resolution: 75, 1.75 pixels/cm"), std::string::npos) << Info;
  EXPECT_NE(Info.find("Resolution: 75, 1.75 (unitless)"), std::string::npos) << Info;

  const std::string Frames = RunCommand(
      "/usr/bin/python3 -c '\n"
      "import sys\n"
      "from PIL import Image\n"
      "print(Image.open(sys.argv[1]).n_frames)\n"
      "for i in range(2):\n"
      "    im = Image.open(sys.argv[1])\n"
      "    im.seek(i)\n"
      "    im.convert(\"RGB\").save(sys.argv[1] + \".%d.ppm\" % i, \"PPM\")\n' '" +
      File + "'");
  EXPECT_EQ(Frames, "2\n");
  // Each frame from a fresh open: Pillow 9.4 fails on a palette frame read after a
  // loaded RGB frame of the same file (files of tiffcp too).
  EXPECT_EQ(kvtest::CountMismatches(Photo, kvtest::ReadPpm(File + ".0.ppm"), "frame 0 (Pillow)"), 0);
  EXPECT_EQ(kvtest::CountMismatches(Pal, kvtest::ReadPpm(File + ".1.ppm"), "frame 1 (Pillow)"), 0);
  const std::string Second = File + ".im1.ppm";
  RunCommand("convert-im6.q16 '" + File + "[1]' -depth 8 'ppm:" + Second + "'");
  EXPECT_EQ(kvtest::CountMismatches(Pal, kvtest::ReadPpm(Second), "frame 1 (ImageMagick)"), 0);
}
