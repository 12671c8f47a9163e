// Helpers for the lossless JPEG tests: loading a tile into the encoder's scratch, encoding it,
// decoding a stream back into a tile, and a few sample patterns.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dng/dng.h"

namespace tamzel::testing {

// A tile of width x height samples, row-major, as the unpacker would see it in the image.
struct Tile {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint16_t> samples;
  uint16_t at(uint32_t x, uint32_t y) const { return samples[std::size_t{y} * width + x]; }
};

enum class Pattern { Random, Gradient, SmoothNoise, Constant, Extremes };

inline Tile makeTile(uint32_t width, uint32_t height, uint32_t bits, Pattern pattern,
                     uint32_t seed) {
  Tile tile{width, height, std::vector<uint16_t>(std::size_t{width} * height)};
  std::mt19937 rng(seed);
  const uint32_t maxValue = (1u << bits) - 1;
  std::uniform_int_distribution<uint32_t> any(0, maxValue);
  std::normal_distribution<double> noise(0.0, 3.0 + bits);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      double v = 0;
      switch (pattern) {
        case Pattern::Random:
          v = any(rng);
          break;
        case Pattern::Gradient:
          v = (double(x) * 7 + double(y) * 3 + (x & 1) * 100) * maxValue /
              (7.0 * width + 3.0 * height + 100);
          break;
        case Pattern::SmoothNoise:
          v = maxValue * (0.4 + 0.3 * std::sin(x * 0.05) * std::cos(y * 0.07)) + noise(rng);
          break;
        case Pattern::Constant:
          v = maxValue / 3;
          break;
        case Pattern::Extremes:
          v = ((x + y) % 3 == 0) ? 0 : maxValue;
          break;
      }
      v = std::min<double>(std::max<double>(v, 0.0), maxValue);
      tile.samples[std::size_t{y} * width + x] = static_cast<uint16_t>(v);
    }
  }
  return tile;
}

// The encoder's side: a scratch holding one tile, split into its even and odd columns.
struct EncoderRig {
  EncoderScratch scratch;
  TileLayout layout;

  void load(const Tile& tile) {
    layout = TileLayout{1, 1, tile.width, tile.height, 1};
    ASSERT_TRUE(scratch.reserve(layout));
    const uint32_t columns = tile.width / 2;
    for (uint32_t y = 0; y < tile.height; ++y) {
      for (uint32_t k = 0; k < columns; ++k) {
        scratch.samples[0][std::size_t{y} * columns + k] = tile.at(2 * k, y);
        scratch.samples[1][std::size_t{y} * columns + k] = tile.at(2 * k + 1, y);
      }
    }
  }

  std::vector<uint8_t> encode(uint32_t bits) {
    std::vector<uint8_t> out(worstCase() + 16);
    const std::size_t length = encodeTile(scratch, bits, layout, out.data(), out.size(), 0);
    out.resize(length);
    return out;
  }

  std::size_t worstCase() const {
    // 16 code bits and 16 additional bits per sample, every byte stuffed, plus the headers.
    return std::size_t{layout.tileWidth} * layout.tileLength * 8 + 256;
  }
};

// Decodes a tile stream and re-interleaves its two components column by column.
inline DecodeStatus decodeTile(const std::vector<uint8_t>& stream, Tile& tile,
                               LosslessImage* imageOut = nullptr) {
  LosslessImage image;
  const DecodeStatus status = decodeLosslessJpeg(stream.data(), stream.size(), image);
  if (status != DecodeStatus::Ok) return status;
  tile = Tile{image.width * 2, image.height, {}};
  tile.samples.resize(std::size_t{tile.width} * tile.height);
  if (image.components != 2) return DecodeStatus::BadData;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t k = 0; k < image.width; ++k) {
      for (uint32_t c = 0; c < 2; ++c) {
        tile.samples[std::size_t{y} * tile.width + 2 * k + c] =
            image.samples[(std::size_t{y} * image.width + k) * 2 + c];
      }
    }
  }
  if (imageOut != nullptr) *imageOut = std::move(image);
  return DecodeStatus::Ok;
}

// Offsets into an encoded tile stream, from its DHT counts.
struct StreamLayout {
  std::size_t table0 = 18;
  std::size_t table1 = 0;
  std::size_t sos = 0;
  std::size_t scan = 0;  // first entropy-coded byte
  uint32_t valueCounts[2] = {};
};

inline StreamLayout parseLayout(const std::vector<uint8_t>& s) {
  StreamLayout layout;
  layout.valueCounts[0] = (s[20] << 8 | s[21]) - 19;
  layout.table1 = 39 + layout.valueCounts[0];
  layout.valueCounts[1] = (s[layout.table1 + 2] << 8 | s[layout.table1 + 3]) - 19;
  layout.sos = 60 + layout.valueCounts[0] + layout.valueCounts[1];
  layout.scan = layout.sos + 12;
  return layout;
}

}  // namespace tamzel::testing
