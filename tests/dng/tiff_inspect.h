// A deliberately simple TIFF reader for looking at files in tests, written apart from the
// program's own reader so that the tests do not check the program against itself. It trusts
// nothing: every access is checked, and a bad file gives an empty result.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tamzel::testing {

struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t at = 0;             // file offset of the 12-byte entry
  uint32_t field = 0;          // the value field as a 32-bit number
  bool outOfLine = false;      // value bytes are at `field`
  std::vector<uint8_t> value;  // the value's bytes, in file order
};

struct TiffIfd {
  bool ok = false;
  uint32_t offset = 0;
  uint32_t next = 0;
  std::vector<TiffEntry> entries;
  const TiffEntry* find(uint16_t tag) const {
    for (const TiffEntry& e : entries) {
      if (e.tag == tag) return &e;
    }
    return nullptr;
  }
};

class TiffFile {
 public:
  explicit TiffFile(const std::vector<uint8_t>& bytes) : b_(bytes) {
    ok_ = b_.size() >= 8 && ((b_[0] == 'I' && b_[1] == 'I') || (b_[0] == 'M' && b_[1] == 'M'));
    big_ = ok_ && b_[0] == 'M';
    ok_ = ok_ && u16(2) == 42;
  }
  bool ok() const { return ok_; }
  bool bigEndian() const { return big_; }
  uint32_t firstIfd() const { return u32(4); }

  uint16_t u16(uint64_t at) const {
    if (at + 2 > b_.size()) return 0;
    return big_ ? static_cast<uint16_t>(b_[at] << 8 | b_[at + 1])
                : static_cast<uint16_t>(b_[at] | b_[at + 1] << 8);
  }
  uint32_t u32(uint64_t at) const {
    if (at + 4 > b_.size()) return 0;
    return big_ ? (uint32_t{u16(at)} << 16) | u16(at + 2) : u16(at) | (uint32_t{u16(at + 2)} << 16);
  }

  static uint32_t typeSize(uint16_t type) {
    static const uint8_t sizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type <= 12 ? sizes[type] : 0;
  }

  TiffIfd ifd(uint32_t offset) const {
    TiffIfd r;
    r.offset = offset;
    const uint16_t n = u16(offset);
    if (uint64_t{offset} + 2 + 12ull * n + 4 > b_.size()) return r;
    for (uint32_t i = 0; i < n; ++i) {
      TiffEntry e;
      e.at = uint64_t{offset} + 2 + 12ull * i;
      e.tag = u16(e.at);
      e.type = u16(e.at + 2);
      e.count = u32(e.at + 4);
      e.field = u32(e.at + 8);
      const uint64_t size = uint64_t{typeSize(e.type)} * e.count;
      e.outOfLine = size > 4;
      const uint64_t from = e.outOfLine ? e.field : e.at + 8;
      if (from + size > b_.size()) return r;
      e.value.assign(b_.begin() + static_cast<std::ptrdiff_t>(from),
                     b_.begin() + static_cast<std::ptrdiff_t>(from + size));
      r.entries.push_back(e);
    }
    r.next = u32(uint64_t{offset} + 2 + 12ull * n);
    r.ok = true;
    return r;
  }

  // The numbers of a BYTE, SHORT or LONG entry.
  std::vector<uint64_t> numbers(const TiffEntry& e) const {
    std::vector<uint64_t> v;
    const uint32_t size = typeSize(e.type);
    for (uint32_t i = 0; size != 0 && i < e.count && (i + 1) * size <= e.value.size(); ++i) {
      const uint8_t* p = e.value.data() + i * size;
      uint64_t x = 0;
      if (size == 1) {
        x = p[0];
      } else if (size == 2) {
        x = big_ ? (p[0] << 8 | p[1]) : (p[0] | p[1] << 8);
      } else {
        for (uint32_t k = 0; k < 4; ++k) x |= uint64_t{p[big_ ? k : 3 - k]} << (8 * (3 - k));
      }
      v.push_back(x);
    }
    return v;
  }
  uint64_t number(const TiffIfd& ifd, uint16_t tag, uint64_t fallback = UINT64_MAX) const {
    const TiffEntry* e = ifd.find(tag);
    if (e == nullptr) return fallback;
    std::vector<uint64_t> v = numbers(*e);
    return v.empty() ? fallback : v[0];
  }

 private:
  const std::vector<uint8_t>& b_;
  bool ok_ = false;
  bool big_ = false;
};

// Patches a 32-bit number into a file in its byte order.
inline void patch32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<uint8_t>(value >> (bigEndian ? 24 - 8 * i : 8 * i));
  }
}
inline void patch16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value, bool bigEndian) {
  bytes[at] = static_cast<uint8_t>(bigEndian ? value >> 8 : value);
  bytes[at + 1] = static_cast<uint8_t>(bigEndian ? value : value >> 8);
}

}  // namespace tamzel::testing
