#include "formats/image/decoded_image.h"

#include "dataset/identify.h"

namespace clipra {

namespace {

bool InPart(const DecodedImageReader& r, uint32_t x, uint32_t y) {
  if (!r.ImageBuffer) return false;
  if (r.PartLineSize == 0) return true;
  return x >= r.PartLeft && x < r.PartRight && y >= r.PartTop && y - r.PartTop < r.PartLines;
}

}  // namespace

bool DecodedImageReader::Prepare(uint32_t /*x*/, uint32_t /*y*/) {
  return ImageBuffer != nullptr;
}

const uint8_t* DecodedImageReader::Pixel(uint32_t x, uint32_t y) {
  if (!InPart(*this, x, y) && (!Prepare(x, y) || !InPart(*this, x, y))) return nullptr;
  if (PartLineSize == 0) return ImageBuffer.get() + uint64_t{y} * LineSize + uint64_t{x} * Bands;
  return ImageBuffer.get() + uint64_t{y - PartTop} * PartLineSize + uint64_t{x - PartLeft} * Bands;
}

bool DecodedImageReader::SeekLine(uint32_t line, uint32_t /*band*/) {
  if (line >= Lines || Width == 0) return false;
  const uint8_t* p = Pixel(PartLineSize == 0 ? 0 : PartLeft, line);
  if (!p) return false;
  Current = const_cast<uint8_t*>(p);
  return true;
}

const uint8_t* DecodedImageReader::CellRun(uint32_t line, uint32_t band, uint64_t& step,
                                           uint32_t& count) {
  uint32_t begin = 0;
  const uint8_t* run = CellSpan(line, band, step, begin, count);
  return run && begin == 0 ? run : nullptr;
}

const uint8_t* DecodedImageReader::CellSpan(uint32_t line, uint32_t band, uint64_t& step,
                                            uint32_t& begin, uint32_t& end) {
  if (Bands == 0 || line >= Lines || Width == 0) return nullptr;
  if (band >= Bands) band = Bands - 1;
  begin = PartLineSize == 0 ? 0 : PartLeft;
  const uint8_t* p = Pixel(begin, line);
  if (!p) return nullptr;
  // Decoding may have replaced the part.
  begin = PartLineSize == 0 ? 0 : PartLeft;
  end = PartLineSize == 0 ? Width : PartRight;
  step = Bands;
  return Pixel(begin, line) + band;
}

bool DecodedImageReader::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  value = 0;
  if (Bands == 0) return false;
  if (band >= Bands) band = Bands - 1;
  if (x >= Width || y >= Lines) return false;
  const uint8_t* p = Pixel(x, y);
  if (!p) return false;
  Current = const_cast<uint8_t*>(p) + band;
  value = *Current;
  return true;
}

}  // namespace clipra
