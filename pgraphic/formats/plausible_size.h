#pragma once
// A header can describe far more pixels than its file could fill. Readers refuse such
// files before their memory is taken: a short file still loads partly, but one that
// cannot fill a meaningful part of its image would only end in an error later.

#include <algorithm>
#include <cstdint>

namespace pg {

// True when BytesLeft bytes of data, each giving at most Ratio bytes of pixel memory,
// can fill a meaningful part (all but 1 MiB) of Height rows of RowBytes bytes.
inline bool PlausibleImageSize(std::int64_t RowBytes, std::int64_t Height, std::int64_t BytesLeft, std::int64_t Ratio) {
  if (RowBytes <= 0 || Height <= 0) return true;  // no pixel memory to take
  constexpr std::int64_t Slack = 1 << 20;
  BytesLeft = std::max<std::int64_t>(BytesLeft, 0);
  if (Ratio > 0 && BytesLeft > (INT64_MAX - Slack) / Ratio) return true;  // more data than any image takes
  const std::int64_t Limit = BytesLeft * Ratio + Slack;
  // Compared row by row: the product of two header fields can pass 64 bits.
  return Height <= Limit / RowBytes;
}

}  // namespace pg
