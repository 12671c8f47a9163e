// Lossless JPEG (T.81 process 14, SOF3) encoding of one tile held as two half-width planes.
//
// Per tile: three predictors are tried on both planes, each costed from its category
// histogram and Huffman code lengths alone; only the cheapest predictor's scan is written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dng/dng.h"

namespace tamzel {

namespace {

constexpr int kSymbols = 18;  // categories 0..16 plus the reserved symbol 17
constexpr int kReserved = 17;

// The category of a signed difference: 0 for 0, otherwise the bit length of |d| (1..16).
inline uint32_t categoryOf(int32_t d) {
  const int32_t sign = d >> 31;
  const uint32_t magnitude = static_cast<uint32_t>((d ^ sign) - sign);
  // 2m+1 is never 0, and its bit length is one more than that of m.
  return 31u - static_cast<uint32_t>(__builtin_clz(magnitude * 2u + 1u));
}

// The same from |d| without a bit scan, in a form the compiler turns into vector code: a
// magnitude m > 0 converted to float has the exponent field bitLength(m) + 126; 0 has 0.
inline uint32_t categoryOfMagnitude(uint32_t magnitude) {
  const float f = static_cast<float>(static_cast<int32_t>(magnitude));
  uint32_t fields;
  std::memcpy(&fields, &f, sizeof fields);
  const int32_t e = static_cast<int32_t>(fields >> 23) - 126;
  return static_cast<uint32_t>(e & ~(e >> 31));
}

// Differences are (x - prediction) modulo 2^16, read as a signed 16-bit number; a negative one
// is stored less one so its low SSSS bits are the additional bits to write.
inline void codeEntry(uint32_t x, int32_t prediction, uint16_t* differences, uint8_t* categories,
                      uint32_t index) {
  const int32_t d =
      static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(x) - prediction));
  differences[index] = static_cast<uint16_t>(d + (d >> 31));
  categories[index] = static_cast<uint8_t>(categoryOf(d));
}

// Entries first..columns-1 of one row, with the predictor as a functor over (Ra, Rb, Rc). No
// branch and no histogram here, so the loop vectorises; counting follows per row.
template <typename Predict>
inline void predictRow(const uint16_t* __restrict current, const uint16_t* __restrict above,
                       uint32_t first, uint32_t columns, uint16_t* __restrict differences,
                       uint8_t* __restrict categories, Predict predict) {
  for (uint32_t i = first; i < columns; ++i) {
    const int32_t prediction = predict(current[i - 1], above[i], above[i - 1]);
    const int32_t d =
        static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(current[i]) - prediction));
    const int32_t sign = d >> 31;
    differences[i] = static_cast<uint16_t>(d + sign);
    categories[i] =
        static_cast<uint8_t>(categoryOfMagnitude(static_cast<uint32_t>((d ^ sign) - sign)));
  }
}

// Counts one row's categories (still in the first-level cache) into four histograms, so
// runs of one category do not serialise on a single counter.
inline void countRow(const uint8_t* categories, uint32_t n, uint32_t (*histograms)[kSymbols]) {
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++histograms[0][categories[i]];
    ++histograms[1][categories[i + 1]];
    ++histograms[2][categories[i + 2]];
    ++histograms[3][categories[i + 3]];
  }
  for (; i < n; ++i) ++histograms[0][categories[i]];
}

