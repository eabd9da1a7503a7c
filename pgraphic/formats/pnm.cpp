#include "pgraphic/formats/pnm.h"

#include <array>
#include <limits>
#include <vector>

#include "pgraphic/formats/buffered_io.h"
#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace {

const std::string Prefix = "PBM, PGM, PPM: ";

[[noreturn]] void Fail(const std::string& Text) { throw EPGPxMFileFormatReader(Prefix + Text); }
[[noreturn]] void FailEnd() { Fail(PGLangStr(32)); }
[[noreturn]] void FailWrite(const std::string& Text) { throw EPGPxMFileFormatWriter(Text); }

// Numbers are kept below this bound while they are parsed, so that a run of hundreds of
// digits cannot overflow; every field the image can use is far smaller.
constexpr std::int64_t NumberCap = std::numeric_limits<std::int32_t>::max();

// The header and the ASCII samples, a byte at a time through the shared buffer. It counts
// what it took, so that the data left behind the header is known although the buffer
// has read ahead.
class TPxMInput {
public:
  explicit TPxMInput(TStream& Stream) : FStream(Stream), FStart(Stream.GetPosition()), FIn(Stream) {}

  std::uint8_t Take() {
    std::uint8_t B;
    if (!FIn.Get(B)) FailEnd();
    ++FTaken;
    return B;
  }

  // A byte as number scanning sees it: a comment runs from "#" to the next line feed,
  // which is the byte taken.
  std::uint8_t TakeScanned() {
    std::uint8_t B = Take();
    if (B == '#')
      while (B != 10) B = Take();
    return B;
  }

  // Skips everything up to a digit, reads the digits and takes the byte that ends them.
  int Number() {
    std::uint8_t B;
    do B = TakeScanned(); while (B < '0' || B > '9');
    std::int64_t V = B - '0';
    for (B = TakeScanned(); B >= '0' && B <= '9'; B = TakeScanned()) {
      V = V * 10 + (B - '0');
      if (V > NumberCap) V = NumberCap;
    }
    return static_cast<int>(V);
  }

  // A plain PBM pixel: the next digit on its own, since rows are commonly written as
  // runs of digits without separators ("0110" is four pixels).
  bool Bit() {
    std::uint8_t B;
    do B = TakeScanned(); while (B < '0' || B > '9');
    return B != '0';
  }

  // Stream position just behind the bytes taken, and the data from there on.
  std::int64_t Position() const { return FStart + FTaken; }
  std::int64_t Left() const { return FStream.GetSize() - Position(); }

private:
  TStream& FStream;
  const std::int64_t FStart;
  std::int64_t FTaken = 0;
  TBufferedInput FIn;
};

struct THeader {
  int Type;  // 1 to 6
  bool Binary() const { return Type >= 4; }
  int Kind() const { return (Type - 1) % 3; }  // 0 bitmap, 1 grey, 2 colour
  int BitCountNum() const { return Kind() == 0 ? 0 : Kind() == 1 ? 2 : 3; }
};

THeader ReadMagic(TPxMInput& In) {
  if (In.Take() != 'P') Fail(PGLangStrS1(34, "PBM, PGM, PPM"));
  const std::uint8_t T = In.Take();
  if (T < '1' || T > '6') Fail(PGLangStr(33));
  return {T - '0'};
}

// Sample value to 0..255. Samples above maxval are capped at white rather than wrapped.
inline std::uint8_t Scale(int Sample, int MaxVal) {
  const std::int64_t V = static_cast<std::int64_t>(Sample) * 255 / MaxVal;
  return static_cast<std::uint8_t>(V > 255 ? 255 : V);
}

void ReadAsciiRows(TPxMInput& In, TPixelGraphic& G, int Kind, int MaxVal) {
  const int Width = G.GetWidth(), Height = G.GetHeight();
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* Out = G.GetScanLine(y);
    if (Kind == 0) {
      // Any digit but 0 is black, index 0 of the black-and-white palette.
      for (int x = 0; x < Width; ++x) {
        const std::uint8_t Mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
        if (In.Bit()) Out[x >> 3] &= static_cast<std::uint8_t>(~Mask); else Out[x >> 3] |= Mask;
      }
    } else if (Kind == 1) {
      for (int x = 0; x < Width; ++x) Out[x] = Scale(In.Number(), MaxVal);
    } else {
      for (int x = 0; x < Width; ++x, Out += 3) {
        Out[2] = Scale(In.Number(), MaxVal);
        Out[1] = Scale(In.Number(), MaxVal);
        Out[0] = Scale(In.Number(), MaxVal);
      }
    }
    if (G.Progress(y, Height)) return;
  }
}

