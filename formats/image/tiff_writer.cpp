#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/projection_table.h"
#include "dataset/utils.h"
#include "formats/image/tiff.h"
#include "formats/image/tiff_encoder.h"
#include "formats/image/world_file.h"

namespace clipra {

namespace {

constexpr uint32_t kDirectoryOffset = 8;
// Offsets with 16 entries; a SampleFormat entry moves each 12 bytes on.
constexpr uint32_t kBitsPerSampleOffset = 206;
constexpr uint32_t kXResolutionOffset = 212;
constexpr uint32_t kYResolutionOffset = 220;
constexpr uint32_t kPixelScaleOffset = 228;
constexpr uint32_t kTiepointOffset = 252;
constexpr uint32_t kGeoKeysOffset = 300;
constexpr uint32_t kSampleFormatOffset = 360;
// Classic TIFF addresses its bytes with 32-bit offsets; a larger file is
// BigTIFF.
constexpr uint64_t kMaxClassicSize = uint64_t{1} << 32;
// BigTIFF's LONG8 field type.
constexpr uint16_t kLong8 = 16;

// The system claimed when the source's strings name none the table knows.
constexpr uint16_t kDefaultEpsg = 32635;

// Five keys either way, so that the header keeps its size. EPSG's geographic
// 2D systems sit in 4001..4999; the table's own are among them.
void GeoKeys(uint32_t epsg, uint16_t keys[24]) {
  const bool geographic = IsGeographicEpsg(epsg) || (epsg > 4000 && epsg < 5000);
  // Key values are SHORTs: a code past 65535 cannot be stored.
  const uint16_t code = epsg == 0 || epsg > 65535 ? kDefaultEpsg : static_cast<uint16_t>(epsg);
  const uint16_t model = geographic ? 2 : 1;
  const uint16_t system_key = geographic ? 2048 : 3072;  // GeographicType or ProjectedCSType
  const uint16_t units_key = geographic ? 2054 : 3076;   // GeogAngularUnits or ProjLinearUnits
  const uint16_t units = geographic ? 9102 : 9001;       // degree or metre
  // clang-format off
  const uint16_t k[24] = {
      1,          1, 0, 5,      // directory version 1, revision 1.0, five keys
      1024,       0, 1, model,  // GTModelTypeGeoKey
      1025,       0, 1, 1,      // GTRasterTypeGeoKey: pixel is area
      system_key, 0, 1, code,
      units_key,  0, 1, units,
      4099,       0, 1, 9001,   // VerticalUnitsGeoKey: metre
  };
  // clang-format on
  std::memcpy(keys, k, sizeof k);
}

// GDAL's no-data tag as GDAL writes it, the value as decimal text; empty
// without a value.
std::string NoDataText(const std::optional<double>& value) {
  return value ? FormatShortest(*value) : std::string();
}

// A directory entry; a SHORT value sits in the first two bytes of its field.
void PutEntry(uint8_t* header, int number, uint16_t tag, uint16_t type, uint32_t count,
              uint32_t value) {
  uint8_t* e = header + 10 + 12 * number;
  write_le<uint16_t>(e, tag);
  write_le<uint16_t>(e + 2, type);
  write_le<uint32_t>(e + 4, count);
  if (type == tiff::kShort && count == 1)
    write_le<uint16_t>(e + 8, static_cast<uint16_t>(value));
  else
    write_le<uint32_t>(e + 8, value);
}

// Where the no-data text goes: after every fixed value, which the entry
// itself has moved 12 bytes on.
uint32_t NoDataTextOffset(bool typed) {
  return (typed ? kSampleFormatOffset + 6 : tiff::kHeaderSize) + 12;
}

// GDAL's no-data entry: its text, NUL-terminated, sits in the entry itself
// when it fits in four bytes, otherwise at `at`.
void PutNoDataEntry(uint8_t* header, int number, const std::string& text, uint32_t at) {
  const uint32_t count = static_cast<uint32_t>(text.size() + 1);
  PutEntry(header, number, tiff::kGdalNoData, tiff::kAscii, count, count <= 4 ? 0 : at);
  uint8_t* to = count <= 4 ? header + 10 + 12 * number + 8 : header + at;
  std::memcpy(to, text.data(), text.size());
}

// A BigTIFF directory at offset 16: 8-byte counts, 20-byte entries, and
// values that fit in an entry's 8-byte field kept there; the others follow
// the directory in entry order.
class BigDirectory {
 public:
  template <typename T>
  void Add(uint16_t tag, uint16_t type, std::initializer_list<T> values) {
    Add(tag, type, values.begin(), values.size());
  }
  template <typename T>
  void Add(uint16_t tag, uint16_t type, const T* values, size_t count) {
    // A RATIONAL counts pairs of LONGs.
    Entry e{tag, type, type == tiff::kRational ? count / 2 : count,
            std::vector<uint8_t>(sizeof(T) * count)};
    for (size_t i = 0; i < count; ++i) write_le<T>(e.bytes.data() + sizeof(T) * i, values[i]);
    entries_.push_back(std::move(e));
  }

