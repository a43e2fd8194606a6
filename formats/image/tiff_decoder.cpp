#include "formats/image/tiff_decoder.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "dataset/cell_codec.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra::tiff {

namespace {

constexpr uint32_t kTagPixelScale = 33550;
constexpr uint32_t kTagTiepoint = 33922;
constexpr uint32_t kTagTransformation = 34264;
constexpr uint32_t kTagGeoKeys = 34735;

// No single libtiff allocation may exceed this, whatever a file claims.
constexpr tmsize_t kMaxAllocation = tmsize_t{1} << 30;
// A strip larger than this is read line by line instead of whole.
constexpr uint64_t kMaxChunkBytes = uint64_t{32} << 20;
// Collected messages beyond this length are dropped.
constexpr size_t kMaxMessages = 2000;

TIFFExtendProc g_previous_extender = nullptr;

// Registers the GeoTIFF tags and GDAL's no-data tag, so that libtiff keeps their values for
// TIFFGetField instead of warning about unknown tags.
void ExtendTags(TIFF* tif) {
  static const TIFFFieldInfo kFields[] = {
      {kTagPixelScale, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
       const_cast<char*>("ModelPixelScale")},
      {kTagTiepoint, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
       const_cast<char*>("ModelTiepoint")},
      {kTagTransformation, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
       const_cast<char*>("ModelTransformation")},
      {kTagGeoKeys, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_SHORT, FIELD_CUSTOM, 1, 1,
       const_cast<char*>("GeoKeyDirectory")},
      // One string, read without a count.
      {TIFFTAG_GDAL_NODATA, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
       const_cast<char*>("GDALNoDataValue")},
  };
  TIFFMergeFieldInfo(tif, kFields, sizeof kFields / sizeof kFields[0]);
  if (g_previous_extender) g_previous_extender(tif);
}

void AppendMessage(std::string& to, const char* module, const char* fmt, va_list ap) {
  if (to.size() >= kMaxMessages) return;
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  if (!to.empty()) to += "; ";
  if (module && *module) {
    to += module;
    to += ": ";
  }
  to += text;
}

}  // namespace

void SetUpLibtiff() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_previous_extender = TIFFSetTagExtender(ExtendTags);
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandlerExt(nullptr);
    TIFFSetWarningHandlerExt(nullptr);
  });
}

int CollectInto(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  AppendMessage(*static_cast<std::string*>(user), module, fmt, ap);
  return 1;  // handled: libtiff calls no global handler
}

