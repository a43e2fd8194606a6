// Reads arbitrary bytes as a text file, line by line, to the real end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dataset/line_reader.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  const std::string& path = fuzz::WriteFuzzFile(data, size, ".txt");
  try {
    LineReader reader(path);
    std::string line;
    size_t total = 0;
    // A byte 26 at the start of a line gives the end-of-file line early, so
    // go on until every byte has been read. Each call consumes at least one.
    for (size_t calls = 0;; ++calls) {
      if (calls > size + 1) std::abort();
      reader.ReadLine(line);
      if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
        std::abort();
      if (!LineReader::IsEndOfFile(line)) {
        total += line.size();
      } else if (static_cast<uint64_t>(reader.Index) >= size) {
        break;
      }
    }
    if (total > size) std::abort();
    reader.Reset();
    char ch = 0;
    for (size_t i = 0; i < size; ++i)
      if (reader.ReadChar(ch) != static_cast<char>(data[i])) std::abort();
    if (reader.ReadChar(ch) != kEndOfFileChar) std::abort();
  } catch (const LineReaderError&) {
    // Only an empty file cannot be opened.
    if (size != 0) std::abort();
  }
  return 0;
}
