// Windows bitmaps: the reader of uncompressed 8-bit palette and 24-bit
// images, and the writer of bottom-up 8-bit grey and 24-bit images, each
// with a ".bmpw" world file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataset/output.h"
#include "dataset/source.h"

namespace clipra {

class ControlPointList;

namespace bmp {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kCoreHeaderSize = 12;

enum class HeaderKind { kNone, kInfo, kCore, kRejected };

struct Colour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

}  // namespace bmp

class BmpReader : public RasterReader {
 public:
  BmpReader();
  ~BmpReader() override;

  // Makes the stored row of image line `y` current; the band plays no part.
  bool SeekLine(uint32_t y, uint32_t band) override;
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  const uint8_t* CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count) override;
  bool SetCell(uint32_t, uint32_t, uint32_t, float) override { return false; }

  bool Open(const std::string& file_name) override;
  uint32_t GetBands() override { return ExposedBands; }
  uint32_t GetLines() override { return Lines; }
  uint32_t GetWidth() override { return PixelWidth; }
  CellType GetCellType() override;
  uint8_t IsMSBFirst() override { return 0; }

  uint16_t PixelWidth = 0;
  uint64_t Stride = 0;
  uint32_t PixelBytes = 0;
  uint32_t PixelOffset = 0;
  // Rows are stored top line first (a negative height in the header).
  bool TopDown = false;
  bmp::HeaderKind HeaderKind = bmp::HeaderKind::kNone;
  std::string TypeDetail;
  uint16_t PaletteCount = 0;
  std::vector<bmp::Colour> Palette;
  bool GreyPalette = false;
  uint16_t ExposedBands = 0;
  // The file header, and the information header with the palette.
  std::vector<uint8_t> FileHeader;
  std::vector<uint8_t> InfoHeader;

 private:
  bool Fail(uint32_t status, const std::string& text);
  // Parses the information header and the palette; false with a status.
  bool ParseInfoHeader();
  void ReadBmpWorldFile(const std::string& file_name);
};

class BmpError : public WriterError {
 public:
  using WriterError::WriterError;
};

class BmpWriter : public RasterWriter {
 public:
  // Creates the file at its full size with headers and palette. Raises
  // BmpError.
  BmpWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
            int32_t bands, uint8_t mode);
  ~BmpWriter() override;

  bool GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, double value) override;
  bool Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) override;
  // Samples are interleaved by pixel, so no line of one band is contiguous.
  uint8_t* LineAddress(uint16_t, uint16_t) override { return nullptr; }
  bool StoredIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) override {
    return PixelIndex(x, y, band, index);
  }
  bool StoresByIndex() const override { return true; }

  uint32_t GetWidth() override { return pixel_width_; }
  uint32_t GetLines() override { return Lines; }
  uint16_t GetBands() override { return static_cast<uint16_t>(Bands); }
  Georeference GetGeoreference() override { return georef_; }
  void SetGeoreference(const Georeference& georef) override;
  ControlPointList* GetControlPoints() override { return control_points_.get(); }

 private:
  bool PixelIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) const;

  Georeference georef_;
  std::unique_ptr<ControlPointList> control_points_;
  uint16_t pixel_width_ = 0;
  uint16_t bit_count_ = 0;
  uint32_t palette_count_ = 0;
  uint32_t palette_bytes_ = 0;
  uint32_t stride_ = 0;
  uint64_t image_size_ = 0;
};

}  // namespace clipra
