// TIFF: the baseline reader of uncompressed 8- and 16-bit grey or RGB strips
// in either byte order, the libtiff decoder for every other TIFF (compressed,
// tiled, BigTIFF, signed, 32-bit, float, palette), and the writer of
// little-endian GeoTIFF with a ".tfw" world file: one uncompressed strip,
// BigTIFF past 4 GiB, or compressed tiles through libtiff.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/output.h"
#include "dataset/source.h"

namespace clipra {

class ControlPointList;

namespace tiff {

// Tag numbers the reader and writer handle.
enum Tag : uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometricInterpretation = 262,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kXResolution = 282,
  kYResolution = 283,
  kPlanarConfiguration = 284,
  kResolutionUnit = 296,
  kSampleFormat = 339,
  kColorMap = 320,
  kModelPixelScale = 33550,
  kModelTiepoint = 33922,
  kGeoKeyDirectory = 34735,
  kGdalNoData = 42113,
};

enum FieldType : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kDouble = 12,
};

// Bytes per value of a field type; 0 for a type TIFF 6.0 does not define.
uint32_t FieldTypeSize(uint16_t type);

// Why a directory was refused; "Tiff error " precedes the text.
enum Reason : int32_t {
  kReasonNone = 0,
  kReasonCompressed = 1,
  kReasonColourPlanes = 2,
  kReasonPlanarTwo = 3,
  kReasonStripOffsetsType = 4,
  kReasonStripByteCountsType = 5,
  kReasonNotGreyOrRgb = 6,
  kReasonZeroXResolution = 7,
  kReasonZeroYResolution = 8,
  kReasonZeroRowsPerStrip = 9,
  kReasonDirectoryOutside = 10,
  kReasonStripOffsetsOutside = 11,
  kReasonNoSamples = 12,
};
const std::string& ReasonText(int32_t reason);

// The writer's fixed header: directory, its values and the GeoTIFF keys.
constexpr uint32_t kHeaderSize = 348;
// The header of signed and float cells: one more entry, SampleFormat, its
// three values at 360, and a size that keeps 8-byte cells aligned.
constexpr uint32_t kSampleFormatHeaderSize = 368;

// The GeoTIFF values that every TIFF output carries, whatever its layout.
struct GeoFields {
  std::array<double, 3> pixel_scale{};
  std::array<double, 6> tiepoint{};
  std::array<uint16_t, 24> keys{};
  // GDAL's no-data text; empty without a value.
  std::string no_data;
};

// The georeference the GeoTIFF tags give.
struct GeoTags {
  // A tie point with a pixel scale, or a transformation without rotation.
  bool placed = false;
  // A transformation with rotation or shear terms, which is not used.
  bool rotated = false;
  bool pixel_is_point = false;
  double cell_x = 0, cell_y = 0;  // both positive
  double left = 0, top = 0;       // the outer corner of cell (0, 0)
  uint32_t epsg = 0;              // 0 when the keys name no EPSG system
  // GDAL's no-data tag, when it holds a number.
  std::optional<double> no_data;
};

class Decoder;

}  // namespace tiff

class TiffReader : public RasterReader {
 public:
  TiffReader();
  ~TiffReader() override;

  bool SeekLine(uint32_t line, uint32_t band) override;
  bool GetCell(uint32_t x, uint32_t y, uint32_t band, float& value) override;
  const uint8_t* CellRun(uint32_t line, uint32_t band, uint64_t& step, uint32_t& count) override;
  // Sources are never written.
  bool SetCell(uint32_t, uint32_t, uint32_t, float) override { return false; }

  bool Open(const std::string& file_name) override;
  // Columns outside the advised ones are never asked for: only their tiles decode.
  bool AdviseRead(uint32_t first_col, uint32_t first_line, uint32_t last_col,
                  uint32_t last_line) override;
  const uint8_t* CellSpan(uint32_t line, uint32_t band, uint64_t& step, uint32_t& begin,
                          uint32_t& end) override;
  uint32_t GetBands() override;
  uint32_t GetLines() override { return ImageLength; }
  uint32_t GetWidth() override { return ImageWidth; }
  CellType GetCellType() override;
  uint8_t IsMSBFirst() override { return IsMSBFirstOrder() ? 1 : 0; }
  std::optional<double> NoData() override { return Tags.no_data; }

  uint32_t ImageWidth = 0;
  uint32_t ImageLength = 0;
  std::array<uint16_t, 3> BitsPerSample = {1, 0, 0};
  uint16_t SampleCount = 1;
  uint16_t Compression = 1;
  uint16_t PhotometricInterpretation = 0;
  uint16_t PlanarConfiguration = 1;
  uint32_t RowsPerStrip = 2147483647;
  // Kept at 32 bits: a tall image with one row per strip has more than
  // 65,535 strips.
  uint32_t StripCount = 0;
  uint16_t StripOffsetsType = 0;
  uint64_t StripOffsetsPos = 0;
  std::vector<uint32_t> StripOffsets;
  double XResolution = 0;
  double YResolution = 0;
  uint16_t ResolutionUnit = 2;
  uint32_t ColorMapOffset = 0;
  uint32_t IFDOffset = 0;
  uint16_t EntryCount = 0;
  int32_t TiffReason = 0;
  double RotationX = 0;
  double RotationY = 0;
  // What the GeoTIFF tags say, whether or not a world file overrode them.
  tiff::GeoTags Tags;
  // Set when libtiff decodes the file instead of the baseline reader.
  std::unique_ptr<tiff::Decoder> Decoder;

