#pragma once
// Saving with a writer that cannot store the image's colour resolution: the writer
// gets a temporary copy converted to the nearest resolution it accepts.

#include <array>

#include "pgraphic/formats/file_format.h"

namespace pg {

// The resolutions to try, in order, for an image of resolution R; R itself comes first.
const std::array<TColorResolution, 8>& ColorResolutionPreference(TColorResolution R);

// The first resolution of R's preference row that Writer accepts. Raises
// EPGCanWriteResolutionsEmpty when it accepts none.
TColorResolution NegotiateColorResolution(const TFileFormatWriter& Writer, TColorResolution R);

// Writes Graphic with Writer: as it is when Writer accepts its resolution, otherwise,
// after the warning Graphic's SaveColorResWarningAction asks for, as a temporary copy
// converted to the negotiated resolution. Graphic keeps its pixels, depth and palette;
// nothing reaches Stream before the warning is answered and the copy is complete.
void WriteWithColorResolution(TStream& Stream, TFileFormatWriter& Writer, TPixelGraphic& Graphic);

}  // namespace pg
