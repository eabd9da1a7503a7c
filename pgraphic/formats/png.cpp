#include "pgraphic/formats/png.h"

#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

namespace pg {

namespace {

// We use libpng's own headers, so a mismatch of structure layouts can only come from a
// different library at run time, which the version check catches; this guards the one
// layout we hand over as a plain byte table.
static_assert(sizeof(png_color) == 3, "png_color must be three bytes, red, green, blue");

// The valid-chunk flags that the info text lists, in that order.
constexpr struct {
  png_uint_32 Flag;
  const char* Name;
} ChunkNames[] = {{PNG_INFO_gAMA, "gama"}, {PNG_INFO_sBIT, "sbit"}, {PNG_INFO_cHRM, "chrm"}, {PNG_INFO_PLTE, "plte"},
                  {PNG_INFO_tRNS, "trns"}, {PNG_INFO_bKGD, "bkgd"}, {PNG_INFO_hIST, "hist"}, {PNG_INFO_pHYs, "phys"},
                  {PNG_INFO_oFFs, "offs"}, {PNG_INFO_tIME, "time"}};
constexpr png_uint_32 ListedChunks = 0x3FF;
constexpr png_uint_32 DetailChunks = 0x2FF;  // a lone oFFs does not count

// Chunks that current libpng interprets but our reader deliberately does not: sRGB and
// iCCP would otherwise stand in for a gAMA chunk the file does not have (and change its
// colours through the gamma correction on load), and checking them, like the others,
// only produces warnings about data we never use. They are skipped like any unknown
// ancillary chunk.
constexpr png_byte IgnoredChunks[] = "sRGB\0iCCP\0iTXt\0sPLT\0sCAL\0pCAL\0eXIf";
constexpr int IgnoredChunkCount = 7;

[[noreturn]] void Fail(const std::string& Text) { throw EPGPNGFileFormatReaderWriter("PNG: " + Text); }

void CheckLibraryVersions() {
  if (png_access_version_number() != PNG_LIBPNG_VER || std::strcmp(zlibVersion(), ZLIB_VERSION) != 0)
    Fail("Invalid library version");
}

// ---------------------------------------------------------------- callbacks
//
// libpng reports errors by calling our error function, which must not return: it jumps
// back to the setjmp in Guarded below. Nothing in the frames it leaves may need C++
// clean-up, so the callbacks do their C++ work (which may throw) in noexcept helpers that
// have returned before the jump, and keep only plain values in their own frames.

// What libpng's callbacks need from the codec call; it lives in the codec's C++ frame,
// outside every frame a jump leaves.
class TPngContext {
public:
  TPngContext(TStream& Stream, TPGWarningAction WarningAction) : FStream(Stream), FWarningAction(WarningAction) {}

  // The error text for the exception, unless something more precise came first.
  void RecordError(const char* Text) noexcept {
    if (FStopped) return;
    FStopped = true;
    try {
      FMessage = Text ? Text : "";
    } catch (...) {
      FPending = std::current_exception();
    }
  }

  // True when the warning must stop libpng (the reason is recorded).
  bool Warn(const char* Text) noexcept {
    try {
      switch (PGHandleWarning(FWarningAction, "PNG " + PGLangStr(28), Text ? Text : "")) {
        case TPGWarningOutcome::Continue:
          return false;
        case TPGWarningOutcome::Cancelled:
          FMessage = PGLangStr(29);
          break;
        case TPGWarningOutcome::Raise:
          FMessage = Text ? Text : "";
          break;
      }
    } catch (...) {
      FPending = std::current_exception();
    }
    FStopped = true;
    return true;
  }

  // Stream exceptions are kept and raised again as they are once libpng is left.
  bool Read(png_bytep Data, std::size_t Length) noexcept {
    try {
      std::size_t Done = 0;
      while (Done < Length) {
        const std::size_t n = FStream.Read(Data + Done, Length - Done);
        if (n == 0) return false;
        Done += n;
      }
      return true;
    } catch (...) {
      FPending = std::current_exception();
      FStopped = true;
      return false;
    }
  }

