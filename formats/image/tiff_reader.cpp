#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "dataset/byte_order.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/line_reader.h"
#include "dataset/projection_table.h"
#include "dataset/utils.h"
#include "formats/image/tiff.h"
#include "formats/image/tiff_decoder.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace tiff {

uint32_t FieldTypeSize(uint16_t type) {
  static constexpr uint32_t kSizes[] = {1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type >= 1 && type <= 12 ? kSizes[type - 1] : 0;
}

const std::string& ReasonText(int32_t reason) {
  static const std::string kTexts[] = {
      "",
      "Compressed tiff",
      "Wrong Color planes number (not 1 or 3)",
      "Color planes(2) not process",
      "StripOffset not of Short or Long type",
      "StripByteCounts not of Short or Long type",
      "Not greyScale or RGB",
      "Zero divide in XResol",
      "Zero divide in YResol",
      "RowsPerStrip is 0",
      "Directory outside of file",
      "StripOffsets outside of file",
      "No samples per pixel",
  };
  constexpr int32_t kCount = static_cast<int32_t>(sizeof kTexts / sizeof kTexts[0]);
  return reason >= 0 && reason < kCount ? kTexts[reason] : kTexts[0];
}

}  // namespace tiff

namespace {

constexpr uint32_t kEntrySize = 12;
constexpr uint32_t kDefaultRowsPerStrip = 2147483647;

}  // namespace

TiffReader::TiffReader() {
  SampleCount = 1;
  SetControlPoints(std::make_unique<ControlPointList>());
}

TiffReader::~TiffReader() = default;

uint16_t TiffReader::read_u16(const uint8_t* p) const {
  return read_ordered<uint16_t>(p, LSBFirst);
}

uint32_t TiffReader::read_u32(const uint8_t* p) const {
  return read_ordered<uint32_t>(p, LSBFirst);
}

double TiffReader::read_f64(const uint8_t* p) const {
  return read_ordered<double>(p, LSBFirst);
}

uint32_t TiffReader::GetBands() {
  return Decoder ? Decoder->Bands() : SampleCount;
}

CellType TiffReader::GetCellType() {
  if (Decoder) return Decoder->GetCellType();
  switch (BitsPerSample[0]) {
    case 1:
      return CellType::kOneBit;
    case 8:
      return CellType::kUnsigned8;
    case 16:
      return CellType::kUnsigned16;
    default:
      return CellType::kUnknown;
  }
}

bool TiffReader::Open(const std::string& file_name) {
  FileName = file_name;
  Bands = 1;
  band_views_.clear();
  view_band_ = 0;
  cell_type_ = CellType::kUnsigned8;
  Mode = 0;
  SetByteOrder(false);
  RowsPerStrip = kDefaultRowsPerStrip;
  BitsPerSample = {1, 0, 0};
  Compression = 1;
  ResolutionUnit = 2;
  TiffReason = tiff::kReasonNone;
  StripCount = 0;
  StripOffsets.clear();

  Decoder.reset();
  Tags = {};
  Note.clear();
  ReadFailure.clear();
  const std::string world = FindWorldFile(file_name, {".tifw", ".tfw", ".wld"});
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
    LastError = 1;
    ErrorText = "Open read error " + std::to_string(code) + " " + SystemErrorText(code);
    return false;
  }
  const uint8_t* p = At(0, 2);
  if (p && p[0] == 'M' && p[1] == 'M') {
    SetByteOrder(true);
  } else if (p && p[0] == 'I' && p[1] == 'I') {
    SetByteOrder(false);
  } else {
    SetByteOrder(false);
    LastError = 2;
    ErrorText = "Wrong TIFF order";
    return false;
  }
  p = At(2, 2);
  const uint16_t version = p ? read_u16(p) : 0;
  if (version != 42 && version != 43) {
    LastError = 3;
    ErrorText = "Wrong TIFF version";
    return false;
  }
  if (version == 43 || NeedsDecoder()) {
    if (!OpenDecoder()) return false;
    ApplyGeoreference(world);
    return true;
  }
  if (!ReadDirectory()) {
    LastError = 4;
    ErrorText = "Tiff error " + tiff::ReasonText(TiffReason);
    return false;
  }
  cell_type_ = GetCellType();
  if (cell_type_ == CellType::kOneBit) {
    LastError = 5;
    ErrorText = "Bit type not supported";
    return false;
  }
  Width = ImageWidth;
  Lines = ImageLength;
  Bands = GetBands();
  LineSize = uint64_t{Width} * Bands * CellBytes();
  FirstLine = 0;
  EndLine = -1;
  Tags = tiff::ReadGeoTags(file_name);
  ApplyGeoreference(world);
  return true;
}

