#include "pgraphic/formats/tiff_writer.h"

#include <algorithm>
#include <string>

#include "pgraphic/byte_order.h"
#include "pgraphic/formats/tiff_common.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace {

[[noreturn]] void Fail(const std::string& Text) { throw EPGTIFFileFormatWriter("TIFF: " + Text); }
[[noreturn]] void FailInternal() { Fail("Internal Error"); }

constexpr std::int64_t MaxOffset = 0xFFFFFFFF;
constexpr std::int64_t MaxStripSize = 32767;  // worst-case bytes of one strip's rows

// The settings as one image of the file uses them; read once per image, so a change
// in the middle of a file cannot mix them within one image.
struct TOptions {
  bool PackBits = false;
  bool CMYK = false;
  bool WhiteIsZero = false;
  std::uint16_t ResolutionUnit = 2;
  std::uint32_t XNum = 0, XDen = 0, YNum = 0, YDen = 0;
};

// A value outside a setting's list is refused rather than written into the file.
void CheckSetting(std::uint8_t Value, std::uint8_t Max, const char* Name) {
  if (Value > Max) Fail(PGLangStrS1(20, Name));
}

TOptions CurrentOptions() {
  if (TIFFWriteCompression != tiff::cNone && TIFFWriteCompression != tiff::cPackBits) FailInternal();
  CheckSetting(TIFFWriteTrueColorPhotInterpret, 1, "TIFFWriteTrueColorPhotInterpret");
  CheckSetting(TIFFWriteGrayScalePhotInterpret, 1, "TIFFWriteGrayScalePhotInterpret");
  CheckSetting(TIFFWriteByteOrder, 1, "TIFFWriteByteOrder");
  CheckSetting(TIFFWriteResolutionUnit, 2, "TIFFWriteResolutionUnit");
  TOptions O;
  O.PackBits = TIFFWriteCompression == tiff::cPackBits;
  O.CMYK = TIFFWriteTrueColorPhotInterpret == 1;
  O.WhiteIsZero = TIFFWriteGrayScalePhotInterpret == 1;
  O.ResolutionUnit = static_cast<std::uint16_t>(TIFFWriteResolutionUnit + 1);
  O.XNum = static_cast<std::uint32_t>(TIFFWriteXResolutionNumerator);
  O.XDen = static_cast<std::uint32_t>(TIFFWriteXResolutionDenominator);
  O.YNum = static_cast<std::uint32_t>(TIFFWriteYResolutionNumerator);
  O.YDen = static_cast<std::uint32_t>(TIFFWriteYResolutionDenominator);
  return O;
}

// 16- and 32-bit numbers in the file's byte order.
struct TPut {
  bool BigEndian;
  void U16(std::uint8_t* P, std::uint32_t V) const { BigEndian ? PutBE16(P, V) : PutLE16(P, V); }
  void U32(std::uint8_t* P, std::uint32_t V) const { BigEndian ? PutBE32(P, V) : PutLE32(P, V); }
};

void WriteU32At(TStream& Stream, const TPut& Put, std::int64_t Position, std::uint32_t Value) {
  std::uint8_t B[4];
  Put.U32(B, Value);
  Stream.SetPosition(Position);
  Stream.Write(B, sizeof B);
}

// How an image is stored: the layout per depth, and its division into strips.
struct TLayout {
  std::int64_t RowBytes = 0;
  int BitsPerSample = 8;
  int Samples = 1;
  std::uint16_t Photometric = tiff::phBlackIsZero;
  bool Invert = false;     // grey values stored WhiteIsZero
  int ColorMapSize = 0;    // entries per component, palette images only
  std::int64_t RowsPerStrip = 1, Strips = 1;
};

