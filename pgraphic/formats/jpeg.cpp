#include "pgraphic/formats/jpeg.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers
#include <cstdlib>
#include <cstring>
#include <exception>
#include <type_traits>

#include <jpeglib.h>
#include <jerror.h>

#include "pgraphic/formats/plausible_size.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/settings.h"

// Rows go between the library and the image's memory as they are: one byte per sample,
// and three-component rows in the library's blue-green-red colour space. The version
// and structure sizes are checked by the library itself when the objects are created.
static_assert(BITS_IN_JSAMPLE == 8 && sizeof(JSAMPLE) == 1, "rows are handed over as bytes");
#ifndef JCS_EXTENSIONS
#error "the JPEG library has no blue-green-red colour space (JCS_EXT_BGR)"
#endif

namespace pg {

namespace {

constexpr std::size_t StreamBufferSize = 4096;

[[noreturn]] void Fail(const std::string& Text) { throw EPGJPGFileFormatReaderWriter("JPG: " + Text); }

// The library reports errors by calling back and must not be returned to afterwards; it
// is left with a long jump. To skip no destructor, every library call runs inside
// Guarded below, whose frame and callees own nothing with a destructor, and the
// callbacks catch every C++ exception before they jump. Only after Guarded has returned
// is the failure raised as a C++ exception.

enum class TStop { None, LibraryError, Warning, Cancelled, Exception };

// The state of one reader or writer call, reached from the callbacks through client_data.
struct TJPGCall {
  jpeg_error_mgr Err{};
  std::jmp_buf Jump{};
  bool Armed = false;  // Jump belongs to a Guarded frame that is running
  TPGWarningAction WarningAction = pgwaRaise;
  TStop Stop = TStop::None;
  char Message[JMSG_LENGTH_MAX] = {};
  std::exception_ptr Exception;

