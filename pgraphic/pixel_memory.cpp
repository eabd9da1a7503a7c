#include "pgraphic/pixel_memory.h"

#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace pg {

void TFreePixelMemory::operator()(std::uint8_t* P) const noexcept { std::free(P); }

TPixelMemory AllocatePixelMemory(std::size_t Size) {
#ifdef __linux__
  constexpr std::size_t HugePage = std::size_t{2} << 20;
  if (Size >= 4 * HugePage) {
    const std::size_t Rounded = (Size + HugePage - 1) / HugePage * HugePage;
    auto* P = static_cast<std::uint8_t*>(std::aligned_alloc(HugePage, Rounded));
    if (!P) return nullptr;
    madvise(P, Rounded, MADV_HUGEPAGE);  // only advice: without it the pages are small
    std::memset(P, 0, Size);
    return TPixelMemory(P);
  }
#endif
  return TPixelMemory(static_cast<std::uint8_t*>(std::calloc(Size ? Size : 1, 1)));
}

}  // namespace pg
