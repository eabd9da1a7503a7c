#include "pgraphic/palettes.h"

#include <cstdlib>

namespace pg {

namespace {

constexpr TRGB Gray(int V) { return RGBColor(V, V, V); }

template <std::size_t N>
constexpr std::array<TRGB, N> GrayRamp() {
  std::array<TRGB, N> Ramp{};
  for (std::size_t i = 0; i < N; ++i) {
    // Nearest integer to 255 i / (N - 1); for these sizes no ties occur.
    const int Num = static_cast<int>(255 * i), Den = static_cast<int>(N - 1);
    Ramp[i] = Gray((2 * Num + Den) / (2 * Den));
  }
  return Ramp;
}

// Channel level n of a cube is (255 n + Add) div (Levels - 1).
template <int Levels, int Add>
constexpr std::array<TRGB, Levels * Levels * Levels> ColorCube() {
  std::array<TRGB, Levels * Levels * Levels> Cube{};
  constexpr auto Level = [](int n) { return (255 * n + Add) / (Levels - 1); };
  for (int r = 0; r < Levels; ++r)
    for (int g = 0; g < Levels; ++g)
      for (int b = 0; b < Levels; ++b) Cube[(r * Levels + g) * Levels + b] = RGBColor(Level(r), Level(g), Level(b));
  return Cube;
}

constexpr std::array<TRGB, 2> BlackWhite = {Gray(0), Gray(255)};
constexpr std::array<TRGB, 4> SysGray4 = {Gray(0), Gray(128), Gray(192), Gray(255)};
constexpr auto Gray4 = GrayRamp<4>();
constexpr auto Gray16 = GrayRamp<16>();
constexpr auto Gray236 = GrayRamp<236>();
constexpr auto Gray256 = GrayRamp<256>();
constexpr auto Special125 = ColorCube<5, 3>();
constexpr auto Special216 = ColorCube<6, 4>();

static_assert(Gray4[1] == Gray(85) && Gray16[1] == Gray(17));
static_assert(Gray236[5] == Gray(5) && Gray236[6] == Gray(7) && Gray236[235] == Gray(255));
static_assert(Special125[1] == RGBColor(0, 0, 64) && Special125[4] == RGBColor(0, 0, 255));
static_assert(Special216[1] == RGBColor(0, 0, 51) && Special216[5] == RGBColor(0, 0, 255));

}  // namespace

std::span<const TRGB> StandardPalette(TPaletteIdent Ident) {
  switch (Ident) {
    case pBlackWhite: return BlackWhite;
    case pSysGray4: return SysGray4;
    case pSys16: return std::span<const TRGB>(Special252Colors.data(), 16);
    case pGray4: return Gray4;
    case pGray16: return Gray16;
    case pGray236: return Gray236;
    case pGray256: return Gray256;
    case pSpecial125: return Special125;
    case pSpecial216: return Special216;
    case pSpecial252: return Special252Colors;
    default: return {};
  }
}

const std::array<std::uint8_t, 766>& Gray236Lookup() {
  static const std::array<std::uint8_t, 766> Lookup = [] {
    std::array<std::uint8_t, 766> L{};
    int i = 0;
    for (int s = 0; s <= 765; ++s) {
      // Levels rise with the index, so the nearest one only moves forward; a tie
      // keeps the lower index.
      while (i < 235 && std::abs(3 * RedOf(Gray236[i + 1]) - s) < std::abs(3 * RedOf(Gray236[i]) - s)) ++i;
      L[s] = static_cast<std::uint8_t>(i);
    }
    return L;
  }();
  return Lookup;
}

}  // namespace pg
