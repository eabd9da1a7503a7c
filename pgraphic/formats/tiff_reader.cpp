#include "pgraphic/formats/tiff_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/buffered_io.h"
#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/formats/tiff_common.h"
#include "pgraphic/lang_str.h"

namespace pg {

namespace {

constexpr const char* StripCountText = "NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip";
constexpr std::size_t PackBitsCacheSize = 4096;

[[noreturn]] void Fail(const std::string& Text) { throw EPGTIFFileFormatReader("TIFF: " + Text); }
[[noreturn]] void FailEnd() { Fail(PGLangStr(32)); }
[[noreturn]] void FailRow(std::uint32_t Row) {
  throw EPGTIFFileFormatReader("TIFF (PackBits): Invalid count of bytes in row " + std::to_string(Row));
}

struct TEntry {
  std::uint16_t Tag, Type;
  std::uint32_t Count;
  std::uint8_t Value[4];
};

// The stream seen from the base (where the file starts), in the file's byte order.
// Every offset of the file counts from the base; the data ends with the stream.
class TTiffFile {
public:
  explicit TTiffFile(TStream& S) : Stream(S), Base(S.GetPosition()), End(S.GetSize()) {}

  std::uint16_t U16(const std::uint8_t* P) const { return BigEndian ? GetBE16(P) : GetLE16(P); }
  std::uint32_t U32(const std::uint8_t* P) const { return BigEndian ? GetBE32(P) : GetLE32(P); }

  // Bytes from Offset to the end of the data; negative when Offset lies past it.
  std::int64_t Left(std::uint32_t Offset) const { return End - (Base + Offset); }
  std::int64_t DataSize() const { return std::max<std::int64_t>(End - Base, 0); }
  void Seek(std::uint32_t Offset) {
    if (Left(Offset) < 0) FailEnd();
    Stream.SetPosition(Base + Offset);
  }
  void Read(void* Buffer, std::size_t Count) {
    if (Count == 0) return;  // an empty vector's buffer may be null
    if (!Stream.ReadFull(Buffer, Count)) FailEnd();
  }

  TStream& Stream;
  const std::int64_t Base, End;
  bool BigEndian = false;
};

struct TDirectory {
  std::uint32_t Width = 0, Height = 0, Compression = 0, Photometric = 0, SamplesPerPixel = 0, RowsPerStrip = 0;
  std::vector<std::uint32_t> BitsPerSample, StripOffsets, ColorMap;

  int BitsPerPixel() const {
    int Sum = 0;
    for (const std::uint32_t B : BitsPerSample) Sum += static_cast<int>(B);  // checked to be 1, 4 or 8
    return Sum;
  }
};

// Tag access; when a tag occurs more than once the last entry counts.
class TTags {
public:
  TTags(TTiffFile& File, std::vector<TEntry> Entries) : F(File), E(std::move(Entries)) {}

  bool Has(std::uint16_t Tag) const { return Find(Tag) != nullptr; }

  std::uint32_t Single(std::uint16_t Tag) const {
    const TEntry* e = Find(Tag);
    if (!e) return 0;
    switch (FieldSize(*e)) {
      case 1: return e->Value[0];
      case 2: return F.U16(e->Value);
      default: return F.U32(e->Value);
    }
  }

  // The count comes from the file: nothing is allocated beyond what the file holds.
  std::vector<std::uint32_t> Array(std::uint16_t Tag) const {
    const TEntry* e = Find(Tag);
    if (!e || e->Count == 0) return {};
    const int Size = FieldSize(*e);
    const std::uint64_t Bytes = static_cast<std::uint64_t>(e->Count) * static_cast<std::uint64_t>(Size);
    std::vector<std::uint8_t> Raw;
    const std::uint8_t* P = e->Value;
    if (Bytes > 4) {
      const std::uint32_t Offset = F.U32(e->Value);
      if (F.Left(Offset) < 0 || Bytes > static_cast<std::uint64_t>(F.Left(Offset))) FailEnd();
      Raw.resize(static_cast<std::size_t>(Bytes));
      F.Seek(Offset);
      F.Read(Raw.data(), Raw.size());
      P = Raw.data();
    }
    std::vector<std::uint32_t> Values(e->Count);
    for (std::size_t i = 0; i < Values.size(); ++i, P += Size)
      Values[i] = Size == 1 ? *P : Size == 2 ? F.U16(P) : F.U32(P);
    return Values;
  }

private:
  const TEntry* Find(std::uint16_t Tag) const {
    for (auto It = E.rbegin(); It != E.rend(); ++It)
      if (It->Tag == Tag) return &*It;
    return nullptr;
  }

