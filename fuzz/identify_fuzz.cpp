// Identification of arbitrary first bytes, under names with and without an
// extension that decides, and of arbitrary names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dataset/identify.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  for (const char* suffix : {"", ".001", ".veg"}) {
    const FormatCode code = IdentifyExisting(fuzz::WriteFuzzFile(data, size, suffix));
    // The file exists, so the answer is a format or "unknown", and a short
    // file is always unknown.
    if (code > FormatCode::kUnknown || (size < 8 && code != FormatCode::kUnknown)) std::abort();
  }
  const std::string name(reinterpret_cast<const char*>(data), size);
  if (IdentifyForCreate(name) > FormatCode::kUnknown) std::abort();
  return 0;
}
