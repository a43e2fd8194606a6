// DTM grids (".dtm"): one band of 32-bit float cells behind a 52-byte binary
// header in the same file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dataset/output.h"
#include "formats/header/keyword_header.h"

namespace clipra {

// The fixed 52-byte header: six signature floats, the map position of the
// top-left corner, the grid size, the cell sizes and the cell skip.
namespace dtm {
inline constexpr uint64_t kHeaderSize = 52;
inline constexpr uint64_t kCellSize = 4;
inline constexpr float kSignature[6] = {-1.0f, -1.0f, 0.0f, 0.0f, -1.0f, -1.0f};
inline constexpr size_t kXOffset = 24;
inline constexpr size_t kYOffset = 28;
inline constexpr size_t kWidthOffset = 32;
inline constexpr size_t kLinesOffset = 36;
inline constexpr size_t kCellSizeXOffset = 40;
inline constexpr size_t kCellSizeYOffset = 44;
inline constexpr size_t kCellSkipOffset = 48;
}  // namespace dtm

class DtmError : public WriterError {
 public:
  using WriterError::WriterError;
};

// The reader family's header, read from the grid file itself.
class DtmHeader : public KeywordHeader {
 public:
  DtmHeader();
  // Status 1 for a short file or a wrong signature, 2 for an I/O failure.
  bool Read(const std::string& file_name) override;
  // The header lives inside the grid; the reader family never writes one.
  bool Write(const std::string& /*file_name*/) override { return false; }

  // Cells added to every cell index.
  int32_t CellSkip = 0;
};

class DtmReader : public HeaderRasterReader {
 public:
  DtmReader();
  void SetFileName(const std::string& file_name) override;
  // Reads the header and maps the grid; grids are created by DtmWriter.
  bool Open(const std::string& file_name) override;
  // Cells sit behind the header and the cell skip, not in the plain layout.
  bool HasPlainLayout() const override { return false; }
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, float value) override;

 private:
  DtmHeader& Dtm() { return static_cast<DtmHeader&>(*Header); }

  // Whole cells between the header and the end of the file.
  uint64_t cells_in_file_ = 0;
};

// The writer family's header: the values the writer puts into the file.
class DtmOutputHeader {
 public:
  explicit DtmOutputHeader(const std::string& file_name) : FileName(file_name) {}

  std::string FileName;
  Georeference Georef = UnnamedGeoreference();
  uint16_t Width = 0;
  uint16_t Lines = 0;
  uint16_t Bands = 1;
  uint8_t ByteOrder = 0;
};

class DtmWriter : public RasterWriter {
 public:
  // Mode 1 creates the file (header all zero until SetGeoreference); other
  // modes create nothing and refuse every cell. Raises DtmError.
  DtmWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
            int32_t bands, uint8_t mode);

  // Cells follow the 52-byte header; callers must not address lines directly.
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, double value) override;
  bool Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) override;
  uint8_t* LineAddress(uint16_t /*line*/, uint16_t /*band*/) override { return nullptr; }

  uint32_t GetWidth() override { return header_->Width; }
  uint32_t GetLines() override { return header_->Lines; }
  uint16_t GetBands() override { return header_->Bands; }
  uint8_t IsMSBFirst() override { return header_->ByteOrder; }
  Georeference GetGeoreference() override { return header_->Georef; }
  // Stores the grid position and writes the file header at once.
  void SetGeoreference(const Georeference& georef) override;

 private:
  // The flat cell index of (x, y): the header counts as the first 13 cells.
  uint64_t GridIndex(uint32_t x, uint32_t y) const;

  std::unique_ptr<DtmOutputHeader> header_;
};

}  // namespace clipra
