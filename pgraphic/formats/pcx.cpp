#include "pgraphic/formats/pcx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/buffered_io.h"
#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace {

constexpr int HeaderSize = 128;
constexpr int PaletteBlockSize = 1 + 3 * 256;  // marker byte, then red, green, blue
constexpr std::uint8_t PaletteMarker = 12;
// A two-byte run code gives at most 63 bytes of line.
constexpr std::int64_t MaxExpansion = 32;

[[noreturn]] void Fail(const std::string& Text) { throw EPGPCXFileFormatReader("PCX: " + Text); }
[[noreturn]] void FailSubformat() { Fail(PGLangStr(33)); }
[[noreturn]] void FailEndOfFile() { Fail(PGLangStr(32)); }

struct THeader {
  int Version = 0;
  int BitsPerPlane = 0;
  int Planes = 0;
  int BytesPerLine = 0;  // per plane, as stored
  int Xmin = 0, Ymin = 0, Xmax = 0, Ymax = 0;
  std::array<std::uint8_t, 48> Palette16{};

  // The window fields are signed, so these range from -65535 to 65536.
  int Width() const { return Xmax - Xmin + 1; }
  int Height() const { return Ymax - Ymin + 1; }
  int BitCount() const { return Planes * BitsPerPlane; }
};

// Reads the 128-byte header and checks what every layout shares.
THeader ReadHeader(TStream& Stream) {
  std::uint8_t B[HeaderSize];
  if (!Stream.ReadFull(B, sizeof B)) FailEndOfFile();
  THeader H;
  H.Version = B[1];
  H.BitsPerPlane = B[3];
  H.Xmin = static_cast<std::int16_t>(GetLE16(B + 4));
  H.Ymin = static_cast<std::int16_t>(GetLE16(B + 6));
  H.Xmax = static_cast<std::int16_t>(GetLE16(B + 8));
  H.Ymax = static_cast<std::int16_t>(GetLE16(B + 10));
  std::memcpy(H.Palette16.data(), B + 16, H.Palette16.size());
  H.Planes = B[65];
  H.BytesPerLine = GetLE16(B + 66);
  if (GetLE16(B + 68) != 1 || B[64] != 0) FailSubformat();
  return H;
}

// The image depth (bit-count index) of an accepted layout; refuses the others.
int LayoutBitCountNum(const THeader& H) {
  if (H.BitsPerPlane == 1 && H.Planes == 1) return 0;
  if (H.BitsPerPlane == 1 && H.Planes == 4) return 1;
  if (H.BitsPerPlane == 8 && H.Planes == 1) return 2;
  if (H.BitsPerPlane == 8 && H.Planes == 3) return 3;
  FailSubformat();
}

// The 256-colour palette: the last 769 bytes of the stream, behind the header at the
// earliest. The stream position is left as it was.
std::array<std::uint8_t, 3 * 256> ReadPaletteBlock(TStream& Stream) {
  const std::int64_t Here = Stream.GetPosition();
  const std::int64_t At = Stream.GetSize() - PaletteBlockSize;
  std::uint8_t Block[PaletteBlockSize];
  bool Found = false;
  if (At >= Here) {
    try {
      Stream.SetPosition(At);
      Found = Stream.ReadFull(Block, sizeof Block) && Block[0] == PaletteMarker;
    } catch (...) {
      Stream.SetPosition(Here);
      throw;
    }
    Stream.SetPosition(Here);
  }
  if (!Found) FailSubformat();
  std::array<std::uint8_t, 3 * 256> Palette;
  std::memcpy(Palette.data(), Block + 1, Palette.size());
  return Palette;
}

// The stream up to End. The pixel data of a 256-colour file ends where its palette block
// begins: data too short for the image then ends in an error instead of pixels made up
// from palette bytes.
class TStreamPart : public TStream {
public:
  TStreamPart(TStream& Stream, std::int64_t End) : FStream(Stream), FEnd(End) {}
  std::size_t Read(void* Buffer, std::size_t Count) override {
    const std::int64_t Left = FEnd - FStream.GetPosition();
    if (Left <= 0) return 0;
    return FStream.Read(Buffer, static_cast<std::size_t>(std::min<std::int64_t>(Left, static_cast<std::int64_t>(Count))));
  }
  void Write(const void* Buffer, std::size_t Count) override { FStream.Write(Buffer, Count); }
  std::int64_t GetPosition() const override { return FStream.GetPosition(); }
  void SetPosition(std::int64_t Position) override { FStream.SetPosition(Position); }
  std::int64_t GetSize() const override { return std::min(FEnd, FStream.GetSize()); }

private:
  TStream& FStream;
  const std::int64_t FEnd;
};

