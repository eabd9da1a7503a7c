#pragma once
// A deliberately plain, slow model of resampling, copying and error diffusion: one
// span per destination pixel, source pixels read one by one through GetPixelColor,
// and its own pixel writer and error rows. The fast engine must match it bit for bit.
// It uses only NearestPaletteIndex, SetPixel, GetPaletteEntry and the palette of the
// destination, never the engine's own stretch or dither code.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pgraphic/pixel_graphic.h"

namespace ref {

enum class TAxisMethod { Nearest, Copy, Interpolation, Area };

// One axis of a resampling: extents of the two rectangles, their origins and the size
// of the source image along the axis.
struct TAxis {
  TAxisMethod Method = TAxisMethod::Copy;
  std::int64_t S = 1, D = 1;
  std::int64_t SrcOrigin = 0, DestOrigin = 0;
  std::int64_t SrcSize = 0;
  std::int64_t Divisor = 1;
};

struct TSpan {
  std::int64_t First = 0, Last = 0;
  std::int64_t FirstWeight = 1, LastWeight = 1;
  int Kind = 0;  // 0 single pixel, 1 First and Last, 2 First .. Last
  bool Valid = false;
};

TAxis MakeAxis(pg::TStretchMode Mode, int S, int D, int SrcOrigin, int DestOrigin, int SrcSize);
// Span of destination coordinate A (column or row).
TSpan SpanOf(const TAxis& Axis, std::int64_t A);

// The error limit curve for errors -255 .. 255 (index 255 + e).
std::array<int, 511> LimitCurve(int Limit, bool Soft);
// Limit and soft knee InitDither chooses for the destination's settings.
void ChooseLimit(const pg::TPixelGraphic& Dest, int& Limit, bool& Soft);

// Error diffusion state of one conversion into Dest.
class TDither {
public:
  explicit TDither(pg::TPixelGraphic& Dest);
  void NextRow();
  void Pixel(int X, int Y, int R, int G, int B);

private:
  void Spread(std::vector<std::int64_t>& Row, int X, int Channel, std::int64_t Amount);
  pg::TPixelGraphic& FDest;
  bool FIsGray = true;
  std::array<int, 511> FCurve{};
  std::vector<std::int64_t> FCur, FNext;  // (R, G, B) per column -1 .. Width
};

// Events a conversion fires on the destination, as text: "S" start, "P<step>/<max>",
// "E" end, "C" changed, separated by blanks.
struct TEvents {
  std::string Text;
  void Add(const std::string& E) { Text += (Text.empty() ? "" : " ") + E; }
};

// Decides whether the progress handler asks to abort after a row.
using TAbortRule = std::function<bool(int Step, int Max)>;

// Both write into Dest as the engine would and return the events it would fire.
std::string StretchRect(pg::TPixelGraphic& Dest, int DestX, int DestY, int DestWidth, int DestHeight, int SrcX,
                        int SrcY, int SrcWidth, int SrcHeight, const pg::TPixelGraphic& Source,
                        const TAbortRule& Abort = {});
std::string CopyRect(pg::TPixelGraphic& Dest, int DestX, int DestY, int DestWidth, int DestHeight, int SrcX, int SrcY,
                     const pg::TPixelGraphic& Source, const TAbortRule& Abort = {});

// Records the events of an image in the same text form; Abort may ask to stop.
void RecordEvents(pg::TPixelGraphic& G, std::string& Log, const TAbortRule& Abort = {});

// --- random test images -------------------------------------------------------------

// Palettes a destination or source of depth index Num may carry: standard ones that
// fit, and pUnknown stand-ins (random colours, random greys, short palettes, greys
// with a single tinted entry).
enum class TPaletteKind { Standard, RandomColor, RandomGray, RandomShort, NearlyGray };
struct TPaletteChoice {
  TPaletteKind Kind = TPaletteKind::Standard;
  pg::TPaletteIdent Ident = pg::pNone;
  std::string Name() const;
};
std::vector<TPaletteChoice> PaletteChoices(int Num);
void ApplyPalette(pg::TPixelGraphic& G, const TPaletteChoice& Choice, std::mt19937& Rng);
// Fills every pixel with a random raw value valid for the image (indices below the
// palette count), in one of a few patterns (noise, gradient, extremes).
void FillRandom(pg::TPixelGraphic& G, std::mt19937& Rng);

}  // namespace ref
