#include "cli/info_command.h"

#include <exception>

#include <CLI/CLI.hpp>

#include "pgraphic/formats/registry.h"

namespace kv {

namespace {

// The info query only answers yes or no. When it says no, loading the file either
// yields the library's reason or, if the image loads after all, describes the loaded
// image (sub-format and details are then unknown).
bool ReadInfo(const std::string& File, pg::TPGImageInfo& Info, std::string& Error) {
  if (pg::GetFileImageInfo(File, 0, Info)) return true;
  try {
    pg::TPixelGraphic G;
    G.LoadFromFile(File);
    Info = pg::TPGImageInfo{};
    pg::TFileStream Stream(File, pg::TFileStream::TMode::Read);
    if (const pg::TFileFormatReader* Reader = pg::FindReader(Stream, pg::ExtractExtension(File)))
      Info.FormatName = Reader->FormatName;
    Info.Width = G.GetWidth();
    Info.Height = G.GetHeight();
    Info.BitCount = G.GetBitCount();
    Info.Colors = Info.BitCount == 24 ? "16.7M" : std::to_string(G.MaxPaletteCount());
    Info.ImageCount = 1;
    return true;
  } catch (const std::exception& E) {
    Error = E.what();
    return false;
  }
}

}  // namespace

std::string FormatImageInfo(const pg::TPGImageInfo& Info) {
  std::string S;
  const auto Field = [&S](const std::string& Text) {
    if (Text.empty()) return;
    if (!S.empty()) S += ", ";
    S += Text;
  };
  Field(Info.FormatName);
  Field(Info.SubFormat);
  Field(Info.Details);
  Field(std::to_string(Info.Width) + " x " + std::to_string(Info.Height));
  if (!Info.Colors.empty()) Field(Info.Colors + " colours");
  if (Info.BitCount > 0) Field(std::to_string(Info.BitCount) + " bit");
  Field(std::to_string(Info.ImageCount) + (Info.ImageCount == 1 ? " image" : " images"));
  return S;
}

TInfoCommand::TInfoCommand(CLI::App& Parent) {
  FSub = Parent.add_subcommand("info", "Describe image files without loading their pixels");
  FSub->add_option("FILE", FFiles, "Image files")->required();
}

int TInfoCommand::Run(std::ostream& Out, std::ostream& Err) const {
  int Status = 0;
  for (const std::string& File : FFiles) {
    pg::TPGImageInfo Info;
    std::string Error;
    if (ReadInfo(File, Info, Error)) {
      Out << File << ": " << FormatImageInfo(Info) << '\n';
    } else {
      Err << File << ": " << Error << '\n';
      Status = 1;
    }
  }
  return Status;
}

}  // namespace kv
