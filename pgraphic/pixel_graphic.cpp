#include "pgraphic/pixel_graphic.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "pgraphic/byte_order.h"
#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/pixel_store.h"
#include "pgraphic/settings.h"

namespace pg {

int BitCountToNum(int Bits) {
  switch (Bits) {
    case 1: return 0;
    case 4: return 1;
    case 8: return 2;
    case 24: return 3;
    default: throw EPGInvalidBitCountNum(PGLangStrS1(20, "BitCountNum"));
  }
}

namespace {

constexpr int ClrUsedOffset = 32;

}  // namespace

TPixelGraphic::TPixelGraphic() : FGamma(DefaultGamma) {}

TPixelGraphic::~TPixelGraphic() = default;

void TPixelGraphic::SetFormat(int Width, int Height, int BitCountNum) {
  if (Width < 0) throw EPGInvalidSize(PGLangStr(22));
  if (Height < 0) throw EPGInvalidSize(PGLangStr(21));
  if (BitCountNum < 0 || BitCountNum > 3) throw EPGInvalidBitCountNum(PGLangStrS1(20, "BitCountNum"));
  if (Width == FWidth && Height == FHeight && BitCountNum == FBitCountNum) {
    Clear();
    return;
  }

  Flush();
  FBits.reset();
  FBitmapInfo.clear();
  FWidth = Width;
  FHeight = Height;
  FBitCountNum = BitCountNum;

  const std::int64_t Stride = (static_cast<std::int64_t>(GetBitCount()) * Width + 31) / 32 * 4;
  constexpr std::int64_t Max32 = std::numeric_limits<std::int32_t>::max();
  if (Stride > Max32 || Stride * Height > Max32) {
    // Too large for the 32-bit size fields: the image stays empty and consistent.
    FWidth = FHeight = FBytesPerLine = FImageSize = 0;
    throw EPixelGraphic(PGLangStrS1(31, "CreateDIBSection"));
  }
  FBytesPerLine = static_cast<int>(Stride);
  FImageSize = static_cast<int>(Stride * Height);

  if (FImageSize > 0) {
    const int Cap = MaxPaletteCount();
    if (PaletteCount() > Cap) SetPaletteCount(Cap);
    if (BitCountNum == 3) FPaletteIdent = pTrueColor;

    FBitmapInfo.assign(BitmapInfoHeaderSize + 4 * static_cast<std::size_t>(Cap), 0);
    std::uint8_t* H = FBitmapInfo.data();
    PutLE32(H + 0, BitmapInfoHeaderSize);
    PutLE32(H + 4, static_cast<std::uint32_t>(FWidth));
    PutLE32(H + 8, static_cast<std::uint32_t>(FHeight));
    PutLE16(H + 12, 1);
    PutLE16(H + 14, static_cast<std::uint32_t>(GetBitCount()));
    PutLE32(H + 20, static_cast<std::uint32_t>(FImageSize));
    PutLE32(H + ClrUsedOffset, static_cast<std::uint32_t>(Cap));
    for (int i = 0; i < Cap; ++i) {
      const TRGB C = i < PaletteCount() ? FPalette[static_cast<std::size_t>(i)] : PaletteCount() > 0 ? FPalette[0] : 0;
      WriteColorTableEntry(i, C);
    }

    FBits = AllocatePixelMemory(static_cast<std::size_t>(FImageSize));
    if (!FBits) {
      FBitmapInfo.clear();
      FWidth = FHeight = FBytesPerLine = FImageSize = 0;
      throw EPixelGraphic(PGLangStrS1(31, "CreateDIBSection"));
    }
  }
  Changed();
}

void TPixelGraphic::SetWidth(int Value) {
  if (Value != FWidth) SetFormat(Value, FHeight, FBitCountNum);
}

void TPixelGraphic::SetHeight(int Value) {
  if (Value != FHeight) SetFormat(FWidth, Value, FBitCountNum);
}

void TPixelGraphic::SetBitCountNum(int Value) {
  if (Value != FBitCountNum) SetFormat(FWidth, FHeight, Value);
}

void TPixelGraphic::WriteColorTableEntry(int Index, TRGB Color) {
  const std::size_t Offset = BitmapInfoHeaderSize + 4 * static_cast<std::size_t>(Index);
  if (Index < 0 || Offset + 4 > FBitmapInfo.size()) return;  // the table holds MaxPaletteCount entries
  std::uint8_t* Q = FBitmapInfo.data() + Offset;
  Q[0] = static_cast<std::uint8_t>(BlueOf(Color));
  Q[1] = static_cast<std::uint8_t>(GreenOf(Color));
  Q[2] = static_cast<std::uint8_t>(RedOf(Color));
  Q[3] = 0;
}

std::uint8_t* TPixelGraphic::GetBits() {
  Flush();
  return FBits.get();
}

const std::uint8_t* TPixelGraphic::GetBits() const {
  Flush();
  return FBits.get();
}

std::uint8_t* TPixelGraphic::GetScanLine(int Row) {
  return const_cast<std::uint8_t*>(std::as_const(*this).GetScanLine(Row));
}

const std::uint8_t* TPixelGraphic::GetScanLine(int Row) const {
  Flush();
  if (!FBits) return nullptr;
  return FBits.get() + static_cast<std::size_t>(FBytesPerLine) * static_cast<std::size_t>(FHeight - 1 - Row);
}

int TPixelGraphic::GetPixel(int X, int Y) const {
  Flush();
  if (!FBits || X < 0 || X >= FWidth || Y < 0 || Y >= FHeight) return FFillValue;
  const std::uint8_t* Row = GetScanLine(Y);
  switch (FBitCountNum) {
    case 0: return (Row[X >> 3] >> (7 - (X & 7))) & 1;
    case 1: return (X & 1) ? Row[X >> 1] & 15 : Row[X >> 1] >> 4;
    case 2: return Row[X];
    default: {
      const std::uint8_t* P = Row + 3 * static_cast<std::size_t>(X);
      return RGBColor(P[2], P[1], P[0]);
    }
  }
}

void TPixelGraphic::SetPixel(int X, int Y, int Value) {
  Flush();
  if (!FBits || X < 0 || X >= FWidth || Y < 0 || Y >= FHeight) return;
  StorePixel(GetScanLine(Y), FBitCountNum, X, Value);
}

TRGB TPixelGraphic::GetPixelColor(int X, int Y) const {
  const int Value = GetPixel(X, Y);
  return FBitCountNum == 3 ? Value : GetPaletteEntry(Value);
}

void TPixelGraphic::SetPixelColor(int X, int Y, TRGB Color) {
  SetPixel(X, Y, FBitCountNum == 3 ? Color : NearestPaletteIndex(Color));
}

void TPixelGraphic::Clear() {
  Flush();
  if (!FBits || FWidth == 0 || FHeight == 0) return;
  if (FFillValue == 0) {
    std::memset(FBits.get(), 0, static_cast<std::size_t>(FImageSize));
  } else if (FBitCountNum == 2) {
    for (int y = 0; y < FHeight; ++y)
      std::memset(GetScanLine(y), FFillValue & 0xFF, static_cast<std::size_t>(FWidth));
  } else {
    // Fill the top row pixel by pixel, then copy its pixel bytes to the other rows.
    for (int x = 0; x < FWidth; ++x) SetPixel(x, 0, FFillValue);
    const std::size_t Used = (static_cast<std::size_t>(GetBitCount()) * FWidth + 7) / 8;
    const std::uint8_t* Top = GetScanLine(0);
    for (int y = 1; y < FHeight; ++y) std::memcpy(GetScanLine(y), Top, Used);
  }
  Changed();
}

TRGB TPixelGraphic::GetBackGroundColor() const {
  return FBitCountNum == 3 ? FFillValue : GetPaletteEntry(FFillValue);
}

void TPixelGraphic::SetBackGroundColor(TRGB Color) {
  FFillValue = FBitCountNum == 3 ? Color : NearestPaletteIndex(Color);
}

TRGB TPixelGraphic::GetPaletteEntry(int Index) const {
  if (FPaletteIdent == pTrueColor) return Index;
  if (Index < 0 || Index >= PaletteCount()) throw EPGInvalidPaletteIndex(PGLangStr(3));
  return FPalette[static_cast<std::size_t>(Index)];
}

void TPixelGraphic::SetPaletteEntry(int Index, TRGB Color) {
  if (FPaletteIdent == pNone || FPaletteIdent == pTrueColor) throw EPGNoPalette(PGLangStr(2));
  if (Index < 0 || Index >= PaletteCount()) throw EPGInvalidPaletteIndex(PGLangStr(3));
  WriteColorTableEntry(Index, Color);
  FPalette[static_cast<std::size_t>(Index)] = Color;
  FPaletteIdent = pUnknown;
  FLastColorStale = true;
  FPaletteHandleDirty = true;
  ClearColorCache();
}

void TPixelGraphic::SetPaletteCount(int Count) {
  // A palette image's colour table and pixels hold MaxPaletteCount entries at most;
  // an image without palette depth may carry up to 256 (for example before SetFormat).
  const int Limit = FBitCountNum < 3 ? MaxPaletteCount() : 256;
  Count = Count < 0 ? 0 : Count > Limit ? Limit : Count;
  if (Count != PaletteCount()) {
    Flush();
    FPalette.resize(static_cast<std::size_t>(Count), 0);
    FPaletteIdent = Count > 0 ? pUnknown : pNone;
    FLastColorStale = true;
    if (!FBitmapInfo.empty()) PutLE32(FBitmapInfo.data() + ClrUsedOffset, static_cast<std::uint32_t>(Count));
  }
  FPaletteHandleDirty = true;
  ClearColorCache();
}

void TPixelGraphic::SetPaletteIdent(TPaletteIdent Value) {
  if (Value == FPaletteIdent) return;
  switch (Value) {
    case pNone:
    case pTrueColor:
      SetPaletteCount(0);
      FPaletteIdent = Value;
      break;
    case pUnknown:
      FPaletteIdent = pUnknown;
      break;
    case pOptimized252Sys16:
    case pSource:
      break;
    default: {
      const auto Entries = StandardPalette(Value);
      SetPaletteCount(static_cast<int>(Entries.size()));
      const int n = PaletteCount();  // a palette image keeps at most MaxPaletteCount entries
      for (int i = 0; i < n; ++i) SetPaletteEntry(i, Entries[static_cast<std::size_t>(i)]);
      FPaletteIdent = Value;
      if (n < static_cast<int>(Entries.size())) UpdatePaletteInfo();
    }
  }
  FLastColorStale = true;
  FPaletteHandleDirty = true;
  ClearColorCache();
}

void TPixelGraphic::CopyPaletteFrom(const TPixelGraphic& Source) {
  SetPaletteCount(Source.PaletteCount());
  for (int i = 0; i < PaletteCount(); ++i) {
    WriteColorTableEntry(i, Source.FPalette[static_cast<std::size_t>(i)]);
    FPalette[static_cast<std::size_t>(i)] = Source.FPalette[static_cast<std::size_t>(i)];
  }
  FLastColorStale = true;
  FPaletteHandleDirty = true;
  ClearColorCache();
  UpdatePaletteInfo();
}

void TPixelGraphic::UpdatePaletteInfo() {
  FIsGray = FBitCountNum != 3;
  if (FIsGray) {
    for (const TRGB C : FPalette) {
      if (RedOf(C) != GreenOf(C) || GreenOf(C) != BlueOf(C)) {
        FIsGray = false;
        break;
      }
    }
  }

  static constexpr TPaletteIdent Candidates[] = {pBlackWhite, pGray4,   pSysGray4,   pGray16,     pGray236,
                                                 pGray256,    pSys16,   pSpecial216, pSpecial125, pSpecial252};
  TPaletteIdent Found = PaletteCount() > 0 ? pUnknown : FBitCountNum == 3 ? pTrueColor : pNone;
  for (const TPaletteIdent Ident : Candidates) {
    const auto Entries = StandardPalette(Ident);
    if (Entries.size() == FPalette.size() && std::equal(Entries.begin(), Entries.end(), FPalette.begin())) {
      Found = Ident;
      break;
    }
  }
  if (Found != FPaletteIdent) {
    // Another identity searches differently: the memo no longer holds.
    FPaletteIdent = Found;
    FLastColorStale = true;
  }
}

const TPGLogPalette* TPixelGraphic::GetPalette() {
  if (FPaletteHandleDirty) {
    FPaletteHandle.clear();
    FPaletteHandleValid = FPaletteIdent != pTrueColor && PaletteCount() > 0;
    if (FPaletteHandleValid) {
      FPaletteHandle.reserve(FPalette.size());
      for (const TRGB C : FPalette)
        FPaletteHandle.push_back(0xFF000000u | static_cast<std::uint32_t>(RedOf(C)) << 16 |
                                 static_cast<std::uint32_t>(GreenOf(C)) << 8 | static_cast<std::uint32_t>(BlueOf(C)));
    }
    FPaletteHandleDirty = false;
  }
  return FPaletteHandleValid ? &FPaletteHandle : nullptr;
}

void TPixelGraphic::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TPixelGraphic::Changed() {
  if (FUpdateCount == 0 && FOnChange) FOnChange(this);
}

void TPixelGraphic::Assign(const TPixelGraphic* Source) {
  BeginUpdate();
  try {
    if (!Source) {
      SetFormat(0, 0, 3);
    } else if (Source != this) {
      Source->Flush();
      SetFormat(Source->FWidth, Source->FHeight, Source->FBitCountNum);
      if (FBits && Source->FBits) std::memcpy(FBits.get(), Source->FBits.get(), static_cast<std::size_t>(FImageSize));
      SetPaletteIdent(Source->FPaletteIdent);
      FFillValue = Source->FFillValue;
      FDither = Source->FDither;
      FDitherErrorLimit = Source->FDitherErrorLimit;
      FDitherErrorLimitAuto = Source->FDitherErrorLimitAuto;
      FDitherErrorLimitSoft = Source->FDitherErrorLimitSoft;
      SetColorCache(Source->FColorCache);
      FGamma = Source->FGamma;
      SetRGBWeighting(Source->FRGBWeighting);
      FStretchMode = Source->FStretchMode;
      FReadWarningAction = Source->FReadWarningAction;
      FSaveColorResWarningAction = Source->FSaveColorResWarningAction;
      CopyPaletteFrom(*Source);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace pg
