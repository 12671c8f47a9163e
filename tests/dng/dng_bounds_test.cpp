// Broken and hostile files: truncations, offsets and counts that point outside the file,
// overflowing sizes and random damage. None may be accepted when its structure leaves the file,
// and nothing may be read or written outside the buffers (run under AddressSanitizer).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "dng/dng.h"
#include "support/dng_writer.h"
#include "tiff_inspect.h"

namespace tamzel {
namespace {

using testing::FixtureLayout;
using testing::FixtureOptions;
using testing::SamplePattern;
using testing::TiffFile;
using testing::TiffIfd;

// Reads and, when accepted, recompresses an exactly sized copy of the bytes into an exactly
// sized output, so AddressSanitizer sees any access outside either.
DngVerdict process(const std::vector<uint8_t>& bytes, RecompressWorkspace& ws) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), in.get());
  DngStructure structure;
  RawImageInfo info;
  const DngVerdict verdict = readDngStructure(in.get(), bytes.size(), structure, info);
  if (verdict != DngVerdict::Recompressible) return verdict;
  const std::size_t capacity = recompressCapacity(bytes.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  RecompressResult r = recompressDng(in.get(), bytes.size(), false, ws, out.get(), capacity);
  if (r.verdict == DngVerdict::Recompressible) {
    EXPECT_GT(r.length, 0u);
    EXPECT_LE(r.length, capacity);
  }
  return r.verdict;
}

std::vector<FixtureOptions> fixtureSpecs() {
  std::vector<FixtureOptions> specs;
  FixtureOptions cinema;
  cinema.withGps = true;
  cinema.withInterop = true;
  cinema.rowsPerStrip = 5;
  specs.push_back(cinema);
  FixtureOptions sub;
  sub.bigEndian = true;
  sub.rawInSubIfd = true;
  sub.previewSubIfds = 2;
  sub.withGps = true;
  sub.gpsInRawIfd = true;
  sub.withInterop = true;
  sub.bitsPerSample = 12;
  sub.stripByteCountsShort = true;
  sub.rowsPerStrip = 9;
  specs.push_back(sub);
  FixtureOptions small;
  small.width = 8;
  small.height = 4;
  small.bitsPerSample = 14;
  specs.push_back(small);
  return specs;
}

std::vector<uint8_t> build(const FixtureOptions& options, FixtureLayout& layout) {
  return testing::writeFixtureDng(
      options,
      testing::makeSamples(options.width, options.height, options.bitsPerSample,
                           SamplePattern::Realistic),
      layout);
}

TEST(DngBounds, EveryTruncationIsRefused) {
  RecompressWorkspace ws;
  for (const FixtureOptions& options : fixtureSpecs()) {
    FixtureLayout layout;
    std::vector<uint8_t> bytes = build(options, layout);
    ASSERT_EQ(process(bytes, ws), DngVerdict::Recompressible);
    // The raw strips are the last thing in the file, so losing any byte loses image data.
    const std::size_t step = bytes.size() > 4000 ? 3 : 1;
    for (std::size_t size = 0; size < bytes.size(); size += step) {
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
      DngVerdict v = process(cut, ws);
      ASSERT_NE(v, DngVerdict::Recompressible) << "truncated to " << size;
    }
  }
}

// Damage aimed at each pointer, count and size of the structure.
struct Damage {
  const char* name;
  // Edits the file; returns false when the fixture has no such place.
  std::function<bool(std::vector<uint8_t>&, const TiffFile&, const FixtureLayout&, bool big)> edit;
};

uint64_t entryAt(const TiffFile& f, uint32_t ifd, uint16_t tag) {
  if (ifd == 0) return 0;
  TiffIfd d = f.ifd(ifd);
  const testing::TiffEntry* e = d.find(tag);
  return e ? e->at : 0;
}

