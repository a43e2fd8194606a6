// JPEG sources: the header is read at open; the cells are decoded on first
// use, only the advised block when a caller gives one, and the georeference
// comes from a ".jpgw" or ".jgw" world file beside it. JPEG outputs: baseline
// grey or colour images with a ".jgw" world file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/os_file.h"
#include "dataset/output.h"
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
  // The image and the world file read with it: an output must replace neither.
  std::vector<std::string> Files() const override;
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
  std::string world_file_;
};

class JpegError : public WriterError {
 public:
  using WriterError::WriterError;
};

// The largest image side libjpeg encodes.
constexpr uint32_t kJpegMaxSide = 65500;

// Writes the image as it receives its lines: a JPEG cannot be changed in
// place, so cells arrive line after line (any order within a line) and
// each line is encoded once a later one begins. Only one line is held. The
// file is built under a temporary name and takes its own, with its ".jgw"
// world file, in Finish; a writer destroyed before that leaves every file
// as it was.
class JpegWriter : public RasterWriter {
 public:
  // Raises JpegError with Refusal's text, or when the file cannot be created.
  JpegWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
             int32_t bands, uint8_t mode, int quality = kDefaultJpegQuality);
  ~JpegWriter() override;

  // Why a JPEG of this size and these cells cannot be written; empty when it can.
  static std::string Refusal(uint32_t width, uint32_t lines, CellType cell_type, uint32_t bands);

  // Stores a cell of the current line; a cell of a later line first encodes
  // the lines before it (those never written hold 0). Raises JpegError for a
  // line already encoded, or when encoding fails.
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, double value) override;
  // Cells of the current line only.
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) override;
  bool Get4Cells(uint16_t, uint16_t, uint16_t, double[4]) override { return false; }
  uint8_t* LineAddress(uint16_t, uint16_t) override { return nullptr; }
  // Encodes what is left and gives the image and its world file their
  // names; false, with neither, when `stop` answers true first.
  bool Finish(const std::function<bool()>& stop) override;

  Georeference GetGeoreference() override { return georef_; }
  // Kept for the world file, which is written in Finish.
  void SetGeoreference(const Georeference& georef) override;

 private:
  struct Encoder;
  // Encodes lines up to, not including, `line`.
  void EncodeUpTo(uint32_t line);
  [[noreturn]] void Fail(const std::string& text);

  OsFile file_;
  std::unique_ptr<Encoder> encoder_;
  std::vector<uint8_t> line_cells_;  // the current line, bands interleaved
  uint32_t line_ = 0;                // the current line; all before it are encoded
  std::string failure_;              // set once encoding has failed
  Georeference georef_;
  bool georeferenced_ = false;
};

}  // namespace clipra
