#pragma once
// Baseline TIFF files, uncompressed or PackBits, in the byte order, photometric
// interpretation and resolution of the TIFFWrite* settings; several images may share
// one file (one directory per image, chained).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pgraphic/formats/file_format.h"

namespace pg {

// Appends the PackBits codes of one row of Count bytes to Out. Runs is scratch space
// (one byte per row byte), kept by the caller so that rows do not allocate.
void PackBitsEncodeRow(const std::uint8_t* Row, std::size_t Count, std::vector<std::uint8_t>& Runs,
                       std::vector<std::uint8_t>& Out);
std::vector<std::uint8_t> PackBitsEncodeRow(const std::vector<std::uint8_t>& Row);

// The state of one file being written: where it starts (every offset in the file is
// relative to that) and where the offset of the next directory belongs.
class TTiffDirectoryWriter {
public:
  // Writes the header. Refuses settings it cannot write before writing anything.
  void Begin(TStream& Stream);
  // Appends one image: its directory, linked from the previous one, and its strips.
  // Refuses an empty image or bad settings before writing anything.
  void WriteImage(TStream& Stream, TPixelGraphic& Graphic);
  void End() { FPendingLink = -1; }

private:
  std::int64_t FBase = 0;
  std::int64_t FPendingLink = -1;  // stream position; -1 outside Begin .. End
  bool FBigEndian = false;         // chosen by Begin, kept for every image of the file
};

class TTIFFileFormatWriter : public TFileFormatWriter {
public:
  TTIFFileFormatWriter(std::string Extension = "tif", bool ShowInFilter = true);

  // Safe on an object shared by several threads: the file's state lives on the stack.
  void WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) override;

  // Several images in one file. The file's state lives in this object between
  // BeginMultiImage and EndMultiImage, so these are for a writer object the caller
  // owns, never for the shared instances of the registry.
  void BeginMultiImage(TStream& Stream) override;
  void WriteMultiImage(TStream& Stream, TPixelGraphic& Graphic) override;  // after BeginMultiImage
  void EndMultiImage(TStream& Stream) override;

private:
  TTiffDirectoryWriter FMulti;
};

class TTIFFFileFormatWriter : public TTIFFileFormatWriter {
public:
  TTIFFFileFormatWriter() : TTIFFileFormatWriter("tiff", false) {}
};

}  // namespace pg