bool TiffReader::NeedsDecoder() {
  const uint8_t* p = At(4, 4);
  const uint32_t ifd = p ? read_u32(p) : 0;
  p = p ? At(ifd, 2) : nullptr;
  // A directory the baseline reader cannot find gets its message.
  if (!p) return false;
  const uint16_t entries = read_u16(p);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = At(uint64_t{ifd} + 2 + uint64_t{kEntrySize} * i, kEntrySize);
    if (!e) return false;
    const uint16_t tag = read_u16(e);
    const uint16_t type = read_u16(e + 2);
    const uint32_t count = read_u32(e + 4);
    // The first value, when it sits in the entry.
    uint32_t value = 0;
    if (type == tiff::kShort)
      value = read_u16(e + 8);
    else if (type == tiff::kLong)
      value = read_u32(e + 8);
    else if (type == tiff::kByte)
      value = e[8];
    const bool inline_value = uint64_t{tiff::FieldTypeSize(type)} * count <= 4;
    switch (tag) {
      case tiff::kCompression:
        if (value != 1) return true;
        break;
      case tiff::kPhotometricInterpretation:
        if (value > 2) return true;
        break;
      case 322:  // TileWidth
      case 323:  // TileLength
      case 324:  // TileOffsets
        return true;
      case 339:  // SampleFormat
        if (inline_value ? value != 1 : type != tiff::kShort) return true;
        if (!inline_value) {
          const uint8_t* v = At(read_u32(e + 8), 2);
          if (!v || read_u16(v) != 1) return true;
        }
        break;
      case tiff::kBitsPerSample: {
        uint32_t bits = value;
        if (!inline_value && type == tiff::kShort) {
          const uint8_t* v = At(read_u32(e + 8), 2);
          bits = v ? read_u16(v) : 0;
        }
        if (bits == 32 || bits == 64) return true;
        break;
      }
      default:
        break;
    }
  }
  return false;
}

bool TiffReader::OpenDecoder() {
  auto decoder = std::make_unique<tiff::Decoder>();
  std::string error;
  if (!decoder->Open(FileName, error)) {
    LastError = 4;
    ErrorText = error;
    return false;
  }
  ImageWidth = decoder->Width();
  ImageLength = decoder->Lines();
  Compression = decoder->Compression();
  PhotometricInterpretation = decoder->Photometric();
  PlanarConfiguration = decoder->Planar();
  BitsPerSample = {decoder->Bits(), decoder->Bits(), decoder->Bits()};
  SampleCount = static_cast<uint16_t>(std::min<uint32_t>(decoder->Bands(), 65535));
  Tags = decoder->Tags();
  Decoder = std::move(decoder);
  // The decoder reads the file itself; cells come in this machine's order.
  Close();
  SetByteOrder(std::endian::native == std::endian::big);
  cell_type_ = Decoder->GetCellType();
  Width = ImageWidth;
  Lines = ImageLength;
  Bands = Decoder->Bands();
  LineSize = 0;
  return true;
}

