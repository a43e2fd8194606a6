// Feeds arbitrary bytes as one control-point line to both line syntaxes and
// formats the result back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dataset/control_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  for (const auto& point : {clipra::ControlPoint::CreateFromErsLine(line),
                            clipra::ControlPoint::CreateFromLine(line)}) {
    const std::string text = point->ToLine();
    // The own syntax must read its own output back.
    const auto again = clipra::ControlPoint::CreateFromLine(text);
    const std::string name = point->GetName().empty() ? "\"\"" : point->GetName();
    if (again->GetName() != name || again->GetActive() != point->GetActive()) __builtin_trap();
    for (int i = -1; i <= 7; ++i) {
      (void)point->GetFieldText(i);
      (void)again->GetFieldText(i);
    }
  }
  return 0;
}
