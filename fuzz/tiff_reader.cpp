#include "fuzz/reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  return kvfuzz::FuzzReader(Data, Size, "tif");
}
