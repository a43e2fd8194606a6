// Number parsing of arbitrary text: never throws, and answers either the
// default or a finite value; an accepted integer prints back to itself, and
// so does an accepted no-data value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dataset/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const long double v = ParseFloatDef(text, NAN);
  if (!std::isnan(v) && !std::isfinite(v)) std::abort();
  if (ParseFloatDef(text, 7) != (std::isnan(v) ? 7 : v)) std::abort();
  int32_t n = 0;
  if (ParseInt32(text, n)) {
    int32_t again = 0;
    if (!ParseInt32(std::to_string(n), again) || again != n) std::abort();
    if (ParseFloatDef(text, 0.5L) != n) std::abort();
  }
  double no_data = 0, again = 0;
  if (ParseNoDataValue(text, no_data) &&
      (!ParseNoDataValue(FormatShortest(no_data), again) ||
       !(again == no_data || (std::isnan(again) && std::isnan(no_data)))))
    std::abort();
  return 0;
}