void TiffReader::ApplyGeoreference(const std::string& world) {
  Georeference& g = Georef();
  if (!world.empty()) {
    // The world file wins over the tags, which are only compared.
    ReadWorldFile(g, world, RotationX, RotationY);
    if (Tags.placed && (GetCellSizeX() != Tags.cell_x || GetCellSizeY() != Tags.cell_y ||
                        GetLeftX() != Tags.left || GetTopY() != Tags.top))
      Note = "The world file " + ExtractFileName(world) +
             " overrides the GeoTIFF tags, which put " + "the top-left corner at " +
             FormatGeneral(Tags.left) + " " + FormatGeneral(Tags.top) + " with cells of " +
             FormatGeneral(Tags.cell_x) + " x " + FormatGeneral(Tags.cell_y) +
             "; the world file puts it at " + FormatGeneral(GetLeftX()) + " " +
             FormatGeneral(GetTopY()) + " with cells of " + FormatGeneral(GetCellSizeX()) + " x " +
             FormatGeneral(GetCellSizeY());
  } else if (Tags.placed) {
    g.CellSizeX = Tags.cell_x;
    g.CellSizeY = Tags.cell_y;
    g.RegCellX = g.RegCellY = 0;
    g.RegX = Tags.left;
    g.RegY = Tags.top;
    g.Projection = g.Datum = g.Spheroid = "UNKNOWN";
  } else if (Tags.rotated) {
    Note = "The GeoTIFF transformation is rotated; the file is read without its georeference";
  }
  if (Tags.epsg != 0) {
    const ErMapperSystem system = ErMapperFromEpsg(Tags.epsg);
    g.Projection = system.projection;
    g.Datum = system.datum;
  }
}

bool TiffReader::ReadDirectory() {
  const uint8_t* p = At(4, 4);
  if (p) IFDOffset = read_u32(p);
  p = p ? At(IFDOffset, 2) : nullptr;
  if (!p) {
    TiffReason = tiff::kReasonDirectoryOutside;
    return false;
  }
  EntryCount = read_u16(p);
  bool result = true;
  for (uint32_t i = 0; i < EntryCount; ++i) {
    const uint64_t entry_pos = uint64_t{IFDOffset} + 2 + uint64_t{kEntrySize} * i;
    if (!ReadEntry(entry_pos)) {
      result = false;
      // A strip-offsets type that cannot be read, or an entry outside the
      // file, ends the directory at once.
      if (TiffReason == tiff::kReasonStripOffsetsType ||
          TiffReason == tiff::kReasonDirectoryOutside)
        break;
    }
  }
  if (RowsPerStrip == 0) {
    TiffReason = tiff::kReasonZeroRowsPerStrip;
    result = false;
  }
  if (SampleCount == 0) {
    TiffReason = tiff::kReasonNoSamples;
    result = false;
  }
  return result && ReadStripOffsets();
}