 private:
  // True when the first directory holds what only libtiff reads: BigTIFF,
  // compression, tiles, a sample format other than unsigned, 32 or 64 bits,
  // or a photometric other than grey or RGB.
  bool NeedsDecoder();
  bool OpenDecoder();
  // Tags, then world file: the world file wins, the tags' EPSG code names
  // the projection either way.
  void ApplyGeoreference(const std::string& world);
  bool ReadDirectory();
  bool ReadEntry(uint64_t entry_pos);
  bool ReadStripOffsets();
  uint16_t read_u16(const uint8_t* p) const;
  uint32_t read_u32(const uint8_t* p) const;
  double read_f64(const uint8_t* p) const;
  // Bytes of one row of one band's plane, or of all bands when chunky.
  uint64_t RowBytes() const;
  // A planar file larger than one view keeps a view for each band, so that
  // reading a line band after band does not map the file anew each time.
  void UseBandView(uint32_t band);
  uint32_t span_first_ = 0;
  uint32_t span_last_ = UINT32_MAX;

  struct BandView {
    MappedView view;
    uint8_t* data = nullptr;
    uint64_t offset = 0;
    uint64_t size = 0;
  };
  std::vector<BandView> band_views_;
  uint32_t view_band_ = 0;  // the band whose view is the file's own
};

class TiffWriteError : public WriterError {
 public:
  using WriterError::WriterError;
};

class TiffWriter : public RasterWriter {
 public:
  // Creates the file at its full size and writes the header; a file that
  // classic TIFF's 32-bit offsets cannot address is BigTIFF. With
  // compression the cells wait in a scratch file until Finish. Raises
  // TiffWriteError.
  TiffWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
             int32_t bands, uint8_t mode, TiffCompression compression = TiffCompression::kNone);
  ~TiffWriter() override;

  bool GetCell(uint32_t x, uint32_t y, uint32_t band, double& value) override;
  bool SetCell(uint32_t x, uint32_t y, uint32_t band, double value) override;
  bool Get4Cells(uint16_t x, uint16_t y, uint16_t band, double values[4]) override;
  // Samples are interleaved by pixel, so no line of one band is contiguous.
  uint8_t* LineAddress(uint16_t, uint16_t) override { return nullptr; }
  bool StoredIndex(uint32_t x, uint32_t y, uint32_t band, uint64_t& index) override;
  bool StoresByIndex() const override { return true; }

  uint32_t GetWidth() override { return image_width_; }
  uint32_t GetLines() override { return image_length_; }
  uint16_t GetBands() override;
  CellType GetCellType() override;
  uint8_t IsMSBFirst() override { return 0; }
  // The corner of cell (0, 0) as the registration point and the cell height
  // as a positive size; a zero cell size gives 1 across and -1 down.
  Georeference GetGeoreference() override;
  void SetGeoreference(const Georeference& georef) override;
  ControlPointList* GetControlPoints() override { return control_points_.get(); }
  // Writes the compressed file from the scratch file; nothing to do for an
  // uncompressed one.
  bool Finish(const std::function<bool()>& stop) override;

  // Adds GDAL's no-data tag: the file is made anew with a larger header.
  void SetNoData(double value) override;

 private:
  // Checks the size, creates the file and writes the header.
  void CreateFile();
  // Fills header_ from the current fields and copies it to the file.
  void WriteHeader();
  std::vector<uint8_t> ClassicHeader() const;
  std::vector<uint8_t> BigHeader() const;
  tiff::GeoFields GeoValues() const;
  // Index of cell (x, y, band) in cells of the file's own size.
  uint64_t TiffCellIndex(uint32_t x, uint32_t y, uint32_t band) const;

  uint32_t image_width_ = 0;
  uint32_t image_length_ = 0;
  std::array<uint16_t, 3> bits_per_sample_ = {0, 0, 0};
  uint16_t photometric_ = 0;
  // Registered at cell (0, 0)'s corner, as the tie point and world file store it.
  Georeference georef_;
  std::unique_ptr<ControlPointList> control_points_;
  // 1 unsigned, 2 signed, 3 float; uncompressed files carry only 2 and 3.
  uint16_t sample_format_ = 1;
  uint32_t header_size_ = tiff::kHeaderSize;
  std::vector<uint8_t> header_;
  // A BigTIFF header: 8-byte counts and offsets.
  bool big_ = false;
  TiffCompression compression_ = TiffCompression::kNone;
};

}  // namespace clipra