TLayout LayoutOf(const TPixelGraphic& G, const TOptions& O) {
  const std::int64_t Width = G.GetWidth();
  const TPaletteIdent Ident = G.PaletteIdent();
  const std::uint16_t Grey = O.WhiteIsZero ? tiff::phWhiteIsZero : tiff::phBlackIsZero;
  TLayout L;
  switch (G.GetBitCountNum()) {
    case 0:
      L.RowBytes = (Width + 7) / 8;
      L.BitsPerSample = 1;
      L.Photometric = Grey;
      L.Invert = O.WhiteIsZero && Ident == pBlackWhite;
      break;
    case 1:
      L.RowBytes = (Width + 1) / 2;
      L.BitsPerSample = 4;
      L.Photometric = Ident == pGray16 ? Grey : static_cast<std::uint16_t>(tiff::phPalette);
      L.Invert = O.WhiteIsZero && Ident == pGray16;
      break;
    case 2:
      L.RowBytes = Width;
      L.BitsPerSample = 8;
      L.Photometric = Ident == pGray256 ? Grey : static_cast<std::uint16_t>(tiff::phPalette);
      L.Invert = O.WhiteIsZero && Ident == pGray256;
      break;
    default:
      L.Samples = O.CMYK ? 4 : 3;
      L.RowBytes = Width * L.Samples;
      L.Photometric = O.CMYK ? tiff::phCMYK : tiff::phRGB;
      break;
  }
  if (L.Photometric == tiff::phPalette) L.ColorMapSize = 1 << L.BitsPerSample;
  const std::int64_t Worst = L.RowBytes * (O.PackBits ? 2 : 1);
  L.RowsPerStrip = std::clamp<std::int64_t>(MaxStripSize / Worst, 1, G.GetHeight());
  L.Strips = (G.GetHeight() + L.RowsPerStrip - 1) / L.RowsPerStrip;
  return L;
}

// One picture row (y = 0 at the top) in the file's sample layout. Bits past the width
// in the last byte of 1- and 4-bit rows are written as 0.
void FillRow(const TPixelGraphic& G, int Y, const TLayout& L, bool CMYK, std::uint8_t* Out) {
  const std::uint8_t* S = G.GetScanLine(Y);
  const int Width = G.GetWidth();
  const auto N = static_cast<std::size_t>(L.RowBytes);
  if (G.GetBitCountNum() < 3) {
    // Palette memory already holds the first pixel in the high bits.
    std::copy(S, S + N, Out);
    if (L.Invert)
      for (std::size_t i = 0; i < N; ++i) Out[i] = static_cast<std::uint8_t>(~Out[i]);
    const int UsedBits = static_cast<int>((static_cast<std::int64_t>(Width) * L.BitsPerSample) % 8);
    if (UsedBits) Out[N - 1] &= static_cast<std::uint8_t>(0xFF << (8 - UsedBits));
    return;
  }
  if (!CMYK) {
    for (int x = 0; x < Width; ++x, S += 3, Out += 3) {
      Out[0] = S[2];
      Out[1] = S[1];
      Out[2] = S[0];
    }
    return;
  }
  for (int x = 0; x < Width; ++x, S += 3, Out += 4) {
    const int C = 255 - S[2], M = 255 - S[1], Ye = 255 - S[0];
    const int K = std::min({C, M, Ye});
    Out[0] = static_cast<std::uint8_t>(C - K);
    Out[1] = static_cast<std::uint8_t>(M - K);
    Out[2] = static_cast<std::uint8_t>(Ye - K);
    Out[3] = static_cast<std::uint8_t>(K);
  }
}

class TProgressBracket {
public:
  explicit TProgressBracket(TPixelGraphic& G) : FGraphic(G) { FGraphic.ProgressStart(); }
  ~TProgressBracket() { FGraphic.ProgressEnd(); }
  TProgressBracket(const TProgressBracket&) = delete;
  TProgressBracket& operator=(const TProgressBracket&) = delete;

private:
  TPixelGraphic& FGraphic;
};

// Directory entries in the order they are written.
enum TEntryIndex {
  eNewSubfileType, eImageWidth, eImageLength, eBitsPerSample, eCompression, ePhotometric, eStripOffsets,
  eSamplesPerPixel, eRowsPerStrip, eStripByteCounts, eXResolution, eYResolution, eResolutionUnit, eColorMap
};

}  // namespace

