#include "pgraphic/formats/tga.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/buffered_io.h"
#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"

namespace pg {

namespace {

constexpr int HeaderSize = 18;
constexpr int RunLengthBit = 8;         // image type bit
constexpr int RightToLeftBit = 0x10;    // image descriptor bits
constexpr int TopFirstBit = 0x20;
constexpr int MaxDimension = 0xFFFF;

[[noreturn]] void Fail(const std::string& Text) { throw EPGTGAFileFormatReader("TGA: " + Text); }

struct THeader {
  int IdLength, MapType, ImageType, MapFirst, MapLength, MapEntrySize, Width, Height, Depth, Descriptor;

  bool HasMap() const { return MapType == 1; }
  // Entries of 15 bits take two bytes like those of 16.
  std::int64_t MapBytes() const { return HasMap() ? static_cast<std::int64_t>(MapLength) * ((MapEntrySize + 7) / 8) : 0; }
  int BytesPerPixel() const { return Depth / 8; }
  bool RunLength() const { return (ImageType & RunLengthBit) != 0; }
};

THeader ReadHeader(TStream& Stream) {
  std::uint8_t H[HeaderSize];
  if (!Stream.ReadFull(H, sizeof H)) Fail(PGLangStr(32));
  return {H[0], H[1], H[2], GetLE16(H + 3), GetLE16(H + 5), H[7], GetLE16(H + 12), GetLE16(H + 14), H[16], H[17]};
}

void Skip(TStream& Stream, std::int64_t Count) {
  Stream.Seek(std::clamp<std::int64_t>(Stream.Remaining(), 0, Count));
}

// A 16-bit word: red in bits 10..14, green 5..9, blue 0..4; the top bit is not colour.
void Put555(std::uint8_t* BGR, unsigned Word) {
  BGR[0] = static_cast<std::uint8_t>((Word & 31) << 3);
  BGR[1] = static_cast<std::uint8_t>(((Word >> 5) & 31) << 3);
  BGR[2] = static_cast<std::uint8_t>(((Word >> 10) & 31) << 3);
}

// The colour map of an 8-bit image. Stored entries stand for the indices MapFirst ..
// MapFirst + MapLength - 1 (pixels hold absolute indices), so the palette starts with
// MapFirst black entries; indices past 255 cannot occur in 8-bit pixels and are dropped.
// A map of no entries counts as no map. Entries the file lacks read as black.
void ReadColorMap(TStream& Stream, TPixelGraphic& G, const THeader& H) {
  const int EntryBytes = H.MapEntrySize / 8;
  std::vector<std::uint8_t> Map(static_cast<std::size_t>(H.MapBytes()));
  Stream.ReadFull(Map.data(), Map.size());
  const int Count = std::min(256, H.MapFirst + H.MapLength);
  G.SetPaletteCount(Count);
  for (int i = 0; i < Count; ++i) {
    std::uint8_t BGR[3] = {0, 0, 0};
    if (i >= H.MapFirst) {
      const std::uint8_t* E = &Map[static_cast<std::size_t>(i - H.MapFirst) * static_cast<std::size_t>(EntryBytes)];
      if (EntryBytes == 2) Put555(BGR, GetLE16(E)); else std::memcpy(BGR, E, 3);
    }
    G.SetPaletteEntry(i, RGBColor(BGR[2], BGR[1], BGR[0]));
  }
}

// Run-length packets, decoded into rows of pixels. A packet may run on past the end of a
// row; its remainder fills the start of the next one.
class TRunLengthDecoder {
public:
  TRunLengthDecoder(TStream& Stream, int BytesPerPixel) : FInput(Stream), FBpp(static_cast<std::size_t>(BytesPerPixel)) {}