  static int FieldSize(const TEntry& e) {
    switch (e.Type) {
      case tiff::ftByte: return 1;
      case tiff::ftShort: return 2;
      case tiff::ftLong: return 4;
      default: Fail("Unsupported field Type: " + std::to_string(e.Type));
    }
  }

  TTiffFile& F;
  std::vector<TEntry> E;
};

bool LayoutAccepted(const TDirectory& D) {
  const auto AllEight = [&] {
    return std::all_of(D.BitsPerSample.begin(), D.BitsPerSample.end(), [](std::uint32_t B) { return B == 8; });
  };
  const std::uint32_t Ph = D.Photometric;
  switch (D.SamplesPerPixel) {
    case 1: {
      const std::uint32_t B = D.BitsPerSample[0];
      return (B == 1 || B == 4 || B == 8) && (Ph == tiff::phWhiteIsZero || Ph == tiff::phBlackIsZero || Ph == tiff::phPalette);
    }
    case 3: return AllEight() && Ph == tiff::phRGB;
    default: return AllEight() && (Ph == tiff::phRGB || Ph == tiff::phCMYK);
  }
}

// Reads the header and the first directory; Index must be 0.
TDirectory ParseDirectory(TTiffFile& F, int Index) {
  std::uint8_t H[tiff::HeaderSize];
  const bool Complete = F.Stream.ReadFull(H, sizeof H);
  if (H[0] == 'I' && H[1] == 'I') F.BigEndian = false;
  else if (H[0] == 'M' && H[1] == 'M') F.BigEndian = true;
  else Fail("Not a TIF file");
  if (F.U16(H + 2) != tiff::Magic) Fail("Not a TIF file");
  if (!Complete) FailEnd();
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));

  F.Seek(F.U32(H + 4));
  std::uint8_t C[2];
  F.Read(C, sizeof C);
  const std::size_t Count = F.U16(C);
  // The count comes from the file: entries the data cannot hold are not allocated.
  if (static_cast<std::int64_t>(Count * tiff::EntrySize) > F.Stream.Remaining()) FailEnd();
  std::vector<std::uint8_t> Raw(Count * tiff::EntrySize);
  F.Read(Raw.data(), Raw.size());
  std::vector<TEntry> Entries(Count);
  for (std::size_t i = 0; i < Count; ++i) {
    const std::uint8_t* P = Raw.data() + i * tiff::EntrySize;
    Entries[i] = {F.U16(P), F.U16(P + 2), F.U32(P + 4), {P[8], P[9], P[10], P[11]}};
  }
  const TTags T(F, std::move(Entries));

  if (T.Single(tiff::PlanarConfiguration) > 1) Fail(PGLangStrS1(7, "PlanarConfiguration"));
  TDirectory D;
  T.Single(tiff::NewSubfileType);
  D.Width = T.Single(tiff::ImageWidth);
  D.Height = T.Single(tiff::ImageLength);
  D.Compression = T.Single(tiff::Compression);
  D.Photometric = T.Single(tiff::PhotometricInterpretation);
  // Writers leave out samples per pixel and bits per sample when they have the format's
  // defaults (one sample of one bit); many grey, palette and bilevel files do.
  D.SamplesPerPixel = T.Has(tiff::SamplesPerPixel) ? T.Single(tiff::SamplesPerPixel) : 1;
  // The image's size fields are signed.
  constexpr std::uint32_t MaxSize = std::numeric_limits<std::int32_t>::max();
  if (D.Width > MaxSize) Fail(PGLangStrS1(7, "ImageWidth"));
  if (D.Height > MaxSize) Fail(PGLangStrS1(7, "ImageLength"));
  if (D.SamplesPerPixel != 1 && D.SamplesPerPixel != 3 && D.SamplesPerPixel != 4) Fail("Invalid SamplesPerPixel");