  // The header: its size rounded up to 8, so that cells of any size stay
  // aligned after it.
  std::vector<uint8_t> Build() const {
    uint64_t values_at = 16 + 8 + 20 * uint64_t{entries_.size()} + 8;
    uint64_t size = values_at;
    for (const Entry& e : entries_)
      if (e.bytes.size() > 8) size += e.bytes.size() + (e.bytes.size() & 1);
    std::vector<uint8_t> h((size + 7) / 8 * 8, 0);
    h[0] = 'I';
    h[1] = 'I';
    write_le<uint16_t>(&h[2], 43);
    write_le<uint16_t>(&h[4], 8);  // bytes per offset
    write_le<uint64_t>(&h[8], 16);
    write_le<uint64_t>(&h[16], entries_.size());
    uint8_t* entry = &h[24];
    for (const Entry& e : entries_) {
      write_le<uint16_t>(entry, e.tag);
      write_le<uint16_t>(entry + 2, e.type);
      write_le<uint64_t>(entry + 4, e.count);
      if (e.bytes.size() <= 8) {
        std::memcpy(entry + 12, e.bytes.data(), e.bytes.size());
      } else {
        write_le<uint64_t>(entry + 12, values_at);
        std::memcpy(&h[values_at], e.bytes.data(), e.bytes.size());
        values_at += e.bytes.size() + (e.bytes.size() & 1);
      }
      entry += 20;
    }
    // The next-directory offset after the entries stays 0.
    return h;
  }

 private:
  struct Entry {
    uint16_t tag, type;
    uint64_t count;
    std::vector<uint8_t> bytes;
  };
  std::vector<Entry> entries_;
};

}  // namespace

TiffWriter::TiffWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                       CellType cell_type, int32_t bands, uint8_t mode,
                       TiffCompression compression) try
    : RasterWriter(file_name, width, lines, cell_type, bands, mode, false),
      compression_(compression) {
  control_points_ = std::make_unique<ControlPointList>();
  image_width_ = width;
  image_length_ = lines;
  if (bands == 1)
    photometric_ = 1;
  else if (bands == 3)
    photometric_ = 2;
  else
    throw TiffWriteError("Wrong number of bands(must be 1 or 3)");
  switch (cell_type) {
    case CellType::kUnsigned8:
    case CellType::kUnsigned16:
      break;
    case CellType::kSigned8:
    case CellType::kSigned16:
    case CellType::kSigned32:
      sample_format_ = 2;
      break;
    case CellType::kFloat32:
    case CellType::kFloat64:
      sample_format_ = 3;
      break;
    default:
      throw TiffWriteError("Not supported cell type(must be integer or float): " +
                           CellTypeName(cell_type));
  }
  bits_per_sample_.fill(static_cast<uint16_t>(8 * CellTypeSize(cell_type)));
  if (sample_format_ != 1) header_size_ = tiff::kSampleFormatHeaderSize;
  CreateFile();
} catch (const MappedOutputError& e) {
  throw TiffWriteError(e.what());
}

TiffWriter::~TiffWriter() = default;

