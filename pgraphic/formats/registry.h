#pragma once
// The registry of readers and writers, and the unit-level load/save helpers that use it.

#include <memory>
#include <string>
#include <vector>

#include "pgraphic/formats/file_format.h"

namespace pg {

using TFileFormatReaders = std::vector<std::unique_ptr<TFileFormatReader>>;
using TFileFormatWriters = std::vector<std::unique_ptr<TFileFormatWriter>>;

// The lists are built and sorted by extension once, on first use; the sorted order
// decides which reader wins.
const TFileFormatReaders& FileFormatReaders();
const TFileFormatWriters& FileFormatWriters();

// Used where a stream must be BMP whatever its name.
const TFileFormatReader& DefaultBMPReader();
TFileFormatWriter& DefaultBMPWriter();

// The first reader with a signature that recognises the data, else (for a non-empty
// Extension) the first reader without signature for that extension; nullptr if none.
const TFileFormatReader* FindReader(TStream& Stream, std::string Extension);
TFileFormatWriter* FindWriter(const std::string& Extension);

bool GetStreamImageInfo(TStream& Stream, const std::string& Extension, int Index, TPGImageInfo& Info);
bool GetFileImageInfo(const std::string& FileName, int Index, TPGImageInfo& Info);

// Re-maps the colours of a just-read image whose Gamma differs by more than 5 % from
// DefaultGamma (when GammaCorrectOnLoad is set); the image then has DefaultGamma.
void CorrectGammaOnLoad(TPixelGraphic& Graphic);

// The extension of a file name, lower case, without the dot; empty when there is none.
std::string ExtractExtension(const std::string& FileName);
std::string LowerCase(std::string S);

}  // namespace pg
