#include "pgraphic/formats/bmp.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace {

constexpr int FileHeaderSize = 14;
constexpr int CoreHeaderSize = 12;
constexpr int InfoHeaderSize = 40;
constexpr std::uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;

[[noreturn]] void Fail(const std::string& Text) { throw EPGBMPFileFormatReader("BMP: " + Text); }
[[noreturn]] void FailInvalid(const char* Field) { Fail(PGLangStrS1(7, Field)); }
[[noreturn]] void FailHeaderSize() { Fail(PGLangStrS1(27, "BitmapInfoHeader/BitmapCoreHeader")); }

struct TCoreHeader {
  int Width, Height, BitCount;
};

TCoreHeader ParseCoreHeader(const std::uint8_t* H) {
  if (GetLE16(H + 8) != 1) FailInvalid("BitmapCoreHeader.bcPlanes");
  const int Bits = GetLE16(H + 10);
  if (Bits != 1 && Bits != 4 && Bits != 8 && Bits != 24) FailInvalid("BitmapCoreHeader.bcBitCount");
  return {GetLE16(H + 4), GetLE16(H + 6), Bits};
}

struct TInfoHeader {
  std::int32_t Width, Height;
  int BitCount;
  std::uint32_t Compression, SizeImage, ClrUsed;
};

TInfoHeader ParseInfoHeader(const std::uint8_t* H) {
  TInfoHeader I{static_cast<std::int32_t>(GetLE32(H + 4)), static_cast<std::int32_t>(GetLE32(H + 8)), GetLE16(H + 14),
                GetLE32(H + 16), GetLE32(H + 20), GetLE32(H + 32)};
  if (GetLE16(H + 12) != 1) FailInvalid("BitmapInfoHeader.biPlanes");
  const int B = I.BitCount;
  if (B != 1 && B != 4 && B != 8 && B != 16 && B != 24 && B != 32) FailInvalid("BitmapInfoHeader.biBitCount");
  const bool Allowed = I.Compression == BI_RGB || (I.Compression == BI_BITFIELDS && (B == 16 || B == 32)) ||
                       (I.Compression == BI_RLE8 && B == 8 && I.Height >= 0) ||
                       (I.Compression == BI_RLE4 && B == 4 && I.Height >= 0);
  if (!Allowed) FailInvalid("BitmapInfoHeader.biCompression");
  // The magnitude of the most negative height does not fit an integer.
  if (I.Height == INT32_MIN) FailInvalid("BitmapInfoHeader.biHeight");
  return I;
}

// Reads the 14-byte file header and peeks at the size of the header that follows.
std::uint32_t ReadHeaderSize(TStream& Stream) {
  std::uint8_t Buf[FileHeaderSize + 4];
  if (!Stream.ReadFull(Buf, sizeof Buf)) Fail(PGLangStr(32));
  Stream.Seek(-4);
  return GetLE32(Buf + FileHeaderSize);
}

// RLE data may legitimately expand a lot.
void CheckPlausibleSize(TStream& Stream, std::int64_t Width, std::int64_t Height, int Bits, bool Compressed) {
  const std::int64_t RowBytes = (Bits * Width + 31) / 32 * 4;
  if (!PlausibleImageSize(RowBytes, Height, Stream.Remaining(), Compressed ? 1024 : 64)) Fail(PGLangStr(32));
}

// Reads Size bytes into Target in ten slices with progress after each; returns false
// when the handler aborted. Bytes the stream does not deliver are left as they are.
bool ReadSliced(TStream& Stream, TPixelGraphic& G, std::uint8_t* Target, std::size_t Size) {
  if (Size <= 100) {
    Stream.Read(Target, Size);
    return true;
  }
  const std::size_t Slice = Size / 10;
  std::size_t Done = 0;
  for (int k = 1; k <= 10; ++k) {
    const std::size_t n = k < 10 ? Slice : Size - Done;
    Stream.Read(Target + Done, n);
    Done += n;
    if (G.Progress(k, 10)) return false;
  }
  return true;
}

struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  int Add = 0;

  TChannel(std::uint32_t M, bool Expand) : Mask(M) {
    if (M == 0) return;  // an empty mask gives a zero channel
    std::uint32_t m = M;
    while (!(m & 1)) {
      m >>= 1;
      --Shift;
    }
    while (!(m & 0x80)) {
      m <<= 1;
      ++Shift;
    }
    if (Expand) Add = static_cast<int>(m & (~m + 1));
  }

  int Value(std::uint32_t v) const {
    const std::uint32_t Bits = v & Mask;
    if (Add && Bits == 0) return 0;
    const std::uint32_t c = (Shift >= 0 ? Bits << Shift : Bits >> -Shift) + static_cast<std::uint32_t>(Add);
    return c > 255 ? 255 : static_cast<int>(c);
  }
};

