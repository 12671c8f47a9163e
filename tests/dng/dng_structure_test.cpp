// The structure reader: which files it accepts, what it reports about them, and the reason it
// gives for every kind of file it refuses.
#include <gtest/gtest.h>

#include <functional>

#include "dng/dng.h"
#include "support/dng_writer.h"
#include "tiff_inspect.h"

namespace tamzel {
namespace {

using testing::FixtureLayout;
using testing::FixtureOptions;
using testing::SamplePattern;

struct Read {
  DngVerdict verdict;
  DngStructure structure;
  RawImageInfo info;
};

// Reads from an exactly sized heap copy, so a read past the end is caught by AddressSanitizer.
Read readBytes(const std::vector<uint8_t>& bytes) {
  Read r;
  std::vector<uint8_t> copy(bytes);
  r.verdict =
      readDngStructure(copy.empty() ? nullptr : copy.data(), copy.size(), r.structure, r.info);
  r.structure.base = ByteView();  // the copy is gone
  return r;
}

std::vector<uint8_t> fixture(const FixtureOptions& options, FixtureLayout* layout = nullptr) {
  FixtureLayout unused;
  auto samples = testing::makeSamples(options.width, options.height, options.bitsPerSample,
                                      SamplePattern::Gradient);
  return testing::writeFixtureDng(options, samples, layout ? *layout : unused);
}

Read readFixture(const FixtureOptions& options) {
  return readBytes(fixture(options));
}

TEST(DngStructure, AcceptsEveryDepthOrderArrangementAndStripCount) {
  for (uint16_t bits : {8, 12, 14, 16}) {
    for (bool big : {false, true}) {
      for (bool sub : {false, true}) {
        for (uint32_t rowsPerStrip : {0u, 5u}) {
          FixtureOptions options;
          options.width = 64;
          options.height = 26;
          options.bitsPerSample = bits;
          options.bigEndian = big;
          options.rawInSubIfd = sub;
          options.rowsPerStrip = rowsPerStrip;
          options.withGps = true;
          options.withInterop = true;
          SCOPED_TRACE(::testing::Message() << bits << " bits, big " << big << ", sub " << sub
                                            << ", rows/strip " << rowsPerStrip);
          FixtureLayout layout;
          Read r = readBytes(fixture(options, &layout));
          ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
          EXPECT_EQ(r.info.width, 64u);
          EXPECT_EQ(r.info.height, 26u);
          EXPECT_EQ(r.info.bitsPerSample, bits);
          EXPECT_EQ(r.info.compression, 1);
          EXPECT_EQ(r.info.photometric, 32803);
          EXPECT_EQ(r.info.samplesPerPixel, 1);
          EXPECT_EQ(r.info.firstStripOffset, layout.firstStripOffset);
          EXPECT_EQ(r.info.stripBytes, 64u * 26 * bits / 8);
          EXPECT_EQ(r.info.rawIsIfd0, !sub);
          EXPECT_EQ(r.structure.byteOrder.littleEndian, !big);
          EXPECT_EQ(r.structure.ifds[r.info.rawIfd].offset, layout.rawIfdOffset);
          EXPECT_EQ(r.structure.ifds[r.info.ifd0].offset, layout.ifd0Offset);
          EXPECT_TRUE(r.structure.ifds[r.info.ifd0].topLevel);
        }
      }
    }
  }
}

TEST(DngStructure, BigEndianSubIfdTreesWalkLikeTheirLittleEndianTwins) {
  for (uint32_t previews : {0u, 2u}) {  // one SubIFD, or three given as an array
    Read walked[2];
    for (bool big : {false, true}) {
      FixtureOptions options;
      options.rawInSubIfd = true;
      options.previewSubIfds = previews;
      options.bigEndian = big;
      walked[big] = readFixture(options);
      ASSERT_EQ(walked[big].verdict, DngVerdict::Recompressible);
    }
    const Read& le = walked[0];
    const Read& be = walked[1];
    ASSERT_EQ(le.structure.ifdCount, 2 + previews);
    ASSERT_EQ(be.structure.ifdCount, le.structure.ifdCount);
    for (uint32_t i = 0; i < le.structure.ifdCount; ++i) {
      EXPECT_EQ(be.structure.ifds[i].offset, le.structure.ifds[i].offset);
      EXPECT_EQ(be.structure.ifds[i].newSubfileType, le.structure.ifds[i].newSubfileType);
      EXPECT_EQ(be.structure.ifds[i].entryCount, le.structure.ifds[i].entryCount);
      EXPECT_EQ(be.structure.ifds[i].topLevel, i == 0);
    }
    EXPECT_EQ(be.info.rawIfd, 1u);  // recorded after IFD0, before the previews
    EXPECT_EQ(be.info.firstStripOffset, le.info.firstStripOffset);
    EXPECT_EQ(be.info.stripBytes, le.info.stripBytes);
  }
}

TEST(DngStructure, SixteenImageIfdsAreWalkedSeventeenAreNot) {
  FixtureOptions options;
  options.rawInSubIfd = true;
  options.previewSubIfds = 14;  // IFD0 + raw + 14
  Read r = readFixture(options);
  ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
  EXPECT_EQ(r.structure.ifdCount, 16u);
  options.previewSubIfds = 15;
  EXPECT_EQ(readFixture(options).verdict, DngVerdict::BadIfdTree);
}

TEST(DngStructure, LaterOfTwoMainImagesIsTheRawImage) {
  // IFD0's preview marked as a main image: the raw SubIFD, found later, is still chosen.
  FixtureOptions options;
  options.rawInSubIfd = true;
  options.ifd0Tags = {testing::longTag(254, {0})};
  Read r = readFixture(options);
  ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
  EXPECT_EQ(r.info.rawIfd, 1u);
  EXPECT_FALSE(r.info.rawIsIfd0);

  // A preview SubIFD marked as a main image comes after the raw image and is chosen: it is RGB.
  FixtureOptions later;
  later.rawInSubIfd = true;
  later.previewSubIfds = 1;
  later.previewTags = {testing::longTag(254, {0})};
  r = readFixture(later);
  EXPECT_EQ(r.verdict, DngVerdict::NotCfa);
  EXPECT_EQ(r.info.rawIfd, 2u);
}

TEST(DngStructure, StripVariantsThatAreAccepted) {
  struct Case {
    const char* name;
    std::function<void(FixtureOptions&)> edit;
    uint32_t extraBytes;
  };
  const Case cases[] = {
      {"short byte counts, many strips",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 3;
         s.stripByteCountsShort = true;
       },
       0},
      {"short offsets, two strips in the value field",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 16;
         s.stripOffsetsShort = true;
         s.stripByteCountsShort = true;
       },
       0},
      {"short offsets, many strips",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 4;
         s.stripOffsetsShort = true;
       },
       0},
      {"one short strip offset", [](FixtureOptions& s) { s.stripOffsetsShort = true; }, 0},
      {"extra bytes after the image", [](FixtureOptions& s) { s.extraStripBytes = 100; }, 100},
      {"extra bytes, many strips",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 7;
         s.extraStripBytes = 3;
       },
       3},
  };
  for (bool big : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      FixtureOptions options;
      options.bigEndian = big;
      c.edit(options);
      FixtureLayout layout;
      Read r = readBytes(fixture(options, &layout));
      ASSERT_EQ(r.verdict, DngVerdict::Recompressible);
      EXPECT_EQ(r.info.stripBytes, 64u * 32 * 2 + c.extraBytes);
      EXPECT_EQ(r.info.firstStripOffset, layout.firstStripOffset);
    }
  }
}

