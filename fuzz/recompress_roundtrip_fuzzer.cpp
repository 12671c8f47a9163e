// The round trip on valid files: the fuzz bytes choose the image (size, bit depth, byte order,
// raw image in IFD0 or in a SubIFD behind a preview, strip arrangement, Premiere layout, a few
// metadata values) and supply its samples; a small writer here turns them into a DNG, which
// must be recompressed (or refused only for a reason the image really has) and must decode
// back to exactly those samples, with its Make and Exif values carried along.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dng/dng.h"
#include "fuzz/roundtrip_check.h"

namespace {

using tamzel::fuzzing::fail;

// ---------------------------------------------------------------------------------------------
// A minimal DNG writer

enum class Fix : uint8_t { None, RawStrips, RawCounts, PreviewStrip, SubIfd, ExifIfd };

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // file-order value bytes
  Fix fix = Fix::None;
  uint32_t valueOffset = 0;  // where the value went when it is longer than 4 bytes
};

struct Ifd {
  std::vector<Entry> entries;
  uint32_t offset = 0;
  uint32_t size() const { return static_cast<uint32_t>(2 + 12 * entries.size() + 4); }
};

struct Writer {
  bool bigEndian = false;

  void put16(std::vector<uint8_t>& v, uint32_t x) const {
    if (bigEndian) {
      v.push_back(static_cast<uint8_t>(x >> 8));
      v.push_back(static_cast<uint8_t>(x));
    } else {
      v.push_back(static_cast<uint8_t>(x));
      v.push_back(static_cast<uint8_t>(x >> 8));
    }
  }
  void put32(std::vector<uint8_t>& v, uint32_t x) const {
    if (bigEndian) {
      put16(v, x >> 16);
      put16(v, x & 0xFFFF);
    } else {
      put16(v, x & 0xFFFF);
      put16(v, x >> 16);
    }
  }
  void set32(std::vector<uint8_t>& v, std::size_t at, uint32_t x) const {
    std::vector<uint8_t> tmp;
    put32(tmp, x);
    std::memcpy(v.data() + at, tmp.data(), 4);
  }
  Entry shorts(uint16_t tag, std::vector<uint32_t> values) const {
    Entry e{tag, 3, static_cast<uint32_t>(values.size())};
    for (uint32_t x : values) put16(e.data, x);
    return e;
  }
  Entry longs(uint16_t tag, std::vector<uint32_t> values, Fix fix = Fix::None) const {
    Entry e{tag, 4, static_cast<uint32_t>(values.size())};
    for (uint32_t x : values) put32(e.data, x);
    e.fix = fix;
    return e;
  }
  Entry bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> values) const {
    Entry e{tag, type, static_cast<uint32_t>(values.size())};
    e.data = std::move(values);
    return e;
  }
  Entry ascii(uint16_t tag, const std::string& s) const {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return bytes(tag, 2, std::move(v));
  }
  Entry rationals(uint16_t tag, std::vector<uint32_t> pairs) const {
    Entry e{tag, 5, static_cast<uint32_t>(pairs.size() / 2)};
    for (uint32_t x : pairs) put32(e.data, x);
    return e;
  }
};

std::vector<uint8_t> packSamples(const std::vector<uint16_t>& s, uint32_t width, uint32_t height,
                                 uint32_t bits, bool bigEndian) {
  const uint64_t stride = tamzel::fuzzing::rowBytes(width, bits);
  std::vector<uint8_t> out(stride * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = out.data() + stride * y;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = s[uint64_t{y} * width + x];
      if (bits == 16) {
        row[2 * x] = static_cast<uint8_t>(bigEndian ? v >> 8 : v);
        row[2 * x + 1] = static_cast<uint8_t>(bigEndian ? v : v >> 8);
        continue;
      }
      const uint64_t bit = uint64_t{x} * bits;
      for (uint32_t k = 0; k < bits; ++k) {
        if ((v >> (bits - 1 - k)) & 1u)
          row[(bit + k) / 8] |= static_cast<uint8_t>(0x80 >> ((bit + k) % 8));
      }
    }
  }
  return out;
}

struct Image {
  uint32_t width = 0, height = 0, bits = 0, rowsPerStrip = 0;
  bool bigEndian = false, rawInSubIfd = false, shortCounts = false;
  std::string make;
  uint32_t exposure = 1;
  std::vector<uint16_t> samples;
};

