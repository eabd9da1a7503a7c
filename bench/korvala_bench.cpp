// Timings of the pixel work behind a typical shrink: resampling a camera-sized photo,
// enlarging, dithering into palettes and choosing an optimized palette. A plain memcpy
// of the source pixels is the yardstick for memory bandwidth.
//
// The test images are synthetic but photo-like (smooth gradients, soft shapes with
// edges, sensor-like noise) and generated deterministically, so runs compare.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "pgraphic/optimized_palette.h"
#include "pgraphic/pixel_graphic.h"

using namespace pg;

namespace {

// Fills G with a 24-bit photo-like picture of Width x Height. The same arguments give
// the same pixels; the scene scales with the size, so a small and a large version
// show the same content.
void MakePhoto(TPixelGraphic& G, int Width, int Height, std::uint32_t Seed) {
  G.SetFormat(Width, Height, 3);
  constexpr double Pi = 3.14159265358979323846;
  // Separable low-frequency shading per channel, plus a product term so the colour
  // field is not just a sum of a row and a column profile.
  std::vector<int> ColR(Width), ColG(Width), ColB(Width), ColP(Width);
  std::vector<int> RowR(Height), RowG(Height), RowB(Height), RowP(Height);
  for (int x = 0; x < Width; ++x) {
    const double u = static_cast<double>(x) / Width;
    ColR[x] = static_cast<int>(60 * std::cos(2 * Pi * (u * 0.9 + 0.1)));
    ColG[x] = static_cast<int>(70 * u + 25 * std::sin(2 * Pi * u * 2.3));
    ColB[x] = static_cast<int>(40 * std::sin(2 * Pi * (u * 1.4 + 0.3)));
    ColP[x] = static_cast<int>(255 * std::sin(Pi * u));
  }
  for (int y = 0; y < Height; ++y) {
    const double v = static_cast<double>(y) / Height;
    RowR[y] = static_cast<int>(110 + 50 * v);
    RowG[y] = static_cast<int>(90 + 40 * std::cos(2 * Pi * v * 1.2));
    RowB[y] = static_cast<int>(150 - 110 * v);  // sky above, darker ground below
    RowP[y] = static_cast<int>(255 * std::sin(Pi * v * 0.8));
  }
  // A few soft-edged discs stand in for objects with outlines.
  struct TDisc { double cx, cy, r; int dr, dg, db; };
  const TDisc Discs[] = {{0.30, 0.60, 0.18, 70, -30, -60}, {0.72, 0.35, 0.12, -50, 40, -20},
                         {0.55, 0.80, 0.25, -20, -10, 50}};
  std::uint32_t Rand = Seed | 1;
  for (int y = 0; y < Height; ++y) {
    std::uint8_t* P = G.GetScanLine(y);
    const double v = static_cast<double>(y) / Height;
    for (int x = 0; x < Width; ++x, P += 3) {
      int R = ColR[x] + RowR[y], Gr = ColG[x] + RowG[y], B = ColB[x] + RowB[y];
      const int Prod = (ColP[x] * RowP[y]) >> 10;  // 0 .. 63
      R += Prod;
      Gr += Prod / 2;
      const double u = static_cast<double>(x) / Width;
      for (const TDisc& D : Discs) {
        const double dx = (u - D.cx) * Width / Height, dy = v - D.cy;
        if (dx * dx + dy * dy < D.r * D.r) {
          R += D.dr;
          Gr += D.dg;
          B += D.db;
        }
      }
      // Sensor-like noise of +-8 per channel.
      Rand ^= Rand << 13;
      Rand ^= Rand >> 17;
      Rand ^= Rand << 5;
      R += static_cast<int>(Rand & 15) - 8;
      Gr += static_cast<int>((Rand >> 4) & 15) - 8;
      B += static_cast<int>((Rand >> 8) & 15) - 8;
      P[0] = static_cast<std::uint8_t>(std::clamp(B, 0, 255));
      P[1] = static_cast<std::uint8_t>(std::clamp(Gr, 0, 255));
      P[2] = static_cast<std::uint8_t>(std::clamp(R, 0, 255));
    }
  }
}

// The test photos, made once and shared by the benchmarks.
const TPixelGraphic& Photo(int Width, int Height) {
  struct TEntry {
    int Width, Height;
    TPixelGraphic Image;
  };
  static std::vector<std::unique_ptr<TEntry>> Made;
  for (const auto& E : Made)
    if (E->Width == Width && E->Height == Height) return E->Image;
  auto E = std::make_unique<TEntry>();
  E->Width = Width;
  E->Height = Height;
  MakePhoto(E->Image, Width, Height, 20240601);
  Made.push_back(std::move(E));
  return Made.back()->Image;
}

// Source pixels per second and bytes of source pixel memory per second; the time per
// pixel of Image (the one whose size sets the work).
void SetPixelCounters(benchmark::State& State, const TPixelGraphic& Src, const TPixelGraphic& Image,
                      const char* PerPixelName) {
  const double SrcPixels = static_cast<double>(Src.GetWidth()) * Src.GetHeight();
  const double Pixels = static_cast<double>(Image.GetWidth()) * Image.GetHeight();
  State.counters["src_px/s"] = benchmark::Counter(SrcPixels, benchmark::Counter::kIsIterationInvariantRate);
  State.counters[PerPixelName] =
      benchmark::Counter(Pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * Src.ImageSize());
}

void Stretch(benchmark::State& State, int SrcWidth, int SrcHeight, int DestWidth, int DestHeight, TStretchMode Mode) {
  const TPixelGraphic& Src = Photo(SrcWidth, SrcHeight);
  TPixelGraphic Dest;
  Dest.SetFormat(DestWidth, DestHeight, 3);
  Dest.SetStretchMode(Mode);
  for (auto _ : State) {
    Dest.StretchFrom(Src);
    benchmark::DoNotOptimize(Dest.GetBits());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(State, Src, Dest, "time/dest_px");
}

void BM_StretchPrecise(benchmark::State& State) { Stretch(State, 6000, 4000, 1500, 1000, smPrecise); }
void BM_StretchMedium(benchmark::State& State) { Stretch(State, 6000, 4000, 1500, 1000, smMedium); }
void BM_StretchFast(benchmark::State& State) { Stretch(State, 6000, 4000, 1500, 1000, smFast); }
void BM_Enlarge(benchmark::State& State) { Stretch(State, 750, 500, 3000, 2000, smPrecise); }

// A same-size conversion of a 1500 x 1000 photo into an 8-bit image with dithering.
// The colour cache starts empty in every run, as it does for each real conversion
// after a new palette.
void Dither(benchmark::State& State, TPaletteIdent Ident) {
  const TPixelGraphic& Src = Photo(1500, 1000);
  TPixelGraphic Dest;
  Dest.SetFormat(Src.GetWidth(), Src.GetHeight(), 2);
  if (Ident == pUnknown) CreateOptimizedPalette(Dest, Src, 256, true);  // 240 chosen + 16 system colours
  else Dest.SetPaletteIdent(Ident);
  Dest.SetDither(true);
  for (auto _ : State) {
    Dest.ClearColorCache();
    Dest.StretchFrom(Src);
    benchmark::DoNotOptimize(Dest.GetBits());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(State, Src, Dest, "time/dest_px");
  State.counters["palette"] = Dest.PaletteCount();
}

void BM_DitherOptimized256(benchmark::State& State) { Dither(State, pUnknown); }
void BM_DitherSpecial252(benchmark::State& State) { Dither(State, pSpecial252); }
void BM_DitherGray256(benchmark::State& State) { Dither(State, pGray256); }

void BM_OptimizedPalette(benchmark::State& State) {
  const TPixelGraphic& Src = Photo(1500, 1000);
  TPixelGraphic Dest;
  Dest.SetFormat(Src.GetWidth(), Src.GetHeight(), 2);
  for (auto _ : State) {
    CreateOptimizedPalette(Dest, Src, 256, true);
    benchmark::DoNotOptimize(Dest.GetPaletteData());
    benchmark::ClobberMemory();
  }
  SetPixelCounters(State, Src, Src, "time/src_px");
  State.counters["palette"] = Dest.PaletteCount();
}

void BM_Memcpy72MB(benchmark::State& State) {
  const TPixelGraphic& Src = Photo(6000, 4000);
  const auto Size = static_cast<std::size_t>(Src.ImageSize());
  std::vector<std::uint8_t> Copy(Size);
  for (auto _ : State) {
    std::memcpy(Copy.data(), Src.GetBits(), Size);
    benchmark::DoNotOptimize(Copy.data());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(Size));
}

}  // namespace

BENCHMARK(BM_StretchPrecise)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StretchMedium)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StretchFast)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Enlarge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DitherOptimized256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DitherSpecial252)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DitherGray256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OptimizedPalette)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy72MB)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
