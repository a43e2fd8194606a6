// VEG rasters: a five-line ".dat" text header beside a ".veg" file of
// 250 x 250 cell tiles, any of which may be absent. Read only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/header/keyword_header.h"

namespace clipra {

namespace veg {
inline constexpr uint32_t kTileCells = 250;
inline constexpr uint32_t kCellBytes = 6;  // signed 16-bit code, then the float value
inline constexpr uint32_t kRowBytes = kTileCells * kCellBytes;
inline constexpr uint32_t kTileBytes = kTileCells * kRowBytes;  // 375,000
inline constexpr uint64_t kIndexOffset = 4;
inline constexpr uint64_t kIndexEntryBytes = 8;
inline constexpr float kNoData = -9999.0f;
}  // namespace veg

// The ".dat" header: bottom line's Y, left edge's X, cell size, highest tile
// row, highest tile column, one per line.
class VegHeader : public KeywordHeader {
 public:
  VegHeader();
  // False when the file is missing or cut short, or a tile count is not an integer.
  bool Read(const std::string& file_name) override;
  // There is no VEG writer.
  bool Write(const std::string& /*file_name*/) override { return false; }

  double BottomY = 0;
  int32_t TileRowMax = 0;
  int32_t TileColMax = 0;
};

class VegReader : public HeaderRasterReader {
 public:
  VegReader();
  // The tiles are the ".veg" file, the header the ".dat" file beside it.
  void SetFileName(const std::string& file_name) override;
  bool Open(const std::string& file_name) override;
  bool HasPlainLayout() const override { return false; }
  std::optional<double> NoData() override { return veg::kNoData; }
  // A cell inside the raster without data (an absent tile, or a stored
  // -9999) answers true with -9999, so that the value reaches the output.
  // A cell outside the raster, or one whose tile the file does not hold
  // whole, answers false with -9999.
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, float value) override;

  // File offset of each tile, tile row 0 (the bottom one) first; 0 for an
  // absent tile. Entries past the end of a truncated index are left out.
  std::vector<uint32_t> TileTable;

 private:
  VegHeader& Veg() { return static_cast<VegHeader&>(*Header); }
};

}  // namespace clipra
