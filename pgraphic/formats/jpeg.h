#pragma once
// JPEG files (jpg, jpeg, jif) through libjpeg: reading baseline and progressive files
// with one or three components, writing JFIF files in grey or true colour.

#include "pgraphic/formats/file_format.h"

namespace pg {

inline constexpr const char* JPEGFormatName = "JPEG (JFIF compliant)";

class TJPGFileFormatReader : public TFileFormatReader {
public:
  explicit TJPGFileFormatReader(std::string Extension = "jpg") : TFileFormatReader(std::move(Extension), JPEGFormatName, true) {}
  bool IsSignature(const TSignatureHeader& Header) const override;
  void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const override;
  void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const override;
};

class TJPEGFileFormatReader : public TJPGFileFormatReader {
public:
  TJPEGFileFormatReader() : TJPGFileFormatReader("jpeg") {}
};

class TJIFFileFormatReader : public TJPGFileFormatReader {
public:
  TJIFFileFormatReader() : TJPGFileFormatReader("jif") {}
};

class TJPGFileFormatWriter : public TFileFormatWriter {
public:
  TJPGFileFormatWriter(std::string Extension = "jpg", bool ShowInFilter = true)
      : TFileFormatWriter(std::move(Extension), JPEGFormatName, ShowInFilter,
                          (1u << cr256Grays) | (1u << crTrueColor)) {}
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;
};

class TJPEGFileFormatWriter : public TJPGFileFormatWriter {
public:
  TJPEGFileFormatWriter() : TJPGFileFormatWriter("jpeg", false) {}
};

class TJIFFileFormatWriter : public TJPGFileFormatWriter {
public:
  TJIFFileFormatWriter() : TJPGFileFormatWriter("jif", false) {}
};

}  // namespace pg
