#pragma once
// TPixelGraphic: the in-memory image. Pixels are kept in the device-independent bitmap
// layout (bottom-up rows padded to 4 bytes, a 40-byte header and colour table beside
// them), so that drawing, the clipboard and the BMP codec use the memory as it is.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pgraphic/palettes.h"
#include "pgraphic/pixel_memory.h"
#include "pgraphic/stream.h"
#include "pgraphic/types.h"
#include "pgraphic/warning.h"

namespace pg {

enum TStretchMode { smFast, smMedium, smPrecise };

class TPGFilter;

// Bit-count index: 0 = 1 bit, 1 = 4 bits, 2 = 8 bits, 3 = 24 bits.
int BitCountToNum(int Bits);  // raises EPGInvalidBitCountNum for other depths
constexpr int NumToBitCount(int Num) { return Num == 0 ? 1 : Num == 1 ? 4 : Num == 2 ? 8 : 24; }
constexpr int NumToMaxPaletteCount(int Num) { return Num == 0 ? 2 : Num == 1 ? 16 : Num == 2 ? 256 : 0; }

// Stands in for a logical palette: one 0xFFRRGGBB value per palette entry.
using TPGLogPalette = std::vector<std::uint32_t>;

inline constexpr int BitmapInfoHeaderSize = 40;

class TPixelGraphic : public TObject {
public:
  TPixelGraphic();
  ~TPixelGraphic() override;
  TPixelGraphic(const TPixelGraphic&) = delete;
  TPixelGraphic& operator=(const TPixelGraphic&) = delete;

  // Copies pixels, palette and options of Source; nullptr empties the image.
  void Assign(const TPixelGraphic* Source);

  // --- files and streams (the format registry chooses the codec) --------------
  void LoadFromFile(const std::string& FileName) { LoadFromFileIndex(FileName, 0); }
  void LoadFromFileIndex(const std::string& FileName, int Index);
  void LoadFromStream(TStream& Stream) { LoadFromStreamIndex(Stream, "", 0); }
  void LoadFromStreamExt(TStream& Stream, const std::string& Extension) { LoadFromStreamIndex(Stream, Extension, 0); }
  void LoadFromStreamIndex(TStream& Stream, const std::string& Extension, int Index);
  // Writes through a temporary file beside the target, which replaces the target only
  // once complete: a failed save leaves an existing file as it was.
  void SaveToFile(const std::string& FileName);
  void SaveToStreamExt(TStream& Stream, const std::string& Extension);
  void SaveToStream(TStream& Stream);  // always a BMP file
  // A length-prefixed BMP block, for embedding an image in other data.
  void ReadData(TStream& Stream);
  void WriteData(TStream& Stream);
  // Device-independent bitmap without file header: info (or OS/2 core) header, colour
  // table and pixels.
  void ReadDIB(TStream& Stream, bool CoreHeader);
  void WriteDIB(TStream& Stream);

  // --- format ------------------------------------------------------------------
  // The one operation that creates pixel memory. The same size and depth again keeps
  // the memory and refills it with FillValue; anything else gives zeroed memory.
  void SetFormat(int Width, int Height, int BitCountNum);
  int GetWidth() const { return FWidth; }
  int GetHeight() const { return FHeight; }
  void SetWidth(int Value);
  void SetHeight(int Value);
  int GetBitCountNum() const { return FBitCountNum; }
  void SetBitCountNum(int Value);
  int GetBitCount() const { return NumToBitCount(FBitCountNum); }
  int MaxPaletteCount() const { return NumToMaxPaletteCount(FBitCountNum); }
  int BytesPerLine() const { return FBytesPerLine; }
  int ImageSize() const { return FImageSize; }
  bool GetEmpty() const { return !FBits; }

  // --- pixels ------------------------------------------------------------------
  // Raw values: palette index, or TRGB for 24-bit images. Reads outside the image
  // return FillValue; writes outside are ignored.
  int GetPixel(int X, int Y) const;
  void SetPixel(int X, int Y, int Value);
  TRGB GetPixelColor(int X, int Y) const;
  void SetPixelColor(int X, int Y, TRGB Color);  // palette images store the nearest index
  std::uint8_t* GetBits();
  const std::uint8_t* GetBits() const;
  std::uint8_t* GetScanLine(int Row);  // row 0 is the top row; nullptr without memory
  const std::uint8_t* GetScanLine(int Row) const;
  // Header and colour table describing the pixel memory; nullptr without memory.
  const std::uint8_t* GetBitmapInfo() const { return FBitmapInfo.empty() ? nullptr : FBitmapInfo.data(); }
  void Clear();

