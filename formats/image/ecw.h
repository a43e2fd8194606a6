// ECW wavelet-compressed images, decoded whole at open through a small
// decoder interface: GDAL loaded at run time in production, a fake in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/image/decoded_image.h"

namespace clipra {

// What a decoder knows of an open file. The origin is the map position of
// the top-left corner of cell (0, 0); the Y increment is negative for
// north-up images.
struct EcwFileInfo {
  uint32_t Width = 0;
  uint32_t Lines = 0;
  uint16_t Bands = 0;
  double CellIncrementX = 1.0;
  double CellIncrementY = 1.0;
  double OriginX = 0;
  double OriginY = 0;
};

// The decoder's error codes; each has a fixed description.
enum EcwError : int {
  kEcwSuccess = 0,
  kEcwLibraryMissing = 1,
  kEcwDriverMissing = 2,
  kEcwFileOpenFailed = 3,
  kEcwInvalidView = 4,
  kEcwReadFailed = 5,
};

// The fixed description of an error code; "Unknown error" for any other number.
const char* EcwErrorDescription(int code);

// The operations the reader needs of an ECW decoder. One view at a time.
class EcwDecoder {
 public:
  virtual ~EcwDecoder() = default;

  // Opens a view of the file; 0, or an EcwError code.
  virtual int OpenFileView(const std::string& file_name) = 0;
  // The open file's size, bands and georeference.
  virtual EcwFileInfo GetViewFileInfo() = 0;
  // Selects the bands (file band indexes) and the window from the top-left
  // to the bottom-right cell, delivered at `out_width` x `out_lines`.
  // 0, or an EcwError code.
  virtual int SetFileView(const std::vector<uint32_t>& bands, uint32_t top_left_x,
                          uint32_t top_left_y, uint32_t bottom_right_x, uint32_t bottom_right_y,
                          uint32_t out_width, uint32_t out_lines) = 0;
  // Writes the view's next line to `rgb` as `out_width` triplets of red,
  // green and blue bytes, whatever the band count. 0 when the line was
  // delivered, otherwise a read status.
  virtual int ReadViewLineRGB(uint8_t* rgb) = 0;
  // Closes the view; `free_cache` also lets the decoder drop the file.
  virtual void CloseFileView(bool free_cache) = 0;
  // A text describing `code`, as specific to the last failure as the decoder can make it.
  virtual std::string GetErrorText(int code) = 0;
};

// Decodes through the GDAL library found at run time, and only when that
// GDAL has an ECW driver.
std::unique_ptr<EcwDecoder> CreateGdalEcwDecoder();
// For tests of the binding itself: opens any raster the GDAL here can read.
std::unique_ptr<EcwDecoder> CreateGdalDecoderForTesting();

class EcwReader : public DecodedImageReader {
 public:
  // Decodes with GDAL.
  EcwReader();
  explicit EcwReader(std::unique_ptr<EcwDecoder> decoder);
  ~EcwReader() override;

  bool Open(const std::string& file_name) override;

  // The most the decoded image and its band list may take; the machine's
  // memory unless a caller lowers it.
  uint64_t MemoryLimit;

 private:
  bool ReadImage();

  std::unique_ptr<EcwDecoder> decoder_;
};

}  // namespace clipra
