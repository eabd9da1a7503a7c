#pragma once
// Numbers of the TIFF format shared by its reader and writer.

#include <cstdint>

namespace pg::tiff {

enum TTag : std::uint16_t {
  NewSubfileType = 254,
  ImageWidth = 256,
  ImageLength = 257,
  BitsPerSample = 258,
  Compression = 259,
  PhotometricInterpretation = 262,
  StripOffsets = 273,
  SamplesPerPixel = 277,
  RowsPerStrip = 278,
  StripByteCounts = 279,
  XResolution = 282,
  YResolution = 283,
  PlanarConfiguration = 284,
  ResolutionUnit = 296,
  ColorMap = 320,
};

enum TFieldType : std::uint16_t { ftByte = 1, ftAscii = 2, ftShort = 3, ftLong = 4, ftRational = 5 };

enum TCompression : std::uint32_t {
  cNone = 1, cCCITT1D = 2, cGroup3Fax = 3, cGroup4Fax = 4, cLZW = 5, cJPEG = 6, cPackBits = 32773
};

enum TPhotometric : std::uint32_t { phWhiteIsZero = 0, phBlackIsZero = 1, phRGB = 2, phPalette = 3, phCMYK = 5 };

constexpr std::uint16_t Magic = 42;
constexpr int HeaderSize = 8;
constexpr int EntrySize = 12;

}  // namespace pg::tiff
