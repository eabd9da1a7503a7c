#pragma once
// Helpers for tests against peer tools: the generated corpus, reference pixels in
// binary PPM files, and decoding a file we wrote with a peer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pgraphic/pixel_graphic.h"

namespace kvtest {

struct Rgb8Image {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Pixels;  // R, G, B per pixel, top row first
  pg::TRGB At(int x, int y) const {
    const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x));
    return pg::RGBColor(Pixels[i], Pixels[i + 1], Pixels[i + 2]);
  }
};

// Reads a binary P6 file with maxval 255.
inline Rgb8Image ReadPpm(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::string Magic;
  int MaxVal = 0;
  Rgb8Image Img;
  F >> Magic >> Img.Width >> Img.Height >> MaxVal;
  F.get();
  if (Magic != "P6" || MaxVal != 255) return {};
  Img.Pixels.resize(3 * static_cast<std::size_t>(Img.Width) * static_cast<std::size_t>(Img.Height));
  F.read(reinterpret_cast<char*>(Img.Pixels.data()), static_cast<std::streamsize>(Img.Pixels.size()));
  if (!F) return {};
  return Img;
}

// Counts the pixels of G that differ from Ref (and reports the first); a size
// mismatch counts as every pixel.
inline int CountMismatches(const pg::TPixelGraphic& G, const Rgb8Image& Ref, const std::string& What) {
  if (G.GetWidth() != Ref.Width || G.GetHeight() != Ref.Height) {
    ADD_FAILURE() << What << ": size " << G.GetWidth() << "x" << G.GetHeight() << ", reference " << Ref.Width << "x" << Ref.Height;
    return Ref.Width * Ref.Height + 1;
  }
  int Bad = 0;
  for (int y = 0; y < Ref.Height; ++y)
    for (int x = 0; x < Ref.Width; ++x)
      if (G.GetPixelColor(x, y) != Ref.At(x, y) && Bad++ == 0)
        ADD_FAILURE() << What << ": first mismatch at " << x << "," << y << std::hex << " ours " << G.GetPixelColor(x, y)
                      << " reference " << Ref.At(x, y);
  return Bad;
}

inline std::string CorpusDir() {
  const char* Dir = std::getenv("KORVALA_CORPUS");
  return Dir ? Dir : "";
}

// The files of a corpus folder with the given extension (".bmp"), sorted; none when the
// folder is missing.
inline std::vector<std::filesystem::path> CorpusFiles(const std::filesystem::path& Dir, const char* Extension) {
  std::vector<std::filesystem::path> F;
  if (std::filesystem::is_directory(Dir))
    for (const auto& E : std::filesystem::directory_iterator(Dir))
      if (E.path().extension() == Extension) F.push_back(E.path());
  std::sort(F.begin(), F.end());
  return F;
}

enum class Peer { Pillow, ImageMagick };

// Decodes File with a peer into a P6 file and reads it back; empty on failure.
inline Rgb8Image DecodeWithPeer(Peer P, const std::string& File) {
  const std::string Out = File + (P == Peer::Pillow ? ".pil.ppm" : ".im.ppm");
  const std::string Cmd =
      P == Peer::Pillow
          ? "/usr/bin/python3 -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2], \"PPM\")' '" +
                File + "' '" + Out + "'"
          : "convert-im6.q16 '" + File + "' -depth 8 'ppm:" + Out + "'";
  if (std::system(Cmd.c_str()) != 0) return {};
  return ReadPpm(Out);
}

}  // namespace kvtest