  // Fills Pixels pixels of Row; false when the data ends first.
  bool Fill(std::uint8_t* Row, std::size_t Pixels) {
    std::size_t x = 0;
    while (x < Pixels) {
      if (FLeft == 0) {
        std::uint8_t h;
        if (!FInput.Get(h)) return false;
        FLeft = (h & 127u) + 1;
        FRepeat = (h & 128u) != 0;
        if (FRepeat)
          for (std::size_t b = 0; b < FBpp; ++b)
            if (!FInput.Get(FValue[b])) return false;
      }
      const std::size_t n = std::min(FLeft, Pixels - x);
      std::uint8_t* P = Row + x * FBpp;
      if (FRepeat) {
        for (std::size_t k = 0; k < n; ++k, P += FBpp) std::memcpy(P, FValue, FBpp);
      } else {
        for (std::size_t k = 0; k < n * FBpp; ++k)
          if (!FInput.Get(P[k])) return false;
      }
      x += n;
      FLeft -= n;
    }
    return true;
  }

private:
  TBufferedInput FInput;
  std::size_t FBpp;
  std::size_t FLeft = 0;
  bool FRepeat = false;
  std::uint8_t FValue[4] = {};
};

// One file row (Width pixels as stored) into a picture row of the image, mirrored for
// right-to-left files.
void StoreRow(const std::uint8_t* In, std::uint8_t* Out, int Width, int Depth, bool RightToLeft) {
  const std::ptrdiff_t Step = RightToLeft ? -1 : 1;
  const std::ptrdiff_t Start = RightToLeft ? Width - 1 : 0;
  switch (Depth) {
    case 8: {
      std::uint8_t* O = Out + Start;
      for (int x = 0; x < Width; ++x, O += Step) *O = In[x];
      break;
    }
    case 16: {
      std::uint8_t* O = Out + 3 * Start;
      for (int x = 0; x < Width; ++x, In += 2, O += 3 * Step) Put555(O, GetLE16(In));
      break;
    }
    default: {  // 24 and 32 bits: blue, green, red (and one byte that is ignored)
      const int Bpp = Depth / 8;
      std::uint8_t* O = Out + 3 * Start;
      for (int x = 0; x < Width; ++x, In += Bpp, O += 3 * Step) {
        O[0] = In[0];
        O[1] = In[1];
        O[2] = In[2];
      }
      break;
    }
  }
}

// The bytes of data that give one byte of a file row at most: a run-length packet of
// one header byte and one pixel value stands for 128 pixels.
std::int64_t MaxExpansion(const THeader& H) {
  if (!H.RunLength()) return 1;
  const std::int64_t Bpp = H.BytesPerPixel();
  return (128 * Bpp + Bpp) / (1 + Bpp);  // 128 * Bpp / (1 + Bpp), rounded up
}

void ReadPixels(TStream& Stream, TPixelGraphic& G, const THeader& H) {
  const int Width = H.Width, Height = H.Height, Bpp = H.BytesPerPixel();
  const bool RightToLeft = (H.Descriptor & RightToLeftBit) != 0;
  const bool TopFirst = (H.Descriptor & TopFirstBit) != 0;
  const std::size_t RowBytes = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Bpp);
  const bool Direct = !H.RunLength() && (H.Depth == 8 || H.Depth == 24) && !RightToLeft;
  std::vector<std::uint8_t> Row(Direct ? 0 : RowBytes);
  TRunLengthDecoder Decoder(Stream, Bpp);
  for (int r = 0; r < Height; ++r) {
    std::uint8_t* Out = G.GetScanLine(TopFirst ? r : Height - 1 - r);
    if (Direct) {
      Stream.Read(Out, RowBytes);  // a short file leaves the rest of the image zero
    } else {
      if (!H.RunLength()) Stream.ReadFull(Row.data(), RowBytes);
      else if (!Decoder.Fill(Row.data(), static_cast<std::size_t>(Width))) Fail(PGLangStr(32));
      StoreRow(Row.data(), Out, Width, H.Depth, RightToLeft);
    }
    if (G.Progress(r, Height)) break;
  }
}

}  // namespace

void TTGAFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));
  const THeader H = ReadHeader(Stream);
  if (H.Depth != 8 && H.Depth != 16 && H.Depth != 24 && H.Depth != 32) Fail(PGLangStr(30));
  Skip(Stream, H.IdLength);
  // Only 8-bit pixels use a colour map; beside others it is skipped, whatever its entries.
  if (H.Depth == 8 && H.HasMap() && H.MapEntrySize != 16 && H.MapEntrySize != 24 && H.MapEntrySize != 32)
    Fail(PGLangStr(30));
  const bool UseMap = H.Depth == 8 && H.HasMap() && H.MapLength > 0;
  // The map costs at most 256 KiB; the pixels are checked against what follows it.
  const std::int64_t PixelDataLeft = Stream.Remaining() - H.MapBytes();
  if (!PlausibleImageSize(static_cast<std::int64_t>(H.Width) * H.BytesPerPixel(), H.Height, PixelDataLeft, MaxExpansion(H)))
    Fail(PGLangStr(32));

  Graphic.SetFormat(H.Width, H.Height, H.Depth == 8 ? 2 : 3);
  if (H.Depth != 8) {
    Graphic.SetPaletteIdent(pTrueColor);
    Skip(Stream, H.MapBytes());
  } else if (UseMap) {
    ReadColorMap(Stream, Graphic, H);
  } else {
    Graphic.SetPaletteIdent(pGray256);
    Skip(Stream, H.MapBytes());
  }

  if (Graphic.GetEmpty()) return;  // no pixels to read (width or height 0)
  Graphic.ProgressStart();
  try {
    ReadPixels(Stream, Graphic, H);
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
}

void TTGAFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  const THeader H = ReadHeader(Stream);
  switch (H.ImageType & ~RunLengthBit) {  // types 1, 2, 3, 9, 10, 11
    case 1: Info.Details = "Color-mapped"; break;
    case 2: Info.Details = "True-color"; break;
    case 3: Info.Details = "\"Black-and-white\""; break;
    default: Fail(PGLangStrS1(20, "ImageType"));
  }
  Info.SubFormat = H.RunLength() ? "Run-length encoded" : "Uncompressed";
  Info.Width = H.Width;
  Info.Height = H.Height;
  Info.BitCount = H.Depth;
  Info.Colors = H.Depth <= 23 ? std::to_string(1 << H.Depth) : H.Depth == 24 ? "16.7M" : "16.7M ?";
}

void TTGAFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  const int Width = Graphic.GetWidth(), Height = Graphic.GetHeight();
  // The header holds 16-bit sizes: a larger image would give a file of another size.
  if (Width > MaxDimension) throw EPGInvalidSize("TGA: " + PGLangStrS1(41, "Width"));
  if (Height > MaxDimension) throw EPGInvalidSize("TGA: " + PGLangStrS1(41, "Height"));
  const bool TrueColor = Graphic.GetBitCountNum() == 3;
  // A palette image without palette gets a black map of full size (what its pixels
  // show), since a colour-mapped file needs a map.
  const int Entries = TrueColor ? 0 : Graphic.PaletteCount() > 0 ? Graphic.PaletteCount() : 256;
  std::vector<std::uint8_t> Head(HeaderSize + 3 * static_cast<std::size_t>(Entries), 0);
  Head[1] = TrueColor ? 0 : 1;
  Head[2] = TrueColor ? 2 : 1;
  PutLE16(&Head[5], static_cast<std::uint32_t>(Entries));
  Head[7] = TrueColor ? 0 : 24;
  PutLE16(&Head[12], static_cast<std::uint32_t>(Width));
  PutLE16(&Head[14], static_cast<std::uint32_t>(Height));
  Head[16] = TrueColor ? 24 : 8;
  for (int i = 0; i < Graphic.PaletteCount() && !TrueColor; ++i) {
    const TRGB C = Graphic.GetPaletteEntry(i);
    std::uint8_t* E = &Head[HeaderSize + 3 * static_cast<std::size_t>(i)];
    E[0] = static_cast<std::uint8_t>(BlueOf(C));
    E[1] = static_cast<std::uint8_t>(GreenOf(C));
    E[2] = static_cast<std::uint8_t>(RedOf(C));
  }
  Stream.Write(Head.data(), Head.size());
  if (Height <= 0) return;

  Graphic.ProgressStart();
  const std::size_t RowBytes = static_cast<std::size_t>(Width) * (TrueColor ? 3 : 1);
  // Rows of 1 and 4 bits are widened to one index per byte.
  const int Num = Graphic.GetBitCountNum();
  std::vector<std::uint8_t> Wide(Num < 2 ? RowBytes : 0);
  try {
    for (int r = 0; r < Height; ++r) {
      const std::uint8_t* Row = Graphic.GetScanLine(Height - 1 - r);
      if (Row && RowBytes > 0) {
        if (Num == 0) {
          for (int x = 0; x < Width; ++x) Wide[static_cast<std::size_t>(x)] = (Row[x >> 3] >> (7 - (x & 7))) & 1;
          Row = Wide.data();
        } else if (Num == 1) {
          for (int x = 0; x < Width; ++x) Wide[static_cast<std::size_t>(x)] = (x & 1) ? Row[x >> 1] & 15 : Row[x >> 1] >> 4;
          Row = Wide.data();
        }
        Stream.Write(Row, RowBytes);
      }
      Graphic.Progress(r, Height);  // writing is not aborted
    }
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
}

}  // namespace pg
