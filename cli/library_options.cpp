#include "cli/library_options.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <CLI/CLI.hpp>

#include "pgraphic/settings.h"

namespace kv {

namespace {

const char* const SettingsGroup = "Library settings";

// strtold reads "nan" and "inf", and a NaN passes any of CLI11's ranges.
const CLI::Validator PositiveFinite(
    [](std::string& Text) -> std::string {
      long double Value = 0;
      if (!CLI::detail::lexical_cast(Text, Value)) return "not a number: " + Text;
      if (!std::isfinite(Value) || Value <= 0) return "must be a number greater than 0: " + Text;
      return {};
    },
    "POSITIVE");

// "N/D" or "N" with N and D in 1 .. 2^31-1; false for anything else.
bool ParseRatio(const std::string& Text, int& Numerator, int& Denominator) {
  const std::size_t Slash = Text.find('/');
  const auto Part = [](const std::string& Digits, int& Value) {
    if (Digits.empty() || Digits.size() > 10 || Digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long V = std::stoll(Digits);
    if (V < 1 || V > 0x7FFFFFFF) return false;
    Value = static_cast<int>(V);
    return true;
  };
  Denominator = 1;
  if (Slash == std::string::npos) return Part(Text, Numerator);
  return Part(Text.substr(0, Slash), Numerator) && Part(Text.substr(Slash + 1), Denominator);
}

// An option whose value is one of Names, shown as "a|b|c" in the help.
CLI::Option* AddNamesOption(CLI::App& App, const std::string& Name, std::string& Value, const std::vector<std::string>& Names,
                            const std::string& Help) {
  std::string Choices;
  for (const auto& N : Names) Choices += (Choices.empty() ? "" : "|") + N;
  return App.add_option(Name, Value, Help)
      ->capture_default_str()
      ->check(CLI::IsMember(Names).description(""))
      ->type_name(Choices)
      ->group(SettingsGroup);
}

}  // namespace

// One row per library setting, named after the setting; the help names the key under
// which the settings store keeps it.
TLibraryOptions::TLibraryOptions(CLI::App& App) {
  AddNumber(App, "--screen-gamma", pg::DefaultGamma,
            "Gamma assumed for pixel data and the screen (ScreenGamma)");
  AddOnOff(App, "--gamma-correct", pg::GammaCorrectOnLoad,
           "Re-map files of another gamma to the screen gamma when loading (GammaCorrectionOnRead)");

  // The DCT methods in the order of their stored codes.
  const std::vector<std::string> DctMethods = {"int-precise", "int-fast", "float"};
  AddRange(App, "--jpeg-quality", pg::JPEGCompQuality, 0, 100, "Quality of written JPEG files, 0 to 100 (JPEGCompQuality)");
  AddChoice(App, "--jpeg-method", pg::JPEGCompMethod, DctMethods, "DCT method for writing JPEG files (JPEGCompMethod)");
  AddOnOff(App, "--jpeg-progressive", pg::JPEGCompProgressive, "Write progressive JPEG files (JPEGCompProgressive)");
  AddChoice(App, "--jpeg-decode-method", pg::JPEGDecompMethod, DctMethods,
            "DCT method for reading JPEG files (JPEGDecompMethod)");
  AddOnOff(App, "--write-gamma", pg::PNGWriteGamma, "Write a gAMA chunk into PNG files (WriteGamma)");

  AddOnOff(App, "--pxm-binary", pg::PXMWriteBinary, "Write PBM, PGM and PPM files in binary rather than ASCII form (PXMWriteBinary)");

  AddCodeChoice(App, "--tiff-compression", pg::TIFFWriteCompression, {{"none", 1}, {"packbits", 32773}},
                "Compression of written TIFF files (TIFFWriteCompression)");
  AddChoice(App, "--tiff-truecolor", pg::TIFFWriteTrueColorPhotInterpret, {"rgb", "cmyk"},
            "Samples of written true-colour TIFF files (TIFFWriteTrueColorPhotInterpret)");
  AddChoice(App, "--tiff-gray", pg::TIFFWriteGrayScalePhotInterpret, {"black-is-zero", "white-is-zero"},
            "Meaning of 0 in written grey and black-and-white TIFF files (TIFFWriteGrayScalePhotInterpret)");
  AddChoice(App, "--tiff-byte-order", pg::TIFFWriteByteOrder, {"ii", "mm"},
            "Byte order of written TIFF files: ii little-endian, mm big-endian (TIFFWriteByteOrder)");
  AddChoice(App, "--tiff-resolution-unit", pg::TIFFWriteResolutionUnit, {"none", "inch", "cm"},
            "Unit of the resolution recorded in written TIFF files (TIFFWriteResolutionUnit)");
  AddRatio(App, "--tiff-xres", pg::TIFFWriteXResolutionNumerator, pg::TIFFWriteXResolutionDenominator,
           "Horizontal resolution recorded in written TIFF files, pixels per unit (TIFFWriteXResolutionNumerator, ...Denominator)");
  AddRatio(App, "--tiff-yres", pg::TIFFWriteYResolutionNumerator, pg::TIFFWriteYResolutionDenominator,
           "Vertical resolution recorded in written TIFF files, pixels per unit (TIFFWriteYResolutionNumerator, ...Denominator)");
}

void TLibraryOptions::Apply() const {
  for (const auto& Store : FApply) Store();
}

void TLibraryOptions::AddNumber(CLI::App& App, const std::string& Name, long double& Setting, const std::string& Help) {
  // Starts at the current value, so the help shows what is in force.
  auto Value = std::make_shared<long double>(Setting);
  CLI::Option* Opt = App.add_option(Name, *Value, Help)
                         ->capture_default_str()
                         ->check(PositiveFinite)
                         ->type_name("NUMBER")
                         ->group(SettingsGroup);
  FApply.push_back([Opt, Value, &Setting] {
    if (Opt->count() > 0) Setting = *Value;
  });
}

void TLibraryOptions::AddRange(CLI::App& App, const std::string& Name, std::uint8_t& Setting, int Min, int Max,
                               const std::string& Help) {
  auto Value = std::make_shared<int>(Setting);
  CLI::Option* Opt = App.add_option(Name, *Value, Help)
                         ->capture_default_str()
                         ->check(CLI::Range(Min, Max))
                         ->type_name("N")
                         ->group(SettingsGroup);
  FApply.push_back([Opt, Value, &Setting] {
    if (Opt->count() > 0) Setting = static_cast<std::uint8_t>(*Value);
  });
}

void TLibraryOptions::AddChoice(CLI::App& App, const std::string& Name, std::uint8_t& Setting,
                                const std::vector<std::string>& Names, const std::string& Help) {
  auto Value = std::make_shared<std::string>(Setting < Names.size() ? Names[Setting] : Names.front());
  CLI::Option* Opt = AddNamesOption(App, Name, *Value, Names, Help);
  FApply.push_back([Opt, Value, Names, &Setting] {
    if (Opt->count() > 0)
      Setting = static_cast<std::uint8_t>(std::find(Names.begin(), Names.end(), *Value) - Names.begin());
  });
}

void TLibraryOptions::AddCodeChoice(CLI::App& App, const std::string& Name, int& Setting,
                                    const std::vector<std::pair<std::string, int>>& Codes, const std::string& Help) {
  std::vector<std::string> Names;
  std::string Current = Codes.front().first;
  for (const auto& [N, Code] : Codes) {
    Names.push_back(N);
    if (Code == Setting) Current = N;
  }
  auto Value = std::make_shared<std::string>(Current);
  CLI::Option* Opt = AddNamesOption(App, Name, *Value, Names, Help);
  FApply.push_back([Opt, Value, Codes, &Setting] {
    if (Opt->count() == 0) return;
    for (const auto& [N, Code] : Codes)
      if (N == *Value) Setting = Code;
  });
}

void TLibraryOptions::AddRatio(CLI::App& App, const std::string& Name, int& Numerator, int& Denominator,
                               const std::string& Help) {
  auto Value = std::make_shared<std::string>(std::to_string(Numerator) + "/" + std::to_string(Denominator));
  const CLI::Validator Ratio(
      [](std::string& Text) -> std::string {
        int N = 0, D = 0;
        return ParseRatio(Text, N, D) ? std::string() : "must be N/D with N and D from 1 to 2147483647: " + Text;
      },
      "");
  CLI::Option* Opt = App.add_option(Name, *Value, Help)
                         ->capture_default_str()
                         ->check(Ratio)
                         ->type_name("N/D")
                         ->group(SettingsGroup);
  FApply.push_back([Opt, Value, &Numerator, &Denominator] {
    if (Opt->count() > 0) ParseRatio(*Value, Numerator, Denominator);
  });
}

void TLibraryOptions::AddOnOff(CLI::App& App, const std::string& Name, bool& Setting, const std::string& Help) {
  // CLI11's own bool parsing takes yes/true/1/enable...; the settings are on|off only.
  auto Value = std::make_shared<std::string>(Setting ? "on" : "off");
  CLI::Option* Opt = AddNamesOption(App, Name, *Value, {"on", "off"}, Help);
  FApply.push_back([Opt, Value, &Setting] {
    if (Opt->count() > 0) Setting = *Value == "on";
  });
}

}  // namespace kv
