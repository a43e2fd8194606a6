// Conversion between stored cells and numbers, shared by the reading and the
// writing buffered files. Bit cells are the writers' own affair.
#pragma once

#include <cstdint>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

// The value of the cell at `p`: types 1 to 6; any other type reads 0.
inline double DecodeCell(const uint8_t* p, uint8_t cell_type, bool lsb_first) {
  switch (cell_type) {
    case kCellUnsigned8:
      return *p;
    case kCellSigned8:
      return static_cast<int8_t>(*p);
    case kCellSigned16:
      return read_ordered<int16_t>(p, lsb_first);
    case kCellUnsigned16:
      return read_ordered<uint16_t>(p, lsb_first);
    case kCellSigned32:
      return read_ordered<int32_t>(p, lsb_first);
    case kCellFloat32:
      return read_ordered<float>(p, lsb_first);
    default:
      return 0;
  }
}

// Stores `value` at `p`. Integer cells take the low bits of the value rounded
// to nearest, ties to even, without clamping (256 in a byte is 0, -1 is 255);
// a value that is not a number stores 0. Other types store nothing.
inline void EncodeCell(uint8_t* p, uint8_t cell_type, double value, bool lsb_first) {
  int64_t v = 0;
  switch (cell_type) {
    case kCellUnsigned8:
    case kCellSigned8:
    case kCellSigned16:
    case kCellUnsigned16:
    case kCellSigned32:
      if (!RoundToInt64(value, v)) v = 0;
      break;
    case kCellFloat32:
      write_ordered<float>(p, static_cast<float>(value), lsb_first);
      return;
    default:
      return;
  }
  if (cell_type == kCellUnsigned8 || cell_type == kCellSigned8)
    *p = static_cast<uint8_t>(v);
  else if (cell_type == kCellSigned32)
    write_ordered<uint32_t>(p, static_cast<uint32_t>(v), lsb_first);
  else
    write_ordered<uint16_t>(p, static_cast<uint16_t>(v), lsb_first);
}

}  // namespace clipra
