#pragma once
// PC Paintbrush files (pcx), read only: run-length coded 1-bit, 4-plane 16-colour,
// 8-bit 256-colour and 3-plane true-colour images.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TPCXFileFormatReader : public TFileFormatReader {
public:
  TPCXFileFormatReader() : TFileFormatReader("pcx", "Paintbrush", true) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

}  // namespace pg
