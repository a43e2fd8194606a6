// NOG header records and data files built from one input, opened through
// the reading facade as a source is. The first two input bytes give the
// header file's length; a set top bit pads it with zeros to a whole record,
// so that both short and complete records are explored. The rest of the
// input is the data file.
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/source.h"
#include "formats/header/nog.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  static fuzz::ScratchFolder dir;
  if (size < 2) return 0;
  const bool pad = (data[1] & 0x80) != 0;
  size_t header_size = data[0] | (size_t{data[1] & 0x7Fu} << 8);
  if (header_size > size - 2) header_size = size - 2;
  const char* p = reinterpret_cast<const char*>(data + 2);
  std::string header(p, header_size);
  if (pad && header.size() < nog::kRecordSize) header.resize(nog::kRecordSize, '\0');
  const std::string header_path = dir.Write("f.001", header);
  dir.Write("f.002", std::string(p + header_size, size - 2 - header_size));

  Source set;
  if (!set.Open(header_path)) {
    if (set.GetErrorText().empty()) std::abort();  // every failure says why
    return 0;
  }
  fuzz::ExerciseSource(set);
  return 0;
}
