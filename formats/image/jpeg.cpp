#include "formats/image/jpeg.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "formats/image/jpeg_library.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

uint64_t& MemoryLimit() {
  static uint64_t limit = PhysicalMemory();
  return limit;
}

using jpeg::ErrorManager;
using jpeg::StepMessage;

struct ProgressMonitor {
  jpeg_progress_mgr pub;
  ErrorManager* err;
};

extern "C" void CheckProgress(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJpegMaxScans) {
    char text[32];
    std::snprintf(text, sizeof text, "more than %d scans", kJpegMaxScans);
    jpeg::StopWith(progress->err, text);
  }
}

// The steps that call libjpeg. Each returns false when the library jumped
// back with an error. No object with a destructor may live in these frames:
// the jump would skip it.
bool CreateStep(j_decompress_ptr cinfo, ErrorManager* err) {
  if (setjmp(err->jump)) return false;
  jpeg_create_decompress(cinfo);
  return true;
}

bool ReadHeaderStep(j_decompress_ptr cinfo, ErrorManager* err, std::FILE* file) {
  if (setjmp(err->jump)) return false;
  jpeg_stdio_src(cinfo, file);
  jpeg_read_header(cinfo, TRUE);
  return true;
}

// What one decode delivers: lines `first`..`last` of columns `left`..`right`
// into `block`, `block_line` bytes a line. The whole image keeps its padded
// lines; a part is cropped and skipped to by the library, one iMCU wider on
// each side and one taller above, so that the decoder's smoothing across
// block edges (fancy upsampling) gives the cells a whole decode gives.
struct DecodePlan {
  bool whole;
  uint32_t left, right, first, last;
  uint8_t* block;
  uint64_t block_line;
  uint8_t* scratch;  // one decoded line of the whole width
};

bool DecodeStep(j_decompress_ptr cinfo, ErrorManager* err, const DecodePlan& plan,
                uint64_t pixel_bytes) {
  if (setjmp(err->jump)) return false;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width * static_cast<uint64_t>(cinfo->output_components) != pixel_bytes) {
    err->code = -1;
    std::snprintf(err->message, sizeof err->message, "decoded lines differ from the header");
    return false;
  }
  const uint32_t bands = static_cast<uint32_t>(cinfo->output_components);
  JDIMENSION crop_x = 0;
  if (!plan.whole) {
    const uint32_t wide = static_cast<uint32_t>(cinfo->max_h_samp_factor) * DCTSIZE;
    const uint32_t tall = static_cast<uint32_t>(cinfo->max_v_samp_factor) * DCTSIZE;
    crop_x = plan.left > wide ? plan.left - wide : 0;
    const uint64_t right = std::min<uint64_t>(uint64_t{plan.right} + 1 + wide, cinfo->output_width);
    JDIMENSION crop_width = static_cast<JDIMENSION>(right - crop_x);
    if (crop_x != 0 || crop_width != cinfo->output_width)
      jpeg_crop_scanline(cinfo, &crop_x, &crop_width);
    const uint32_t skip = plan.first > tall ? (plan.first - tall) / tall * tall : 0;
    if (skip > 0 && jpeg_skip_scanlines(cinfo, skip) != skip) {
      err->code = -1;
      std::snprintf(err->message, sizeof err->message, "line %u not delivered",
                    cinfo->output_scanline);
      return false;
    }
  }
  const uint64_t part_bytes = (uint64_t{plan.right} - plan.left + 1) * bands;
  while (cinfo->output_scanline <= plan.last) {
    const uint32_t y = cinfo->output_scanline;
    uint8_t* line = plan.whole ? plan.block + uint64_t{y} * plan.block_line : plan.scratch;
    JSAMPROW row = line;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
      err->code = -1;
      std::snprintf(err->message, sizeof err->message, "line %u not delivered", y);
      return false;
    }
    if (plan.whole)
      std::memset(line + pixel_bytes, 0, plan.block_line - pixel_bytes);
    else if (y >= plan.first)
      std::memcpy(plan.block + uint64_t{y - plan.first} * plan.block_line,
                  line + (uint64_t{plan.left} - crop_x) * bands, part_bytes);
  }
  // Reading on to the end of the image checks what follows the last line.
  if (cinfo->output_scanline == cinfo->output_height) jpeg_finish_decompress(cinfo);
  return true;
}

class DecompressGuard {
 public:
  explicit DecompressGuard(j_decompress_ptr cinfo) : cinfo_(cinfo) {}
  ~DecompressGuard() { jpeg_destroy_decompress(cinfo_); }
  DecompressGuard(const DecompressGuard&) = delete;
  DecompressGuard& operator=(const DecompressGuard&) = delete;