void ReadBitFields(TStream& Stream, TPixelGraphic& G, int Bits, std::uint32_t RedMask, std::uint32_t GreenMask,
                   std::uint32_t BlueMask) {
  const bool Expand = Bits == 16 && Expand16BitChannels;
  const TChannel R(RedMask, Expand), Gr(GreenMask, Expand), B(BlueMask, Expand);
  const int Width = G.GetWidth(), Height = G.GetHeight();
  std::vector<std::uint8_t> Row(static_cast<std::size_t>((static_cast<std::int64_t>(Bits) * Width + 31) / 32 * 4));
  for (int i = 0; i < Height; ++i) {
    Row.assign(Row.size(), 0);
    Stream.Read(Row.data(), Row.size());
    std::uint8_t* Out = G.GetScanLine(Height - 1 - i);
    for (int x = 0; x < Width; ++x) {
      const std::uint32_t v = Bits == 16 ? GetLE16(&Row[2 * static_cast<std::size_t>(x)]) : GetLE32(&Row[4 * static_cast<std::size_t>(x)]);
      Out[3 * x] = static_cast<std::uint8_t>(B.Value(v));
      Out[3 * x + 1] = static_cast<std::uint8_t>(Gr.Value(v));
      Out[3 * x + 2] = static_cast<std::uint8_t>(R.Value(v));
    }
    if (G.Progress(i, Height)) return;
  }
}

// Run-length data, bottom row first. Runs and coordinates are clipped so that hostile
// blocks cost no more than their pixels; nothing outside the block is read.
void DecodeRLE(const std::vector<std::uint8_t>& Block, TPixelGraphic& G, bool FourBit) {
  const std::int64_t Size = static_cast<std::int64_t>(Block.size());
  const int Width = G.GetWidth();
  std::int64_t pos = 0;
  int x = 0, y = G.GetHeight() - 1;
  const std::int64_t Chunk = Size / 10;
  const auto Put = [&](int Value) {
    if (x < Width) {
      if (y >= 0) G.SetPixel(x, y, Value);
      ++x;
    }
  };
  while (pos < Size - 1) {
    const int n = Block[static_cast<std::size_t>(pos)];
    const int c = Block[static_cast<std::size_t>(pos + 1)];
    if (n > 0) {
      for (int k = 1; k <= n && x < Width; ++k) Put(FourBit ? ((k & 1) ? c >> 4 : c & 15) : c);
      pos += 2;
    } else if (c == 0) {
      pos += 2;
      x = 0;
      if (y >= 0) --y;
    } else if (c == 1) {
      break;
    } else if (c == 2) {
      if (pos >= Size - 3) break;
      x = std::min(Width, x + Block[static_cast<std::size_t>(pos + 2)]);
      y = std::max(-1, y - Block[static_cast<std::size_t>(pos + 3)]);
      pos += 4;
    } else {
      const std::int64_t DataBytes = FourBit ? (c + 1) / 2 : c;
      const std::int64_t Avail = std::min<std::int64_t>(DataBytes, Size - pos - 2);
      for (int k = 1; k <= c; ++k) {
        const std::int64_t Byte = FourBit ? (k + 1) / 2 : k;
        if (Byte > Avail) break;
        const int v = Block[static_cast<std::size_t>(pos + 1 + Byte)];
        Put(FourBit ? ((k & 1) ? v >> 4 : v & 15) : v);
      }
      if (Avail < DataBytes) break;  // the run would end past the block
      pos += DataBytes + 2;
      if (pos & 1) ++pos;
    }
    if (Chunk > 0 && pos % Chunk == 0 && G.Progress(static_cast<int>(pos / Chunk), 10)) break;
  }
}

void FlipVertically(TPixelGraphic& G) {
  if (G.GetEmpty()) return;  // a top-down file of width 0 has rows but no memory
  const int Height = G.GetHeight();
  const auto Stride = static_cast<std::size_t>(G.BytesPerLine());
  std::vector<std::uint8_t> Tmp(Stride);
  for (int j = 0; j < Height / 2; ++j) {
    std::uint8_t* A = G.GetScanLine(j);
    std::uint8_t* B = G.GetScanLine(Height - 1 - j);
    std::memcpy(Tmp.data(), A, Stride);
    std::memcpy(A, B, Stride);
    std::memcpy(B, Tmp.data(), Stride);
  }
}