namespace {

TIFF* OpenTiff(const std::string& file_name, std::string& messages) {
  SetUpLibtiff();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, CollectInto, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, CollectInto, &messages);
  TIFF* tif = TIFFOpenExt(file_name.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

bool Doubles(TIFF* tif, uint32_t tag, uint32_t need, const double*& values) {
  uint32_t count = 0;
  double* data = nullptr;
  if (TIFFGetField(tif, tag, &count, &data) != 1 || !data || count < need) return false;
  for (uint32_t i = 0; i < need; ++i)
    if (!std::isfinite(data[i])) return false;
  values = data;
  return true;
}

GeoTags GeoTagsOf(TIFF* tif) {
  GeoTags g;
  uint32_t count = 0;
  uint16_t* keys = nullptr;
  uint16_t model = 0;
  uint16_t geographic = 0;
  uint16_t projected = 0;
  if (TIFFGetField(tif, kTagGeoKeys, &count, &keys) == 1 && keys && count >= 4) {
    const uint32_t n = keys[3];
    for (uint32_t k = 0; k < n && 4 + 4 * uint64_t{k} + 4 <= count; ++k) {
      const uint16_t* e = keys + 4 + 4 * k;
      // Only keys with their value in the entry itself are read.
      if (e[1] != 0) continue;
      switch (e[0]) {
        case 1024:
          model = e[3];
          break;
        case 1025:
          g.pixel_is_point = e[3] == 2;
          break;
        case 2048:
          geographic = e[3];
          break;
        case 3072:
          projected = e[3];
          break;
        default:
          break;
      }
    }
  }
  // 0 is undefined and 32767 user-defined: neither is an EPSG code.
  auto valid = [](uint16_t code) { return code != 0 && code < 32767; };
  if (model != 2 && valid(projected))
    g.epsg = projected;
  else if (valid(geographic) && (model == 2 || !valid(projected)))
    g.epsg = geographic;

  const double* scale = nullptr;
  const double* tie = nullptr;
  const double* m = nullptr;
  if (Doubles(tif, kTagPixelScale, 2, scale) && Doubles(tif, kTagTiepoint, 6, tie) &&
      scale[0] > 0 && scale[1] != 0) {
    g.cell_x = scale[0];
    g.cell_y = std::fabs(scale[1]);
    g.left = static_cast<double>(static_cast<long double>(tie[3]) -
                                 static_cast<long double>(tie[0]) * g.cell_x);
    g.top = static_cast<double>(static_cast<long double>(tie[4]) +
                                static_cast<long double>(tie[1]) * g.cell_y);
    g.placed = true;
  } else if (Doubles(tif, kTagTransformation, 16, m)) {
    if (m[1] != 0 || m[4] != 0 || !(m[0] > 0) || !(m[5] < 0)) {
      g.rotated = true;
    } else {
      g.cell_x = m[0];
      g.cell_y = -m[5];
      g.left = m[3];
      g.top = m[7];
      g.placed = true;
    }
  }
  // GDAL's no-data tag is ASCII text, "-99999" or "nan".
  const char* no_data = nullptr;
  double value = 0;
  if (TIFFGetField(tif, TIFFTAG_GDAL_NODATA, &no_data) == 1 && no_data &&
      ParseNoDataValue(no_data, value))
    g.no_data = value;
  if (g.placed && g.pixel_is_point) {
    g.left = static_cast<double>(static_cast<long double>(g.left) - g.cell_x / 2.0L);
    g.top = static_cast<double>(static_cast<long double>(g.top) + g.cell_y / 2.0L);
  }
  return g;
}

std::string SampleName(uint16_t format, uint16_t bits) {
  const char* kind = format == SAMPLEFORMAT_INT             ? "signed integer"
                     : format == SAMPLEFORMAT_IEEEFP        ? "float"
                     : format == SAMPLEFORMAT_COMPLEXINT    ? "complex integer"
                     : format == SAMPLEFORMAT_COMPLEXIEEEFP ? "complex float"
                                                            : "unsigned integer";
  return std::to_string(bits) + "-bit " + kind + " samples";
}

CellType CellTypeOf(uint16_t format, uint16_t bits) {
  if (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID) {
    if (bits == 8) return CellType::kUnsigned8;
    if (bits == 16) return CellType::kUnsigned16;
  } else if (format == SAMPLEFORMAT_INT) {
    if (bits == 8) return CellType::kSigned8;
    if (bits == 16) return CellType::kSigned16;
    if (bits == 32) return CellType::kSigned32;
  } else if (format == SAMPLEFORMAT_IEEEFP) {
    if (bits == 32) return CellType::kFloat32;
  }
  return CellType::kUnknown;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) {
  return b == 0 ? 0 : a / b + (a % b != 0);
}

}  // namespace

GeoTags ReadGeoTags(const std::string& file_name) {
  std::string messages;
  TIFF* tif = OpenTiff(file_name, messages);
  if (!tif) return {};
  const GeoTags g = GeoTagsOf(tif);
  TIFFClose(tif);
  return g;
}

Decoder::~Decoder() {
  if (tif_) TIFFClose(tif_);
}

int Decoder::Collect(TIFF* tif, void* user, const char* module, const char* fmt, va_list ap) {
  return CollectInto(tif, user, module, fmt, ap);
}

std::string Decoder::TakeMessages() {
  std::string m;
  m.swap(messages_);
  return m;
}

bool Decoder::Open(const std::string& file_name, std::string& error) {
  auto fail = [&](const std::string& text) {
    error = text;
    return false;
  };
  SetUpLibtiff();
  {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return fail("Out of memory");
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, Collect, &messages_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Collect, &messages_);
    tif_ = TIFFOpenExt(file_name.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
  }
  if (!tif_) return fail("Tiff error " + TakeMessages());
  tags_ = GeoTagsOf(tif_);

  uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width_);
  TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &lines_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &samples_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bits_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression_);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar_);
  if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric_))
    photometric_ = samples_ >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  if (width_ == 0 || lines_ == 0) return fail("Tiff error The image has no cells");
  if (samples_ == 0) return fail(std::string("Tiff error ") + ReasonText(kReasonNoSamples));
  if (!TIFFIsCODECConfigured(compression_))
    return fail("Tiff error Compression " + std::to_string(compression_) + " is not available");

  bands_ = samples_;
  if (photometric_ == PHOTOMETRIC_PALETTE) {
    if (bits_ != 8 || samples_ != 1 || format != SAMPLEFORMAT_UINT)
      return fail("Cell type not supported: palette of " + SampleName(format, bits_));
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif_, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      return fail("Tiff error Palette image without a colour map");
    // Entries are 16-bit; old writers stored 8-bit values in them.
    bool eight = true;
    for (int i = 0; i < 256; ++i) eight = eight && red[i] < 256 && green[i] < 256 && blue[i] < 256;
    palette_.resize(256 * 3);
    bool grey = true;
    for (int i = 0; i < 256; ++i) {
      const uint16_t c[3] = {red[i], green[i], blue[i]};
      for (int k = 0; k < 3; ++k)
        palette_[3 * i + k] = static_cast<uint8_t>(eight ? c[k] : c[k] >> 8);
      grey = grey && palette_[3 * i] == i && palette_[3 * i + 1] == i && palette_[3 * i + 2] == i;
    }
    // The exact grey ramp reads as one band, as a bitmap's does.
    if (grey)
      palette_.clear();
    else
      bands_ = 3;
  } else if (photometric_ == PHOTOMETRIC_YCBCR) {
    if (compression_ != COMPRESSION_JPEG || samples_ != 3)
      return fail(std::string("Tiff error ") + ReasonText(kReasonNotGreyOrRgb));
    // libjpeg turns the colours back into RGB.
    TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  } else if (photometric_ > PHOTOMETRIC_RGB && photometric_ != PHOTOMETRIC_SEPARATED) {
    return fail(std::string("Tiff error ") + ReasonText(kReasonNotGreyOrRgb));
  }
  cell_type_ = CellTypeOf(format, bits_);
  if (cell_type_ == CellType::kUnknown) {
    if (bits_ == 1) return fail("Bit type not supported");
    return fail("Cell type not supported: " + SampleName(format, bits_));
  }
  cell_bytes_ = CellTypeSize(cell_type_);
  invert_ = photometric_ == PHOTOMETRIC_MINISWHITE &&
            (cell_type_ == CellType::kUnsigned8 || cell_type_ == CellType::kUnsigned16);

  tiled_ = TIFFIsTiled(tif_) != 0;
  const uint32_t stored_samples = planar_ == PLANARCONFIG_SEPARATE ? 1 : samples_;
  const uint32_t planes = planar_ == PLANARCONFIG_SEPARATE ? samples_ : 1;
  if (tiled_) {
    TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &chunk_width_);
    TIFFGetField(tif_, TIFFTAG_TILELENGTH, &chunk_lines_);
    if (chunk_width_ == 0 || chunk_lines_ == 0) return fail("Tiff error Tile size is 0");
  } else {
    uint32_t rows = lines_;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rows);
    if (rows == 0) return fail(std::string("Tiff error ") + ReasonText(kReasonZeroRowsPerStrip));
    chunk_width_ = width_;
    chunk_lines_ = std::min(rows, lines_);
  }
  chunks_across_ = static_cast<uint32_t>(CeilDiv(width_, chunk_width_));
  chunks_down_ = static_cast<uint32_t>(CeilDiv(lines_, chunk_lines_));
  const uint64_t chunks = uint64_t{chunks_across_} * chunks_down_ * planes;
  const uint64_t stored = tiled_ ? TIFFNumberOfTiles(tif_) : TIFFNumberOfStrips(tif_);
  if (stored < chunks)
    return fail("Tiff error The file has " + std::to_string(stored) +
                (tiled_ ? " tiles" : " strips") + " for " + std::to_string(chunks));

  // Every chunk must lie inside the file before any is read; a missing one
  // (no bytes) reads as zeros.
  struct stat st {};
  if (stat(file_name.c_str(), &st) != 0) return fail("Tiff error Cannot read the file size");
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  for (uint64_t i = 0; i < chunks; ++i) {
    const auto index = static_cast<uint32_t>(i);
    const uint64_t bytes = TIFFGetStrileByteCount(tif_, index);
    const uint64_t offset = TIFFGetStrileOffset(tif_, index);
    if (bytes != 0 && (offset > file_size || bytes > file_size - offset))
      return fail(std::string("Tiff error ") + (tiled_ ? "Tile " : "Strip ") +
                  std::to_string(index) + " ends past the end of the file (offset " +
                  std::to_string(offset) + ", " + std::to_string(bytes) + " bytes, file " +
                  std::to_string(file_size) + " bytes)");
  }

  uint64_t bytes = uint64_t{chunk_width_} * chunk_lines_ * stored_samples * cell_bytes_;
  const uint64_t libtiff_bytes = tiled_ ? TIFFTileSize64(tif_) : TIFFStripSize64(tif_);
  if (bytes / chunk_lines_ / chunk_width_ / stored_samples != cell_bytes_)
    return fail("Tiff error The image is too large");
  if (!tiled_ && bytes > kMaxChunkBytes) {
    // Line by line: libtiff restarts a strip's decoding only to go back.
    scanlines_ = true;
    chunk_lines_ = 1;
    chunks_down_ = lines_;
    bytes = uint64_t{width_} * stored_samples * cell_bytes_;
    if (bytes > kMaxChunkBytes) return fail("Tiff error The image lines are too long");
    scratch_.resize(std::max<uint64_t>(bytes, TIFFScanlineSize64(tif_)));
  } else {
    if (bytes > kMaxChunkBytes || libtiff_bytes > kMaxChunkBytes)
      return fail(std::string("Tiff error ") + (tiled_ ? "Tiles" : "Strips") + " of " +
                  std::to_string(std::max(bytes, libtiff_bytes)) + " bytes are too large");
    scratch_.resize(std::max(bytes, libtiff_bytes));
  }
  chunk_samples_ = palette_.empty() ? stored_samples : 3;
  chunk_bytes_ = bytes / stored_samples * chunk_samples_;
  // Two rows of chunks across the image, at least four chunks.
  cache_slots_ = std::max<size_t>(4, size_t{2} * chunks_across_ * planes);
  cache_limit_ = cache_slots_ * chunk_bytes_;
  row_planes_.assign(planes, false);
  TakeMessages();
  return true;
}

