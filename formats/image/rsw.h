// RSW rasters: tiled, uncompressed images of 8-bit palette or 24-bit colour
// pixels behind a 248-byte header, a palette block and a tile table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/source.h"

namespace clipra {

// Header layout: unsigned 32-bit little-endian integers and IEEE doubles at
// fixed offsets.
namespace rsw {
constexpr uint32_t kHeaderSize = 248;
constexpr uint32_t kPaletteSize = 1024;  // 256 entries of red, green, blue, unused
constexpr uint32_t kTileEntrySize = 8;   // offset, length
constexpr uint32_t kBitsPerPixel = 52;
constexpr uint32_t kLines = 56;
constexpr uint32_t kWidth = 60;
constexpr uint32_t kTilesAcross = 64;
constexpr uint32_t kTileWidth = 72;
constexpr uint32_t kTileHeight = 76;
constexpr uint32_t kLastTileWidth = 84;
constexpr uint32_t kPaletteOffset = 96;
constexpr uint32_t kTileTableOffset = 104;
constexpr uint32_t kTileTableLength = 108;
constexpr uint32_t kCellSize = 152;
constexpr uint32_t kBottomY = 160;
constexpr uint32_t kLeftX = 168;
}  // namespace rsw

// Presents three bands (red, green, blue) of unsigned bytes whatever the
// pixel size; cells are reached tile by tile, never by line.
class RswReader : public RasterReader {
 public:
  RswReader();
  ~RswReader() override;

  bool Open(const std::string& file_name) override;

  bool SeekLine(uint32_t line, uint32_t band) override;
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, float value) override;

  uint32_t GetBands() override { return 3; }
  uint32_t GetLines() override { return Lines; }
  uint32_t GetWidth() override { return Width; }
  CellType GetCellType() override { return cell_type_; }
  uint8_t IsMSBFirst() override { return 0; }
  bool SetGeoreference(const Georeference& georef) override;

  uint8_t Header[rsw::kHeaderSize] = {};
  uint8_t Palette[rsw::kPaletteSize] = {};
  std::vector<uint8_t> TileTable;
  uint32_t PixelBytes = 0;

 private:
  uint32_t HeaderValue(uint32_t offset) const;
  double HeaderDouble(uint32_t offset) const;
  bool Fail(uint32_t code, const std::string& text);

  uint32_t tiles_across_ = 0;
  uint32_t tile_width_ = 0;
  uint32_t tile_height_ = 0;
  uint32_t last_tile_width_ = 0;
};

}  // namespace clipra