void TiffWriter::CreateFile() {
  const uint32_t cell_size = CellTypeSize(cell_type_);
  // Unsigned outputs without no-data keep their old size, header counted in
  // cells, so that they stay byte for byte what they were.
  const bool old_size = sample_format_ == 1 && !no_data_;
  const uint64_t image_cells =
      uint64_t{image_width_} * image_length_ * static_cast<uint64_t>(Bands);
  uint64_t cells = image_cells + (old_size ? tiff::kHeaderSize : header_size_ / cell_size);
  if (cells * cell_size > kMaxClassicSize) {
    big_ = true;
    header_size_ = static_cast<uint32_t>(BigHeader().size());
    cells = image_cells + header_size_ / cell_size;
  }
  // A compressed output's cells wait in a scratch file beside it, laid out
  // as the uncompressed file would be.
  if (!CreateNew(cells, compression_ == TiffCompression::kNone))
    throw TiffWriteError("Open write error " + std::to_string(LastError()) + " " +
                         SystemErrorText(static_cast<int>(LastError())));
  WriteHeader();
}

void TiffWriter::SetNoData(double value) {
  RasterWriter::SetNoData(value);
  if (!no_data_ || Mode() != 1) return;
  // The header is rounded up to 8 bytes, so that cells of any size stay aligned.
  const uint64_t end =
      uint64_t{NoDataTextOffset(sample_format_ != 1)} + NoDataText(no_data_).size() + 1;
  header_size_ = static_cast<uint32_t>((end + 7) / 8 * 8);
  CreateFile();
}

tiff::GeoFields TiffWriter::GeoValues() const {
  tiff::GeoFields g;
  g.pixel_scale = {georef_.CellSizeX, std::fabs(georef_.CellSizeY), 0};
  g.tiepoint = {0, 0, 0, georef_.RegX, georef_.RegY, 0};
  GeoKeys(EpsgFromErMapper(georef_.Projection, georef_.Datum), g.keys.data());
  g.no_data = NoDataText(no_data_);
  return g;
}

void TiffWriter::WriteHeader() {
  header_ = big_ ? BigHeader() : ClassicHeader();
  if (Data() != nullptr && FileSize() >= header_.size())
    std::memcpy(Data(), header_.data(), header_.size());
}

std::vector<uint8_t> TiffWriter::BigHeader() const {
  const uint16_t bands = photometric_ == 2 ? 3 : 1;
  const uint64_t strip_bytes =
      uint64_t{image_width_} * image_length_ * bands * CellTypeSize(cell_type_);
  const tiff::GeoFields geo = GeoValues();
  const uint16_t formats[3] = {sample_format_, sample_format_, sample_format_};
  BigDirectory d;
  d.Add<uint32_t>(tiff::kImageWidth, tiff::kLong, {image_width_});
  d.Add<uint32_t>(tiff::kImageLength, tiff::kLong, {image_length_});
  d.Add<uint16_t>(tiff::kBitsPerSample, tiff::kShort, bits_per_sample_.data(), bands);
  d.Add<uint16_t>(tiff::kCompression, tiff::kShort, {1});
  d.Add<uint16_t>(tiff::kPhotometricInterpretation, tiff::kShort, {photometric_});
  d.Add<uint64_t>(tiff::kStripOffsets, kLong8, {header_size_});
  d.Add<uint16_t>(tiff::kSamplesPerPixel, tiff::kShort, {bands});
  d.Add<uint32_t>(tiff::kRowsPerStrip, tiff::kLong, {image_length_});
  d.Add<uint64_t>(tiff::kStripByteCounts, kLong8, {strip_bytes});
  d.Add<uint32_t>(tiff::kXResolution, tiff::kRational, {1, 1});
  d.Add<uint32_t>(tiff::kYResolution, tiff::kRational, {1, 1});
  d.Add<uint16_t>(tiff::kPlanarConfiguration, tiff::kShort, {1});
  d.Add<uint16_t>(tiff::kResolutionUnit, tiff::kShort, {3});
  if (sample_format_ != 1) d.Add<uint16_t>(tiff::kSampleFormat, tiff::kShort, formats, bands);
  d.Add<double>(tiff::kModelPixelScale, tiff::kDouble, geo.pixel_scale.data(), 3);
  d.Add<double>(tiff::kModelTiepoint, tiff::kDouble, geo.tiepoint.data(), 6);
  d.Add<uint16_t>(tiff::kGeoKeyDirectory, tiff::kShort, geo.keys.data(), 24);
  if (!geo.no_data.empty())
    d.Add<uint8_t>(tiff::kGdalNoData, tiff::kAscii,
                   reinterpret_cast<const uint8_t*>(geo.no_data.c_str()), geo.no_data.size() + 1);
  return d.Build();
}

