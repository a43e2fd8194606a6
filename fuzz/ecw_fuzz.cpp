// The ECW reader's own logic, driven by a decoder that the input describes:
// image size, band count, where the decoder fails and with what, and the
// bytes of the lines it delivers. No ECW library is involved.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "dataset/byte_order.h"
#include "formats/image/ecw.h"
#include "support/fuzz_file.h"

namespace {

class InputDecoder : public clipra::EcwDecoder {
 public:
  InputDecoder(const uint8_t* data, size_t size) : data_(data), size_(size) {
    info_.Width = clipra::read_le<uint16_t>(data);
    info_.Lines = clipra::read_le<uint16_t>(data + 2);
    info_.Bands = data[4];
    open_error_ = data[5] % 8 == 0 ? data[5] / 8 : 0;
    view_error_ = data[6] % 8 == 0 ? data[6] / 8 : 0;
    failing_line_ = clipra::read_le<uint16_t>(data + 7);
    status_ = data[9];
    std::memcpy(&info_.CellIncrementX, data + 10, 8);
    std::memcpy(&info_.CellIncrementY, data + 18, 8);
  }
  static constexpr size_t kHeader = 26;

  int OpenFileView(const std::string&) override {
    if (open_ || closed_) std::abort();  // one view at a time, never reopened
    if (open_error_ != 0) return open_error_;
    open_ = true;
    return 0;
  }
  clipra::EcwFileInfo GetViewFileInfo() override {
    if (!open_) std::abort();
    return info_;
  }
  int SetFileView(const std::vector<uint32_t>& bands, uint32_t, uint32_t, uint32_t, uint32_t,
                  uint32_t width, uint32_t) override {
    if (!open_ || bands.size() != info_.Bands || width != info_.Width) std::abort();
    return view_error_;
  }
  int ReadViewLineRGB(uint8_t* rgb) override {
    if (!open_) std::abort();
    if (line_ == failing_line_ && status_ != 0) return status_;
    // Writes the whole promised line, so that an undersized target shows.
    for (uint64_t i = 0; i < uint64_t{info_.Width} * 3; ++i)
      rgb[i] = size_ > kHeader ? data_[kHeader + (line_ * 7 + i) % (size_ - kHeader)] : 0;
    ++line_;
    return 0;
  }
  void CloseFileView(bool) override {
    if (!open_) std::abort();
    open_ = false;
    closed_ = true;
  }
  std::string GetErrorText(int code) override { return std::to_string(code); }

 private:
  const uint8_t* data_;
  size_t size_;
  clipra::EcwFileInfo info_;
  int open_error_ = 0;
  int view_error_ = 0;
  uint32_t failing_line_ = 0;
  int status_ = 0;
  uint32_t line_ = 0;
  bool open_ = false;
  bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  if (size < InputDecoder::kHeader) return 0;
  const std::string& path = fuzz::WriteFuzzFile(data, size, ".ecw");
  EcwReader reader(std::make_unique<InputDecoder>(data, size));
  reader.MemoryLimit = uint64_t{4} << 20;
  if (!reader.Open(path)) return 0;
  const uint32_t w = reader.GetWidth();
  const uint32_t h = reader.GetLines();
  for (uint32_t y = 0; y <= h && y < 64; ++y)
    for (uint32_t x : {0u, 1u, w / 2, w - 1, w, w + 1}) {
      float v = 0;
      reader.GetCell(x, y, y % 5, v);
      reader.SeekLine(y, 0);
    }
  return 0;
}
