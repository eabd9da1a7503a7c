#include "pgraphic/clamp_table.h"

#include <array>

namespace pg {

const std::uint8_t* ClampTable() {
  static constexpr std::array<std::uint8_t, 1021> Table = [] {
    std::array<std::uint8_t, 1021> T{};
    for (int i = -510; i <= 510; ++i) T[static_cast<std::size_t>(i + 510)] = static_cast<std::uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
    return T;
  }();
  return Table.data() + 510;
}

}  // namespace pg
