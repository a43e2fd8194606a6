// TIFF sources through the real file path. An input whose first byte is odd
// is the whole file; otherwise the rest follows an 8-byte header, little- or
// big-endian by the first byte's second bit, whose directory sits at offset
// 8, so that the fuzzer spends its time in the directory.
#include <cstdint>
#include <string>

#include "dataset/dataset2.h"
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
  if (size < 1) return 0;
  std::string bytes;
  if (!(data[0] & 1))
    bytes = (data[0] & 2) ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".tif");
  TDataSet2 source;
  if (!source.Open(path, 0, 0, 1, 1, 0)) return 0;
  TDataSetRoot2& r = *source.GetReader();
  const uint32_t w = r.GetWidth();
  const uint32_t h = r.GetLines();
  const uint32_t bands = r.GetBands();
  for (uint32_t j = 0; j <= 17; ++j) {
    for (uint32_t i = 0; i <= 17; ++i) {
      const uint32_t x = Sample(w, i);
      const uint32_t y = Sample(h, j);
      for (uint32_t b : {0u, 1u, 2u, bands - 1, bands}) {
        float v = 0;
        r.GetCell(x, y, b, v);
      }
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      float v = 0;
      source.GetValue(0, v, mx, my, 0);
      source.GetValue(bands > 0 ? bands - 1 : 0, v, mx + 0.3, my - 0.7, 1);
    }
  }
  return 0;
}
