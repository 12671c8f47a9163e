// The recompressed file: its single IFD, the values and pointer IFDs that move with it, the
// tiles, the bounded output, and the per-file entry point with its remembered layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "dng/dng.h"
#include "support/dng_writer.h"
#include "tiff_inspect.h"

namespace tamzel {
namespace {

using testing::FixtureLayout;
using testing::FixtureOptions;
using testing::SamplePattern;
using testing::TiffEntry;
using testing::TiffFile;
using testing::TiffIfd;

constexpr std::size_t kGuard = 4096;
constexpr uint8_t kGuardByte = 0xE7;

struct Recompressed {
  std::vector<uint8_t> input;
  std::vector<uint16_t> samples;
  RecompressResult result;
  std::vector<uint8_t> output;  // exactly result.length bytes
  bool guardIntact = true;
};

// Recompresses into a buffer of `capacity` bytes followed by a guard zone that must stay
// untouched.
RecompressResult recompressInto(const std::vector<uint8_t>& input, bool premiere,
                                RecompressWorkspace& ws, std::size_t capacity,
                                std::vector<uint8_t>& output, bool& guardIntact) {
  std::vector<uint8_t> in(input);  // exactly sized
  std::vector<uint8_t> buffer(capacity + kGuard, kGuardByte);
  RecompressResult r = recompressDng(in.data(), in.size(), premiere, ws, buffer.data(), capacity);
  guardIntact = std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(capacity), buffer.end(),
                            [](uint8_t b) { return b == kGuardByte; });
  output.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.length));
  return r;
}

Recompressed recompressFixture(const FixtureOptions& options,
                               SamplePattern pattern = SamplePattern::Realistic,
                               bool premiere = false) {
  Recompressed r;
  r.samples =
      testing::makeSamples(options.width, options.height, options.bitsPerSample, pattern, 5);
  r.input = testing::writeFixtureDng(options, r.samples);
  RecompressWorkspace ws;
  r.result = recompressInto(r.input, premiere, ws, recompressCapacity(r.input.size()), r.output,
                            r.guardIntact);
  return r;
}

std::set<uint16_t> tagsOf(const TiffIfd& ifd) {
  std::set<uint16_t> tags;
  for (const TiffEntry& e : ifd.entries) tags.insert(e.tag);
  return tags;
}

struct Tiles {
  std::vector<uint64_t> offsets, counts;
};

Tiles tilesOf(const TiffFile& f, const TiffIfd& ifd) {
  Tiles t;
  if (const TiffEntry* e = ifd.find(324)) t.offsets = f.numbers(*e);
  if (const TiffEntry* e = ifd.find(325)) t.counts = f.numbers(*e);
  return t;
}

// Decodes every tile of a recompressed file and compares it with the image's samples; rows
// below the image must decode as zeros.
void expectTilesDecodeToSamples(const Recompressed& r) {
  TiffFile f(r.output);
  ASSERT_TRUE(f.ok());
  TiffIfd ifd = f.ifd(f.firstIfd());
  ASSERT_TRUE(ifd.ok);
  const uint64_t width = f.number(ifd, 256), height = f.number(ifd, 257);
  const uint64_t tileWidth = f.number(ifd, 322), tileLength = f.number(ifd, 323);
  const uint64_t bits = f.number(ifd, 258);
  ASSERT_EQ(f.number(ifd, 259), 7u);
  ASSERT_EQ(width % tileWidth, 0u);
  const uint64_t across = width / tileWidth;
  Tiles t = tilesOf(f, ifd);
  ASSERT_EQ(t.offsets.size(), t.counts.size());
  ASSERT_EQ(t.offsets.size() % across, 0u);
  const uint64_t down = t.offsets.size() / across;
  ASSERT_GE(down * tileLength, height);
  for (uint64_t k = 0; k < t.offsets.size(); ++k) {
    ASSERT_LE(t.offsets[k] + t.counts[k], r.output.size());
    LosslessImage image;
    ASSERT_EQ(decodeLosslessJpeg(r.output.data() + t.offsets[k], t.counts[k], image),
              DecodeStatus::Ok)
        << "tile " << k;
    ASSERT_EQ(image.components, 2u);
    ASSERT_EQ(image.width * 2, tileWidth);
    ASSERT_EQ(image.height, tileLength);
    ASSERT_EQ(image.precision, bits);
    const uint64_t row0 = k / across * tileLength, col0 = k % across * tileWidth;
    for (uint64_t y = 0; y < tileLength; ++y) {
      for (uint64_t x = 0; x < tileWidth; ++x) {
        const uint16_t got = image.samples[(y * image.width + x / 2) * 2 + (x & 1)];
        const uint16_t want =
            row0 + y < height ? r.samples[(row0 + y) * width + col0 + x] : uint16_t{0};
        if (got != want) {
          FAIL() << "tile " << k << " row " << y << " column " << x << ": " << got << " instead of "
                 << want;
        }
      }
    }
  }
}

