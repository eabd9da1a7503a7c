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
  std::string Choices;
  for (const auto& N : Names) Choices += (Choices.empty() ? "" : "|") + N;
  CLI::Option* Opt = App.add_option(Name, *Value, Help)
                         ->capture_default_str()
                         ->check(CLI::IsMember(Names).description(""))
                         ->type_name(Choices)
                         ->group(SettingsGroup);
  FApply.push_back([Opt, Value, Names, &Setting] {
    if (Opt->count() > 0)
      Setting = static_cast<std::uint8_t>(std::find(Names.begin(), Names.end(), *Value) - Names.begin());
  });
}

void TLibraryOptions::AddOnOff(CLI::App& App, const std::string& Name, bool& Setting, const std::string& Help) {
  // CLI11's own bool parsing takes yes/true/1/enable...; the settings are on|off only.
  auto Value = std::make_shared<std::string>(Setting ? "on" : "off");
  CLI::Option* Opt = App.add_option(Name, *Value, Help)
                         ->capture_default_str()
                         ->check(CLI::IsMember({"on", "off"}).description(""))
                         ->type_name("on|off")
                         ->group(SettingsGroup);
  FApply.push_back([Opt, Value, &Setting] {
    if (Opt->count() > 0) Setting = *Value == "on";
  });
}

}  // namespace kv
