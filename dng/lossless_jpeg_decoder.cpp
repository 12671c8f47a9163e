// Decoding of lossless JPEG streams (T.81 process 14, SOF3): any precision 2..16, 1-4
// components at 1x1 sampling, predictors 1-7, point transform, restart intervals.
//
// The stream is untrusted. Marker segments are read through ByteView's range checks; the
// entropy-coded data are read byte by byte, each read checked against the end of the stream.
#include <cstdint>
#include <cstring>

#include "dng/dng.h"

namespace tamzel {

namespace {

constexpr uint32_t kFastBits = 9;

struct DecodeTable {
  bool defined = false;
  // Entries for codes of at most kFastBits bits: (length << 8) | value, 0 for longer codes.
  uint16_t fast[1u << kFastBits] = {};
  int32_t minCode[17] = {};
  int32_t maxCode[18] = {};  // -1 when a length has no codes
  int32_t valueIndex[17] = {};
  uint8_t values[256] = {};
};

// Builds the decoding tables of one DHT table (T.81 C.2 and F.2.2.3). Rejects an
// over-subscribed code, which would give two symbols the same bits.
bool buildDecodeTable(const uint8_t bits[16], const uint8_t* values, uint32_t count,
                      DecodeTable& table) {
  table = DecodeTable{};
  std::memcpy(table.values, values, count);
  int32_t code = 0;
  int32_t k = 0;
  for (int length = 1; length <= 16; ++length) {
    const int32_t n = bits[length - 1];
    table.valueIndex[length] = k;
    table.minCode[length] = code;
    if (code + n > (int32_t{1} << length)) return false;
    table.maxCode[length] = n > 0 ? code + n - 1 : -1;
    for (int32_t c = 0; c < n; ++c, ++k) {
      if (length <= static_cast<int>(kFastBits)) {
        const uint32_t shift = kFastBits - static_cast<uint32_t>(length);
        const uint32_t first = static_cast<uint32_t>(code + c) << shift;
        for (uint32_t e = 0; e < (1u << shift); ++e) {
          table.fast[first + e] = static_cast<uint16_t>((length << 8) | values[k]);
        }
      }
    }
    code = (code + n) << 1;
  }
  table.maxCode[17] = 0x7FFFFFFF;  // sentinel: never reached with valid lengths
  table.defined = true;
  return true;
}

// Reads the entropy-coded bytes of a scan: removes the 0x00 after each 0xFF and stops in
// front of a marker or at the end of the data, feeding zero bits from there on. Bits fed that
// way are counted, so reading into them is noticed.
struct BitReader {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;  // next byte to take
  uint64_t acc = 0;     // left-aligned
  int bits = 0;
  int padBits = 0;       // the lowest padBits of the `bits` held are not from the stream
  bool stopped = false;  // a marker or the end of the data was met
  bool atMarker = false;
  bool overrun = false;

  void refill() {
    while (bits <= 56) {
      uint32_t byte = 0;
      if (!stopped) {
        if (pos >= size) {
          stopped = true;
        } else if (data[pos] != 0xFF) {
          byte = data[pos++];
        } else if (pos + 1 >= size) {
          stopped = true;  // a lone 0xFF at the very end: cut off
        } else if (data[pos + 1] == 0x00) {
          byte = 0xFF;
          pos += 2;
        } else {
          stopped = true;
          atMarker = true;
        }
      }
      if (stopped) padBits += 8;
      acc |= static_cast<uint64_t>(byte) << (56 - bits);
      bits += 8;
    }
  }

  uint32_t peek(int n) const { return static_cast<uint32_t>(acc >> (64 - n)); }

  void consume(int n) {
    acc <<= n;
    bits -= n;
    if (bits < padBits) overrun = true;
  }

