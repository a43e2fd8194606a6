#include "dataset/mapped_output.h"

#include <cerrno>
#include <cmath>

#include "dataset/cell_codec.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

MappedOutputFile::MappedOutputFile(const std::string& file_name, CellType cell_type, uint8_t mode,
                                   bool msb_first)
    : cell_type_(cell_type), file_name_(file_name), lsb_first_(!msb_first), mode_(mode) {
  if (file_name.empty()) throw MappedOutputFileError("No file name");
}

MappedOutputFile::~MappedOutputFile() {
  CloseFile();
}

void MappedOutputFile::CloseFile() {
  view_.Unmap();
  data_ = nullptr;
  writable_ = false;
  file_.Close();
}

bool MappedOutputFile::OpenExisting(FileAccess access) {
  if (mode_ == 1) return false;
  CloseFile();
  if (const int err = file_.Open(file_name_, access); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    return false;
  }
  if (const int err = file_.Size(file_size_); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    CloseFile();
    return false;
  }
  if (const int err = view_.Map(file_, 0, file_size_, access != FileAccess::kRead); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    CloseFile();
    return false;
  }
  data_ = view_.data();
  writable_ = access != FileAccess::kRead;
  const uint32_t size = CellTypeSize(cell_type_);
  count_ = cell_type_ == CellType::kOneBit ? file_size_ * 8 : file_size_ / size;
  last_error_ = 0;
  return true;
}

bool MappedOutputFile::OpenRead() {
  return OpenExisting(FileAccess::kRead);
}

bool MappedOutputFile::OpenReadWrite() {
  return OpenExisting(FileAccess::kReadWrite);
}

bool MappedOutputFile::CreateNew(uint64_t count, bool named) {
  if (mode_ != 1 || count == 0) {
    last_error_ = EINVAL;  // so that the caller's message has a reason
    return false;
  }
  CloseFile();
  uint64_t size = 0;
  if (cell_type_ == CellType::kOneBit) {
    size = count / 8 + (count % 8 != 0);
  } else if (__builtin_mul_overflow(count, uint64_t{CellTypeSize(cell_type_)}, &size)) {
    last_error_ = EFBIG;
    return false;
  }
  count_ = count;
  file_size_ = size;
  if (const int err = file_.Open(file_name_, FileAccess::kCreate); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    return false;
  }
  if (const int err = file_.Reserve(file_size_); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    CloseFile();
    return false;
  }
  if (const int err = view_.Map(file_, 0, file_size_, true); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    CloseFile();
    return false;
  }
  if (const int err = named ? file_.Commit() : file_.Unlink(); err != 0) {
    last_error_ = static_cast<uint32_t>(err);
    CloseFile();
    return false;
  }
  data_ = view_.data();
  writable_ = true;
  last_error_ = 0;
  return true;
}

bool MappedOutputFile::CellOffset(uint64_t index, uint64_t& offset) const {
  if (cell_type_ == CellType::kOneBit) {
    offset = index / 8;
  } else if (__builtin_mul_overflow(index, uint64_t{CellTypeSize(cell_type_)}, &offset)) {
    return false;
  }
  // The cell's last byte must lie inside the file, not only its first.
  const uint64_t size = cell_type_ == CellType::kOneBit ? 1 : CellTypeSize(cell_type_);
  return data_ != nullptr && offset < file_size_ && size <= file_size_ - offset;
}

double MappedOutputFile::ReadCell(uint64_t index, uint64_t offset) const {
  const uint8_t* p = data_ + offset;
  if (cell_type_ == CellType::kOneBit) return ((*p >> (7 - index % 8)) & 1) ? 255.0 : 0.0;
  return DecodeCell(p, cell_type_, lsb_first_);
}

void MappedOutputFile::StoreCell(uint64_t index, uint64_t offset, double value) {
  uint8_t* p = data_ + offset;
  if (cell_type_ == CellType::kOneBit) {
    // The other seven cells of the byte stay as they are.
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (index % 8));
    *p = value > 0 ? static_cast<uint8_t>(*p | mask) : static_cast<uint8_t>(*p & ~mask);
    return;
  }
  EncodeCell(p, cell_type_, value, lsb_first_);
}

bool MappedOutputFile::GetValue(uint64_t index, double& value) const {
  uint64_t offset = 0;
  if (!CellOffset(index, offset)) {
    value = 0;
    return false;
  }
  value = ReadCell(index, offset);
  return true;
}

bool MappedOutputFile::SetValue(uint64_t index, double value) {
  uint64_t offset = 0;
  if (mode_ == 0 || !writable_ || !CellOffset(index, offset)) return false;
  StoreCell(index, offset, value);
  return true;
}