TEST(RecompressDng, TilesDecodeToTheInputSamples) {
  for (uint16_t bits : {8, 12, 14, 16}) {
    for (bool big : {false, true}) {
      for (bool sub : {false, true}) {
        for (uint32_t rowsPerStrip : {0u, 6u}) {
          SCOPED_TRACE(::testing::Message() << bits << " bits, big " << big << ", sub " << sub
                                            << ", rows/strip " << rowsPerStrip);
          FixtureOptions options;
          options.width = 64;   // one tile column, so two tile rows
          options.height = 37;  // the second tile row has one row below the image
          options.bitsPerSample = bits;
          options.bigEndian = big;
          options.rawInSubIfd = sub;
          options.rowsPerStrip = rowsPerStrip;
          Recompressed r = recompressFixture(options);
          ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
          EXPECT_TRUE(r.guardIntact);
          EXPECT_EQ(r.result.layout.tileCount, 2u);
          expectTilesDecodeToSamples(r);
        }
      }
    }
  }
}

TEST(RecompressDng, ManyTilesAndNoiseDecodeToTheInputSamples) {
  struct Case {
    uint32_t width, height;
    uint16_t bits;
    bool big;
    SamplePattern pattern;
    bool premiere;
  };
  const Case cases[] = {
      {976, 500, 14, true, SamplePattern::Realistic, false},  // 4 x 2 tiles of 244 x 250
      {976, 500, 12, false, SamplePattern::Noise, false},
      {976, 500, 16, false, SamplePattern::Noise, true},    // 4 x 1
      {480, 731, 8, true, SamplePattern::Gradient, false},  // 2 x 3, last row short
      {480, 64, 16, true, SamplePattern::Constant, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", " << c.bits);
    FixtureOptions options;
    options.width = c.width;
    options.height = c.height;
    options.bitsPerSample = c.bits;
    options.bigEndian = c.big;
    options.rowsPerStrip = 16;
    Recompressed r = recompressFixture(options, c.pattern, c.premiere);
    ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
    EXPECT_TRUE(r.guardIntact);
    EXPECT_GT(r.result.layout.tileCount, 1u);
    expectTilesDecodeToSamples(r);
  }
}

TEST(RewriteDng, CinemaDngKeepsItsEntriesAndGainsTiles) {
  FixtureOptions options;
  options.rowsPerStrip = 8;
  Recompressed r = recompressFixture(options);
  ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
  TiffFile in(r.input), out(r.output);
  TiffIfd before = in.ifd(in.firstIfd());
  ASSERT_EQ(out.firstIfd(), 8u);
  TiffIfd after = out.ifd(8);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.next, 0u);

  std::set<uint16_t> expected = tagsOf(before);
  for (uint16_t gone : {273, 278, 279, 330}) expected.erase(gone);
  for (uint16_t added : {322, 323, 324, 325}) expected.insert(added);
  EXPECT_EQ(tagsOf(after), expected);
  EXPECT_EQ(out.number(after, 259), 7u);
  EXPECT_EQ(out.number(after, 322), r.result.layout.tileWidth);
  EXPECT_EQ(out.number(after, 323), r.result.layout.tileLength);
  // Everything else carried over has its type, count and value bytes unchanged.
  for (const TiffEntry& e : before.entries) {
    const TiffEntry* o = after.find(e.tag);
    if (o == nullptr || e.tag == 259 || e.tag == 34665 || e.tag == 34853) continue;
    EXPECT_EQ(o->type, e.type) << e.tag;
    EXPECT_EQ(o->count, e.count) << e.tag;
    EXPECT_EQ(o->value, e.value) << e.tag;
  }
  // A second run over the output passes it through.
  DngStructure again;
  RawImageInfo info;
  EXPECT_EQ(readDngStructure(r.output.data(), r.output.size(), again, info),
            DngVerdict::AlreadyTiled);
}