  [[noreturn]] void Raise() const {
    if (Stop == TStop::Exception && Exception) std::rethrow_exception(Exception);
    if (Stop == TStop::Cancelled) Fail(PGLangStr(29));
    Fail(Message);
  }
};

TJPGCall& CallOf(j_common_ptr C) { return *static_cast<TJPGCall*>(C->client_data); }

[[noreturn]] void JumpOut(TJPGCall& Call) noexcept {
  if (!Call.Armed) std::abort();  // a library call outside Guarded: nowhere to go
  std::longjmp(Call.Jump, 1);
}

template <typename Step>
[[gnu::noinline]] bool Guarded(TJPGCall& Call, const Step& S) noexcept {
  static_assert(std::is_trivially_destructible_v<Step>, "a jump out of the step must skip no destructor");
  if (setjmp(Call.Jump) != 0) {
    Call.Armed = false;
    return false;
  }
  Call.Armed = true;
  S();
  Call.Armed = false;
  return true;
}

template <typename Step>
void Run(TJPGCall& Call, const Step& S) {
  if (!Guarded(Call, S)) Call.Raise();
}

// Runs C++ work for a callback; an exception is kept for Raise, and false tells the
// callback to jump out.
template <typename Work>
bool Catching(TJPGCall& Call, const Work& W) noexcept {
  try {
    W();
    return true;
  } catch (...) {
    Call.Exception = std::current_exception();
    Call.Stop = TStop::Exception;
    return false;
  }
}

void ErrorExit(j_common_ptr C) {
  TJPGCall& Call = CallOf(C);
  Call.Stop = TStop::LibraryError;
  if (C->err->msg_code == JERR_BAD_LIB_VERSION)
    std::snprintf(Call.Message, sizeof Call.Message, "%s", "Invalid library version");
  else
    (*C->err->format_message)(C, Call.Message);
  JumpOut(Call);
}

// Library warnings (the library passes on only the first of a call) under the policy.
void OutputMessage(j_common_ptr C) {
  TJPGCall& Call = CallOf(C);
  char Text[JMSG_LENGTH_MAX];
  (*C->err->format_message)(C, Text);
  TPGWarningOutcome Outcome = TPGWarningOutcome::Continue;
  if (!Catching(Call, [&] { Outcome = PGHandleWarning(Call.WarningAction, "JPG " + PGLangStr(28), Text); })) JumpOut(Call);
  if (Outcome == TPGWarningOutcome::Continue) return;
  Call.Stop = Outcome == TPGWarningOutcome::Cancelled ? TStop::Cancelled : TStop::Warning;
  std::memcpy(Call.Message, Text, sizeof Text);
  JumpOut(Call);
}

jpeg_error_mgr* InitErrorManager(TJPGCall& Call) {
  jpeg_std_error(&Call.Err);
  Call.Err.error_exit = ErrorExit;
  Call.Err.output_message = OutputMessage;
  return &Call.Err;
}

// --- the stream as the library's data source -------------------------------------

struct TJPGSource : jpeg_source_mgr {
  TStream* Stream = nullptr;
  bool StartOfFile = true;
  JOCTET Buffer[StreamBufferSize];
};

TJPGSource& SourceOf(j_decompress_ptr D) { return *static_cast<TJPGSource*>(D->src); }

void InitSource(j_decompress_ptr D) { SourceOf(D).StartOfFile = true; }

// Like the library's file source: at the end of the data a warning, then an end marker,
// so that a short file still decodes (padded) unless the warning policy stops it.
boolean FillInputBuffer(j_decompress_ptr D) {
  TJPGSource& S = SourceOf(D);
  std::size_t Got = 0;
  if (!Catching(CallOf(reinterpret_cast<j_common_ptr>(D)), [&] { Got = S.Stream->Read(S.Buffer, StreamBufferSize); }))
    JumpOut(CallOf(reinterpret_cast<j_common_ptr>(D)));
  if (Got == 0) {
    if (S.StartOfFile) ERREXIT(D, JERR_INPUT_EMPTY);
    WARNMS(D, JWRN_JPEG_EOF);
    S.Buffer[0] = 0xFF;
    S.Buffer[1] = JPEG_EOI;
    Got = 2;
  }
  S.next_input_byte = S.Buffer;
  S.bytes_in_buffer = Got;
  S.StartOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr D, long Count) {
  TJPGSource& S = SourceOf(D);
  if (Count <= 0) return;
  while (Count > static_cast<long>(S.bytes_in_buffer)) {
    Count -= static_cast<long>(S.bytes_in_buffer);
    FillInputBuffer(D);  // never suspends
  }
  S.next_input_byte += Count;
  S.bytes_in_buffer -= static_cast<std::size_t>(Count);
}

void TermSource(j_decompress_ptr) {}

// --- the stream as the library's destination --------------------------------------

struct TJPGDestination : jpeg_destination_mgr {
  TStream* Stream = nullptr;
  JOCTET Buffer[StreamBufferSize];
};

TJPGDestination& DestinationOf(j_compress_ptr C) { return *static_cast<TJPGDestination*>(C->dest); }

void InitDestination(j_compress_ptr C) {
  TJPGDestination& D = DestinationOf(C);
  D.next_output_byte = D.Buffer;
  D.free_in_buffer = StreamBufferSize;
}

void WriteOut(j_compress_ptr C, std::size_t Count) {
  TJPGDestination& D = DestinationOf(C);
  TJPGCall& Call = CallOf(reinterpret_cast<j_common_ptr>(C));
  if (Count > 0 && !Catching(Call, [&] { D.Stream->Write(D.Buffer, Count); })) JumpOut(Call);
  D.next_output_byte = D.Buffer;
  D.free_in_buffer = StreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr C) {
  WriteOut(C, StreamBufferSize);  // the whole buffer, whatever free_in_buffer says
  return TRUE;
}

void TermDestination(j_compress_ptr C) { WriteOut(C, StreamBufferSize - DestinationOf(C).free_in_buffer); }

// --- library objects that are destroyed on every path -------------------------------

class TDecompressor {
public:
  TDecompressor(TStream& Stream, TPGWarningAction WarningAction) {
    FCall.WarningAction = WarningAction;
    Info.err = InitErrorManager(FCall);
    Info.client_data = &FCall;
    FSource.Stream = &Stream;
    FSource.init_source = InitSource;
    FSource.fill_input_buffer = FillInputBuffer;
    FSource.skip_input_data = SkipInputData;
    FSource.resync_to_restart = jpeg_resync_to_restart;
    FSource.term_source = TermSource;
    FSource.next_input_byte = nullptr;
    FSource.bytes_in_buffer = 0;
    // The library checks its version and structure size against this build here. A
    // failed creation may have taken memory already, and no destructor runs for it.
    if (!Guarded(FCall, [this] { jpeg_CreateDecompress(&Info, JPEG_LIB_VERSION, sizeof Info); })) {
      jpeg_destroy_decompress(&Info);
      FCall.Raise();
    }
    Info.src = &FSource;
  }
  ~TDecompressor() { jpeg_destroy_decompress(&Info); }
  TDecompressor(const TDecompressor&) = delete;
  TDecompressor& operator=(const TDecompressor&) = delete;

