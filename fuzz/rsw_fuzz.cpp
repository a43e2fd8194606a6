// RSW rasters through the real file path. Inputs that do not start with the
// signature get it in front, so that the fuzzer spends its time behind it.
#include <cstdint>
#include <string>

#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.compare(0, 3, "RSW") != 0) bytes.insert(0, "RSW");
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".rsw");
  Source source;
  if (!source.Open(path)) return 0;
  fuzz::ExerciseSource(source);
  return 0;
}