TEST(RewriteDng, SubIfdRawImageTakesIfd0Metadata) {
  FixtureOptions options;
  options.rawInSubIfd = true;
  options.previewSubIfds = 2;
  options.rawIfdTags = {testing::shortTag(274, {6})};  // Orientation in both IFDs
  Recompressed r = recompressFixture(options);
  ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
  TiffFile in(r.input), out(r.output);
  TiffIfd ifd0 = in.ifd(in.firstIfd());
  TiffIfd raw = in.ifd(static_cast<uint32_t>(in.numbers(*ifd0.find(330))[0]));
  TiffIfd after = out.ifd(8);
  ASSERT_TRUE(after.ok);

  const std::set<uint16_t> rawTags = tagsOf(raw);
  const std::set<uint16_t> ifd0Only = {254,   256,   257,   258,   259,   262,   273,   277,
                                       278,   279,   284,   322,   323,   324,   325,   330,
                                       50966, 50967, 50968, 50969, 50970, 50971, 50972, 51111};
  std::set<uint16_t> expected = rawTags;
  for (uint16_t gone : {273, 278, 279, 330}) expected.erase(gone);
  for (uint16_t tag : tagsOf(ifd0)) {
    if (!ifd0Only.count(tag)) expected.insert(tag);
  }
  for (uint16_t added : {322, 323, 324, 325}) expected.insert(added);
  EXPECT_EQ(tagsOf(after), expected);
  EXPECT_EQ(after.entries.size(), expected.size()) << "a tag was written twice";

  for (uint16_t tag : {271, 272, 50706, 50708, 50721, 50728, 50778}) {
    ASSERT_NE(after.find(tag), nullptr) << tag;
    EXPECT_EQ(after.find(tag)->value, ifd0.find(tag)->value) << tag;
  }
  for (uint16_t tag : {50966, 50970, 50971, 330}) EXPECT_EQ(after.find(tag), nullptr) << tag;
  EXPECT_EQ(out.number(after, 274), 6u);  // the raw IFD's value wins
  EXPECT_EQ(out.number(after, 254), 0u);
  EXPECT_EQ(out.number(after, 256), options.width);
  EXPECT_EQ(out.number(after, 262), 32803u);
  expectTilesDecodeToSamples(r);
}

TEST(RewriteDng, EntriesAreSortedStablyByTag) {
  // Reversed tag order in the raw IFD, and two entries sharing a tag: Software's tag patched to
  // DateTime's. Both keep their input order.
  FixtureOptions options;
  options.shuffleTags = true;
  auto samples = testing::makeSamples(options.width, options.height, 16, SamplePattern::Gradient);
  std::vector<uint8_t> input = testing::writeFixtureDng(options, samples);
  TiffFile in(input);
  TiffIfd before = in.ifd(in.firstIfd());
  const TiffEntry* software = before.find(305);
  ASSERT_NE(software, nullptr);
  testing::patch16(input, software->at, 306, false);

  RecompressWorkspace ws;
  std::vector<uint8_t> output;
  bool guard;
  RecompressResult res =
      recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
  ASSERT_EQ(res.verdict, DngVerdict::Recompressible);
  TiffFile out(output);
  TiffIfd after = out.ifd(8);
  for (std::size_t i = 1; i < after.entries.size(); ++i) {
    EXPECT_LE(after.entries[i - 1].tag, after.entries[i].tag) << i;
  }
  // In the reversed input, DateTime (306) comes before the patched Software entry.
  std::vector<const TiffEntry*> dates;
  for (const TiffEntry& e : after.entries) {
    if (e.tag == 306) dates.push_back(&e);
  }
  ASSERT_EQ(dates.size(), 2u);
  const std::string first(dates[0]->value.begin(), dates[0]->value.end());
  const std::string second(dates[1]->value.begin(), dates[1]->value.end());
  EXPECT_EQ(first, std::string("2026:12:11 12:00:00") + '\0');
  EXPECT_EQ(second, std::string("Tamzel fixture writer") + '\0');
}