void PackBitsEncodeRow(const std::uint8_t* Row, std::size_t Count, std::vector<std::uint8_t>& Runs,
                       std::vector<std::uint8_t>& Out) {
  // Only "1", "2" and "longer" matter below, so run lengths are capped to fit a byte.
  Runs.resize(Count);
  for (std::size_t s = 0; s < Count;) {
    std::size_t e = s + 1;
    while (e < Count && Row[e] == Row[s]) ++e;
    std::fill(Runs.begin() + static_cast<std::ptrdiff_t>(s), Runs.begin() + static_cast<std::ptrdiff_t>(e),
              static_cast<std::uint8_t>(std::min<std::size_t>(e - s, 255)));
    s = e;
  }
  // A pair next to literal bytes costs as much in the literal as on its own, and
  // splitting the literal would cost a count byte more.
  for (std::size_t i = 1; i < Count; ++i)
    if (Runs[i] == 2 && Runs[i - 1] == 1) Runs[i] = 1;
  for (std::size_t i = Count - (Count > 0); i-- > 0;)
    if (Runs[i] == 2 && Runs[i + 1] == 1) Runs[i] = 1;

  for (std::size_t p = 0; p < Count;) {
    std::size_t n = 1;
    if (Runs[p] == 1) {
      while (n < 128 && p + n < Count && Runs[p + n] == 1) ++n;
      Out.push_back(static_cast<std::uint8_t>(n - 1));
      Out.insert(Out.end(), Row + p, Row + p + n);
    } else {
      while (n < 128 && p + n < Count && Row[p + n] == Row[p]) ++n;
      Out.push_back(static_cast<std::uint8_t>(1 - static_cast<int>(n)));  // -(n - 1) as a signed byte
      Out.push_back(Row[p]);
    }
    p += n;
  }
}

std::vector<std::uint8_t> PackBitsEncodeRow(const std::vector<std::uint8_t>& Row) {
  std::vector<std::uint8_t> Runs, Out;
  PackBitsEncodeRow(Row.data(), Row.size(), Runs, Out);
  return Out;
}

void TTiffDirectoryWriter::Begin(TStream& Stream) {
  CurrentOptions();
  FBigEndian = TIFFWriteByteOrder == 1;
  FBase = Stream.GetPosition();
  std::uint8_t H[tiff::HeaderSize] = {};
  H[0] = H[1] = FBigEndian ? 'M' : 'I';
  const TPut Put{FBigEndian};
  Put.U16(H + 2, tiff::Magic);
  Stream.Write(H, sizeof H);
  FPendingLink = FBase + 4;
}

