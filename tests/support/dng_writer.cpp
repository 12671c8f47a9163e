#include "support/dng_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace tamzel::testing {

namespace {

// What a value field has to be filled with once the file's layout is known.
enum class Fixup : uint8_t {
  None,
  SubIfds,
  ExifPointer,
  GpsPointer,
  InteropPointer,
  StripOffsets,
  StripByteCounts,
};

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // the value bytes in file order (any length)
  Fixup fixup = Fixup::None;
  uint32_t valueOffset = 0;  // where out-of-line data goes (when data.size() > 4)
};

struct Ifd {
  std::vector<Entry> entries;
  uint32_t offset = 0;
  // Image data of this IFD, split into strips.
  std::vector<uint8_t> pixels;
  std::vector<uint32_t> stripSizes;
  std::vector<uint32_t> stripOffsets;
  uint32_t stripGap = 0;
  uint32_t extraBytes = 0;
};

uint32_t typeSize(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 4;
  }
}

struct Out {
  bool big = false;
  void put16(std::vector<uint8_t>& v, uint64_t x) const {
    uint16_t n = static_cast<uint16_t>(x);
    if (big) {
      v.push_back(static_cast<uint8_t>(n >> 8));
      v.push_back(static_cast<uint8_t>(n));
    } else {
      v.push_back(static_cast<uint8_t>(n));
      v.push_back(static_cast<uint8_t>(n >> 8));
    }
  }
  void put32(std::vector<uint8_t>& v, uint64_t x) const {
    uint32_t n = static_cast<uint32_t>(x);
    for (int i = 0; i < 4; ++i) {
      int shift = big ? 24 - 8 * i : 8 * i;
      v.push_back(static_cast<uint8_t>(n >> shift));
    }
  }
  void put64(std::vector<uint8_t>& v, uint64_t x) const {
    for (int i = 0; i < 8; ++i) {
      int shift = big ? 56 - 8 * i : 8 * i;
      v.push_back(static_cast<uint8_t>(x >> shift));
    }
  }
  void set16(std::vector<uint8_t>& v, std::size_t at, uint64_t x) const {
    std::vector<uint8_t> t;
    put16(t, x);
    std::copy(t.begin(), t.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
  }
  void set32(std::vector<uint8_t>& v, std::size_t at, uint64_t x) const {
    std::vector<uint8_t> t;
    put32(t, x);
    std::copy(t.begin(), t.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
  }
};

// Encodes host numbers by type: rationals take two numbers per value.
std::vector<uint8_t> encodeValues(const Out& o, uint16_t type,
                                  const std::vector<uint64_t>& values) {
  std::vector<uint8_t> d;
  for (uint64_t v : values) {
    switch (typeSize(type)) {
      case 1:
        d.push_back(static_cast<uint8_t>(v));
        break;
      case 2:
        o.put16(d, v);
        break;
      case 8:
        if (type == 12) {
          o.put64(d, v);
        } else {
          o.put32(d, v);  // one half of a rational
        }
        break;
      default:
        o.put32(d, v);
        break;
    }
  }
  return d;
}

Entry makeEntry(const Out& o, const ExtraTag& t) {
  Entry e;
  e.tag = t.tag;
  e.type = t.type;
  if (!t.raw.empty()) {
    e.data = t.raw;
    e.count = static_cast<uint32_t>(t.raw.size() / std::max<uint32_t>(1, typeSize(t.type)));
  } else {
    e.data = encodeValues(o, t.type, t.values);
    uint32_t n = static_cast<uint32_t>(t.values.size());
    e.count = (t.type == 5 || t.type == 10) ? n / 2 : n;
  }
  if (t.count != 0) e.count = t.count;
  return e;
}

void addOrReplace(const Out& o, Ifd& ifd, const std::vector<ExtraTag>& tags) {
  for (const ExtraTag& t : tags) {
    Entry e = makeEntry(o, t);
    auto it = std::find_if(ifd.entries.begin(), ifd.entries.end(),
                           [&](const Entry& x) { return x.tag == t.tag; });
    if (it != ifd.entries.end()) {
      *it = e;
    } else {
      ifd.entries.push_back(e);
    }
  }
}

void drop(Ifd& ifd, const std::vector<uint16_t>& tags) {
  for (uint16_t tag : tags) {
    ifd.entries.erase(std::remove_if(ifd.entries.begin(), ifd.entries.end(),
                                     [&](const Entry& x) { return x.tag == tag; }),
                      ifd.entries.end());
  }
}

void sortEntries(Ifd& ifd) {
  std::stable_sort(ifd.entries.begin(), ifd.entries.end(),
                   [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

std::vector<uint8_t> asciiBytes(const std::string& s) {
  std::vector<uint8_t> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}

struct Builder {
  Out o;
  void add(Ifd& ifd, uint16_t tag, uint16_t type, std::vector<uint64_t> values,
           Fixup fixup = Fixup::None) {
    ExtraTag t;
    t.tag = tag;
    t.type = type;
    t.values = std::move(values);
    Entry e = makeEntry(o, t);
    e.fixup = fixup;
    ifd.entries.push_back(e);
  }
  void addAscii(Ifd& ifd, uint16_t tag, const std::string& s) {
    Entry e;
    e.tag = tag;
    e.type = 2;
    e.data = asciiBytes(s);
    e.count = static_cast<uint32_t>(e.data.size());
    ifd.entries.push_back(e);
  }

  // Image description tags of a strip image; strips laid out later.
  void addStripImage(Ifd& ifd, uint32_t width, uint32_t height, uint32_t rowBytes,
                     uint32_t rowsPerStrip, bool offsetsShort, bool countsShort) {
    uint32_t rps = rowsPerStrip == 0 || rowsPerStrip > height ? height : rowsPerStrip;
    uint32_t strips = rps == 0 ? 1 : (height + rps - 1) / rps;
    for (uint32_t s = 0; s < strips; ++s) {
      uint32_t rows = std::min(rps, height - s * rps);
      ifd.stripSizes.push_back(rows * rowBytes);
    }
    if (!ifd.stripSizes.empty()) ifd.stripSizes.back() += ifd.extraBytes;
    add(ifd, 273, offsetsShort ? 3 : 4, std::vector<uint64_t>(strips, 0), Fixup::StripOffsets);
    add(ifd, 278, 4, {rps});
    add(ifd, 279, countsShort ? 3 : 4, std::vector<uint64_t>(strips, 0), Fixup::StripByteCounts);
    (void)width;
  }
};

void addCfaTags(Builder& b, Ifd& ifd, const FixtureOptions& options) {
  b.add(ifd, 33421, 3, {2, 2});                                        // CFARepeatPatternDim
  b.add(ifd, 33422, 1, {0, 1, 1, 2});                                  // CFAPattern RGGB
  b.add(ifd, 50710, 1, {0, 1, 2});                                     // CFAPlaneColor
  b.add(ifd, 50711, 3, {1});                                           // CFALayout
  b.add(ifd, 50714, 4, {options.blackLevel});                          // BlackLevel
  b.add(ifd, 50717, 4, {(uint64_t{1} << options.bitsPerSample) - 1});  // WhiteLevel
}

void addRawImageTags(Builder& b, Ifd& ifd, const FixtureOptions& options, uint32_t rowBytes) {
  b.add(ifd, 254, 4, {0});
  b.add(ifd, 256, 4, {options.width});
  b.add(ifd, 257, 4, {options.height});
  b.add(ifd, 258, 3, {options.bitsPerSample});
  b.add(ifd, 259, 3, {1});
  b.add(ifd, 262, 3, {32803});
  b.add(ifd, 277, 3, {1});
  b.add(ifd, 284, 3, {1});
  b.addStripImage(ifd, options.width, options.height, rowBytes, options.rowsPerStrip,
                  options.stripOffsetsShort, options.stripByteCountsShort);
  addCfaTags(b, ifd, options);
}

// Camera-wide metadata of IFD0.
void addCameraTags(Builder& b, Ifd& ifd, const FixtureOptions& options) {
  b.addAscii(ifd, 271, options.make);
  b.addAscii(ifd, 272, options.model);
  b.add(ifd, 274, 3, {1});  // Orientation
  b.addAscii(ifd, 305, "Tamzel fixture writer");
  b.addAscii(ifd, 306, "2026:12:11 12:00:00");
  b.add(ifd, 50706, 1, {1, 4, 0, 0});  // DNGVersion
  b.add(ifd, 50707, 1, {1, 1, 0, 0});  // DNGBackwardVersion
  b.addAscii(ifd, 50708, options.make + " " + options.model);
  // ColorMatrix1 (XYZ to camera), a plausible daylight matrix in ten-thousandths.
  std::vector<int32_t> m = {6461, -907, -882, -4300, 12184, 2378, -819, 1944, 5931};
  std::vector<uint64_t> cm;
  for (int32_t x : m) {
    cm.push_back(static_cast<uint32_t>(x));
    cm.push_back(10000);
  }
  b.add(ifd, 50721, 10, cm);
  b.add(ifd, 50728, 5, {1, 2, 1, 1, 2, 3});  // AsShotNeutral
  b.add(ifd, 50778, 3, {21});                // CalibrationIlluminant1 D65
}

void addPreview(Builder& b, Ifd& ifd, uint32_t pw, uint32_t ph, uint32_t seed) {
  b.add(ifd, 254, 4, {1});
  b.add(ifd, 256, 4, {pw});
  b.add(ifd, 257, 4, {ph});
  b.add(ifd, 258, 3, {8, 8, 8});
  b.add(ifd, 259, 3, {1});
  b.add(ifd, 262, 3, {2});
  b.add(ifd, 277, 3, {3});
  b.add(ifd, 284, 3, {1});
  ifd.pixels.resize(static_cast<std::size_t>(pw) * ph * 3);
  for (std::size_t i = 0; i < ifd.pixels.size(); ++i) {
    ifd.pixels[i] = static_cast<uint8_t>(i * 7 + seed * 31);
  }
  b.addStripImage(ifd, pw, ph, pw * 3, 0, false, false);
}

}  // namespace

ExtraTag asciiTag(uint16_t tag, const std::string& text) {
  ExtraTag t;
  t.tag = tag;
  t.type = 2;
  t.raw = asciiBytes(text);
  return t;
}

namespace {

ExtraTag numericTag(uint16_t tag, uint16_t type, std::vector<uint64_t> values) {
  ExtraTag t;
  t.tag = tag;
  t.type = type;
  t.values = std::move(values);
  return t;
}

}  // namespace

ExtraTag shortTag(uint16_t tag, std::vector<uint64_t> values) {
  return numericTag(tag, 3, std::move(values));
}

ExtraTag longTag(uint16_t tag, std::vector<uint64_t> values) {
  return numericTag(tag, 4, std::move(values));
}

ExtraTag rationalTag(uint16_t tag, std::vector<uint64_t> pairs) {
  return numericTag(tag, 5, std::move(pairs));
}

std::vector<uint16_t> makeSamples(uint32_t width, uint32_t height, uint16_t bitsPerSample,
                                  SamplePattern pattern, uint32_t seed) {
  const uint32_t maxValue = (uint32_t{1} << bitsPerSample) - 1;
  std::vector<uint16_t> s(static_cast<std::size_t>(width) * height);
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t v = 0;
      const uint32_t site = (y & 1) * 2 + (x & 1);
      switch (pattern) {
        case SamplePattern::Gradient: {
          uint64_t ramp = (static_cast<uint64_t>(x) * maxValue / std::max<uint32_t>(1, width) +
                           static_cast<uint64_t>(y) * maxValue / std::max<uint32_t>(1, height)) /
                          2;
          v = static_cast<uint32_t>((ramp + site * (maxValue / 16) + seed) % (maxValue + 1));
          break;
        }
        case SamplePattern::Noise:
          v = rng() & maxValue;
          break;
        case SamplePattern::Constant:
          v = (maxValue / 3 + seed) & maxValue;
          break;
        case SamplePattern::Realistic: {
          double fx = static_cast<double>(x) / std::max<uint32_t>(1, width);
          double fy = static_cast<double>(y) / std::max<uint32_t>(1, height);
          double scene = 0.35 + 0.25 * std::sin(6.0 * fx + seed) * std::cos(4.0 * fy) +
                         0.15 * std::sin(23.0 * fx * fy);
          const double gain[4] = {0.55, 1.0, 1.0, 0.7};
          double noise =
              (static_cast<double>(rng() % 1000) + static_cast<double>(rng() % 1000) - 1000.0) /
              1000.0;
          double value = scene * gain[site] * maxValue + noise * (maxValue / 200.0 + 1.0);
          value = std::clamp(value, 0.0, static_cast<double>(maxValue));
          v = static_cast<uint32_t>(std::lround(value));
          break;
        }
      }
      s[static_cast<std::size_t>(y) * width + x] = static_cast<uint16_t>(v);
    }
  }
  return s;
}

std::vector<uint8_t> packSamples(const std::vector<uint16_t>& samples, uint32_t width,
                                 uint32_t height, uint16_t bitsPerSample, bool bigEndian) {
  std::vector<uint8_t> out;
  const std::size_t rowBytes = (static_cast<std::size_t>(bitsPerSample) * width + 7) / 8;
  out.reserve(rowBytes * height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint16_t* row = samples.data() + static_cast<std::size_t>(y) * width;
    if (bitsPerSample == 16) {
      for (uint32_t x = 0; x < width; ++x) {
        uint16_t v = row[x];
        if (bigEndian) {
          out.push_back(static_cast<uint8_t>(v >> 8));
          out.push_back(static_cast<uint8_t>(v));
        } else {
          out.push_back(static_cast<uint8_t>(v));
          out.push_back(static_cast<uint8_t>(v >> 8));
        }
      }
      continue;
    }
    // Most significant bit first; each row starts on a byte boundary.
    uint32_t acc = 0;
    int bits = 0;
    for (uint32_t x = 0; x < width; ++x) {
      acc = (acc << bitsPerSample) | (row[x] & ((1u << bitsPerSample) - 1));
      bits += bitsPerSample;
      while (bits >= 8) {
        out.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
        bits -= 8;
      }
      acc &= (1u << bits) - 1;
    }
    if (bits > 0) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
  }
  return out;
}

std::vector<uint8_t> writeFixtureDng(const FixtureOptions& options,
                                     const std::vector<uint16_t>& samples, FixtureLayout& layout) {
  Builder b;
  b.o.big = options.bigEndian;
  const uint32_t rowBytes =
      static_cast<uint32_t>((static_cast<uint64_t>(options.bitsPerSample) * options.width + 7) / 8);

  // IFD order in the file: IFD0, SubIFDs, Exif, Interop, GPS.
  std::vector<Ifd> ifds;
  ifds.reserve(4 + options.previewSubIfds + 1);
  ifds.emplace_back();  // IFD0
  std::size_t rawIndex = 0;
  if (options.rawInSubIfd) {
    ifds.emplace_back();
    rawIndex = 1;
  }
  std::vector<std::size_t> previewIndices;
  for (uint32_t i = 0; i < options.previewSubIfds; ++i) {
    previewIndices.push_back(ifds.size());
    ifds.emplace_back();
  }
  std::size_t exifIndex = SIZE_MAX, interopIndex = SIZE_MAX, gpsIndex = SIZE_MAX;
  if (options.withExif) {
    exifIndex = ifds.size();
    ifds.emplace_back();
    if (options.withInterop) {
      interopIndex = ifds.size();
      ifds.emplace_back();
    }
  }
  if (options.withGps) {
    gpsIndex = ifds.size();
    ifds.emplace_back();
  }

  Ifd& raw = ifds[rawIndex];
  raw.pixels =
      packSamples(samples, options.width, options.height, options.bitsPerSample, options.bigEndian);
  raw.stripGap = options.stripGap;
  raw.extraBytes = options.extraStripBytes;
  raw.pixels.resize(raw.pixels.size() + options.extraStripBytes, 0);
  addRawImageTags(b, raw, options, rowBytes);

  Ifd& ifd0 = ifds[0];
  if (options.rawInSubIfd) {
    addPreview(b, ifd0, std::max<uint32_t>(1, options.width / 4),
               std::max<uint32_t>(1, options.height / 4), 0);
    b.addAscii(ifd0, 50966, "Tamzel");
    b.add(ifd0, 50970, 4, {2});  // PreviewColorSpace sRGB
    b.addAscii(ifd0, 50971, "2026-12-11T12:00:00");
  }
  addCameraTags(b, ifd0, options);
  std::size_t subIfdCount = (options.rawInSubIfd ? 1 : 0) + options.previewSubIfds;
  if (subIfdCount > 0) {
    b.add(ifd0, 330, 4, std::vector<uint64_t>(subIfdCount, 0), Fixup::SubIfds);
  }
  for (std::size_t k = 0; k < previewIndices.size(); ++k) {
    addPreview(b, ifds[previewIndices[k]], 8, 4, static_cast<uint32_t>(k + 1));
    addOrReplace(b.o, ifds[previewIndices[k]], options.previewTags);
    drop(ifds[previewIndices[k]], options.dropPreviewTags);
  }
  if (exifIndex != SIZE_MAX) {
    Ifd& exifOwner = options.exifInRawIfd ? raw : ifd0;
    b.add(exifOwner, 34665, 4, {0}, Fixup::ExifPointer);
    Ifd& exif = ifds[exifIndex];
    b.add(exif, 33434, 5, {1, 48});                  // ExposureTime
    b.add(exif, 33437, 5, {28, 10});                 // FNumber
    b.add(exif, 34855, 3, {800});                    // ISO
    b.add(exif, 36864, 7, {'0', '2', '3', '0'});     // ExifVersion
    b.addAscii(exif, 36867, "2026:12:11 12:00:00");  // DateTimeOriginal
    b.addAscii(exif, 37521, "123");                  // SubSecTimeOriginal: exactly 4 bytes
    b.add(exif, 37386, 5, {35, 1});                  // FocalLength
    b.addAscii(exif, 42036, "Fixture Lens 35mm");    // LensModel
    if (interopIndex != SIZE_MAX) {
      b.add(exif, 40965, 4, {0}, Fixup::InteropPointer);
      Ifd& interop = ifds[interopIndex];
      b.addAscii(interop, 1, "R98");               // InteroperabilityIndex
      b.add(interop, 2, 7, {'0', '1', '0', '0'});  // InteroperabilityVersion
    }
    addOrReplace(b.o, exif, options.exifTags);
  }
  if (gpsIndex != SIZE_MAX) {
    Ifd& gpsOwner = options.gpsInRawIfd ? raw : ifd0;
    b.add(gpsOwner, 34853, 4, {0}, Fixup::GpsPointer);
    Ifd& gps = ifds[gpsIndex];
    b.add(gps, 0, 1, {2, 3, 0, 0});               // GPSVersionID
    b.addAscii(gps, 1, "N");                      // GPSLatitudeRef
    b.add(gps, 2, 5, {52, 1, 31, 1, 1234, 100});  // GPSLatitude
    b.addAscii(gps, 3, "E");                      // GPSLongitudeRef
    b.add(gps, 4, 5, {13, 1, 24, 1, 5678, 100});  // GPSLongitude
    b.add(gps, 6, 5, {34, 1});                    // GPSAltitude
    b.addAscii(gps, 29, "2026:12:11");            // GPSDateStamp
    addOrReplace(b.o, gps, options.gpsTags);
  }

  addOrReplace(b.o, raw, options.rawIfdTags);
  addOrReplace(b.o, ifd0, options.ifd0Tags);
  drop(raw, options.dropRawIfdTags);
  drop(ifd0, options.dropIfd0Tags);
  for (Ifd& ifd : ifds) sortEntries(ifd);
  if (options.shuffleTags) std::reverse(raw.entries.begin(), raw.entries.end());

  // Layout: IFDs, then out-of-line values, then pixels.
  uint64_t pos = 8;
  for (Ifd& ifd : ifds) {
    ifd.offset = static_cast<uint32_t>(pos);
    pos += 2 + 12 * ifd.entries.size() + 4;
  }
  for (Ifd& ifd : ifds) {
    for (Entry& e : ifd.entries) {
      if (e.data.size() > 4) {
        pos += pos & 1;
        e.valueOffset = static_cast<uint32_t>(pos);
        pos += e.data.size();
      }
    }
  }
  std::vector<std::size_t> imageOrder;
  for (std::size_t i = 1; i < ifds.size(); ++i) {
    if (i != rawIndex) imageOrder.push_back(i);
  }
  if (rawIndex != 0) imageOrder.insert(imageOrder.begin(), 0);
  imageOrder.push_back(rawIndex);  // raw strips last
  for (std::size_t i : imageOrder) {
    Ifd& ifd = ifds[i];
    if (ifd.stripSizes.empty()) continue;
    pos += pos & 1;
    for (std::size_t s = 0; s < ifd.stripSizes.size(); ++s) {
      ifd.stripOffsets.push_back(static_cast<uint32_t>(pos));
      pos += ifd.stripSizes[s];
      if (s + 1 < ifd.stripSizes.size()) pos += ifd.stripGap;
    }
  }
  const uint64_t fileSize = pos;

  // Fill in the values that depend on the layout.
  std::vector<uint64_t> subIfdOffsets;
  if (options.rawInSubIfd) subIfdOffsets.push_back(ifds[rawIndex].offset);
  for (std::size_t i : previewIndices) subIfdOffsets.push_back(ifds[i].offset);
  for (Ifd& ifd : ifds) {
    for (Entry& e : ifd.entries) {
      std::vector<uint64_t> values;
      switch (e.fixup) {
        case Fixup::None:
          continue;
        case Fixup::SubIfds:
          values = subIfdOffsets;
          break;
        case Fixup::ExifPointer:
          values = {ifds[exifIndex].offset};
          break;
        case Fixup::InteropPointer:
          values = {ifds[interopIndex].offset};
          break;
        case Fixup::GpsPointer:
          values = {ifds[gpsIndex].offset};
          break;
        case Fixup::StripOffsets:
          values.assign(ifd.stripOffsets.begin(), ifd.stripOffsets.end());
          break;
        case Fixup::StripByteCounts:
          values.assign(ifd.stripSizes.begin(), ifd.stripSizes.end());
          break;
      }
      e.data = encodeValues(b.o, e.type, values);
    }
  }

  std::vector<uint8_t> file(fileSize, 0);
  file[0] = file[1] = options.bigEndian ? 'M' : 'I';
  b.o.set16(file, 2, 42);
  b.o.set32(file, 4, ifds[0].offset);
  for (Ifd& ifd : ifds) {
    std::size_t p = ifd.offset;
    b.o.set16(file, p, ifd.entries.size());
    p += 2;
    for (Entry& e : ifd.entries) {
      b.o.set16(file, p, e.tag);
      b.o.set16(file, p + 2, e.type);
      b.o.set32(file, p + 4, e.count);
      if (e.data.size() > 4) {
        b.o.set32(file, p + 8, e.valueOffset);
        std::copy(e.data.begin(), e.data.end(), file.begin() + e.valueOffset);
      } else {
        std::copy(e.data.begin(), e.data.end(), file.begin() + static_cast<std::ptrdiff_t>(p + 8));
      }
      p += 12;
    }
    // next-IFD offset stays 0
    std::size_t src = 0;
    for (std::size_t s = 0; s < ifd.stripSizes.size(); ++s) {
      std::size_t n = std::min<std::size_t>(ifd.stripSizes[s], ifd.pixels.size() - src);
      std::copy(ifd.pixels.begin() + static_cast<std::ptrdiff_t>(src),
                ifd.pixels.begin() + static_cast<std::ptrdiff_t>(src + n),
                file.begin() + ifd.stripOffsets[s]);
      src += n;
    }
  }

  layout = FixtureLayout{};
  layout.ifd0Offset = ifds[0].offset;
  layout.rawIfdOffset = raw.offset;
  layout.exifOffset = exifIndex != SIZE_MAX ? ifds[exifIndex].offset : 0;
  layout.interopOffset = interopIndex != SIZE_MAX ? ifds[interopIndex].offset : 0;
  layout.gpsOffset = gpsIndex != SIZE_MAX ? ifds[gpsIndex].offset : 0;
  layout.stripOffsets = raw.stripOffsets;
  layout.firstStripOffset = raw.stripOffsets.empty() ? 0 : raw.stripOffsets[0];
  for (uint32_t s : raw.stripSizes) layout.stripBytes += s;
  return file;
}

std::vector<uint8_t> writeFixtureDng(const FixtureOptions& options,
                                     const std::vector<uint16_t>& samples) {
  FixtureLayout layout;
  return writeFixtureDng(options, samples, layout);
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot create " << path;
    return;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    ADD_FAILURE() << "cannot write " << path;
  }
  if (std::fclose(f) != 0) ADD_FAILURE() << "cannot close " << path;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

}  // namespace tamzel::testing
