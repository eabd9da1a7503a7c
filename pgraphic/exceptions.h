#pragma once
// The library's exception family. Every error carries a catalogue text in the current
// language; callers that only need "this failed" catch EPixelGraphic.

#include <stdexcept>
#include <string>

namespace pg {

class EPixelGraphic : public std::runtime_error {
public:
  explicit EPixelGraphic(const std::string& Message) : std::runtime_error(Message) {}
};

#define PG_DECLARE_EXCEPTION(Name, Base)                                   \
  class Name : public Base {                                               \
  public:                                                                  \
    explicit Name(const std::string& Message) : Base(Message) {}           \
  };

PG_DECLARE_EXCEPTION(EPGXYIndexOutOfRange, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGNoPalette, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGInvalidPaletteIndex, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGEmpty, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGCanWriteResolutionsEmpty, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGCannotWriteColorRes, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGFileFormatWritersEmpty, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGUnknownExtension, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGUnknownFileFormat, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGUnknownClipboardFormat, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGBMPFileFormatReader, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGJPGFileFormatReaderWriter, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGPNGFileFormatReaderWriter, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGPCXFileFormatReader, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGPxMFileFormatReader, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGPxMFileFormatWriter, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGTGAFileFormatReader, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGTIFFileFormatReader, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGTIFFileFormatWriter, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGInvalidBitCountNum, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGInvalidSize, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGFilter, EPixelGraphic)
PG_DECLARE_EXCEPTION(EPGConvFilter, EPGFilter)

#undef PG_DECLARE_EXCEPTION

}  // namespace pg