std::vector<uint8_t> TiffWriter::ClassicHeader() const {
  std::vector<uint8_t> header(header_size_, 0);
  uint8_t* h = header.data();
  const uint32_t bands = photometric_ == 2 ? 3 : 1;
  const uint32_t cell_size = CellTypeSize(cell_type_);
  const uint32_t strip_bytes =
      static_cast<uint32_t>(uint64_t{image_width_} * image_length_ * bands * cell_size);
  h[0] = 'I';
  h[1] = 'I';
  write_le<uint16_t>(h + 2, 42);
  write_le<uint32_t>(h + 4, kDirectoryOffset);
  const bool typed = sample_format_ != 1;
  const std::string no_data = NoDataText(no_data_);
  const uint32_t no_data_shift = no_data.empty() ? 0 : 12;
  const uint32_t shift = (typed ? 12 : 0) + no_data_shift;
  const uint32_t sample_format_at = kSampleFormatOffset + no_data_shift;
  write_le<uint16_t>(h + 8, static_cast<uint16_t>(16 + typed + (no_data.empty() ? 0 : 1)));
  int n = 0;
  PutEntry(h, n++, tiff::kImageWidth, tiff::kLong, 1, image_width_);
  PutEntry(h, n++, tiff::kImageLength, tiff::kLong, 1, image_length_);
  if (bands == 1)
    PutEntry(h, n++, tiff::kBitsPerSample, tiff::kShort, 1, bits_per_sample_[0]);
  else
    PutEntry(h, n++, tiff::kBitsPerSample, tiff::kShort, bands, kBitsPerSampleOffset + shift);
  PutEntry(h, n++, tiff::kCompression, tiff::kShort, 1, 1);
  PutEntry(h, n++, tiff::kPhotometricInterpretation, tiff::kShort, 1, photometric_);
  PutEntry(h, n++, tiff::kStripOffsets, tiff::kLong, 1, header_size_);
  PutEntry(h, n++, tiff::kSamplesPerPixel, tiff::kShort, 1, bands);
  PutEntry(h, n++, tiff::kRowsPerStrip, tiff::kLong, 1, image_length_);
  PutEntry(h, n++, tiff::kStripByteCounts, tiff::kLong, 1, strip_bytes);
  PutEntry(h, n++, tiff::kXResolution, tiff::kRational, 1, kXResolutionOffset + shift);
  PutEntry(h, n++, tiff::kYResolution, tiff::kRational, 1, kYResolutionOffset + shift);
  PutEntry(h, n++, tiff::kPlanarConfiguration, tiff::kShort, 1, 1);
  PutEntry(h, n++, tiff::kResolutionUnit, tiff::kShort, 1, 3);
  if (typed)
    PutEntry(h, n++, tiff::kSampleFormat, tiff::kShort, bands,
             bands == 1 ? sample_format_ : sample_format_at);
  PutEntry(h, n++, tiff::kModelPixelScale, tiff::kDouble, 3, kPixelScaleOffset + shift);
  PutEntry(h, n++, tiff::kModelTiepoint, tiff::kDouble, 6, kTiepointOffset + shift);
  PutEntry(h, n++, tiff::kGeoKeyDirectory, tiff::kShort, 24, kGeoKeysOffset + shift);
  if (!no_data.empty()) PutNoDataEntry(h, n++, no_data, NoDataTextOffset(typed));
  // The next-directory offset after the entries stays 0.
  for (int k = 0; k < 3; ++k) {
    write_le<uint16_t>(h + kBitsPerSampleOffset + shift + 2 * k, bits_per_sample_[k]);
    if (typed) write_le<uint16_t>(h + sample_format_at + 2 * k, sample_format_);
  }
  for (uint32_t at : {kXResolutionOffset + shift, kYResolutionOffset + shift}) {
    write_le<uint32_t>(h + at, 1);
    write_le<uint32_t>(h + at + 4, 1);
  }
  const tiff::GeoFields geo = GeoValues();
  for (int k = 0; k < 3; ++k)
    write_le<double>(h + kPixelScaleOffset + shift + 8 * k, geo.pixel_scale[k]);
  for (int k = 0; k < 6; ++k)
    write_le<double>(h + kTiepointOffset + shift + 8 * k, geo.tiepoint[k]);
  for (int k = 0; k < 24; ++k) write_le<uint16_t>(h + kGeoKeysOffset + shift + 2 * k, geo.keys[k]);
  return header;
}

