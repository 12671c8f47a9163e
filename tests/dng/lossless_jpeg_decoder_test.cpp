// The lossless JPEG decoder: the parts of the format the tile encoder never uses (other
// predictors, 1-4 components, restart intervals, point transform, separate scans, skipped
// segments), streams written by another encoder, and rejection of malformed input.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "dng/dng.h"
#include "lossless_jpeg_test_support.h"

namespace tamzel {
namespace {

// ---------------------------------------------------------------------------------------------
// A plain, unoptimised lossless JPEG writer with every option the decoder has to understand.

struct WriterOptions {
  uint32_t precision = 8;
  uint32_t width = 1;
  uint32_t height = 1;
  uint32_t components = 1;
  uint32_t predictor = 1;
  uint32_t pointTransform = 0;
  uint32_t restartRows = 0;    // 0: no restart intervals
  bool separateScans = false;  // one scan per component instead of one interleaved scan
  bool extraSegments = false;  // APP0, COM, an empty APP11, fill bytes before markers
  bool tablesInOneSegment = false;
};

class BitSink {
 public:
  explicit BitSink(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t value, uint32_t count) {
    for (uint32_t i = count; i-- > 0;) {
      byte_ = static_cast<uint8_t>((byte_ << 1) | ((value >> i) & 1));
      if (++filled_ == 8) store();
    }
  }
  void flush() {
    while (filled_ != 0) put(1, 1);
  }

