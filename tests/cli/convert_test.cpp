#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "cli_fixture.h"

namespace fs = std::filesystem;

namespace {

// The image is neither copyable nor movable.
std::unique_ptr<pg::TPixelGraphic> Loaded(const std::string& File) {
  auto G = std::make_unique<pg::TPixelGraphic>();
  G->LoadFromFile(File);
  return G;
}

}  // namespace

TEST_F(CliTest, ConvertThroughDibAndBackKeepsPixels) {
  for (int Num = 0; Num <= 3; ++Num) {
    SCOPED_TRACE("bit-count index " + std::to_string(Num));
    const std::string In = MakeImage("in.bmp", Num), Mid = Path("mid.dib"), Out = Path("out.bmp");
    const TCliResult There = Run({"convert", In, Mid});
    EXPECT_EQ(There.Status, 0) << There.Err;
    const TCliResult Back = Run({"convert", Mid, Out});
    EXPECT_EQ(Back.Status, 0) << Back.Err;
    EXPECT_EQ(There.Out + There.Err + Back.Out + Back.Err, "");
    const auto Original = Loaded(In);
    EXPECT_TRUE(SameImage(*Original, *Loaded(Mid)));
    EXPECT_TRUE(SameImage(*Original, *Loaded(Out)));
  }
}

TEST_F(CliTest, ConvertReplacesAnOtherExistingOutput) {
  const std::string In = MakeImage("in.bmp", 2), Out = MakeImage("out.bmp", 3);
  const TCliResult Result = Run({"convert", In, Out});
  EXPECT_EQ(Result.Status, 0) << Result.Err;
  EXPECT_TRUE(SameImage(*Loaded(In), *Loaded(Out)));
}

TEST_F(CliTest, ConvertFailedSaveLeavesNothingBehind) {
  struct Row {
    const char* Fault;
    const char* OutName;
    bool OutExists;
    const char* Message;
  };
  const Row Rows[] = {
      {"unknown extension writes a file", "out.gif", false, "Unknown file extension \"gif\""},
      {"name without extension writes a file", "out", false, "Unknown file extension \"\""},
      {"failed save damages the existing file", "keep.gif", true, "Unknown file extension \"gif\""},
  };
  for (const Row& R : Rows) {
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    const std::string In = MakeImage("in.bmp");
    if (R.OutExists) WriteBytes(R.OutName, "keep me");
    const auto Before = Listing();
    const std::string Out = Path(R.OutName);
    const TCliResult Result = Run({"convert", In, Out});
    EXPECT_EQ(Result.Status, 1) << R.Fault;
    EXPECT_EQ(Result.Err, Out + ": " + R.Message + "\n") << R.Fault;
    EXPECT_EQ(Listing(), Before) << R.Fault;  // no output and no temporary file
    if (R.OutExists) {
      EXPECT_EQ(ReadBytes(Out), "keep me") << R.Fault;
    }
  }
}

TEST_F(CliTest, ConvertUnreadableInputWritesNothing) {
  struct Row {
    const char* Fault;
    const char* InName;
    const char* Bytes;  // nullptr: the file does not exist
  };
  const Row Rows[] = {
      {"missing input goes unreported", "missing.bmp", nullptr},
      {"unknown data is saved as an image", "noise.bmp", "not an image at all"},
  };
  for (const Row& R : Rows) {
    if (R.Bytes) WriteBytes(R.InName, R.Bytes);
    const std::string In = Path(R.InName), Out = Path("out.bmp");
    const TCliResult Result = Run({"convert", In, Out});
    EXPECT_EQ(Result.Status, 1) << R.Fault;
    EXPECT_EQ(Result.Err.rfind(In + ": ", 0), 0u) << R.Fault << ": " << Result.Err;
    EXPECT_FALSE(fs::exists(Out)) << R.Fault;
  }
}

TEST_F(CliTest, ConvertRefusesToWriteOverItsInput) {
  struct Row {
    const char* Fault;
    // Makes the output name for the input in.bmp.
    std::string (*MakeOut)(const fs::path& Dir);
  };
  const Row Rows[] = {
      {"same name overwritten", [](const fs::path& Dir) { return (Dir / "in.bmp").string(); }},
      {"dotted path overwritten", [](const fs::path& Dir) { return (Dir / "." / "in.bmp").string(); }},
      {"hard link overwritten", [](const fs::path& Dir) {
         fs::create_hard_link(Dir / "in.bmp", Dir / "hard.bmp");
         return (Dir / "hard.bmp").string();
       }},
      {"symbolic link followed onto the input", [](const fs::path& Dir) {
         fs::create_symlink(Dir / "in.bmp", Dir / "soft.dib");
         return (Dir / "soft.dib").string();
       }},
  };
  for (const Row& R : Rows) {
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    // A tail after the pixels, which readers ignore and a rewrite would drop.
    const std::string Bytes = ReadBytes(MakeImage("in.bmp", 1)) + "tail";
    WriteBytes("in.bmp", Bytes);
    const std::string In = Path("in.bmp");
    const std::string Out = R.MakeOut(FDir);
    const auto Before = Listing();
    const TCliResult Result = Run({"convert", In, Out});
    EXPECT_EQ(Result.Status, 1) << R.Fault;
    EXPECT_NE(Result.Err.find("refusing to write over the input file"), std::string::npos) << R.Fault << ": " << Result.Err;
    EXPECT_EQ(ReadBytes(In), Bytes) << R.Fault;
    EXPECT_EQ(Listing(), Before) << R.Fault;
  }
}
