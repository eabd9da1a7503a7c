#pragma once
// Base classes of the format readers and writers, and the colour resolutions a writer
// may accept.

#include <array>
#include <cstdint>
#include <string>

#include "pgraphic/pixel_graphic.h"
#include "pgraphic/stream.h"

namespace pg {

enum TColorResolution : std::uint8_t {
  crBlackWhite, cr2Colors, cr16Grays, cr16SysColors, cr16Colors, cr256Grays, cr256Colors, crTrueColor
};

// A set of colour resolutions: bit n stands for resolution n.
using TColorResolutions = std::uint8_t;
constexpr TColorResolutions AllColorResolutions = 0xFF;
constexpr bool Contains(TColorResolutions Set, TColorResolution R) { return (Set >> R) & 1; }

std::string ColorResolutionName(TColorResolution R);  // catalogue texts 8..15
TColorResolution ColorResolutionOf(const TPixelGraphic& Graphic);  // after UpdatePaletteInfo

// What a reader tells about a file without reading its pixels.
struct TPGImageInfo {
  std::string FormatName, SubFormat, Details;
  int Width = 0, Height = 0;
  std::string Colors;  // short text such as "256" or "16.7M"
  int BitCount = 0, ImageCount = 0;
};

inline constexpr std::size_t SignatureSize = 17;
using TSignatureHeader = std::array<std::uint8_t, SignatureSize>;

class TFileFormatReaderWriter {
public:
  TFileFormatReaderWriter(std::string Extension, std::string FormatName, bool ShowInFilter = true)
      : Extension(std::move(Extension)), FormatName(std::move(FormatName)), ShowInFilter(ShowInFilter) {}
  virtual ~TFileFormatReaderWriter() = default;

  const std::string Extension;   // lower case, without the dot
  const std::string FormatName;
  const bool ShowInFilter;
};

// Readers are shared by every image and every thread: they hold no per-call state.
class TFileFormatReader : public TFileFormatReaderWriter {
public:
  TFileFormatReader(std::string Extension, std::string FormatName, bool HasSignature)
      : TFileFormatReaderWriter(std::move(Extension), std::move(FormatName)), HasSignature(HasSignature) {}

  const bool HasSignature;  // recognises its files from their first 17 bytes

  // Header holds the first 17 bytes of the data (zero past its end).
  virtual bool IsSignature(const TSignatureHeader& Header) const;
  // Stream stands at the start of the data; Graphic is empty and inside an update bracket.
  virtual void ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const;
  // Overwrites every field of Info but FormatName; the caller restores the position.
  virtual void GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const;
};

class TFileFormatWriter : public TFileFormatReaderWriter {
public:
  TFileFormatWriter(std::string Extension, std::string FormatName, bool ShowInFilter,
                    TColorResolutions CanWriteResolutions, bool MultiImage = false)
      : TFileFormatReaderWriter(std::move(Extension), std::move(FormatName), ShowInFilter),
        CanWriteResolutions(CanWriteResolutions), MultiImage(MultiImage) {}

  const TColorResolutions CanWriteResolutions;
  const bool MultiImage;  // the format can hold several images in one file

  // Graphic's colour resolution is one of CanWriteResolutions.
  virtual void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic);
  virtual void BeginMultiImage(TStream& Stream);
  virtual void WriteMultiImage(TStream& Stream, TPixelGraphic& Graphic);
  virtual void EndMultiImage(TStream& Stream);
};

}  // namespace pg
