#include "cli/shrink_command.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/shrink/result_size.h"
#include "cli/warning_handler.h"
#include "pgraphic/pixel_graphic.h"

namespace fs = std::filesystem;

namespace kv {

const char* const ColorChoiceNames[20] = {
    "bw",      "source1",     "individual1", "optimized1", "gray4",       "gray16",      "sysgray4",
    "sys16",   "source4",     "individual4", "optimized4", "gray236",     "gray256",     "special125",
    "special216", "special252", "source8",   "individual8", "optimized8", "truecolor",
};

namespace {

constexpr int ExitUsage = 2;

// A size is "P%" (percent of the source) or "N" (pixels).
struct TSizeArg {
  bool Percent = true;
  long double Value = 50;
};

bool ParseSize(const std::string& Text, TSizeArg& Size) {
  if (Text.empty()) return false;
  const bool Percent = Text.back() == '%';
  const std::string Number = Percent ? Text.substr(0, Text.size() - 1) : Text;
  if (Percent) {
    long double V = 0;
    if (!CLI::detail::lexical_cast(Number, V) || !std::isfinite(V) || V <= 0) return false;
    Size = {true, V};
  } else {
    int N = 0;
    if (!CLI::detail::lexical_cast(Number, N) || N <= 0) return false;
    Size = {false, static_cast<long double>(N)};
  }
  return true;
}

const CLI::Validator SizeValidator(
    [](std::string& Text) -> std::string {
      TSizeArg Ignored;
      return ParseSize(Text, Ignored) ? std::string() : "not a percentage above 0 (P%) or a pixel count above 0: " + Text;
    },
    "");

const CLI::Validator HexColor(
    [](std::string& Text) -> std::string {
      if (Text.size() != 6 || Text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return "not a colour RRGGBB: " + Text;
      return {};
    },
    "");

int ColorRow(const std::string& Text) {
  for (int i = 0; i < 20; ++i)
    if (Text == ColorChoiceNames[i] || Text == std::to_string(i)) return i;
  return -1;
}

const CLI::Validator ColorValidator(
    [](std::string& Text) -> std::string {
      return ColorRow(Text) >= 0 ? std::string() : "not a row 0..19 nor a colour format name: " + Text;
    },
    "");

CLI::Option* AddOnOff(CLI::App* Sub, const std::string& Name, std::string& Value, const std::string& Help) {
  return Sub->add_option(Name, Value, Help)
      ->capture_default_str()
      ->check(CLI::IsMember({"on", "off"}).description(""))
      ->type_name("on|off");
}

// Shared by the workers: the error lines, the warnings and the progress line go to one
// stream, one writer at a time.
class TReporter {
public:
  TReporter(std::ostream& Err, bool Progress, std::size_t Total) : FErr(Err), FProgress(Progress), FTotal(Total) {}

  std::mutex& Lock() { return FLock; }

  void Failed(const std::string& File, const std::string& Message) {
    std::lock_guard L(FLock);
    ClearLine();
    FErr << File << ": " << Message << '\n';
    FErr.flush();
  }

  void FileDone() {
    std::lock_guard L(FLock);
    ++FDone;
    FFile.clear();  // until a worker reports its next file
    Draw(true);
  }

  void Update(const std::string& File, const char* Step, int Percent) {
    if (!FProgress) return;
    std::lock_guard L(FLock);
    FFile = File;
    FStep = Step;
    FPercent = Percent;
    Draw(false);
  }

  void Finish() {
    std::lock_guard L(FLock);
    ClearLine();
    FErr.flush();
  }

  void ClearLine() {
    if (FProgress && FDrawn) FErr << "\r\033[K";
    FDrawn = false;
  }

private:
  // Redraws in place at most every 100 ms, or at once when Force.
  void Draw(bool Force) {
    if (!FProgress) return;
    const auto Now = std::chrono::steady_clock::now();
    if (!Force && FDrawn && Now - FLast < std::chrono::milliseconds(100)) return;
    FLast = Now;
    FErr << "\r\033[K" << FDone << "/" << FTotal << " files";
    if (!FFile.empty() && FDone < FTotal) FErr << "  " << FFile << ": " << FStep << " " << FPercent << "%";
    FErr.flush();
    FDrawn = true;
  }

  std::ostream& FErr;
  const bool FProgress;
  const std::size_t FTotal;
  std::mutex FLock;
  std::size_t FDone = 0;
  std::string FFile, FStep;
  int FPercent = 0;
  bool FDrawn = false;
  std::chrono::steady_clock::time_point FLast;
};

}  // namespace

TShrinkCommand::TShrinkCommand(CLI::App& Parent) : FJobs(std::max(1u, std::thread::hardware_concurrency())) {
  FSub = Parent.add_subcommand("shrink", "Make smaller copies of IN... (stretch, sharpen, border, colour format)");
  FSub->add_option("IN", FIn, "Image files to read")->required();
  CLI::Option* Out = FSub->add_option("-o,--output", FOut, "File to write (one input only)");
  CLI::Option* Dir = FSub->add_option("-d,--dir", FDir, "Folder to write each input into under its own name");
  Out->excludes(Dir);
  FSub->add_option("--ext", FExt, "Extension of the files written with -d (default: the input's)");
  FSub->add_option("-j,--jobs", FJobs, "Files shrunk at once, one thread each")->capture_default_str()->check(CLI::Range(1u, 1024u));
  FSub->add_flag("-q,--quiet", FQuiet, "No progress display");

  const char* Group = "Result";
  FWidthOpt = FSub->add_option("--width", FWidth, "Result width in percent of the source (P%) or in pixels (N)")
                  ->capture_default_str()->check(SizeValidator)->type_name("P%|N")->group(Group);
  FHeightOpt = FSub->add_option("--height", FHeight, "Result height in percent of the source (P%) or in pixels (N)")
                   ->capture_default_str()->check(SizeValidator)->type_name("P%|N")->group(Group);
  AddOnOff(FSub, "--keep-aspect-ratio", FKeepAspectRatio, "One of --width and --height sets the other (KeepAspectRatio)")
      ->group(Group);
  FSub->add_option("--precision", FPrecision, "Resampling precision (StretchMode)")
      ->capture_default_str()->check(CLI::IsMember({"fast", "medium", "precise"}).description(""))
      ->type_name("fast|medium|precise")->group(Group);
  FSub->add_option("--sharpen", FSharpen, "Sharpening strength in percent, 0 for none (Sharpen)")
      ->capture_default_str()->check(CLI::Range(0, 100))->type_name("0..100")->group(Group);
  FSub->add_option("--border", FBorder, "Border kind (DoBorder, BorderEllipse)")
      ->capture_default_str()->check(CLI::IsMember({"none", "rect", "oval"}).description(""))
      ->type_name("none|rect|oval")->group(Group);
  FSub->add_option("--border-width", FBorderWidth, "Border width in pixels (BorderWidth)")
      ->capture_default_str()->check(CLI::Range(0, 1000000))->type_name("N")->group(Group);
  FSub->add_option("--border-color", FBorderColor, "Border colour (BorderColor)")
      ->capture_default_str()->check(HexColor)->type_name("RRGGBB")->group(Group);
  AddOnOff(FSub, "--interference", FInterference,
           "Shrink a source one pixel more than twice the result exactly 2:1 (MinimizeInterference)")->group(Group);

  std::string Rows;
  for (int i = 0; i < 20; ++i) Rows += std::string(i ? ", " : "") + std::to_string(i) + " " + ColorChoiceNames[i];
  FSub->add_option("--colors", FColors, "Colour format of the result (Selection): " + Rows)
      ->capture_default_str()->check(ColorValidator)->type_name("ROW")->group(Group);
  FSub->add_option("--palette", FPalette, "Image file whose palette is the individual palette (default: special 216)")
      ->check(CLI::ExistingFile)->type_name("FILE")->group(Group);
  FOptimizedSizeOpt = FSub->add_option("--optimized-size", FOptimizedSize,
                                       "Entries of the optimized palette (OptimizedPaletteSize; default for 1 and 4 "
                                       "bits: 2 and 16)")
                          ->capture_default_str()->check(CLI::Range(2, 256))->type_name("N")->group(Group);
  AddOnOff(FSub, "--optimized-include-sys", FOptimizedIncludeSys,
           "Add the 16 system colours to an optimized palette above 16 entries (OptimizedPaletteIncludeSys)")
      ->group(Group);
  AddOnOff(FSub, "--dither", FDither, "Error diffusion when mapping to a palette (Dithering)")->group(Group);
  AddOnOff(FSub, "--rgb-weighting", FRGBWeighting, "Luminance-weighted grey for grey palettes (RGBWeighting)")
      ->group(Group);
  AddOnOff(FSub, "--fast-unknown-palette", FFastUnknownPalette,
           "Fast colour search in palettes without a fixed table (FastUnknownPalette)")->group(Group);
}

int TShrinkCommand::Run(std::ostream&, std::ostream& Err) const {
  // --- parameters shared by every file -------------------------------------------
  if (FOut.empty() && FDir.empty()) {
    Err << "shrink: one of -o OUT and -d DIR is required\n";
    return ExitUsage;
  }
  if (!FOut.empty() && FIn.size() != 1) {
    Err << "shrink: -o takes one input; use -d DIR for several\n";
    return ExitUsage;
  }
  const bool Keep = FKeepAspectRatio == "on";
  const bool WidthGiven = FWidthOpt->count() > 0, HeightGiven = FHeightOpt->count() > 0;
  if (Keep && WidthGiven && HeightGiven) {
    Err << "shrink: --width and --height together need --keep-aspect-ratio off\n";
    return ExitUsage;
  }
  TSizeArg Width, Height;
  ParseSize(FWidth, Width);
  ParseSize(FHeight, Height);

  TShrinkParams Base;
  Base.MinimizeInterference = FInterference == "on";
  Base.StretchMode = FPrecision == "fast" ? pg::smFast : FPrecision == "medium" ? pg::smMedium : pg::smPrecise;
  Base.Sharpen = FSharpen;
  Base.DoBorder = FBorder != "none";
  Base.BorderEllipse = FBorder == "oval";
  Base.BorderWidth = FBorderWidth;
  const unsigned long Rgb = std::stoul(FBorderColor, nullptr, 16);
  Base.BorderColor = pg::RGBColor(static_cast<int>(Rgb >> 16 & 0xFF), static_cast<int>(Rgb >> 8 & 0xFF),
                                  static_cast<int>(Rgb & 0xFF));
  Base.Selection = ColorRow(FColors);
  const TPaletteChoice& Choice = PaletteChoices[static_cast<std::size_t>(Base.Selection)];
  Base.OptimizedPaletteSize = FOptimizedSize;
  if (Choice.IsOptimized && FOptimizedSize > pg::NumToMaxPaletteCount(Choice.Depth)) {
    // The default size suits 8 bits; for the smaller depths it means "as many as fit".
    if (FOptimizedSizeOpt->count() > 0) {
      Err << "shrink: --optimized-size " << FOptimizedSize << " does not fit the "
          << pg::NumToBitCount(Choice.Depth) << "-bit format " << ColorChoiceNames[Base.Selection] << '\n';
      return ExitUsage;
    }
    Base.OptimizedPaletteSize = pg::NumToMaxPaletteCount(Choice.Depth);
  }
  Base.OptimizedPaletteIncludeSys = FOptimizedIncludeSys == "on";
  Base.Dithering = FDither == "on";
  Base.RGBWeighting = FRGBWeighting == "on";
  Base.FastUnknownPalette = FFastUnknownPalette == "on";
  if (FPalette.empty()) {
    const auto Entries = pg::StandardPalette(pg::pSpecial216);
    Base.IndividualPalette.assign(Entries.begin(), Entries.end());
  } else {
    // As the window's palette command: the image's pixels go, its palette stays.
    try {
      pg::TPixelGraphic P;
      P.LoadFromFile(FPalette);
      if (P.PaletteCount() < 1 || P.PaletteCount() > 256) {
        Err << FPalette << ": No Palette!\n";
        return 1;
      }
      Base.IndividualPalette.assign(P.GetPaletteData(), P.GetPaletteData() + P.PaletteCount());
    } catch (const std::exception& E) {
      Err << FPalette << ": " << E.what() << '\n';
      return 1;
    }
  }

  // --- output names, decided before any work ---------------------------------------
  std::vector<std::string> Outputs;
  if (!FOut.empty()) {
    Outputs.push_back(FOut);
  } else {
    std::error_code Ec;
    fs::create_directories(FDir, Ec);
    if (!fs::is_directory(FDir)) {
      Err << FDir << ": cannot create the output folder\n";
      return 1;
    }
    for (const auto& In : FIn) {
      fs::path Name = fs::path(In).filename();
      if (!FExt.empty()) Name.replace_extension(FExt.front() == '.' ? FExt : "." + FExt);
      Outputs.push_back((fs::path(FDir) / Name).string());
    }
  }

  const bool Tty = !FQuiet && &Err == &std::cerr && isatty(STDERR_FILENO);
  TReporter Reporter(Err, Tty, FIn.size());
  std::vector<char> Skip(FIn.size(), 0);
  std::set<std::string> Taken;
  for (std::size_t i = 0; i < FIn.size(); ++i) {
    std::error_code Ec;
    for (const auto& In : FIn)
      if (fs::equivalent(In, Outputs[i], Ec)) {
        Reporter.Failed(Outputs[i], "refusing to write over the input file " + In);
        Skip[i] = 1;
        break;
      }
    const std::string Key = fs::weakly_canonical(Outputs[i], Ec).string();
    if (!Skip[i] && !Taken.insert(Ec ? Outputs[i] : Key).second) {
      Reporter.Failed(FIn[i], "another input already writes " + Outputs[i]);
      Skip[i] = 1;
    }
  }

  // The warning boxes come from every worker; they share the error stream's lock.
  const pg::TPGWarningBoxHandler Previous = pg::GetPGWarningBoxHandler();
  const TWarningHandlerScope Warnings([&Reporter, Previous](const std::string& Caption, const std::string& Text,
                                                            pg::TPGBoxButtons Buttons) {
    std::lock_guard L(Reporter.Lock());
    Reporter.ClearLine();
    if (Previous) return Previous(Caption, Text, Buttons);
    return Buttons == pg::TPGBoxButtons::OK ? pg::TPGBoxResult::OK : pg::TPGBoxResult::Cancel;
  });

  // --- the workers: each takes the next file and owns its images ---------------------
  std::atomic<std::size_t> Next{0};
  std::atomic<bool> AnyFailed{false};
  for (const char S : Skip) if (S) AnyFailed = true;
  auto Work = [&] {
    for (std::size_t i; (i = Next++) < FIn.size();) {
      if (Skip[i]) {
        Reporter.FileDone();
        continue;
      }
      const std::string& In = FIn[i];
      const std::string Label = fs::path(In).filename().string();
      std::string Where = In;
      try {
        pg::TPixelGraphic Source;
        Source.LoadFromFile(In);
        TResultSize Size(Source.GetWidth(), Source.GetHeight(), Keep);
        auto Apply = [&Size](const TSizeArg& A, bool IsWidth) {
          if (A.Percent) IsWidth ? Size.SetWidthPercent(A.Value) : Size.SetHeightPercent(A.Value);
          else IsWidth ? Size.SetWidthPixels(static_cast<int>(A.Value)) : Size.SetHeightPixels(static_cast<int>(A.Value));
        };
        if (Keep) {
          if (HeightGiven) Apply(Height, false);
          else Apply(Width, true);
        } else {
          Apply(Width, true);
          Apply(Height, false);
        }
        if (Size.Width() <= 0 || Size.Height() <= 0)
          throw std::runtime_error("the result would be " + std::to_string(Size.Width()) + " x " +
                                   std::to_string(Size.Height()) + " pixels");
        TShrinkParams Params = Base;
        Params.Width = Size.Width();
        Params.Height = Size.Height();

        const char* StepName = "";
        TShrinkObserver Observer;
        Observer.OnStep = [&](TShrinkStep Step) {
          StepName = ShrinkStepName(Step, false);
          Reporter.Update(Label, StepName, 0);
        };
        if (Tty)
          Observer.OnProgress = [&](pg::TObject*, int Step, int Max, bool&) {
            Reporter.Update(Label, StepName, Max > 0 ? static_cast<int>(100LL * Step / Max) : 0);
          };
        TShrinkResult Result = RunShrinkJob(Source, Params, Observer);
        if (!Result.Image) throw std::runtime_error("the source image is empty");
        // The format's colour limits are accepted as the window's save does: the
        // negotiation's box offers OK only.
        Result.Image->SetSaveColorResWarningAction(pg::pgwaOKBox);
        Where = Outputs[i];
        Result.Image->SaveToFile(Outputs[i]);
      } catch (const std::exception& E) {
        Reporter.Failed(Where, E.what());
        AnyFailed = true;
      }
      Reporter.FileDone();
    }
  };
  const std::size_t Threads = std::min<std::size_t>(FJobs, FIn.size());
  if (Threads <= 1) {
    Work();
  } else {
    std::vector<std::thread> Pool;
    for (std::size_t t = 0; t < Threads; ++t) Pool.emplace_back(Work);
    for (auto& T : Pool) T.join();
  }
  Reporter.Finish();
  return AnyFailed ? 1 : 0;
}

}  // namespace kv
