#pragma once
// Little- and big-endian integers in byte buffers, for the file formats.

#include <cstdint>

namespace pg {

inline std::uint16_t GetLE16(const std::uint8_t* P) { return static_cast<std::uint16_t>(P[0] | P[1] << 8); }
inline std::uint32_t GetLE32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) | static_cast<std::uint32_t>(P[1]) << 8 |
         static_cast<std::uint32_t>(P[2]) << 16 | static_cast<std::uint32_t>(P[3]) << 24;
}
inline std::uint16_t GetBE16(const std::uint8_t* P) { return static_cast<std::uint16_t>(P[0] << 8 | P[1]); }
inline std::uint32_t GetBE32(const std::uint8_t* P) {
  return static_cast<std::uint32_t>(P[0]) << 24 | static_cast<std::uint32_t>(P[1]) << 16 |
         static_cast<std::uint32_t>(P[2]) << 8 | static_cast<std::uint32_t>(P[3]);
}

inline void PutLE16(std::uint8_t* P, std::uint32_t V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}
inline void PutLE32(std::uint8_t* P, std::uint32_t V) {
  PutLE16(P, V);
  PutLE16(P + 2, V >> 16);
}
inline void PutBE16(std::uint8_t* P, std::uint32_t V) {
  P[0] = static_cast<std::uint8_t>(V >> 8);
  P[1] = static_cast<std::uint8_t>(V);
}
inline void PutBE32(std::uint8_t* P, std::uint32_t V) {
  PutBE16(P, V >> 16);
  PutBE16(P + 2, V);
}

}  // namespace pg