TEST(RewriteDng, ShortValuesStayInTheEntryLongerOnesMoveAndArePadded) {
  for (bool big : {false, true}) {
    FixtureOptions options;
    options.bigEndian = big;
    options.withExif = false;
    options.rawIfdTags = {testing::asciiTag(50735, "abc"),  // 4 bytes with the NUL
                          testing::asciiTag(270, "abcd")};  // 5 bytes
    Recompressed r = recompressFixture(options);
    ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
    TiffFile out(r.output);
    TiffIfd after = out.ifd(8);
    const TiffEntry* four = after.find(50735);
    const TiffEntry* five = after.find(270);
    ASSERT_NE(four, nullptr);
    ASSERT_NE(five, nullptr);
    EXPECT_FALSE(four->outOfLine);
    EXPECT_EQ(std::string(r.output.begin() + four->at + 8, r.output.begin() + four->at + 12),
              std::string("abc") + '\0');
    ASSERT_TRUE(five->outOfLine);
    EXPECT_EQ(five->field % 2, 0u);
    EXPECT_EQ(std::string(five->value.begin(), five->value.end()), std::string("abcd") + '\0');
    EXPECT_EQ(r.output[five->field + 5], 0);
    // 270 is the first entry with a value out of line: it starts the value area and the next
    // value starts after its pad byte.
    const uint64_t valuesStart = 14 + 12 * after.entries.size();
    EXPECT_EQ(five->field, valuesStart);
    uint64_t next = UINT64_MAX;
    for (const TiffEntry& e : after.entries) {
      if (e.outOfLine && e.field > five->field) next = std::min<uint64_t>(next, e.field);
    }
    EXPECT_EQ(next, five->field + 6u);
  }
}

TEST(RewriteDng, BigEndianInputGivesBigEndianOutput) {
  FixtureOptions options;
  options.bigEndian = true;
  options.rowsPerStrip = 4;
  Recompressed r = recompressFixture(options);
  ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
  const std::vector<uint8_t> header(r.output.begin(), r.output.begin() + 8);
  EXPECT_EQ(header, (std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8}));
  TiffFile out(r.output);
  TiffIfd after = out.ifd(8);
  const uint16_t n = static_cast<uint16_t>(r.output[8] << 8 | r.output[9]);
  EXPECT_EQ(n, after.entries.size());
  EXPECT_EQ(out.number(after, 256), 64u);
  EXPECT_EQ(out.number(after, 257), 32u);
  EXPECT_EQ(out.number(after, 259), 7u);
  const TiffEntry* compression = after.find(259);
  EXPECT_EQ(r.output[compression->at + 8], 0);
  EXPECT_EQ(r.output[compression->at + 9], 7);
  EXPECT_EQ(r.output[compression->at + 10], 0);
  EXPECT_EQ(r.output[compression->at + 11], 0);
  EXPECT_EQ(out.number(after, 322), r.result.layout.tileWidth);
  expectTilesDecodeToSamples(r);
}

// Checks one relocated pointer IFD against its original.
void expectIfdMoved(const TiffFile& in, uint32_t from, const TiffFile& out, uint32_t to,
                    uint64_t valuesStart, uint64_t tilesStart, std::set<uint16_t> nested = {}) {
  TiffIfd a = in.ifd(from), b = out.ifd(to);
  ASSERT_TRUE(a.ok);
  ASSERT_TRUE(b.ok);
  EXPECT_GE(to, valuesStart);
  EXPECT_LT(to, tilesStart);
  EXPECT_EQ(to % 2, 0u);
  EXPECT_EQ(b.next, 0u);
  ASSERT_EQ(a.entries.size(), b.entries.size());
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const TiffEntry& x = a.entries[i];
    const TiffEntry& y = b.entries[i];
    EXPECT_EQ(x.tag, y.tag);
    EXPECT_EQ(x.type, y.type);
    EXPECT_EQ(x.count, y.count);
    if (nested.count(x.tag)) {
      expectIfdMoved(in, x.field, out, y.field, valuesStart, tilesStart);
      continue;
    }
    EXPECT_EQ(x.value, y.value) << "tag " << x.tag;
    if (y.outOfLine) {
      EXPECT_GE(y.field, valuesStart) << "tag " << x.tag;
      EXPECT_LT(y.field, tilesStart) << "tag " << x.tag;
    }
  }
}

