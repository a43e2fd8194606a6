// JPEG sources: the whole image is decoded at open into one block, and the
// georeference comes from a ".jpgw" or ".jgw" world file beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/image/decoded_image.h"

namespace clipra {

// Progressive files with more scans than this are refused: a hostile file
// can make every scan cost a pass over the whole image.
constexpr int kJpegMaxScans = 500;

// The most memory one decode may take, its image block and the decoder's
// own buffers together. The machine's memory unless lowered.
void SetJpegMemoryLimit(uint64_t bytes);
uint64_t JpegMemoryLimit();

// Grey and three-channel (RGB) images of unsigned 8-bit cells.
class JpegReader : public DecodedImageReader {
 public:
  JpegReader();
  ~JpegReader() override;

  bool Open(const std::string& file_name) override;

 private:
  // 0, or the number for the open-failure message; the reason is in ErrorText.
  int DecodeImage();
};

}  // namespace clipra
