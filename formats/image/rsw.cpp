#include "formats/image/rsw.h"

#include <algorithm>
#include <memory>

#include "dataset/byte_order.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/line_reader.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

// True when `length` bytes at `offset` lie wholly inside a file of `file_size` bytes.
bool InsideFile(uint64_t offset, uint64_t length, uint64_t file_size) {
  return offset <= file_size && length <= file_size - offset;
}

std::string Span(uint64_t offset, uint64_t length) {
  return "(offset " + std::to_string(offset) + ", " + std::to_string(length) + " bytes)";
}

}  // namespace

RswReader::RswReader() {
  SetControlPoints(std::make_unique<ControlPointList>());
}

RswReader::~RswReader() {
  SetControlPoints(nullptr);
}

uint32_t RswReader::HeaderValue(uint32_t offset) const {
  return read_le<uint32_t>(Header + offset);
}

double RswReader::HeaderDouble(uint32_t offset) const {
  return read_le<double>(Header + offset);
}

bool RswReader::Fail(uint32_t code, const std::string& text) {
  LastError = code;
  ErrorText = text;
  Close();
  return false;
}

bool RswReader::Open(const std::string& file_name) {
  FileName = file_name;
  cell_type_ = CellType::kUnsigned8;
  Mode = 0;
  SetByteOrder(false);

  const std::string gcp = FindSidecar(ChangeFileExt(file_name, ".gcp"));
  if (!gcp.empty()) {
    // Control points are an extra; an unreadable list leaves the raster usable.
    try {
      GetControlPoints()->LoadFromFile(gcp);
    } catch (const LineReaderError&) {
    }
  }

  if (!MappedFile::Open(file_name, 0, 0)) {
    const int err = static_cast<int>(LastError);
    return Fail(1, "Open read error " + std::to_string(err) + " " + SystemErrorText(err));
  }
  if (FileSize < rsw::kHeaderSize)
    return Fail(2, "RSW header is incomplete: the file has " + std::to_string(FileSize) +
                       " bytes, the header needs " + std::to_string(rsw::kHeaderSize));
  const uint8_t* header = At(0, rsw::kHeaderSize);
  if (header == nullptr) return Fail(1, "Open read error " + ErrorText);
  std::copy(header, header + rsw::kHeaderSize, Header);

  const uint32_t bits = HeaderValue(rsw::kBitsPerPixel);
  PixelBytes = bits / 8;
  if (PixelBytes != 1 && PixelBytes != 3)
    return Fail(2, "RSW pixels of " + std::to_string(bits) + " bits are not supported");
  tiles_across_ = HeaderValue(rsw::kTilesAcross);
  tile_width_ = HeaderValue(rsw::kTileWidth);
  tile_height_ = HeaderValue(rsw::kTileHeight);
  last_tile_width_ = HeaderValue(rsw::kLastTileWidth);
  if (tile_width_ == 0 || tile_height_ == 0 || tiles_across_ == 0)
    return Fail(2, "RSW tile layout is empty: tile width " + std::to_string(tile_width_) +
                       ", tile height " + std::to_string(tile_height_) + ", tiles across " +
                       std::to_string(tiles_across_));

  // Only palette files read the palette; a 24-bit file may point anywhere.
  const uint32_t palette_offset = HeaderValue(rsw::kPaletteOffset);
  if (InsideFile(palette_offset, rsw::kPaletteSize, FileSize)) {
    const uint8_t* palette = At(palette_offset, rsw::kPaletteSize);
    if (palette == nullptr) return Fail(1, "Open read error " + ErrorText);
    std::copy(palette, palette + rsw::kPaletteSize, Palette);
  } else if (PixelBytes == 1) {
    return Fail(2, "RSW palette " + Span(palette_offset, rsw::kPaletteSize) +
                       " lies outside the file of " + std::to_string(FileSize) + " bytes");
  }

  const uint32_t table_offset = HeaderValue(rsw::kTileTableOffset);
  const uint32_t table_length = HeaderValue(rsw::kTileTableLength);
  if (!InsideFile(table_offset, table_length, FileSize))
    return Fail(2, "RSW tile table " + Span(table_offset, table_length) +
                       " lies outside the file of " + std::to_string(FileSize) + " bytes");
  TileTable.clear();
  if (table_length > 0) {
    const uint8_t* table = At(table_offset, table_length);
    if (table == nullptr) return Fail(1, "Open read error " + ErrorText);
    TileTable.assign(table, table + table_length);
  }

  cell_type_ = CellType::kUnsigned8;
  Width = HeaderValue(rsw::kWidth);
  Lines = HeaderValue(rsw::kLines);
  Bands = 3;
  LineSize = uint64_t{Width} * PixelBytes;
  FirstLine = 0;
  EndLine = -1;

  const double cell_size = HeaderDouble(rsw::kCellSize);
  Georeference& g = Georef();
  g.CellSizeX = cell_size;
  g.CellSizeY = cell_size;
  g.RegX = HeaderDouble(rsw::kLeftX);
  g.RegY = Lines * cell_size + HeaderDouble(rsw::kBottomY);
  LastError = 0;
  return true;
}

bool RswReader::SeekLine(uint32_t /*line*/, uint32_t /*band*/) {
  return false;
}

bool RswReader::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  value = 0;
  if (band > 2) band = 2;
  if (x >= Width || y >= Lines || tile_width_ == 0 || tile_height_ == 0) return false;
  const uint32_t tile_col = x / tile_width_;
  const uint32_t tile_row = y / tile_height_;
  if (tile_col >= tiles_across_) return false;
  const uint64_t entry = (uint64_t{tile_row} * tiles_across_ + tile_col) * rsw::kTileEntrySize;
  if (entry >= TileTable.size() || TileTable.size() - entry < rsw::kTileEntrySize) return false;
  const uint32_t tile_offset = read_le<uint32_t>(TileTable.data() + entry);
  const uint32_t tile_length = read_le<uint32_t>(TileTable.data() + entry + 4);

  // Tiles of the last column hold rows of the last tile width.
  const uint32_t col = x % tile_width_;
  const uint32_t row = y % tile_height_;
  const uint32_t stride = tile_col == tiles_across_ - 1 ? last_tile_width_ : tile_width_;
  if (col >= stride) return false;
  const uint64_t pixel = (uint64_t{row} * stride + col) * PixelBytes;
  if (pixel >= tile_length || tile_length - pixel < PixelBytes) return false;

  Position = tile_offset;
  Need = tile_length;
  if (!MapAt()) return false;
  const uint8_t* p = Current + pixel;
  if (PixelBytes == 3)
    value = p[2 - band];  // stored blue, green, red
  else
    value = Palette[uint32_t{*p} * 4 + band];
  return true;
}

bool RswReader::SetCell(uint32_t, uint32_t, uint32_t, float) {
  return false;
}

bool RswReader::SetGeoreference(const Georeference&) {
  return false;
}

}  // namespace clipra
