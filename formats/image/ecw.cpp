#include "formats/image/ecw.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

// Closes the decoder's view on every way out of the read unless told otherwise.
class ViewGuard {
 public:
  explicit ViewGuard(EcwDecoder& decoder) : decoder_(&decoder) {}
  ~ViewGuard() {
    if (decoder_) decoder_->CloseFileView(false);
  }
  ViewGuard(const ViewGuard&) = delete;
  ViewGuard& operator=(const ViewGuard&) = delete;
  // A complete read closes the view and frees the decoder's cached file.
  void CloseComplete() {
    decoder_->CloseFileView(true);
    decoder_ = nullptr;
  }

 private:
  EcwDecoder* decoder_;
};

}  // namespace

const char* EcwErrorDescription(int code) {
  static const char* const kDescriptions[] = {
      "No error",
      "Decoder library not found",
      "No ECW driver in the decoder library",
      "Could not open the file",
      "Invalid file view",
      "Could not read the file",
  };
  if (code < 0 || code >= static_cast<int>(std::size(kDescriptions))) return "Unknown error";
  return kDescriptions[code];
}

EcwReader::EcwReader() : EcwReader(CreateGdalEcwDecoder()) {}

EcwReader::EcwReader(std::unique_ptr<EcwDecoder> decoder)
    : MemoryLimit(PhysicalMemory()), decoder_(std::move(decoder)) {}

EcwReader::~EcwReader() = default;

bool EcwReader::Open(const std::string& file_name) {
  FileName = file_name;
  cell_type_ = CellType::kUnsigned8;
  Mode = 0;
  SetByteOrder(false);
  LastError = 1;
  if (!FileExists(file_name)) {
    ErrorText = "Open read error " + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT);
    return false;
  }
  ErrorText.clear();
  if (!ReadImage()) {
    ErrorText = "Open read error 1 " + ErrorText;
    return false;
  }
  LastError = 0;
  FirstLine = 0;
  EndLine = -1;
  return true;
}

bool EcwReader::ReadImage() {
  if (!decoder_) {
    ErrorText = "Error: no ECW decoder";
    return false;
  }
  EcwDecoder& decoder = *decoder_;
  if (const int e = decoder.OpenFileView(FileName); e != kEcwSuccess) {
    ErrorText = "Error: " + decoder.GetErrorText(e);
    return false;
  }
  ViewGuard view(decoder);

  const EcwFileInfo info = decoder.GetViewFileInfo();
  cell_type_ = CellType::kUnsigned8;
  Width = info.Width;
  Lines = info.Lines;
  Georef().CellSizeX = info.CellIncrementX;
  Georef().CellSizeY = std::fabs(info.CellIncrementY);
  Georef().RegX = info.OriginX;
  Georef().RegY = info.OriginY;
  if (Width == 0 || Lines == 0 || info.Bands == 0) {
    ErrorText = "Error: the image has no cells (" + std::to_string(Width) + " x " +
                std::to_string(Lines) + ", " + std::to_string(info.Bands) + " bands)";
    Bands = 0;
    return false;
  }
  // The decoder delivers red, green and blue whatever the file holds: a
  // one-band file is presented as grey from the red bytes, any other count
  // as the three colours.
  Bands = info.Bands == 1 ? 1 : 3;
  LineSize = (uint64_t{Width} * Bands + 3) / 4 * 4;

  std::vector<uint32_t> band_list;
  try {
    if (uint64_t{info.Bands} * sizeof(uint32_t) > MemoryLimit) throw std::bad_alloc();
    band_list.resize(info.Bands);
  } catch (const std::bad_alloc&) {
    ErrorText = "Error - unable to malloc band list";
    return false;
  }
  for (uint32_t b = 0; b < info.Bands; ++b) band_list[b] = b;

  if (const int e = decoder.SetFileView(band_list, 0, 0, Width - 1, Lines - 1, Width, Lines);
      e != kEcwSuccess) {
    ErrorText = "Error: " + decoder.GetErrorText(e) + " " + EcwErrorDescription(e);
    return false;
  }

  // Grey images take each delivered line in a scratch line first: three
  // bytes a cell would not fit their place in the block.
  const uint64_t rgb_line = uint64_t{Width} * 3;
  uint64_t block = 0;
  std::vector<uint8_t> scratch;
  try {
    if (__builtin_mul_overflow(LineSize, uint64_t{Lines}, &block) || block > MemoryLimit ||
        block > SIZE_MAX || (Bands != 3 && rgb_line > MemoryLimit - block))
      throw std::bad_alloc();
    ImageBuffer = std::make_unique_for_overwrite<uint8_t[]>(block);
    if (Bands != 3) scratch.resize(rgb_line);
  } catch (const std::bad_alloc&) {
    ImageBuffer.reset();
    ErrorText = "Malloc error for output buffers";
    return false;
  }

  for (uint32_t y = 0; y < Lines; ++y) {
    uint8_t* line = ImageBuffer.get() + uint64_t{y} * LineSize;
    uint8_t* target = Bands == 3 ? line : scratch.data();
    if (const int status = decoder.ReadViewLineRGB(target); status != 0) {
      ErrorText = "Status code: " + std::to_string(status);
      ImageBuffer.reset();
      return false;
    }
    if (Bands == 1)
      for (uint32_t x = 0; x < Width; ++x) line[x] = scratch[uint64_t{x} * 3];
    // Padding stays zero rather than whatever the allocator left.
    const uint64_t pixels = uint64_t{Width} * Bands;
    std::memset(line + pixels, 0, LineSize - pixels);
  }
  view.CloseComplete();
  return true;
}

}  // namespace clipra
