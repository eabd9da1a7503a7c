#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "pgraphic/settings.h"
#include "tests/settings_guard.h"

TEST_F(CliTest, UsageErrorsExitTwoAndChangeNoSetting) {
  const std::string File = MakeImage("in.bmp");
  struct Row {
    const char* Fault;
    std::vector<std::string> Args;
  };
  const Row Rows[] = {
      {"no subcommand accepted", {}},
      {"unknown subcommand accepted", {"enlarge", File}},
      {"info without files accepted", {"info"}},
      {"convert without output accepted", {"convert", File}},
      {"convert extra argument ignored", {"convert", File, Path("a.bmp"), Path("b.bmp")}},
      {"unknown option ignored", {"--frobnicate", "info", File}},
      {"zero gamma accepted", {"--screen-gamma", "0", "info", File}},
      {"negative gamma accepted", {"--screen-gamma", "-1.5", "info", File}},
      {"text gamma accepted", {"--screen-gamma", "bright", "info", File}},
      {"nan gamma accepted", {"--screen-gamma", "nan", "info", File}},
      {"infinite gamma accepted", {"--screen-gamma", "inf", "info", File}},
      {"gamma without value accepted", {"info", File, "--screen-gamma"}},
      {"yes taken for on", {"--gamma-correct", "yes", "info", File}},
      {"upper case taken for on", {"--gamma-correct", "ON", "info", File}},
      {"valid option applied before a later error", {"--screen-gamma", "2.2", "--gamma-correct", "1", "info", File}},
      {"quality above 100 accepted", {"--jpeg-quality", "101", "info", File}},
      {"negative quality accepted", {"--jpeg-quality", "-1", "info", File}},
      {"unknown DCT method accepted", {"--jpeg-method", "fast", "info", File}},
      {"unknown decode method accepted", {"--jpeg-decode-method", "2", "info", File}},
      {"write gamma takes yes", {"--write-gamma", "yes", "info", File}},
      {"compression code taken for a name", {"--tiff-compression", "32773", "info", File}},
      {"unknown compression accepted", {"--tiff-compression", "lzw", "info", File}},
      {"unknown byte order accepted", {"--tiff-byte-order", "be", "info", File}},
      {"zero resolution accepted", {"--tiff-xres", "0/1", "info", File}},
      {"zero denominator accepted", {"--tiff-yres", "300/0", "info", File}},
      {"resolution past 32 bits accepted", {"--tiff-xres", "2147483648", "info", File}},
      {"decimal resolution accepted", {"--tiff-xres", "72.5", "info", File}},
      {"negative resolution accepted", {"--tiff-yres", "-3/1", "info", File}},
      {"half a ratio accepted", {"--tiff-yres", "300/", "info", File}},
  };
  const long double Gamma = pg::DefaultGamma;
  const bool Correct = pg::GammaCorrectOnLoad;
  for (const Row& R : Rows) {
    const TCliResult Result = Run(R.Args);
    EXPECT_EQ(Result.Status, 2) << R.Fault;
    EXPECT_EQ(Result.Out, "") << R.Fault;
    EXPECT_NE(Result.Err, "") << R.Fault;
    EXPECT_EQ(pg::DefaultGamma, Gamma) << R.Fault;
    EXPECT_EQ(pg::GammaCorrectOnLoad, Correct) << R.Fault;
  }
}

TEST_F(CliTest, SettingOptionsReachTheLibrary) {
  const std::string File = MakeImage("in.bmp");
  struct Row {
    const char* Fault;
    std::vector<std::string> Args;
    long double Gamma;
    bool Correct;
  };
  // Every row starts from gamma 2.5 with correction off, so a row that leaves a setting
  // alone also shows that an unused option does not write its default back.
  const Row Rows[] = {
      {"screen gamma lost", {"--screen-gamma", "2.2", "info", File}, 2.2L, false},
      {"correction not switched on", {"--gamma-correct", "on", "info", File}, 2.5L, true},
      {"correction not switched off", {"--gamma-correct", "off", "info", File}, 2.5L, false},
      {"options after the subcommand lost", {"info", File, "--screen-gamma", "1", "--gamma-correct", "on"}, 1.0L, true},
      {"unused options reset the settings", {"info", File}, 2.5L, false},
  };
  for (const Row& R : Rows) {
    pg::DefaultGamma = 2.5L;
    pg::GammaCorrectOnLoad = false;
    const TCliResult Result = Run(R.Args);
    EXPECT_EQ(Result.Status, 0) << R.Fault << ": " << Result.Err;
    EXPECT_EQ(pg::DefaultGamma, R.Gamma) << R.Fault;
    EXPECT_EQ(pg::GammaCorrectOnLoad, R.Correct) << R.Fault;
  }
}

