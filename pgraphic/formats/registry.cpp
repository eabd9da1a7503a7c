#include "pgraphic/formats/registry.h"

#include <algorithm>
#include <filesystem>

#include "pgraphic/formats/bmp.h"
#include "pgraphic/formats/jpeg.h"
#include "pgraphic/formats/pcx.h"
#include "pgraphic/formats/png.h"
#include "pgraphic/formats/pnm.h"
#include "pgraphic/formats/tga.h"
#include "pgraphic/formats/tiff_reader.h"
#include "pgraphic/formats/tiff_writer.h"

namespace pg {

namespace {

// Characters that end a folder or drive part of a file name.
#ifdef _WIN32
constexpr const char* PathSeparators = ":\\/";
#else
constexpr const char* PathSeparators = "/";
#endif

// One row per reader and writer, in order of registration. Lookups use the lists
// sorted by extension, so that order decides which reader of a shared signature wins.
TFileFormatReaders MakeReaders() {
  TFileFormatReaders R;
  R.push_back(std::make_unique<TBMPFileFormatReader>());
  R.push_back(std::make_unique<TDIBFileFormatReader>());
  R.push_back(std::make_unique<TRLEFileFormatReader>());
  R.push_back(std::make_unique<TJPGFileFormatReader>());
  R.push_back(std::make_unique<TJPEGFileFormatReader>());
  R.push_back(std::make_unique<TJIFFileFormatReader>());
  R.push_back(std::make_unique<TPNGFileFormatReader>());
  R.push_back(std::make_unique<TPCXFileFormatReader>());
  R.push_back(std::make_unique<TPBMFileFormatReader>());
  R.push_back(std::make_unique<TPGMFileFormatReader>());
  R.push_back(std::make_unique<TPPMFileFormatReader>());
  R.push_back(std::make_unique<TTGAFileFormatReader>());
  R.push_back(std::make_unique<TTIFFileFormatReader>());
  R.push_back(std::make_unique<TTIFFFileFormatReader>());
  return R;
}

TFileFormatWriters MakeWriters() {
  TFileFormatWriters W;
  W.push_back(std::make_unique<TBMPFileFormatWriter>());
  W.push_back(std::make_unique<TDIBFileFormatWriter>());
  W.push_back(std::make_unique<TJPGFileFormatWriter>());
  W.push_back(std::make_unique<TJPEGFileFormatWriter>());
  W.push_back(std::make_unique<TJIFFileFormatWriter>());
  W.push_back(std::make_unique<TPNGFileFormatWriter>());
  W.push_back(std::make_unique<TPBMFileFormatWriter>());
  W.push_back(std::make_unique<TPGMFileFormatWriter>());
  W.push_back(std::make_unique<TPPMFileFormatWriter>());
  W.push_back(std::make_unique<TTGAFileFormatWriter>());
  W.push_back(std::make_unique<TTIFFileFormatWriter>());
  W.push_back(std::make_unique<TTIFFFileFormatWriter>());
  return W;
}

template <typename List>
List Sorted(List L) {
  std::stable_sort(L.begin(), L.end(), [](const auto& A, const auto& B) { return LowerCase(A->Extension) < LowerCase(B->Extension); });
  return L;
}

}  // namespace

std::string LowerCase(std::string S) {
  for (char& c : S)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return S;
}

const TFileFormatReaders& FileFormatReaders() {
  static const TFileFormatReaders Readers = Sorted(MakeReaders());
  return Readers;
}

const TFileFormatWriters& FileFormatWriters() {
  static const TFileFormatWriters Writers = Sorted(MakeWriters());
  return Writers;
}

const TFileFormatReader& DefaultBMPReader() {
  static const TBMPFileFormatReader Reader;
  return Reader;
}

TFileFormatWriter& DefaultBMPWriter() {
  static TBMPFileFormatWriter Writer;
  return Writer;
}

const TFileFormatReader* FindReader(TStream& Stream, std::string Extension) {
  if (!Extension.empty() && Extension[0] == '.') Extension.erase(0, 1);
  Extension = LowerCase(Extension);
  try {
    TSignatureHeader Header{};
    const std::int64_t Start = Stream.GetPosition();
    try {
      Stream.Read(Header.data(), Header.size());
    } catch (...) {
      Stream.SetPosition(Start);
      throw;
    }
    Stream.SetPosition(Start);
    for (const auto& R : FileFormatReaders())
      if (R->HasSignature && R->IsSignature(Header)) return R.get();
    if (!Extension.empty())
      for (const auto& R : FileFormatReaders())
        if (!R->HasSignature && LowerCase(R->Extension) == Extension) return R.get();
  } catch (...) {
  }
  return nullptr;
}

TFileFormatWriter* FindWriter(const std::string& Extension) {
  const std::string Ext = LowerCase(Extension);
  for (const auto& W : FileFormatWriters())
    if (LowerCase(W->Extension) == Ext) return W.get();
  return nullptr;
}

bool GetStreamImageInfo(TStream& Stream, const std::string& Extension, int Index, TPGImageInfo& Info) {
  Info = TPGImageInfo{};
  try {
    const TFileFormatReader* Reader = FindReader(Stream, Extension);
    if (!Reader) return false;
    Info.FormatName = Reader->FormatName;
    const std::int64_t Start = Stream.GetPosition();
    try {
      Reader->GetInfo(Stream, Index, Info);
    } catch (...) {
      Stream.SetPosition(Start);
      throw;
    }
    Stream.SetPosition(Start);
    return true;
  } catch (...) {
    return false;
  }
}

bool GetFileImageInfo(const std::string& FileName, int Index, TPGImageInfo& Info) {
  Info = TPGImageInfo{};
  try {
    const auto NamePart = FileName.substr(FileName.find_last_of(PathSeparators) + 1);
    if (NamePart.empty() || !std::filesystem::is_regular_file(FileName)) return false;
    TFileStream Stream(FileName, TFileStream::TMode::Read);
    return GetStreamImageInfo(Stream, ExtractExtension(FileName), Index, Info);
  } catch (...) {
    return false;
  }
}

std::string ExtractExtension(const std::string& FileName) {
  const auto Dot = FileName.find_last_of('.');
  if (Dot == std::string::npos) return {};
  if (FileName.find_first_of(PathSeparators, Dot) != std::string::npos) return {};
  return LowerCase(FileName.substr(Dot + 1));
}

}  // namespace pg