namespace {
std::string MakeName(const std::string& file_name, int32_t bands) {
  if (bands < 1) throw MappedOutputError("MMapFile " + std::to_string(bands) + " Bands");
  return file_name;
}
}  // namespace

MappedOutputRaster::MappedOutputRaster(const std::string& file_name, uint16_t width, uint16_t lines,
                                       CellType cell_type, int32_t bands, uint8_t mode,
                                       bool msb_first) try
    : MappedOutputFile(MakeName(file_name, bands), cell_type, mode, msb_first),
      Bands(bands),
      Width(width),
      Lines(lines) {
} catch (const MappedOutputFileError& e) {
  throw MappedOutputError(std::string("MMapFile ") + e.what());
}

bool MappedOutputRaster::GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) {
  value = 0;
  if (band >= static_cast<uint32_t>(Bands)) band = static_cast<uint32_t>(Bands - 1);
  if (x >= Width || y >= Lines) return false;
  const uint64_t index = CellIndex(x, y, band);
  uint64_t offset = 0;
  if (!CellOffset(index, offset)) return false;
  value = ReadCell(index, offset);
  return true;
}

bool MappedOutputRaster::StoredIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) {
  if (band >= static_cast<uint32_t>(Bands)) band = static_cast<uint32_t>(Bands - 1);
  if (x >= Width || y >= Lines) return false;
  index = CellIndex(x, y, band);
  return true;
}

bool MappedOutputRaster::SetCell(uint32_t x, uint32_t y, uint32_t band, double value) {
  uint64_t index = 0;
  return StoredIndex(x, y, band, index) && SetValue(index, value);
}

bool MappedOutputRaster::GetNearest(uint32_t band, double& value, double x, double y) {
  int64_t cx = 0;
  int64_t cy = 0;
  if (!RoundToInt64(x, cx) || !RoundToInt64(y, cy)) return false;
  if (cx < 0 || cy < 0 || cx > UINT32_MAX || cy > UINT32_MAX) return false;
  return GetCell(static_cast<uint32_t>(cx), static_cast<uint32_t>(cy), band, value);
}

bool MappedOutputRaster::Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) {
  uint32_t b = band;
  if (b >= static_cast<uint32_t>(Bands)) b = static_cast<uint32_t>(Bands - 1);
  if (x >= Width || y >= Lines) return false;
  const uint32_t x1 = x + 1u < Width ? x + 1u : x;
  const uint32_t y1 = y + 1u < Lines ? y + 1u : y;
  const uint64_t idx[4] = {CellIndex(x, y, b), CellIndex(x, y1, b), CellIndex(x1, y1, b),
                           CellIndex(x1, y, b)};
  switch (cell_type_) {
    case CellType::kOneBit:
    case CellType::kUnsigned8:
    case CellType::kSigned8:
    case CellType::kSigned16:
    case CellType::kUnsigned16:
    case CellType::kSigned32:
    case CellType::kFloat32:
      break;
    default:
      return false;
  }
  for (int k = 0; k < 4; ++k) {
    uint64_t offset = 0;
    if (idx[k] >= Count() || !CellOffset(idx[k], offset)) return false;
    values[k] = ReadCell(idx[k], offset);
  }
  return true;
}

bool MappedOutputRaster::GetBilinear(uint32_t band, double& value, double x, double y) {
  value = 0;
  if (!(x >= 0) || !(y >= 0) || x >= 65536.0 || y >= 65536.0) return false;
  const double ix = std::floor(x);
  const double iy = std::floor(y);
  if (x == ix && y == iy)
    return GetCell(static_cast<uint32_t>(ix), static_cast<uint32_t>(iy), band, value);
  double c[4];
  if (band > 0xFFFF) band = 0xFFFF;
  if (!Get4Cells(static_cast<uint16_t>(ix), static_cast<uint16_t>(iy), static_cast<uint16_t>(band),
                 c)) {
    value = 0;
    return false;
  }
  const double dx = x - ix;
  const double dy = y - iy;
  value = c[0] + (c[3] - c[0]) * dx + (c[1] - c[0]) * dy + (c[2] - c[3] - c[1] + c[0]) * dx * dy;
  return true;
}

uint8_t* MappedOutputRaster::LineAddress(uint16_t line, uint16_t band) {
  uint32_t b = band;
  if (b >= static_cast<uint32_t>(Bands)) b = static_cast<uint32_t>(Bands - 1);
  if (line >= Lines || Data() == nullptr) return nullptr;
  uint64_t offset = 0;
  if (!CellOffset(CellIndex(0, line, b), offset)) return nullptr;
  return Data() + offset;
}

}  // namespace clipra