  D.BitsPerSample = T.Has(tiff::BitsPerSample) ? T.Array(tiff::BitsPerSample) : std::vector<std::uint32_t>(D.SamplesPerPixel, 1);
  if (D.BitsPerSample.size() != D.SamplesPerPixel) Fail("Invalid count of SamplesPerPixel");
  if (!LayoutAccepted(D)) Fail("Invalid SamplesPerPixel");

  D.StripOffsets = T.Array(tiff::StripOffsets);
  D.RowsPerStrip = T.Single(tiff::RowsPerStrip);
  if (D.RowsPerStrip == 0) {
    // Without rows per strip one strip holds the image; an empty image has no strip.
    if (D.StripOffsets.size() != 1 || D.Height == 0) Fail("Invalid RowsPerStrip");
    D.RowsPerStrip = D.Height;
  }
  T.Array(tiff::StripByteCounts);  // read for its checks only: strips are decoded by rows
  D.ColorMap = T.Array(tiff::ColorMap);
  return D;
}

void CheckCompression(std::uint32_t Compression) {
  switch (Compression) {
    case tiff::cNone:
    case tiff::cPackBits: return;
    case tiff::cCCITT1D: Fail("Unsupported compression CCITT 1D");
    case tiff::cGroup3Fax: Fail("Unsupported compression Group 3 Fax");
    case tiff::cGroup4Fax: Fail("Unsupported compression Group 4 Fax");
    case tiff::cLZW: Fail("Unsupported compression LZW");
    case tiff::cJPEG: Fail("Unsupported compression JPEG");
    default: Fail("Unsupported compression " + std::to_string(Compression));
  }
}

std::uint64_t StripsNeeded(const TDirectory& D) {
  if (D.Height == 0) return 0;
  return (static_cast<std::uint64_t>(D.Height) + D.RowsPerStrip - 1) / D.RowsPerStrip;
}

// A header can promise far more rows than its strips could fill. Each strip can fill
// at most the rows that the bytes from its start to the end of the data can be decoded
// into (strips may share data, so every strip counts its own bytes), and no more rows
// than it has. A row needs its bytes when uncompressed and, with PackBits, two bytes
// per 128 bytes of row, since runs stop at the end of each row. The image is refused
// unless those rows fill all of its memory but 1 MiB.
void CheckPlausible(const TTiffFile& F, const TDirectory& D, std::int64_t FileRowBytes, std::int64_t MemRowBytes) {
  if (FileRowBytes <= 0 || D.Height == 0) return;
  const std::int64_t MinBytesPerRow =
      D.Compression == tiff::cPackBits ? 2 * ((FileRowBytes + 127) / 128) : FileRowBytes;
  const std::uint64_t Strips = std::min<std::uint64_t>(StripsNeeded(D), D.StripOffsets.size());
  std::int64_t Fillable = 0;
  for (std::uint64_t s = 0; s < Strips; ++s) {
    const std::int64_t Rows = std::min<std::int64_t>(D.RowsPerStrip, D.Height - s * D.RowsPerStrip);
    const std::int64_t Left = std::max<std::int64_t>(F.Left(D.StripOffsets[s]), 0);
    Fillable += std::min(Rows, Left / MinBytesPerRow);
  }
  // Keeps the product inside PlausibleImageSize in range; such an image is far beyond
  // any memory anyway.
  Fillable = std::min<std::int64_t>(Fillable, (std::int64_t{1} << 62) / MemRowBytes);
  if (!PlausibleImageSize(MemRowBytes, D.Height, Fillable, MemRowBytes)) FailEnd();
}

enum class TConversion { Copy, Invert, RGB, RGBX, CMYK };

inline std::uint8_t Subtractive(int Value, int K) { return static_cast<std::uint8_t>(std::max(255 - Value - K, 0)); }

// One row of file samples into a row of pixel memory (blue, green, red for 24 bits).
void ConvertRow(TConversion Conversion, const std::uint8_t* In, std::uint8_t* Out, std::size_t RowBytes, int Width) {
  switch (Conversion) {
    case TConversion::Copy:
      std::memcpy(Out, In, RowBytes);
      break;
    case TConversion::Invert:
      for (std::size_t i = 0; i < RowBytes; ++i) Out[i] = static_cast<std::uint8_t>(~In[i]);
      break;
    case TConversion::RGB:
    case TConversion::RGBX: {
      const int Step = Conversion == TConversion::RGB ? 3 : 4;
      for (int x = 0; x < Width; ++x, In += Step, Out += 3) {
        Out[0] = In[2];
        Out[1] = In[1];
        Out[2] = In[0];
      }
      break;
    }
    case TConversion::CMYK:
      for (int x = 0; x < Width; ++x, In += 4, Out += 3) {
        const int K = In[3];
        Out[0] = Subtractive(In[2], K);
        Out[1] = Subtractive(In[1], K);
        Out[2] = Subtractive(In[0], K);
      }
      break;
  }
}