  bool Write(png_const_bytep Data, std::size_t Length) noexcept {
    try {
      FStream.Write(Data, Length);
      return true;
    } catch (...) {
      FPending = std::current_exception();
      FStopped = true;
      return false;
    }
  }

  [[noreturn]] void Raise() const {
    if (FPending) std::rethrow_exception(FPending);
    Fail(FMessage);
  }

  TStream& Stream() const { return FStream; }

private:
  TStream& FStream;
  const TPGWarningAction FWarningAction;
  bool FStopped = false;
  std::string FMessage;
  std::exception_ptr FPending;
};

TPngContext& ContextOf(png_const_structrp Png, bool IO) {
  return *static_cast<TPngContext*>(IO ? png_get_io_ptr(Png) : png_get_error_ptr(Png));
}

void OnError(png_structp Png, png_const_charp Text) noexcept {
  ContextOf(Png, false).RecordError(Text);
  png_longjmp(Png, 1);
}

void OnWarning(png_structp Png, png_const_charp Text) noexcept {
  if (ContextOf(Png, false).Warn(Text)) png_error(Png, "");
}

void OnRead(png_structp Png, png_bytep Data, std::size_t Length) noexcept {
  if (!ContextOf(Png, true).Read(Data, Length)) png_error(Png, "Read Error");
}

void OnWrite(png_structp Png, png_bytep Data, std::size_t Length) noexcept {
  if (!ContextOf(Png, true).Write(Data, Length)) png_error(Png, "Write Error");
}

void OnFlush(png_structp) noexcept {}

// Reading takes libpng's memory from here. libpng only warns about a chunk longer than
// its own limit (8 MB) and then asks for that much memory, so a few bytes claiming a 2 GB
// text chunk would cost 2 GB. No request for a readable file comes near the cap (the
// largest are rows of at most a million 64-bit pixels); a refused one is a null result,
// which libpng reports as its own out-of-memory warning or error. Writing keeps libpng's
// own allocation: our images may have longer rows.
constexpr png_alloc_size_t MaxLibraryRequest = 32u << 20;

png_voidp OnMalloc(png_structp, png_alloc_size_t Size) noexcept { return Size <= MaxLibraryRequest ? std::malloc(Size) : nullptr; }

void OnFree(png_structp, png_voidp Block) noexcept { std::free(Block); }

// ---------------------------------------------------------------- guarded steps
//
// Every libpng call but creation and destruction runs in a step: a function with plain
// values only, called through Guarded, whose setjmp catches libpng's error jump. The
// step's inputs and outputs travel in a job record of plain values.

struct TPngJob {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TPngContext* Context = nullptr;

  // The file's header, as png_read_info leaves it.
  png_uint_32 Width = 0, Height = 0;
  int BitDepth = 0, ColorType = 0, Interlace = 0, Channels = 0;
  png_uint_32 Valid = 0;
  png_fixed_point FileGamma = 0;
  png_color Palette[PNG_MAX_PALETTE_LENGTH] = {};
  int PaletteCount = 0;
  png_color_16 FileBackground = {};

  // Reading: the transformations asked for and what they give.
  bool Compose = false;
  png_color_16 Background = {};
  int BackgroundGammaCode = 0;
  int Passes = 1;
  png_size_t RowBytes = 0;
  png_bytep Row = nullptr;

