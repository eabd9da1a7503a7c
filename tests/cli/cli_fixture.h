#pragma once
// Runs the tool in-process on files in a folder of its own per test, and restores the
// library settings the command line may change.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pgraphic/pixel_graphic.h"

struct TCliResult {
  int Status;
  std::string Out, Err;
};

class CliTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Args follow the program name.
  static TCliResult Run(const std::vector<std::string>& Args);
  // The path of Name inside the test's folder.
  std::string Path(const std::string& Name) const { return (FDir / Name).string(); }
  // A small image of the given bit-count index with a distinct value in every pixel,
  // saved as Name; returns its path.
  std::string MakeImage(const std::string& Name, int BitCountNum = 3) const;
  void WriteBytes(const std::string& Name, const std::string& Bytes) const;
  static std::string ReadBytes(const std::string& File);
  // The names of the files in the test's folder.
  std::vector<std::string> Listing() const;

  std::filesystem::path FDir;

private:
  long double FSavedGamma = 0;
  bool FSavedGammaCorrect = false;
};

// Same size, depth, palette and pixels.
::testing::AssertionResult SameImage(const pg::TPixelGraphic& A, const pg::TPixelGraphic& B);
