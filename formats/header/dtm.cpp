#include "formats/header/dtm.h"

#include <cstdio>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

// The index of the first cell behind the header when the file is read as
// one array of 4-byte cells.
constexpr uint64_t kHeaderCells = dtm::kHeaderSize / dtm::kCellSize;

}  // namespace

DtmHeader::DtmHeader() {
  Bands = 1;
  cell_type_ = CellType::kFloat32;
  MSBFirst = 0;
}

bool DtmHeader::Read(const std::string& file_name) {
  FileName = file_name;
  std::FILE* f = std::fopen(file_name.c_str(), "rb");
  if (!f) {
    Status = 2;
    return false;
  }
  uint8_t b[dtm::kHeaderSize];
  const size_t got = std::fread(b, 1, sizeof b, f);
  const bool read_failed = std::ferror(f) != 0;
  const bool close_failed = std::fclose(f) != 0;
  if (read_failed || close_failed) {
    Status = 2;
    return false;
  }
  if (got < sizeof b) {
    Status = 1;
    return false;
  }
  // Compared as floats, so -0.0 passes for 0.0.
  for (size_t i = 0; i < 6; ++i) {
    if (read_le<float>(b + 4 * i) != dtm::kSignature[i]) {
      Status = 1;
      return false;
    }
  }
  Georef.RegX = read_le<float>(b + dtm::kXOffset);
  Georef.RegY = read_le<float>(b + dtm::kYOffset);
  Width = read_le<int32_t>(b + dtm::kWidthOffset);
  Lines = read_le<int32_t>(b + dtm::kLinesOffset);
  Georef.CellSizeX = read_le<float>(b + dtm::kCellSizeXOffset);
  Georef.CellSizeY = read_le<float>(b + dtm::kCellSizeYOffset);
  CellSkip = read_le<int32_t>(b + dtm::kCellSkipOffset);
  Status = 0;
  return true;
}

DtmReader::DtmReader() {
  Header = std::make_unique<DtmHeader>();
}

void DtmReader::SetFileName(const std::string& file_name) {
  FileName = file_name;
  Header->FileName = file_name;
}

bool DtmReader::Open(const std::string& file_name) {
  SetFileName(file_name);
  DtmHeader& h = Dtm();
  if (!h.Read(h.FileName)) {
    ErrorText = "Header " + ShortenPath(h.FileName, 20) + " reading error ";
    return false;
  }
  if (!MappedFile::Open(FileName, 0, 0)) {
    ErrorText = "Open Map Read Error=" + std::to_string(LastError) + " " +
                SystemErrorText(static_cast<int>(LastError));
    return false;
  }
  // The grid's cells are the indices CellSkip to CellSkip + Width x Lines - 1;
  // at least one of them must lie inside the file.
  cells_in_file_ = FileSize > dtm::kHeaderSize ? (FileSize - dtm::kHeaderSize) / dtm::kCellSize : 0;
  const int64_t first = h.CellSkip;
  const int64_t last = first + int64_t{h.Width} * h.Lines - 1;
  if (h.Width <= 0 || h.Lines <= 0 || cells_in_file_ == 0 || last < 0 ||
      first >= static_cast<int64_t>(cells_in_file_)) {
    ErrorText = "DTM grid " + ShortenPath(FileName, 20) + " holds none of its cells: width " +
                std::to_string(h.Width) + ", lines " + std::to_string(h.Lines) + ", cell skip " +
                std::to_string(h.CellSkip) + " in a file of " + std::to_string(FileSize) + " bytes";
    Close();
    return false;
  }
  cell_type_ = CellType::kFloat32;
  Width = static_cast<uint32_t>(h.Width);
  Lines = static_cast<uint32_t>(h.Lines);
  Bands = 1;
  CellCount = uint64_t{Width} * Lines;
  SetByteOrder(false);
  return true;
}