  // Writing.
  png_const_bytep WriteRow = nullptr;
  png_const_colorp WritePalette = nullptr;
  bool WriteGamma = false;
  double Gamma = 0;
};
static_assert(std::is_trivially_destructible_v<TPngJob>);

using TPngStep = void (*)(TPngJob&) noexcept;

// The only setjmp of the codec. Returns false when libpng raised an error; the caller
// raises the exception after this frame is gone, and calls no more libpng functions on
// these structures but their destruction.
bool Guarded(TPngJob& Job, TPngStep Step) noexcept {
  if (setjmp(png_jmpbuf(Job.Png))) return false;
  Step(Job);
  return true;
}

void Run(TPngJob& Job, TPngStep Step) {
  if (!Guarded(Job, Step)) Job.Context->Raise();
}

void StepReadInfo(TPngJob& J) noexcept {
  png_set_read_fn(J.Png, J.Context, OnRead);
  png_set_keep_unknown_chunks(J.Png, PNG_HANDLE_CHUNK_NEVER, IgnoredChunks, IgnoredChunkCount);
  png_read_info(J.Png, J.Info);
  int Compression, Filter;
  png_get_IHDR(J.Png, J.Info, &J.Width, &J.Height, &J.BitDepth, &J.ColorType, &J.Interlace, &Compression, &Filter);
  J.Channels = png_get_channels(J.Png, J.Info);
  J.Valid = png_get_valid(J.Png, J.Info, ListedChunks);
  if (J.Valid & PNG_INFO_gAMA) png_get_gAMA_fixed(J.Png, J.Info, &J.FileGamma);
  png_colorp Palette = nullptr;
  if ((J.Valid & PNG_INFO_PLTE) && png_get_PLTE(J.Png, J.Info, &Palette, &J.PaletteCount) && Palette) {
    if (J.PaletteCount > PNG_MAX_PALETTE_LENGTH) J.PaletteCount = PNG_MAX_PALETTE_LENGTH;
    std::memcpy(J.Palette, Palette, sizeof(png_color) * static_cast<std::size_t>(J.PaletteCount));
  } else {
    J.PaletteCount = 0;
  }
  png_color_16p Background = nullptr;
  if ((J.Valid & PNG_INFO_bKGD) && png_get_bKGD(J.Png, J.Info, &Background) && Background) J.FileBackground = *Background;
}

void StepStartRows(TPngJob& J) noexcept {
  if (J.Compose) {
    // Compose on the samples as stored: with a gamma in play libpng would compose in
    // linear light instead.
    png_set_gamma_fixed(J.Png, PNG_FP_1, PNG_FP_1);
    png_set_background_fixed(J.Png, &J.Background, J.BackgroundGammaCode, 0, PNG_FP_1);
  }
  if (J.BitDepth == 16) png_set_strip_16(J.Png);
  if (J.ColorType == PNG_COLOR_TYPE_RGB || J.ColorType == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(J.Png);
  J.Passes = png_set_interlace_handling(J.Png);
  png_read_update_info(J.Png, J.Info);
  J.RowBytes = png_get_rowbytes(J.Png, J.Info);
}

void StepReadRow(TPngJob& J) noexcept { png_read_row(J.Png, J.Row, nullptr); }

void StepReadEnd(TPngJob& J) noexcept { png_read_end(J.Png, nullptr); }

void StepWriteEnd(TPngJob& J) noexcept { png_write_end(J.Png, J.Info); }

void StepWriteRow(TPngJob& J) noexcept { png_write_row(J.Png, J.WriteRow); }

void StepWriteInfo(TPngJob& J) noexcept {
  png_set_write_fn(J.Png, J.Context, OnWrite, OnFlush);
  // Conditions libpng calls benign (an index beyond the palette) are warnings when
  // reading; writing treats them alike instead of failing the save.
  png_set_benign_errors(J.Png, 1);
  png_set_IHDR(J.Png, J.Info, J.Width, J.Height, J.BitDepth, J.ColorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (J.ColorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(J.Png, J.Info, J.WritePalette, J.PaletteCount);
  if (J.WriteGamma) png_set_gAMA(J.Png, J.Info, J.Gamma);
  png_write_info(J.Png, J.Info);
  png_set_bgr(J.Png);
}

// ---------------------------------------------------------------- structures

class TPngReadStructs {
public:
  explicit TPngReadStructs(TPngContext& Context) {
    Job.Context = &Context;
    Job.Png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &Context, OnError, OnWarning, nullptr, OnMalloc, OnFree);
    if (!Job.Png) Fail(PGLangStrS1(31, "png_create_read_struct"));
    Job.Info = png_create_info_struct(Job.Png);
    if (!Job.Info) {
      png_destroy_read_struct(&Job.Png, nullptr, nullptr);
      Fail(PGLangStrS1(31, "png_create_info_struct"));
    }
  }
  ~TPngReadStructs() { png_destroy_read_struct(&Job.Png, &Job.Info, nullptr); }
  TPngReadStructs(const TPngReadStructs&) = delete;
  TPngReadStructs& operator=(const TPngReadStructs&) = delete;

  TPngJob Job;
};

class TPngWriteStructs {
public:
  explicit TPngWriteStructs(TPngContext& Context) {
    Job.Context = &Context;
    Job.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Context, OnError, OnWarning);
    if (!Job.Png) Fail(PGLangStrS1(31, "png_create_write_struct"));
    Job.Info = png_create_info_struct(Job.Png);
    if (!Job.Info) {
      png_destroy_write_struct(&Job.Png, nullptr);
      Fail(PGLangStrS1(31, "png_create_info_struct"));
    }
  }
  ~TPngWriteStructs() { png_destroy_write_struct(&Job.Png, &Job.Info); }
  TPngWriteStructs(const TPngWriteStructs&) = delete;
  TPngWriteStructs& operator=(const TPngWriteStructs&) = delete;

  TPngJob Job;
};

// ---------------------------------------------------------------- reading helpers

int MaxSample(int BitDepth) { return (1 << BitDepth) - 1; }

// The file's bKGD colour with 8 bits per channel.
TRGB FileBackgroundColor(const TPngJob& J) {
  const png_color_16& B = J.FileBackground;
  if (J.ColorType == PNG_COLOR_TYPE_PALETTE) return RGBColor(B.red & 0xFF, B.green & 0xFF, B.blue & 0xFF);
  const auto To8 = [&](int v) { return J.BitDepth == 16 ? v >> 8 : J.BitDepth < 8 ? v * 255 / MaxSample(J.BitDepth) : v; };
  if (!(J.ColorType & PNG_COLOR_MASK_COLOR)) {
    const int g = To8(B.gray);
    return RGBColor(g, g, g);
  }
  return RGBColor(To8(B.red), To8(B.green), To8(B.blue));
}

// The image's background colour in the file's sample scale. Grey files below 8 bits
// compare and replace whole samples, so their grey is the nearest level of that depth.
png_color_16 ScreenBackground(TRGB Color, int BitDepth) {
  const int Scale = BitDepth == 16 ? 256 : 1;
  const int R = RedOf(Color) * Scale, G = GreenOf(Color) * Scale, B = BlueOf(Color) * Scale;
  int Gray = (R + G + B) / 3;
  if (BitDepth < 8) Gray = (Gray * MaxSample(BitDepth) + 127) / 255;
  png_color_16 Result{};
  Result.red = static_cast<png_uint_16>(R);
  Result.green = static_cast<png_uint_16>(G);
  Result.blue = static_cast<png_uint_16>(B);
  Result.gray = static_cast<png_uint_16>(Gray);
  return Result;
}

// When a 16-bit file is composed and then cut to 8 bits, libpng expects the background
// with 8 bits and multiplies it by 257 (modulo 2^16) itself. 257 is odd, so handing over
// the 16-bit value times its inverse modulo 2^16 (65281) makes libpng compose on exactly
// the 16-bit value wanted.
png_uint_16 BeforeLibpngWidens(png_uint_16 Value16) { return static_cast<png_uint_16>(Value16 * 65281u); }

// 2-bit samples arrive packed four to a byte at the start of a 4-bit row; rewritten
// from the end of the row, no sample is overwritten before it is read.
void WidenTwoBitRow(std::uint8_t* Row, int Width) {
  for (int x = Width - 1; x >= 0; --x) {
    const int v = (Row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
    std::uint8_t& Target = Row[x >> 1];
    Target = static_cast<std::uint8_t>((x & 1) ? (Target & 0xF0) | v : (Target & 0x0F) | v << 4);
  }
}

// Deflate cannot expand data more than 1032 times. A header asking for far more pixel
// bytes than the rest of the file could ever give is refused before its memory is taken;
// reading it would end in an error anyway.
void CheckPlausibleSize(const TPngJob& J, TStream& Stream) {
  const std::uint64_t RowBytes = (static_cast<std::uint64_t>(J.Width) * static_cast<std::uint64_t>(J.Channels * J.BitDepth) + 7) / 8;
  if (!PlausibleImageSize(static_cast<std::int64_t>(RowBytes), J.Height, Stream.Remaining(), 1032)) Fail(PGLangStr(32));
}

}  // namespace

bool TPNGFileFormatReader::IsSignature(const TSignatureHeader& Header) const {
  static constexpr std::uint8_t Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  return std::memcmp(Header.data(), Signature, sizeof Signature) == 0;
}

void TPNGFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));
  CheckLibraryVersions();
  Graphic.SetGamma(DefaultGamma);
  TPngContext Context(Stream, Graphic.GetReadWarningAction());
  TPngReadStructs Structs(Context);
  TPngJob& J = Structs.Job;
  Run(J, StepReadInfo);

