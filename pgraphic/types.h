#pragma once
// Basic value types shared by the whole image library.

#include <cstdint>
#include <functional>

namespace pg {

// A colour packed like a COLORREF: red in bits 0..7, green in 8..15, blue in 16..23.
using TRGB = std::int32_t;

constexpr TRGB RGBColor(int R, int G, int B) { return R + (G << 8) + (B << 16); }
constexpr int RedOf(TRGB C) { return C & 0xFF; }
constexpr int GreenOf(TRGB C) { return (C >> 8) & 0xFF; }
constexpr int BlueOf(TRGB C) { return (C >> 16) & 0xFF; }

// Common root of the library's objects, so that events can name their sender.
class TObject {
public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Progress of a long operation: Step counts towards Max; setting Abort stops the
// operation after the current unit of work, keeping what is done (not an error).
using TPGProgressEvent = std::function<void(TObject* Sender, int Step, int Max, bool& Abort)>;

}  // namespace pg
