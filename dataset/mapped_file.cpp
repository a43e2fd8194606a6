#include "dataset/mapped_file.h"

#include <cerrno>
#include <cmath>

#include "dataset/cell_codec.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

namespace {
constexpr uint64_t kFourGiB = uint64_t{1} << 32;
}

bool MappedFile::Open(const std::string& file_name, uint8_t mode, uint64_t size) {
  Close();
  FileName = file_name;
  FileSize = size;
  Mode = mode;
  const FileAccess access = mode == 1   ? FileAccess::kCreate
                            : mode == 2 ? FileAccess::kReadWrite
                                        : FileAccess::kRead;
  if (const int err = file_.Open(file_name, access); err != 0) {
    LastError = static_cast<uint32_t>(err);
    return false;
  }
  if (mode != 1) {
    if (const int err = file_.Size(FileSize); err != 0) {
      LastError = static_cast<uint32_t>(err);
      Close();
      return false;
    }
  }
  if (FileSize < kFourGiB && FileSize < ViewSize) {
    MaxViewSize = FileSize;
    ViewSize = FileSize;
  }
  // An empty file cannot be mapped.
  if (FileSize == 0) {
    LastError = EINVAL;
    Close();
    return false;
  }
  if (mode == 1) {
    if (const int err = file_.Reserve(FileSize); err != 0) {
      LastError = static_cast<uint32_t>(err);
      Close();
      return false;
    }
  }
  Remap = true;
  Position = 0;
  // The first view needs only one byte: a file shorter than the caller's
  // Need still opens, and its own MapAt calls then judge each request.
  const uint32_t need = Need;
  Need = 1;
  const bool mapped = MapAt();
  Need = need;
  if (mapped && mode == 1) {
    if (const int err = file_.Commit(); err != 0) {
      LastError = static_cast<uint32_t>(err);
      Close();
      return false;
    }
  }
  return mapped;
}

void MappedFile::Close() {
  view_.Unmap();
  View = nullptr;
  Current = nullptr;
  file_.Close();
  FirstLine = 0;
  EndLine = -1;
}

bool MappedFile::MapAt() {
  if (Position >= FileSize) {
    LastError = 1;
    ErrorText = "Position outside of file";
    return false;
  }
  // The requested bytes must lie inside the file, whatever the view.
  if (Need > FileSize - Position) {
    LastError = 1;
    ErrorText = "The rest of file is smaller than needed num of bytes";
    return false;
  }
  const bool keep = !Remap && View != nullptr && Position >= ViewOffset &&
                    Position - ViewOffset < ViewSize && Need <= ViewSize - (Position - ViewOffset);
  if (!keep) {
    Remap = false;
    const uint64_t offset = Position - Position % kViewGranularity;
    const uint64_t rest = FileSize - offset;
    // Grow the view past MaxViewSize only as far as a single request needs.
    uint64_t length = MaxViewSize;
    const uint64_t wanted = Position - offset + Need;
    if (length < wanted) length = wanted;
    if (length > rest) length = rest;
    if (!file_.IsOpen()) return false;
    view_.Unmap();
    View = nullptr;
    Current = nullptr;
    if (const int err = view_.Map(file_, offset, length, Mode != 0); err != 0) {
      LastError = static_cast<uint32_t>(err);
      ErrorText = SystemErrorText(err);
      FirstLine = 0;
      EndLine = -1;
      return false;
    }
    LastError = 0;
    View = view_.data();
    ViewOffset = offset;
    ViewSize = length;
  }
  Current = View + (Position - ViewOffset);
  FirstLine = 0;
  EndLine = -1;
  return true;
}

const uint8_t* MappedFile::At(uint64_t position, uint32_t need) {
  Position = position;
  Need = need;
  return MapAt() ? Current : nullptr;
}

uint64_t MappedFile::Available() const {
  if (!View || !Current) return 0;
  return ViewSize - static_cast<uint64_t>(Current - View);
}

uint32_t MappedRaster::CellBytes() const {
  const uint32_t size = CellTypeSize(cell_type_);
  return size == 0 ? 1 : size;
}

bool MappedRaster::OpenRaster(const std::string& file_name, uint32_t width, uint32_t lines,
                              CellType cell_type, uint32_t bands, uint8_t mode, bool msb_first) {
  Width = width;
  Lines = lines;
  Bands = bands;
  cell_type_ = cell_type;
  SetByteOrder(msb_first);
  const uint64_t cell_size = CellBytes();
  uint64_t count = 0;
  bool count_fits = !__builtin_mul_overflow(uint64_t{width}, uint64_t{lines}, &count) &&
                    !__builtin_mul_overflow(count, uint64_t{bands}, &count);
  uint64_t expected = 0;
  if (count_fits) count_fits = !__builtin_mul_overflow(count, cell_size, &expected);
  // Cells after a leading block must still fit; a new file has none.
  const uint64_t offset = mode == 1 ? 0 : DataOffset;
  if (count_fits) count_fits = !__builtin_add_overflow(expected, offset, &expected);
  CellCount = count_fits ? count : 0;
  if (mode == 1 && !count_fits) {
    LastError = EFBIG;
    return false;
  }
  // Bytes after the last cell are common padding; too few bytes would
  // leave cells without data. A range failure, so LastError is 1.
  auto too_short = [&] {
    ErrorText = "Data file " + file_name + " holds " + std::to_string(FileSize) +
                " bytes; its header describes " +
                (count_fits ? std::to_string(expected) : "more than " + std::to_string(UINT64_MAX));
    LastError = 1;
    Close();
    return false;
  };
  if (!Open(file_name, mode, expected)) {
    // An empty file cannot be mapped: it is simply too short.
    const bool empty = mode != 1 && FileSize == 0 && LastError == EINVAL;
    return empty && (!count_fits || expected > 0) ? too_short() : false;
  }
  if (!count_fits || FileSize < expected) return too_short();
  LineSize = cell_size * Width * Bands;
  if (LineSize > MaxViewSize || LineSize == 0) {
    ErrorText = "Buffer size is less than one line";
    return false;
  }
  FirstLine = 0;
  // With a leading block the first view does not start at line 0.
  EndLine = offset == 0 ? static_cast<int64_t>(ViewSize / LineSize) : -1;
  LineStart = View;
  return true;
}

