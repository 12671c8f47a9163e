// CRC-32C: both implementations (and the dispatching entry point) against published vectors and
// against a bit-at-a-time reference, at every alignment and around every block threshold of the
// hardware path; chaining; the tables; concurrent use.

#include "integrity/crc32c.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "integrity/crc32c_internal.h"
#include "platform/platform.h"

namespace tamzel {
namespace {

namespace detail = crc32c_detail;

// The reference: the register runs through the message one bit at a time, straight from the
// definition of the reflected CRC. Shares no table or code with the program.
uint32_t referenceRegister(uint32_t reg, const uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ ((reg & 1u) ? 0x82F63B78u : 0u);
  }
  return reg;
}

uint32_t referenceCrc(uint32_t previous, const uint8_t* p, std::size_t n) {
  return referenceRegister(previous ^ 0xFFFFFFFFu, p, n) ^ 0xFFFFFFFFu;
}

std::vector<uint8_t> randomBytes(std::size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Random bytes in 8-byte aligned storage, so base() + a really starts at alignment a.
class AlignedBytes {
 public:
  AlignedBytes(std::size_t n, uint64_t seed) : words_((n + 7) / 8 + 1), size_(n) {
    std::mt19937_64 rng(seed);
    for (auto& w : words_) w = rng();
  }
  const uint8_t* base() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
  std::size_t size() const { return size_; }

 private:
  std::vector<uint64_t> words_;
  std::size_t size_;
};

// Lengths around every step of the hardware path: head/words/tail, the short blocks (3 x 256)
// and the long blocks (3 x 8192), and mixtures of all of them.
std::vector<std::size_t> interestingLengths() {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
  for (std::size_t n : {767, 768, 769, 1535, 1536, 1537, 24575, 24576, 24577, 24576 + 768 + 13,
                        2 * 24576 - 1, 3 * 24576 + 5, (1 << 20) + 3}) {
    lengths.push_back(n);
  }
  return lengths;
}

constexpr std::size_t kMaxAlignment = 8;

const AlignedBytes& sharedData() {
  static const AlignedBytes data((1 << 20) + 3 + kMaxAlignment, 0x5EEDC3C2u);
  return data;
}

// Reference checksums of sharedData() for [alignment][length index], computed once for all
// paths (the bitwise reference is slow).
const std::vector<std::vector<uint32_t>>& referenceTable() {
  static const std::vector<std::vector<uint32_t>> table = [] {
    const auto lengths = interestingLengths();
    std::vector<std::vector<uint32_t>> t(kMaxAlignment);
    for (std::size_t a = 0; a < kMaxAlignment; ++a) {
      for (std::size_t n : lengths) t[a].push_back(referenceCrc(0, sharedData().base() + a, n));
    }
    return t;
  }();
  return table;
}

using CrcFunction = uint32_t (*)(uint32_t, const void*, uint64_t);

struct CrcPath {
  const char* name;
  CrcFunction crc;
  bool needsSse42;
};

void PrintTo(const CrcPath& path, std::ostream* os) {
  *os << path.name;
}

const CrcPath kPaths[] = {
    {"Software", &Crc32cSoftware, false},
    {"Hardware", &Crc32cHardware, true},
    {"Dispatch", &Crc32c, false},
};

class Crc32cPathTest : public ::testing::TestWithParam<CrcPath> {
 protected:
  void SetUp() override {
    if (GetParam().needsSse42 && !Crc32cUseHardware) GTEST_SKIP() << "CPU without SSE4.2";
  }
  uint32_t crc(uint32_t previous, const void* data, uint64_t length) const {
    return GetParam().crc(previous, data, length);
  }
};

std::vector<uint8_t> bytesOf(const std::string& s) {
  return {s.begin(), s.end()};
}

std::vector<uint8_t> iota32(bool ascending) {
  std::vector<uint8_t> v(32);
  for (int i = 0; i < 32; ++i) v[i] = static_cast<uint8_t>(ascending ? i : 31 - i);
  return v;
}

TEST_P(Crc32cPathTest, PublishedVectors) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t expected;
  };
  // The check value of the CRC catalogue, and the iSCSI test patterns of RFC 3720 B.4.
  const Case cases[] = {
      {"123456789", bytesOf("123456789"), 0xE3069283u},
      {"abc", bytesOf("abc"), 0x364B3FB7u},
      {"32 x 0x00", std::vector<uint8_t>(32, 0x00), 0x8A9136AAu},
      {"32 x 0xFF", std::vector<uint8_t>(32, 0xFF), 0x62A8AB43u},
      {"0..31", iota32(true), 0x46DD794Eu},
      {"31..0", iota32(false), 0x113FDB5Cu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(referenceCrc(0, c.bytes.data(), c.bytes.size()), c.expected);  // the oracle
    EXPECT_EQ(crc(0, c.bytes.data(), c.bytes.size()), c.expected);
  }
}

TEST_P(Crc32cPathTest, EmptyInputReturnsPrevious) {
  const uint8_t byte = 0x42;
  for (uint32_t previous : {0u, 1u, 0xE3069283u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_EQ(crc(previous, &byte, 0), previous);
    EXPECT_EQ(crc(previous, nullptr, 0), previous);
  }
}

// Chaining over two pieces equals one call, whatever the split (small buffer: every split) and
// wherever the split falls relative to the hardware path's blocks (large buffer).
TEST_P(Crc32cPathTest, ChainingEqualsOneCall) {
  const auto small = randomBytes(1800, 7);
  const uint32_t smallWhole = crc(0, small.data(), small.size());
  EXPECT_EQ(smallWhole, referenceCrc(0, small.data(), small.size()));
  for (std::size_t split = 0; split <= small.size(); ++split) {
    const uint32_t first = crc(0, small.data(), split);
    ASSERT_EQ(crc(first, small.data() + split, small.size() - split), smallWhole)
        << "split at " << split;
  }

  const auto large = randomBytes(3 * 24576 + 800, 8);
  const uint32_t largeWhole = crc(0, large.data(), large.size());
  EXPECT_EQ(largeWhole, referenceCrc(0, large.data(), large.size()));
  for (std::size_t split : {1, 7, 8, 9, 255, 256, 767, 768, 769, 8191, 8192, 24575, 24576, 24577,
                            24576 + 768, 49152, 2 * 24576 + 1, 3 * 24576, 3 * 24576 + 799}) {
    const uint32_t first = crc(0, large.data(), split);
    EXPECT_EQ(crc(first, large.data() + split, large.size() - split), largeWhole)
        << "split at " << split;
  }

  // Three pieces, "123" + "456" + "789".
  const char* digits = "123456789";
  uint32_t c = crc(0, digits, 3);
  c = crc(c, digits + 3, 3);
  EXPECT_EQ(crc(c, digits + 6, 3), 0xE3069283u);
}

TEST_P(Crc32cPathTest, MatchesReferenceAtEveryAlignmentAndLength) {
  const auto lengths = interestingLengths();
  const auto& expected = referenceTable();
  for (std::size_t a = 0; a < kMaxAlignment; ++a) {
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      ASSERT_EQ(crc(0, sharedData().base() + a, lengths[i]), expected[a][i])
          << "alignment " << a << ", length " << lengths[i];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Crc32cPathTest, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<CrcPath>& param) {
                           return std::string(param.param.name);
                         });

// The two implementations side by side, continuing from arbitrary previous checksums.
TEST(Crc32cTest, HardwareEqualsSoftwareFromAnyPrevious) {
  if (!Crc32cUseHardware) GTEST_SKIP() << "CPU without SSE4.2";
  std::mt19937 rng(99);
  const auto lengths = interestingLengths();
  for (std::size_t a = 0; a < kMaxAlignment; ++a) {
    for (std::size_t n : lengths) {
      const uint32_t previous = static_cast<uint32_t>(rng());
      const uint8_t* p = sharedData().base() + a;
      ASSERT_EQ(Crc32cHardware(previous, p, n), Crc32cSoftware(previous, p, n))
          << "alignment " << a << ", length " << n << ", previous " << previous;
    }
  }
}

// The start-up initialiser ran before main() and recorded the probe's answer.
TEST(Crc32cTest, DispatchFlagFollowsCpuProbe) {
  EXPECT_EQ(Crc32cUseHardware, platform::cpuHasSse42());
}

// Every byte table entry against its definition: t[k][n] is the register n run through k + 1
// zero bytes (n itself occupies the first one).
TEST(Crc32cTablesTest, ByteTablesFollowDefinition) {
  const uint8_t zeros[16] = {};
  for (int k = 0; k < 16; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      ASSERT_EQ(detail::kByteTables.t[k][n], referenceRegister(n, zeros, k + 1))
          << "table " << k << ", index " << n;
    }
  }
}

// The shift tables are the "append N zero bytes" map: checked against the bitwise register on
// random registers, which covers every entry's contribution in combination.
TEST(Crc32cTablesTest, ShiftTablesAppendZeroBytes) {
  struct Case {
    const char* name;
    const detail::ShiftTables& tables;
    std::size_t zeroBytes;
  };
  const Case cases[] = {{"long", detail::kLongShift, detail::kLongBlock},
                        {"short", detail::kShortShift, detail::kShortBlock}};
  const std::vector<uint8_t> zeros(detail::kLongBlock, 0);
  std::mt19937 rng(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> registers = {1u, 0x80u, 0x8000u, 0x800000u, 0x80000000u, 0xFFFFFFFFu};
    for (int i = 0; i < 64; ++i) registers.push_back(static_cast<uint32_t>(rng()));
    for (uint32_t r : registers) {
      const auto& t = c.tables.t;
      const uint32_t shifted =
          t[0][r & 0xFF] ^ t[1][(r >> 8) & 0xFF] ^ t[2][(r >> 16) & 0xFF] ^ t[3][r >> 24];
      EXPECT_EQ(shifted, referenceRegister(r, zeros.data(), c.zeroBytes)) << "register " << r;
    }
  }
}

TEST(Crc32cTablesTest, TellingValues) {
  struct Case {
    const char* name;
    uint32_t actual;
    uint32_t expected;
  };
  const Case cases[] = {
      {"T0[1]", detail::kByteTables.t[0][1], 0xF26B8303u},
      {"T0[128]", detail::kByteTables.t[0][128], 0x82F63B78u},
      {"T0[255]", detail::kByteTables.t[0][255], 0xAD7D5351u},
      {"T15[1]", detail::kByteTables.t[15][1], 0xF20C0DFEu},
      {"long 0[1]", detail::kLongShift.t[0][1], 0xE040E0ACu},
      {"long 3[128]", detail::kLongShift.t[3][128], 0x28461564u},
      {"short 0[1]", detail::kShortShift.t[0][1], 0xDCB17AA4u},
      {"short 3[128]", detail::kShortShift.t[3][128], 0x88E56F72u},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

// Many threads checksumming the same buffer at once get the single-threaded results (and give
// ThreadSanitizer something to look at).
TEST(Crc32cTest, ConcurrentCallsAgree) {
  const AlignedBytes data(256 * 1024 + 16, 11);
  constexpr int kThreads = 6;
  constexpr int kRounds = 20;
  std::vector<uint32_t> expected(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    expected[t] = Crc32cSoftware(0, data.base() + t, data.size() - 16);
  }
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        if (Crc32c(0, data.base() + t, data.size() - 16) != expected[t]) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace tamzel
