#pragma once
// The portable bitmap family: PBM (black and white), PGM (grey) and PPM (true colour),
// each in ASCII (P1, P2, P3) or binary (P4, P5, P6) form. Any of the three readers reads
// all six types; the writers write their own format, in ASCII or binary as
// PXMWriteBinary says.

#include "pgraphic/formats/file_format.h"

namespace pg {

class TPxMFileFormatReader : public TFileFormatReader {
public:
  // AsciiType is the reader's ASCII type digit ('1', '2' or '3'); its binary type is
  // three higher. Both are recognised as its signature.
  TPxMFileFormatReader(std::string Extension, std::string FormatName, char AsciiType)
      : TFileFormatReader(std::move(Extension), std::move(FormatName), true), FAsciiType(AsciiType) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;

private:
  const char FAsciiType;
};

class TPBMFileFormatReader : public TPxMFileFormatReader {
public:
  TPBMFileFormatReader() : TPxMFileFormatReader("pbm", "Portable Bitmap", '1') {}
};

class TPGMFileFormatReader : public TPxMFileFormatReader {
public:
  TPGMFileFormatReader() : TPxMFileFormatReader("pgm", "Portable Graymap", '2') {}
};

class TPPMFileFormatReader : public TPxMFileFormatReader {
public:
  TPPMFileFormatReader() : TPxMFileFormatReader("ppm", "Portable Pixelmap", '3') {}
};

// Writes the format its Extension names ("pbm", "pgm" or "ppm").
class TPXMFileFormatWriter : public TFileFormatWriter {
public:
  TPXMFileFormatWriter(std::string Extension, std::string FormatName, TColorResolutions CanWriteResolutions)
      : TFileFormatWriter(std::move(Extension), std::move(FormatName), true, CanWriteResolutions) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;
};

class TPBMFileFormatWriter : public TPXMFileFormatWriter {
public:
  TPBMFileFormatWriter() : TPXMFileFormatWriter("pbm", "Portable Bitmap", 1 << crBlackWhite) {}
};

class TPGMFileFormatWriter : public TPXMFileFormatWriter {
public:
  TPGMFileFormatWriter() : TPXMFileFormatWriter("pgm", "Portable Graymap", 1 << cr256Grays) {}
};

class TPPMFileFormatWriter : public TPXMFileFormatWriter {
public:
  TPPMFileFormatWriter() : TPXMFileFormatWriter("ppm", "Portable Pixelmap", 1 << crTrueColor) {}
};

}  // namespace pg