// Binary rows come straight from the stream, which stands at the first sample. A short
// row keeps the samples that arrived.
void ReadBinaryRows(TStream& Stream, TPixelGraphic& G, int Kind, int MaxVal) {
  const int Width = G.GetWidth(), Height = G.GetHeight();
  std::array<std::uint8_t, 256> Lut;
  for (int i = 0; i < 256; ++i) Lut[static_cast<std::size_t>(i)] = Scale(i, MaxVal);
  const std::size_t RowBytes = Kind == 0 ? (static_cast<std::size_t>(Width) + 7) / 8
                                         : static_cast<std::size_t>(Width) * (Kind == 2 ? 3 : 1);
  std::vector<std::uint8_t> Buf(Kind == 2 ? RowBytes : 0);
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* Out = G.GetScanLine(y);
    std::size_t Got;
    if (Kind == 0) {
      Got = Stream.Read(Out, RowBytes);
      for (std::size_t i = 0; i < Got; ++i) Out[i] = static_cast<std::uint8_t>(~Out[i]);
    } else if (Kind == 1) {
      Got = Stream.Read(Out, RowBytes);
      if (MaxVal != 255)
        for (std::size_t i = 0; i < Got; ++i) Out[i] = Lut[Out[i]];
    } else {
      Got = Stream.Read(Buf.data(), RowBytes);
      const std::uint8_t* In = Buf.data();
      for (std::size_t x = 0; x < Got / 3; ++x, In += 3, Out += 3) {
        Out[0] = Lut[In[2]];
        Out[1] = Lut[In[1]];
        Out[2] = Lut[In[0]];
      }
    }
    if (Got < RowBytes) FailEnd();
    if (G.Progress(y, Height)) return;
  }
}

void ReadPxM(TStream& Stream, TPixelGraphic& G) {
  TPxMInput In(Stream);
  const THeader H = ReadMagic(In);
  const int Kind = H.Kind();
  G.SetFormat(0, 0, H.BitCountNum());
  if (Kind < 2) {
    G.SetPaletteCount(0);  // a standard palette is set up afresh, whatever was there
    G.SetPaletteIdent(Kind == 0 ? pBlackWhite : pGray256);
  }
  const int Width = In.Number();
  const int Height = In.Number();
  const int MaxVal = Kind == 0 ? 1 : In.Number();
  // Maxval 0 would divide by zero; binary samples are single bytes.
  if (Width < 1 || Height < 1 || MaxVal < 1 || (H.Binary() && MaxVal > 255)) Fail(PGLangStr(30));

  // A binary row is stored whole; an ASCII sample is at least a digit and the byte that
  // ends it (a plain PBM pixel one digit). A file that cannot hold that much ends early
  // anyway: refuse it before its memory is taken.
  const std::int64_t Samples = static_cast<std::int64_t>(Width) * (Kind == 2 ? 3 : 1);
  const std::int64_t FileRowBytes = H.Binary() ? (Kind == 0 ? (Samples + 7) / 8 : Samples) : Kind == 0 ? Samples : 2 * Samples;
  if (!PlausibleImageSize(FileRowBytes, Height, In.Left(), 1)) FailEnd();

  G.SetFormat(Width, Height, H.BitCountNum());
  G.ProgressStart();
  try {
    if (H.Binary()) {
      Stream.SetPosition(In.Position());
      ReadBinaryRows(Stream, G, Kind, MaxVal);
    } else {
      ReadAsciiRows(In, G, Kind, MaxVal);
    }
  } catch (...) {
    G.ProgressEnd();
    throw;
  }
  G.ProgressEnd();
}

// Decimal texts of 0..255, for the ASCII writers.
struct TDecimal {
  std::uint8_t Length;
  char Digits[3];
};

constexpr std::array<TDecimal, 256> MakeDecimals() {
  std::array<TDecimal, 256> D{};
  for (int i = 0; i < 256; ++i) {
    TDecimal& E = D[static_cast<std::size_t>(i)];
    if (i >= 100) E.Digits[E.Length++] = static_cast<char>('0' + i / 100);
    if (i >= 10) E.Digits[E.Length++] = static_cast<char>('0' + i / 10 % 10);
    E.Digits[E.Length++] = static_cast<char>('0' + i % 10);
  }
  return D;
}

constexpr std::array<TDecimal, 256> Decimals = MakeDecimals();

inline void PutDecimal(TBufferedOutput& Out, std::uint8_t V) {
  const TDecimal& E = Decimals[V];
  Out.Put(E.Digits, E.Length);
}

