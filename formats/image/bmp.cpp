#include "formats/image/bmp.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "dataset/byte_order.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/line_reader.h"
#include "dataset/utils.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

constexpr uint32_t kPixelDataStart = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;  // 54
constexpr uint64_t kMaxFileSize = std::numeric_limits<uint32_t>::max();

// The world-file number reader of a bitmap: blanks and line ends before a
// number are skipped, the number ends at the next blank or line end, only
// "." is a decimal point, and the end of the file reads as 0.
class WorldText {
 public:
  explicit WorldText(const std::string& file_name) : file_(std::fopen(file_name.c_str(), "rb")) {
    failed_ = file_ == nullptr;
  }
  ~WorldText() {
    if (file_) std::fclose(file_);
  }
  WorldText(const WorldText&) = delete;
  WorldText& operator=(const WorldText&) = delete;

  // Reads the number of the current line and skips the rest of it. False
  // for text that is not a number, or after the file failed to open.
  bool ReadNumberLine(double& value) {
    if (!file_) return false;
    int c = Get();
    while (c != EOF && c <= ' ') c = Get();
    if (c == EOF) {
      value = 0;
      return true;
    }
    std::string token;
    bool too_long = false;
    while (c != EOF && c > ' ') {
      if (token.size() < kMaxToken)
        token.push_back(static_cast<char>(c));
      else
        too_long = true;
      c = Get();
    }
    if (c != EOF) std::ungetc(c, file_);
    SkipLine();
    if (too_long || token.find(',') != std::string::npos) return false;
    const long double v = ParseFloatDef(token, std::numeric_limits<long double>::quiet_NaN());
    if (std::isnan(v)) return false;
    value = static_cast<double>(v);
    return true;
  }

  void SkipLine() {
    if (!file_) return;
    int c = Get();
    while (c != EOF && c != '\n') c = Get();
  }

  // False when the file never opened or does not close cleanly.
  bool Close() {
    if (!file_) return false;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

  bool failed() const { return failed_; }

 private:
  static constexpr size_t kMaxToken = 1024;

  // Ctrl-Z ends a text file as the end of the file does.
  int Get() {
    const int c = std::fgetc(file_);
    return c == 26 ? EOF : c;
  }

  std::FILE* file_;
  bool failed_;
};

}  // namespace

BmpReader::BmpReader() {
  SetControlPoints(std::make_unique<ControlPointList>());
}

BmpReader::~BmpReader() = default;

CellType BmpReader::GetCellType() {
  return CellType::kUnsigned8;
}

bool BmpReader::Fail(uint32_t status, const std::string& text) {
  LastError = status;
  ErrorText = text;
  FileHeader.clear();
  InfoHeader.clear();
  Palette.clear();
  PaletteCount = 0;
  ExposedBands = 0;
  Lines = 0;
  PixelWidth = 0;
  return false;
}

bool BmpReader::Open(const std::string& file_name) {
  FileName = file_name;
  Mode = 0;
  HeaderKind = bmp::HeaderKind::kNone;
  TypeDetail.clear();
  GreyPalette = false;
  TopDown = false;

  // GDAL names a bitmap's world file ".bpw"; ".wld" serves any image.
  const std::string world = FindWorldFile(file_name, {".bmpw", ".bpw", ".wld"});
  if (!world.empty()) ReadBmpWorldFile(world);
  const std::string gcp = FindSidecar(ChangeFileExt(file_name, ".gcp"));
  if (!gcp.empty()) {
    // Control points play no part in clipping: an unreadable list is no reason to refuse.
    try {
      GetControlPoints()->LoadFromFile(gcp);
    } catch (const LineReaderError&) {
    }
  }

  if (!MappedFile::Open(file_name, 0, 0)) {
    const int code = static_cast<int>(LastError);
    return Fail(1, "Open read error " + std::to_string(code) + " " + SystemErrorText(code));
  }
  const uint8_t* p = At(0, bmp::kFileHeaderSize);
  if (!p || p[0] != 'B' || p[1] != 'M') return Fail(2, "Not a BMP file");
  FileHeader.assign(p, p + bmp::kFileHeaderSize);
  PixelOffset = read_le<uint32_t>(p + 10);
  if (!ParseInfoHeader()) return false;
  Width = PixelWidth;
  Bands = ExposedBands;
  cell_type_ = CellType::kUnsigned8;
  LineSize = Stride;
  return true;
}

