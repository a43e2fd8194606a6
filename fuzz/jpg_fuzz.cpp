// JPEG sources through the real file path. Inputs are taken as they come
// when they start like a JPEG; others get the start-of-image marker in
// front, so that the fuzzer spends its time in the decoder.
#include <cstdint>
#include <string>

#include "dataset/dataset2.h"
#include "formats/image/jpg.h"
#include "support/fuzz_file.h"

namespace {

// Columns or lines to sample: the first few, then a spread to the far end.
uint32_t Sample(uint32_t size, uint32_t i) {
  if (i < 8 || size <= 8) return i;
  return static_cast<uint32_t>(uint64_t{size} * (i - 8) / 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  // Headers may promise 65500 x 65500 colour pixels; keep decodes within
  // what the fuzzer allows one process.
  SetJpegMemoryLimit(uint64_t{256} << 20);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) bytes.insert(0, "\xFF\xD8");
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".jpg");
  TDataSet2 source;
  if (!source.Open(path, 0, 0, 1, 1, 0)) return 0;
  TDataSetRoot2& r = *source.GetReader();
  const uint32_t w = r.GetWidth();
  const uint32_t h = r.GetLines();
  for (uint32_t j = 0; j <= 17; ++j) {
    for (uint32_t i = 0; i <= 17; ++i) {
      const uint32_t x = Sample(w, i);
      const uint32_t y = Sample(h, j);
      float v = 0;
      r.GetCell(x, y, j % 4, v);
      r.SeekLine(y, 0);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      source.GetValue(i % 4, v, mx, my, 0);
      source.GetValue(0, v, mx + 0.3, my - 0.7, 1);
    }
  }
  return 0;
}
