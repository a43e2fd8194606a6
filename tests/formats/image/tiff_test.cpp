#include "formats/image/tiff.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <tuple>

#include "formats/image/world_file.h"
#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

// Builds a TIFF file: the 8-byte header, a body of values and pixel data,
// and one directory, either at the end or (given its entry count) straight
// after the header.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool msb = false, uint16_t entries_first = 0)
      : msb_(msb), first_(entries_first) {}

  template <typename T>
  std::string Bytes(const std::vector<T>& values) const {
    std::string s;
    for (T v : values) s += Ordered<T>({v}, msb_);
    return s;
  }
  // The file offset that the next appended bytes get.
  uint32_t End() const {
    return (first_ ? 14 + 12 * first_ : 8) + static_cast<uint32_t>(body_.size());
  }
  // Appends bytes to the body; their file offset.
  uint32_t Append(const std::string& bytes) {
    const uint32_t at = End();
    body_ += bytes;
    return at;
  }
  // Values of up to four bytes sit in the entry, longer ones in the body.
  void Entry(uint16_t tag, uint16_t type, uint32_t count, std::string value) {
    if (value.size() > 4) value = Bytes<uint32_t>({Append(value)});
    value.resize(4, '\0');
    entries_.push_back(Bytes<uint16_t>({tag, type}) + Bytes<uint32_t>({count}) + value);
  }
  // SHORT, LONG or DOUBLE values by their size.
  template <typename T>
  void Values(uint16_t tag, const std::vector<T>& v) {
    const uint16_t type = sizeof(T) == 2 ? 3 : sizeof(T) == 4 ? 4 : 12;
    Entry(tag, type, static_cast<uint32_t>(v.size()), Bytes<T>(v));
  }
  // One value, given any count.
  void Short(uint16_t tag, uint16_t v, uint32_t n = 1) { Entry(tag, 3, n, Bytes<uint16_t>({v})); }
  void Long(uint16_t tag, uint32_t v, uint32_t n = 1) { Entry(tag, 4, n, Bytes<uint32_t>({v})); }
  void Rational(uint16_t tag, uint32_t n, uint32_t d) { Entry(tag, 5, 1, Bytes<uint32_t>({n, d})); }

  std::string Build() const {
    EXPECT_TRUE(!first_ || entries_.size() == first_);
    std::string ifd = Bytes<uint16_t>({static_cast<uint16_t>(entries_.size())});
    for (const std::string& e : entries_) ifd += e;
    ifd += Bytes<uint32_t>({0});
    const std::string head =
        (msb_ ? "MM" : "II") + Bytes<uint16_t>({42}) + Bytes<uint32_t>({first_ ? 8 : End()});
    return first_ ? head + ifd + body_ : head + body_ + ifd;
  }

 private:
  bool msb_;
  uint16_t first_;
  std::string body_;
  std::vector<std::string> entries_;
};

// A test image: sample s of pixel (x, y).
uint16_t Sample(uint32_t x, uint32_t y, uint32_t s, uint16_t bits) {
  const uint32_t v = (x * 7 + y * 31 + s * 60 + 1) % 256;
  return static_cast<uint16_t>(bits == 16 ? v * 251 + s : v);
}

// Grey for one sample, RGB for three.
struct TiffImage {
  uint32_t width = 5, height = 4;
  uint16_t bits = 8, samples = 1, planar = 1;
  uint32_t rows_per_strip = 0;  // 0: one strip per plane, no tag
  bool msb = false;
  bool short_offsets = false;  // SHORT strip offsets, held in the entry when two
  // The directory straight after the header, so that the last strip ends the file.
  bool dir_first = false;
  bool white_is_zero = false;
  uint32_t gap = 0;  // filler bytes before a directory at the end
};

// The strips of `img`, each plane's strips after the previous plane's.
std::vector<std::string> Strips(const TiffBuilder& b, const TiffImage& img) {
  const uint32_t rows = img.rows_per_strip ? img.rows_per_strip : img.height;
  const bool planar = img.planar == 2;
  std::vector<std::string> strips;
  for (uint32_t p = 0; p < (planar ? img.samples : 1u); ++p)
    for (uint32_t y0 = 0; y0 < img.height; y0 += rows) {
      std::string s;
      for (uint32_t y = y0; y < std::min(y0 + rows, img.height); ++y)
        for (uint32_t x = 0; x < img.width; ++x)
          for (uint32_t k = 0; k < (planar ? 1u : img.samples); ++k) {
            const uint16_t v = Sample(x, y, planar ? p : k, img.bits);
            s += img.bits == 16 ? b.Bytes<uint16_t>({v}) : std::string(1, static_cast<char>(v));
          }
      strips.push_back(s);
    }
  return strips;
}