bool BmpReader::ParseInfoHeader() {
  const uint8_t* p = At(bmp::kFileHeaderSize, 4);
  if (!p) return Fail(4, "Damaged bitmap: no information header");
  const uint32_t header_size = read_le<uint32_t>(p);
  if (header_size == bmp::kInfoHeaderSize) {
    HeaderKind = bmp::HeaderKind::kInfo;
  } else if (header_size == bmp::kCoreHeaderSize) {
    HeaderKind = bmp::HeaderKind::kCore;
  } else {
    HeaderKind = bmp::HeaderKind::kRejected;
    return Fail(3, "Unknown bitmap type: ");
  }
  const uint64_t header_end = uint64_t{bmp::kFileHeaderSize} + header_size;
  if (PixelOffset < header_end) return Fail(4, "Damaged bitmap: pixel data inside the header");
  if (PixelOffset > FileSize) return Fail(4, "Damaged bitmap: pixel data beyond the end of file");
  p = At(bmp::kFileHeaderSize, header_size);
  if (!p) return Fail(4, "Damaged bitmap: no information header");
  InfoHeader.assign(p, p + header_size);
  const uint8_t* h = InfoHeader.data();

  const bool info = HeaderKind == bmp::HeaderKind::kInfo;
  const uint16_t bit_count = read_le<uint16_t>(h + (info ? 14 : 10));
  int64_t height = 0;
  uint64_t claimed_colours = 0;
  if (info) {
    const uint32_t compression = read_le<uint32_t>(h + 16);
    if (compression != 0) {
      TypeDetail = compression == 1 ? "RLE8" : compression == 2 ? "RLE4" : "Unknown compression";
      HeaderKind = bmp::HeaderKind::kRejected;
      return Fail(3, "Unknown bitmap type: " + TypeDetail);
    }
    if (bit_count != 8 && bit_count != 24) {
      TypeDetail = "not RGB or 8-bit pixel";
      HeaderKind = bmp::HeaderKind::kRejected;
      return Fail(3, "Unknown bitmap type: " + TypeDetail);
    }
    PixelWidth = static_cast<uint16_t>(read_le<uint32_t>(h + 4));
    height = read_le<int32_t>(h + 8);
    if (bit_count == 8) {
      claimed_colours = read_le<uint32_t>(h + 32);
      if (claimed_colours == 0) claimed_colours = 256;
    }
  } else {
    if (bit_count != 8 && bit_count != 24) {
      TypeDetail = "Not RGB or 8-bit pixel";
      HeaderKind = bmp::HeaderKind::kRejected;
      return Fail(3, "Unknown bitmap type: " + TypeDetail);
    }
    PixelWidth = read_le<uint16_t>(h + 4);
    height = read_le<uint16_t>(h + 6);
    if (bit_count == 8) claimed_colours = 256;
  }
  // A negative height stores the rows top line first.
  if (height == 0) return Fail(4, "Damaged bitmap: height 0");
  TopDown = height < 0;
  Lines = static_cast<uint32_t>(height < 0 ? -height : height);
  PixelBytes = bit_count / 8;
  if (!info && bit_count == 24) {
    Stride = ((uint64_t{PixelWidth} * 24 + 31) / 32) * 4;
  } else {
    // The row length is taken from the size of the file, not from the width.
    Stride = (FileSize - PixelOffset) / Lines;
  }

  PaletteCount = static_cast<uint16_t>(claimed_colours);
  ExposedBands = 3;
  Palette.clear();
  if (bit_count == 8) {
    const uint32_t entry_size = info ? 4 : 3;
    if (claimed_colours * entry_size > PixelOffset - header_end)
      return Fail(4, "Damaged bitmap: palette larger than the room before the pixel data");
    if (PaletteCount > 0) {
      p = At(header_end, PaletteCount * entry_size);
      if (!p) return Fail(4, "Damaged bitmap: palette outside of file");
      Palette.resize(PaletteCount);
      for (uint32_t i = 0; i < PaletteCount; ++i) {
        const uint8_t* e = p + uint64_t{i} * entry_size;
        Palette[i] = {e[2], e[1], e[0]};
      }
      GreyPalette = PaletteCount == 256;
      for (uint32_t i = 0; GreyPalette && i < PaletteCount; ++i)
        GreyPalette = Palette[i].red == i && Palette[i].green == i && Palette[i].blue == i;
      if (GreyPalette) ExposedBands = 1;
    }
  }
  return true;
}

