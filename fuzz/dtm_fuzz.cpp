// DTM grids through the real file path. An input whose first byte is odd is
// the whole file; otherwise the rest follows the six signature floats, so
// that the fuzzer spends its time behind the signature.
#include <cstdint>
#include <string>

#include "dataset/byte_order.h"
#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

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
  Source source;
  if (!source.Open(path)) return 0;
  fuzz::ExerciseSource(source);
  return 0;
}