 private:
  void store() {
    out_.push_back(byte_);
    if (byte_ == 0xFF) out_.push_back(0x00);
    byte_ = 0;
    filled_ = 0;
  }
  std::vector<uint8_t>& out_;
  uint8_t byte_ = 0;
  uint32_t filled_ = 0;
};

// Table t: the 17 categories in an order rotated by 3t, fifteen codes of 4 bits and two of 6.
struct FixedTable {
  uint8_t values[17];
  uint32_t code[17];
  uint32_t length[17];
};

FixedTable fixedTable(uint32_t t) {
  FixedTable table{};
  for (uint32_t k = 0; k < 17; ++k) {
    const uint32_t s = (k + 3 * t) % 17;
    table.values[k] = static_cast<uint8_t>(s);
    table.length[s] = k < 15 ? 4 : 6;
    table.code[s] = k < 15 ? k : 0b111100 + (k - 15);
  }
  return table;
}

int32_t prediction(uint32_t predictor, int32_t a, int32_t b, int32_t c) {
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

// `samples` are interleaved by component and already multiples of 2^pointTransform.
std::vector<uint8_t> writeStream(const std::vector<uint16_t>& samples, const WriterOptions& o) {
  std::vector<uint8_t> s = {0xFF, 0xD8};
  auto put16 = [&](uint32_t v) {
    s.push_back(static_cast<uint8_t>(v >> 8));
    s.push_back(static_cast<uint8_t>(v));
  };
  if (o.extraSegments) {
    s.insert(s.end(), {0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'});
    s.insert(s.end(), {0xFF, 0xFE, 0x00, 0x05, 'h', 'i', '!'});
    s.insert(s.end(), {0xFF, 0xFF, 0xFF, 0xEB, 0x00, 0x02});  // fill bytes, empty APP11
  }
  s.insert(s.end(), {0xFF, 0xC3});
  put16(8 + 3 * o.components);
  s.push_back(static_cast<uint8_t>(o.precision));
  put16(o.height);
  put16(o.width);
  s.push_back(static_cast<uint8_t>(o.components));
  for (uint32_t c = 0; c < o.components; ++c)
    s.insert(s.end(), {static_cast<uint8_t>(c + 7), 0x11, 0});
  const uint32_t tableCount = std::min(o.components, 4u);
  auto tableBody = [&](uint32_t t) {
    const FixedTable table = fixedTable(t);
    s.push_back(static_cast<uint8_t>(t));
    for (uint32_t length = 1; length <= 16; ++length)
      s.push_back(length == 4 ? 15 : length == 6 ? 2 : 0);
    s.insert(s.end(), table.values, table.values + 17);
  };
  if (o.tablesInOneSegment) {
    s.insert(s.end(), {0xFF, 0xC4});
    put16(2 + 34 * tableCount);
    for (uint32_t t = 0; t < tableCount; ++t) tableBody(t);
  } else {
    for (uint32_t t = 0; t < tableCount; ++t) {
      s.insert(s.end(), {0xFF, 0xC4});
      put16(2 + 34);
      tableBody(t);
    }
  }
  if (o.restartRows != 0) {
    s.insert(s.end(), {0xFF, 0xDD, 0x00, 0x04});
    put16(o.restartRows * o.width);
  }
  std::vector<std::vector<uint32_t>> scans;
  if (o.separateScans) {
    for (uint32_t c = 0; c < o.components; ++c) scans.push_back({c});
  } else {
    scans.emplace_back();
    for (uint32_t c = 0; c < o.components; ++c) scans.back().push_back(c);
  }
  const int32_t initial = int32_t{1} << (o.precision - o.pointTransform - 1);
  for (const auto& scan : scans) {
    if (o.extraSegments) s.push_back(0xFF);
    s.insert(s.end(), {0xFF, 0xDA});
    put16(6 + 2 * static_cast<uint32_t>(scan.size()));
    s.push_back(static_cast<uint8_t>(scan.size()));
    for (uint32_t c : scan) {
      s.push_back(static_cast<uint8_t>(c + 7));
      s.push_back(static_cast<uint8_t>((c % tableCount) << 4));
    }
    s.insert(s.end(),
             {static_cast<uint8_t>(o.predictor), 0, static_cast<uint8_t>(o.pointTransform)});
    BitSink bits(s);
    uint32_t restarts = 0;
    auto at = [&](uint32_t x, uint32_t y, uint32_t c) {
      return static_cast<int32_t>(samples[(std::size_t{y} * o.width + x) * o.components + c] >>
                                  o.pointTransform);
    };
    uint32_t intervalStart = 0;
    for (uint32_t y = 0; y < o.height; ++y) {
      if (o.restartRows != 0 && y != 0 && y % o.restartRows == 0) {
        bits.flush();
        if (o.extraSegments) s.insert(s.end(), {0xFF, 0xFF});  // fill bytes
        s.insert(s.end(), {0xFF, static_cast<uint8_t>(0xD0 + (restarts++ & 7))});
        intervalStart = y;
      }
      for (uint32_t x = 0; x < o.width; ++x) {
        for (uint32_t c : scan) {
          int32_t p;
          if (y == intervalStart) {
            p = x == 0 ? initial : at(x - 1, y, c);
          } else if (x == 0) {
            p = at(x, y - 1, c);
          } else {
            p = prediction(o.predictor, at(x - 1, y, c), at(x, y - 1, c), at(x - 1, y - 1, c));
          }
          const int32_t d = static_cast<int16_t>(static_cast<uint16_t>(at(x, y, c) - p));
          const uint32_t magnitude = static_cast<uint32_t>(d < 0 ? -d : d);
          uint32_t category = 0;
          while ((magnitude >> category) != 0) ++category;
          const FixedTable table = fixedTable(c % tableCount);
          bits.put(table.code[category], table.length[category]);
          if (category != 0 && category != 16) {
            bits.put(static_cast<uint32_t>(d < 0 ? d - 1 : d) & ((1u << category) - 1), category);
          }
        }
      }
    }
    bits.flush();
  }
  s.insert(s.end(), {0xFF, 0xD9});
  return s;
}

std::vector<uint16_t> randomSamples(const WriterOptions& o, uint32_t seed, bool smooth) {
  std::mt19937 rng(seed);
  std::vector<uint16_t> samples(std::size_t{o.width} * o.height * o.components);
  const uint32_t maxValue = (1u << (o.precision - o.pointTransform)) - 1;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    uint32_t v = rng() % (maxValue + 1);
    if (smooth)
      v = static_cast<uint32_t>((i / o.components) * 13 % (maxValue + 1)) ^ (rng() & 3 & maxValue);
    samples[i] = static_cast<uint16_t>(std::min(v, maxValue) << o.pointTransform);
  }
  return samples;
}

TEST(LosslessJpegDecoderTest, DecodesEveryPredictorAndFrameShape) {
  struct Shape {
    uint32_t precision, width, height, components;
  };
  const Shape shapes[] = {{8, 1, 1, 1},   {2, 5, 3, 1},  {16, 7, 5, 2}, {12, 1, 9, 3},
                          {10, 13, 1, 4}, {16, 9, 8, 4}, {14, 32, 6, 1}};
  int cases = 0;
  for (const Shape& shape : shapes) {
    for (uint32_t predictor = 1; predictor <= 7; ++predictor) {
      for (int variant = 0; variant < 4; ++variant) {
        WriterOptions o;
        o.precision = shape.precision;
        o.width = shape.width;
        o.height = shape.height;
        o.components = shape.components;
        o.predictor = predictor;
        o.pointTransform = variant == 1 && shape.precision > 4 ? 2 : 0;
        o.restartRows = variant == 2 ? 1 : variant == 3 ? 2 : 0;
        o.separateScans = variant == 3;
        o.extraSegments = variant >= 2;
        o.tablesInOneSegment = variant == 1 || variant == 3;
        const std::vector<uint16_t> samples = randomSamples(o, 100 + cases, variant % 2 == 0);
        const std::vector<uint8_t> stream = writeStream(samples, o);
        SCOPED_TRACE(::testing::Message()
                     << "P" << o.precision << " " << o.width << "x" << o.height << "x"
                     << o.components << " predictor " << predictor << " variant " << variant);
        LosslessImage image;
        ASSERT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), DecodeStatus::Ok);
        EXPECT_EQ(image.width, o.width);
        EXPECT_EQ(image.height, o.height);
        EXPECT_EQ(image.components, o.components);
        EXPECT_EQ(image.precision, o.precision);
        EXPECT_EQ(image.predictor, predictor);
        ASSERT_EQ(image.samples, samples);
        ++cases;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Another encoder's streams

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(LosslessJpegDecoderTest, RefusesThePlaceholderTileOfATruncatedConverterOutput) {
  // The raw tile of this sample (SubIFD at 12060: offset 12494, 22 bytes) holds the text
  // "<Dummy raw image data>" instead of a stream.
  const std::vector<uint8_t> file =
      readFile(std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/adobe-converter-canon350d-truncated.dng");
  if (file.empty()) GTEST_SKIP() << "sample not found";
  ASSERT_LE(12494u + 22, file.size());
  LosslessImage image;
  EXPECT_EQ(decodeLosslessJpeg(file.data() + 12494, 22, image), DecodeStatus::BadMarker);
}

TEST(LosslessJpegDecoderTest, DecodesTheTilesOfAThirdPartyLinearRawDng) {
  // The main image of this sample (SubIFD at 6678, per `tiffdump -o 6678`) is 384 x 384
  // LinearRaw RGB in four 192 x 192 lossless JPEG tiles of 13933 bytes each.
  const std::vector<uint8_t> file =
      readFile(std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/linear-raw-tiled-jpeg.dng");
  if (file.empty()) GTEST_SKIP() << "sample not found";
  const std::size_t offsets[] = {210864, 224798, 238732, 252666};
  for (std::size_t offset : offsets) {
    SCOPED_TRACE(offset);
    ASSERT_LE(offset + 13933, file.size());
    ASSERT_EQ(file[offset + 3], 0xC3) << "not a lossless JPEG tile";
    LosslessImage image;
    ASSERT_EQ(decodeLosslessJpeg(file.data() + offset, 13933, image), DecodeStatus::Ok);
    EXPECT_EQ(image.width, 192u);
    EXPECT_EQ(image.height, 192u);
    EXPECT_EQ(image.components, 3u);
    EXPECT_EQ(image.precision, 8u);
    // The picture is flat: R, G, B = 63, 71, 205 everywhere. `dcraw -D -4` reports 3258, 4129
    // and 40009 for this file, which is what its LinearizationTable makes of 63, 71 and 205.
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < image.samples.size(); i += 3) {
      wrong += image.samples[i] != 63 || image.samples[i + 1] != 71 || image.samples[i + 2] != 205;
    }
    EXPECT_EQ(wrong, 0u);
    // Every cut of the stream before its EOI is refused.
    for (std::size_t cut = 0; cut + 2 < 13933; cut += 97) {
      LosslessImage partial;
      EXPECT_NE(decodeLosslessJpeg(file.data() + offset, cut, partial), DecodeStatus::Ok) << cut;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Rejection

std::vector<uint8_t> validTileStream() {
  testing::EncoderRig rig;
  rig.load(testing::makeTile(8, 4, 12, testing::Pattern::SmoothNoise, 3));
  return rig.encode(12);
}

TEST(LosslessJpegDecoderTest, EveryTruncationIsReportedAsTruncated) {
  for (const std::vector<uint8_t>& stream :
       {validTileStream(), writeStream(randomSamples(WriterOptions{8, 6, 5, 2, 7, 0, 2}, 1, false),
                                       WriterOptions{8, 6, 5, 2, 7, 0, 2})}) {
    std::size_t eoiEnd = stream.size();
    if (stream[eoiEnd - 1] == 0x00) --eoiEnd;  // the pad byte is not part of the stream
    for (std::size_t cut = 0; cut < eoiEnd; ++cut) {
      LosslessImage image;
      EXPECT_EQ(decodeLosslessJpeg(stream.data(), cut, image), DecodeStatus::Truncated)
          << "cut at " << cut << " of " << eoiEnd;
    }
    LosslessImage image;
    EXPECT_EQ(decodeLosslessJpeg(stream.data(), eoiEnd, image), DecodeStatus::Ok);
  }
}

TEST(LosslessJpegDecoderTest, RejectsMalformedStreams) {
  const std::vector<uint8_t> valid = validTileStream();
  const auto layout = testing::parseLayout(valid);
  using Edit = void (*)(std::vector<uint8_t>&, const testing::StreamLayout&);
  struct Case {
    const char* what;
    Edit edit;
    DecodeStatus expected;
  };
  const Case cases[] = {
      {"no SOI", [](auto& s, const auto&) { s[1] = 0xD9; }, DecodeStatus::BadMarker},
      {"garbage instead of a marker", [](auto& s, const auto&) { s[2] = 0x12; },
       DecodeStatus::BadMarker},
      {"baseline frame", [](auto& s, const auto&) { s[3] = 0xC0; }, DecodeStatus::Unsupported},
      {"progressive frame", [](auto& s, const auto&) { s[3] = 0xC2; }, DecodeStatus::Unsupported},
      {"arithmetic lossless frame", [](auto& s, const auto&) { s[3] = 0xCB; },
       DecodeStatus::Unsupported},
      {"precision 1", [](auto& s, const auto&) { s[6] = 1; }, DecodeStatus::Unsupported},
      {"precision 17", [](auto& s, const auto&) { s[6] = 17; }, DecodeStatus::Unsupported},
      {"height 0 (DNL)", [](auto& s, const auto&) { s[7] = s[8] = 0; }, DecodeStatus::Unsupported},
      {"width 0", [](auto& s, const auto&) { s[9] = s[10] = 0; }, DecodeStatus::BadData},
      {"no components", [](auto& s, const auto&) { s[11] = 0; }, DecodeStatus::BadData},
      {"five components", [](auto& s, const auto&) { s[11] = 5; }, DecodeStatus::Unsupported},
      {"frame length off", [](auto& s, const auto&) { s[5] = 0x0F; }, DecodeStatus::BadMarker},
      {"2x1 sampling", [](auto& s, const auto&) { s[13] = 0x21; }, DecodeStatus::Unsupported},
      {"duplicate component id", [](auto& s, const auto&) { s[15] = 0x00; }, DecodeStatus::BadData},
      {"segment length 1",
       [](auto& s, const auto&) {
         s[4] = 0;
         s[5] = 1;
       },
       DecodeStatus::BadMarker},
      {"segment longer than the stream", [](auto& s, const auto&) { s[4] = 0xFF; },
       DecodeStatus::Truncated},
      {"three codes of length 1", [](auto& s, const auto& l) { s[l.table0 + 5] = 3; },
       DecodeStatus::BadHuffman},
      {"table class 2", [](auto& s, const auto& l) { s[l.table0 + 4] = 0x20; },
       DecodeStatus::BadHuffman},
      {"table id 4", [](auto& s, const auto& l) { s[l.table0 + 4] = 0x04; },
       DecodeStatus::BadHuffman},
      {"table counts beyond the segment", [](auto& s, const auto& l) { s[l.table0 + 20] = 9; },
       DecodeStatus::BadHuffman},
      {"scan uses an undefined table", [](auto& s, const auto& l) { s[l.sos + 8] = 0x30; },
       DecodeStatus::BadHuffman},
      {"scan names an unknown component", [](auto& s, const auto& l) { s[l.sos + 7] = 9; },
       DecodeStatus::BadData},
      {"scan names a component twice", [](auto& s, const auto& l) { s[l.sos + 7] = 0; },
       DecodeStatus::BadData},
      {"predictor 0", [](auto& s, const auto& l) { s[l.sos + 9] = 0; }, DecodeStatus::Unsupported},
      {"predictor 8", [](auto& s, const auto& l) { s[l.sos + 9] = 8; }, DecodeStatus::BadData},
      {"successive approximation", [](auto& s, const auto& l) { s[l.sos + 11] = 0x10; },
       DecodeStatus::BadData},
      {"point transform as large as the precision",
       [](auto& s, const auto& l) { s[l.sos + 11] = 12; }, DecodeStatus::BadData},
      {"restart marker outside a scan",
       [](auto& s, const auto& l) {
         s.insert(s.begin() + l.sos, {0xFF, 0xD0});
       },
       DecodeStatus::BadMarker},
      {"second SOI",
       [](auto& s, const auto& l) {
         s.insert(s.begin() + l.sos, {0xFF, 0xD8});
       },
       DecodeStatus::BadMarker},
      {"second frame",
       [](auto& s, const auto& l) {
         std::vector<uint8_t> frame(s.begin() + 2, s.begin() + 18);
         s.insert(s.begin() + l.sos, frame.begin(), frame.end());
       },
       DecodeStatus::BadMarker},
      {"EOI before the scan",
       [](auto& s, const auto& l) {
         s.insert(s.begin() + l.sos, {0xFF, 0xD9});
       },
       DecodeStatus::BadData},
      {"scan before the frame",
       [](auto& s, const auto& l) {
         std::vector<uint8_t> sos(s.begin() + l.sos, s.begin() + l.scan);
         s.insert(s.begin() + 2, sos.begin(), sos.end());
       },
       DecodeStatus::BadMarker},
      {"restart interval not whole rows",
       [](auto& s, const auto& l) {
         s.insert(s.begin() + l.sos, {0xFF, 0xDD, 0, 4, 0, 3});
       },
       DecodeStatus::Unsupported},
      {"restart interval without restart markers",
       [](auto& s, const auto& l) {
         s.insert(s.begin() + l.sos, {0xFF, 0xDD, 0, 4, 0, 4});
       },
       DecodeStatus::BadMarker},
      {"scan data of unassigned codes",
       [](auto& s, const auto& l) {
         // All ones is the code the encoder keeps free.
         for (std::size_t i = l.scan; i + 4 < s.size(); i += 2) {
           s[i] = 0xFF;
           s[i + 1] = 0x00;
         }
       },
       DecodeStatus::BadData},
      {"scan ends early at EOI",
       [](auto& s, const auto& l) { s.erase(s.begin() + l.scan + 4, s.end() - 4); },
       DecodeStatus::BadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> stream = valid;
    c.edit(stream, layout);
    LosslessImage image;
    EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), c.expected)
        << describeDecodeStatus(decodeLosslessJpeg(stream.data(), stream.size(), image));
  }
}

TEST(LosslessJpegDecoderTest, WrongRestartMarkerNumberIsRefused) {
  WriterOptions o{8, 4, 4, 1, 1, 0, 1};
  std::vector<uint8_t> stream = writeStream(randomSamples(o, 9, true), o);
  // Turn RST1 (the second restart marker) into RST2.
  int seen = 0;
  for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] >= 0xD0 && stream[i + 1] <= 0xD7 && seen++ == 1) {
      stream[i + 1] = 0xD2;
      break;
    }
  }
  ASSERT_EQ(seen, 2);
  LosslessImage image;
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), DecodeStatus::BadMarker);
}

TEST(LosslessJpegDecoderTest, SampleLimitBoundsTheAllocation) {
  std::vector<uint8_t> stream = validTileStream();  // 4 x 4 entries, 2 components
  LosslessImage image;
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image, 32), DecodeStatus::Ok);
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image, 31), DecodeStatus::TooLarge);
  EXPECT_TRUE(image.samples.empty());