void BmpReader::ReadBmpWorldFile(const std::string& file_name) {
  Georeference& g = Georef();
  WorldText text(file_name);
  bool failed = text.failed();
  double v = 0;
  if (text.ReadNumberLine(v)) {
    g.CellSizeX = v;
  } else {
    g.CellSizeX = 1.0;
    failed = true;
  }
  text.SkipLine();
  text.SkipLine();
  if (text.ReadNumberLine(v)) {
    g.CellSizeY = v;
    g.CellSizeY = std::fabs(GetCellSizeY());
  } else {
    g.CellSizeY = 1.0;
    failed = true;
  }
  if (text.ReadNumberLine(v)) {
    g.RegX = v;
  } else {
    g.RegX = 0.0;
    failed = true;
  }
  if (text.ReadNumberLine(v)) {
    g.RegY = v;
  } else {
    g.RegY = 1.0;
    failed = true;
  }
  if (!text.Close()) failed = true;
  if (!failed) {
    CentreToCorner(g, file_name);
    g.Spheroid = "UNKNOWN";
    g.Datum = "UNKNOWN";
    g.Projection = "UNKNOWN";
  }
}

bool BmpReader::SeekLine(uint32_t y, uint32_t /*band*/) {
  if (y >= Lines) return false;
  // Rows are stored bottom-up unless the height was negative.
  const uint64_t stored = TopDown ? y : uint64_t{Lines} - 1 - y;
  const uint64_t row_bytes = uint64_t{PixelWidth} * PixelBytes;
  uint64_t position = 0;
  if (__builtin_mul_overflow(stored, Stride, &position) ||
      __builtin_add_overflow(position, uint64_t{PixelOffset}, &position))
    return false;
  Position = position;
  Need = static_cast<uint32_t>(row_bytes);
  return MapAt();
}

const uint8_t* BmpReader::CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count) {
  // Colour palettes are looked up, so only GetCell gives their values.
  if (ExposedBands == 0 || (PixelBytes != 3 && !GreyPalette)) return nullptr;
  if (band >= ExposedBands) band = ExposedBands - 1u;
  if (!SeekLine(line, band)) return nullptr;
  count = PixelWidth;
  if (PixelBytes != 3) {
    step = 1;
    return Current;
  }
  // Pixels are stored blue, green, red.
  step = 3;
  return Current + (2 - band);
}

bool BmpReader::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  value = 0;
  if (ExposedBands == 0) return false;
  if (band >= ExposedBands) band = ExposedBands - 1u;
  if (x >= PixelWidth || y >= Lines) return false;
  if (!SeekLine(y, band)) return false;
  if (PixelBytes == 3) {
    // Pixels are stored blue, green, red.
    value = Current[uint64_t{x} * 3 + (2 - band)];
    return true;
  }
  const uint8_t byte = Current[x];
  if (GreyPalette) {
    value = byte;
  } else if (byte < Palette.size()) {
    const bmp::Colour& c = Palette[byte];
    value = band == 0 ? c.red : band == 1 ? c.green : c.blue;
  }
  return true;
}

