// NOG rasters: a ".001" file holding a fixed 1,700-byte header record of
// zero-terminated texts, and a ".002" file of raw signed 16-bit cells, least
// significant byte first, one band, top line first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "dataset/output.h"
#include "formats/header/keyword_header.h"

namespace clipra {

class NogError : public WriterError {
 public:
  using WriterError::WriterError;
};

namespace nog {

constexpr size_t kRecordSize = 1700;
// Where each text of the record starts; it ends at the first zero byte.
constexpr size_t kCellSizeOffset = 187;
constexpr size_t kTopYOffset = 289;
constexpr size_t kLeftXOffset = 340;
constexpr size_t kLinesOffset = 612;
constexpr size_t kWidthOffset = 629;

using Record = std::array<uint8_t, kRecordSize>;

// A record holding the five texts, zero bytes elsewhere. The numbers are
// written in the shortest plain decimal form that reads back to the same
// double.
Record MakeRecord(double cell_size, double top_y, double left_x, int32_t lines, int32_t width);
// The text at `offset`, up to the first zero byte or the end of the record.
std::string RecordText(const Record& record, size_t offset);

}  // namespace nog

// The reader family's header. The registration point is the top-left
// corner of cell (0, 0).
class NogHeader : public KeywordHeader {
 public:
  NogHeader();
  // False for a missing, unreadable or short record. Raises ConvertError
  // when the line count or the width is not an integer.
  bool Read(const std::string& file_name) override;
  // Writes a record of the current fields.
  bool Write(const std::string& file_name) override;

  nog::Record Record{};
};

class NogReader : public HeaderRasterReader {
 public:
  NogReader();
  // The header is the given path with ".001", the data file the same with
  // ".002"; each is looked up as a sidecar.
  void SetFileName(const std::string& file_name) override;
  // Reading addresses the header's grid, clipped to the whole lines the data
  // file holds: cells beyond the file read false. A header that describes no
  // cell of the file, or whose counts are not integers, fails the open.
  bool Open(const std::string& file_name) override;
};

// The writer family's header values.
class NogOutputHeader {
 public:
  explicit NogOutputHeader(const std::string& file_name) : FileName(file_name) {}
  // Writes the record of the current values; false on any error.
  bool Write() const;

  std::string FileName;
  // Top-left corner of cell (0, 0).
  double RegX = 0;
  double RegY = 0;
  uint8_t ByteOrder = 0;
  double CellSizeX = 1.0;
  double CellSizeY = 1.0;
  int32_t Bands = 1;
  int32_t Lines = 0;
  int32_t Width = 0;
};

// The writer. Whatever cell type and band count it is given, it stores the
// one layout the reader knows: signed 16-bit cells in one band, top line
// first, so that the plain cell access of its base applies (writes to any
// band land in the one band). Its header record is written at creation,
// at SetGeoreference and when it is freed.
class NogWriter : public RasterWriter {
 public:
  // Raises NogError on every failure. `file_name` names the header (".001"
  // is added when it has no extension); the data file has ".002".
  NogWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
            int32_t bands, uint8_t mode);
  ~NogWriter() override;
  bool StoresByIndex() const override { return true; }

  // The header path (`file_name`, with ".001" added when it has no
  // extension) and the data path (the extension ".002").
  static std::string HeaderPath(const std::string& file_name);
  static std::string DataPath(const std::string& file_name);

  uint32_t GetWidth() override { return static_cast<uint32_t>(header_->Width); }
  uint32_t GetLines() override { return static_cast<uint32_t>(header_->Lines); }
  uint16_t GetBands() override { return static_cast<uint16_t>(header_->Bands); }
  uint8_t IsMSBFirst() override { return 0; }
  // The header's cell sizes and corner, under the fixed names of the
  // format's one system.
  Georeference GetGeoreference() override;
  // Keeps the cell sizes and the top-left corner of cell (0, 0), and
  // rewrites the header record. The format has one cell size: X's is stored.
  void SetGeoreference(const Georeference& georef) override;

 private:
  std::unique_ptr<NogOutputHeader> header_;
};

}  // namespace clipra