  int GetFillValue() const { return FFillValue; }
  void SetFillValue(int Value) { FFillValue = Value; }
  TRGB GetBackGroundColor() const;
  void SetBackGroundColor(TRGB Color);

  // --- palette -----------------------------------------------------------------
  int PaletteCount() const { return static_cast<int>(FPalette.size()); }
  const TRGB* GetPaletteData() const { return FPalette.data(); }
  TRGB GetPaletteEntry(int Index) const;
  void SetPaletteEntry(int Index, TRGB Color);
  void SetPaletteCount(int Count);
  TPaletteIdent PaletteIdent() const { return FPaletteIdent; }
  void SetPaletteIdent(TPaletteIdent Value);
  void CopyPaletteFrom(const TPixelGraphic& Source);
  void UpdatePaletteInfo();
  bool IsGray() const { return FIsGray; }
  // The cached logical palette; nullptr for images without a palette.
  const TPGLogPalette* GetPalette();

  // --- colour search -----------------------------------------------------------
  int NearestPaletteIndex(TRGB Color);
  void ClearColorCache();
  bool GetColorCache() const { return FColorCache; }
  void SetColorCache(bool Value);
  bool GetRGBWeighting() const { return FRGBWeighting; }
  void SetRGBWeighting(bool Value);

  // --- stretch and colour conversion --------------------------------------------
  // Resamples a source rectangle into a destination rectangle of this image with the
  // image's StretchMode, writing every pixel in this image's format through the pixel
  // writer below. Spans leaving the source are not written; the destination is clipped.
  void StretchRect(int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY, int SrcWidth,
                   int SrcHeight, const TPixelGraphic& Source);
  // An empty source rectangle produces nothing and fires no events.
  // Same-size copy with conversion to this image's format.
  void CopyRect(int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY, const TPixelGraphic& Source);
  // The whole source onto the whole of this image (which keeps its size and format).
  void StretchFrom(const TPixelGraphic& Source);

  // The pixel writer shared by every operation that computes colours into an image:
  // 24-bit images store the colour; palette images dither (when Dither is on and the
  // dither buffers are set up) or store the nearest index.
  void WritePixel(int X, int Y, int R, int G, int B) {
    if (FBitCountNum == 3) SetPixel(X, Y, RGBColor(R, G, B));
    else if (!FDitherErrors.empty()) DitherPixel(X, Y, R, G, B);
    else SetPixelColor(X, Y, RGBColor(R, G, B));
  }

  // Writes colours (blue, green, red bytes) at the listed columns of row Y through the
  // pixel writer, in serpentine order (right to left on odd rows). When dithering, the
  // caller has called NextDitherRow for the row.
  void WriteRow(int Y, const int* Columns, std::size_t Count, const std::uint8_t* BGR);

  // Serpentine error diffusion: InitDither before the first row, NextDitherRow at the
  // start of every row, pixels of even rows left to right and of odd rows right to
  // left, FreeDitherBuffers at the end (also on errors).
  void InitDither();
  void NextDitherRow();
  void DitherPixel(int X, int Y, int R, int G, int B);
  void FreeDitherBuffers();
  bool Dithering() const { return !FDitherErrors.empty(); }

  // Self becomes Source filtered by Filter, in Self's own format (Self may be Source
  // only for point filters).
  void ApplyFilter(TPGFilter& Filter, const TPixelGraphic& Source);
  // Self becomes a copy of Source whose outer zone fades into Color: along the edges,
  // or outside an ellipse inscribed in the image when Oval; Width pixels wide.
  void DrawBorder(bool Oval, int Width, TRGB Color, const TPixelGraphic& Source);

  // --- options -----------------------------------------------------------------
  bool GetDither() const { return FDither; }
  void SetDither(bool Value) { FDither = Value; }
  std::uint8_t GetDitherErrorLimit() const { return FDitherErrorLimit; }
  void SetDitherErrorLimit(std::uint8_t Value) { FDitherErrorLimit = Value; }
  bool GetDitherErrorLimitAuto() const { return FDitherErrorLimitAuto; }
  void SetDitherErrorLimitAuto(bool Value) { FDitherErrorLimitAuto = Value; }
  bool GetDitherErrorLimitSoft() const { return FDitherErrorLimitSoft; }
  void SetDitherErrorLimitSoft(bool Value) { FDitherErrorLimitSoft = Value; }
  TStretchMode GetStretchMode() const { return FStretchMode; }
  void SetStretchMode(TStretchMode Value) { FStretchMode = Value; }
  TPGWarningAction GetReadWarningAction() const { return FReadWarningAction; }
  void SetReadWarningAction(TPGWarningAction Value) { FReadWarningAction = Value; }
  TPGWarningAction GetSaveColorResWarningAction() const { return FSaveColorResWarningAction; }
  void SetSaveColorResWarningAction(TPGWarningAction Value) { FSaveColorResWarningAction = Value; }
  long double GetGamma() const { return FGamma; }
  void SetGamma(long double Value) { FGamma = Value; }
  bool GetSkipRealizePalette() const { return FSkipRealizePalette; }
  void SetSkipRealizePalette(bool Value) { FSkipRealizePalette = Value; }
  bool GetFastDecode() const { return FFastDecode; }
  void SetFastDecode(bool Value) { FFastDecode = Value; }

