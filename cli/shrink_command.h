#pragma once
// "shrink IN... (-o OUT | -d DIR)": the window program's shrink steps on files, several
// at once, with the options of the settings store.

#include <ostream>
#include <string>
#include <vector>

#include "app/shrink/shrink_job.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kv {

class TShrinkCommand {
public:
  explicit TShrinkCommand(CLI::App& Parent);
  TShrinkCommand(const TShrinkCommand&) = delete;
  TShrinkCommand& operator=(const TShrinkCommand&) = delete;

  CLI::App* Subcommand() const { return FSub; }
  // Err gets one "FILE: message" line per failed file, the library's warnings and, when
  // it is the terminal's stderr, the progress line.
  int Run(std::ostream& Out, std::ostream& Err) const;

private:
  CLI::App* FSub;
  std::vector<std::string> FIn;
  std::string FOut, FDir, FExt;
  unsigned FJobs;
  bool FQuiet = false;
  std::string FWidth = "50%", FHeight = "50%";
  std::string FKeepAspectRatio = "on";
  std::string FPrecision = "precise";
  int FSharpen = 50;
  std::string FBorder = "none";
  int FBorderWidth = 20;
  std::string FBorderColor = "FFFFFF";
  std::string FInterference = "on";
  std::string FColors = "truecolor";
  std::string FPalette;
  int FOptimizedSize = 252;
  std::string FOptimizedIncludeSys = "on";
  std::string FDither = "on", FRGBWeighting = "on", FFastUnknownPalette = "on";
  CLI::Option *FWidthOpt, *FHeightOpt, *FOptimizedSizeOpt;
};

// Accepted names of the --colors rows, in row order.
extern const char* const ColorChoiceNames[20];

}  // namespace kv