// One decoded image row: Planes planes of PlaneStride bytes each. A plane stride larger
// than the file's bytes per line (a header too small for its width) leaves the bytes
// the file does not have zero.
class TLineDecoder {
public:
  TLineDecoder(TStream& Stream, int Planes, int BytesPerLine, int PlaneStride)
      : FInput(Stream),
        FPlanes(static_cast<std::size_t>(Planes)),
        FStored(static_cast<std::size_t>(BytesPerLine)),
        FStride(static_cast<std::size_t>(PlaneStride)),
        FLine(FPlanes * FStride, 0),
        FSpread(FStride > FStored) {
    if (FSpread) FRaw.resize(FPlanes * FStored);
  }

  const std::uint8_t* Plane(int p) const { return FLine.data() + static_cast<std::size_t>(p) * FStride; }

  // Decodes the next row. Runs stop at the end of the row: the next row starts with a
  // fresh code byte.
  void Next() {
    if (!FSpread) {
      Decode(FLine.data(), FLine.size());
      return;
    }
    if (FStored == 0) return;  // the file has no bytes for the line: it stays blank
    Decode(FRaw.data(), FRaw.size());
    for (std::size_t p = 0; p < FPlanes; ++p)
      std::memcpy(FLine.data() + p * FStride, FRaw.data() + p * FStored, FStored);
  }

private:
  std::uint8_t Get() {
    std::uint8_t B;
    if (!FInput.Get(B)) FailEndOfFile();
    return B;
  }

  void Decode(std::uint8_t* Out, std::size_t Count) {
    std::size_t k = 0;
    while (k < Count) {
      const std::uint8_t Code = Get();
      if (Code < 0xC0) {
        Out[k++] = Code;
        continue;
      }
      const std::uint8_t Value = Get();
      const std::size_t n = std::min<std::size_t>(Code & 0x3F, Count - k);
      std::memset(Out + k, Value, n);
      k += n;
    }
  }

  TBufferedInput FInput;
  const std::size_t FPlanes, FStored, FStride;
  std::vector<std::uint8_t> FLine;
  const bool FSpread;              // the stored planes are shorter than the line's
  std::vector<std::uint8_t> FRaw;  // the row as stored, when it must be spread out
};

void StoreMonochrome(const TLineDecoder& L, int Width, std::uint8_t* Row) {
  const std::size_t Used = (static_cast<std::size_t>(Width) + 7) / 8;
  std::memcpy(Row, L.Plane(0), Used);
  // Bits past the width are cleared; the row's padding is not touched.
  if (Width % 8) Row[Used - 1] &= static_cast<std::uint8_t>(0xFF << (8 - Width % 8));
}

void StoreSixteenColors(const TLineDecoder& L, int Width, std::uint8_t* Row) {
  const std::uint8_t* P0 = L.Plane(0);
  const std::uint8_t* P1 = L.Plane(1);
  const std::uint8_t* P2 = L.Plane(2);
  const std::uint8_t* P3 = L.Plane(3);
  for (int x = 0; x < Width; ++x) {
    const int Byte = x >> 3, Shift = 7 - (x & 7);
    const int v = ((P0[Byte] >> Shift) & 1) | ((P1[Byte] >> Shift) & 1) << 1 | ((P2[Byte] >> Shift) & 1) << 2 |
                  ((P3[Byte] >> Shift) & 1) << 3;
    if (x & 1) Row[x >> 1] = static_cast<std::uint8_t>(Row[x >> 1] | v);
    else Row[x >> 1] = static_cast<std::uint8_t>(v << 4);
  }
}

void StoreTrueColor(const TLineDecoder& L, int Width, std::uint8_t* Row) {
  const std::uint8_t* R = L.Plane(0);
  const std::uint8_t* G = L.Plane(1);
  const std::uint8_t* B = L.Plane(2);
  for (int x = 0; x < Width; ++x, Row += 3) {
    Row[0] = B[x];
    Row[1] = G[x];
    Row[2] = R[x];
  }
}

