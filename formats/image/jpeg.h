// JPEG sources: the header is read at open; the cells are decoded on first
// use, only the advised block when a caller gives one, and the georeference
// comes from a ".jpgw" or ".jgw" world file beside it.
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
  // Decodes the block right away: a damaged file fails here, before the
  // caller has written anything.
  bool AdviseRead(uint32_t first_col, uint32_t first_line, uint32_t last_col,
                  uint32_t last_line) override;

 protected:
  bool Prepare(uint32_t x, uint32_t y) override;

 private:
  bool DecodeCells(uint32_t first_col, uint32_t first_line, uint32_t last_col, uint32_t last_line);
  // Reads the header and, with `cells`, decodes the block into ImageBuffer.
  // 0, or the number for the failure message; the reason is in ErrorText.
  int Decode(bool cells, uint32_t first_col, uint32_t first_line, uint32_t last_col,
             uint32_t last_line);

  // A decode failed once; the file is not decoded again.
  bool decode_failed_ = false;
};

}  // namespace clipra