bool Decoder::Decode(uint32_t index, std::vector<uint8_t>& out) {
  const uint32_t stored_samples = planar_ == PLANARCONFIG_SEPARATE ? 1 : samples_;
  const uint64_t stored_bytes = chunk_bytes_ / chunk_samples_ * stored_samples;
  // Plain cells are decoded straight into the chunk; palette indexes go
  // through the scratch buffer.
  const bool direct = palette_.empty();
  std::vector<uint8_t>& into = direct ? out : scratch_;
  into.resize(scratch_.size());
  bool ok = true;
  tmsize_t got = 0;
  if (scanlines_) {
    const uint32_t row = index % lines_;
    const auto plane = static_cast<uint16_t>(index / lines_);
    ok = TIFFReadScanline(tif_, into.data(), row, plane) == 1;
    got = static_cast<tmsize_t>(stored_bytes);
  } else if (TIFFGetStrileByteCount(tif_, index) != 0) {
    const auto size = static_cast<tmsize_t>(into.size());
    got = tiled_ ? TIFFReadEncodedTile(tif_, index, into.data(), size)
                 : TIFFReadEncodedStrip(tif_, index, into.data(), size);
    ok = got >= 0;
  }
  if (!ok) {
    if (failure_.empty())
      failure_ = std::string("Tiff error ") +
                 (scanlines_ ? "Line "
                  : tiled_   ? "Tile "
                             : "Strip ") +
                 std::to_string(index) + " cannot be decoded: " + TakeMessages();
    return false;
  }
  // A short last strip, or a missing chunk, leaves zeros.
  if (static_cast<uint64_t>(got) < into.size())
    std::fill(into.begin() + got, into.end(), uint8_t{0});
  if (!direct) {
    out.resize(chunk_bytes_);
    for (uint64_t i = 0; i < stored_bytes; ++i)
      std::memcpy(&out[3 * i], &palette_[3 * size_t{scratch_[i]}], 3);
    return true;
  }
  if (invert_ && cell_type_ == CellType::kUnsigned8) {
    for (uint8_t& b : out) b = static_cast<uint8_t>(255 - b);
  } else if (invert_) {
    for (uint64_t i = 0; i + 1 < out.size(); i += 2) {
      uint16_t v = 0;
      std::memcpy(&v, &out[i], 2);
      v = static_cast<uint16_t>(65535 - v);
      std::memcpy(&out[i], &v, 2);
    }
  }
  return true;
}

