#pragma once
// Builds small PNG files for the tests byte by byte, without libpng: samples of any
// colour type and depth, optional Adam7 interlace and extra chunks. The image data is
// kept in stored (uncompressed) deflate blocks, so tests can find and change it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Crc32(const std::uint8_t* P, std::size_t n, std::uint32_t Crc = 0) {
  Crc = ~Crc;
  for (std::size_t i = 0; i < n; ++i) {
    Crc ^= P[i];
    for (int k = 0; k < 8; ++k) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1)));
  }
  return ~Crc;
}

inline void PutBE32(Bytes& B, std::uint32_t V) {
  for (int s = 24; s >= 0; s -= 8) B.push_back(static_cast<std::uint8_t>(V >> s));
}

inline Bytes Chunk(const std::string& Type, const Bytes& Data) {
  Bytes C;
  PutBE32(C, static_cast<std::uint32_t>(Data.size()));
  C.insert(C.end(), Type.begin(), Type.end());
  C.insert(C.end(), Data.begin(), Data.end());
  PutBE32(C, Crc32(C.data() + 4, C.size() - 4));
  return C;
}

// Recomputes the CRC of the chunk whose length field starts at Offset.
inline void FixCrc(Bytes& File, std::size_t Offset) {
  const std::uint32_t Length = static_cast<std::uint32_t>(File[Offset]) << 24 | File[Offset + 1] << 16 | File[Offset + 2] << 8 | File[Offset + 3];
  const std::size_t End = Offset + 8 + Length;
  const std::uint32_t Crc = Crc32(File.data() + Offset + 4, Length + 4);
  for (int i = 0; i < 4; ++i) File[End + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(Crc >> (24 - 8 * i));
}

// zlib stream of stored blocks.
inline Bytes Stored(const Bytes& Raw) {
  Bytes Z{0x78, 0x01};
  std::size_t At = 0;
  do {
    const std::size_t n = std::min<std::size_t>(Raw.size() - At, 65535);
    Z.push_back(At + n == Raw.size() ? 1 : 0);
    Z.push_back(static_cast<std::uint8_t>(n));
    Z.push_back(static_cast<std::uint8_t>(n >> 8));
    Z.push_back(static_cast<std::uint8_t>(~n));
    Z.push_back(static_cast<std::uint8_t>(~n >> 8));
    Z.insert(Z.end(), Raw.begin() + static_cast<std::ptrdiff_t>(At), Raw.begin() + static_cast<std::ptrdiff_t>(At + n));
    At += n;
  } while (At < Raw.size());
  std::uint32_t A = 1, B = 0;
  for (const std::uint8_t c : Raw) {
    A = (A + c) % 65521;
    B = (B + A) % 65521;
  }
  PutBE32(Z, B << 16 | A);
  return Z;
}

struct PngPlan {
  int Width = 2, Height = 2, BitDepth = 8, ColorType = 0;
  bool Interlaced = false;
  // Samples in the file's scale, channel by channel, pixel by pixel, top row first.
  std::vector<int> Samples;
  std::vector<std::array<std::uint8_t, 3>> Palette;
  std::vector<std::pair<std::string, Bytes>> BeforePalette;  // between IHDR and PLTE
  std::vector<std::pair<std::string, Bytes>> Chunks;  // between PLTE (or IHDR) and IDAT
  std::vector<std::pair<std::string, Bytes>> Trailing;  // after IDAT
  std::size_t IdatChunkSize = 0;  // split the image data into IDAT chunks of this size; 0: one chunk
};

inline int ChannelsOf(int ColorType) {
  switch (ColorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

// Filtered (filter type 0) rows of the pixels in one pass grid.
inline void AppendRows(const PngPlan& S, int X0, int Y0, int DX, int DY, Bytes& Raw) {
  const int Ch = ChannelsOf(S.ColorType);
  if (X0 >= S.Width || Y0 >= S.Height) return;
  for (int y = Y0; y < S.Height; y += DY) {
    Raw.push_back(0);
    Bytes Row;
    int Bits = 0, Acc = 0;
    for (int x = X0; x < S.Width; x += DX) {
      for (int c = 0; c < Ch; ++c) {
        const int v = S.Samples[static_cast<std::size_t>((y * S.Width + x) * Ch + c)];
        if (S.BitDepth == 16) {
          Row.push_back(static_cast<std::uint8_t>(v >> 8));
          Row.push_back(static_cast<std::uint8_t>(v));
        } else if (S.BitDepth == 8) {
          Row.push_back(static_cast<std::uint8_t>(v));
        } else {
          Acc = Acc << S.BitDepth | v;
          Bits += S.BitDepth;
          if (Bits == 8) {
            Row.push_back(static_cast<std::uint8_t>(Acc));
            Acc = Bits = 0;
          }
        }
      }
    }
    if (Bits) Row.push_back(static_cast<std::uint8_t>(Acc << (8 - Bits)));
    Raw.insert(Raw.end(), Row.begin(), Row.end());
  }
}

inline Bytes PngImageData(const PngPlan& S) {
  Bytes Raw;
  if (!S.Interlaced) {
    AppendRows(S, 0, 0, 1, 1, Raw);
  } else {
    static constexpr int Pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& P : Pass) AppendRows(S, P[0], P[1], P[2], P[3], Raw);
  }
  return Stored(Raw);
}

inline Bytes MakePng(const PngPlan& S) {
  Bytes F{137, 80, 78, 71, 13, 10, 26, 10};
  Bytes H;
  PutBE32(H, static_cast<std::uint32_t>(S.Width));
  PutBE32(H, static_cast<std::uint32_t>(S.Height));
  H.insert(H.end(), {static_cast<std::uint8_t>(S.BitDepth), static_cast<std::uint8_t>(S.ColorType), 0, 0,
                     static_cast<std::uint8_t>(S.Interlaced ? 1 : 0)});
  const auto Add = [&](const Bytes& C) { F.insert(F.end(), C.begin(), C.end()); };
  Add(Chunk("IHDR", H));
  for (const auto& [Type, Data] : S.BeforePalette) Add(Chunk(Type, Data));
  if (!S.Palette.empty()) {
    Bytes P;
    for (const auto& E : S.Palette) P.insert(P.end(), E.begin(), E.end());
    Add(Chunk("PLTE", P));
  }
  for (const auto& [Type, Data] : S.Chunks) Add(Chunk(Type, Data));
  const Bytes Data = PngImageData(S);
  const std::size_t Step = S.IdatChunkSize ? S.IdatChunkSize : Data.size();
  for (std::size_t At = 0; At < Data.size(); At += Step)
    Add(Chunk("IDAT", Bytes(Data.begin() + static_cast<std::ptrdiff_t>(At),
                            Data.begin() + static_cast<std::ptrdiff_t>(std::min(At + Step, Data.size())))));
  for (const auto& [Type, Data] : S.Trailing) Add(Chunk(Type, Data));
  Add(Chunk("IEND", {}));
  return F;
}

inline Bytes BE16(std::initializer_list<int> Values) {
  Bytes B;
  for (const int v : Values) {
    B.push_back(static_cast<std::uint8_t>(v >> 8));
    B.push_back(static_cast<std::uint8_t>(v));
  }
  return B;
}

inline Bytes BE32(std::uint32_t V) {
  Bytes B;
  PutBE32(B, V);
  return B;
}

}  // namespace kvtest
