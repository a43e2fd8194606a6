#include "formats/image/jpeg_scaled.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>

#include "dataset/identify.h"
#include "dataset/utils.h"
#include "formats/image/decoded_image.h"
#include "formats/image/jpeg.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

// The decoded block; it is made only here, never opened by name.
class ScaledJpegReader : public DecodedImageReader {
 public:
  ScaledJpegReader() { cell_type_ = CellType::kUnsigned8; }
  bool Open(const std::string&) override { return false; }
  Georeference& Placement() { return Georef(); }
};

struct ErrorJump {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void ScaledErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorJump*>(cinfo->err);
  err->pub.format_message(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

extern "C" void ScaledEmitMessage(j_common_ptr cinfo, int level) {
  // Corrupt data ends the decode, as it does for the full-size reader.
  if (level < 0) ScaledErrorExit(cinfo);
}

extern "C" void ScaledOutputMessage(j_common_ptr) {}

// Each step returns false when libjpeg jumped back with an error. No object
// with a destructor may live in these frames: the jump would skip it.
bool StartStep(j_decompress_ptr cinfo, ErrorJump* err, std::FILE* file, uint32_t min_width,
               uint32_t min_lines) {
  if (setjmp(err->jump)) return false;
  jpeg_create_decompress(cinfo);
  jpeg_stdio_src(cinfo, file);
  jpeg_read_header(cinfo, TRUE);
  cinfo->scale_num = static_cast<unsigned>(
      JpegScaleNumerator(cinfo->image_width, cinfo->image_height, min_width, min_lines));
  cinfo->scale_denom = 8;
  cinfo->out_color_space = cinfo->num_components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_calc_output_dimensions(cinfo);
  return true;
}

bool DecodeStep(j_decompress_ptr cinfo, ErrorJump* err, uint8_t* block, uint64_t line_size) {
  if (setjmp(err->jump)) return false;
  jpeg_start_decompress(cinfo);
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = block + uint64_t{cinfo->output_scanline} * line_size;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
      std::snprintf(err->message, sizeof err->message, "line %u not delivered",
                    cinfo->output_scanline);
      return false;
    }
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

}  // namespace

int JpegScaleNumerator(uint32_t width, uint32_t lines, uint32_t min_width, uint32_t min_lines) {
  for (int n = 1; n < 8; ++n) {
    // libjpeg rounds the reduced size up.
    const uint64_t w = (uint64_t{width} * n + 7) / 8;
    const uint64_t l = (uint64_t{lines} * n + 7) / 8;
    if (w >= min_width && l >= min_lines) return n;
  }
  return 8;
}

std::unique_ptr<RasterReader> OpenJpegScaled(const std::string& file_name, uint32_t min_width,
                                             uint32_t min_lines, std::string& error) {
  std::FILE* file = std::fopen(file_name.c_str(), "rb");
  if (!file) {
    error = "Cannot open " + file_name + ": " + SystemErrorText(errno);
    return nullptr;
  }
  auto reader = std::make_unique<ScaledJpegReader>();
  ErrorJump err{};
  jpeg_decompress_struct cinfo{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ScaledErrorExit;
  err.pub.emit_message = ScaledEmitMessage;
  err.pub.output_message = ScaledOutputMessage;
  bool ok = StartStep(&cinfo, &err, file, min_width, min_lines);
  unsigned num = 8;
  if (ok) {
    num = cinfo.scale_num;
    const uint32_t bands = static_cast<uint32_t>(cinfo.output_components);
    reader->Width = cinfo.output_width;
    reader->Lines = cinfo.output_height;
    reader->Bands = bands;
    reader->LineSize = (uint64_t{reader->Width} * bands + 3) / 4 * 4;
    uint64_t block = 0;
    if (bands != 1 && bands != 3) {
      std::snprintf(err.message, sizeof err.message, "Not a grey or RGB image");
      ok = false;
    } else if (__builtin_mul_overflow(reader->LineSize, uint64_t{reader->Lines}, &block) ||
               block > JpegMemoryLimit() || block > SIZE_MAX) {
      std::snprintf(err.message, sizeof err.message, "Out of memory");
      ok = false;
    } else {
      // A progressive file keeps its coefficients at full size whatever the
      // scale; they share what the block left.
      const uint64_t rest = JpegMemoryLimit() - block;
      cinfo.mem->max_memory_to_use = rest == 0         ? 1
                                     : rest > LONG_MAX ? LONG_MAX
                                                       : static_cast<long>(rest);
      reader->ImageBuffer.reset(new (std::nothrow) uint8_t[block]());
      ok = reader->ImageBuffer &&
           DecodeStep(&cinfo, &err, reader->ImageBuffer.get(), reader->LineSize);
      if (!reader->ImageBuffer) std::snprintf(err.message, sizeof err.message, "Out of memory");
    }
  }
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  if (!ok) {
    error = std::string("JPEG read error: ") + err.message;
    return nullptr;
  }

  reader->FileName = file_name;
  const std::string world = FindWorldFile(file_name, {".jpgw", ".jgw", ".wld"});
  Georeference& placement = reader->Placement();
  if (!world.empty()) ReadWorldFile(placement, world);
  // Each 8 x 8 block becomes n x n: reduced cell i covers full cells
  // [i * f, (i + 1) * f) with f = 8 / n, and its centre lies (f - 1) / 2
  // cells past the centre of the first of them.
  const long double fx = 8.0L / num;
  const long double fy = fx;
  const double cell_x = reader->GetCellSizeX();
  const double cell_y = reader->GetCellSizeY();
  const double left = static_cast<double>(reader->GetLeftX() + (fx - 1) / 2 * cell_x);
  const double top = static_cast<double>(reader->GetTopY() - (fy - 1) / 2 * cell_y);
  placement.CellSizeX = static_cast<double>(fx * cell_x);
  placement.CellSizeY = static_cast<double>(fy * cell_y);
  placement.RegCellX = 0;
  placement.RegCellY = 0;
  placement.RegX = left;
  placement.RegY = top;
  return reader;
}

}  // namespace clipra
