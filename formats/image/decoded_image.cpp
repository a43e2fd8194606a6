#include "formats/image/decoded_image.h"

#include "dataset/identify.h"

namespace clipra {

bool DecodedImageReader::SeekLine(uint32_t line, uint32_t /*band*/) {
  if (line >= Lines || !ImageBuffer) return false;
  Current = ImageBuffer.get() + uint64_t{line} * LineSize;
  return true;
}

const uint8_t* DecodedImageReader::CellRun(uint32_t line, uint32_t band, uint64_t& step,
                                           uint32_t& count) {
  if (!ImageBuffer || Bands == 0 || line >= Lines) return nullptr;
  if (band >= Bands) band = Bands - 1;
  step = Bands;
  count = Width;
  return ImageBuffer.get() + uint64_t{line} * LineSize + band;
}

bool DecodedImageReader::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  value = 0;
  if (!ImageBuffer || Bands == 0) return false;
  if (band >= Bands) band = Bands - 1;
  if (x >= Width || y >= Lines) return false;
  Current = ImageBuffer.get() + uint64_t{y} * LineSize + uint64_t{x} * Bands + band;
  value = *Current;
  return true;
}

}  // namespace clipra
