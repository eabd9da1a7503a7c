#pragma once
// ClampTable: entries -510 .. 510 clamped to 0 .. 255, for colour arithmetic that may
// leave the channel range by up to two channel widths.

#include <cstdint>

namespace pg {

// Pointer to entry 0; valid for indices -510 .. 510.
const std::uint8_t* ClampTable();

}  // namespace pg
