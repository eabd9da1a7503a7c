#pragma once
// Byte-at-a-time reading and writing through a small buffer, for the formats whose data
// is parsed or produced a byte at a time (run-length codes, text numbers).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pgraphic/stream.h"

namespace pg {

// Reads ahead at most to the end of the stream; the stream's position afterwards lies
// somewhere past the bytes taken.
class TBufferedInput {
public:
  explicit TBufferedInput(TStream& Stream, std::size_t Size = 1024) : FStream(Stream), FBuffer(Size) {}

  // The next byte; false when the stream has no more.
  bool Get(std::uint8_t& Byte) {
    if (FNext == FEnd && !Refill()) return false;
    Byte = FBuffer[FNext++];
    return true;
  }

private:
  bool Refill() {
    FNext = 0;
    FEnd = FStream.Read(FBuffer.data(), FBuffer.size());
    return FEnd > 0;
  }

  TStream& FStream;
  std::vector<std::uint8_t> FBuffer;
  std::size_t FNext = 0, FEnd = 0;
};

// Collects bytes and writes them to the stream whenever the buffer is full; Flush writes
// the rest. Bytes not flushed when it is destroyed are dropped (the write failed anyway).
class TBufferedOutput {
public:
  explicit TBufferedOutput(TStream& Stream, std::size_t Size = 1024) : FStream(Stream) { FBuffer.reserve(Size); }

  void Put(std::uint8_t Byte) {
    if (FBuffer.size() == FBuffer.capacity()) Flush();
    FBuffer.push_back(Byte);
  }
  void Put(const void* Data, std::size_t Count) {
    const auto* P = static_cast<const std::uint8_t*>(Data);
    for (std::size_t i = 0; i < Count; ++i) Put(P[i]);
  }
  void Flush() {
    if (!FBuffer.empty()) FStream.Write(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
  }

private:
  TStream& FStream;
  std::vector<std::uint8_t> FBuffer;
};

}  // namespace pg