std::vector<Damage> damages() {
  using testing::patch16;
  using testing::patch32;
  auto setField = [](uint32_t (*ifd)(const FixtureLayout&), uint16_t tag, uint32_t value) {
    return [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
      const uint64_t at = entryAt(f, ifd(l), tag);
      if (at == 0) return false;
      patch32(b, at + 8, value == 0xFFFFFFFE ? static_cast<uint32_t>(b.size()) : value, big);
      return true;
    };
  };
  auto setCount = [](uint32_t (*ifd)(const FixtureLayout&), uint16_t tag, uint32_t count) {
    return [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
      const uint64_t at = entryAt(f, ifd(l), tag);
      if (at == 0) return false;
      patch32(b, at + 4, count, big);
      return true;
    };
  };
  auto setEntryCount = [](uint32_t (*ifd)(const FixtureLayout&), uint16_t count) {
    return [=](std::vector<uint8_t>& b, const TiffFile&, const FixtureLayout& l, bool big) {
      if (ifd(l) == 0) return false;
      patch16(b, ifd(l), count, big);
      return true;
    };
  };
  uint32_t (*raw)(const FixtureLayout&) = [](const FixtureLayout& l) { return l.rawIfdOffset; };
  uint32_t (*ifd0)(const FixtureLayout&) = [](const FixtureLayout& l) { return l.ifd0Offset; };
  uint32_t (*exif)(const FixtureLayout&) = [](const FixtureLayout& l) { return l.exifOffset; };
  uint32_t (*gps)(const FixtureLayout&) = [](const FixtureLayout& l) { return l.gpsOffset; };
  uint32_t (*interop)(const FixtureLayout&) = [](const FixtureLayout& l) {
    return l.interopOffset;
  };
  const uint32_t kEnd = 0xFFFFFFFE;  // the file's size: one past the last byte
  return {
      {"IFD0 offset at the end",
       [](std::vector<uint8_t>& b, const TiffFile&, const FixtureLayout&, bool big) {
         patch32(b, 4, static_cast<uint32_t>(b.size()), big);
         return true;
       }},
      {"IFD0 offset one byte before the end",
       [](std::vector<uint8_t>& b, const TiffFile&, const FixtureLayout&, bool big) {
         patch32(b, 4, static_cast<uint32_t>(b.size() - 1), big);
         return true;
       }},
      {"IFD0 offset far away",
       [](std::vector<uint8_t>& b, const TiffFile&, const FixtureLayout&, bool big) {
         patch32(b, 4, 0xFFFFFFFF, big);
         return true;
       }},
      {"IFD0 entry count huge", setEntryCount(ifd0, 0xFFFF)},
      {"raw IFD entry count huge", setEntryCount(raw, 0xFFFF)},
      {"Exif entry count huge", setEntryCount(exif, 0xFFFF)},
      {"GPS entry count huge", setEntryCount(gps, 0x7FFF)},
      {"interoperability entry count huge", setEntryCount(interop, 0x1000)},
      {"SubIFD offset at the end", setField(ifd0, 330, kEnd)},
      {"SubIFD count huge", setCount(ifd0, 330, 0xFFFFFFFF)},
      {"SubIFD count 2^30", setCount(ifd0, 330, 1u << 30)},
      {"strip offset at the end", setField(raw, 273, kEnd)},
      {"strip offsets array far away", setField(raw, 273, 0xFFFFFFF0)},
      {"strip offset count huge",
       [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
         return setCount(raw, 273, 0x40000000)(b, f, l, big) &&
                setCount(raw, 279, 0x40000000)(b, f, l, big);
       }},
      {"strip byte counts array far away", setField(raw, 279, 0xFFFFFFF0)},
      {"strip byte count beyond the file",
       [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
         TiffIfd d = f.ifd(l.rawIfdOffset);
         const testing::TiffEntry* e = d.find(279);
         if (e == nullptr || e->count != 1) return false;
         patch32(b, e->at + 8, 0xFFFFFFF0, big);
         return true;
       }},
      {"width and height at the maximum",
       [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
         return setField(raw, 256, 0xFFFFFFFF)(b, f, l, big) &&
                setField(raw, 257, 0xFFFFFFFF)(b, f, l, big);
       }},
      {"width times height times 16 wraps 64 bits",
       [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
         return setField(raw, 256, 0x80000000)(b, f, l, big) &&
                setField(raw, 257, 0x80000000)(b, f, l, big);
       }},
      {"Exif pointer at the end", setField(ifd0, 34665, kEnd)},
      {"Exif pointer in the raw IFD at the end", setField(raw, 34665, kEnd)},
      {"GPS pointer at the end", setField(ifd0, 34853, kEnd)},
      {"GPS pointer in the raw IFD far away", setField(raw, 34853, 0xFFFFFFFF)},
      {"interoperability pointer at the end", setField(exif, 40965, kEnd)},
      {"Make value at the end", setField(ifd0, 271, kEnd)},
      {"Make count huge", setCount(ifd0, 271, 0xFFFFFFFF)},
      {"ColorMatrix1 count huge", setCount(ifd0, 50721, 0x20000000)},
      {"ColorMatrix1 value at the end", setField(ifd0, 50721, kEnd)},
      {"raw IFD CFA plane colours at the end",
       [=](std::vector<uint8_t>& b, const TiffFile& f, const FixtureLayout& l, bool big) {
         return setCount(raw, 50710, 16)(b, f, l, big) && setField(raw, 50710, kEnd)(b, f, l, big);
       }},
      {"Exif date at the end", setField(exif, 36867, kEnd)},
      {"Exif exposure count huge", setCount(exif, 33434, 0x40000000)},
      {"GPS latitude at the end", setField(gps, 2, kEnd)},
      {"interoperability version count huge", setCount(interop, 2, 0xFFFFFFFF)},
  };
}

