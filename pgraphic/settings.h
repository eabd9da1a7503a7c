#pragma once
// Library-wide settings with their start-up defaults. The front ends set them before
// work starts; they are read-only while images are processed. The names in quotes are
// the names under which the settings store keeps them.

#include <cstdint>

namespace pg {

extern long double DefaultGamma;        // "ScreenGamma": gamma assumed for pixel data, 1.8
extern bool GammaCorrectOnLoad;         // "GammaCorrectionOnRead": re-map files of another gamma
extern bool Expand16BitChannels;        // 5/6-bit BMP channels fill the low bits too

extern std::uint8_t JPEGDecompMethod;   // "JPEGDecompMethod": 0 slow integer, 1 fast integer, 2 float
extern std::uint8_t JPEGCompMethod;     // "JPEGCompMethod": same coding, 2
extern std::uint8_t JPEGCompQuality;    // "JPEGCompQuality": 0..100, 80
extern bool JPEGCompProgressive;        // "JPEGCompProgressive": false

extern bool PNGWriteGamma;              // "WriteGamma": write a gAMA chunk, true
extern bool PNGUseFileBackground;       // compose transparency on the file's bKGD, true

extern bool PXMWriteBinary;             // "PXMWriteBinary": raw rather than ASCII, false

extern int TIFFWriteCompression;                     // 1 none, 32773 PackBits
extern std::uint8_t TIFFWriteTrueColorPhotInterpret; // 0 RGB, 1 CMYK
extern std::uint8_t TIFFWriteGrayScalePhotInterpret; // 0 BlackIsZero, 1 WhiteIsZero
extern std::uint8_t TIFFWriteByteOrder;              // 0 "II", 1 "MM"
extern std::uint8_t TIFFWriteResolutionUnit;         // 0 none, 1 inch, 2 centimetre
extern int TIFFWriteXResolutionNumerator;
extern int TIFFWriteXResolutionDenominator;
extern int TIFFWriteYResolutionNumerator;
extern int TIFFWriteYResolutionDenominator;

}  // namespace pg
