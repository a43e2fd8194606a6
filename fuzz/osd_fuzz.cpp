// OrthoSetData headers of arbitrary text beside a data file, opened through
// the reading facade as a source is. The first two input bytes give the
// header's length; the rest of the input is the data file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/dataset2.h"

namespace {

// One scratch folder per process, holding the pair under fixed names.
class ScratchPair {
 public:
  ScratchPair() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/clipra-osd-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = pattern;
  }
  ~ScratchPair() {
    ::unlink(Header().c_str());
    ::unlink(Data().c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Header() const { return dir_ + "/f.osd"; }
  std::string Data() const { return dir_ + "/f"; }

  static void Write(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) ||
        std::fclose(f) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }

 private:
  std::string dir_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  static ScratchPair pair;
  if (size < 2) return 0;
  size_t header_size = data[0] | (size_t{data[1]} << 8);
  if (header_size > size - 2) header_size = size - 2;
  ScratchPair::Write(pair.Header(), data + 2, header_size);
  ScratchPair::Write(pair.Data(), data + 2 + header_size, size - 2 - header_size);

  TDataSet2 set;
  if (!set.Open(pair.Header(), 0, 0, 1, 1, 0)) return 0;
  TDataSetRoot2& r = *set.GetReader();
  const uint32_t width = r.GetWidth(), lines = r.GetLines(), bands = r.GetBands();
  // A bounded spread of cells, the edges and one step beyond included.
  for (uint32_t i = 0; i <= 8; ++i)
    for (uint32_t j = 0; j <= 8; ++j) {
      const uint32_t x = static_cast<uint32_t>(uint64_t{width} * i / 8);
      const uint32_t y = static_cast<uint32_t>(uint64_t{lines} * j / 8);
      float v = 0;
      for (uint32_t b = 0; b < 3 && b <= bands; ++b) r.GetCell(x, y, b, v);
      uint32_t rgb = 0;
      r.GetRGB(x, y, rgb);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      set.GetValue(0, v, mx, my, 0);
      set.GetValue(0, v, mx, my, 1);
    }
  return 0;
}