  // --- events and notification -------------------------------------------------
  const TNotifyEvent& GetOnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }
  const TPGProgressEvent& GetOnProgress() const { return FOnProgress; }
  void SetOnProgress(TPGProgressEvent Handler) { FOnProgress = std::move(Handler); }
  const TNotifyEvent& GetOnProgressStart() const { return FOnProgressStart; }
  void SetOnProgressStart(TNotifyEvent Handler) { FOnProgressStart = std::move(Handler); }
  const TNotifyEvent& GetOnProgressEnd() const { return FOnProgressEnd; }
  void SetOnProgressEnd(TNotifyEvent Handler) { FOnProgressEnd = std::move(Handler); }

  // Progress protocol of long operations: Progress returns true when a handler asked
  // to abort (the operation then stops after the current unit, keeping its work).
  void ProgressStart() { if (FOnProgressStart) FOnProgressStart(this); }
  bool Progress(int Step, int Max) {
    bool Abort = false;
    if (FOnProgress) FOnProgress(this, Step, Max, Abort);
    return Abort;
  }
  void ProgressEnd() { if (FOnProgressEnd) FOnProgressEnd(this); }

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  void Changed();

  // Pixel memory may have pending drawing from a painter open on it; direct access
  // ends it first.
  bool GetCanvasInUse() const { return FCanvasInUse; }
  void SetCanvasInUse(bool Value) { FCanvasInUse = Value; }

private:
  void Flush() const { FCanvasInUse = false; }
  void WriteColorTableEntry(int Index, TRGB Color);
  int SearchExhaustive(TRGB Color) const;
  int SearchCached(TRGB Color);
  void FillColorCache();

  // Dither state while a conversion runs: error rows of (R, G, B) sixteenths for
  // columns -1 .. Width, and the error limit curve applied to accumulated sixteenths.
  std::vector<std::int32_t> FDitherErrors;
  std::vector<std::int32_t> FDitherNextErrors;
  std::vector<std::int32_t> FDitherLimits;

  int FFillValue = 0;
  int FBitCountNum = 3;
  TPixelMemory FBits;
  std::vector<std::uint8_t> FBitmapInfo;
  bool FDither = true;
  std::uint8_t FDitherErrorLimit = 32;
  bool FDitherErrorLimitAuto = true;
  bool FDitherErrorLimitSoft = true;
  bool FColorCache = true;
  bool FFastDecode = false;
  int FHeight = 0;
  bool FSkipRealizePalette = false;
  bool FIsGray = false;
  long double FGamma;
  int FImageSize = 0;
  int FBytesPerLine = 0;
  TNotifyEvent FOnChange;
  TPGProgressEvent FOnProgress;
  TNotifyEvent FOnProgressEnd;
  TNotifyEvent FOnProgressStart;
  TPGLogPalette FPaletteHandle;
  bool FPaletteHandleValid = false;
  bool FPaletteHandleDirty = false;
  // Colour-search cache: nearest index per 5-6-5 cell, and one "filled" bit per cell.
  std::unique_ptr<std::uint8_t[]> FColorCacheTable;
  std::unique_ptr<std::uint8_t[]> FColorCacheFilled;
  bool FColorCacheStale = true;
  TRGB FLastColor = 0;
  int FLastIndex = 0;
  bool FLastColorStale = true;
  std::vector<TRGB> FPalette;
  TPaletteIdent FPaletteIdent = pTrueColor;
  bool FRGBWeighting = true;
  TStretchMode FStretchMode = smPrecise;
  int FUpdateCount = 0;
  TPGWarningAction FReadWarningAction = pgwaOKCancelBox;
  TPGWarningAction FSaveColorResWarningAction = pgwaOKCancelBox;
  mutable bool FCanvasInUse = false;
  int FWidth = 0;
};

// Base to the power Exponent in extended precision, for gamma tables.
long double PGPower(long double Base, long double Exponent);

}  // namespace pg