  // Restarts after a marker at `at`, cleared of everything buffered.
  void resetAt(std::size_t at) {
    pos = at;
    acc = 0;
    bits = 0;
    padBits = 0;
    stopped = false;
    atMarker = false;
  }
};

// Decodes one difference: its category by the table, then the additional bits. Returns false
// for a code not in the table or a category above 16.
inline bool decodeDifference(BitReader& reader, const DecodeTable& table, int32_t& difference) {
  if (reader.bits < 32) reader.refill();
  uint32_t category;
  const uint16_t entry = table.fast[reader.peek(kFastBits)];
  if (entry != 0) {
    reader.consume(entry >> 8);
    category = entry & 0xFF;
  } else {
    int length = kFastBits + 1;
    int32_t code = static_cast<int32_t>(reader.peek(length));
    while (length <= 16 && code > table.maxCode[length]) {
      ++length;
      code = static_cast<int32_t>(reader.peek(length));
    }
    if (length > 16) return false;
    reader.consume(length);
    category = table.values[table.valueIndex[length] + code - table.minCode[length]];
  }
  if (category == 0) {
    difference = 0;
  } else if (category < 16) {
    const int32_t v = static_cast<int32_t>(reader.peek(static_cast<int>(category)));
    reader.consume(static_cast<int>(category));
    difference = v < (int32_t{1} << (category - 1)) ? v - (int32_t{1} << category) + 1 : v;
  } else if (category == 16) {
    difference = 32768;
  } else {
    return false;
  }
  return true;
}

struct FrameComponent {
  uint8_t id = 0;
  bool decoded = false;
};

struct Frame {
  bool present = false;
  uint32_t precision = 0;
  uint32_t height = 0;
  uint32_t width = 0;
  uint32_t componentCount = 0;
  FrameComponent components[4];
};

struct ScanComponent {
  uint32_t index = 0;  // into the frame's components
  const DecodeTable* table = nullptr;
};

inline int32_t predict(uint32_t predictor, int32_t a, int32_t b, int32_t c) {
  switch (predictor) {
    case 1:
      return a;
    case 2:
      return b;
    case 3:
      return c;
    case 4:
      return a + b - c;
    case 5:
      return a + ((b - c) >> 1);
    case 6:
      return b + ((a - c) >> 1);
    default:
      return (a + b) >> 1;
  }
}

// Finds the next marker at or after `from`: a 0xFF (after any fill 0xFF bytes) followed by a
// byte other than 0x00. Returns false when the data end first.
bool findMarker(const uint8_t* data, std::size_t size, std::size_t from, std::size_t& at) {
  for (std::size_t p = from; p + 1 < size; ++p) {
    if (data[p] == 0xFF && data[p + 1] != 0x00 && data[p + 1] != 0xFF) {
      at = p;
      return true;
    }
  }
  return false;
}

DecodeStatus decodeScan(const uint8_t* data, std::size_t size, std::size_t& pos, const Frame& frame,
                        const ScanComponent* scan, uint32_t scanCount, uint32_t predictor,
                        uint32_t pointTransform, uint32_t restartInterval, LosslessImage& image) {
  const uint32_t width = frame.width;
  const uint32_t height = frame.height;
  const uint32_t stride = frame.componentCount;
  const int32_t initial = int32_t{1} << (frame.precision - pointTransform - 1);
  uint16_t* const out = image.samples.data();

  BitReader reader;
  reader.data = data;
  reader.size = size;
  reader.pos = pos;
  // Restart intervals are whole rows (checked by the caller).
  const uint32_t rowsPerInterval = restartInterval / width;
  uint32_t nextRestart = 0;
  bool firstRow = true;

  for (uint32_t y = 0; y < height; ++y) {
    if (rowsPerInterval != 0 && y != 0 && y % rowsPerInterval == 0) {
      // The interval ended: the marker must come next, then prediction starts over.
      if (reader.overrun) return reader.atMarker ? DecodeStatus::BadData : DecodeStatus::Truncated;
      std::size_t at = 0;
      if (reader.atMarker) {
        at = reader.pos;
      } else if (!findMarker(data, size, reader.pos, at)) {
        return DecodeStatus::Truncated;
      }
      while (at + 2 < size && data[at + 1] == 0xFF) ++at;  // fill bytes before the marker
      if (data[at + 1] != 0xD0 + nextRestart) return DecodeStatus::BadMarker;
      nextRestart = (nextRestart + 1) & 7;
      reader.resetAt(at + 2);
      firstRow = true;
    }
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t here = (std::size_t{y} * width + x) * stride;
      for (uint32_t k = 0; k < scanCount; ++k) {
        const uint32_t c = scan[k].index;
        int32_t difference = 0;
        if (!decodeDifference(reader, *scan[k].table, difference)) return DecodeStatus::BadData;
        int32_t prediction;
        if (firstRow) {
          prediction = x == 0 ? initial : out[here - stride + c];
        } else if (x == 0) {
          prediction = out[here - std::size_t{width} * stride + c];
        } else {
          const int32_t a = out[here - stride + c];
          const int32_t b = out[here - std::size_t{width} * stride + c];
          const int32_t cc = out[here - std::size_t{width} * stride - stride + c];
          prediction = predict(predictor, a, b, cc);
        }
        out[here + c] = static_cast<uint16_t>(prediction + difference);
      }
    }
    firstRow = false;
  }
  if (reader.overrun) return reader.atMarker ? DecodeStatus::BadData : DecodeStatus::Truncated;

  std::size_t at = 0;
  if (reader.atMarker) {
    at = reader.pos;
  } else if (!findMarker(data, size, reader.pos, at)) {
    return DecodeStatus::Truncated;
  }
  pos = at;
  return DecodeStatus::Ok;
}

}  // namespace