  // Depth and palette.
  int Num;
  const bool WidenRows = J.Channels < 3 && J.BitDepth == 2;
  if (J.Channels >= 3) Num = 3;
  else if (J.BitDepth == 1) Num = 0;
  else if (J.BitDepth <= 4) Num = 1;
  else Num = 2;
  if (Num < 3) {
    if (J.ColorType == PNG_COLOR_TYPE_PALETTE) {
      // As stored: transparency does not change the palette.
      Graphic.SetPaletteCount(0);
      Graphic.SetPaletteCount(J.PaletteCount);
      for (int i = 0; i < Graphic.PaletteCount(); ++i) {
        const png_color& C = J.Palette[i];
        Graphic.SetPaletteEntry(i, RGBColor(C.red, C.green, C.blue));
      }
    } else {
      Graphic.SetPaletteIdent(J.BitDepth == 1 ? pBlackWhite : J.BitDepth == 2 ? pGray4 : J.BitDepth == 4 ? pGray16 : pGray256);
    }
  }

  // Transparency is composed onto a background colour.
  bool UseFileBackground = false;
  if ((J.Valid & PNG_INFO_tRNS) || (J.ColorType & PNG_COLOR_MASK_ALPHA)) {
    J.Compose = true;
    UseFileBackground = (J.Valid & PNG_INFO_bKGD) && PNGUseFileBackground;
    if (UseFileBackground) {
      J.Background = J.FileBackground;
      J.BackgroundGammaCode = PNG_BACKGROUND_GAMMA_FILE;
    } else {
      J.Background = ScreenBackground(Graphic.GetBackGroundColor(), J.BitDepth);
      J.BackgroundGammaCode = PNG_BACKGROUND_GAMMA_SCREEN;
    }
    if (J.BitDepth == 16) {
      J.Background.red = BeforeLibpngWidens(J.Background.red);
      J.Background.green = BeforeLibpngWidens(J.Background.green);
      J.Background.blue = BeforeLibpngWidens(J.Background.blue);
      J.Background.gray = BeforeLibpngWidens(J.Background.gray);
    }
  }