TEST(RewriteDng, ExifGpsAndInteroperabilityIfdsMoveWithTheirValues) {
  for (bool sub : {false, true}) {
    for (bool gpsInRaw : {false, true}) {
      for (bool big : {false, true}) {
        SCOPED_TRACE(::testing::Message()
                     << "sub " << sub << ", GPS in raw IFD " << gpsInRaw << ", big " << big);
        FixtureOptions options;
        options.rawInSubIfd = sub;
        options.bigEndian = big;
        options.withGps = true;
        options.withInterop = true;
        options.gpsInRawIfd = gpsInRaw;
        options.exifInRawIfd = sub && gpsInRaw;  // an Exif pointer in the raw SubIFD as well
        FixtureLayout layout;
        auto samples = testing::makeSamples(64, 32, 16, SamplePattern::Realistic);
        std::vector<uint8_t> input = testing::writeFixtureDng(options, samples, layout);
        RecompressWorkspace ws;
        std::vector<uint8_t> output;
        bool guard;
        RecompressResult res =
            recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
        ASSERT_EQ(res.verdict, DngVerdict::Recompressible);
        TiffFile in(input), out(output);
        TiffIfd after = out.ifd(8);
        const uint64_t valuesStart = 14 + 12 * after.entries.size();
        Tiles tiles = tilesOf(out, after);
        ASSERT_FALSE(tiles.offsets.empty());
        const uint64_t tilesStart = tiles.offsets[0];
        ASSERT_NE(after.find(34665), nullptr);
        ASSERT_NE(after.find(34853), nullptr);
        expectIfdMoved(in, layout.exifOffset, out, after.find(34665)->field, valuesStart,
                       tilesStart, {40965});
        expectIfdMoved(in, layout.gpsOffset, out, after.find(34853)->field, valuesStart,
                       tilesStart);
        TiffIfd exif = out.ifd(after.find(34665)->field);
        TiffIfd interop = out.ifd(exif.find(40965)->field);
        ASSERT_TRUE(interop.ok);
        EXPECT_EQ(std::string(interop.find(1)->value.begin(), interop.find(1)->value.end()),
                  std::string("R98") + '\0');
      }
    }
  }
}

// Every byte range the output's structure claims: header, IFD, values, pointer IFDs, tile
// arrays and tiles. None may overlap, and together they run to the end of the file.
TEST(RewriteDng, ValuesIfdsAndTilesDoNotOverlapAndFillTheFile) {
  FixtureOptions options;
  options.rawInSubIfd = true;
  options.withGps = true;
  options.withInterop = true;
  options.width = 976;
  options.height = 500;
  options.bitsPerSample = 12;
  Recompressed r = recompressFixture(options);
  ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
  TiffFile out(r.output);
  TiffIfd ifd = out.ifd(8);
  std::vector<std::pair<uint64_t, uint64_t>> ranges = {{0, 8}, {8, 14 + 12 * ifd.entries.size()}};
  auto addValues = [&](const TiffIfd& d) {
    for (const TiffEntry& e : d.entries) {
      if (e.outOfLine) ranges.push_back({e.field, e.field + e.value.size()});
    }
  };
  addValues(ifd);
  std::vector<uint32_t> pointers = {static_cast<uint32_t>(out.number(ifd, 34665)),
                                    static_cast<uint32_t>(out.number(ifd, 34853))};
  TiffIfd exif = out.ifd(pointers[0]);
  pointers.push_back(static_cast<uint32_t>(out.number(exif, 40965)));
  for (uint32_t p : pointers) {
    TiffIfd d = out.ifd(p);
    ASSERT_TRUE(d.ok);
    ranges.push_back({p, p + 6 + 12 * d.entries.size()});
    addValues(d);
  }
  Tiles t = tilesOf(out, ifd);
  ASSERT_EQ(t.offsets.size(), r.result.layout.tileCount);
  for (std::size_t k = 0; k < t.offsets.size(); ++k) {
    EXPECT_EQ(t.counts[k] % 2, 0u);
    ranges.push_back({t.offsets[k], t.offsets[k] + t.counts[k]});
    if (k > 0) {
      EXPECT_EQ(t.offsets[k], t.offsets[k - 1] + t.counts[k - 1]);
    }
  }
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    EXPECT_LE(ranges[i - 1].second, ranges[i].first)
        << "[" << ranges[i - 1].first << "," << ranges[i - 1].second << ") and [" << ranges[i].first
        << "," << ranges[i].second << ")";
    // Only pad bytes lie between consecutive ranges.
    EXPECT_LE(ranges[i].first - ranges[i - 1].second, 1u);
  }
  EXPECT_EQ(r.output.size() % 2, 0u);
  EXPECT_EQ(t.offsets.back() + t.counts.back(), r.output.size());
  EXPECT_EQ(ranges.back().second, r.output.size());
}