std::uint8_t NextByte(TBufferedInput& In) {
  std::uint8_t B;
  if (!In.Get(B)) FailEnd();
  return B;
}

// One row of PackBits codes; a run never continues into the next row. NoOps is what is
// left of the no-op codes (-128) the image may still skip: no more than the data has
// bytes, so strips that share a stretch of no-ops cannot loop over it for ever.
void UnpackRow(TBufferedInput& In, std::uint8_t* Out, std::size_t RowBytes, std::uint32_t Row, std::int64_t& NoOps) {
  std::size_t x = 0;
  while (x < RowBytes) {
    const int n = static_cast<std::int8_t>(NextByte(In));
    if (n >= 0) {
      const std::size_t Count = static_cast<std::size_t>(n) + 1;
      if (Count > RowBytes - x) FailRow(Row);
      for (std::size_t k = 0; k < Count; ++k) Out[x++] = NextByte(In);
    } else if (n != -128) {
      const std::size_t Count = static_cast<std::size_t>(1 - n);
      if (Count > RowBytes - x) FailRow(Row);
      std::memset(Out + x, NextByte(In), Count);
      x += Count;
    } else if (--NoOps < 0) {
      FailRow(Row);
    }
  }
}

void DecodeRows(TTiffFile& F, const TDirectory& D, TPixelGraphic& G, TConversion Conversion, std::size_t RowBytes) {
  const bool PackBits = D.Compression == tiff::cPackBits;
  std::vector<std::uint8_t> Row(RowBytes);
  std::optional<TBufferedInput> Codes;
  std::int64_t NoOps = F.DataSize();
  const int Width = G.GetWidth();
  const int Height = G.GetHeight();
  for (std::uint32_t y = 0; y < D.Height; ++y) {
    if (y % D.RowsPerStrip == 0) {
      const std::uint32_t Strip = y / D.RowsPerStrip;
      if (Strip >= D.StripOffsets.size()) Fail(StripCountText);
      F.Seek(D.StripOffsets[Strip]);
      if (PackBits) Codes.emplace(F.Stream, PackBitsCacheSize);
    }
    if (PackBits) UnpackRow(*Codes, Row.data(), RowBytes, y, NoOps);
    else F.Read(Row.data(), RowBytes);
    ConvertRow(Conversion, Row.data(), G.GetScanLine(static_cast<int>(y)), RowBytes, Width);
    if (G.Progress(static_cast<int>(y), Height)) break;
  }
}

void SetPalette(TPixelGraphic& G, const TDirectory& D) {
  const int Num = G.GetBitCountNum();
  if (Num == 3) {
    G.SetPaletteIdent(pTrueColor);
    return;
  }
  // A bilevel palette file without a colour map is read as black and white.
  if (D.Photometric != tiff::phPalette || (Num == 0 && D.ColorMap.empty())) {
    G.SetPaletteIdent(Num == 0 ? pBlackWhite : Num == 1 ? pGray16 : pGray256);
    return;
  }
  // Only the entries the depth can index; pixels beyond a short map stay outside the
  // palette, where reading their colour raises rather than reading past it.
  const std::size_t Count = D.ColorMap.size() / 3;
  const int Used = static_cast<int>(std::min<std::size_t>(Count, static_cast<std::size_t>(G.MaxPaletteCount())));
  if (Used == 0) {
    G.SetPaletteIdent(pNone);
    return;
  }
  G.SetPaletteCount(Used);
  for (int i = 0; i < Used; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    G.SetPaletteEntry(i, RGBColor(static_cast<int>(D.ColorMap[k] >> 8), static_cast<int>(D.ColorMap[k + Count] >> 8),
                                  static_cast<int>(D.ColorMap[k + 2 * Count] >> 8)));
  }
}

}  // namespace