  // The file's gamma is recorded; correcting the pixels is left to the load.
  Graphic.SetGamma(DefaultGamma);
  if ((J.Valid & PNG_INFO_gAMA) && J.FileGamma > 0)
    Graphic.SetGamma(1.0L / (static_cast<float>(J.FileGamma) / 100000.0f));

  Run(J, StepStartRows);
  CheckPlausibleSize(J, Stream);
  const int Width = static_cast<int>(J.Width), Height = static_cast<int>(J.Height);
  Graphic.SetFormat(Width, Height, Num);
  if (J.RowBytes > static_cast<png_size_t>(Graphic.BytesPerLine())) Fail(PGLangStr(30));
  if (UseFileBackground) Graphic.SetBackGroundColor(FileBackgroundColor(J));

  Graphic.ProgressStart();
  bool Aborted = false;
  try {
    if (Width > 0 && Height > 0) {
      for (int Pass = 0; Pass < J.Passes && !Aborted; ++Pass) {
        for (int r = 0; r < Height && !Aborted; ++r) {
          J.Row = Graphic.GetScanLine(r);
          Run(J, StepReadRow);
          Aborted = Graphic.Progress(Pass * Height + r, Height * J.Passes);
        }
      }
    }
    if (WidenRows && !Aborted)
      for (int r = 0; r < Height; ++r) WidenTwoBitRow(Graphic.GetScanLine(r), Width);
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
  if (!Aborted) Run(J, StepReadEnd);
}

void TPNGFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  CheckLibraryVersions();
  TPngContext Context(Stream, pgwaRaise);
  TPngReadStructs Structs(Context);
  TPngJob& J = Structs.Job;
  Run(J, StepReadInfo);