// The codec settings take their stored codes: DCT methods 0 slow integer, 1 fast
// integer, 2 float.
TEST_F(CliTest, CodecOptionsReachTheLibrary) {
  const std::string File = MakeImage("in.bmp");
  const kvtest::TSettingsGuard Restore;
  ASSERT_EQ(Run({"info", File, "--jpeg-quality", "95", "--jpeg-method", "int-fast", "--jpeg-progressive", "on",
                 "--jpeg-decode-method", "float", "--write-gamma", "off"})
                .Status,
            0);
  EXPECT_EQ(pg::JPEGCompQuality, 95);
  EXPECT_EQ(pg::JPEGCompMethod, 1);
  EXPECT_TRUE(pg::JPEGCompProgressive);
  EXPECT_EQ(pg::JPEGDecompMethod, 2);
  EXPECT_FALSE(pg::PNGWriteGamma);
  ASSERT_EQ(Run({"info", File, "--jpeg-method", "int-precise", "--jpeg-quality", "0"}).Status, 0);
  EXPECT_EQ(pg::JPEGCompMethod, 0);
  EXPECT_EQ(pg::JPEGCompQuality, 0);
}

TEST_F(CliTest, TiffAndPxmOptionsReachTheLibrary) {
  const std::string File = MakeImage("in.bmp");
  const kvtest::TSettingsGuard Restore;
  ASSERT_EQ(Run({"info", File, "--pxm-binary", "on", "--tiff-compression", "packbits", "--tiff-truecolor", "cmyk",
                 "--tiff-gray", "white-is-zero", "--tiff-byte-order", "mm", "--tiff-resolution-unit", "cm",
                 "--tiff-xres", "2147483647/3", "--tiff-yres", "72"})
                .Status,
            0);
  EXPECT_TRUE(pg::PXMWriteBinary);
  EXPECT_EQ(pg::TIFFWriteCompression, 32773);
  EXPECT_EQ(pg::TIFFWriteTrueColorPhotInterpret, 1);
  EXPECT_EQ(pg::TIFFWriteGrayScalePhotInterpret, 1);
  EXPECT_EQ(pg::TIFFWriteByteOrder, 1);
  EXPECT_EQ(pg::TIFFWriteResolutionUnit, 2);
  EXPECT_EQ(pg::TIFFWriteXResolutionNumerator, 2147483647);
  EXPECT_EQ(pg::TIFFWriteXResolutionDenominator, 3);
  EXPECT_EQ(pg::TIFFWriteYResolutionNumerator, 72);
  EXPECT_EQ(pg::TIFFWriteYResolutionDenominator, 1);
  ASSERT_EQ(Run({"info", File, "--pxm-binary", "off", "--tiff-compression", "none", "--tiff-resolution-unit", "none"}).Status, 0);
  EXPECT_FALSE(pg::PXMWriteBinary);
  EXPECT_EQ(pg::TIFFWriteCompression, 1);
  EXPECT_EQ(pg::TIFFWriteResolutionUnit, 0);
  EXPECT_EQ(pg::TIFFWriteByteOrder, 1);  // untouched
}

TEST_F(CliTest, HelpListsSubcommandsAndOptions) {
  const TCliResult Result = Run({"--help"});
  EXPECT_EQ(Result.Status, 0);
  EXPECT_EQ(Result.Err, "");
  for (const char* Name : {"info", "convert", "--screen-gamma", "--gamma-correct", "on|off", "--strict", "--version", "--help",
                           "--jpeg-quality", "--jpeg-method", "int-precise|int-fast|float", "--jpeg-progressive",
                           "--jpeg-decode-method", "--write-gamma", "--pxm-binary", "--tiff-compression", "none|packbits",
                           "--tiff-truecolor", "--tiff-gray", "--tiff-byte-order", "--tiff-resolution-unit", "--tiff-xres",
                           "--tiff-yres", "300/1"})
    EXPECT_NE(Result.Out.find(Name), std::string::npos) << Name << " missing from\n" << Result.Out;

  const TCliResult Convert = Run({"convert", "--help"});
  EXPECT_EQ(Convert.Status, 0);
  for (const char* Name : {"IN", "OUT"}) EXPECT_NE(Convert.Out.find(Name), std::string::npos) << Convert.Out;
}

TEST_F(CliTest, VersionPrintsTheProjectVersion) {
  const TCliResult Result = Run({"--version"});
  EXPECT_EQ(Result.Status, 0);
  EXPECT_EQ(Result.Out, KORVALA_VERSION "\n");
  EXPECT_EQ(Result.Err, "");
}