// One directory entry; false when it fails the directory.
bool TiffReader::ReadEntry(uint64_t entry_pos) {
  const uint8_t* p = At(entry_pos, kEntrySize);
  if (!p) {
    TiffReason = tiff::kReasonDirectoryOutside;
    return false;
  }
  // Reading a value elsewhere moves the view, so the entry is copied first.
  uint8_t e[kEntrySize];
  std::memcpy(e, p, kEntrySize);
  const uint16_t tag = read_u16(e);
  const uint16_t type = read_u16(e + 2);
  const uint32_t count = read_u32(e + 4);
  const uint8_t* field = e + 8;
  const uint32_t offset = read_u32(field);
  uint32_t short_value = 0;
  if (type == tiff::kByte)
    short_value = field[0];
  else if (type == tiff::kShort)
    short_value = read_u16(field);
  else if (type == tiff::kLong)
    short_value = offset;

  switch (tag) {
    case tiff::kImageWidth:
      ImageWidth = short_value;
      break;
    case tiff::kImageLength:
      ImageLength = short_value;
      break;
    case tiff::kRowsPerStrip:
      RowsPerStrip = short_value;
      break;
    case tiff::kBitsPerSample:
      SampleCount = static_cast<uint16_t>(count);
      if (uint64_t{tiff::FieldTypeSize(type)} * count <= 4) {
        BitsPerSample[0] = static_cast<uint16_t>(short_value);
      } else if (const uint8_t* v = At(offset, 6)) {
        for (int k = 0; k < 3; ++k) BitsPerSample[k] = read_u16(v + 2 * k);
      }
      break;
    case tiff::kCompression:
      Compression = read_u16(field);
      if (Compression > 1) {
        TiffReason = tiff::kReasonCompressed;
        return false;
      }
      break;
    case tiff::kPhotometricInterpretation:
      PhotometricInterpretation = read_u16(field);
      if (PhotometricInterpretation > 2) {
        TiffReason = tiff::kReasonNotGreyOrRgb;
        return false;
      }
      break;
    case tiff::kPlanarConfiguration:
      PlanarConfiguration = read_u16(field);
      break;
    case tiff::kResolutionUnit:
      ResolutionUnit = read_u16(field);
      break;
    case tiff::kColorMap:
      ColorMapOffset = offset;
      break;
    case tiff::kStripOffsets:
      StripOffsetsType = type;
      StripCount = count;
      if (type == tiff::kShort) {
        StripOffsetsPos = count <= 2 ? entry_pos + 8 : offset;
      } else if (type == tiff::kLong) {
        StripOffsetsPos = count <= 1 ? entry_pos + 8 : offset;
      } else {
        TiffReason = tiff::kReasonStripOffsetsType;
        return false;
      }
      break;
    case tiff::kXResolution:
    case tiff::kYResolution:
      if (const uint8_t* v = At(offset, 8)) {
        const uint32_t numerator = read_u32(v);
        const uint32_t denominator = read_u32(v + 4);
        const bool x = tag == tiff::kXResolution;
        // A zero denominator is recorded but does not fail the directory.
        if (denominator == 0)
          TiffReason = x ? tiff::kReasonZeroXResolution : tiff::kReasonZeroYResolution;
        else
          (x ? XResolution : YResolution) = static_cast<double>(numerator) / denominator;
      }
      break;
    case tiff::kModelPixelScale:
      if (type != tiff::kDouble) {
        Georef().CellSizeX = 0.0;
        Georef().CellSizeY = 0.0;
      } else if (const uint8_t* v = At(offset, 16)) {
        Georef().CellSizeX = read_f64(v);
        Georef().CellSizeY = read_f64(v + 8);
      }
      break;
    default:
      break;
  }
  return true;
}

bool TiffReader::ReadStripOffsets() {
  const uint32_t size = StripOffsetsType == tiff::kShort ? 2 : 4;
  const uint64_t bytes = uint64_t{StripCount} * size;
  if (bytes == 0) {
    StripOffsets.clear();
    return true;
  }
  // The table must lie inside the file before anything is allocated for it.
  const uint8_t* p = bytes <= FileSize && bytes <= UINT32_MAX
                         ? At(StripOffsetsPos, static_cast<uint32_t>(bytes))
                         : nullptr;
  if (!p) {
    TiffReason = tiff::kReasonStripOffsetsOutside;
    return false;
  }
  StripOffsets.assign(StripCount, 0);
  for (uint32_t i = 0; i < StripCount; ++i)
    StripOffsets[i] = size == 2 ? read_u16(p + 2 * uint64_t{i}) : read_u32(p + 4 * uint64_t{i});
  return true;
}

uint64_t TiffReader::RowBytes() const {
  const uint64_t cells =
      PlanarConfiguration == 2 ? uint64_t{ImageWidth} : uint64_t{ImageWidth} * SampleCount;
  return cells * CellBytes();
}

bool TiffReader::SeekLine(uint32_t line, uint32_t band) {
  // Decoded lines have no place in the file.
  if (Decoder) return false;
  if (line >= ImageLength || RowsPerStrip == 0 || SampleCount == 0) return false;
  if (band >= SampleCount) band = SampleCount - 1u;
  const uint32_t strip = line / RowsPerStrip;
  const uint32_t row = line % RowsPerStrip;
  uint64_t index = strip;
  if (PlanarConfiguration == 2) {
    // The strips of each band follow those of the band before.
    const uint32_t per_band = StripCount / SampleCount;
    if (strip >= per_band) return false;
    index = strip + uint64_t{per_band} * band;
  }
  if (index >= StripOffsets.size()) return false;
  if (PlanarConfiguration == 2 && FileSize > MaxViewSize) UseBandView(band);
  // A planar row holds one band only; reading the width of all bands would
  // run past the end of the last plane.
  const uint64_t row_bytes = RowBytes();
  uint64_t position = 0;
  if (row_bytes > UINT32_MAX || __builtin_mul_overflow(uint64_t{row}, row_bytes, &position) ||
      __builtin_add_overflow(position, uint64_t{StripOffsets[index]}, &position))
    return false;
  Position = position;
  Need = static_cast<uint32_t>(row_bytes);
  return MapAt();
}

