#include "formats/image/tiff_encoder.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "formats/image/tiff_decoder.h"

namespace clipra::tiff {

namespace {

constexpr uint32_t kTile = 256;

// TIFFCleanup flushes and frees without closing the descriptor, which
// stays with the OsFile that commits it.
struct Cleanup {
  void operator()(TIFF* tif) const { TIFFCleanup(tif); }
};

uint16_t CodecOf(TiffCompression compression) {
  switch (compression) {
    case TiffCompression::kLzw:
      return COMPRESSION_LZW;
    case TiffCompression::kDeflate:
      return COMPRESSION_ADOBE_DEFLATE;
    case TiffCompression::kZstd:
      return COMPRESSION_ZSTD;
    default:
      return COMPRESSION_NONE;
  }
}

const char* CodecName(TiffCompression compression) {
  switch (compression) {
    case TiffCompression::kLzw:
      return "LZW";
    case TiffCompression::kDeflate:
      return "Deflate";
    case TiffCompression::kZstd:
      return "ZSTD";
    default:
      return "no";
  }
}

uint16_t SampleFormatOf(CellType cell_type) {
  switch (cell_type) {
    case CellType::kSigned8:
    case CellType::kSigned16:
    case CellType::kSigned32:
      return SAMPLEFORMAT_INT;
    case CellType::kFloat32:
    case CellType::kFloat64:
      return SAMPLEFORMAT_IEEEFP;
    default:
      return SAMPLEFORMAT_UINT;
  }
}

// Cells from little-endian to this machine's order, in place.
void ToNative(uint8_t* cells, size_t count, uint32_t cell_size) {
  if constexpr (std::endian::native == std::endian::little) return;
  for (size_t i = 0; i < count; ++i)
    std::reverse(cells + i * cell_size, cells + (i + 1) * cell_size);
}

}  // namespace

bool WriteCompressed(const std::string& file_name, const CellBlock& block,
                     TiffCompression compression, const GeoFields& geo,
                     const std::function<bool()>& stop) {
  const uint16_t codec = CodecOf(compression);
  SetUpLibtiff();
  if (codec == COMPRESSION_NONE || !TIFFIsCODECConfigured(codec))
    throw TiffWriteError(std::string("This build's libtiff cannot write ") +
                         CodecName(compression) + " compression");
  const uint32_t cell_size = CellTypeSize(block.cell_type);
  const uint64_t pixel = uint64_t{cell_size} * block.bands;
  const bool big = uint64_t{block.width} * block.lines * pixel > kCompressedBigTiffCells;

  OsFile file;
  if (const int err = file.Open(file_name, FileAccess::kCreate); err != 0)
    throw TiffWriteError("Open write error " + std::to_string(err) + " " + SystemErrorText(err));
  std::string messages;
  auto fail = [&](int err) {
    if (err != 0)
      return TiffWriteError("Write error " + std::to_string(err) + " " + SystemErrorText(err) +
                            ": " + file_name);
    return TiffWriteError("Cannot write " + file_name + ": " + messages);
  };
  std::unique_ptr<TIFF, Cleanup> tif;
  {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) throw fail(ENOMEM);
    TIFFOpenOptionsSetErrorHandlerExtR(options, CollectInto, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, CollectInto, &messages);
    tif.reset(TIFFFdOpenExt(file.fd(), file_name.c_str(), big ? "w8" : "w", options));
    TIFFOpenOptionsFree(options);
  }
  if (!tif) throw fail(0);
  TIFF* t = tif.get();
  const uint16_t format = SampleFormatOf(block.cell_type);
  // The same tags as the uncompressed layout, with tiles and a predictor.
  const bool set =
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, block.width) &&
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, block.lines) &&
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<int>(8 * cell_size)) &&
      TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<int>(codec)) &&
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                   block.bands == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<int>(block.bands)) &&
      TIFFSetField(t, TIFFTAG_XRESOLUTION, 1.0) && TIFFSetField(t, TIFFTAG_YRESOLUTION, 1.0) &&
      TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
      TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER) &&
      TIFFSetField(t, TIFFTAG_TILEWIDTH, kTile) && TIFFSetField(t, TIFFTAG_TILELENGTH, kTile) &&
      TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, static_cast<int>(format)) &&
      TIFFSetField(
          t, TIFFTAG_PREDICTOR,
          format == SAMPLEFORMAT_IEEEFP ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL) &&
      TIFFSetField(t, kModelPixelScale, uint32_t{3}, geo.pixel_scale.data()) &&
      TIFFSetField(t, kModelTiepoint, uint32_t{6}, geo.tiepoint.data()) &&
      TIFFSetField(t, kGeoKeyDirectory, uint32_t{24}, geo.keys.data()) &&
      (geo.no_data.empty() || TIFFSetField(t, TIFFTAG_GDAL_NODATA, geo.no_data.c_str()));
  if (!set) throw fail(0);

  // Edge tiles are padded with zeros; the predictor encodes the buffer in place.
  const uint64_t row_bytes = uint64_t{block.width} * pixel;
  const size_t tile_row_bytes = static_cast<size_t>(kTile * pixel);
  std::vector<uint8_t> tile(kTile * tile_row_bytes);
  for (uint32_t y0 = 0; y0 < block.lines; y0 += kTile) {
    if (stop && stop()) return false;
    const uint32_t rows = std::min(kTile, block.lines - y0);
    for (uint32_t x0 = 0; x0 < block.width; x0 += kTile) {
      const uint32_t cols = std::min(kTile, block.width - x0);
      if (rows < kTile || cols < kTile) std::fill(tile.begin(), tile.end(), 0);
      for (uint32_t r = 0; r < rows; ++r)
        std::memcpy(tile.data() + r * tile_row_bytes,
                    block.cells + (uint64_t{y0} + r) * row_bytes + x0 * pixel, cols * pixel);
      ToNative(tile.data(), tile.size() / cell_size, cell_size);
      errno = 0;
      if (TIFFWriteEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, 0), tile.data(),
                               static_cast<tmsize_t>(tile.size())) < 0)
        throw fail(errno);
    }
  }
  errno = 0;
  if (!TIFFFlush(t)) throw fail(errno);
  tif.reset();
  if (const int err = file.Commit(); err != 0) throw fail(err);
  return true;
}

}  // namespace clipra::tiff
