// JPEG sources through the real file path. Inputs are taken as they come
// when they start like a JPEG; others get the start-of-image marker in
// front, so that the fuzzer spends its time in the decoder.
#include <cstdint>
#include <string>

#include "dataset/source.h"
#include "formats/image/jpeg.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  // Headers may promise 65500 x 65500 colour pixels; keep decodes within
  // what the fuzzer allows one process.
  SetJpegMemoryLimit(uint64_t{256} << 20);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) bytes.insert(0, "\xFF\xD8");
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".jpg");
  Source source;
  if (!source.Open(path)) return 0;
  fuzz::ExerciseSource(source);
  return 0;
}
