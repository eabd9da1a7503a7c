// Loading and saving of TPixelGraphic through the format registry.

#include <cmath>
#include <filesystem>
#include <random>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/color_res_negotiation.h"
#include "pgraphic/formats/registry.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace fs = std::filesystem;

void CorrectGammaOnLoad(TPixelGraphic& G) {
  const long double Exponent = G.GetGamma() / DefaultGamma;
  if (!GammaCorrectOnLoad || std::fabs(Exponent - 1) <= 0.05L) return;
  std::uint8_t T[256];
  for (int i = 0; i < 256; ++i)
    T[i] = static_cast<std::uint8_t>(std::nearbyint(static_cast<double>(PGPower(i / 255.0L, Exponent) * 255)));
  if (G.GetBitCountNum() < 3) {
    for (int i = 0; i < G.PaletteCount(); ++i) {
      const TRGB C = G.GetPaletteEntry(i);
      G.SetPaletteEntry(i, RGBColor(T[RedOf(C)], T[GreenOf(C)], T[BlueOf(C)]));
    }
  } else if (G.GetWidth() > 0) {
    const std::size_t RowBytes = 3 * static_cast<std::size_t>(G.GetWidth());
    for (int y = 0; y < G.GetHeight(); ++y) {
      std::uint8_t* P = G.GetScanLine(y);
      for (std::size_t i = 0; i < RowBytes; ++i) P[i] = T[P[i]];
    }
  }
  G.SetGamma(DefaultGamma);
}

namespace {

std::string TemporaryNameBeside(const fs::path& Target) {
  static thread_local std::mt19937 Rng{std::random_device{}()};
  std::string Name = ".";  // appended piece by piece: GCC 12 misreports "literal" + string
  Name.append(Target.filename().string()).append(".kvt").append(std::to_string(Rng() % 1000000000u));
  return (Target.parent_path() / Name).string();
}

std::string WithFileName(std::string Message, const std::string& TempName, const std::string& FileName) {
  const auto At = TempName.empty() ? std::string::npos : Message.find(TempName);
  if (At != std::string::npos) Message.replace(At, TempName.size(), FileName);
  return Message;
}

}  // namespace

void TPixelGraphic::LoadFromFileIndex(const std::string& FileName, int Index) {
  TFileStream Stream(FileName, TFileStream::TMode::Read);
  LoadFromStreamIndex(Stream, ExtractExtension(FileName), Index);
}

void TPixelGraphic::LoadFromStreamIndex(TStream& Stream, const std::string& Extension, int Index) {
  Flush();
  BeginUpdate();
  try {
    SetFormat(0, 0, 3);
    FGamma = DefaultGamma;
    const TFileFormatReader* Reader = FindReader(Stream, Extension);
    if (!Reader) throw EPGUnknownFileFormat(PGLangStr(6));
    Reader->ReadGraphic(Stream, *this, Index);
    CorrectGammaOnLoad(*this);
    UpdatePaletteInfo();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TPixelGraphic::SaveToFile(const std::string& FileName) {
  fs::path Target(FileName);
  std::string TempName;
  std::unique_ptr<TFileStream> Stream;
  try {
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(Target)) Target = fs::canonical(Target);
    const bool Existed = fs::exists(Target);
    for (int Attempt = 0; !Stream; ++Attempt) {
      TempName = TemporaryNameBeside(Target);
      try {
        Stream = std::make_unique<TFileStream>(TempName, TFileStream::TMode::CreateNew);
      } catch (const EPGStreamError&) {
        if (Attempt >= 100 || !fs::exists(TempName)) throw;
      }
    }
    SaveToStreamExt(*Stream, ExtractExtension(FileName));
    Stream->Close();
    if (Existed) fs::permissions(TempName, fs::status(Target).permissions());
    fs::rename(TempName, Target);
  } catch (...) {
    Stream.reset();
    std::error_code Ignored;
    if (!TempName.empty()) fs::remove(TempName, Ignored);
    // Report file-system failures against the file the user named, not the temporary.
    try {
      throw;
    } catch (const EPGStreamError& E) {
      throw EPGStreamError(WithFileName(E.what(), TempName, FileName));
    } catch (const fs::filesystem_error& E) {
      throw EPGStreamError("Cannot write \"" + FileName + "\": " + E.code().message());
    }
  }
}

void TPixelGraphic::SaveToStreamExt(TStream& Stream, const std::string& Extension) {
  Flush();
  if (FileFormatWriters().empty()) throw EPGFileFormatWritersEmpty(PGLangStrS1(16, "FileFormatWriters"));
  TFileFormatWriter* Writer = FindWriter(Extension);
  if (!Writer) throw EPGUnknownExtension(PGLangStrS1(19, LowerCase(Extension)));
  WriteWithColorResolution(Stream, *Writer, *this);
}

void TPixelGraphic::SaveToStream(TStream& Stream) {
  Flush();
  DefaultBMPWriter().WriteGraphic(Stream, *this);
}

void TPixelGraphic::WriteData(TStream& Stream) {
  Flush();
  const std::int64_t P = Stream.GetPosition();
  std::uint8_t Length[4] = {0, 0, 0, 0};
  Stream.Write(Length, 4);
  DefaultBMPWriter().WriteGraphic(Stream, *this);
  const std::int64_t End = Stream.GetPosition();
  PutLE32(Length, static_cast<std::uint32_t>(End - P - 4));
  Stream.SetPosition(P);
  Stream.Write(Length, 4);
  Stream.SetPosition(End);
}

void TPixelGraphic::ReadData(TStream& Stream) {
  std::uint8_t Length[4];
  Stream.ReadFull(Length, 4);
  const std::int64_t Q = Stream.GetPosition();
  LoadFromStreamExt(Stream, "bmp");
  Stream.SetPosition(Q + GetLE32(Length));
}

}  // namespace pg