bool MappedRaster::SeekLine(uint32_t line, uint32_t /*band*/) {
  if (line >= Lines || LineSize == 0) return false;
  if (FirstLine <= line && line < EndLine) {
    Current = LineStart + (static_cast<uint64_t>(line) - FirstLine) * LineSize;
    return true;
  }
  Remap = true;
  if (LineSize > UINT32_MAX) return false;
  Need = static_cast<uint32_t>(LineSize);
  Position = static_cast<uint64_t>(line) * LineSize + (Mode == 1 ? 0 : DataOffset);
  const bool ok = MapAt();
  LineStart = Current;
  if (ok) {
    FirstLine = line;
    EndLine = line + static_cast<int64_t>((ViewSize - (Current - View)) / LineSize);
  } else {
    FirstLine = 0;
    EndLine = -1;
  }
  return ok;
}

const uint8_t* MappedRaster::CellRun(uint32_t line, uint32_t band, uint64_t& step,
                                     uint32_t& count) {
  if (!HasPlainLayout() || Bands == 0) return nullptr;
  if (band >= Bands) band = Bands - 1;
  if (!SeekLine(line, band)) return nullptr;
  step = CellBytes();
  count = Width;
  return Current + uint64_t{band} * Width * step;
}

const uint8_t* MappedRaster::CellSpan(uint32_t line, uint32_t band, uint64_t& step, uint32_t& begin,
                                      uint32_t& end) {
  begin = 0;
  return CellRun(line, band, step, end);
}

bool MappedRaster::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  if (Bands == 0) return false;
  if (band >= Bands) band = Bands - 1;
  if (x >= Width || y >= Lines) return false;
  if (!SeekLine(y, band)) return false;
  const uint8_t* p = Current + (static_cast<uint64_t>(band) * Width + x) * CellBytes();
  value = static_cast<float>(DecodeCell(p, cell_type_, LSBFirst));
  return true;
}

bool MappedRaster::SetCell(uint32_t x, uint32_t y, uint32_t band, float value) {
  if (Mode == 0 || Bands == 0) return false;
  if (band >= Bands) band = Bands - 1;
  if (x >= Width || y >= Lines) return false;
  if (!SeekLine(y, band)) return false;
  uint8_t* p = Current + (static_cast<uint64_t>(band) * Width + x) * CellBytes();
  EncodeCell(p, cell_type_, value, LSBFirst);
  return true;
}

bool MappedRaster::GetRGB(uint32_t x, uint32_t y, uint32_t& color) {
  if (x >= Width || y >= Lines || Bands != 3 || cell_type_ != CellType::kUnsigned8) return false;
  if (!SeekLine(y, 0)) return false;
  const uint8_t* p = Current + 3 * static_cast<uint64_t>(x);
  color = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
  return true;
}

bool MappedRaster::SetRGB(uint32_t x, uint32_t y, uint32_t color) {
  if (Mode == 0) return false;
  if (x >= Width || y >= Lines || Bands != 3 || cell_type_ != CellType::kUnsigned8) return false;
  if (!SeekLine(y, 0)) return false;
  uint8_t* p = Current + 3 * static_cast<uint64_t>(x);
  p[0] = static_cast<uint8_t>(color);
  p[1] = static_cast<uint8_t>(color >> 8);
  p[2] = static_cast<uint8_t>(color >> 16);
  return true;
}

bool MappedRaster::Get4Cells(uint32_t x, uint32_t y, float values[4], uint32_t band) {
  if (Bands > 0 && band >= Bands) band = Bands - 1;
  if (!(uint64_t{x} + 1 < Width && uint64_t{y} + 1 < Lines)) return false;
  return GetCell(x, y, band, values[0]) && GetCell(x + 1, y, band, values[3]) &&
         GetCell(x + 1, y + 1, band, values[2]) && GetCell(x, y + 1, band, values[1]);
}

bool MappedRaster::GetBilinear(uint32_t band, float& value, double x, double y) {
  if (!(x >= 0) || !(y >= 0) || x >= 4294967296.0 || y >= 4294967296.0) {
    value = 0;
    return false;
  }
  const double ix = std::floor(x);
  const double iy = std::floor(y);
  const auto cx = static_cast<uint32_t>(ix);
  const auto cy = static_cast<uint32_t>(iy);
  if (x == ix && y == iy) return GetCell(cx, cy, band, value);
  float c[4];
  if (!Get4Cells(cx, cy, c, band)) {
    value = 0;
    return false;
  }
  const long double dx = static_cast<long double>(x) - ix;
  const long double dy = static_cast<long double>(y) - iy;
  const long double v = c[0] + (static_cast<long double>(c[3]) - c[0]) * dx +
                        (static_cast<long double>(c[1]) - c[0]) * dy +
                        (static_cast<long double>(c[2]) - c[3] - c[1] + c[0]) * dx * dy;
  value = static_cast<float>(v);
  return true;
}

}  // namespace clipra
