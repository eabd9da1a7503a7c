#include "pgraphic/formats/color_res_negotiation.h"

#include <typeinfo>

#if defined(__GNUG__)
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#endif

#include "pgraphic/exceptions.h"
#include "pgraphic/lang_str.h"
#include "pgraphic/optimized_palette.h"
#include "pgraphic/warning.h"

namespace pg {

namespace {

// Row r: resolution r first, then the nearest substitutes in order.
constexpr std::array<std::array<TColorResolution, 8>, 8> Preferences = {{
    {crBlackWhite, cr2Colors, cr16Grays, cr16SysColors, cr16Colors, cr256Grays, cr256Colors, crTrueColor},
    {cr2Colors, cr16Colors, cr256Colors, crTrueColor, cr16SysColors, crBlackWhite, cr16Grays, cr256Grays},
    {cr16Grays, cr16Colors, cr256Grays, cr256Colors, crTrueColor, cr16SysColors, crBlackWhite, cr2Colors},
    {cr16SysColors, cr16Colors, cr256Colors, crTrueColor, cr16Grays, cr256Grays, crBlackWhite, cr2Colors},
    {cr16Colors, cr256Colors, crTrueColor, cr16SysColors, cr16Grays, cr256Grays, crBlackWhite, cr2Colors},
    {cr256Grays, cr256Colors, crTrueColor, cr16Grays, cr16Colors, cr16SysColors, crBlackWhite, cr2Colors},
    {cr256Colors, crTrueColor, cr16Colors, cr16SysColors, cr256Grays, cr16Grays, crBlackWhite, cr2Colors},
    {crTrueColor, cr256Colors, cr16Colors, cr16SysColors, cr256Grays, cr16Grays, crBlackWhite, cr2Colors},
}};

// The writer's class name without namespaces, as the "is empty" message names it.
std::string ClassNameOf(const TFileFormatWriter& Writer) {
  std::string Name = typeid(Writer).name();
#if defined(__GNUG__)
  int Status = 0;
  const std::unique_ptr<char, void (*)(void*)> Plain(abi::__cxa_demangle(Name.c_str(), nullptr, nullptr, &Status),
                                                     std::free);
  if (Status == 0 && Plain) Name = Plain.get();
#endif
  const auto Colons = Name.rfind("::");
  if (Colons != std::string::npos) Name.erase(0, Colons + 2);
  const auto Space = Name.rfind(' ');  // "class T..." of other compilers
  if (Space != std::string::npos) Name.erase(0, Space + 1);
  return Name;
}

// Gives the temporary the depth and palette of resolution Target for Graphic's colours.
void PrepareTarget(TPixelGraphic& Temporary, const TPixelGraphic& Graphic, TColorResolution Target) {
  switch (Target) {
    case crBlackWhite:
      Temporary.SetBitCountNum(0);
      Temporary.SetPaletteIdent(pBlackWhite);
      break;
    case cr2Colors:
      Temporary.SetBitCountNum(0);
      CreateOptimizedPalette(Temporary, Graphic, 2, false);
      break;
    case cr16Grays:
      Temporary.SetBitCountNum(1);
      Temporary.SetPaletteIdent(pGray16);
      break;
    case cr16SysColors:
      Temporary.SetBitCountNum(1);
      Temporary.SetPaletteIdent(pSys16);
      break;
    case cr16Colors:
      Temporary.SetBitCountNum(1);
      CreateOptimizedPalette(Temporary, Graphic, 16, false);
      break;
    case cr256Grays:
      Temporary.SetBitCountNum(2);
      Temporary.SetPaletteIdent(pGray256);
      break;
    case cr256Colors:
      Temporary.SetBitCountNum(2);
      CreateOptimizedPalette(Temporary, Graphic, 252, true);
      break;
    case crTrueColor:
      Temporary.SetBitCountNum(3);
      break;
  }
}

}  // namespace

const std::array<TColorResolution, 8>& ColorResolutionPreference(TColorResolution R) {
  return Preferences.at(static_cast<std::size_t>(R));
}

TColorResolution NegotiateColorResolution(const TFileFormatWriter& Writer, TColorResolution R) {
  for (const TColorResolution Candidate : ColorResolutionPreference(R))
    if (Contains(Writer.CanWriteResolutions, Candidate)) return Candidate;
  throw EPGCanWriteResolutionsEmpty(PGLangStrS1(16, ClassNameOf(Writer) + ".CanWriteResolutions"));
}

void WriteWithColorResolution(TStream& Stream, TFileFormatWriter& Writer, TPixelGraphic& Graphic) {
  Graphic.UpdatePaletteInfo();
  const TColorResolution R = ColorResolutionOf(Graphic);
  const TColorResolution Target = NegotiateColorResolution(Writer, R);
  if (Target == R) {
    Writer.WriteGraphic(Stream, Graphic);
    return;
  }

  const std::string Warning = PGLangStrS3(17, Writer.FormatName, ColorResolutionName(R), ColorResolutionName(Target));
  if (PGHandleWarning(Graphic.GetSaveColorResWarningAction(), PGLangStr(28), Warning) != TPGWarningOutcome::Continue)
    throw EPGCannotWriteColorRes(PGLangStrS2(18, Writer.FormatName, ColorResolutionName(R)));

  TPixelGraphic Temporary;
  // The image's progress handlers follow the conversion. An abort there would leave
  // rows unconverted: the save is then cancelled instead of writing a partial image.
  bool Aborted = false;
  if (TPGProgressEvent OnProgress = Graphic.GetOnProgress())
    Temporary.SetOnProgress([OnProgress, &Aborted](TObject* Sender, int Step, int Max, bool& Abort) {
      OnProgress(Sender, Step, Max, Abort);
      Aborted = Aborted || Abort;
    });
  Temporary.SetOnProgressStart(Graphic.GetOnProgressStart());
  Temporary.SetOnProgressEnd(Graphic.GetOnProgressEnd());
  PrepareTarget(Temporary, Graphic, Target);
  Temporary.SetWidth(Graphic.GetWidth());
  Temporary.SetHeight(Graphic.GetHeight());
  Temporary.StretchFrom(Graphic);
  if (Aborted) throw EPGCannotWriteColorRes(PGLangStr(29));
  Temporary.UpdatePaletteInfo();
  Writer.WriteGraphic(Stream, Temporary);
}

}  // namespace pg
