// OrthoSetData headers of arbitrary text beside a data file, opened through
// the reading facade as a source is. The first two input bytes give the
// header's length; the rest of the input is the data file.
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  static fuzz::ScratchFolder dir;
  if (size < 2) return 0;
  size_t header_size = data[0] | (size_t{data[1]} << 8);
  if (header_size > size - 2) header_size = size - 2;
  const char* p = reinterpret_cast<const char*>(data + 2);
  const std::string header_path = dir.Write("f.osd", std::string(p, header_size));
  dir.Write("f", std::string(p + header_size, size - 2 - header_size));

  Source set;
  if (!set.Open(header_path)) return 0;
  fuzz::ExerciseSource(set);
  return 0;
}
