// Runs the built korvala-cli binary, as a user would, on small files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/shrink/shrink_job.h"
#include "cli_fixture.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<pg::TPixelGraphic> Loaded(const std::string& File) {
  auto G = std::make_unique<pg::TPixelGraphic>();
  G->LoadFromFile(File);
  return G;
}

class ShrinkCliTest : public CliTest {
protected:
  // A 40 x 30 true-colour photo stand-in with smooth and sharp parts.
  std::string MakePhoto(const std::string& Name) const {
    pg::TPixelGraphic G;
    G.SetFormat(40, 30, 3);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) G.SetPixel(x, y, pg::RGBColor(x * 6, y * 8, (x / 5 + y / 5) % 2 ? 220 : 30));
    G.SaveToFile(Path(Name));
    return Path(Name);
  }

  // The binary with Args; stdout and stderr go to files, so stderr is no terminal.
  TCliResult RunBinary(const std::vector<std::string>& Args) const {
    std::string Cmd = "'" KORVALA_CLI_BINARY "'";
    for (const auto& A : Args) Cmd += " '" + A + "'";
    const std::string OutFile = Path("stdout.txt"), ErrFile = Path("stderr.txt");
    const int Raw = std::system((Cmd + " >'" + OutFile + "' 2>'" + ErrFile + "'").c_str());
    TCliResult R{WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, ReadBytes(OutFile), ReadBytes(ErrFile)};
    fs::remove(OutFile);
    fs::remove(ErrFile);
    return R;
  }
};

}  // namespace

TEST_F(ShrinkCliTest, OptionsSetSizeAndColourFormat) {
  const std::string In = MakePhoto("in.bmp");
  struct Row {
    const char* Fault;
    std::vector<std::string> Options;
    int Width, Height, BitCount, PaletteCount;
  };
  const Row Rows[] = {
      {"default is not half size in true colour", {}, 20, 15, 24, 0},
      {"pixel width does not carry its percentage to the height", {"--width", "10"}, 10, 7, 24, 0},
      {"height alone does not set the width", {"--height", "20%"}, 8, 6, 24, 0},
      {"without aspect ratio the other axis is not the default half",
       {"--keep-aspect-ratio", "off", "--height", "6"}, 20, 6, 24, 0},
      {"both axes without aspect ratio", {"--keep-aspect-ratio", "off", "--width", "30%", "--height", "5"}, 12, 5, 24, 0},
      {"black and white by name", {"--colors", "bw"}, 20, 15, 1, 2},
      {"row number not taken", {"--colors", "14"}, 20, 15, 8, 216},
      {"optimized 4 bit keeps the 8-bit default size", {"--colors", "optimized4"}, 20, 15, 4, 16},
      {"optimized size ignored", {"--colors", "optimized8", "--optimized-size", "40"}, 20, 15, 8, 40},
      {"gray 16", {"--colors", "gray16"}, 20, 15, 4, 16},
  };
  for (const Row& R : Rows) {
    std::vector<std::string> Args{"shrink", In, "-o", Path("out.bmp")};
    Args.insert(Args.end(), R.Options.begin(), R.Options.end());
    const TCliResult Result = RunBinary(Args);
    ASSERT_EQ(Result.Status, 0) << R.Fault << ": " << Result.Err;
    EXPECT_EQ(Result.Out + Result.Err, "") << R.Fault << ": no progress display unless stderr is a terminal";
    const auto Out = Loaded(Path("out.bmp"));
    EXPECT_EQ(Out->GetWidth(), R.Width) << R.Fault;
    EXPECT_EQ(Out->GetHeight(), R.Height) << R.Fault;
    EXPECT_EQ(Out->GetBitCount(), R.BitCount) << R.Fault;
    if (R.BitCount < 24) {
      EXPECT_GE(Out->PaletteCount(), 1) << R.Fault;
      EXPECT_LE(Out->PaletteCount(), R.PaletteCount) << R.Fault;
    }
  }
}

TEST_F(ShrinkCliTest, WritesWhatTheShrinkStepsCompute) {
  const std::string In = MakePhoto("in.bmp");
  const TCliResult Result = RunBinary({"shrink", In, "-o", Path("out.bmp"), "--width", "17", "--sharpen", "70",
                                       "--border", "rect", "--border-width", "3", "--border-color", "FF0000",
                                       "--precision", "fast", "--colors", "special125", "--dither", "off"});
  ASSERT_EQ(Result.Status, 0) << Result.Err;

  kv::TShrinkParams P;
  P.Width = 17;
  P.Height = 12;  // 42.5 % of 30
  P.Sharpen = 70;
  P.DoBorder = true;
  P.BorderWidth = 3;
  P.BorderColor = pg::RGBColor(255, 0, 0);
  P.StretchMode = pg::smFast;
  P.Selection = 13;
  P.Dithering = false;
  const kv::TShrinkResult Expected = kv::RunShrinkJob(*Loaded(In), P);
  ASSERT_TRUE(Expected.Image);
  EXPECT_TRUE(SameImage(*Expected.Image, *Loaded(Path("out.bmp"))));
}

