// The base of the readers that decode the whole image at open (JPEG, ECW):
// every cell read is then a lookup in one block of memory.
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
  // Decoded sources are read only.
  bool SetCell(uint32_t, uint32_t, uint32_t, float) override { return false; }

  uint32_t GetBands() override { return Bands; }
  uint32_t GetLines() override { return Lines; }
  uint32_t GetWidth() override { return Width; }
  uint8_t GetCellType() override { return CellType; }
  uint8_t IsMSBFirst() override { return 0; }
  bool SetGeoreference(const Georeference&) override { return false; }

  // The decoded image, top line first: `Lines` lines of `LineSize` bytes,
  // each `Width` pixels of `Bands` interleaved bytes, padded to a multiple
  // of 4 bytes.
  std::unique_ptr<uint8_t[]> ImageBuffer;
};

}  // namespace clipra
