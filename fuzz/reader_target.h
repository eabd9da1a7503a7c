#pragma once
// Shared body of the reader fuzz targets: load the data as a file of the given
// extension and ask for its info. The library may only answer with its own exceptions;
// anything else (a crash, another exception, a sanitizer report) is a finding.

#include <cstddef>
#include <cstdint>

#include "pgraphic/exceptions.h"
#include "pgraphic/formats/registry.h"

namespace kvfuzz {

inline int FuzzReader(const std::uint8_t* Data, std::size_t Size, const char* Extension) {
  pg::SetPGWarningBoxHandler(nullptr);
  try {
    pg::TMemoryStream Stream(Data, Size);
    pg::TPGImageInfo Info;
    pg::GetStreamImageInfo(Stream, Extension, 0, Info);
    pg::TPixelGraphic Graphic;
    Graphic.SetReadWarningAction(pg::pgwaIgnore);
    Graphic.LoadFromStreamExt(Stream, Extension);
    // Touch both ends of every row so that a wrong size or stride shows up under the
    // sanitizers.
    for (int y = 0; !Graphic.GetEmpty() && y < Graphic.GetHeight(); ++y) {
      (void)Graphic.GetPixelColor(0, y);
      (void)Graphic.GetPixelColor(Graphic.GetWidth() - 1, y);
    }
  } catch (const pg::EPixelGraphic&) {
  }
  return 0;
}

}  // namespace kvfuzz