BmpWriter::BmpWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType cell_type, int32_t bands, uint8_t mode) try
    : RasterWriter(file_name, width, lines, cell_type, bands, mode, false) {
  control_points_ = std::make_unique<ControlPointList>();
  if (cell_type != CellType::kUnsigned8)
    throw BmpError("Not supported cell type(must be byte type): " + CellTypeName(cell_type));
  if (bands != 1 && bands != 3) throw BmpError("Wrong number of bands(must be 1 or 3)");
  pixel_width_ = width;
  bit_count_ = static_cast<uint16_t>(8 * bands);
  palette_count_ = bands == 1 ? 256 : 0;
  palette_bytes_ = 4 * palette_count_;
  stride_ = ((uint32_t{pixel_width_} * bit_count_ + 31) / 32) * 4;
  image_size_ = uint64_t{stride_} * Lines;
  const uint64_t file_size = kPixelDataStart + palette_bytes_ + image_size_;
  // The header's file size is a 32-bit field.
  if (file_size > kMaxFileSize)
    throw BmpError("BMP output too large: " + std::to_string(file_size) +
                   " bytes, but a bitmap holds at most 4 GiB");
  if (!CreateNew(file_size))
    throw BmpError("Open write error " + std::to_string(LastError()) + " " +
                   SystemErrorText(static_cast<int>(LastError())));
  uint8_t* h = Data();
  h[0] = 'B';
  h[1] = 'M';
  write_le<uint32_t>(h + 2, static_cast<uint32_t>(file_size));
  write_le<uint32_t>(h + 10, kPixelDataStart + palette_bytes_);
  uint8_t* info = h + bmp::kFileHeaderSize;
  write_le<uint32_t>(info, bmp::kInfoHeaderSize);
  write_le<int32_t>(info + 4, pixel_width_);
  write_le<int32_t>(info + 8, static_cast<int32_t>(Lines));
  write_le<uint16_t>(info + 12, 1);
  write_le<uint16_t>(info + 14, bit_count_);
  uint8_t* palette = h + kPixelDataStart;
  for (uint32_t i = 0; i < palette_count_; ++i) {
    palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
  }
} catch (const MappedOutputError& e) {
  throw BmpError(e.what());
}

BmpWriter::~BmpWriter() = default;

bool BmpWriter::PixelIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) const {
  if (Bands < 1) return false;
  const uint32_t bands = static_cast<uint32_t>(Bands);
  if (band >= bands) band = bands - 1;
  if (x >= pixel_width_ || y >= Lines) return false;
  // Line 0 is the last stored row; red is the third byte of a pixel.
  index = kPixelDataStart + palette_bytes_ + (uint64_t{Lines} - 1 - y) * stride_ +
          uint64_t{x} * bands + (bands - 1 - band);
  return true;
}

bool BmpWriter::GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) {
  value = 0;
  uint64_t index = 0;
  return PixelIndex(x, y, band, index) && GetValue(index, value);
}

bool BmpWriter::SetCell(uint32_t x, uint32_t y, uint32_t band, double value) {
  if (Mode() != 1) return false;
  uint64_t index = 0;
  return PixelIndex(x, y, band, index) && SetValue(index, value);
}

bool BmpWriter::Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) {
  if (x >= pixel_width_ || y >= Lines) return false;
  const uint32_t x1 = x + 1u < pixel_width_ ? x + 1u : x;
  const uint32_t y1 = y + 1u < Lines ? y + 1u : y;
  return GetCell(x, y, band, values[0]) && GetCell(x, y1, band, values[1]) &&
         GetCell(x1, y1, band, values[2]) && GetCell(x1, y, band, values[3]);
}

void BmpWriter::SetGeoreference(const Georeference& georef) {
  georef_ = georef;
  // A world file that cannot be written does not stop the job.
  WriteWorldFile(ChangeFileExt(FileName(), ".bmpw"), georef_.CellSizeX, 0, 0, -georef_.CellSizeY,
                 georef_.LeftX(), georef_.TopY());
}

}  // namespace clipra
