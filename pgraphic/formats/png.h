#pragma once
// Portable Network Graphics: every colour type and bit depth is read into a 1-, 4-, 8-
// or 24-bit image (transparency composed onto a background colour); images are written
// as non-interlaced palette, grey or RGB files. Coding is done by libpng.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TPNGFileFormatReader : public TFileFormatReader {
public:
  TPNGFileFormatReader() : TFileFormatReader("png", "Portable Network Graphics", true) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

class TPNGFileFormatWriter : public TFileFormatWriter {
public:
  TPNGFileFormatWriter() : TFileFormatWriter("png", "Portable Network Graphics", true, AllColorResolutions) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;
};

}  // namespace pg