TEST(RewriteDng, SingleTileStandsInItsEntries) {
  FixtureOptions options;  // 64 wide: one tile column; Premiere: one tile row
  Recompressed r = recompressFixture(options, SamplePattern::Realistic, true);
  ASSERT_EQ(r.result.verdict, DngVerdict::Recompressible);
  ASSERT_EQ(r.result.layout.tileCount, 1u);
  TiffFile out(r.output);
  TiffIfd ifd = out.ifd(8);
  const TiffEntry* offsets = ifd.find(324);
  const TiffEntry* counts = ifd.find(325);
  ASSERT_NE(offsets, nullptr);
  ASSERT_NE(counts, nullptr);
  EXPECT_EQ(offsets->count, 1u);
  EXPECT_EQ(counts->count, 1u);
  EXPECT_EQ(offsets->type, 4);
  EXPECT_EQ(uint64_t{offsets->field} + counts->field, r.output.size());
  EXPECT_EQ(r.output[offsets->field], 0xFF);
  EXPECT_EQ(r.output[offsets->field + 1], 0xD8);
  expectTilesDecodeToSamples(r);
}

TEST(RewriteDng, NeverWritesPastTheCapacity) {
  // Noise-like 16-bit data codes larger than the raw samples.
  FixtureOptions options;
  options.width = 480;
  options.height = 240;
  options.withGps = true;
  options.withInterop = true;
  auto samples = testing::makeSamples(options.width, options.height, 16, SamplePattern::Noise, 9);
  std::vector<uint8_t> input = testing::writeFixtureDng(options, samples);
  RecompressWorkspace ws;
  std::vector<uint8_t> output;
  bool guard = false;
  RecompressResult full =
      recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
  ASSERT_EQ(full.verdict, DngVerdict::Recompressible);
  EXPECT_TRUE(guard);
  const std::size_t length = full.length;
  EXPECT_GT(length, input.size()) << "noise was expected to grow";

  RecompressResult exact = recompressInto(input, false, ws, length, output, guard);
  EXPECT_EQ(exact.verdict, DngVerdict::Recompressible);
  EXPECT_EQ(exact.length, length);
  EXPECT_TRUE(guard);

  TiffFile f(output);
  const std::size_t entriesEnd = 14 + 12 * f.ifd(8).entries.size();
  for (std::size_t capacity :
       {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{13}, entriesEnd - 1, entriesEnd,
        entriesEnd + 20, length / 2, length - 2, length - 1}) {
    RecompressResult small = recompressInto(input, false, ws, capacity, output, guard);
    EXPECT_EQ(small.verdict, DngVerdict::OutputTooLarge) << capacity;
    EXPECT_EQ(small.length, 0u) << capacity;
    EXPECT_TRUE(guard) << capacity;
  }
}

