#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "cli_fixture.h"

namespace {

// The library's own reason for not reading File.
std::string LoadError(const std::string& File) {
  try {
    pg::TPixelGraphic G;
    G.LoadFromFile(File);
  } catch (const std::exception& E) {
    return E.what();
  }
  return "(loads)";
}

}  // namespace

TEST_F(CliTest, InfoDescribesEachDepth) {
  struct Row {
    const char* Fault;
    int BitCountNum;
    const char* Line;
  };
  const Row Rows[] = {
      {"two colours counted as a depth", 0, "Bitmap, Windows, RGB, 5 x 3, 2 colours, 1 bit, 1 image"},
      {"sixteen colours", 1, "Bitmap, Windows, RGB, 5 x 3, 16 colours, 4 bit, 1 image"},
      {"palette image", 2, "Bitmap, Windows, RGB, 5 x 3, 256 colours, 8 bit, 1 image"},
      {"true colour", 3, "Bitmap, Windows, RGB, 5 x 3, 16.7M colours, 24 bit, 1 image"},
  };
  for (const Row& R : Rows) {
    const std::string File = MakeImage("depth.bmp", R.BitCountNum);
    const TCliResult Result = Run({"info", File});
    EXPECT_EQ(Result.Status, 0) << R.Fault;
    EXPECT_EQ(Result.Out, File + ": " + R.Line + "\n") << R.Fault;
    EXPECT_EQ(Result.Err, "") << R.Fault;
  }
}

TEST_F(CliTest, InfoReportsUnreadableFileWithLibraryMessageAndGoesOn) {
  using namespace std::literals;
  struct Row {
    const char* Fault;
    const char* Name;
    bool Exists;
    std::string_view Bytes;
  };
  const Row Rows[] = {
      {"missing file stops the list", "missing.bmp", false, ""},
      {"unknown data stops the list", "noise.bmp", true, "not an image at all"},
      {"truncated header stops the list", "short.bmp", true, "BM\x10\0\0\0"sv},
      {"empty file stops the list", "empty.bmp", true, ""},
  };
  const std::string Good1 = MakeImage("good1.bmp"), Good2 = MakeImage("good2.bmp", 2);
  for (const Row& R : Rows) {
    if (R.Exists) WriteBytes(R.Name, std::string(R.Bytes));
    const std::string Bad = Path(R.Name);
    const TCliResult Result = Run({"info", Good1, Bad, Good2});
    EXPECT_EQ(Result.Status, 1) << R.Fault;
    EXPECT_EQ(Result.Err, Bad + ": " + LoadError(Bad) + "\n") << R.Fault;
    EXPECT_NE(LoadError(Bad), "(loads)") << R.Fault;
    EXPECT_NE(Result.Out.find(Good1 + ": Bitmap"), std::string::npos) << R.Fault << "\n" << Result.Out;
    EXPECT_NE(Result.Out.find(Good2 + ": Bitmap"), std::string::npos) << R.Fault << "\n" << Result.Out;
  }
}

// A colon or backslash is an ordinary character in file names here, not a separator.
TEST_F(CliTest, InfoHandlesNamesWithSeparatorsOfOtherSystems) {
  const std::string File = Path("picture:\\x.bmp");
  std::filesystem::rename(MakeImage("picture.bmp"), File);
  const TCliResult Result = Run({"info", File});
  EXPECT_EQ(Result.Status, 0);
  EXPECT_EQ(Result.Err, "");
  EXPECT_EQ(Result.Out, File + ": Bitmap, Windows, RGB, 5 x 3, 16.7M colours, 24 bit, 1 image\n");
}
