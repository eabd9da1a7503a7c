#pragma once
// The pixel memory of an image. Large images are backed by huge pages where the system
// offers them: touching tens of thousands of small pages for one photo costs more than
// shrinking it.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pg {

struct TFreePixelMemory {
  void operator()(std::uint8_t* P) const noexcept;
};
using TPixelMemory = std::unique_ptr<std::uint8_t[], TFreePixelMemory>;

// Size zeroed bytes; null when the memory is not there.
TPixelMemory AllocatePixelMemory(std::size_t Size);

}  // namespace pg