// Reads the image's palette from a colour table of blue, green, red (and, with
// EntrySize 4, a reserved byte) per entry; entries the stream lacks read as black.
void ReadColorTable(TStream& Stream, TPixelGraphic& G, int EntrySize) {
  std::vector<std::uint8_t> Table(static_cast<std::size_t>(EntrySize) * static_cast<std::size_t>(G.PaletteCount()));
  Stream.ReadFull(Table.data(), Table.size());
  for (int i = 0; i < G.PaletteCount(); ++i) {
    const std::uint8_t* E = &Table[static_cast<std::size_t>(EntrySize * i)];
    G.SetPaletteEntry(i, RGBColor(E[2], E[1], E[0]));
  }
}

void ReadCoreDIB(TStream& Stream, TPixelGraphic& G) {
  std::uint8_t H[CoreHeaderSize];
  if (!Stream.ReadFull(H, sizeof H)) Fail(PGLangStr(32));
  const TCoreHeader C = ParseCoreHeader(H);
  CheckPlausibleSize(Stream, C.Width, C.Height, C.BitCount, false);
  G.SetFormat(C.Width, C.Height, BitCountToNum(C.BitCount));
  G.SetPaletteCount(G.MaxPaletteCount());
  if (G.PaletteCount() == 0) {
    G.SetPaletteIdent(pTrueColor);
  } else {
    ReadColorTable(Stream, G, 3);
  }
  if (G.GetBits()) ReadSliced(Stream, G, G.GetBits(), static_cast<std::size_t>(G.ImageSize()));
}

void ReadInfoDIB(TStream& Stream, TPixelGraphic& G) {
  std::uint8_t H[InfoHeaderSize];
  if (!Stream.ReadFull(H, sizeof H)) Fail(PGLangStr(32));
  const TInfoHeader I = ParseInfoHeader(H);
  const int Height = I.Height < 0 ? -I.Height : I.Height;
  const bool RLE = I.Compression == BI_RLE8 || I.Compression == BI_RLE4;
  CheckPlausibleSize(Stream, I.Width, Height, I.BitCount, RLE);

  if (I.BitCount > 8) {
    G.SetFormat(I.Width, Height, 3);
    G.SetPaletteIdent(pTrueColor);
    std::uint32_t Masks[3] = {0, 0, 0};
    if (I.Compression == BI_BITFIELDS) {
      std::uint8_t M[12];
      Stream.ReadFull(M, sizeof M);
      for (int c = 0; c < 3; ++c) Masks[c] = GetLE32(M + 4 * c);
    } else if (I.BitCount == 16) {
      Masks[0] = 0x7C00, Masks[1] = 0x03E0, Masks[2] = 0x001F;
    } else {
      Masks[0] = 0xFF0000, Masks[1] = 0x00FF00, Masks[2] = 0x0000FF;
    }
    if (I.ClrUsed > 0) Stream.Seek(std::min<std::int64_t>(4 * static_cast<std::int64_t>(I.ClrUsed), Stream.Remaining()));
    if (I.BitCount != 24) {
      if (G.GetBits()) ReadBitFields(Stream, G, I.BitCount, Masks[0], Masks[1], Masks[2]);
      if (I.Height < 0) FlipVertically(G);
      return;
    }
  } else {
    G.SetFormat(I.Width, Height, BitCountToNum(I.BitCount));
    // A colour count beyond the depth is clamped to what the pixels can index; the
    // table is still skipped as stored, so the pixels are found after it.
    const std::int64_t Stored = I.ClrUsed == 0 ? G.MaxPaletteCount() : static_cast<std::int64_t>(I.ClrUsed);
    G.SetPaletteCount(static_cast<int>(std::min<std::int64_t>(Stored, G.MaxPaletteCount())));
    if (G.PaletteCount() < 1) {
      G.SetPaletteIdent(pNone);
    } else {
      ReadColorTable(Stream, G, 4);
      if (Stored > G.PaletteCount())
        Stream.Seek(std::min<std::int64_t>(4 * (Stored - G.PaletteCount()), Stream.Remaining()));
    }
  }

  if (!G.GetBits()) return;
  if (RLE) {
    // A block cannot hold more than the file has left; a missing size means "the rest".
    const std::int64_t Left = std::max<std::int64_t>(Stream.Remaining(), 0);
    const std::int64_t Size = I.SizeImage == 0 ? Left : std::min<std::int64_t>(I.SizeImage, Left);
    std::vector<std::uint8_t> Block(static_cast<std::size_t>(Size));
    if (ReadSliced(Stream, G, Block.data(), Block.size())) DecodeRLE(Block, G, I.Compression == BI_RLE4);
  } else {
    ReadSliced(Stream, G, G.GetBits(), static_cast<std::size_t>(G.ImageSize()));
  }
  if (I.Height < 0) FlipVertically(G);
}