TEST_F(ShrinkCliTest, BatchGoesOnPastAFailingFile) {
  const std::string A = MakePhoto("a.bmp"), B = MakePhoto("b.bmp"), C = MakePhoto("c.bmp");
  WriteBytes("bad.bmp", "not an image");
  const TCliResult Result =
      RunBinary({"shrink", A, Path("bad.bmp"), B, C, "-d", Path("out"), "--ext", "png", "-j", "2"});
  EXPECT_EQ(Result.Status, 1);
  EXPECT_EQ(Result.Err, Path("bad.bmp") + ": Unknown file format\n");
  for (const char* Name : {"a.png", "b.png", "c.png"}) {
    ASSERT_TRUE(fs::exists(Path("out") + "/" + Name)) << Name;
    EXPECT_EQ(Loaded(Path("out") + "/" + Name)->GetWidth(), 20) << Name;
  }
  EXPECT_FALSE(fs::exists(Path("out/bad.png")));
}

TEST_F(ShrinkCliTest, NeverWritesOverAnInput) {
  const std::string In = MakePhoto("in.bmp");
  const std::string Before = ReadBytes(In);
  // -d into the input's own folder under its own name and extension.
  const TCliResult Result = RunBinary({"shrink", In, "-d", FDir.string()});
  EXPECT_EQ(Result.Status, 1);
  EXPECT_NE(Result.Err.find("refusing to write over the input file"), std::string::npos) << Result.Err;
  EXPECT_EQ(ReadBytes(In), Before);
}

TEST_F(ShrinkCliTest, FormatLimitsAreAcceptedEvenWhenStrict) {
  const std::string In = MakePhoto("in.bmp");
  // JPEG holds no 1-bit image: the save converts a copy after an OK-only warning.
  const TCliResult Result = RunBinary({"--strict", "shrink", In, "-o", Path("out.jpg"), "--colors", "bw"});
  EXPECT_EQ(Result.Status, 0) << Result.Err;
  EXPECT_NE(Result.Err.find("Warning: "), std::string::npos);
  EXPECT_TRUE(fs::exists(Path("out.jpg")));
}

TEST_F(ShrinkCliTest, UsageErrors) {
  const std::string In = MakePhoto("in.bmp");
  const struct {
    const char* Fault;
    std::vector<std::string> Args;
  } Rows[] = {
      {"no output accepted", {"shrink", In}},
      {"-o with two inputs accepted", {"shrink", In, In, "-o", Path("o.bmp")}},
      {"-o and -d together accepted", {"shrink", In, "-o", Path("o.bmp"), "-d", Path("d")}},
      {"both sizes with aspect ratio accepted", {"shrink", In, "-o", Path("o.bmp"), "--width", "5", "--height", "5"}},
      {"unknown colour format accepted", {"shrink", In, "-o", Path("o.bmp"), "--colors", "gray17"}},
      {"row 20 accepted", {"shrink", In, "-o", Path("o.bmp"), "--colors", "20"}},
      {"optimized size beyond the depth accepted",
       {"shrink", In, "-o", Path("o.bmp"), "--colors", "optimized4", "--optimized-size", "17"}},
      {"zero percent accepted", {"shrink", In, "-o", Path("o.bmp"), "--width", "0%"}},
      {"bad colour accepted", {"shrink", In, "-o", Path("o.bmp"), "--border-color", "red"}},
  };
  for (const auto& R : Rows) {
    const TCliResult Result = RunBinary(R.Args);
    EXPECT_EQ(Result.Status, 2) << R.Fault << ": " << Result.Err;
    EXPECT_FALSE(fs::exists(Path("o.bmp"))) << R.Fault;
  }
}

TEST_F(ShrinkCliTest, ProgressOnlyOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is missing";
  const std::string In = MakePhoto("in.bmp");
  const struct {
    const char* Fault;
    const char* Quiet;
    bool Shown;
  } Rows[] = {
      {"no progress on a terminal", "", true},
      {"--quiet still draws progress", " --quiet", false},
  };
  for (const auto& R : Rows) {
    // script(1) gives the tool a terminal as stderr; its output lands in the file.
    const std::string Cmd = std::string("script -qec \"'" KORVALA_CLI_BINARY "' shrink '") + In + "' -o '" +
                            Path("out.bmp") + "' --colors optimized8" + R.Quiet + "\" /dev/null >'" +
                            Path("tty.txt") + "'";
    ASSERT_EQ(std::system(Cmd.c_str()), 0) << R.Fault;
    const std::string Screen = ReadBytes(Path("tty.txt"));
    EXPECT_EQ(Screen.find("1/1 files") != std::string::npos, R.Shown) << R.Fault << ": " << Screen;
    // Redrawn in place, and the line is wiped at the end.
    if (R.Shown) {
      EXPECT_EQ(Screen.substr(Screen.size() - 4), "\r\033[K") << R.Fault;
    }
  }
}
