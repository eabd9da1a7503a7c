#include "cli/convert_command.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include <CLI/CLI.hpp>

#include "pgraphic/pixel_graphic.h"

namespace kv {

TConvertCommand::TConvertCommand(CLI::App& Parent) {
  FSub = Parent.add_subcommand("convert", "Load IN and save it as OUT; the extension of OUT chooses the format");
  FSub->add_option("IN", FIn, "Image file to read")->required();
  FSub->add_option("OUT", FOut, "File to write; never the input file itself")->required();
}

int TConvertCommand::Run(std::ostream&, std::ostream& Err) const {
  // Saving replaces the target, so an output that is the input (by name, link or
  // symbolic link) would lose the original if anything went wrong after the load.
  std::error_code Ec;
  if (std::filesystem::equivalent(FIn, FOut, Ec)) {
    Err << FOut << ": refusing to write over the input file " << FIn << '\n';
    return 1;
  }

  pg::TPixelGraphic G;
  try {
    G.LoadFromFile(FIn);
  } catch (const std::exception& E) {
    Err << FIn << ": " << E.what() << '\n';
    return 1;
  }
  try {
    G.SaveToFile(FOut);
  } catch (const std::exception& E) {
    Err << FOut << ": " << E.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace kv
