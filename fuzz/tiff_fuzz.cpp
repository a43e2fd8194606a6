// TIFF sources through the real file path. An input whose first byte is odd
// is the whole file; otherwise the rest follows an 8-byte header, little- or
// big-endian by the first byte's second bit, whose directory sits at offset
// 8, so that the fuzzer spends its time in the directory.
#include <cstdint>
#include <string>

#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  if (size < 1) return 0;
  std::string bytes;
  if (!(data[0] & 1))
    bytes = (data[0] & 2) ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".tif");
  Source source;
  if (!source.Open(path)) return 0;
  fuzz::ExerciseSource(source);
  return 0;
}