Georeference TiffWriter::GetGeoreference() {
  Georeference georef = georef_;
  if (georef.CellSizeX == 0) georef.CellSizeX = 1.0;
  georef.CellSizeY = georef.CellSizeY == 0 ? -1.0 : std::fabs(georef.CellSizeY);
  return georef;
}

uint16_t TiffWriter::GetBands() {
  if (photometric_ < 2) return 1;
  return photometric_ == 2 ? 3 : 0;
}

CellType TiffWriter::GetCellType() {
  return cell_type_;
}

uint64_t TiffWriter::TiffCellIndex(uint32_t x, uint32_t y, uint32_t band) const {
  return header_size_ / CellTypeSize(cell_type_) +
         (uint64_t{y} * image_width_ + x) * static_cast<uint64_t>(Bands) + band;
}

bool TiffWriter::GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) {
  value = 0;
  const uint32_t bands = GetBands();
  if (bands == 0) return false;
  if (band >= bands) band = bands - 1;
  if (x >= image_width_ || y >= image_length_) return false;
  return GetValue(TiffCellIndex(x, y, band), value);
}

bool TiffWriter::StoredIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) {
  const uint32_t bands = GetBands();
  if (bands == 0) return false;
  if (band >= bands) band = bands - 1;
  if (x >= image_width_ || y >= image_length_) return false;
  index = TiffCellIndex(x, y, band);
  return true;
}

bool TiffWriter::SetCell(uint32_t x, uint32_t y, uint32_t band, double value) {
  uint64_t index = 0;
  return Mode() == 1 && StoredIndex(x, y, band, index) && SetValue(index, value);
}

bool TiffWriter::Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) {
  if (x >= image_width_ || y >= image_length_) return false;
  const uint32_t x1 = x + 1u < image_width_ ? x + 1u : x;
  const uint32_t y1 = y + 1u < image_length_ ? y + 1u : y;
  return GetCell(x, y, band, values[0]) && GetCell(x, y1, band, values[1]) &&
         GetCell(x1, y1, band, values[2]) && GetCell(x1, y, band, values[3]);
}

bool TiffWriter::Finish(const std::function<bool()>& stop) {
  if (compression_ == TiffCompression::kNone || Data() == nullptr) return true;
  const tiff::CellBlock block{Data() + header_size_, image_width_, image_length_, GetBands(),
                              cell_type_};
  const bool done = tiff::WriteCompressed(FileName(), block, compression_, GeoValues(), stop);
  // The scratch file goes either way.
  CloseFile();
  return done;
}

void TiffWriter::SetGeoreference(const Georeference& georef) {
  georef_ = georef;
  georef_.RegCellX = georef_.RegCellY = 0;
  georef_.RegX = georef.LeftX();
  georef_.RegY = georef.TopY();
  WriteHeader();
  // A world file that cannot be written does not stop the job.
  WriteWorldFile(ChangeFileExt(FileName(), ".tfw"), georef_.CellSizeX, 0, 0, -georef_.CellSizeY,
                 georef_.RegX, georef_.RegY);
}

}  // namespace clipra