void TiffReader::UseBandView(uint32_t band) {
  if (band == view_band_) return;
  if (band_views_.size() < SampleCount) band_views_.resize(SampleCount);
  BandView& parked = band_views_[view_band_];
  std::swap(parked.view, view_);
  parked.data = View;
  parked.offset = ViewOffset;
  parked.size = ViewSize;
  BandView& next = band_views_[band];
  std::swap(next.view, view_);
  View = next.data;
  ViewOffset = next.offset;
  // An empty slot maps on the next MapAt: no view covers any position.
  ViewSize = next.data ? next.size : 0;
  view_band_ = band;
}

bool TiffReader::AdviseRead(uint32_t first_col, uint32_t /*first_line*/, uint32_t last_col,
                            uint32_t /*last_line*/) {
  if (first_col <= last_col && last_col < ImageWidth) {
    span_first_ = first_col;
    span_last_ = last_col;
  }
  return true;
}

const uint8_t* TiffReader::CellSpan(uint32_t line, uint32_t band, uint64_t& step, uint32_t& begin,
                                    uint32_t& end) {
  if (!Decoder) return RasterReader::CellSpan(line, band, step, begin, end);
  // Only the tiles of the advised columns are decoded.
  const uint32_t first = span_first_;
  const uint32_t last = std::min(span_last_, ImageWidth - 1);
  if (ImageWidth == 0 || first > last) return nullptr;
  const uint8_t* span = Decoder->Span(line, band, first, last, step);
  if (!span) {
    if (ReadFailure.empty()) ReadFailure = Decoder->Failure();
    return nullptr;
  }
  begin = first;
  end = last + 1;
  return span;
}

const uint8_t* TiffReader::CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count) {
  if (Decoder) {
    if (ImageWidth == 0) return nullptr;
    const uint8_t* span = Decoder->Span(line, band, 0, ImageWidth - 1, step);
    if (!span && ReadFailure.empty()) ReadFailure = Decoder->Failure();
    count = span ? ImageWidth : 0;
    return span;
  }
  // WhiteIsZero cells are inverted, so only GetCell gives their values.
  if (PhotometricInterpretation == 0 || SampleCount == 0) return nullptr;
  if (cell_type_ != CellType::kUnsigned8 && cell_type_ != CellType::kUnsigned16) return nullptr;
  if (band >= SampleCount) band = SampleCount - 1u;
  if (!SeekLine(line, band)) return nullptr;
  const uint64_t bytes = CellBytes();
  step = PlanarConfiguration == 2 ? bytes : bytes * SampleCount;
  count = ImageWidth;
  return Current + (PlanarConfiguration == 2 ? 0 : uint64_t{band} * bytes);
}

bool TiffReader::GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) {
  value = 0;
  if (Decoder) {
    if (Decoder->Cell(x, y, band, value)) return true;
    if (ReadFailure.empty()) ReadFailure = Decoder->Failure();
    return false;
  }
  if (SampleCount == 0) return false;
  if (band >= SampleCount) band = SampleCount - 1u;
  if (x >= ImageWidth || y >= ImageLength) return false;
  const bool found = SeekLine(y, band);
  if (found) {
    const uint64_t cell = PlanarConfiguration == 2 ? x : uint64_t{x} * SampleCount + band;
    const uint8_t* p = Current + cell * CellBytes();
    if (cell_type_ == CellType::kUnsigned8)
      value = *p;
    else if (cell_type_ == CellType::kUnsigned16)
      value = read_u16(p);
  }
  // WhiteIsZero is inverted on a byte scale, whatever the sample size.
  if (PhotometricInterpretation == 0) value = 255 - value;
  return found;
}

}  // namespace clipra
