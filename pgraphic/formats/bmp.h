#pragma once
// Windows and OS/2 bitmap files (bmp, dib, rle): reading all depths, bit fields and
// run-length data; writing uncompressed Windows bitmaps.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TBMPFileFormatReader : public TFileFormatReader {
public:
  explicit TBMPFileFormatReader(std::string Extension = "bmp") : TFileFormatReader(std::move(Extension), "Bitmap", true) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

class TDIBFileFormatReader : public TBMPFileFormatReader {
public:
  TDIBFileFormatReader() : TBMPFileFormatReader("dib") {}
};

class TRLEFileFormatReader : public TBMPFileFormatReader {
public:
  TRLEFileFormatReader() : TBMPFileFormatReader("rle") {}
};

class TBMPFileFormatWriter : public TFileFormatWriter {
public:
  TBMPFileFormatWriter(std::string Extension = "bmp", bool ShowInFilter = true)
      : TFileFormatWriter(std::move(Extension), "Bitmap", ShowInFilter, AllColorResolutions) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;
};

class TDIBFileFormatWriter : public TBMPFileFormatWriter {
public:
  TDIBFileFormatWriter() : TBMPFileFormatWriter("dib", false) {}
};

}  // namespace pg