void PutText(TBufferedOutput& Out, const std::string& S) { Out.Put(S.data(), S.size()); }

void WriteAsciiRow(TBufferedOutput& Out, const std::uint8_t* Row, int Width, int Kind) {
  for (int x = 0; x < Width; ++x) {
    if (x > 0) Out.Put(' ');
    if (Kind == 0) {
      Out.Put((Row[x >> 3] >> (7 - (x & 7))) & 1 ? '0' : '1');  // index 0 is black
    } else if (Kind == 1) {
      PutDecimal(Out, Row[x]);
    } else {
      const std::uint8_t* P = Row + 3 * static_cast<std::size_t>(x);
      PutDecimal(Out, P[2]);
      Out.Put(' ');
      PutDecimal(Out, P[1]);
      Out.Put(' ');
      PutDecimal(Out, P[0]);
    }
  }
  Out.Put('\n');
}

void WriteBinaryRow(TBufferedOutput& Out, const std::uint8_t* Row, int Width, int Kind, std::vector<std::uint8_t>& Buf) {
  if (Kind == 1) {
    Out.Put(Row, static_cast<std::size_t>(Width));
    return;
  }
  if (Kind == 0) {
    for (std::size_t i = 0; i < Buf.size(); ++i) Buf[i] = static_cast<std::uint8_t>(~Row[i]);
  } else {
    std::uint8_t* P = Buf.data();
    for (int x = 0; x < Width; ++x, Row += 3, P += 3) {
      P[0] = Row[2];
      P[1] = Row[1];
      P[2] = Row[0];
    }
  }
  Out.Put(Buf.data(), Buf.size());
}

}  // namespace

bool TPxMFileFormatReader::IsSignature(const TSignatureHeader& Header) const {
  return Header[0] == 'P' && (Header[1] == FAsciiType || Header[1] == FAsciiType + 3);
}

void TPxMFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  if (Index != 0) throw EPGPxMFileFormatReader("PxM: " + PGLangStrS1(7, "Index"));
  Graphic.SetGamma(DefaultGamma);
  ReadPxM(Stream, Graphic);
}

void TPxMFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  TPxMInput In(Stream);
  const THeader H = ReadMagic(In);
  Info.ImageCount = 1;
  Info.SubFormat = H.Binary() ? "Binary" : "ASCII";
  Info.BitCount = H.Kind() == 0 ? 1 : H.Kind() == 1 ? 8 : 24;
  Info.Colors = H.Kind() == 0 ? "2" : H.Kind() == 1 ? "256" : "16.7M";
  Info.Width = In.Number();
  Info.Height = In.Number();
}

void TPXMFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  const int Kind = Extension == "pbm" ? 0 : Extension == "pgm" ? 1 : Extension == "ppm" ? 2 : -1;
  if (Kind < 0) FailWrite(Prefix + PGLangStrS1(19, Extension));
  const int Width = Graphic.GetWidth(), Height = Graphic.GetHeight();
  if (Width < 1 || Height < 1) FailWrite(Prefix + PGLangStr(35));
  static const char* const Names[] = {"PBM: ", "PGM: ", "PPM: "};
  const bool Suits = Kind == 0   ? Graphic.GetBitCountNum() == 0 && Graphic.PaletteIdent() == pBlackWhite
                     : Kind == 1 ? Graphic.GetBitCountNum() == 2 && Graphic.PaletteIdent() == pGray256
                                 : Graphic.GetBitCountNum() == 3;
  if (!Suits) FailWrite(Names[Kind] + PGLangStr(36));

  const bool Binary = PXMWriteBinary;
  TBufferedOutput Out(Stream);
  std::string Head = "P";
  Head += static_cast<char>('1' + Kind + (Binary ? 3 : 0));
  Head += '\n' + std::to_string(Width) + ' ' + std::to_string(Height) + '\n';
  if (Kind > 0) Head += "255\n";
  PutText(Out, Head);

  std::vector<std::uint8_t> Buf(Kind == 0 ? (static_cast<std::size_t>(Width) + 7) / 8 : Kind == 2 ? 3 * static_cast<std::size_t>(Width) : 0);
  Graphic.ProgressStart();
  try {
    for (int y = 0; y < Height; ++y) {
      const std::uint8_t* Row = Graphic.GetScanLine(y);
      if (Binary) WriteBinaryRow(Out, Row, Width, Kind, Buf); else WriteAsciiRow(Out, Row, Width, Kind);
      Graphic.Progress(y, Height);  // every row is written: an abort is not honoured
    }
    Out.Flush();
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
}

}  // namespace pg