DecodeStatus decodeLosslessJpeg(const uint8_t* data, std::size_t size, LosslessImage& image,
                                std::size_t maxSamples) {
  image = LosslessImage{};
  const ByteView view(data, size);
  auto byteAt = [&](std::size_t offset) { return data[offset]; };
  auto big16 = [&](std::size_t offset) {
    return static_cast<uint32_t>((data[offset] << 8) | data[offset + 1]);
  };

  if (!view.contains(0, 2)) return DecodeStatus::Truncated;
  if (byteAt(0) != 0xFF || byteAt(1) != 0xD8) return DecodeStatus::BadMarker;

  Frame frame;
  DecodeTable tables[4];
  uint32_t restartInterval = 0;
  bool allocated = false;
  std::size_t pos = 2;

  for (;;) {
    if (!view.contains(pos, 2)) return DecodeStatus::Truncated;
    if (byteAt(pos) != 0xFF) return DecodeStatus::BadMarker;
    while (view.contains(pos + 1, 1) && byteAt(pos + 1) == 0xFF) ++pos;  // fill bytes
    if (!view.contains(pos, 2)) return DecodeStatus::Truncated;
    const uint8_t marker = byteAt(pos + 1);
    pos += 2;

    if (marker == 0xD9) {  // EOI
      if (!frame.present || !allocated) return DecodeStatus::BadData;
      for (uint32_t c = 0; c < frame.componentCount; ++c) {
        if (!frame.components[c].decoded) return DecodeStatus::BadData;
      }
      return DecodeStatus::Ok;
    }
    if (marker == 0x01) continue;                                          // TEM
    if (marker == 0x00 || marker == 0xD8) return DecodeStatus::BadMarker;  // 0xFF00 or SOI
    if (marker >= 0xD0 && marker <= 0xD7) return DecodeStatus::BadMarker;  // RSTn outside a scan
    if (marker < 0xC0) return DecodeStatus::BadMarker;                     // reserved

    // Every other marker starts a segment with a length.
    if (!view.contains(pos, 2)) return DecodeStatus::Truncated;
    const uint32_t length = big16(pos);
    if (length < 2) return DecodeStatus::BadMarker;
    if (!view.contains(pos, length)) return DecodeStatus::Truncated;
    const std::size_t body = pos + 2;
    const std::size_t bodyLength = length - 2;
    const std::size_t after = pos + length;

    switch (marker) {
      case 0xC3: {  // SOF3
        if (frame.present) return DecodeStatus::BadMarker;
        if (bodyLength < 6) return DecodeStatus::BadMarker;
        frame.precision = byteAt(body);
        frame.height = big16(body + 1);
        frame.width = big16(body + 3);
        frame.componentCount = byteAt(body + 5);
        if (frame.precision < 2 || frame.precision > 16) return DecodeStatus::Unsupported;
        if (frame.componentCount == 0) return DecodeStatus::BadData;
        if (frame.componentCount > 4) return DecodeStatus::Unsupported;
        if (bodyLength != 6 + 3 * std::size_t{frame.componentCount}) return DecodeStatus::BadMarker;
        if (frame.height == 0) return DecodeStatus::Unsupported;  // height given later by DNL
        if (frame.width == 0) return DecodeStatus::BadData;
        for (uint32_t c = 0; c < frame.componentCount; ++c) {
          const std::size_t at = body + 6 + 3 * std::size_t{c};
          frame.components[c].id = byteAt(at);
          if (byteAt(at + 1) != 0x11) return DecodeStatus::Unsupported;
          for (uint32_t e = 0; e < c; ++e) {
            if (frame.components[e].id == frame.components[c].id) return DecodeStatus::BadData;
          }
        }
        const uint64_t samples =
            uint64_t{frame.width} * frame.height * uint64_t{frame.componentCount};
        if (samples > maxSamples) return DecodeStatus::TooLarge;
        frame.present = true;
        break;
      }
      case 0xC0:
      case 0xC1:
      case 0xC2:
      case 0xC5:
      case 0xC6:
      case 0xC7:
      case 0xC9:
      case 0xCA:
      case 0xCB:
      case 0xCD:
      case 0xCE:
      case 0xCF:
      case 0xCC:  // DAC: arithmetic coding
      case 0xDC:  // DNL
      case 0xDE:  // DHP
      case 0xDF:  // EXP
        return DecodeStatus::Unsupported;
      case 0xC4: {  // DHT, one or more tables
        std::size_t at = body;
        while (at < after) {
          if (after - at < 17) return DecodeStatus::BadHuffman;
          const uint8_t classAndId = byteAt(at);
          const uint32_t tableClass = classAndId >> 4;
          const uint32_t id = classAndId & 0x0F;
          if (tableClass > 1 || id > 3) return DecodeStatus::BadHuffman;
          uint8_t bits[16];
          uint32_t count = 0;
          for (int i = 0; i < 16; ++i) {
            bits[i] = byteAt(at + 1 + i);
            count += bits[i];
          }
          if (count > 256 || after - (at + 17) < count) return DecodeStatus::BadHuffman;
          if (tableClass == 0 && !buildDecodeTable(bits, data + at + 17, count, tables[id])) {
            return DecodeStatus::BadHuffman;
          }
          at += 17 + count;
        }
        break;
      }
      case 0xDD:  // DRI
        if (bodyLength != 2) return DecodeStatus::BadMarker;
        restartInterval = big16(body);
        break;
      case 0xDA: {  // SOS
        if (!frame.present) return DecodeStatus::BadMarker;
        if (bodyLength < 1) return DecodeStatus::BadMarker;
        const uint32_t scanCount = byteAt(body);
        if (scanCount == 0 || scanCount > frame.componentCount) return DecodeStatus::BadData;
        if (bodyLength != 4 + 2 * std::size_t{scanCount}) return DecodeStatus::BadMarker;
        ScanComponent scan[4];
        for (uint32_t k = 0; k < scanCount; ++k) {
          const uint8_t id = byteAt(body + 1 + 2 * k);
          const uint32_t tableId = byteAt(body + 2 + 2 * k) >> 4;
          uint32_t index = frame.componentCount;
          for (uint32_t c = 0; c < frame.componentCount; ++c) {
            if (frame.components[c].id == id) index = c;
          }
          if (index == frame.componentCount) return DecodeStatus::BadData;
          if (frame.components[index].decoded) return DecodeStatus::BadData;
          for (uint32_t e = 0; e < k; ++e) {
            if (scan[e].index == index) return DecodeStatus::BadData;
          }
          if (tableId > 3 || !tables[tableId].defined) return DecodeStatus::BadHuffman;
          scan[k].index = index;
          scan[k].table = &tables[tableId];
        }
        const std::size_t params = body + 1 + 2 * std::size_t{scanCount};
        const uint32_t predictor = byteAt(params);
        const uint32_t approximation = byteAt(params + 2);
        const uint32_t pointTransform = approximation & 0x0F;
        if (predictor == 0) return DecodeStatus::Unsupported;
        if (predictor > 7) return DecodeStatus::BadData;
        if ((approximation >> 4) != 0) return DecodeStatus::BadData;
        if (pointTransform >= frame.precision) return DecodeStatus::BadData;
        if (restartInterval != 0 && restartInterval % frame.width != 0) {
          return DecodeStatus::Unsupported;
        }
        // Every sample takes at least one bit, so a scan longer than the data left is cut off;
        // this also keeps a tiny stream from asking for a huge image.
        const uint64_t scanSamples = uint64_t{frame.width} * frame.height * scanCount;
        if (scanSamples > 8 * uint64_t{size - after}) return DecodeStatus::Truncated;
        if (!allocated) {
          image.samples.assign(std::size_t{frame.width} * frame.height * frame.componentCount, 0);
          allocated = true;
        }
        std::size_t scanEnd = after;
        const DecodeStatus status = decodeScan(data, size, scanEnd, frame, scan, scanCount,
                                               predictor, pointTransform, restartInterval, image);
        if (status != DecodeStatus::Ok) return status;
        for (uint32_t k = 0; k < scanCount; ++k) {
          frame.components[scan[k].index].decoded = true;
          if (pointTransform != 0) {
            for (std::size_t i = scan[k].index; i < image.samples.size();
                 i += frame.componentCount) {
              image.samples[i] = static_cast<uint16_t>(image.samples[i] << pointTransform);
            }
          }
        }
        image.width = frame.width;
        image.height = frame.height;
        image.components = frame.componentCount;
        image.precision = frame.precision;
        image.predictor = predictor;
        pos = scanEnd;
        continue;
      }
      default:  // APPn, COM, DQT, JPGn: skipped
        break;
    }
    pos = after;
  }
}

const char* describeDecodeStatus(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::Ok:
      return "decoded";
    case DecodeStatus::Truncated:
      return "stream ends early";
    case DecodeStatus::BadMarker:
      return "malformed marker segment";
    case DecodeStatus::Unsupported:
      return "not a lossless JPEG stream this decoder handles";
    case DecodeStatus::BadHuffman:
      return "invalid Huffman table";
    case DecodeStatus::BadData:
      return "invalid entropy-coded data";
    case DecodeStatus::TooLarge:
      return "image larger than allowed";
  }
  return "unknown decode status";
}

}  // namespace tamzel
