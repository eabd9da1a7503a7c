#pragma once
// Builds bitmap files byte by byte for tests, so that every header field can be set,
// including hostile values.

#include <cstdint>
#include <vector>

#include "pgraphic/byte_order.h"

namespace kvtest {

struct BmpSpec {
  std::int32_t Width = 2, Height = 2;
  int BitCount = 24;
  std::uint32_t Compression = 0;
  std::uint32_t SizeImage = 0;
  std::uint32_t ClrUsed = 0;
  std::uint32_t HeaderSize = 40;
  int Planes = 1;
  std::vector<std::uint32_t> Palette;   // 0xRRGGBB, written as the colour table
  std::vector<std::uint32_t> Masks;     // bit fields after the header
  std::vector<std::uint8_t> Pixels;     // pixel block as stored
};

inline std::vector<std::uint8_t> MakeBmp(const BmpSpec& S) {
  std::vector<std::uint8_t> F(14 + S.HeaderSize, 0);
  F[0] = 'B';
  F[1] = 'M';
  std::uint8_t* H = F.data() + 14;
  pg::PutLE32(H, S.HeaderSize);
  if (S.HeaderSize == 12) {
    pg::PutLE16(H + 4, static_cast<std::uint32_t>(S.Width));
    pg::PutLE16(H + 6, static_cast<std::uint32_t>(S.Height));
    pg::PutLE16(H + 8, static_cast<std::uint32_t>(S.Planes));
    pg::PutLE16(H + 10, static_cast<std::uint32_t>(S.BitCount));
  } else {
    pg::PutLE32(H + 4, static_cast<std::uint32_t>(S.Width));
    pg::PutLE32(H + 8, static_cast<std::uint32_t>(S.Height));
    pg::PutLE16(H + 12, static_cast<std::uint32_t>(S.Planes));
    pg::PutLE16(H + 14, static_cast<std::uint32_t>(S.BitCount));
    pg::PutLE32(H + 16, S.Compression);
    pg::PutLE32(H + 20, S.SizeImage);
    pg::PutLE32(H + 32, S.ClrUsed);
  }
  for (std::uint32_t M : S.Masks) {
    const std::size_t At = F.size();
    F.resize(At + 4);
    pg::PutLE32(F.data() + At, M);
  }
  for (std::uint32_t C : S.Palette) {
    F.push_back(static_cast<std::uint8_t>(C));
    F.push_back(static_cast<std::uint8_t>(C >> 8));
    F.push_back(static_cast<std::uint8_t>(C >> 16));
    if (S.HeaderSize != 12) F.push_back(0);
  }
  pg::PutLE32(F.data() + 10, static_cast<std::uint32_t>(F.size()));
  F.insert(F.end(), S.Pixels.begin(), S.Pixels.end());
  pg::PutLE32(F.data() + 2, static_cast<std::uint32_t>(F.size()));
  return F;
}

}  // namespace kvtest
