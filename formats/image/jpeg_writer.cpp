#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dataset/cell_codec.h"
#include "dataset/identify.h"
#include "dataset/utils.h"
#include "formats/image/jpeg.h"
#include "formats/image/jpeg_library.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

constexpr size_t kFileBufferSize = size_t{1} << 16;

// libjpeg's destination: a buffer emptied into the file whenever it fills.
struct Destination {
  jpeg_destination_mgr pub;
  OsFile* file;
  jpeg::ErrorManager* err;
  JOCTET buffer[kFileBufferSize];
};

void WriteOrStop(Destination* dest, size_t size) {
  const int code = size == 0 ? 0 : dest->file->Write(dest->buffer, size);
  if (code == 0) return;
  char text[JMSG_LENGTH_MAX];
  {
    // Gone before the jump, which would skip its destructor.
    const std::string reason = SystemErrorText(code);
    std::snprintf(text, sizeof text, "%s", reason.c_str());
  }
  jpeg::StopWith(dest->err, text);
}

extern "C" void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kFileBufferSize;
}

extern "C" boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  // The whole buffer, whatever free_in_buffer says.
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  WriteOrStop(dest, kFileBufferSize);
  InitDestination(cinfo);
  return TRUE;
}

extern "C" void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  WriteOrStop(dest, kFileBufferSize - dest->pub.free_in_buffer);
}

}  // namespace

struct JpegWriter::Encoder {
  jpeg::ErrorManager err{};
  Destination dest{};
  jpeg_compress_struct cinfo{};
  bool created = false;

