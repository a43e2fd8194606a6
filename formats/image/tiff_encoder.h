// The libtiff side of the TIFF writer: compressed GeoTIFFs in 256 x 256
// tiles, with the predictor that suits the cells.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/image/tiff.h"

namespace clipra::tiff {

// Cells as the writer keeps them: little-endian, the bands of each cell
// together, line after line from the top.
struct CellBlock {
  const uint8_t* cells = nullptr;
  uint32_t width = 0;
  uint32_t lines = 0;
  uint32_t bands = 1;
  CellType cell_type = CellType::kOneBit;
};

// Uncompressed cells past this make a compressed output BigTIFF: LZW can
// grow noisy cells by half, so a smaller file could still pass 4 GiB.
constexpr uint64_t kCompressedBigTiffCells = uint64_t{2} << 30;

// Writes `block` to `file_name` as a tiled GeoTIFF with `compression`. The
// file takes its name only once it is complete. False when `stop` (when
// given) answered true between two rows of tiles: nothing is left then.
// Raises TiffWriteError.
bool WriteCompressed(const std::string& file_name, const CellBlock& block,
                     TiffCompression compression, const GeoFields& geo,
                     const std::function<bool()>& stop);

}  // namespace clipra::tiff