TEST(RecompressDng, LargeNoiseFrameThatDoesNotFitIsRefused) {
  // 8-bit noise codes at about 9 bits a sample: a 12 MB frame grows by more than 1 MiB.
  FixtureOptions options;
  options.width = 4000;
  options.height = 3000;
  options.bitsPerSample = 8;
  options.withExif = false;
  auto samples = testing::makeSamples(options.width, options.height, 8, SamplePattern::Noise, 11);
  std::vector<uint8_t> input = testing::writeFixtureDng(options, samples);
  RecompressWorkspace ws;
  std::vector<uint8_t> output;
  bool guard = false;
  RecompressResult r =
      recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
  EXPECT_EQ(r.verdict, DngVerdict::OutputTooLarge);
  EXPECT_EQ(r.length, 0u);
  EXPECT_TRUE(guard);
  // With room enough it is a valid file, only larger.
  r = recompressInto(input, false, ws, 2 * input.size(), output, guard);
  ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
  EXPECT_GT(r.length, recompressCapacity(input.size()));
  EXPECT_TRUE(guard);
}

TEST(RecompressDng, FramesOfOneSizeComputeTheLayoutAndAllocateOnce) {
  RecompressWorkspace ws;
  std::vector<uint8_t> output;
  bool guard;
  auto frame = [](uint32_t width, uint32_t height, uint32_t seed) {
    FixtureOptions options;
    options.width = width;
    options.height = height;
    return testing::writeFixtureDng(
        options, testing::makeSamples(width, height, 16, SamplePattern::Realistic, seed));
  };
  for (uint32_t i = 0; i < 3; ++i) {
    std::vector<uint8_t> input = frame(64, 32, i);
    RecompressResult r =
        recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
    ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
    EXPECT_EQ(ws.layoutComputations, 1u);
    EXPECT_EQ(ws.scratch.allocations, 1u);
  }
  // The Premiere switch is part of what the layout is remembered for.
  std::vector<uint8_t> input = frame(64, 32, 9);
  recompressInto(input, true, ws, recompressCapacity(input.size()), output, guard);
  EXPECT_EQ(ws.layoutComputations, 2u);
  EXPECT_EQ(ws.scratch.allocations, 2u);  // one 64 x 32 tile is larger than two 64 x 16 ones
  // A smaller frame needs a new layout but no new memory.
  input = frame(32, 16, 1);
  RecompressResult r =
      recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
  ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
  EXPECT_EQ(ws.layoutComputations, 3u);
  EXPECT_EQ(ws.scratch.allocations, 2u);
}

TEST(RecompressDng, RefusedFilesWriteNothingAndSayWhy) {
  RecompressWorkspace ws;
  std::vector<uint8_t> output;
  bool guard;
  struct Case {
    const char* name;
    FixtureOptions options;
    DngVerdict verdict;
  };
  std::vector<Case> cases;
  {
    FixtureOptions s;
    s.width = 63;
    s.bitsPerSample = 8;
    cases.push_back({"odd width", s, DngVerdict::WidthNotSplittable});
  }
  {
    FixtureOptions s;
    s.width = 1000;
    s.bitsPerSample = 14;
    cases.push_back({"14-bit tiles of 250", s, DngVerdict::WidthNotSplittable});
  }
  {
    FixtureOptions s;
    s.bitsPerSample = 10;
    cases.push_back({"10 bits", s, DngVerdict::UnsupportedBits});
  }
  for (const Case& c : cases) {
    std::vector<uint8_t> input = testing::writeFixtureDng(
        c.options, testing::makeSamples(c.options.width, c.options.height, c.options.bitsPerSample,
                                        SamplePattern::Gradient));
    RecompressResult r =
        recompressInto(input, false, ws, recompressCapacity(input.size()), output, guard);
    EXPECT_EQ(r.verdict, c.verdict) << c.name;
    EXPECT_EQ(r.length, 0u) << c.name;
    EXPECT_EQ(r.info.width, c.options.width) << c.name;  // for the inspect command
    EXPECT_EQ(r.info.bitsPerSample, c.options.bitsPerSample) << c.name;
  }
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(recompressInto(text, false, ws, 100, output, guard).verdict, DngVerdict::NotTiff);
  EXPECT_EQ(ws.scratch.allocations, 0u);
}

}  // namespace
}  // namespace tamzel
