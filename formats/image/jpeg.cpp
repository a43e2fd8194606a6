#include "formats/image/jpeg.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

uint64_t PhysicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

uint64_t& MemoryLimit() {
  static uint64_t limit = PhysicalMemory();
  return limit;
}

// libjpeg reports through these callbacks. Every error and every warning
// (corrupt data) ends the decode by a jump back into the step that called
// the library; nothing is printed.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code;  // libjpeg's message code, or -1 for a stop of our own
  char message[JMSG_LENGTH_MAX];
};

struct ProgressMonitor {
  jpeg_progress_mgr pub;
  ErrorManager* err;
};

[[noreturn]] void Stop(ErrorManager* err) {
  std::longjmp(err->jump, 1);
}

extern "C" void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->code = err->pub.msg_code;
  err->pub.format_message(cinfo, err->message);
  Stop(err);
}

extern "C" void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ErrorExit(cinfo);
}

extern "C" void OutputMessage(j_common_ptr) {}

extern "C" void CheckProgress(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJpegMaxScans) {
    ErrorManager* err = progress->err;
    err->code = -1;
    std::snprintf(err->message, sizeof err->message, "more than %d scans", kJpegMaxScans);
    Stop(err);
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

bool DecodeStep(j_decompress_ptr cinfo, ErrorManager* err, uint8_t* block, uint64_t line_size,
                uint64_t pixel_bytes) {
  if (setjmp(err->jump)) return false;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width * static_cast<uint64_t>(cinfo->output_components) != pixel_bytes) {
    err->code = -1;
    std::snprintf(err->message, sizeof err->message, "decoded lines differ from the header");
    return false;
  }
  while (cinfo->output_scanline < cinfo->output_height) {
    uint8_t* line = block + uint64_t{cinfo->output_scanline} * line_size;
    JSAMPROW row = line;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
      err->code = -1;
      std::snprintf(err->message, sizeof err->message, "line %u not delivered",
                    cinfo->output_scanline);
      return false;
    }
    std::memset(line + pixel_bytes, 0, line_size - pixel_bytes);
  }
  jpeg_finish_decompress(cinfo);
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

// "<step> error: <code> <text>", or "Out of memory" when the library ran out.
std::string StepMessage(const char* step, const ErrorManager& err) {
  if (err.code == JERR_OUT_OF_MEMORY || err.code == JERR_NO_BACKING_STORE) return "Out of memory";
  std::string text = std::string(step) + " error: ";
  if (err.code >= 0) text += std::to_string(err.code) + " ";
  return text + err.message;
}

}  // namespace

void SetJpegMemoryLimit(uint64_t bytes) {
  MemoryLimit() = bytes;
}

uint64_t JpegMemoryLimit() {
  return MemoryLimit();
}

JpegReader::JpegReader() = default;

JpegReader::~JpegReader() = default;

bool JpegReader::Open(const std::string& file_name) {
  FileName = file_name;
  CellType = kCellUnsigned8;
  Mode = 0;
  SetByteOrder(false);
  const std::string world = FindWorldFile(file_name, {".jpgw", ".jgw", ".wld"});
  if (!world.empty()) ReadWorldFile(Georef(), world);

  ErrorText.clear();
  if (const int code = DecodeImage(); code != 0) {
    LastError = 1;
    ErrorText = "Open read error " + std::to_string(code) + " " + ErrorText;
    return false;
  }
  LastError = 0;
  FirstLine = 0;
  EndLine = -1;
  return true;
}

int JpegReader::DecodeImage() {
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
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
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
  CellType = kCellUnsigned8;
  Width = cinfo.image_width;
  Lines = cinfo.image_height;
  Bands = static_cast<uint32_t>(cinfo.num_components);
  const uint64_t pixel_bytes = uint64_t{Width} * Bands;
  LineSize = (pixel_bytes + 3) / 4 * 4;
  if (Bands != 1 && Bands != 3) {
    ErrorText = "Not a grey or RGB image: " + std::to_string(Bands) + " channels";
    return 1;
  }
  cinfo.out_color_space = Bands == 3 ? JCS_RGB : JCS_GRAYSCALE;

  const uint64_t limit = JpegMemoryLimit();
  uint64_t block = 0;
  try {
    if (__builtin_mul_overflow(LineSize, uint64_t{Lines}, &block) || block > limit ||
        block > SIZE_MAX)
      throw std::bad_alloc();
    ImageBuffer = std::make_unique_for_overwrite<uint8_t[]>(block);
  } catch (const std::bad_alloc&) {
    ErrorText = "Out of memory";
    return 1;
  }
  // The decoder's own buffers (whole-image coefficients for progressive
  // files) share what the block left; 0 would mean no limit at all.
  const uint64_t rest = limit - block;
  cinfo.mem->max_memory_to_use = rest == 0         ? 1
                                 : rest > LONG_MAX ? LONG_MAX
                                                   : static_cast<long>(rest);

  if (!DecodeStep(&cinfo, &err, ImageBuffer.get(), LineSize, pixel_bytes)) {
    ImageBuffer.reset();
    ErrorText = StepMessage("JPEG read whole image", err);
    return 1;
  }
  return 0;
}

}  // namespace clipra