TEST(DngBounds, DamagedStructureIsRefused) {
  RecompressWorkspace ws;
  const std::vector<Damage> all = damages();
  std::vector<int> applied(all.size(), 0);
  for (const FixtureOptions& options : fixtureSpecs()) {
    FixtureLayout layout;
    const std::vector<uint8_t> good = build(options, layout);
    const TiffFile tiff(good);
    for (std::size_t i = 0; i < all.size(); ++i) {
      const Damage& d = all[i];
      std::vector<uint8_t> bytes = good;
      if (!d.edit(bytes, tiff, layout, options.bigEndian)) continue;
      ++applied[i];
      EXPECT_NE(process(bytes, ws), DngVerdict::Recompressible)
          << d.name << " (" << (options.bigEndian ? "big" : "little") << "-endian, "
          << options.bitsPerSample << " bits)";
    }
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_GT(applied[i], 0) << all[i].name << " found no place to damage";
  }
}

TEST(DngBounds, RandomDamageNeverReadsOutside) {
  // Random byte changes in the structure part of the file: whatever the verdict, the reader
  // and (for accepted files) the whole recompression stay inside their buffers.
  RecompressWorkspace ws;
  std::mt19937 rng(20261211);
  uint32_t accepted = 0;
  for (const FixtureOptions& options : fixtureSpecs()) {
    FixtureLayout layout;
    const std::vector<uint8_t> good = build(options, layout);
    for (int round = 0; round < 700; ++round) {
      std::vector<uint8_t> bytes = good;
      const int changes = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < changes; ++k) {
        const std::size_t at = rng() % layout.firstStripOffset;
        bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
      }
      if (process(bytes, ws) == DngVerdict::Recompressible) ++accepted;
    }
  }
  // Many changes hit values that do not matter (dates, colour data): those files still pass.
  EXPECT_GT(accepted, 0u);
}

TEST(DngBounds, RealDamagedFilesAreRefusedWithoutReadingOutside) {
  RecompressWorkspace ws;
  for (const char* name : {"adobe-converter-canon350d-truncated.dng", "linear-raw-tiled-jpeg.dng",
                           "malformed-overflow-poc.dng"}) {
    std::vector<uint8_t> bytes =
        testing::readFile(std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/" + name);
    ASSERT_FALSE(bytes.empty()) << name;
    EXPECT_NE(process(bytes, ws), DngVerdict::Recompressible) << name;
    // Every prefix of the real files as well.
    for (std::size_t size = 0; size < bytes.size() && size < 20000; size += 7) {
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
      EXPECT_NE(process(cut, ws), DngVerdict::Recompressible) << name << " cut at " << size;
    }
  }
}

}  // namespace
}  // namespace tamzel