// Huffman code lengths by T.81 Annex K.2 (Figure K.1) from an 18-entry histogram whose entry
// 17 is the reserved symbol. Among equal frequencies the highest-numbered symbol is taken.
void codeLengthsFromHistogram(const uint32_t histogram[kSymbols], uint8_t lengths[kSymbols]) {
  uint64_t frequency[kSymbols];
  int next[kSymbols];
  for (int s = 0; s < kSymbols; ++s) {
    frequency[s] = histogram[s];
    next[s] = -1;
    lengths[s] = 0;
  }
  for (;;) {
    int v1 = -1;
    for (int s = 0; s < kSymbols; ++s) {
      if (frequency[s] != 0 && (v1 < 0 || frequency[s] <= frequency[v1])) v1 = s;
    }
    int v2 = -1;
    for (int s = 0; s < kSymbols; ++s) {
      if (s != v1 && frequency[s] != 0 && (v2 < 0 || frequency[s] <= frequency[v2])) v2 = s;
    }
    if (v1 < 0 || v2 < 0) break;
    frequency[v1] += frequency[v2];
    frequency[v2] = 0;
    int s = v1;
    for (;;) {
      ++lengths[s];
      if (next[s] < 0) break;
      s = next[s];
    }
    next[s] = v2;
    for (s = v2; s >= 0; s = next[s]) ++lengths[s];
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

inline void putBig16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// Per symbol of one component: the code already shifted left past the symbol's additional
// bits, the total bit count, and the mask selecting the additional bits of a difference.
struct SymbolCode {
  uint32_t shiftedCode = 0;
  uint32_t bitCount = 0;
  uint32_t extraMask = 0;
};

struct ComponentCoder {
  SymbolCode symbols[17];
  uint32_t maxBits = 0;  // the longest code plus additional bits of any symbol in the table
};

ComponentCoder makeCoder(const HuffmanTable& table) {
  ComponentCoder coder;
  for (uint32_t k = 0; k < table.valueCount; ++k) {
    const uint32_t s = table.values[k];
    const uint32_t extra = s & 15u;  // category 16 carries no additional bits
    SymbolCode& code = coder.symbols[s];
    code.shiftedCode = static_cast<uint32_t>(table.codes[s]) << extra;
    code.bitCount = table.lengths[s] + extra;
    code.extraMask = (1u << extra) - 1u;
    coder.maxBits = std::max(coder.maxBits, code.bitCount);
  }
  return coder;
}

// The entropy coder's bit buffer: `bits` pending bits, left-aligned in `acc`. It is emptied of
// whole bytes after every symbol (or pair of symbols), so it never holds more than 7 + 31 bits
// (or 7 + 56 when both components' longest symbols fit in 56 bits).
struct BitBuffer {
  uint64_t acc = 0;
  uint32_t bits = 0;

  void put(uint32_t value, uint32_t count) {
    // count >= 1 for every symbol in a table, so the shift stays below 64.
    acc |= static_cast<uint64_t>(value) << (64u - bits - count);
    bits += count;
  }
};

// Emits the whole bytes of the buffer at p. The caller has proven that p has room for 8 bytes
// plus a stuffed 0x00 per emitted byte. Returns the new write pointer.
inline uint8_t* emitFast(BitBuffer& buffer, uint8_t* p) {
  const uint32_t bytes = buffer.bits >> 3;
  const uint64_t acc = buffer.acc;
  const uint64_t inverted = ~acc;
  // A byte of 0xFF is a zero byte of ~acc; look only at the bytes that leave the buffer.
  const uint64_t leaving = ~(~uint64_t{0} >> (8u * bytes));
  const uint64_t zeroBytes =
      (inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull & leaving;
  if (__builtin_expect(zeroBytes == 0, 1)) {
    const uint64_t big = __builtin_bswap64(acc);
    std::memcpy(p, &big, 8);
    p += bytes;
  } else {
    uint64_t rest = acc;
    for (uint32_t k = 0; k < bytes; ++k) {
      const uint8_t b = static_cast<uint8_t>(rest >> 56);
      *p++ = b;
      if (b == 0xFF) *p++ = 0x00;
      rest <<= 8;
    }
  }
  // bits <= 63, so bytes <= 7 and the shift stays below 64.
  buffer.acc = acc << (8u * bytes);
  buffer.bits -= 8u * bytes;
  return p;
}

// The same, one byte at a time against the end of the room. Returns nullptr when out of room.
inline uint8_t* emitChecked(BitBuffer& buffer, uint8_t* p, const uint8_t* end) {
  while (buffer.bits >= 8) {
    const uint8_t b = static_cast<uint8_t>(buffer.acc >> 56);
    if (p == end) return nullptr;
    *p++ = b;
    if (b == 0xFF) {
      if (p == end) return nullptr;
      *p++ = 0x00;
    }
    buffer.acc <<= 8;
    buffer.bits -= 8;
  }
  return p;
}

inline void putSample(BitBuffer& buffer, const ComponentCoder& coder, uint8_t category,
                      uint16_t difference) {
  const SymbolCode& code = coder.symbols[category];
  buffer.put(code.shiftedCode | (difference & code.extraMask), code.bitCount);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

ComponentAnalysis analyseComponent(const uint16_t* plane, uint32_t columns, uint32_t rows,
                                   int predictor, uint32_t initialPrediction, uint16_t* differences,
                                   uint8_t* categories) {
  uint32_t histograms[4][kSymbols] = {};
  if (columns != 0 && rows != 0) {
    // Row 0: the first entry against the initial prediction, the others against Ra.
    codeEntry(plane[0], static_cast<int32_t>(initialPrediction), differences, categories, 0);
    predictRow(plane, plane, 1, columns, differences, categories,
               [](int32_t a, int32_t, int32_t) { return a; });
    countRow(categories, columns, histograms);
    for (uint32_t y = 1; y < rows; ++y) {
      const std::size_t row = std::size_t{y} * columns;
      const uint16_t* current = plane + row;
      const uint16_t* above = current - columns;
      uint16_t* rowDifferences = differences + row;
      uint8_t* rowCategories = categories + row;
      // Column 0 against Rb.
      codeEntry(current[0], above[0], rowDifferences, rowCategories, 0);
      switch (predictor) {
        case 4:
          predictRow(current, above, 1, columns, rowDifferences, rowCategories,
                     [](int32_t a, int32_t b, int32_t c) { return a + b - c; });
          break;
        case 5:
          predictRow(current, above, 1, columns, rowDifferences, rowCategories,
                     [](int32_t a, int32_t b, int32_t c) { return a + ((b - c) >> 1); });
          break;
        default:
          predictRow(current, above, 1, columns, rowDifferences, rowCategories,
                     [](int32_t a, int32_t, int32_t) { return a; });
          break;
      }
      countRow(rowCategories, columns, histograms);
    }
  }

  uint32_t histogram[kSymbols];
  for (int s = 0; s < kSymbols; ++s) {
    histogram[s] = histograms[0][s] + histograms[1][s] + histograms[2][s] + histograms[3][s];
  }
  histogram[kReserved] = 1;

  ComponentAnalysis analysis;
  codeLengthsFromHistogram(histogram, analysis.codeLengths);
  uint64_t bits = 0;
  for (int s = 0; s <= 16; ++s) {
    bits += uint64_t{histogram[s]} * (uint64_t{analysis.codeLengths[s]} + static_cast<uint64_t>(s));
  }
  const uint64_t bytes = bits / 8;
  analysis.estimate = bytes > std::numeric_limits<uint32_t>::max()
                          ? std::numeric_limits<uint32_t>::max()
                          : static_cast<uint32_t>(bytes);
  return analysis;
}

HuffmanTable buildHuffmanTable(const uint8_t codeLengths[18]) {
  // Counts per length; a length may be anything up to 255 on paper, 17 in practice.
  int count[257] = {};
  int longest = 0;
  for (int s = 0; s < kSymbols; ++s) {
    if (codeLengths[s] != 0) {
      ++count[codeLengths[s]];
      longest = std::max(longest, static_cast<int>(codeLengths[s]));
    }
  }

  // Figure K.3: move codes from lengths above 16 up the tree, two at a time.
  for (int i = longest; i > 16; --i) {
    while (count[i] > 0) {
      int j = i - 2;
      while (j > 0 && count[j] == 0) --j;
      if (j == 0 || count[i] < 2) {
        // Not the lengths of a complete code; keep whatever is left at length 16.
        count[16] += count[i];
        count[i] = 0;
        break;
      }
      count[i] -= 2;
      count[i - 1] += 1;
      count[j + 1] += 2;
      count[j] -= 1;
    }
  }
  // The reserved symbol's code, the last one of the longest length, is dropped.
  for (int i = 16; i > 0; --i) {
    if (count[i] > 0) {
      --count[i];
      break;
    }
  }

  HuffmanTable table;
  for (int i = 1; i <= 16; ++i) table.bits[i - 1] = static_cast<uint8_t>(count[i]);

  uint32_t n = 0;
  for (int length = 1; length <= 255; ++length) {
    for (int s = 0; s <= 16; ++s) {
      if (codeLengths[s] == length) table.values[n++] = static_cast<uint8_t>(s);
    }
  }
  // Never more codes than the counts hold (only when the lengths were not a complete code).
  uint32_t slots = 0;
  for (int i = 1; i <= 16; ++i) slots += table.bits[i - 1];
  table.valueCount = std::min(n, slots);

  uint32_t code = 0;
  uint32_t k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int c = 0; c < table.bits[length - 1] && k < table.valueCount; ++c, ++k) {
      table.codes[table.values[k]] = static_cast<uint16_t>(code);
      table.lengths[table.values[k]] = static_cast<uint8_t>(length);
      ++code;
    }
    code <<= 1;
  }
  return table;
}

std::size_t encodeTile(EncoderScratch& scratch, uint32_t bitsPerSample, const TileLayout& layout,
                       uint8_t* out, std::size_t capacity, std::size_t position) {
  const uint32_t columns = layout.tileWidth / 2;
  const uint32_t rows = layout.tileLength;
  if (bitsPerSample < 2 || bitsPerSample > 16) return 0;
  if (layout.tileWidth % 2 != 0) return 0;  // both planes must be equally wide
  if (columns == 0 || rows == 0 || columns > 0xFFFF || rows > 0xFFFF) return 0;
  if (uint64_t{columns} * rows > scratch.capacity) return 0;
  if (position > capacity) return 0;

  static constexpr int kPredictors[3] = {1, 4, 5};
  const uint32_t initialPrediction = 1u << (bitsPerSample - 1);
  ComponentAnalysis analyses[2][3];
  for (int k = 0; k < 3; ++k) {
    for (int p = 0; p < 2; ++p) {
      analyses[p][k] =
          analyseComponent(scratch.samples[p], columns, rows, kPredictors[k], initialPrediction,
                           scratch.differences[p][k], scratch.categories[p][k]);
    }
  }
  int chosen = 0;
  uint64_t best = std::numeric_limits<uint64_t>::max();
  for (int k = 0; k < 3; ++k) {
    const uint64_t sum = uint64_t{analyses[0][k].estimate} + analyses[1][k].estimate;
    if (sum < best) {
      best = sum;
      chosen = k;
    }
  }
  if (scratch.refuseCategory16 &&
      (analyses[0][chosen].codeLengths[16] != 0 || analyses[1][chosen].codeLengths[16] != 0)) {
    scratch.refusedCategory16 = true;
    return 0;
  }
  const HuffmanTable tables[2] = {buildHuffmanTable(analyses[0][chosen].codeLengths),
                                  buildHuffmanTable(analyses[1][chosen].codeLengths)};

  // Marker segments.
  const uint32_t a = tables[0].valueCount;
  const uint32_t b = tables[1].valueCount;
  const std::size_t headerSize = 72 + a + b;
  uint8_t* const start = out + position;
  const uint8_t* const end = out + capacity;
  if (capacity - position < headerSize) return 0;
  uint8_t* p = start;
  static constexpr uint8_t kSoiSof[] = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0E};
  std::memcpy(p, kSoiSof, sizeof kSoiSof);
  p[6] = static_cast<uint8_t>(bitsPerSample);
  putBig16(p + 7, rows);
  putBig16(p + 9, columns);
  static constexpr uint8_t kComponents[] = {0x02, 0x00, 0x11, 0x00, 0x01, 0x11, 0x00};
  std::memcpy(p + 11, kComponents, sizeof kComponents);
  p += 18;
  for (int t = 0; t < 2; ++t) {
    const uint32_t count = tables[t].valueCount;
    p[0] = 0xFF;
    p[1] = 0xC4;
    putBig16(p + 2, 19 + count);
    p[4] = static_cast<uint8_t>(t);
    std::memcpy(p + 5, tables[t].bits, 16);
    std::memcpy(p + 21, tables[t].values, count);
    p += 21 + count;
  }
  static constexpr uint8_t kSos[] = {0xFF, 0xDA, 0x00, 0x0A, 0x02, 0x00, 0x00, 0x01, 0x10};
  std::memcpy(p, kSos, sizeof kSos);
  p[9] = static_cast<uint8_t>(kPredictors[chosen]);
  p[10] = 0x00;
  p[11] = 0x00;
  p += 12;

  // The scan. A row is written by the unchecked loop when the room left can take the worst
  // case: every bit of the row's longest codes, every byte stuffed, and the 8-byte stores of
  // the fast emitter reaching past the last byte.
  const ComponentCoder coders[2] = {makeCoder(tables[0]), makeCoder(tables[1])};
  const uint64_t rowBits = uint64_t{columns} * (coders[0].maxBits + coders[1].maxBits) + 7;
  const std::size_t worstRow = static_cast<std::size_t>(2 * ((rowBits + 7) / 8) + 8);
  const uint16_t* const d0 = scratch.differences[0][chosen];
  const uint16_t* const d1 = scratch.differences[1][chosen];
  const uint8_t* const c0 = scratch.categories[0][chosen];
  const uint8_t* const c1 = scratch.categories[1][chosen];
  // With at most 7 bits left over, a pair of symbols fits the 64-bit buffer when their
  // longest codes plus additional bits come to 56 or fewer; then one emptying serves both.
  const bool pairsFit = coders[0].maxBits + coders[1].maxBits <= 56;
  BitBuffer buffer;
  for (uint32_t y = 0; y < rows; ++y) {
    const std::size_t row = std::size_t{y} * columns;
    if (pairsFit && static_cast<std::size_t>(end - p) >= worstRow) {
      for (uint32_t i = 0; i < columns; ++i) {
        putSample(buffer, coders[0], c0[row + i], d0[row + i]);
        putSample(buffer, coders[1], c1[row + i], d1[row + i]);
        p = emitFast(buffer, p);
      }
    } else if (static_cast<std::size_t>(end - p) >= worstRow) {
      for (uint32_t i = 0; i < columns; ++i) {
        putSample(buffer, coders[0], c0[row + i], d0[row + i]);
        p = emitFast(buffer, p);
        putSample(buffer, coders[1], c1[row + i], d1[row + i]);
        p = emitFast(buffer, p);
      }
    } else {
      for (uint32_t i = 0; i < columns; ++i) {
        putSample(buffer, coders[0], c0[row + i], d0[row + i]);
        p = emitChecked(buffer, p, end);
        if (p == nullptr) return 0;
        putSample(buffer, coders[1], c1[row + i], d1[row + i]);
        p = emitChecked(buffer, p, end);
        if (p == nullptr) return 0;
      }
    }
  }
  if (buffer.bits > 0) {
    // Complete the last byte with 1 bits.
    buffer.acc |= ~uint64_t{0} >> buffer.bits;
    buffer.bits = 8;
    p = emitChecked(buffer, p, end);
    if (p == nullptr) return 0;
  }

  // EOI and the pad byte.
  const std::size_t length = static_cast<std::size_t>(p - start) + 2;
  const std::size_t total = length + (length & 1);
  if (static_cast<std::size_t>(end - p) < total - (length - 2)) return 0;
  p[0] = 0xFF;
  p[1] = 0xD9;
  if (length & 1) p[2] = 0x00;
  return total;
}

}  // namespace tamzel