void TTiffDirectoryWriter::WriteImage(TStream& Stream, TPixelGraphic& Graphic) {
  if (FPendingLink < 0) FailInternal();
  const TOptions O = CurrentOptions();
  const int Width = Graphic.GetWidth(), Height = Graphic.GetHeight();
  if (Width <= 0 || Height <= 0 || Graphic.GetEmpty()) Fail(PGLangStr(35));
  const TLayout L = LayoutOf(Graphic, O);
  const TPut Put{FBigEndian};

  // Sizes and offsets (relative to the file's start) of the directory and its items.
  const std::int64_t Here = Stream.GetPosition();
  const bool PadDirectory = (Here - FBase) & 1;  // directories start on a word boundary
  const std::int64_t DirOffset = Here - FBase + PadDirectory;
  const int Entries = L.ColorMapSize ? 14 : 13;
  const std::int64_t DirSize = 2 + tiff::EntrySize * Entries + 4;
  const std::int64_t ColorMapOffset = DirOffset + DirSize;
  const std::int64_t BitsOffset = ColorMapOffset + 3 * 2 * L.ColorMapSize;
  const std::int64_t XResOffset = BitsOffset + (L.Samples > 1 ? 2 * L.Samples : 0);
  const std::int64_t YResOffset = XResOffset + 8;
  const std::int64_t StripOffsetsOffset = YResOffset + 8;
  const std::int64_t ByteCountsOffset = StripOffsetsOffset + (L.Strips > 1 ? 4 * L.Strips : 0);
  const std::int64_t DataOffset = ByteCountsOffset + (L.Strips > 1 ? 4 * L.Strips : 0);
  // Refused before anything is written when even the uncompressed data would carry
  // offsets past 32 bits; PackBits output is checked again as it grows.
  if (DataOffset + L.Strips + L.RowBytes * Height > MaxOffset) Fail(PGLangStrS1(41, "File size"));
  const auto Offset = [&](std::int64_t Position) {
    const std::int64_t R = Position - FBase;
    if (R > MaxOffset) Fail(PGLangStrS1(41, "File size"));
    return static_cast<std::uint32_t>(R);
  };

  const std::uint8_t Zero = 0;
  if (PadDirectory) Stream.Write(&Zero, 1);
  const std::int64_t DirPosition = FBase + DirOffset;
  WriteU32At(Stream, Put, FPendingLink, static_cast<std::uint32_t>(DirOffset));
  Stream.SetPosition(DirPosition);

  std::vector<std::uint8_t> Head(static_cast<std::size_t>(DataOffset - DirOffset), 0);
  std::uint8_t* D = Head.data();
  Put.U16(D, static_cast<std::uint32_t>(Entries));
  const auto Entry = [&](int Index, std::uint16_t Tag, std::uint16_t Type, std::int64_t Count, std::int64_t Value) {
    std::uint8_t* E = D + 2 + tiff::EntrySize * Index;
    Put.U16(E, Tag);
    Put.U16(E + 2, Type);
    Put.U32(E + 4, static_cast<std::uint32_t>(Count));
    // A single SHORT stands in the first two bytes of the value field.
    if (Type == tiff::ftShort && Count == 1) Put.U16(E + 8, static_cast<std::uint32_t>(Value));
    else Put.U32(E + 8, static_cast<std::uint32_t>(Value));
  };
  Entry(eNewSubfileType, tiff::NewSubfileType, tiff::ftLong, 1, 0);
  Entry(eImageWidth, tiff::ImageWidth, tiff::ftLong, 1, Width);
  Entry(eImageLength, tiff::ImageLength, tiff::ftLong, 1, Height);
  Entry(eBitsPerSample, tiff::BitsPerSample, tiff::ftShort, L.Samples, L.Samples > 1 ? BitsOffset : L.BitsPerSample);
  Entry(eCompression, tiff::Compression, tiff::ftShort, 1, O.PackBits ? tiff::cPackBits : tiff::cNone);
  Entry(ePhotometric, tiff::PhotometricInterpretation, tiff::ftShort, 1, L.Photometric);
  Entry(eStripOffsets, tiff::StripOffsets, tiff::ftLong, L.Strips, L.Strips > 1 ? StripOffsetsOffset : 0);
  Entry(eSamplesPerPixel, tiff::SamplesPerPixel, tiff::ftShort, 1, L.Samples);
  Entry(eRowsPerStrip, tiff::RowsPerStrip, tiff::ftLong, 1, L.RowsPerStrip);
  Entry(eStripByteCounts, tiff::StripByteCounts, tiff::ftLong, L.Strips, L.Strips > 1 ? ByteCountsOffset : 0);
  Entry(eXResolution, tiff::XResolution, tiff::ftRational, 1, XResOffset);
  Entry(eYResolution, tiff::YResolution, tiff::ftRational, 1, YResOffset);
  Entry(eResolutionUnit, tiff::ResolutionUnit, tiff::ftShort, 1, O.ResolutionUnit);
  if (L.ColorMapSize) Entry(eColorMap, tiff::ColorMap, tiff::ftShort, 3 * L.ColorMapSize, ColorMapOffset);
  // The next-directory offset stays 0 until another image follows.
  const std::int64_t NextLink = DirPosition + 2 + tiff::EntrySize * Entries;

  const auto Item = [&](std::int64_t At) { return D + (At - DirOffset); };
  if (L.ColorMapSize) {
    // The core keeps at most 2^bits entries; the bound guards the read all the same.
    // Components are spread over the full 16-bit scale (x 257, so 255 is 65535): readers
    // that take the high byte get the same value as with x 256, and readers that scale
    // by 65535 get the colour itself rather than one level less.
    const int n = std::min(Graphic.PaletteCount(), L.ColorMapSize);
    const TRGB* Pal = Graphic.GetPaletteData();
    std::uint8_t* C = Item(ColorMapOffset);
    for (int i = 0; i < n; ++i) {
      Put.U16(C + 2 * i, RedOf(Pal[i]) * 257u);
      Put.U16(C + 2 * (L.ColorMapSize + i), GreenOf(Pal[i]) * 257u);
      Put.U16(C + 2 * (2 * L.ColorMapSize + i), BlueOf(Pal[i]) * 257u);
    }
  }
  for (int s = 0; s < L.Samples && L.Samples > 1; ++s) Put.U16(Item(BitsOffset) + 2 * s, 8);
  Put.U32(Item(XResOffset), O.XNum);
  Put.U32(Item(XResOffset) + 4, O.XDen);
  Put.U32(Item(YResOffset), O.YNum);
  Put.U32(Item(YResOffset) + 4, O.YDen);
  Stream.Write(Head.data(), Head.size());
  FPendingLink = NextLink;

  std::vector<std::uint32_t> StripOffsets(static_cast<std::size_t>(L.Strips)), ByteCounts(StripOffsets.size());
  std::vector<std::uint8_t> Row(static_cast<std::size_t>(L.RowBytes)), Runs, Coded;
  if (O.PackBits) {
    Runs.reserve(Row.size());
    Coded.reserve(2 * Row.size());
  }
  {
    TProgressBracket Bracket(Graphic);
    std::int64_t StripStart = 0;
    for (int y = 0; y < Height; ++y) {
      const auto Strip = static_cast<std::size_t>(y / L.RowsPerStrip);
      if (y % L.RowsPerStrip == 0) {
        if ((Stream.GetPosition() - FBase) & 1) Stream.Write(&Zero, 1);
        StripStart = Stream.GetPosition();
        StripOffsets[Strip] = Offset(StripStart);
      }
      FillRow(Graphic, y, L, O.CMYK, Row.data());
      if (O.PackBits) {
        Coded.clear();
        PackBitsEncodeRow(Row.data(), Row.size(), Runs, Coded);
        Stream.Write(Coded.data(), Coded.size());
      } else {
        Stream.Write(Row.data(), Row.size());
      }
      if (y % L.RowsPerStrip == L.RowsPerStrip - 1 || y == Height - 1) {
        const std::int64_t StripEnd = Stream.GetPosition();
        Offset(StripEnd);
        ByteCounts[Strip] = static_cast<std::uint32_t>(StripEnd - StripStart);
      }
      Graphic.Progress(y, Height - 1);  // writing goes on: a half-written file is no result
    }
  }

  const std::int64_t End = Stream.GetPosition();
  if (L.Strips == 1) {
    WriteU32At(Stream, Put, DirPosition + 2 + tiff::EntrySize * eStripOffsets + 8, StripOffsets[0]);
    WriteU32At(Stream, Put, DirPosition + 2 + tiff::EntrySize * eStripByteCounts + 8, ByteCounts[0]);
  } else {
    std::vector<std::uint8_t> Arrays(8 * StripOffsets.size());
    for (std::size_t s = 0; s < StripOffsets.size(); ++s) {
      Put.U32(&Arrays[4 * s], StripOffsets[s]);
      Put.U32(&Arrays[4 * (StripOffsets.size() + s)], ByteCounts[s]);
    }
    Stream.SetPosition(FBase + StripOffsetsOffset);
    Stream.Write(Arrays.data(), Arrays.size());
  }
  Stream.SetPosition(End);
}

TTIFFileFormatWriter::TTIFFileFormatWriter(std::string Extension, bool ShowInFilter)
    : TFileFormatWriter(std::move(Extension), "Tagged Image File Format", ShowInFilter,
                        AllColorResolutions & ~(1u << cr2Colors), true) {}

void TTIFFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  // Refusals come before the header, so that nothing is written.
  CurrentOptions();
  if (Graphic.GetWidth() <= 0 || Graphic.GetHeight() <= 0 || Graphic.GetEmpty()) Fail(PGLangStr(35));
  TTiffDirectoryWriter File;
  File.Begin(Stream);
  File.WriteImage(Stream, Graphic);
  File.End();
}

void TTIFFileFormatWriter::BeginMultiImage(TStream& Stream) { FMulti.Begin(Stream); }

void TTIFFileFormatWriter::WriteMultiImage(TStream& Stream, TPixelGraphic& Graphic) { FMulti.WriteImage(Stream, Graphic); }

void TTIFFileFormatWriter::EndMultiImage(TStream&) { FMulti.End(); }

}  // namespace pg