void DecodeRows(TStream& Stream, TPixelGraphic& G, const THeader& H, int PlaneStride) {
  const int Width = G.GetWidth(), Height = G.GetHeight(), Num = G.GetBitCountNum();
  TLineDecoder Line(Stream, H.Planes, H.BytesPerLine, PlaneStride);
  for (int y = 0; y < Height; ++y) {
    Line.Next();
    std::uint8_t* Row = G.GetScanLine(y);
    switch (Num) {
      case 0: StoreMonochrome(Line, Width, Row); break;
      case 1: StoreSixteenColors(Line, Width, Row); break;
      case 2: std::memcpy(Row, Line.Plane(0), static_cast<std::size_t>(Width)); break;
      default: StoreTrueColor(Line, Width, Row); break;
    }
    if (G.Progress(y, Height)) return;
  }
}

}  // namespace

bool TPCXFileFormatReader::IsSignature(const TSignatureHeader& Header) const { return Header[0] == 10; }

void TPCXFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& G, int Index) const {
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));
  G.SetGamma(DefaultGamma);
  const THeader H = ReadHeader(Stream);
  const int Num = LayoutBitCountNum(H);
  std::array<std::uint8_t, 3 * 256> Palette256{};
  std::int64_t DataEnd = Stream.GetSize();
  if (Num == 2) {
    Palette256 = ReadPaletteBlock(Stream);
    DataEnd -= PaletteBlockSize;
  }
  TStreamPart Data(Stream, DataEnd);

  // A window with its end before its start has no size to give the image.
  const int Width = H.Width(), Height = H.Height();
  if (Width < 1) Fail(PGLangStrS1(7, "Xmax"));
  if (Height < 1) Fail(PGLangStrS1(7, "Ymax"));

  // Each plane of the line buffer holds at least what the width needs.
  const int Needed = H.BitsPerPlane == 1 ? (Width + 7) / 8 : Width;
  const int PlaneStride = std::max(H.BytesPerLine, Needed);
  if (!PlausibleImageSize(static_cast<std::int64_t>(H.Planes) * PlaneStride, Height, Data.Remaining(), MaxExpansion))
    FailEndOfFile();

  G.SetFormat(Width, Height, Num);
  switch (Num) {
    case 0:
      G.SetPaletteCount(2);
      G.SetPaletteEntry(0, RGBColor(0, 0, 0));
      G.SetPaletteEntry(1, RGBColor(255, 255, 255));
      break;
    case 1:
      if (H.Version == 3) {
        G.SetPaletteIdent(pSys16);
      } else {
        G.SetPaletteCount(16);
        for (int i = 0; i < 16; ++i) {
          const std::uint8_t* E = &H.Palette16[static_cast<std::size_t>(3 * i)];
          G.SetPaletteEntry(i, RGBColor(E[0], E[1], E[2]));
        }
      }
      break;
    case 2:
      G.SetPaletteCount(256);
      for (int i = 0; i < 256; ++i) {
        const std::uint8_t* E = &Palette256[static_cast<std::size_t>(3 * i)];
        G.SetPaletteEntry(i, RGBColor(E[0], E[1], E[2]));
      }
      break;
    default:
      G.SetPaletteIdent(pTrueColor);
      break;
  }

  G.ProgressStart();
  try {
    DecodeRows(Data, G, H, PlaneStride);
  } catch (...) {
    G.ProgressEnd();
    throw;
  }
  G.ProgressEnd();
}

void TPCXFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  const THeader H = ReadHeader(Stream);
  Info.BitCount = H.BitCount();
  Info.Width = H.Width();
  Info.Height = H.Height();
  switch (H.Version) {
    case 0: Info.SubFormat = "Version 2.5 (0)"; break;
    case 2: Info.SubFormat = "Version 2.8 (2) with Palette"; break;
    case 3: Info.SubFormat = "Version 2.8 (3) without Palette"; break;
    case 5: Info.SubFormat = "Version 3.0 (5)"; break;
    default: break;
  }
  // The header's layout is not checked here: planes times bits may exceed what a colour
  // count can express, and then the count is left open.
  if (Info.BitCount == 24) Info.Colors = "16.7M";
  else if (Info.BitCount < 64) Info.Colors = std::to_string(std::uint64_t{1} << Info.BitCount);
}

}  // namespace pg