// A palette image always carries a colour table: with no palette of its own it gets a
// black table of full size, since a count of 0 would tell readers to expect a full
// table in front of the pixels.
int ColorTableEntries(const TPixelGraphic& G) {
  if (G.GetBitCountNum() == 3) return 0;
  return G.PaletteCount() > 0 ? G.PaletteCount() : G.MaxPaletteCount();
}

}  // namespace

void TPixelGraphic::ReadDIB(TStream& Stream, bool CoreHeader) {
  Flush();
  ProgressStart();
  if (CoreHeader) ReadCoreDIB(Stream, *this); else ReadInfoDIB(Stream, *this);
  ProgressEnd();
}

void TPixelGraphic::WriteDIB(TStream& Stream) {
  Flush();
  const int Entries = ColorTableEntries(*this);
  const bool TableFromMemory = Entries > PaletteCount();
  std::vector<std::uint8_t> Head(InfoHeaderSize + 4 * static_cast<std::size_t>(Entries), 0);
  std::uint8_t* H = Head.data();
  PutLE32(H, InfoHeaderSize);
  PutLE32(H + 4, static_cast<std::uint32_t>(FWidth));
  PutLE32(H + 8, static_cast<std::uint32_t>(FHeight));
  PutLE16(H + 12, 1);
  PutLE16(H + 14, static_cast<std::uint32_t>(GetBitCount()));
  PutLE32(H + 20, static_cast<std::uint32_t>(FImageSize));
  PutLE32(H + 32, static_cast<std::uint32_t>(Entries));
  for (int i = 0; i < Entries; ++i) {
    const TRGB C = TableFromMemory ? 0 : FPalette[static_cast<std::size_t>(i)];
    std::uint8_t* Q = H + InfoHeaderSize + 4 * i;
    Q[0] = static_cast<std::uint8_t>(BlueOf(C));
    Q[1] = static_cast<std::uint8_t>(GreenOf(C));
    Q[2] = static_cast<std::uint8_t>(RedOf(C));
  }
  Stream.Write(Head.data(), Head.size());
  if (FBits) Stream.Write(FBits.get(), static_cast<std::size_t>(FImageSize));
}

bool TBMPFileFormatReader::IsSignature(const TSignatureHeader& Header) const {
  return Header[0] == 'B' && Header[1] == 'M';
}

void TBMPFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));
  const std::uint32_t Size = ReadHeaderSize(Stream);
  if (Size == CoreHeaderSize) Graphic.ReadDIB(Stream, true);
  else if (Size == InfoHeaderSize) Graphic.ReadDIB(Stream, false);
  else FailHeaderSize();
}

void TBMPFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  const std::uint32_t Size = ReadHeaderSize(Stream);
  std::uint8_t H[InfoHeaderSize];
  if (Size == CoreHeaderSize) {
    Info.SubFormat = "OS/2";
    if (!Stream.ReadFull(H, CoreHeaderSize)) Fail(PGLangStr(32));
    const TCoreHeader C = ParseCoreHeader(H);
    Info.Width = C.Width;
    Info.Height = C.Height;
    Info.BitCount = C.BitCount;
  } else if (Size == InfoHeaderSize) {
    Info.SubFormat = "Windows";
    if (!Stream.ReadFull(H, InfoHeaderSize)) Fail(PGLangStr(32));
    const TInfoHeader I = ParseInfoHeader(H);
    Info.Width = I.Width;
    Info.Height = I.Height;
    Info.BitCount = I.BitCount;
    if (I.Compression == BI_RGB) Info.SubFormat += ", RGB";
    else if (I.Compression == BI_RLE8) Info.SubFormat += ", RLE8";
    else if (I.Compression == BI_RLE4) Info.SubFormat += ", RLE4";
    if (I.Height < 0) Info.SubFormat += ", Top-Down";
  } else {
    FailHeaderSize();
  }
  switch (Info.BitCount) {
    case 1: Info.Colors = "2"; break;
    case 4: Info.Colors = "16"; break;
    case 8: Info.Colors = "256"; break;
    case 16: Info.Colors = "64K"; break;
    default: Info.Colors = "16.7M"; break;
  }
}

void TBMPFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  const int Entries = ColorTableEntries(Graphic);
  std::uint8_t H[FileHeaderSize] = {'B', 'M'};
  const std::uint32_t OffBits = FileHeaderSize + InfoHeaderSize + 4 * static_cast<std::uint32_t>(Entries);
  PutLE32(H + 2, OffBits + static_cast<std::uint32_t>(Graphic.ImageSize()));
  PutLE32(H + 10, OffBits);
  Stream.Write(H, sizeof H);
  Graphic.WriteDIB(Stream);
}

}  // namespace pg