  template <typename Step>
  void operator()(const Step& S) { Run(FCall, S); }

  jpeg_decompress_struct Info{};  // zero: destroying it before creation is harmless

private:
  TJPGCall FCall;
  TJPGSource FSource;
};

class TCompressor {
public:
  TCompressor(TStream& Stream, TPGWarningAction WarningAction) {
    FCall.WarningAction = WarningAction;
    Info.err = InitErrorManager(FCall);
    Info.client_data = &FCall;
    FDestination.Stream = &Stream;
    FDestination.init_destination = InitDestination;
    FDestination.empty_output_buffer = EmptyOutputBuffer;
    FDestination.term_destination = TermDestination;
    if (!Guarded(FCall, [this] { jpeg_CreateCompress(&Info, JPEG_LIB_VERSION, sizeof Info); })) {
      jpeg_destroy_compress(&Info);
      FCall.Raise();
    }
    Info.dest = &FDestination;
  }
  ~TCompressor() { jpeg_destroy_compress(&Info); }
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  template <typename Step>
  void operator()(const Step& S) { Run(FCall, S); }

  jpeg_compress_struct Info{};

private:
  TJPGCall FCall;
  TJPGDestination FDestination;
};

J_DCT_METHOD DCTMethod(std::uint8_t Setting, const char* Name) {
  if (Setting > JDCT_FLOAT) Fail(PGLangStrS1(20, Name));
  return static_cast<J_DCT_METHOD>(Setting);
}

// A header can promise far more pixels than the data behind it describes, and the
// library pads a short file: a few hundred bytes could otherwise take gigabytes (the
// image, and for progressive files a coefficient buffer of twice its size, taken before
// the first row) and minutes. Huffman-coded data spends at least a bit on every 8x8
// block of every component, which even with 4x4 chroma subsampling is under 1400 image
// bytes per byte; a file that cannot describe a meaningful part of its image is refused
// before the memory is taken. (Arithmetic coding of flat areas can go further; such
// files of many megapixels in a few kilobytes are refused too.)
void CheckPlausibleSize(std::int64_t DataBytes, const jpeg_decompress_struct& I) {
  const std::int64_t Bits = I.num_components == 1 ? 8 : 24;
  const std::int64_t RowBytes = (Bits * I.image_width + 31) / 32 * 4;
  if (!PlausibleImageSize(RowBytes, I.image_height, DataBytes, 2048)) Fail(PGLangStr(32));
}

const char* ColorSpaceName(J_COLOR_SPACE Space) {
  switch (Space) {
    case JCS_UNKNOWN: return "unknown";
    case JCS_GRAYSCALE: return "GrayScale";
    case JCS_RGB: return "RGB";
    case JCS_YCbCr: return "YCbCr";
    case JCS_CMYK: return "CMYK";
    case JCS_YCCK: return "YCbCrK";
    default: return "";
  }
}

}  // namespace

bool TJPGFileFormatReader::IsSignature(const TSignatureHeader& Header) const {
  return Header[0] == 0xFF && Header[1] == 0xD8;
}

void TJPGFileFormatReader::ReadGraphic(TStream& Stream, TPixelGraphic& Graphic, int Index) const {
  if (Index != 0) Fail(PGLangStrS1(7, "Index"));
  const std::int64_t DataBytes = Stream.GetSize() - Stream.GetPosition();
  TDecompressor D(Stream, Graphic.GetReadWarningAction());
  Graphic.SetGamma(DefaultGamma);
  j_decompress_ptr I = &D.Info;
  D([I] { jpeg_read_header(I, TRUE); });
  CheckPlausibleSize(DataBytes, *I);

  I->scale_num = 1;
  I->scale_denom = 1;
  I->dct_method = Graphic.GetFastDecode() ? JDCT_IFAST : DCTMethod(JPEGDecompMethod, "JPEGDecompMethod");
  I->quantize_colors = FALSE;
  I->dither_mode = JDITHER_NONE;
  I->two_pass_quantize = FALSE;
  if (I->out_color_space == JCS_RGB) I->out_color_space = JCS_EXT_BGR;
  D([I] { jpeg_start_decompress(I); });

  int BitCountNum = 0;
  if (I->output_components == 1) BitCountNum = 2;
  else if (I->output_components == 3) BitCountNum = 3;
  else Fail(PGLangStr(30));
  Graphic.SetFormat(static_cast<int>(I->output_width), static_cast<int>(I->output_height), BitCountNum);
  if (BitCountNum == 2) Graphic.SetPaletteIdent(pGray256);

  Graphic.ProgressStart();
  bool Aborted = false;
  try {
    while (!Aborted && I->output_scanline < I->output_height) {
      JSAMPROW Row = Graphic.GetScanLine(static_cast<int>(I->output_scanline));
      D([I, &Row] { jpeg_read_scanlines(I, &Row, 1); });
      Aborted = Graphic.Progress(static_cast<int>(I->output_scanline), static_cast<int>(I->output_height));
    }
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
  // After an abort the rows read so far stay; the rest keep what the sizing left.
  if (!Aborted) D([I] { jpeg_finish_decompress(I); });
}

void TJPGFileFormatReader::GetInfo(TStream& Stream, int Index, TPGImageInfo& Info) const {
  TFileFormatReader::GetInfo(Stream, Index, Info);
  if (Index != 0) Fail(PGLangStrS1(20, "Index"));
  // Warnings while reading the header make the description fail, whatever the policy.
  TDecompressor D(Stream, pgwaRaise);
  j_decompress_ptr I = &D.Info;
  D([I] { jpeg_read_header(I, TRUE); });
  Info.Width = static_cast<int>(I->image_width);
  Info.Height = static_cast<int>(I->image_height);
  Info.BitCount = 8 * I->num_components;
  std::string Sub = ColorSpaceName(I->jpeg_color_space);
  if (I->progressive_mode) Sub += ", Progressive";
  if (I->saw_Adobe_marker) Sub = "Adope, " + Sub;
  if (I->saw_JFIF_marker) Sub = "JFIF, " + Sub;
  Info.SubFormat = Sub;
  switch (I->num_components) {
    case 1: Info.Colors = "256"; break;
    case 2: Info.Colors = "64K"; break;
    case 3: Info.Colors = "16.7M"; break;
    case 4: Info.Colors = "4294.9M"; break;
    default: Info.Colors = "?"; break;
  }
}

void TJPGFileFormatWriter::WriteGraphic(TStream& Stream, TPixelGraphic& Graphic) {
  TCompressor C(Stream, Graphic.GetReadWarningAction());
  j_compress_ptr I = &C.Info;
  I->image_width = static_cast<JDIMENSION>(Graphic.GetWidth());
  I->image_height = static_cast<JDIMENSION>(Graphic.GetHeight());
  Graphic.UpdatePaletteInfo();
  const bool Grey = Graphic.GetBitCountNum() == 2 && Graphic.PaletteIdent() == pGray256;
  if (!Grey && Graphic.GetBitCountNum() != 3) Fail(PGLangStrS1(20, "BitCount"));
  I->input_components = Grey ? 1 : 3;
  I->in_color_space = Grey ? JCS_GRAYSCALE : JCS_EXT_BGR;

  const int Quality = JPEGCompQuality;
  const boolean Progressive = JPEGCompProgressive ? TRUE : FALSE;
  const J_DCT_METHOD Method = DCTMethod(JPEGCompMethod, "JPEGCompMethod");
  C([I, Quality, Progressive] {
    jpeg_set_defaults(I);
    if (Progressive) jpeg_simple_progression(I);
    jpeg_set_quality(I, Quality, TRUE);
  });
  I->dct_method = Method;
  C([I] { jpeg_start_compress(I, TRUE); });

  Graphic.ProgressStart();
  try {
    while (I->next_scanline < I->image_height) {
      JSAMPROW Row = Graphic.GetScanLine(static_cast<int>(I->next_scanline));
      C([I, &Row] { jpeg_write_scanlines(I, &Row, 1); });
      Graphic.Progress(static_cast<int>(I->next_scanline), static_cast<int>(I->image_height));  // every row is written
    }
  } catch (...) {
    Graphic.ProgressEnd();
    throw;
  }
  Graphic.ProgressEnd();
  C([I] { jpeg_finish_compress(I); });
}

}  // namespace pg