// A complete file for `img`; `extra` adds entries after the usual ones.
std::string MakeTiff(const TiffImage& img,
                     const std::function<void(TiffBuilder&)>& extra = nullptr) {
  TiffBuilder b(img.msb, img.dir_first ? 8 + (img.rows_per_strip ? 1 : 0) : 0);
  const std::vector<std::string> strips = Strips(b, img);
  std::vector<uint32_t> offsets;
  if (!img.dir_first)
    for (const std::string& s : strips) offsets.push_back(b.Append(s));
  b.Append(std::string(img.gap, '\xEE'));
  b.Long(256, img.width);
  b.Long(257, img.height);
  b.Values<uint16_t>(258, std::vector<uint16_t>(img.samples, img.bits));
  b.Short(259, 1);
  b.Short(262, img.white_is_zero ? 0 : img.samples == 1 ? 1 : 2);
  b.Short(277, img.samples);
  if (img.rows_per_strip) b.Long(278, img.rows_per_strip);
  b.Short(284, img.planar);
  if (img.dir_first) {
    // The offset table goes to the body first, the strips after it.
    offsets = {b.End() + (strips.size() > 1 ? 4 * static_cast<uint32_t>(strips.size()) : 0)};
    for (const std::string& s : strips) offsets.push_back(offsets.back() + s.size());
    offsets.pop_back();
  }
  if (img.short_offsets)
    b.Values<uint16_t>(273, std::vector<uint16_t>(offsets.begin(), offsets.end()));
  else
    b.Values<uint32_t>(273, offsets);
  if (img.dir_first)
    for (const std::string& s : strips) b.Append(s);
  if (extra) extra(b);
  return b.Build();
}

class TiffReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` written as `name` in a fresh reader; the open's result.
  bool OpenBytes(const std::string& bytes, const std::string& name = "t.tif") {
    dir_.WriteFile(name, bytes);
    reader_ = std::make_unique<TiffReader>();
    return reader_->Open(dir_.Path(name));
  }
  float Cell(uint32_t x, uint32_t y, bool ok = true) {
    float v = -1;
    EXPECT_EQ(ok, reader_->GetCell(x, y, 0, v)) << x << "," << y;
    return v;
  }

  TempDir dir_;
  std::unique_ptr<TiffReader> reader_ = std::make_unique<TiffReader>();
};

// A planar file larger than the view keeps a view for each band, and
// switching bands cell by cell still reads every cell right.
TEST_F(TiffReaderTest, ReadsBothByteOrdersDepthsAndLayouts) {
  const struct {
    TiffImage img;
    uint64_t max_view = 0;
    std::function<void(TiffBuilder&)> extra = nullptr;
    int32_t reason = tiff::kReasonNone;
  } cases[] = {
      {{}},
      {{.bits = 16, .rows_per_strip = 3}},
      {{.bits = 16, .rows_per_strip = 3, .msb = true}},
      {{.samples = 3, .rows_per_strip = 1}},
      {{.samples = 3, .planar = 2}},
      {{.bits = 16, .samples = 3, .planar = 2, .rows_per_strip = 3, .msb = true}},
      {{.rows_per_strip = 2, .short_offsets = true}},
      {{.width = 70, .height = 50, .samples = 3, .planar = 2, .rows_per_strip = 4}, 4096},
      // The last plane's last row ends the file: only that row's bytes may be asked for.
      {{.bits = 16, .samples = 3, .planar = 2, .rows_per_strip = 3, .dir_first = true}},
      {{.white_is_zero = true}},
      // The directory beyond the first view, with the strip offset in its entry.
      {{.gap = 70000}},
      // A zero denominator is noted, and the file still reads.
      {{}, 0, [](TiffBuilder& b) { b.Rational(282, 72, 0); }, tiff::kReasonZeroXResolution},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const TiffImage& img = c.img;
    ASSERT_TRUE(OpenBytes(MakeTiff(img, c.extra))) << reader_->ErrorText;
    EXPECT_EQ(reader_->TiffReason, c.reason);
    if (c.max_view) reader_->MaxViewSize = c.max_view;
    EXPECT_EQ(reader_->GetCellType(),
              img.bits == 16 ? CellType::kUnsigned16 : CellType::kUnsigned8);
    EXPECT_EQ(reader_->IsMSBFirst(), img.msb ? 1 : 0);
    EXPECT_FALSE(reader_->HasPlainLayout());
    // Every cell; a band past the last reads the last.
    ExpectCells(*reader_, img.width, img.height, img.samples,
                [&](uint32_t x, uint32_t y, uint32_t s) {
                  return img.white_is_zero ? 255 - Sample(x, y, s, 8) : Sample(x, y, s, img.bits);
                });
  }
}

TEST_F(TiffReaderTest, RowsBeyondTheStripTableOrTheFileReadFalse) {
  // Declares two more lines than the strip table covers.
  ASSERT_TRUE(OpenBytes(MakeTiff({.rows_per_strip = 1}, [](TiffBuilder& b) { b.Long(257, 6); })));
  EXPECT_EQ(reader_->GetLines(), 6u);
  EXPECT_EQ(Cell(1, 3), Sample(1, 3, 0, 8));
  EXPECT_EQ(0, Cell(1, 4, false));
  // The last row ends 2 bytes past the end of the file.
  const std::string cut = MakeTiff({.rows_per_strip = 1, .dir_first = true});
  ASSERT_TRUE(OpenBytes(cut.substr(0, cut.size() - 2))) << reader_->ErrorText;
  EXPECT_EQ(Cell(4, 2), Sample(4, 2, 0, 8));
  EXPECT_EQ(0, Cell(0, 3, false));
}

TEST_F(TiffReaderTest, RefusesWithItsMessage) {
  const std::string good = MakeTiff({});
  const auto patched = [&good](uint32_t at, const std::string& patch) {
    return std::string(good).replace(at, patch.size(), patch);
  };
  // A 4 x 4 file with the given entries, after a BitsPerSample of 8 or not.
  const auto refused = [](const std::function<void(TiffBuilder&)>& entries,
                          bool eight_bits = true) {
    TiffBuilder b;
    const uint32_t data = b.Append(std::string(16, '\x01'));
    b.Long(256, 4);
    b.Long(257, 4);
    b.Long(273, data);
    if (eight_bits) b.Short(258, 8);
    entries(b);
    return b.Build();
  };
  const std::string outside = "Tiff error Directory outside of file";
  const std::string offsets_outside = "Tiff error StripOffsets outside of file";
  const std::tuple<std::string, uint32_t, std::string> cases[] = {
      {patched(0, "BM"), 2, "Wrong TIFF order"},
      {patched(2, ","), 3, "Wrong TIFF version"},  // 44
      {patched(4, Le<uint32_t>({1u << 30})), 4, outside},
      // An entry count of 500 runs past the end.
      {patched(read_le<uint32_t>(good.data() + 4), "\xF4\x01"), 4, outside},
      // CIELab goes to libtiff, which gives the same refusal.
      {refused([](TiffBuilder& b) { b.Short(262, 8); }), 4, "Tiff error Not greyScale or RGB"},
      {refused([](TiffBuilder& b) { b.Short(258, 1); }, false), 5, "Bit type not supported"},
      {refused([](TiffBuilder&) {}, false), 5, "Bit type not supported"},
      {refused([](TiffBuilder& b) { b.Long(278, 0); }), 4, "Tiff error RowsPerStrip is 0"},
      {refused([](TiffBuilder& b) { b.Rational(273, 1, 1); }), 4,
       "Tiff error StripOffset not of Short or Long type"},
      {refused([](TiffBuilder& b) { b.Long(273, 4000000, 3); }), 4, offsets_outside},
      {refused([](TiffBuilder& b) { b.Long(273, 8, 0x40000000); }), 4, offsets_outside},
      {refused([](TiffBuilder& b) { b.Short(258, 8, 0); }, false), 4,
       "Tiff error No samples per pixel"},
      // Unsigned 32-bit samples have no cell type: reading them as zeros would
      // be a wrong clip reported as a success.
      {refused([](TiffBuilder& b) { b.Short(258, 32); }, false), 4,
       "Cell type not supported: 32-bit unsigned integer samples"},
  };
  for (const auto& [bytes, error, text] : cases) {
    EXPECT_FALSE(OpenBytes(bytes));
    EXPECT_EQ(reader_->LastError, error) << text;
    EXPECT_EQ(reader_->ErrorText, text);
  }
  EXPECT_FALSE(reader_->Open(dir_.Path("none.tif")));
  EXPECT_EQ(reader_->LastError, 1u);
  EXPECT_EQ(reader_->ErrorText, "Open read error 2 " + SystemErrorText(2));
}

// World files give the centre of cell (0, 0) and win over the GeoTIFF tags;
// .tifw wins over .tfw. Four numbers will do, a comma is a decimal point,
// text reads as the default, and an unreadable file changes nothing.
TEST_F(TiffReaderTest, GeoreferenceComesFromTheWorldFile) {
  // The image, its world file and that file's text, its tags (0 none, 1 pixel
  // scale and tie point, 2 a transformation, 3 a rotated one), and the placement.
  const std::tuple<const char*, const char*, const char*, int, const char*> cases[] = {
      {"none.tif", nullptr, nullptr, 0, "1 1, 0 0, RAW RAW RAW"},
      {"w.tif", "w.tifw", "2\r\n0\r\n0\r\n-2\r\n100\r\n200\r\n", 0,
       "2 2, 99 201, UNKNOWN UNKNOWN UNKNOWN"},
      {"img.tif", "IMG.TFW", "4\n0\n0\n-4\n10\n20\n", 0, "4 4, 8 22, UNKNOWN UNKNOWN UNKNOWN"},
      {"any.tif", "any.wld", "4\n0\n0\n-4\n10\n20\n", 0, "4 4, 8 22, UNKNOWN UNKNOWN UNKNOWN"},
      {"g.tif", "g.tfw", "3\n0\n0\n-3\n1000\n2000\n", 1,
       "3 3, 998.5 2001.5, UNKNOWN UNKNOWN UNKNOWN"},
      {"t.tif", nullptr, nullptr, 1, "0.5 0.5, 7 8, UNKNOWN UNKNOWN UNKNOWN"},
      {"m.tif", nullptr, nullptr, 2, "0.5 0.5, 7 8, UNKNOWN UNKNOWN UNKNOWN"},
      // A rotated grid is read without its georeference, and says so.
      {"r.tif", nullptr, nullptr, 3, "1 1, 0 0, RAW RAW RAW"},
      {"four.tif", "four.tfw", "2\r\n0\r\n0\r\n-2\r\n", 0, "2 2, -1 1, UNKNOWN UNKNOWN UNKNOWN"},
      {"empty.tif", "empty.tfw", "", 0, "1 1, 0 0, RAW RAW RAW"},
      {"comma.tif", "comma.tfw", "1,5\n0.25\n-0.5\n1.5\nabc\n7.25\n", 0,
       "1.5 1.5, -0.75 8, UNKNOWN UNKNOWN UNKNOWN"},
  };
  dir_.WriteFile("w.tfw", "5\n0\n0\n-5\n500\n600\n");
  for (const auto& [tif, sidecar, world, kind, placement] : cases) {
    const auto tags = [kind = kind](TiffBuilder& b) {
      if (kind == 1) b.Values<double>(33550, {0.5, 0.5, 0});
      if (kind == 1) b.Values<double>(33922, {0, 0, 0, 7, 8, 0});
      const double r = kind == 3 ? 0.1 : 0;
      if (kind > 1) b.Values<double>(34264, {0.5, r, 0, 7, r, -0.5, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1});
    };
    if (sidecar) dir_.WriteFile(sidecar, world);
    ASSERT_TRUE(OpenBytes(MakeTiff({}, tags), tif)) << tif;
    EXPECT_EQ(placement, Placement(*reader_)) << tif;
    // Tags that the world file overrode are named in the closing note.
    EXPECT_EQ(reader_->Note.empty(), !(kind && sidecar) && kind != 3) << reader_->Note;
  }
  EXPECT_EQ(std::vector<double>({0.25, -0.5}),
            std::vector<double>({reader_->RotationX, reader_->RotationY}));
  // An empty file changes nothing; one that is not there gives the defaults.
  Georeference geo{.CellSizeX = 3, .Projection = "UNKNOWN"};
  EXPECT_FALSE(ReadWorldFile(geo, dir_.Path("empty.tfw")));
  EXPECT_EQ("3 UNKNOWN", Num(geo.CellSizeX) + " " + geo.Projection);
  EXPECT_FALSE(ReadWorldFile(geo, dir_.Path("missing.tfw")));
  EXPECT_EQ("1 RAW", Num(geo.CellSizeX) + " " + geo.Projection);
}

// The writer's header as the layout tables give it: the directory of 16
// entries at 8, then the bits per sample at 206 (room for three even for one
// band), the resolutions at 212 and 220, pixel scale at 228, tie point at 252
// and the geokeys at 300; the cells start at 348.
std::string ExpectedHeader(uint32_t w, uint32_t l, uint16_t bands, uint16_t bits, double scale,
                           double left, double top) {
  TiffBuilder b(false, 16);
  const uint32_t bits_at = b.Append(b.Bytes<uint16_t>({bits, bits, bits}));
  b.Long(256, w);
  b.Long(257, l);
  b.Entry(258, 3, bands, bands == 1 ? b.Bytes<uint16_t>({bits}) : b.Bytes<uint32_t>({bits_at}));
  b.Short(259, 1);
  b.Short(262, bands == 1 ? 1 : 2);
  b.Long(273, 348);
  b.Short(277, bands);
  b.Long(278, l);
  b.Long(279, w * l * bands * bits / 8);
  b.Rational(282, 1, 1);
  b.Rational(283, 1, 1);
  b.Short(284, 1);
  b.Short(296, 3);
  b.Values<double>(33550, {scale, scale, 0});
  b.Values<double>(33922, {0, 0, 0, left, top, 0});
  b.Values<uint16_t>(34735, {1,    1, 0, 5,     1024, 0, 1, 1,    1025, 0, 1, 1,
                             3072, 0, 1, 32635, 3076, 0, 1, 9001, 4099, 0, 1, 9001});
  return b.Build();
}

// Samples go out pixel by pixel after the header, and 16-bit files end with
// 348 zero bytes. A registration cell other than (0, 0) moves the origin; the
// world file gives the corner.
TEST(TiffWriter, WritesTheHeaderThenThePixelsAndTheWorldFile) {
  TempDir dir;
  const struct {
    uint32_t w, h;
    CellType type;
    int32_t bands;
    uint16_t bits;
    double scale, left, top;  // no georeference set when scale is 0
    const char* world;
  } cases[] = {{3, 2, CellType::kUnsigned8, 1, 8, 0, 0, 0, ""},
               {2, 2, CellType::kUnsigned8, 3, 8, 0, 0, 0, ""},
               {5, 4, CellType::kUnsigned16, 3, 16, 2.5, 995, 2007.5,
                "  2.50000000000000\r\n  0.00000000000000\r\n  0.00000000000000\r\n"
                " -2.50000000000000\r\n995.00000000000000\r\n2007.50000000000000\r\n"}};
  for (const auto& k : cases) {
    const std::string name = "o" + std::to_string(k.bands) + "x" + std::to_string(k.bits);
    std::string cells;
    {
      TiffWriter w(dir.Path(name + ".tif"), k.w, k.h, k.type, k.bands, 1);
      if (k.scale) w.SetGeoreference({k.scale, k.scale, 2, 3, 1000, 2000, "", "", ""});
      for (uint32_t y = 0; y < k.h; ++y)
        for (uint32_t x = 0; x < k.w; ++x)
          for (int32_t b = 0; b < k.bands; ++b) {
            const uint16_t v = Sample(x, y, b, k.bits);
            EXPECT_TRUE(w.SetCell(x, y, b, v));
            cells += k.bits == 16 ? Le<uint16_t>({v}) : std::string(1, char(v));
          }
      EXPECT_FALSE(w.SetCell(k.w, 0, 0, 1));
      // Without a georeference the cells are 1 x 1 with the corner at (0, 0).
      const Georeference g = w.GetGeoreference();
      EXPECT_EQ(std::tuple(g.LeftX(), g.TopY(), g.CellSizeY, w.GetCellType()),
                std::tuple(k.left, k.top, k.scale ? k.scale : 1, k.type));
    }
    if (k.bits == 16) cells += std::string(348, '\0');
    EXPECT_EQ(
        dir.ReadFile(name + ".tif"),
        ExpectedHeader(k.w, k.h, k.bands, k.bits, k.scale ? k.scale : 1, k.left, k.top) + cells)
        << name;
    EXPECT_EQ(dir.ReadFile(name + ".tfw"), k.world);
  }
  // The job checks only the exact extension ".tif"; this name passes it.
  EXPECT_EQ("Not supported cell type(must be integer or float): " + CellTypeName(CellType::kRgb24),
            ThrownText<DatasetError>(
                [&] { Output out(dir.Path("c.TIF"), 2, 2, CellType::kRgb24, 1, 1); }));
}

// The scratch file is never seen: a finished writer leaves its TIFF only, a
// stopped or unfinished one nothing.
TEST(TiffOutputs, CompressedWriterLeavesOnlyAFinishedFile) {
  for (const int finish : {0, 1, 2}) {  // not at all, stopped, to the end
    TempDir dir;
    {
      TiffWriter w(dir.Path("o.tif"), 600, 300, CellType::kUnsigned16, 1, 1,
                   TiffCompression::kDeflate);
      EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // the scratch file has no name
      if (finish > 0) {
        EXPECT_EQ(w.Finish([&] { return finish == 1; }), finish == 2);
      }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), finish == 2)
        << finish;
  }
}

// An output past 4 GiB is BigTIFF with the same tags: a grey, a colour and a
// float one (with SampleFormat). Only the far corner is set, so the files
// stay sparse, but their room is reserved on disk.
TEST(TiffOutputs, OutputsPastFourGiBAreBigTiffsThatGdalReads) {
  REQUIRE_GDAL_PYTHON();
  struct {
    uint32_t side;
    CellType cell_type;
    int32_t bands;
    const char* gdal;  // type, then the 2 x 2 corner of each band, then no-data
    double no_data = 0;
  } const cases[] = {
      {46400, CellType::kUnsigned16, 1, "UInt16 [[[0, 0], [0, 200]]] None"},
      {37900, CellType::kUnsigned8, 3,
       "Byte [[[0, 0], [0, 200]], [[0, 0], [0, 210]], [[0, 0], [0, 220]]] None"},
      {32800, CellType::kFloat32, 1, "Float32 [[[0.0, 0.0], [0.0, 200.5]]] -99999.0", -99999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    const uint64_t bytes = uint64_t{c.side} * c.side * c.bands * CellTypeSize(c.cell_type);
    TempDir dir;
    const std::filesystem::space_info room = std::filesystem::space(dir.path());
    if (room.available < bytes + (uint64_t{1} << 30))
      GTEST_SKIP() << "a BigTIFF output needs " << (bytes >> 30) + 2 << " GiB free in "
                   << dir.path() << ", which has " << (room.available >> 30) << " GiB";
    {
      Output out(dir.Path("big.tif"), c.side, c.side, c.cell_type, c.bands, 1);
      if (c.no_data != 0) out.SetNoData(c.no_data);
      out.SetGeoreference({2, 2, 0, 0, 400000, 6200000, "WGS84", "WGS84", "NUTM33"});
      for (int32_t b = 0; b < c.bands; ++b)
        ASSERT_TRUE(out.PutValue(c.side - 1, c.side - 1, b, 200.5 + 10 * b));
    }
    std::string shown;
    ASSERT_TRUE(RunPython(dir, R"(from osgeo import gdal
import os
f = os.path.join(os.path.dirname(__file__), 'big.tif')
ds = gdal.Open(f)
at, b = ds.RasterXSize - 2, ds.GetRasterBand(1)
corner = [ds.GetRasterBand(i + 1).ReadAsArray(at, at, 2, 2).tolist() for i in range(ds.RasterCount)]
print(open(f, 'rb').read(4), ds.RasterXSize, ds.GetSpatialRef().GetAuthorityCode(None),
      ds.GetGeoTransform(), gdal.GetDataTypeName(b.DataType), corner, b.GetNoDataValue(),
      repr(gdal.GetLastErrorMsg()))
)",
                          &shown));
    EXPECT_EQ(shown, "b'II+\\x00' " + std::to_string(c.side) +
                         " 32633 (400000.0, 2.0, 0.0, 6200000.0, 0.0, -2.0) " + c.gdal + " ''\n");
  }
}

}  // namespace
}  // namespace clipra
