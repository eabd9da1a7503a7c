#include "cli/cli.h"

#include <exception>

#include <CLI/CLI.hpp>

#include "cli/convert_command.h"
#include "cli/info_command.h"
#include "cli/library_options.h"
#include "cli/shrink_command.h"
#include "cli/warning_handler.h"

namespace kv {

namespace {

constexpr int ExitUsage = 2;

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& Out, std::ostream& Err) {
  CLI::App App("Korvala: makes smaller copies of images.", "korvala-cli");
  // Global options may also follow the subcommand.
  App.fallthrough();
  App.require_subcommand(1);
  App.set_version_flag("--version", KORVALA_VERSION);

  bool Strict = false;
  App.add_flag("--strict", Strict, "Answer the library's warnings with Cancel, which stops the operation");
  const TLibraryOptions LibraryOptions(App);
  const TInfoCommand Info(App);
  const TConvertCommand Convert(App);
  const TShrinkCommand Shrink(App);

  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError& E) {
    const int Code = App.exit(E, Out, Err);
    return Code == 0 ? 0 : ExitUsage;
  }

  LibraryOptions.Apply();
  const TWarningHandlerScope Warnings(MakeWarningHandler(Err, Strict));
  try {
    if (Info.Subcommand()->parsed()) return Info.Run(Out, Err);
    if (Convert.Subcommand()->parsed()) return Convert.Run(Out, Err);
    if (Shrink.Subcommand()->parsed()) return Shrink.Run(Out, Err);
  } catch (const std::exception& E) {
    Err << "korvala-cli: " << E.what() << '\n';
    return 1;
  }
  return ExitUsage;  // require_subcommand makes this unreachable
}

}  // namespace kv
