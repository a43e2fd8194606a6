// The base of the readers that decode their image into memory (JPEG, ECW):
// every cell read is then a lookup in one block of memory. A reader may
// decode only part of the image, and may decode it on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dataset/source.h"

namespace clipra {

class DecodedImageReader : public RasterReader {
 public:
  bool SeekLine(uint32_t line, uint32_t band) override;
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  const uint8_t* CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count) override;
  const uint8_t* CellSpan(uint32_t line, uint32_t band, uint64_t& step, uint32_t& begin,
                          uint32_t& end) override;
  // Decoded sources are read only.
  bool SetCell(uint32_t, uint32_t, uint32_t, float) override { return false; }

  uint32_t GetBands() override { return Bands; }
  uint32_t GetLines() override { return Lines; }
  uint32_t GetWidth() override { return Width; }
  CellType GetCellType() override { return cell_type_; }
  uint8_t IsMSBFirst() override { return 0; }
  bool SetGeoreference(const Georeference&) override { return false; }

  // The decoded cells, top line first: lines [PartTop, PartTop + PartLines)
  // of PartLineSize bytes each, every line holding the pixels of columns
  // [PartLeft, PartRight) as `Bands` interleaved bytes. Without a part set
  // (PartLineSize 0) the buffer is the whole image: `Lines` lines of
  // `LineSize` bytes, padded to a multiple of 4 bytes.
  std::unique_ptr<uint8_t[]> ImageBuffer;
  uint32_t PartLeft = 0;
  uint32_t PartRight = 0;
  uint32_t PartTop = 0;
  uint32_t PartLines = 0;
  uint64_t PartLineSize = 0;

 protected:
  // Makes cell (x, y), inside the image, available in ImageBuffer; false
  // when it cannot be decoded. The default decodes nothing.
  virtual bool Prepare(uint32_t x, uint32_t y);

 private:
  // The first byte of pixel (x, y), decoding it first when needed.
  const uint8_t* Pixel(uint32_t x, uint32_t y);
};

}  // namespace clipra
