#pragma once
// A palette chosen for the colours of an image: recursive bisection of colour boxes
// over a 5-6-5 histogram for true-colour sources, an octree for palette sources;
// optionally followed by the 16 system colours.

#include "pgraphic/pixel_graphic.h"

namespace pg {

// Gives Dest a palette of at most Count (1..256) entries for the colours of Source;
// Dest's pixels are not touched and its format must hold Count entries. Progress goes
// to Dest's OnProgress after each source row counted; an abort ends the counting and
// the palette is built from the rows counted so far.
void CreateOptimizedPalette(TPixelGraphic& Dest, const TPixelGraphic& Source, int Count, bool IncludeSysColors);

}  // namespace pg