const Decoder::Chunk* Decoder::Fetch(uint32_t index) {
  if (auto it = where_.find(index); it != where_.end()) {
    cache_.splice(cache_.begin(), cache_, it->second);
    return &cache_.front();
  }
  // The least recently used chunk's buffer is reused for the new one.
  if (cache_.size() >= cache_slots_) {
    where_.erase(cache_.back().index);
    cache_.splice(cache_.begin(), cache_, std::prev(cache_.end()));
  } else {
    cache_.emplace_front();
  }
  Chunk& c = cache_.front();
  c.index = index;
  c.ok = Decode(index, c.cells);
  where_[index] = cache_.begin();
  return &c;
}

const uint8_t* Decoder::Span(uint32_t line, uint32_t band, uint32_t first, uint32_t last,
                             uint64_t& step) {
  if (line >= lines_ || band >= bands_ || first > last || last >= width_) return nullptr;
  const bool separate = planar_ == PLANARCONFIG_SEPARATE;
  const uint32_t plane = separate ? band : 0;
  const uint32_t sample = separate ? 0 : band;
  const uint64_t plane_base = uint64_t{plane} * chunks_across_ * chunks_down_;
  const uint32_t down = line / chunk_lines_;
  const uint64_t in_chunk_line = line % chunk_lines_;
  const uint64_t pixel = uint64_t{chunk_samples_} * cell_bytes_;
  if (chunks_across_ == 1) {
    const Chunk* c = Fetch(static_cast<uint32_t>(plane_base + down));
    if (!c->ok) return nullptr;
    step = pixel;
    return c->cells.data() + (in_chunk_line * chunk_width_ + first) * pixel +
           uint64_t{sample} * cell_bytes_;
  }
  // Tiles: the segment is put together from the tiles it crosses.
  const uint32_t row_samples = separate ? bands_ : chunk_samples_;
  const uint64_t row_pixel = uint64_t{row_samples} * cell_bytes_;
  if (row_line_ != line || first < row_first_ || last > row_last_) {
    row_line_ = line;
    row_first_ = first;
    row_last_ = last;
    row_.resize((uint64_t{last} - first + 1) * row_pixel);
    std::fill(row_planes_.begin(), row_planes_.end(), false);
  }
  if (!row_planes_[plane]) {
    for (uint32_t across = row_first_ / chunk_width_; across <= row_last_ / chunk_width_;
         ++across) {
      const Chunk* c =
          Fetch(static_cast<uint32_t>(plane_base + uint64_t{down} * chunks_across_ + across));
      if (!c->ok) {
        row_line_ = -1;
        return nullptr;
      }
      const uint64_t x0 = std::max<uint64_t>(row_first_, uint64_t{across} * chunk_width_);
      const uint64_t x1 =
          std::min<uint64_t>(row_last_, uint64_t{across} * chunk_width_ + chunk_width_ - 1);
      const uint8_t* from =
          c->cells.data() +
          (in_chunk_line * chunk_width_ + (x0 - uint64_t{across} * chunk_width_)) * pixel;
      uint8_t* to = row_.data() + (x0 - row_first_) * row_pixel;
      if (!separate) {
        std::memcpy(to, from, (x1 - x0 + 1) * pixel);
      } else {
        to += uint64_t{plane} * cell_bytes_;
        for (uint64_t x = x0; x <= x1; ++x, from += pixel, to += row_pixel)
          std::memcpy(to, from, cell_bytes_);
      }
    }
    row_planes_[plane] = true;
  }
  step = row_pixel;
  return row_.data() + (uint64_t{first} - row_first_) * row_pixel +
         uint64_t{separate ? band : sample} * cell_bytes_;
}

bool Decoder::Cell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  if (x >= width_ || y >= lines_ || band >= bands_) return false;
  const bool separate = planar_ == PLANARCONFIG_SEPARATE;
  const uint64_t index = uint64_t{separate ? band : 0u} * chunks_across_ * chunks_down_ +
                         uint64_t{y / chunk_lines_} * chunks_across_ + x / chunk_width_;
  const Chunk* c = Fetch(static_cast<uint32_t>(index));
  if (!c->ok) return false;
  const uint64_t pixel = uint64_t{chunk_samples_} * cell_bytes_;
  const uint8_t* p = c->cells.data() +
                     (uint64_t{y % chunk_lines_} * chunk_width_ + x % chunk_width_) * pixel +
                     uint64_t{separate ? 0u : band} * cell_bytes_;
  value = static_cast<float>(DecodeCell(p, cell_type_, std::endian::native == std::endian::little));
  return true;
}

}  // namespace clipra::tiff