TEST(DngStructure, HeightFourIsTheSmallestAccepted) {
  FixtureOptions options;
  options.height = 4;
  EXPECT_EQ(readFixture(options).verdict, DngVerdict::Recompressible);
  options.height = 3;
  EXPECT_EQ(readFixture(options).verdict, DngVerdict::TooFewRows);
}

// Files that are refused, and the reason the reader gives.
struct Refusal {
  const char* name;
  std::function<void(FixtureOptions&)> edit;
  DngVerdict verdict;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
  *os << refusal.name;
}

class DngStructureRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(DngStructureRefusal, GivesTheReason) {
  for (bool big : {false, true}) {
    FixtureOptions options;
    options.bigEndian = big;
    GetParam().edit(options);
    Read r = readFixture(options);
    EXPECT_EQ(r.verdict, GetParam().verdict)
        << (big ? "big-endian" : "little-endian") << ": " << describeVerdict(r.verdict, r.info);
  }
}

std::vector<Refusal> refusals() {
  using testing::longTag;
  using testing::shortTag;
  return {
      {"IFD0 without NewSubfileType", [](FixtureOptions& s) { s.dropIfd0Tags = {254}; },
       DngVerdict::BadIfdTree},
      {"IFD0 preview without NewSubfileType",
       [](FixtureOptions& s) {
         s.rawInSubIfd = true;
         s.dropIfd0Tags = {254};
       },
       DngVerdict::BadIfdTree},
      {"raw SubIFD without NewSubfileType",
       [](FixtureOptions& s) {
         s.rawInSubIfd = true;
         s.dropRawIfdTags = {254};
       },
       DngVerdict::BadIfdTree},
      {"preview SubIFD without NewSubfileType",
       [](FixtureOptions& s) {
         s.previewSubIfds = 1;
         s.dropPreviewTags = {254};
       },
       DngVerdict::BadIfdTree},
      {"SubIFD of an unknown kind",
       [](FixtureOptions& s) {
         s.previewSubIfds = 1;
         s.previewTags = {longTag(254, {0x12345})};
       },
       DngVerdict::UnsupportedSubfile},
      {"transparency mask in IFD0",
       [](FixtureOptions& s) {
         s.rawInSubIfd = true;
         s.ifd0Tags = {longTag(254, {4})};
       },
       DngVerdict::UnsupportedSubfile},
      {"transparency mask SubIFD",
       [](FixtureOptions& s) {
         s.previewSubIfds = 1;
         s.previewTags = {longTag(254, {4})};
       },
       DngVerdict::UnsupportedSubfile},
      {"no main image", [](FixtureOptions& s) { s.rawIfdTags = {longTag(254, {1})}; },
       DngVerdict::NoMainImage},
      {"TileWidth", [](FixtureOptions& s) { s.rawIfdTags = {longTag(322, {32})}; },
       DngVerdict::AlreadyTiled},
      {"TileLength", [](FixtureOptions& s) { s.rawIfdTags = {longTag(323, {32})}; },
       DngVerdict::AlreadyTiled},
      {"TileOffsets", [](FixtureOptions& s) { s.rawIfdTags = {longTag(324, {8})}; },
       DngVerdict::AlreadyTiled},
      {"TileByteCounts", [](FixtureOptions& s) { s.rawIfdTags = {longTag(325, {8})}; },
       DngVerdict::AlreadyTiled},
      {"Compression 7", [](FixtureOptions& s) { s.rawIfdTags = {shortTag(259, {7})}; },
       DngVerdict::Compressed},
      {"LinearRaw", [](FixtureOptions& s) { s.rawIfdTags = {shortTag(262, {34892})}; },
       DngVerdict::NotCfa},
      {"three samples per pixel", [](FixtureOptions& s) { s.rawIfdTags = {shortTag(277, {3})}; },
       DngVerdict::MultipleSamples},
      {"BitsPerSample count 3",
       [](FixtureOptions& s) {
         s.rawIfdTags = {shortTag(258, {16, 16, 16})};
       },
       DngVerdict::BitsCount},
      {"ImageWidth with two values",
       [](FixtureOptions& s) {
         s.rawIfdTags = {longTag(256, {64, 64})};
       },
       DngVerdict::TagCount},
      {"ImageLength as an array",
       [](FixtureOptions& s) { s.rawIfdTags = {longTag(257, std::vector<uint64_t>(44, 32))}; },
       DngVerdict::TagCount},
      {"Compression with two values",
       [](FixtureOptions& s) {
         s.rawIfdTags = {shortTag(259, {1, 1})};
       },
       DngVerdict::TagCount},
      {"10 bits", [](FixtureOptions& s) { s.bitsPerSample = 10; }, DngVerdict::UnsupportedBits},
      {"width 0", [](FixtureOptions& s) { s.rawIfdTags = {longTag(256, {0})}; },
       DngVerdict::EmptyImage},
      {"height 3", [](FixtureOptions& s) { s.height = 3; }, DngVerdict::TooFewRows},
      {"no strips",
       [](FixtureOptions& s) {
         s.dropRawIfdTags = {273, 279};
       },
       DngVerdict::EmptyImage},
      {"strip byte count 0", [](FixtureOptions& s) { s.rawIfdTags = {longTag(279, {0})}; },
       DngVerdict::EmptyImage},
      {"strip offset 0", [](FixtureOptions& s) { s.rawIfdTags = {longTag(273, {0})}; },
       DngVerdict::EmptyImage},
      {"more offsets than byte counts",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 8;
         s.rawIfdTags = {longTag(279, {1024, 1024, 2048})};
       },
       DngVerdict::StripsMismatch},
      {"one-byte gap between strips",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 8;
         s.stripGap = 1;
       },
       DngVerdict::StripsNotContiguous},
      {"overlapping strips",
       [](FixtureOptions& s) {
         s.rowsPerStrip = 16;
         s.rawIfdTags = {longTag(279, {2049, 2047})};
       },
       DngVerdict::StripsNotContiguous},
      {"one byte missing", [](FixtureOptions& s) { s.rawIfdTags = {longTag(279, {4095})}; },
       DngVerdict::StripsTooShort},
      {"strip past the end of the file",
       [](FixtureOptions& s) { s.rawIfdTags = {longTag(279, {4097})}; }, DngVerdict::OutOfBounds},
      {"width times height overflows",
       [](FixtureOptions& s) {
         s.rawIfdTags = {longTag(256, {0xFFFFFFFF}), longTag(257, {0xFFFFFFFF})};
       },
       DngVerdict::StripsTooShort},
      {"SubIFD pointing at IFD0", [](FixtureOptions& s) { s.ifd0Tags = {longTag(330, {8})}; },
       DngVerdict::BadIfdTree},
      {"SubIFD pointing at IFD0, before its NewSubfileType",
       [](FixtureOptions& s) {
         s.ifd0Tags = {longTag(330, {8})};
         s.shuffleTags = true;
       },
       DngVerdict::BadIfdTree},
      {"Make value outside the file",
       [](FixtureOptions& s) {
         testing::ExtraTag make = testing::asciiTag(271, "Tamzel");
         make.count = 0x7FFFFFFF;
         s.rawIfdTags = {make};
       },
       DngVerdict::OutOfBounds},
      {"Exif pointer outside the file",
       [](FixtureOptions& s) { s.ifd0Tags = {longTag(34665, {0xFFFFFF00})}; },
       DngVerdict::OutOfBounds},
      {"GPS pointer outside the file",
       [](FixtureOptions& s) { s.ifd0Tags = {longTag(34853, {1u << 30})}; },
       DngVerdict::OutOfBounds},
      {"Exif pointer with two values",
       [](FixtureOptions& s) {
         s.ifd0Tags = {longTag(34665, {8, 8})};
       },
       DngVerdict::BadIfdTree},
      {"interoperability pointer outside the file",
       [](FixtureOptions& s) { s.exifTags = {longTag(40965, {0xFFFFFFFF})}; },
       DngVerdict::OutOfBounds},
      {"Exif value outside the file",
       [](FixtureOptions& s) {
         testing::ExtraTag t = testing::asciiTag(42036, "lens");
         t.count = 100000;
         s.exifTags = {t};
       },
       DngVerdict::OutOfBounds},
      {"GPS value outside the file",
       [](FixtureOptions& s) {
         s.withGps = true;
         s.gpsTags = {testing::rationalTag(2, {1, 1, 2, 1, 3, 1})};
         s.gpsTags.back().count = 1u << 29;
       },
       DngVerdict::OutOfBounds},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, DngStructureRefusal, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                           std::string name;
                           for (const char* p = param.param.name; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(DngStructure, ValuesOfDroppedIfd0TagsAreNotChecked) {
  // The preview's strip offsets are not carried over, so pointing them nowhere is harmless.
  FixtureOptions options;
  options.rawInSubIfd = true;
  options.ifd0Tags = {testing::longTag(50966, {1, 2, 3})};
  options.ifd0Tags.back().count = 1u << 28;
  EXPECT_EQ(readFixture(options).verdict, DngVerdict::Recompressible);
}

TEST(DngStructure, LoopingSubIfdsEndTheWalk) {
  // A raw SubIFD whose own SubIFDs entry points back at itself or at IFD0, with the SubIFDs
  // entry ahead of NewSubfileType so nothing is recorded before the recursion.
  for (bool toParent : {false, true}) {
    FixtureOptions options;
    options.rawInSubIfd = true;
    options.rawIfdTags = {testing::longTag(330, {0})};
    options.shuffleTags = true;
    FixtureLayout layout;
    std::vector<uint8_t> bytes = fixture(options, &layout);
    testing::TiffFile tiff(bytes);
    const testing::TiffIfd rawIfd = tiff.ifd(layout.rawIfdOffset);
    const testing::TiffEntry* e = rawIfd.find(330);
    ASSERT_NE(e, nullptr);
    testing::patch32(bytes, e->at + 8, toParent ? layout.ifd0Offset : layout.rawIfdOffset, false);
    EXPECT_EQ(readBytes(bytes).verdict, DngVerdict::BadIfdTree);
  }
}

TEST(DngStructure, SecondEntryOfAnImageDescriptionTagRefusesTheFile) {
  // A second entry for a tag that describes the raw image, ahead of or behind the file's own
  // one (a placeholder tag 255 or 300 renamed). Both entries would be carried into the output,
  // where a reader taking the first could see another image than the tiles hold (half the
  // width, three samples per pixel), so the file is passed on whichever entry comes last.
  using testing::ExtraTag;
  struct Case {
    const char* name;
    uint16_t tag;
    std::vector<uint64_t> values;
    bool isShort;
    DngVerdict verdict;
  };
  const Case cases[] = {
      {"BitsPerSample with three values", 258, {16, 16, 16}, true, DngVerdict::BitsCount},
      {"BitsPerSample repeated", 258, {16}, true, DngVerdict::BitsCount},
      {"ImageWidth of half the width", 256, {32}, false, DngVerdict::TagCount},
      {"ImageLength repeated", 257, {32}, false, DngVerdict::TagCount},
      {"Compression repeated", 259, {1}, true, DngVerdict::TagCount},
      {"PhotometricInterpretation repeated", 262, {32803}, true, DngVerdict::TagCount},
      {"SamplesPerPixel repeated", 277, {1}, true, DngVerdict::TagCount},
  };
  for (const Case& c : cases) {
    for (bool big : {false, true}) {
      for (uint16_t placeholder : {uint16_t{255}, uint16_t{300}}) {
        FixtureOptions options;
        options.bigEndian = big;
        options.rawIfdTags = {c.isShort ? testing::shortTag(placeholder, c.values)
                                        : testing::longTag(placeholder, c.values)};
        FixtureLayout layout;
        std::vector<uint8_t> bytes = fixture(options, &layout);
        testing::TiffFile tiff(bytes);
        const testing::TiffIfd raw = tiff.ifd(layout.rawIfdOffset);
        const testing::TiffEntry* e = raw.find(placeholder);
        ASSERT_NE(e, nullptr);
        testing::patch16(bytes, e->at, c.tag, big);
        EXPECT_EQ(readBytes(bytes).verdict, c.verdict)
            << c.name << ", " << (big ? "big-endian" : "little-endian") << ", second entry "
            << (placeholder < c.tag ? "first" : "last");
      }
    }
  }
}

TEST(DngStructure, ManyPointersAtOneIfdAreRefused) {
  // Exif entries turned into interoperability pointers, all at the same IFD: a few are copied
  // along, dozens would make the work grow with entries times pointers.
  for (uint32_t pointers : {2u, 30u, 40u}) {
    FixtureOptions options;
    options.withInterop = true;
    for (uint32_t i = 0; i < pointers; ++i) {
      options.exifTags.push_back(testing::longTag(static_cast<uint16_t>(60000 + i), {0}));
    }
    FixtureLayout layout;
    std::vector<uint8_t> bytes = fixture(options, &layout);
    testing::TiffFile tiff(bytes);
    const testing::TiffIfd exif = tiff.ifd(layout.exifOffset);
    for (const testing::TiffEntry& e : exif.entries) {
      if (e.tag < 60000) continue;
      testing::patch16(bytes, e.at, 40965, false);
      testing::patch32(bytes, e.at + 8, layout.interopOffset, false);
    }
    EXPECT_EQ(readBytes(bytes).verdict,
              pointers <= 30 ? DngVerdict::Recompressible : DngVerdict::BadIfdTree)
        << pointers << " pointers";
  }
}

TEST(DngStructure, HeaderMustBeTiff) {
  std::vector<uint8_t> good = fixture(FixtureOptions{});
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {{"empty", {}}, {"too short", {'I', 'I', 42, 0, 8, 0, 0}}};
  auto edited = [&](std::size_t at, uint8_t value) {
    std::vector<uint8_t> b = good;
    b[at] = value;
    return b;
  };
  cases.push_back({"mixed order mark", edited(1, 'M')});
  cases.push_back({"not a mark", edited(0, 'X')});
  cases.push_back({"magic 43", edited(2, 43)});
  cases.push_back({"big-endian mark, little-endian magic", [&] {
                     std::vector<uint8_t> b = good;
                     b[0] = b[1] = 'M';
                     return b;
                   }()});
  for (const Case& c : cases) {
    EXPECT_EQ(readBytes(c.bytes).verdict, DngVerdict::NotTiff) << c.name;
  }
}

TEST(DngStructure, DescribesVerdictsInShortWords) {
  RawImageInfo info;
  info.bitsPerSample = 10;
  EXPECT_EQ(describeVerdict(DngVerdict::UnsupportedBits, info), "10 bits per sample");
  EXPECT_EQ(describeVerdict(DngVerdict::Compressed, info), "raw image is already compressed");
  EXPECT_EQ(describeVerdict(DngVerdict::StripsNotContiguous, info), "strips are not contiguous");
  EXPECT_EQ(describeVerdict(DngVerdict::AlreadyTiled, info), "raw image is tiled");
  EXPECT_EQ(describeVerdict(DngVerdict::NotTiff, info), "not a TIFF file");
  EXPECT_EQ(describeVerdict(DngVerdict::OutOfBounds, info), "structure points outside the file");
  EXPECT_EQ(describeVerdict(DngVerdict::NotCfa, info), "raw image is not colour filter array data");
  EXPECT_EQ(describeVerdict(DngVerdict::WidthNotSplittable, info),
            "width cannot be split into tiles");
  // Every verdict has its own text.
  std::vector<std::string> seen;
  for (int v = 0; v <= static_cast<int>(DngVerdict::OutOfMemory); ++v) {
    std::string text = describeVerdict(static_cast<DngVerdict>(v), info);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
    seen.push_back(text);
  }
}

TEST(DngStructure, RealFilesFromOtherWritersAreRefused) {
  struct Case {
    const char* file;
    DngVerdict verdict;
  };
  const Case cases[] = {
      {"adobe-converter-canon350d-truncated.dng", DngVerdict::AlreadyTiled},
      {"linear-raw-tiled-jpeg.dng", DngVerdict::AlreadyTiled},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes =
        testing::readFile(std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/" + c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    EXPECT_EQ(readBytes(bytes).verdict, c.verdict) << c.file;
  }
  std::vector<uint8_t> poc =
      testing::readFile(std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/malformed-overflow-poc.dng");
  ASSERT_FALSE(poc.empty());
  EXPECT_NE(readBytes(poc).verdict, DngVerdict::Recompressible);
}

}  // namespace
}  // namespace tamzel
