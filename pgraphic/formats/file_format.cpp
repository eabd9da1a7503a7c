#include "pgraphic/formats/file_format.h"

#include "pgraphic/lang_str.h"

namespace pg {

std::string ColorResolutionName(TColorResolution R) { return PGLangStr(8 + R); }

TColorResolution ColorResolutionOf(const TPixelGraphic& Graphic) {
  const TPaletteIdent P = Graphic.PaletteIdent();
  switch (Graphic.GetBitCountNum()) {
    case 0: return P == pBlackWhite ? crBlackWhite : cr2Colors;
    case 1: return P == pSys16 ? cr16SysColors : P == pGray16 ? cr16Grays : cr16Colors;
    case 2: return P == pGray256 ? cr256Grays : cr256Colors;
    default: return crTrueColor;
  }
}

bool TFileFormatReader::IsSignature(const TSignatureHeader&) const { return false; }

void TFileFormatReader::ReadGraphic(TStream&, TPixelGraphic&, int) const {}

void TFileFormatReader::GetInfo(TStream&, int, TPGImageInfo& Info) const {
  Info.SubFormat.clear();
  Info.Details.clear();
  Info.Width = Info.Height = 0;
  Info.Colors.clear();
  Info.BitCount = 0;
  Info.ImageCount = 1;
}

void TFileFormatWriter::WriteGraphic(TStream&, TPixelGraphic&) {}
void TFileFormatWriter::BeginMultiImage(TStream&) {}
void TFileFormatWriter::WriteMultiImage(TStream&, TPixelGraphic&) {}
void TFileFormatWriter::EndMultiImage(TStream&) {}

}  // namespace pg
