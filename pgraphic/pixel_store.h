#pragma once
// Raw pixel values in a row of the bitmap layout, shared by SetPixel and the row
// writers of the conversion engine.

#include <cstddef>
#include <cstdint>

namespace pg {

// Stores a raw value at column X of a row of depth index 0..3: a 1-bit pixel is set
// only by 1, a 4-bit pixel keeps the low four bits, an 8-bit pixel the low byte, and a
// 24-bit pixel takes the colour's blue, green and red bytes.
inline void StorePixel(std::uint8_t* Row, int Depth, int X, int Value) {
  switch (Depth) {
    case 0: {
      const auto Mask = static_cast<std::uint8_t>(0x80 >> (X & 7));
      if (Value == 1) Row[X >> 3] |= Mask; else Row[X >> 3] &= static_cast<std::uint8_t>(~Mask);
      break;
    }
    case 1: {
      std::uint8_t& B = Row[X >> 1];
      B = (X & 1) ? static_cast<std::uint8_t>((B & 0xF0) | (Value & 15))
                  : static_cast<std::uint8_t>((B & 0x0F) | ((Value & 15) << 4));
      break;
    }
    case 2: Row[X] = static_cast<std::uint8_t>(Value); break;
    default: {
      std::uint8_t* P = Row + 3 * static_cast<std::size_t>(X);
      P[0] = static_cast<std::uint8_t>(Value >> 16);
      P[1] = static_cast<std::uint8_t>(Value >> 8);
      P[2] = static_cast<std::uint8_t>(Value);
    }
  }
}

}  // namespace pg
