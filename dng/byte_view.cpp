#include <cstring>

#include "dng/dng.h"

namespace tamzel {

bool ByteView::readU8(uint64_t offset, uint8_t& out) const {
  if (!contains(offset, 1)) return false;
  out = data_[offset];
  return true;
}

bool ByteView::readRaw16(uint64_t offset, uint16_t& out) const {
  if (!contains(offset, 2)) return false;
  std::memcpy(&out, data_ + offset, 2);
  return true;
}

bool ByteView::readRaw32(uint64_t offset, uint32_t& out) const {
  if (!contains(offset, 4)) return false;
  std::memcpy(&out, data_ + offset, 4);
  return true;
}

bool ByteView::read16(uint64_t offset, const ByteOrder& order, uint16_t& out) const {
  uint16_t raw = 0;
  if (!readRaw16(offset, raw)) return false;
  out = order.convert16(raw);
  return true;
}

bool ByteView::read32(uint64_t offset, const ByteOrder& order, uint32_t& out) const {
  uint32_t raw = 0;
  if (!readRaw32(offset, raw)) return false;
  out = order.convert32(raw);
  return true;
}

}  // namespace tamzel