  // 65535 x 65535 x 2 against the default limit, and against no limit at all: the short scan
  // cannot hold that many samples, so nothing of that size is allocated.
  stream[7] = stream[8] = stream[9] = stream[10] = 0xFF;
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), DecodeStatus::TooLarge);
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image, SIZE_MAX),
            DecodeStatus::Truncated);
  EXPECT_TRUE(image.samples.empty());
}

TEST(LosslessJpegDecoderTest, OverSubscribedCodeIsRefused) {
  WriterOptions o{8, 4, 4, 1, 1};
  std::vector<uint8_t> stream = writeStream(randomSamples(o, 2, false), o);
  // The table's counts sit after SOI (2) and the frame segment (2 + 11), behind the DHT
  // marker, length and class byte. 15 codes of 4 bits and 2 of 6 become 16 and 1: the same
  // number of values, but more codes than the bits can hold.
  const std::size_t counts = 2 + 13 + 5;
  ASSERT_EQ(stream[counts + 3], 15);
  ASSERT_EQ(stream[counts + 5], 2);
  LosslessImage image;
  ASSERT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), DecodeStatus::Ok);
  stream[counts + 3] = 16;
  stream[counts + 5] = 1;
  EXPECT_EQ(decodeLosslessJpeg(stream.data(), stream.size(), image), DecodeStatus::BadHuffman);
}

}  // namespace
}  // namespace tamzel
