#include "cli_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "pgraphic/settings.h"

namespace fs = std::filesystem;

void CliTest::SetUp() {
  FSavedGamma = pg::DefaultGamma;
  FSavedGammaCorrect = pg::GammaCorrectOnLoad;
  const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string Name = std::string("korvala_cli_") + Info->test_suite_name() + "_" + Info->name() + "_" + std::to_string(getpid());
  std::replace(Name.begin(), Name.end(), '/', '_');
  FDir = fs::temp_directory_path() / Name;
  fs::remove_all(FDir);
  fs::create_directories(FDir);
}

void CliTest::TearDown() {
  pg::DefaultGamma = FSavedGamma;
  pg::GammaCorrectOnLoad = FSavedGammaCorrect;
  std::error_code Ignored;
  fs::remove_all(FDir, Ignored);
}

TCliResult CliTest::Run(const std::vector<std::string>& Args) {
  std::vector<const char*> Argv{"korvala-cli"};
  for (const auto& A : Args) Argv.push_back(A.c_str());
  Argv.push_back(nullptr);
  std::ostringstream Out, Err;
  const int Status = kv::RunCli(static_cast<int>(Args.size() + 1), Argv.data(), Out, Err);
  return {Status, Out.str(), Err.str()};
}

std::string CliTest::MakeImage(const std::string& Name, int BitCountNum) const {
  pg::TPixelGraphic G;
  G.SetFormat(5, 3, BitCountNum);
  const int Colors = G.MaxPaletteCount();
  if (Colors > 0) {
    G.SetPaletteCount(Colors);
    for (int i = 0; i < Colors; ++i) G.SetPaletteEntry(i, pg::RGBColor(i * 7 % 256, 255 - i, i * 13 % 256));
  }
  for (int y = 0; y < G.GetHeight(); ++y)
    for (int x = 0; x < G.GetWidth(); ++x) {
      const int n = y * G.GetWidth() + x;
      G.SetPixel(x, y, Colors > 0 ? n % Colors : pg::RGBColor(n * 17, 255 - n * 9, n * 5));
    }
  const std::string File = Path(Name);
  G.SaveToFile(File);
  return File;
}

void CliTest::WriteBytes(const std::string& Name, const std::string& Bytes) const {
  std::ofstream(Path(Name), std::ios::binary) << Bytes;
}

std::string CliTest::ReadBytes(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

std::vector<std::string> CliTest::Listing() const {
  std::vector<std::string> Names;
  for (const auto& E : fs::directory_iterator(FDir)) Names.push_back(E.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

::testing::AssertionResult SameImage(const pg::TPixelGraphic& A, const pg::TPixelGraphic& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() || A.GetBitCount() != B.GetBitCount())
    return ::testing::AssertionFailure() << A.GetWidth() << "x" << A.GetHeight() << "x" << A.GetBitCount() << " vs "
                                         << B.GetWidth() << "x" << B.GetHeight() << "x" << B.GetBitCount();
  if (A.PaletteCount() != B.PaletteCount())
    return ::testing::AssertionFailure() << "palette sizes " << A.PaletteCount() << " vs " << B.PaletteCount();
  for (int i = 0; i < A.PaletteCount(); ++i)
    if (A.GetPaletteEntry(i) != B.GetPaletteEntry(i)) return ::testing::AssertionFailure() << "palette entry " << i;
  for (int y = 0; y < A.GetHeight(); ++y)
    for (int x = 0; x < A.GetWidth(); ++x)
      if (A.GetPixel(x, y) != B.GetPixel(x, y))
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << A.GetPixel(x, y) << " vs " << B.GetPixel(x, y);
  return ::testing::AssertionSuccess();
}