std::vector<uint8_t> writeDng(const Image& im) {
  Writer w;
  w.bigEndian = im.bigEndian;
  const std::vector<uint8_t> pixels =
      packSamples(im.samples, im.width, im.height, im.bits, im.bigEndian);
  const uint32_t stride = static_cast<uint32_t>(tamzel::fuzzing::rowBytes(im.width, im.bits));
  const uint32_t rps =
      im.rowsPerStrip == 0 || im.rowsPerStrip > im.height ? im.height : im.rowsPerStrip;
  const uint32_t strips = (im.height + rps - 1) / rps;
  std::vector<uint32_t> stripSizes;
  for (uint32_t s = 0; s < strips; ++s)
    stripSizes.push_back(std::min(rps, im.height - s * rps) * stride);

  Ifd raw, ifd0, exif;
  raw.entries.push_back(w.longs(254, {0}));
  raw.entries.push_back(w.longs(256, {im.width}));
  raw.entries.push_back(w.longs(257, {im.height}));
  raw.entries.push_back(w.shorts(258, {im.bits}));
  raw.entries.push_back(w.shorts(259, {1}));
  raw.entries.push_back(w.shorts(262, {32803}));
  raw.entries.push_back(w.longs(273, std::vector<uint32_t>(strips, 0), Fix::RawStrips));
  raw.entries.push_back(w.shorts(277, {1}));
  raw.entries.push_back(w.longs(278, {rps}));
  if (im.shortCounts) {
    std::vector<uint32_t> counts(stripSizes.begin(), stripSizes.end());
    Entry e = w.shorts(279, counts);
    raw.entries.push_back(e);
  } else {
    raw.entries.push_back(w.longs(279, stripSizes));
  }
  raw.entries.push_back(w.shorts(33421, {2, 2}));
  raw.entries.push_back(w.bytes(33422, 1, {0, 1, 1, 2}));

  Ifd& camera = im.rawInSubIfd ? ifd0 : raw;
  std::vector<uint8_t> previewPixels;
  if (im.rawInSubIfd) {
    previewPixels.assign(8 * 4 * 3, 0x80);
    ifd0.entries.push_back(w.longs(254, {1}));
    ifd0.entries.push_back(w.longs(256, {8}));
    ifd0.entries.push_back(w.longs(257, {4}));
    ifd0.entries.push_back(w.shorts(258, {8, 8, 8}));
    ifd0.entries.push_back(w.shorts(259, {1}));
    ifd0.entries.push_back(w.shorts(262, {2}));
    ifd0.entries.push_back(w.longs(273, {0}, Fix::PreviewStrip));
    ifd0.entries.push_back(w.shorts(277, {3}));
    ifd0.entries.push_back(w.longs(279, {static_cast<uint32_t>(previewPixels.size())}));
    ifd0.entries.push_back(w.longs(330, {0}, Fix::SubIfd));
  }
  camera.entries.push_back(w.ascii(271, im.make));
  camera.entries.push_back(w.bytes(50706, 1, {1, 4, 0, 0}));
  camera.entries.push_back(w.longs(34665, {0}, Fix::ExifIfd));
  exif.entries.push_back(w.rationals(33434, {im.exposure, 1000}));
  exif.entries.push_back(w.ascii(36867, "2026:12:11 12:00:00"));
  for (Ifd* ifd : {&raw, &ifd0, &exif}) {
    std::stable_sort(ifd->entries.begin(), ifd->entries.end(),
                     [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  }

  // Layout: header, IFD0, the raw SubIFD, the Exif IFD, values, preview, strips.
  std::vector<Ifd*> order;
  if (im.rawInSubIfd)
    order = {&ifd0, &raw, &exif};
  else
    order = {&raw, &exif};
  uint32_t pos = 8;
  for (Ifd* ifd : order) {
    ifd->offset = pos;
    pos += ifd->size();
  }
  for (Ifd* ifd : order) {
    for (Entry& e : ifd->entries) {
      if (e.data.size() > 4) {
        e.valueOffset = pos;
        pos += static_cast<uint32_t>(e.data.size() + (e.data.size() & 1));
      }
    }
  }
  const uint32_t previewOffset = pos;
  pos += static_cast<uint32_t>(previewPixels.size());
  const uint32_t rawOffset = pos;

  // Fill in the pointers now that everything has its place.
  for (Ifd* ifd : order) {
    for (Entry& e : ifd->entries) {
      if (e.fix == Fix::RawStrips) {
        uint32_t at = rawOffset;
        for (uint32_t s = 0; s < strips; ++s) {
          w.set32(e.data, 4 * s, at);
          at += stripSizes[s];
        }
      } else if (e.fix == Fix::PreviewStrip) {
        w.set32(e.data, 0, previewOffset);
      } else if (e.fix == Fix::SubIfd) {
        w.set32(e.data, 0, raw.offset);
      } else if (e.fix == Fix::ExifIfd) {
        w.set32(e.data, 0, exif.offset);
      }
    }
  }

  std::vector<uint8_t> file;
  file.push_back(im.bigEndian ? 'M' : 'I');
  file.push_back(im.bigEndian ? 'M' : 'I');
  w.put16(file, 42);
  w.put32(file, 8);
  for (Ifd* ifd : order) {
    w.put16(file, static_cast<uint32_t>(ifd->entries.size()));
    for (const Entry& e : ifd->entries) {
      w.put16(file, e.tag);
      w.put16(file, e.type);
      w.put32(file, e.count);
      if (e.data.size() > 4) {
        w.put32(file, e.valueOffset);
      } else {
        for (std::size_t k = 0; k < 4; ++k) file.push_back(k < e.data.size() ? e.data[k] : 0);
      }
    }
    w.put32(file, 0);
  }
  for (Ifd* ifd : order) {
    for (const Entry& e : ifd->entries) {
      if (e.data.size() <= 4) continue;
      if (file.size() != e.valueOffset) fail("writer value layout");
      file.insert(file.end(), e.data.begin(), e.data.end());
      if (e.data.size() & 1) file.push_back(0);
    }
  }
  file.insert(file.end(), previewPixels.begin(), previewPixels.end());
  if (file.size() != rawOffset) fail("writer strip layout");
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// ---------------------------------------------------------------------------------------------
// Reading the fuzz bytes

struct Input {
  const uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  uint8_t byte() { return pos < size ? data[pos++] : 0; }
  uint32_t u16() { return byte() | (uint32_t{byte()} << 8); }
};

// Finds the output entry `tag` and returns its value bytes (inline or out of line).
std::vector<uint8_t> outputValue(const uint8_t* out, std::size_t length, bool littleEndian,
                                 uint16_t tag, uint32_t ifdOffset) {
  tamzel::ByteView view(out, length);
  tamzel::ByteOrder order;
  order.littleEndian = littleEndian;
  uint16_t count = 0;
  if (!view.read16(ifdOffset, order, count)) fail("IFD outside the output", ifdOffset);
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = ifdOffset + 2 + 12 * uint64_t{k};
    uint16_t t = 0, type = 0;
    uint32_t n = 0, field = 0;
    if (!view.read16(at, order, t) || !view.read16(at + 2, order, type) ||
        !view.read32(at + 4, order, n) || !view.read32(at + 8, order, field)) {
      fail("entry outside the output", at);
    }
    if (t != tag) continue;
    const uint32_t unit = type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1;
    const uint64_t bytes = uint64_t{n} * unit;
    const uint64_t from = bytes <= 4 ? at + 8 : field;
    if (!view.contains(from, bytes)) fail("value outside the output", tag, from);
    return std::vector<uint8_t>(out + from, out + from + bytes);
  }
  fail("tag missing from the output", tag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in{data, size};
  const uint8_t flags = in.byte();
  Image im;
  static const uint32_t kBits[4] = {8, 12, 14, 16};
  im.bits = kBits[flags & 3];
  im.bigEndian = (flags >> 2) & 1;
  im.rawInSubIfd = (flags >> 3) & 1;
  im.shortCounts = (flags >> 4) & 1;
  const bool premiere = (flags >> 5) & 1;
  const bool smooth = (flags >> 6) & 1;
  const bool anyEvenWidth = (flags >> 7) & 1;
  // Widths in steps of 4 (or of 2, to reach the widths 14-bit data cannot be split at) up to
  // 1200, so that one to five tile columns occur; about 48k samples at most.
  const uint32_t w = in.u16();
  im.width = anyEvenWidth ? 2 * (1 + w % 600) : 4 * (1 + w % 300);
  const uint32_t maxHeight = std::max<uint32_t>(4, 49152 / im.width);
  im.height = 4 + in.u16() % (maxHeight - 3);
  im.rowsPerStrip = in.byte();
  if (im.shortCounts && uint64_t{im.rowsPerStrip == 0 ? im.height : im.rowsPerStrip} *
                                tamzel::fuzzing::rowBytes(im.width, im.bits) >
                            0xFFFF) {
    im.shortCounts = false;  // a strip too large for a SHORT byte count
  }
  const uint8_t makeLength = in.byte() % 12;  // 3 to 5 bytes stay in or leave the entry
  im.make.assign(makeLength, 'A');
  for (uint8_t k = 0; k < makeLength; ++k) im.make[k] = static_cast<char>('A' + in.byte() % 26);
  im.exposure = in.u16() + 1;

  const uint32_t mask = (1u << im.bits) - 1;
  im.samples.resize(uint64_t{im.width} * im.height);
  const std::size_t rest = in.size - std::min(in.size, in.pos);
  uint32_t previous = mask / 2;
  for (std::size_t k = 0; k < im.samples.size(); ++k) {
    const uint8_t a = rest ? in.data[in.pos + (2 * k) % rest] : 0;
    const uint8_t b = rest ? in.data[in.pos + (2 * k + 1) % rest] : 0;
    uint32_t v = smooth ? previous + static_cast<int8_t>(a) : (uint32_t{a} << 8 | b);
    v &= mask;
    im.samples[k] = static_cast<uint16_t>(v);
    previous = v;
  }

  const std::vector<uint8_t> file = writeDng(im);
  tamzel::DngStructure structure;
  tamzel::RawImageInfo info;
  const tamzel::DngVerdict read =
      tamzel::readDngStructure(file.data(), file.size(), structure, info);
  if (read != tamzel::DngVerdict::Recompressible)
    fail("valid file refused by the reader", static_cast<uint64_t>(read));

  const std::size_t capacity = tamzel::recompressCapacity(file.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  static tamzel::RecompressWorkspace workspace;
  const tamzel::RecompressResult result =
      tamzel::recompressDng(file.data(), file.size(), premiere, workspace, out.get(), capacity);

  if (result.verdict != tamzel::DngVerdict::Recompressible) {
    // The only reasons a valid file of this kind may be refused.
    const tamzel::TileLayout layout = tamzel::computeTileLayout(im.width, im.height, premiere);
    const bool unsplittable = im.bits == 14 && (im.width % 4 != 0 || layout.tileWidth % 4 != 0);
    if (result.verdict == tamzel::DngVerdict::WidthNotSplittable && unsplittable) return 0;
    if (result.verdict == tamzel::DngVerdict::OutputTooLarge && !smooth) return 0;
    fail("valid file not recompressed", static_cast<uint64_t>(result.verdict), im.width);
  }
  tamzel::fuzzing::checkRoundTrip(im.samples, result, out.get(), capacity, file[0]);

  // Metadata moved along: Make from IFD0 (or the raw IFD) and the Exif values.
  const bool le = !im.bigEndian;
  std::vector<uint8_t> make = outputValue(out.get(), result.length, le, 271, 8);
  std::vector<uint8_t> expectedMake(im.make.begin(), im.make.end());
  expectedMake.push_back(0);
  if (make != expectedMake) fail("Make differs", make.size(), expectedMake.size());
  std::vector<uint8_t> exifPointer = outputValue(out.get(), result.length, le, 34665, 8);
  tamzel::ByteOrder order;
  order.littleEndian = le;
  uint32_t exifOffset = 0;
  std::memcpy(&exifOffset, exifPointer.data(), 4);
  exifOffset = order.convert32(exifOffset);
  std::vector<uint8_t> exposure = outputValue(out.get(), result.length, le, 33434, exifOffset);
  Writer writer;
  writer.bigEndian = im.bigEndian;
  std::vector<uint8_t> expectedExposure;
  writer.put32(expectedExposure, im.exposure);
  writer.put32(expectedExposure, 1000);
  if (exposure != expectedExposure) fail("ExposureTime differs");
  return 0;
}