bool TTIFFileFormatReader::IsSignature(const TSignatureHeader& Header) const {
  return (Header[0] == 0x49 && Header[1] == 0x49 && Header[2] == 0x2A && Header[3] == 0x00) ||
         (Header[0] == 0x4D && Header[1] == 0x4D && Header[2] == 0x00 && Header[3] == 0x2A);
}

void TTIFFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  TTiffFile F(Stream);
  TDirectory D = ParseDirectory(F, Index);
  CheckCompression(D.Compression);

  if (StripsNeeded(D) != D.StripOffsets.size()) {
    const std::string Text = std::string("TIFF: ") + StripCountText;
    if (D.StripOffsets.size() != 1) throw EPGTIFFileFormatReader(Text);
    if (PGHandleWarning(Graphic.GetReadWarningAction(), "TIFF-Warning", Text) != TPGWarningOutcome::Continue)
      throw EPGTIFFileFormatReader(Text);
    D.RowsPerStrip = D.Height;  // the one strip holds every row
  }

  const int Bits = static_cast<int>(D.BitsPerSample[0]);
  const int Num = D.SamplesPerPixel == 1 ? (Bits == 1 ? 0 : Bits == 4 ? 1 : 2) : 3;
  const std::int64_t FileRowBytes = (static_cast<std::int64_t>(D.BitsPerPixel()) * D.Width + 7) / 8;
  const std::int64_t MemRowBytes = (static_cast<std::int64_t>(NumToBitCount(Num)) * D.Width + 31) / 32 * 4;
  CheckPlausible(F, D, FileRowBytes, MemRowBytes);

  Graphic.SetFormat(static_cast<int>(D.Width), static_cast<int>(D.Height), Num);
  SetPalette(Graphic, D);

  TConversion Conversion = TConversion::Copy;
  if (D.SamplesPerPixel == 1) Conversion = D.Photometric == tiff::phWhiteIsZero ? TConversion::Invert : TConversion::Copy;
  else if (D.SamplesPerPixel == 3) Conversion = TConversion::RGB;
  else Conversion = D.Photometric == tiff::phCMYK ? TConversion::CMYK : TConversion::RGBX;

  Graphic.ProgressStart();
  try {
    if (!Graphic.GetEmpty()) DecodeRows(F, D, Graphic, Conversion, static_cast<std::size_t>(FileRowBytes));
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
}

void TTIFFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  TTiffFile F(Stream);
  const TDirectory D = ParseDirectory(F, Index);
  Info.SubFormat = F.BigEndian ? "M, " : "I, ";
  switch (D.Compression) {
    case tiff::cNone: Info.SubFormat += "Uncompr."; break;
    case tiff::cCCITT1D: Info.SubFormat += "CCITT 1D"; break;
    case tiff::cGroup3Fax: Info.SubFormat += "Group 3 F."; break;
    case tiff::cGroup4Fax: Info.SubFormat += "Group 4 F."; break;
    case tiff::cLZW: Info.SubFormat += "LZW"; break;
    case tiff::cJPEG: Info.SubFormat += "JPEG"; break;
    case tiff::cPackBits: Info.SubFormat += "PackBits"; break;
    default: break;
  }
  if (D.Compression >= tiff::cCCITT1D && D.Compression <= tiff::cJPEG) Info.Details = "(Unsupported compression)";
  switch (D.Photometric) {
    case tiff::phWhiteIsZero: Info.SubFormat += ", WhiteIsZero"; break;
    case tiff::phBlackIsZero: Info.SubFormat += ", BlackIsZero"; break;
    case tiff::phRGB: Info.SubFormat += ", RGB"; break;
    case tiff::phPalette: Info.SubFormat += ", RGB Palette"; break;
    case tiff::phCMYK: Info.SubFormat += ", CMYK"; break;
    default: Fail("Unsupported photometric interpretation " + std::to_string(D.Photometric));
  }
  Info.Width = static_cast<int>(D.Width);
  Info.Height = static_cast<int>(D.Height);
  Info.BitCount = D.BitsPerPixel();
  Info.Colors = Info.BitCount > 23 ? "16.7 M" : std::to_string(1L << Info.BitCount);
  Info.ImageCount = 1;
}

}  // namespace pg
