#pragma once
// Library-wide settings with their start-up defaults. The front ends set them before
// work starts; they are read-only while images are processed.

namespace pg {

extern long double DefaultGamma;   // gamma assumed for pixel data: 1.8
extern bool GammaCorrectOnLoad;    // re-map colours of files with another gamma: on

}  // namespace pg
