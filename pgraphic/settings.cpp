#include "pgraphic/settings.h"

namespace pg {

// Constant-initialised, so the defaults hold before any other code of the program runs.
long double DefaultGamma = 1.8L;
bool GammaCorrectOnLoad = true;
bool Expand16BitChannels = true;
std::uint8_t JPEGDecompMethod = 0;
std::uint8_t JPEGCompMethod = 2;
std::uint8_t JPEGCompQuality = 80;
bool JPEGCompProgressive = false;
bool PNGWriteGamma = true;
bool PNGUseFileBackground = true;
bool PXMWriteBinary = false;
int TIFFWriteCompression = 1;
std::uint8_t TIFFWriteTrueColorPhotInterpret = 0;
std::uint8_t TIFFWriteGrayScalePhotInterpret = 0;
std::uint8_t TIFFWriteByteOrder = 0;
std::uint8_t TIFFWriteResolutionUnit = 1;
int TIFFWriteXResolutionNumerator = 300;
int TIFFWriteXResolutionDenominator = 1;
int TIFFWriteYResolutionNumerator = 300;
int TIFFWriteYResolutionDenominator = 1;

}  // namespace pg