bool DtmReader::GetCell(uint32_t x, uint32_t y, uint32_t /*band*/, float& value) {
  value = 0;
  if (x >= Width || y >= Lines) return false;
  // Width and y are below 2^31 each, so the index fits easily in 64 bits.
  const int64_t index = int64_t{Dtm().CellSkip} + int64_t{Width} * y + x;
  if (index < 0 || static_cast<uint64_t>(index) >= cells_in_file_) return false;
  const uint8_t* p =
      At(dtm::kHeaderSize + static_cast<uint64_t>(index) * dtm::kCellSize, dtm::kCellSize);
  if (!p) return false;
  value = read_le<float>(p);
  return true;
}

bool DtmReader::SetCell(uint32_t /*x*/, uint32_t /*y*/, uint32_t /*band*/, float /*value*/) {
  // Only a grid created through the reader could be written, and the reader creates none.
  return false;
}

DtmWriter::DtmWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType cell_type, int32_t bands, uint8_t mode) try
    : RasterWriter(file_name, width, lines, cell_type, bands, mode, false) {
  header_ = std::make_unique<DtmOutputHeader>(file_name);
  header_->Lines = lines;
  header_->Width = width;
  header_->Bands = static_cast<uint16_t>(bands);
  // Always float cells, whatever the caller asked for.
  cell_type_ = CellType::kFloat32;
  SetByteOrder(false);
  if (mode != 1) return;
  if (!CreateNew(kHeaderCells + uint64_t{width} * lines))
    throw DtmError("Open map write error=" + std::to_string(LastError()) + " " +
                   SystemErrorText(static_cast<int>(LastError())));
} catch (const MappedOutputError& e) {
  throw DtmError(e.what());
}

uint64_t DtmWriter::GridIndex(uint32_t x, uint32_t y) const {
  return kHeaderCells + uint64_t{header_->Width} * y + x;
}

bool DtmWriter::GetCell(uint32_t x, uint32_t y, uint32_t /*band*/, double& value) {
  value = 0;
  if (x >= header_->Width || y >= header_->Lines) return false;
  return GetValue(GridIndex(x, y), value);
}

bool DtmWriter::SetCell(uint32_t x, uint32_t y, uint32_t /*band*/, double value) {
  if (Mode() != 1) return false;
  if (x >= header_->Width || y >= header_->Lines) return false;
  return SetValue(GridIndex(x, y), value);
}

bool DtmWriter::Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) {
  if (x >= header_->Width || y >= header_->Lines) return false;
  const uint32_t x1 = x + 1u < header_->Width ? x + 1u : x;
  const uint32_t y1 = y + 1u < header_->Lines ? y + 1u : y;
  return GetCell(x, y, band, values[0]) && GetCell(x, y1, band, values[1]) &&
         GetCell(x1, y1, band, values[2]) && GetCell(x1, y, band, values[3]);
}

void DtmWriter::SetGeoreference(const Georeference& georef) {
  // The format has no place for the registration cell or the three strings.
  header_->Width = static_cast<uint16_t>(Width);
  header_->Lines = static_cast<uint16_t>(Lines);
  header_->Georef.CellSizeX = georef.CellSizeX;
  header_->Georef.CellSizeY = georef.CellSizeY;
  header_->Georef.RegX = georef.RegX;
  header_->Georef.RegY = georef.RegY;
  if (Data() == nullptr || !writable_ || FileSize() < dtm::kHeaderSize) return;
  uint8_t* p = Data();
  for (size_t i = 0; i < 6; ++i) write_le<float>(p + 4 * i, dtm::kSignature[i]);
  write_le<float>(p + dtm::kXOffset, static_cast<float>(header_->Georef.RegX));
  write_le<float>(p + dtm::kYOffset, static_cast<float>(header_->Georef.RegY));
  write_le<int32_t>(p + dtm::kWidthOffset, header_->Width);
  write_le<int32_t>(p + dtm::kLinesOffset, header_->Lines);
  write_le<float>(p + dtm::kCellSizeXOffset, static_cast<float>(header_->Georef.CellSizeX));
  write_le<float>(p + dtm::kCellSizeYOffset, static_cast<float>(header_->Georef.CellSizeY));
  write_le<int32_t>(p + dtm::kCellSkipOffset, 0);
}

}  // namespace clipra
