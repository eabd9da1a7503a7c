#pragma once
// Truevision Targa files (tga): reading 8-bit colour-mapped or grey, 16-, 24- and
// 32-bit pixels, uncompressed or run-length encoded, in all four pixel orders; writing
// uncompressed 8-bit colour-mapped and 24-bit files. The files have no signature: the
// reader is chosen by the extension alone.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TTGAFileFormatReader : public TFileFormatReader {
public:
  TTGAFileFormatReader() : TFileFormatReader("tga", "Truevision Targa", false) {}
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

class TTGAFileFormatWriter : public TFileFormatWriter {
public:
  TTGAFileFormatWriter()
      : TFileFormatWriter("tga", "Truevision Targa", true,
                          static_cast<TColorResolutions>(1u << cr256Colors | 1u << crTrueColor)) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;
};

}  // namespace pg
