// The ER Mapper header reader through the real file path: the input's first
// byte sizes the data file, the rest is the ".ers" header.
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string& header = clipra::fuzz::WriteFuzzFile(data + 1, size - 1, ".ers");
  const std::string data_path = clipra::ChangeFileExt(header, "");
  std::string cells(static_cast<size_t>(data[0]) * 7, '\0');
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<char>(i * 31);
  if (std::FILE* f = std::fopen(data_path.c_str(), "wb")) {
    std::fwrite(cells.data(), 1, cells.size(), f);
    std::fclose(f);
  }
  clipra::Source source;
  if (source.Open(header)) clipra::fuzz::ExerciseSource(source);
  std::remove(data_path.c_str());
  return 0;
}
