// Feeds arbitrary bytes as a sheet list, and the same bytes as a grid's
// name pattern.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<clipra::Sheet> sheets;
  std::string error;
  if (clipra::ParseSheetList(text, "dir/", sheets, error)) {
    for (const clipra::Sheet& sheet : sheets)
      if (sheet.Path.empty() || sheet.Number == 0) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();
  }
  std::string name;
  clipra::ExpandPattern(text, 3, 4, 1e300, -0.5, name);
  return 0;
}