  ~Encoder() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

namespace {

// The steps that call libjpeg. Each returns false when the library jumped
// back with an error. No object with a destructor may live in these frames.
bool CreateStep(j_compress_ptr cinfo, jpeg::ErrorManager* err) {
  if (setjmp(err->jump)) return false;
  jpeg_create_compress(cinfo);
  return true;
}

bool StartStep(j_compress_ptr cinfo, jpeg::ErrorManager* err, int quality) {
  if (setjmp(err->jump)) return false;
  jpeg_set_defaults(cinfo);
  // Baseline: quantisation tables of 8-bit entries, whatever the quality.
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  return true;
}

bool WriteLineStep(j_compress_ptr cinfo, jpeg::ErrorManager* err, uint8_t* line) {
  if (setjmp(err->jump)) return false;
  JSAMPROW row = line;
  jpeg_write_scanlines(cinfo, &row, 1);
  return true;
}

bool FinishStep(j_compress_ptr cinfo, jpeg::ErrorManager* err) {
  if (setjmp(err->jump)) return false;
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

JpegWriter::JpegWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                       CellType cell_type, int32_t bands, uint8_t mode, int quality) try
    : RasterWriter(file_name, width, lines, cell_type, bands, mode, false) {
  if (mode != 1) throw JpegError("JPEG files are written only as new files");
  if (const std::string refusal = Refusal(width, lines, cell_type, static_cast<uint32_t>(bands));
      !refusal.empty())
    throw JpegError(refusal);
  if (quality < 1 || quality > 100)
    throw JpegError("JPEG quality is 1 to 100, not " + std::to_string(quality));
  if (const int err = file_.Open(file_name, FileAccess::kCreate); err != 0)
    throw JpegError("Open write error " + std::to_string(err) + " " + SystemErrorText(err));
  encoder_ = std::make_unique<Encoder>();
  Encoder& e = *encoder_;
  e.cinfo.err = jpeg::UseErrorManager(e.err);
  if (!CreateStep(&e.cinfo, &e.err)) throw JpegError(jpeg::StepMessage("JPEG write", e.err));
  e.created = true;
  e.dest.pub.init_destination = InitDestination;
  e.dest.pub.empty_output_buffer = EmptyOutputBuffer;
  e.dest.pub.term_destination = TermDestination;
  e.dest.file = &file_;
  e.dest.err = &e.err;
  e.cinfo.dest = &e.dest.pub;
  e.cinfo.image_width = width;
  e.cinfo.image_height = lines;
  e.cinfo.input_components = bands;
  e.cinfo.in_color_space = bands == 3 ? JCS_RGB : JCS_GRAYSCALE;
  if (!StartStep(&e.cinfo, &e.err, quality))
    throw JpegError(jpeg::StepMessage("JPEG write", e.err));
  line_cells_.assign(size_t{width} * static_cast<size_t>(bands), 0);
} catch (const MappedOutputError& e) {
  throw JpegError(e.what());
}

JpegWriter::~JpegWriter() = default;

std::string JpegWriter::Refusal(uint32_t width, uint32_t lines, CellType cell_type,
                                uint32_t bands) {
  if (bands != 1 && bands != 3)
    return "JPEG files support 1 band (grey) or 3 bands (colour), not " + std::to_string(bands);
  if (cell_type != CellType::kUnsigned8) {
    const std::string& name = CellTypeName(cell_type);
    return "JPEG files support only byte cells" + (name.empty() ? "" : ", not " + name);
  }
  if (width == 0 || lines == 0 || width > kJpegMaxSide || lines > kJpegMaxSide)
    return "JPEG files hold 1 to " + std::to_string(kJpegMaxSide) + " cells each way, not " +
           std::to_string(width) + " x " + std::to_string(lines);
  return {};
}

void JpegWriter::Fail(const std::string& text) {
  failure_ = text;
  throw JpegError(text);
}

void JpegWriter::EncodeUpTo(uint32_t line) {
  Encoder& e = *encoder_;
  for (; line_ < line && line_ < Lines; ++line_) {
    if (!WriteLineStep(&e.cinfo, &e.err, line_cells_.data()))
      Fail(jpeg::StepMessage("JPEG write", e.err));
    std::fill(line_cells_.begin(), line_cells_.end(), uint8_t{0});
  }
}

bool JpegWriter::SetCell(uint32_t x, uint32_t y, uint32_t band, double value) {
  if (!encoder_ || !failure_.empty() || x >= Width || y >= Lines) return false;
  if (y < line_)
    throw JpegError("JPEG lines are written in order: line " + std::to_string(y) +
                    " came after line " + std::to_string(line_));
  EncodeUpTo(y);
  const uint32_t bands = static_cast<uint32_t>(Bands);
  if (band >= bands) band = bands - 1;
  uint8_t& cell = line_cells_[size_t{x} * bands + band];
  // Byte sources give whole numbers from 0 to 255, which need no rounding.
  if (value >= 0 && value <= 255 && value == static_cast<double>(static_cast<uint8_t>(value)))
    cell = static_cast<uint8_t>(value);
  else
    EncodeCell(&cell, CellType::kUnsigned8, value, true);
  return true;
}

bool JpegWriter::GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) {
  value = 0;
  if (!encoder_ || y != line_ || x >= Width || y >= Lines) return false;
  const uint32_t bands = static_cast<uint32_t>(Bands);
  if (band >= bands) band = bands - 1;
  value = line_cells_[size_t{x} * bands + band];
  return true;
}

void JpegWriter::SetGeoreference(const Georeference& georef) {
  georef_ = georef;
  georeferenced_ = true;
}

bool JpegWriter::Finish(const std::function<bool()>& stop) {
  if (!encoder_) return true;
  if (!failure_.empty()) throw JpegError(failure_);
  EncodeUpTo(Lines);
  if (!FinishStep(&encoder_->cinfo, &encoder_->err))
    Fail(jpeg::StepMessage("JPEG write", encoder_->err));
  // Both files are complete under their temporary names before either
  // takes its own.
  OsFile world;
  const std::string world_name = ChangeFileExt(FileName(), ".jgw");
  if (georeferenced_) {
    const std::string text = CentreWorldFileText(georef_);
    int err = world.Open(world_name, FileAccess::kCreate);
    if (err == 0) err = world.Write(text.data(), text.size());
    if (err != 0) Fail("World file " + world_name + " write error: " + SystemErrorText(err));
  }
  if (stop && stop()) {
    failure_ = "User Abort";
    return false;
  }
  if (const int err = file_.Commit(); err != 0)
    Fail("Open write error " + std::to_string(err) + " " + SystemErrorText(err));
  if (const int err = world.Commit(); err != 0)
    Fail("World file " + world_name + " write error: " + SystemErrorText(err));
  file_.Close();
  encoder_.reset();
  return true;
}

}  // namespace clipra
