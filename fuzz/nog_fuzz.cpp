// NOG header records and data files built from one input, opened through
// the reading facade as a source is. The first two input bytes give the
// header file's length; a set top bit pads it with zeros to a whole record,
// so that both short and complete records are explored. The rest of the
// input is the data file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/dataset2.h"
#include "formats/header/nog.h"

namespace {

// One scratch folder per process, holding the pair under fixed names.
class ScratchPair {
 public:
  ScratchPair() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/clipra-nog-fuzz-XXXXXX";
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
  std::string Header() const { return dir_ + "/f.001"; }
  std::string Data() const { return dir_ + "/f.002"; }

  static void Write(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr ||
        (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
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
  const bool pad = (data[1] & 0x80) != 0;
  size_t header_size = data[0] | (size_t{data[1] & 0x7Fu} << 8);
  if (header_size > size - 2) header_size = size - 2;
  const char* p = reinterpret_cast<const char*>(data + 2);
  std::string header(p, header_size);
  if (pad && header.size() < nog::kRecordSize) header.resize(nog::kRecordSize, '\0');
  ScratchPair::Write(pair.Header(), header);
  ScratchPair::Write(pair.Data(), std::string(p + header_size, size - 2 - header_size));

  TDataSet2 set;
  if (!set.Open(pair.Header(), 0, 0, 1, 1, 0)) {
    if (set.GetErrorText().empty()) std::abort();  // every failure says why
    return 0;
  }
  TDataSetRoot2& r = *set.GetReader();
  const uint32_t width = r.GetWidth(), lines = r.GetLines();
  // A bounded spread of cells, the edges and one step beyond included.
  for (uint32_t i = 0; i <= 8; ++i)
    for (uint32_t j = 0; j <= 8; ++j) {
      const uint32_t x = static_cast<uint32_t>(uint64_t{width} * i / 8);
      const uint32_t y = static_cast<uint32_t>(uint64_t{lines} * j / 8);
      float v = 0;
      r.GetCell(x, y, 0, v);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      set.GetValue(0, v, mx, my, 0);
      set.GetValue(0, v, mx, my, 1);
    }
  return 0;
}
