// The libtiff side of the TIFF reader: opens what the baseline reader does
// not read, decodes strips and tiles on demand into a small cache, and reads
// the GeoTIFF tags of any TIFF. libtiff's warnings and errors are collected
// per handle, never printed, so that several decoders may run at once.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/image/tiff.h"

struct tiff;

namespace clipra::tiff {

// Process-wide libtiff set-up, once: the GeoTIFF tags registered, and no
// global handlers, so that nothing reaches stderr; every handle has its own.
void SetUpLibtiff();
// A libtiff message handler that appends the message to the std::string at
// `user`; give it to TIFFOpenOptionsSetErrorHandlerExtR and its kin.
int CollectInto(struct tiff*, void* user, const char* module, const char* fmt, va_list ap);

// Reads the GeoTIFF tags of `file_name` with libtiff; all false/zero when
// there are none or the file does not open.
GeoTags ReadGeoTags(const std::string& file_name);

class Decoder {
 public:
  Decoder() = default;
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // False with `error` set when libtiff cannot open the file or its first
  // image is of a kind that has no cell type here.
  bool Open(const std::string& file_name, std::string& error);

  uint32_t Width() const { return width_; }
  uint32_t Lines() const { return lines_; }
  uint32_t Bands() const { return bands_; }
  CellType GetCellType() const { return cell_type_; }
  uint16_t Compression() const { return compression_; }
  uint16_t Photometric() const { return photometric_; }
  uint16_t Planar() const { return planar_; }
  uint16_t Bits() const { return bits_; }
  const GeoTags& Tags() const { return tags_; }

  // Cells first..last of `band` on `line`, in native byte order, with the
  // step between neighbours; nullptr when they cannot be decoded (then
  // Failure() says why). Valid until the next call.
  const uint8_t* Span(uint32_t line, uint32_t band, uint32_t first, uint32_t last, uint64_t& step);
  // One cell as a number.
  bool Cell(uint32_t x, uint32_t y, uint32_t band, float& value);
  // The first decoding failure, with libtiff's words; empty while none.
  const std::string& Failure() const { return failure_; }
  // Bytes the chunk cache may hold at most.
  uint64_t CacheLimit() const { return cache_limit_; }

 private:
  struct Chunk {
    uint32_t index = 0;
    std::vector<uint8_t> cells;
    bool ok = false;
  };
  // The decoded chunk (strip, tile or scanline) `index` of plane `plane`
  // holding cell (x, line); nullptr on failure.
  const Chunk* Fetch(uint32_t index);
  bool Decode(uint32_t index, std::vector<uint8_t>& out);
  // Libtiff's collected messages, joined, then cleared.
  std::string TakeMessages();
  static int Collect(struct tiff*, void* user, const char* module, const char* fmt, va_list ap);

  struct tiff* tif_ = nullptr;
  std::string messages_;
  std::string failure_;
  GeoTags tags_;
  uint32_t width_ = 0, lines_ = 0, bands_ = 0;
  uint16_t samples_ = 1;  // samples per pixel as stored
  uint16_t bits_ = 8;
  uint16_t compression_ = 1;
  uint16_t photometric_ = 1;
  uint16_t planar_ = 1;
  CellType cell_type_ = CellType::kOneBit;
  uint32_t cell_bytes_ = 1;
  bool tiled_ = false;
  bool scanlines_ = false;  // strips too large to decode whole: row by row
  uint32_t chunk_width_ = 0, chunk_lines_ = 0;
  uint32_t chunks_across_ = 0, chunks_down_ = 0;
  // Samples per pixel in a decoded chunk: the stored ones, or three for a
  // colour palette; planar chunks hold one.
  uint32_t chunk_samples_ = 1;
  uint64_t chunk_bytes_ = 0;
  // A colour palette as bytes (red, green, blue per entry), or empty.
  std::vector<uint8_t> palette_;
  bool invert_ = false;  // WhiteIsZero

  // The cache: most recently used first.
  std::list<Chunk> cache_;
  std::unordered_map<uint32_t, std::list<Chunk>::iterator> where_;
  uint64_t cache_limit_ = 0;
  size_t cache_slots_ = 2;
  std::vector<uint8_t> scratch_;

  // One assembled line segment of a tiled image, all bands interleaved.
  std::vector<uint8_t> row_;
  int64_t row_line_ = -1;
  uint32_t row_first_ = 0, row_last_ = 0;
  std::vector<bool> row_planes_;
};

}  // namespace clipra::tiff