  Info.SubFormat = "GrayScale";
  if (J.ColorType & PNG_COLOR_MASK_PALETTE) Info.SubFormat = "palette";
  else if (J.ColorType & PNG_COLOR_MASK_COLOR) Info.SubFormat = "RGB";
  if (J.ColorType & PNG_COLOR_MASK_ALPHA) Info.SubFormat += ", alpha";
  if (J.Interlace == PNG_INTERLACE_ADAM7) Info.SubFormat += ", interlaced";

  if (J.Valid & DetailChunks) {
    Info.Details = "(";
    for (const auto& C : ChunkNames) {
      if (!(J.Valid & C.Flag)) continue;
      if (Info.Details.size() > 1) Info.Details += ", ";
      Info.Details += C.Name;
    }
    Info.Details += ")";
  }

  Info.Width = static_cast<int>(J.Width);
  Info.Height = static_cast<int>(J.Height);
  Info.BitCount = J.Channels * J.BitDepth;
  switch (Info.BitCount) {
    case 1: Info.Colors = "2"; break;
    case 2: Info.Colors = "4"; break;
    case 4: Info.Colors = "16"; break;
    case 8: Info.Colors = "256"; break;
    case 16: Info.Colors = "64K?"; break;
    case 24: Info.Colors = "16.7M"; break;
    case 32: Info.Colors = "16.7M?"; break;
    default: Info.Colors = "?"; break;
  }
}

void TPNGFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  CheckLibraryVersions();
  // A PNG file cannot hold an empty image; say so before libpng does it in two steps.
  if (Graphic.GetWidth() <= 0 || Graphic.GetHeight() <= 0) Fail(PGLangStr(35));
  TPngContext Context(Stream, Graphic.GetReadWarningAction());
  TPngWriteStructs Structs(Context);
  TPngJob& J = Structs.Job;
  J.Width = static_cast<png_uint_32>(Graphic.GetWidth());
  J.Height = static_cast<png_uint_32>(Graphic.GetHeight());

  std::vector<png_color> Palette;  // freed on every path, after the structures
  if (Graphic.GetBitCountNum() == 3) {
    J.BitDepth = 8;
    J.ColorType = PNG_COLOR_TYPE_RGB;
  } else {
    J.BitDepth = Graphic.GetBitCount();
    J.ColorType = Graphic.PaletteIdent() == pGray256 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
  }
  if (J.ColorType == PNG_COLOR_TYPE_PALETTE) {
    Palette.resize(static_cast<std::size_t>(Graphic.PaletteCount()));
    for (std::size_t i = 0; i < Palette.size(); ++i) {
      const TRGB C = Graphic.GetPaletteEntry(static_cast<int>(i));
      Palette[i] = {static_cast<png_byte>(RedOf(C)), static_cast<png_byte>(GreenOf(C)), static_cast<png_byte>(BlueOf(C))};
    }
    J.WritePalette = Palette.data();
    J.PaletteCount = Graphic.PaletteCount();
  }
  J.WriteGamma = PNGWriteGamma;
  J.Gamma = static_cast<float>(1.0L / Graphic.GetGamma());
  Run(J, StepWriteInfo);

  const int Height = Graphic.GetHeight();
  Graphic.ProgressStart();
  try {
    for (int r = 0; r < Height; ++r) {
      J.WriteRow = Graphic.GetScanLine(r);
      Run(J, StepWriteRow);
      Graphic.Progress(r, Height - 1);  // every row is written: an abort is not honoured
    }
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
  Run(J, StepWriteEnd);
}

}  // namespace pg
