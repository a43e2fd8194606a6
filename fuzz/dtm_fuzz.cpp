// DTM grids through the real file path. An input whose first byte is odd is
// the whole file; otherwise the rest follows the six signature floats, so
// that the fuzzer spends its time behind the signature.
#include <cstdint>
#include <string>

#include "dataset/byte_order.h"
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
  if (data[0] & 1) {
    bytes.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    char signature[24];
    const float values[6] = {-1, -1, 0, 0, -1, -1};
    for (int i = 0; i < 6; ++i) write_le<float>(signature + 4 * i, values[i]);
    bytes.assign(signature, sizeof signature);
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".dtm");
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
      r.GetCell(x, y, 0, v);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      source.GetValue(0, v, mx, my, 0);
      source.GetValue(0, v, mx + 0.3, my - 0.7, 1);
    }
  }
  return 0;
}