 private:
  j_decompress_ptr cinfo_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void SetJpegMemoryLimit(uint64_t bytes) {
  MemoryLimit() = bytes;
}

uint64_t JpegMemoryLimit() {
  return MemoryLimit();
}

JpegReader::JpegReader() = default;

JpegReader::~JpegReader() = default;

std::vector<std::string> JpegReader::Files() const {
  std::vector<std::string> files = RasterReader::Files();
  if (!world_file_.empty()) files.push_back(world_file_);
  return files;
}

bool JpegReader::Open(const std::string& file_name) {
  FileName = file_name;
  cell_type_ = CellType::kUnsigned8;
  Mode = 0;
  SetByteOrder(false);
  ImageBuffer.reset();
  PartLineSize = 0;
  decode_failed_ = false;
  world_file_ = FindWorldFile(file_name, {".jpgw", ".jgw", ".wld"});
  if (!world_file_.empty()) ReadWorldFile(Georef(), world_file_);

  ErrorText.clear();
  // Only the header now: the cells are decoded when first asked for, or
  // when a caller advises which of them it will read.
  if (const int code = Decode(false, 0, 0, 0, 0); code != 0) {
    LastError = 1;
    ErrorText = "Open read error " + std::to_string(code) + " " + ErrorText;
    return false;
  }
  LastError = 0;
  FirstLine = 0;
  EndLine = -1;
  return true;
}

bool JpegReader::AdviseRead(uint32_t first_col, uint32_t first_line, uint32_t last_col,
                            uint32_t last_line) {
  if (Width == 0 || Lines == 0 || first_col > last_col || first_line > last_line ||
      first_col >= Width || first_line >= Lines)
    return true;
  last_col = std::min(last_col, Width - 1);
  last_line = std::min(last_line, Lines - 1);
  if (decode_failed_) return false;
  if (ImageBuffer &&
      (PartLineSize == 0 || (first_col >= PartLeft && last_col < PartRight &&
                             first_line >= PartTop && last_line - PartTop < PartLines)))
    return true;
  return DecodeCells(first_col, first_line, last_col, last_line);
}

bool JpegReader::Prepare(uint32_t /*x*/, uint32_t /*y*/) {
  if (decode_failed_) return false;
  // A cell outside the advised part: from now on the whole image.
  return DecodeCells(0, 0, Width - 1, Lines - 1);
}

bool JpegReader::DecodeCells(uint32_t first_col, uint32_t first_line, uint32_t last_col,
                             uint32_t last_line) {
  ImageBuffer.reset();
  PartLineSize = 0;
  const int code = Decode(true, first_col, first_line, last_col, last_line);
  if (code == 0) return true;
  decode_failed_ = true;
  LastError = 1;
  ErrorText = "Open read error " + std::to_string(code) + " " + ErrorText;
  return false;
}

int JpegReader::Decode(bool cells, uint32_t first_col, uint32_t first_line, uint32_t last_col,
                       uint32_t last_line) {
  if (!FileExists(FileName)) {
    ErrorText = "File not Exists";
    return 1;
  }
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(FileName.c_str(), "rb"));
  if (!file) {
    const int err = errno != 0 ? errno : EIO;
    ErrorText = SystemErrorText(err);
    return err;
  }

  ErrorManager err{};
  ProgressMonitor progress{};
  jpeg_decompress_struct cinfo{};
  cinfo.err = jpeg::UseErrorManager(err);
  if (!CreateStep(&cinfo, &err)) {
    jpeg_destroy_decompress(&cinfo);
    ErrorText = StepMessage("JPEG init", err);
    return 1;
  }
  const DecompressGuard guard(&cinfo);
  progress.pub.progress_monitor = CheckProgress;
  progress.err = &err;
  cinfo.progress = &progress.pub;

  if (!ReadHeaderStep(&cinfo, &err, file.get())) {
    ErrorText = StepMessage("JPEG read params", err);
    return 1;
  }
  cell_type_ = CellType::kUnsigned8;
  Width = cinfo.image_width;
  Lines = cinfo.image_height;
  Bands = static_cast<uint32_t>(cinfo.num_components);
  const uint64_t pixel_bytes = uint64_t{Width} * Bands;
  LineSize = (pixel_bytes + 3) / 4 * 4;
  if (Bands != 1 && Bands != 3) {
    ErrorText = "Not a grey or RGB image: " + std::to_string(Bands) + " channels";
    return 1;
  }
  if (!cells) return 0;
  cinfo.out_color_space = Bands == 3 ? JCS_RGB : JCS_GRAYSCALE;

  DecodePlan plan{};
  plan.whole = first_col == 0 && first_line == 0 && last_col + 1 == Width && last_line + 1 == Lines;
  plan.left = first_col;
  plan.right = last_col;
  plan.first = first_line;
  plan.last = last_line;
  plan.block_line = plan.whole ? LineSize : (uint64_t{last_col} - first_col + 1) * Bands;
  const uint64_t scratch_bytes = plan.whole ? 0 : pixel_bytes;
  const uint64_t limit = JpegMemoryLimit();
  uint64_t block = 0;
  std::unique_ptr<uint8_t[]> scratch;
  try {
    if (__builtin_mul_overflow(plan.block_line, uint64_t{last_line} - first_line + 1, &block) ||
        __builtin_add_overflow(block, scratch_bytes, &block) || block > limit || block > SIZE_MAX)
      throw std::bad_alloc();
    ImageBuffer = std::make_unique_for_overwrite<uint8_t[]>(block - scratch_bytes);
    if (scratch_bytes > 0) scratch = std::make_unique_for_overwrite<uint8_t[]>(scratch_bytes);
  } catch (const std::bad_alloc&) {
    ImageBuffer.reset();
    ErrorText = "Out of memory";
    return 1;
  }
  plan.block = ImageBuffer.get();
  plan.scratch = scratch.get();
  // The decoder's own buffers (whole-image coefficients for progressive
  // files) share what the block left; 0 would mean no limit at all.
  const uint64_t rest = limit - block;
  cinfo.mem->max_memory_to_use = rest == 0         ? 1
                                 : rest > LONG_MAX ? LONG_MAX
                                                   : static_cast<long>(rest);

  if (!DecodeStep(&cinfo, &err, plan, pixel_bytes)) {
    ImageBuffer.reset();
    ErrorText = StepMessage("JPEG read whole image", err);
    return 1;
  }
  if (!plan.whole) {
    PartLeft = first_col;
    PartRight = last_col + 1;
    PartTop = first_line;
    PartLines = last_line - first_line + 1;
    PartLineSize = plan.block_line;
  }
  return 0;
}

}  // namespace clipra
