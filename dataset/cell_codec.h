// Conversion between stored cells and numbers, shared by the reading and the
// writing buffered files. Bit cells are the writers' own affair.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

// The value of the cell at `p`: types 1 to 6; any other type reads 0.
inline double DecodeCell(const uint8_t* p, CellType cell_type, bool lsb_first) {
  switch (cell_type) {
    case CellType::kUnsigned8:
      return *p;
    case CellType::kSigned8:
      return static_cast<int8_t>(*p);
    case CellType::kSigned16:
      return read_ordered<int16_t>(p, lsb_first);
    case CellType::kUnsigned16:
      return read_ordered<uint16_t>(p, lsb_first);
    case CellType::kSigned32:
      return read_ordered<int32_t>(p, lsb_first);
    case CellType::kFloat32:
      return read_ordered<float>(p, lsb_first);
    default:
      return 0;
  }
}

// Stores `value` at `p`. Integer cells take the low bits of the value rounded
// to nearest, ties to even, without clamping (256 in a byte is 0, -1 is 255);
// a value that is not a number stores 0. Other types store nothing.
inline void EncodeCell(uint8_t* p, CellType cell_type, double value, bool lsb_first) {
  int64_t v = 0;
  switch (cell_type) {
    case CellType::kUnsigned8:
    case CellType::kSigned8:
    case CellType::kSigned16:
    case CellType::kUnsigned16:
    case CellType::kSigned32:
      if (!RoundToInt64(value, v)) v = 0;
      break;
    case CellType::kFloat32:
      write_ordered<float>(p, static_cast<float>(value), lsb_first);
      return;
    default:
      return;
  }
  if (cell_type == CellType::kUnsigned8 || cell_type == CellType::kSigned8)
    *p = static_cast<uint8_t>(v);
  else if (cell_type == CellType::kSigned32)
    write_ordered<uint32_t>(p, static_cast<uint32_t>(v), lsb_first);
  else
    write_ordered<uint16_t>(p, static_cast<uint16_t>(v), lsb_first);
}

// The no-data value that cells of `cell_type` hold for `value`, adjusted as
// GDAL adjusts one to a band's type: integer cells round to nearest (ties to
// even) and clamp to their range, float cells clamp finite values to the
// float range. None for a value that is not a number in integer cells, and
// for cells that hold no plain number (bits, packed colours, point pairs).
inline std::optional<double> FitNoData(double value, CellType cell_type) {
  double low = 0, high = 0;
  switch (cell_type) {
    case CellType::kUnsigned8:
      high = 255;
      break;
    case CellType::kSigned8:
      low = -128;
      high = 127;
      break;
    case CellType::kSigned16:
      low = -32768;
      high = 32767;
      break;
    case CellType::kUnsigned16:
      high = 65535;
      break;
    case CellType::kSigned32:
      low = -2147483648.0;
      high = 2147483647.0;
      break;
    case CellType::kFloat32: {
      const double most = std::numeric_limits<float>::max();
      if (std::isfinite(value) && std::fabs(value) > most) return value < 0 ? -most : most;
      return value;
    }
    case CellType::kFloat64:
      return value;
    default:
      return std::nullopt;
  }
  if (std::isnan(value)) return std::nullopt;
  if (value <= low) return low;
  if (value >= high) return high;
  return static_cast<double>(RoundHalfEven(value)) + 0.0;  // never -0
}

}  // namespace clipra
