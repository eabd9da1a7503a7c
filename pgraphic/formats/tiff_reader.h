#pragma once
// Baseline TIFF files (tif, tiff): the first image of a file, uncompressed or PackBits,
// in either byte order; bilevel, 4- and 8-bit grey or palette, RGB (with or without a
// fourth sample) and CMYK.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TTIFFileFormatReader : public TFileFormatReader {
public:
  explicit TTIFFileFormatReader(std::string Extension = "tif")
      : TFileFormatReader(std::move(Extension), "Tagged Image File Format", true) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

class TTIFFFileFormatReader : public TTIFFileFormatReader {
public:
  TTIFFFileFormatReader() : TTIFFileFormatReader("tiff") {}
};

}  // namespace pg
