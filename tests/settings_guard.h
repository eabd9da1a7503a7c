#pragma once
// Restores every library-wide setting when a test that changes some of them ends, so
// that tests never leak settings into each other whatever they assert on the way.

#include <tuple>

#include "pgraphic/settings.h"

namespace kvtest {

inline auto LibrarySettings() {
  using namespace pg;
  return std::tie(DefaultGamma, GammaCorrectOnLoad, Expand16BitChannels, JPEGDecompMethod, JPEGCompMethod,
                  JPEGCompQuality, JPEGCompProgressive, PNGWriteGamma, PNGUseFileBackground, PXMWriteBinary,
                  TIFFWriteCompression, TIFFWriteTrueColorPhotInterpret, TIFFWriteGrayScalePhotInterpret,
                  TIFFWriteByteOrder, TIFFWriteResolutionUnit, TIFFWriteXResolutionNumerator,
                  TIFFWriteXResolutionDenominator, TIFFWriteYResolutionNumerator, TIFFWriteYResolutionDenominator);
}

template <typename... T>
std::tuple<T...> CopyOf(const std::tuple<T&...>& References) {
  return References;
}

class TSettingsGuard {
public:
  TSettingsGuard() = default;
  ~TSettingsGuard() { LibrarySettings() = FSaved; }
  TSettingsGuard(const TSettingsGuard&) = delete;
  TSettingsGuard& operator=(const TSettingsGuard&) = delete;

private:
  decltype(CopyOf(LibrarySettings())) FSaved = CopyOf(LibrarySettings());
};

}  // namespace kvtest
