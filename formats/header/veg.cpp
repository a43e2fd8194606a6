#include "formats/header/veg.h"

#include <algorithm>
#include <limits>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/line_reader.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

// Lines or cells per line for a highest tile index; 0 when the index is
// negative or the count would not fit the header's 32-bit fields.
int32_t CellsForTiles(int32_t max_index) {
  const int64_t cells = (int64_t{max_index} + 1) * veg::kTileCells;
  if (cells <= 0 || cells > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(cells);
}

// The sidecar of `file_name` with extension `ext`: exact name first, then
// the same name in any letter case.
std::string Sidecar(const std::string& file_name, const std::string& ext) {
  const std::string wanted = ChangeFileExt(file_name, ext);
  const std::string found = FindSidecar(wanted);
  return found.empty() ? wanted : found;
}

}  // namespace

VegHeader::VegHeader() {
  Bands = 1;
  cell_type_ = CellType::kFloat32;
  Georef.CellSizeX = 0;
  Georef.CellSizeY = 0;
}

bool VegHeader::Read(const std::string& file_name) {
  bool ok = true;
  try {
    LineReader reader(file_name);
    std::string text;
    // A header cut short is as unreadable as a missing one.
    auto next_line = [&reader, &text]() {
      if (LineReader::IsEndOfFile(reader.ReadLine(text))) throw LineReaderError("cut short");
      return text;
    };
    BottomY = static_cast<double>(ParseFloatDef(next_line(), 0));
    Georef.RegX = static_cast<double>(ParseFloatDef(next_line(), 0));
    Georef.CellSizeX = static_cast<double>(ParseFloatDef(next_line(), 0));
    Georef.CellSizeY = Georef.CellSizeX;
    int32_t v = 0;
    if (ParseInt32(next_line(), v)) {
      TileRowMax = v;
      Lines = CellsForTiles(v);
    } else {
      TileRowMax = 0;
      ok = false;
    }
    if (ParseInt32(next_line(), v)) {
      TileColMax = v;
      Width = CellsForTiles(v);
    } else {
      TileColMax = 0;
      ok = false;
    }
  } catch (const LineReaderError&) {
    ok = false;
  }
  Status = ok ? 0 : 2;
  Bands = 1;
  cell_type_ = CellType::kFloat32;
  // The top line lies (Lines - 1) cells above the bottom one; a cell size of
  // 0 counts as 1.0 here as it does for every reader.
  const long double cell =
      Georef.CellSizeY == 0 ? 1.0L : static_cast<long double>(Georef.CellSizeY);
  Georef.RegY = static_cast<double>(BottomY + (static_cast<long double>(Lines) - 1) * cell);
  return ok;
}

VegReader::VegReader() {
  Header = std::make_unique<VegHeader>();
}

void VegReader::SetFileName(const std::string& file_name) {
  FileName = Sidecar(file_name, ".veg");
  Header->FileName = Sidecar(file_name, ".dat");
}

bool VegReader::Open(const std::string& file_name) {
  SetFileName(file_name);
  TileTable.clear();
  VegHeader& h = Veg();
  if (!h.Read(h.FileName)) {
    ErrorText = "Error loading header";
    return false;
  }
  if (h.Lines <= 0 || h.Width <= 0) {
    ErrorText = "VEG header " + ShortenPath(h.FileName, 20) +
                " gives tile indices out of range: highest tile row " +
                std::to_string(h.TileRowMax) + ", highest tile column " +
                std::to_string(h.TileColMax);
    return false;
  }
  if (!MappedFile::Open(FileName, 0, 0)) {
    ErrorText = "Open Map Read Error=" + std::to_string(LastError) + " " +
                SystemErrorText(static_cast<int>(LastError));
    return false;
  }
  // Only the part of the tile index inside the file is kept; tiles named by
  // the missing entries cannot be read.
  const uint64_t entries = (uint64_t{static_cast<uint32_t>(h.TileRowMax)} + 1) *
                           (uint64_t{static_cast<uint32_t>(h.TileColMax)} + 1);
  const uint64_t in_file =
      FileSize > veg::kIndexOffset ? (FileSize - veg::kIndexOffset) / veg::kIndexEntryBytes : 0;
  if (in_file == 0) {
    ErrorText = "VEG tile file " + ShortenPath(FileName, 20) +
                " is too short to hold its tile index: " + std::to_string(FileSize) + " bytes";
    Close();
    return false;
  }
  const uint64_t kept = std::min(entries, in_file);
  TileTable.resize(static_cast<size_t>(kept));
  for (uint64_t i = 0; i < kept; ++i) {
    const uint8_t* p = At(veg::kIndexOffset + i * veg::kIndexEntryBytes, 4);
    if (!p) {
      TileTable.resize(static_cast<size_t>(i));
      break;
    }
    TileTable[static_cast<size_t>(i)] = read_le<uint32_t>(p);
  }
  cell_type_ = CellType::kFloat32;
  Width = static_cast<uint32_t>(h.Width);
  Lines = static_cast<uint32_t>(h.Lines);
  Bands = 1;
  CellCount = uint64_t{Width} * Lines;
  SetByteOrder(false);
  return true;
}

bool VegReader::GetCell(uint32_t x, uint32_t y, uint32_t /*band*/, float& value) {
  value = veg::kNoData;
  if (x >= Width || y >= Lines) return false;
  const VegHeader& h = Veg();
  // Tile rows count from the bottom, and so do the rows inside a tile.
  const uint64_t tile_row = static_cast<uint64_t>(h.TileRowMax) - y / veg::kTileCells;
  const uint64_t tile_col = x / veg::kTileCells;
  const uint32_t row_in_tile = veg::kTileCells - 1 - y % veg::kTileCells;
  const uint32_t col_in_tile = x % veg::kTileCells;
  const uint64_t entry = tile_row * (static_cast<uint64_t>(h.TileColMax) + 1) + tile_col;
  if (entry >= TileTable.size()) return false;
  const uint32_t offset = TileTable[static_cast<size_t>(entry)];
  if (offset == 0) return true;  // an absent tile holds no data
  // The whole tile must lie in the file; reads around it then reuse the view.
  const uint8_t* tile = At(offset, veg::kTileBytes);
  if (!tile) return false;
  value = read_le<float>(tile + uint64_t{row_in_tile} * veg::kRowBytes +
                         uint64_t{col_in_tile} * veg::kCellBytes + 2);
  return true;
}

bool VegReader::SetCell(uint32_t /*x*/, uint32_t /*y*/, uint32_t /*band*/, float /*value*/) {
  return false;
}

}  // namespace clipra
