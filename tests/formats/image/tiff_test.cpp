#include "formats/image/tiff.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "formats/image/world_file.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// Builds a TIFF file: the 8-byte header, a body of values and pixel data,
// and one directory, either at the end or (when its entry count is given)
// straight after the header.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool msb_first = false, int entries_first = 0)
      : msb_(msb_first), entries_first_(entries_first) {
    body_start_ = entries_first > 0 ? 8 + 2 + 12 * entries_first + 4 : 8;
  }

  template <typename T>
  std::string Bytes(const std::vector<T>& values) const {
    std::string s;
    for (T v : values) {
      char b[sizeof(T)];
      write_ordered<T>(b, v, !msb_);
      s.append(b, sizeof(T));
    }
    return s;
  }

  // The file offset that the next appended bytes get.
  uint32_t End() const { return body_start_ + static_cast<uint32_t>(body_.size()); }
  // Appends bytes to the body; their file offset.
  uint32_t Append(const std::string& bytes) {
    const uint32_t at = End();
    body_ += bytes;
    return at;
  }

  // Values of up to four bytes sit in the entry, longer ones in the body.
  void Entry(uint16_t tag, uint16_t type, uint32_t count, const std::string& value) {
    std::string field = value;
    if (field.size() > 4) field = Bytes<uint32_t>({Append(value)});
    field.resize(4, '\0');
    entries_.push_back(Bytes<uint16_t>({tag, type}) + Bytes<uint32_t>({count}) + field);
  }
  // SHORT, LONG or DOUBLE values by their size.
  template <typename T>
  void Values(uint16_t tag, const std::vector<T>& v) {
    const uint16_t type = sizeof(T) == 2 ? 3 : sizeof(T) == 4 ? 4 : 12;
    Entry(tag, type, static_cast<uint32_t>(v.size()), Bytes<T>(v));
  }
  void Short(uint16_t tag, uint16_t v) { Values<uint16_t>(tag, {v}); }
  void Long(uint16_t tag, uint32_t v) { Values<uint32_t>(tag, {v}); }
  void Rational(uint16_t tag, uint32_t num, uint32_t den) {
    Entry(tag, 5, 1, Bytes<uint32_t>({num, den}));
  }

  std::string Build() const {
    std::string ifd = Bytes<uint16_t>({static_cast<uint16_t>(entries_.size())});
    for (const std::string& e : entries_) ifd += e;
    ifd += Bytes<uint32_t>({0});
    const bool first = entries_first_ > 0;
    EXPECT_TRUE(!first || static_cast<int>(entries_.size()) == entries_first_);
    const uint32_t ifd_at = first ? 8 : 8 + static_cast<uint32_t>(body_.size());
    std::string head = msb_ ? "MM" : "II";
    head += Bytes<uint16_t>({42}) + Bytes<uint32_t>({ifd_at});
    return first ? head + ifd + body_ : head + body_ + ifd;
  }

 private:
  bool msb_;
  int entries_first_;
  uint32_t body_start_;
  std::string body_;
  std::vector<std::string> entries_;
};

std::string Le(uint32_t v) {
  return TiffBuilder().Bytes<uint32_t>({v});
}

// A test image: sample s of pixel (x, y).
uint16_t Sample(uint32_t x, uint32_t y, uint32_t s, uint16_t bits) {
  const uint32_t v = (x * 7 + y * 31 + s * 60 + 1) % 256;
  return bits == 16 ? static_cast<uint16_t>(v * 251 + s) : static_cast<uint16_t>(v);
}

// Grey for one sample, RGB for three.
struct TiffImage {
  uint32_t width = 5;
  uint32_t height = 4;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t planar = 1;
  uint32_t rows_per_strip = 0;  // 0: one strip per plane, no tag
  bool msb = false;
  bool short_offsets = false;  // SHORT strip offsets, held in the entry when two
};

// The strips of `img`, each plane's strips after the previous plane's.
std::vector<std::string> Strips(const TiffBuilder& b, const TiffImage& img) {
  const uint32_t rows = img.rows_per_strip ? img.rows_per_strip : img.height;
  const uint32_t planes = img.planar == 2 ? img.samples : 1;
  const uint32_t per_pixel = img.planar == 2 ? 1 : img.samples;
  std::vector<std::string> strips;
  for (uint32_t p = 0; p < planes; ++p) {
    for (uint32_t y0 = 0; y0 < img.height; y0 += rows) {
      std::string s;
      for (uint32_t y = y0; y < y0 + rows && y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
          for (uint32_t k = 0; k < per_pixel; ++k) {
            const uint16_t v = Sample(x, y, img.planar == 2 ? p : k, img.bits);
            s += img.bits == 16 ? b.Bytes<uint16_t>({v}) : std::string(1, static_cast<char>(v));
          }
      strips.push_back(s);
    }
  }
  return strips;
}

// A complete file for `img`; `extra` adds entries after the usual ones.
std::string MakeTiff(const TiffImage& img,
                     const std::function<void(TiffBuilder&)>& extra = nullptr) {
  TiffBuilder b(img.msb);
  std::vector<uint32_t> offsets;
  for (const std::string& s : Strips(b, img)) offsets.push_back(b.Append(s));
  b.Long(256, img.width);
  b.Long(257, img.height);
  b.Values<uint16_t>(258, std::vector<uint16_t>(img.samples, img.bits));
  b.Short(259, 1);
  b.Short(262, img.samples == 1 ? 1 : 2);
  if (img.short_offsets)
    b.Values<uint16_t>(273, std::vector<uint16_t>(offsets.begin(), offsets.end()));
  else
    b.Values<uint32_t>(273, offsets);
  b.Short(277, img.samples);
  if (img.rows_per_strip) b.Long(278, img.rows_per_strip);
  b.Short(284, img.planar);
  if (extra) extra(b);
  return b.Build();
}

// A file of one row of `width` samples, `gap` filler bytes between the row
// and the directory.
std::string OneRow(const std::string& row, uint32_t width, uint16_t bits = 8,
                   uint16_t photometric = 1, size_t gap = 0) {
  TiffBuilder b;
  const uint32_t at = b.Append(row);
  b.Append(std::string(gap, '\xEE'));
  b.Long(256, width);
  b.Long(257, 1);
  b.Short(258, bits);
  b.Short(262, photometric);
  b.Long(273, at);
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
  float Cell(uint32_t x, uint32_t y, uint32_t band) {
    float v = -1;
    EXPECT_TRUE(reader_->GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  void ExpectNoCell(uint32_t x, uint32_t y) {
    float v = -1;
    EXPECT_FALSE(reader_->GetCell(x, y, 0, v)) << x << "," << y;
    EXPECT_EQ(v, 0);
  }
  void ExpectImage(const TiffImage& img) {
    ASSERT_EQ(reader_->GetWidth(), img.width);
    ASSERT_EQ(reader_->GetLines(), img.height);
    ASSERT_EQ(reader_->GetBands(), img.samples);
    for (uint32_t y = 0; y < img.height; ++y)
      for (uint32_t x = 0; x < img.width; ++x)
        for (uint32_t s = 0; s < img.samples; ++s)
          ASSERT_EQ(Cell(x, y, s), Sample(x, y, s, img.bits)) << x << "," << y << "," << s;
  }

  TempDir dir_;
  std::unique_ptr<TiffReader> reader_ = std::make_unique<TiffReader>();
};

TEST_F(TiffReaderTest, ReadsBothByteOrdersDepthsAndLayouts) {
  const TiffImage images[] = {
      {},
      {.bits = 16, .rows_per_strip = 3},
      {.bits = 16, .rows_per_strip = 3, .msb = true},
      {.samples = 3, .rows_per_strip = 1},
      {.samples = 3, .planar = 2},
      {.bits = 16, .samples = 3, .planar = 2, .rows_per_strip = 3, .msb = true},
      {.rows_per_strip = 2, .short_offsets = true},
  };
  for (const TiffImage& img : images) {
    SCOPED_TRACE(&img - images);
    ASSERT_TRUE(OpenBytes(MakeTiff(img))) << reader_->ErrorText;
    EXPECT_EQ(reader_->GetCellType(),
              img.bits == 16 ? CellType::kUnsigned16 : CellType::kUnsigned8);
    EXPECT_EQ(reader_->IsMSBFirst(), img.msb ? 1 : 0);
    EXPECT_FALSE(reader_->HasPlainLayout());
    ExpectImage(img);
    // A band past the last reads the last; positions outside read false.
    EXPECT_EQ(Cell(2, 1, 7), Sample(2, 1, img.samples - 1, img.bits));
    ExpectNoCell(img.width, 0);
    ExpectNoCell(0, img.height);
    EXPECT_FALSE(reader_->SeekLine(img.height, 0));
  }
}

// A planar file larger than the view keeps a view for each band, and
// switching bands cell by cell still reads every cell right.
TEST_F(TiffReaderTest, PlanarFileLargerThanTheViewKeepsAViewEachBand) {
  const TiffImage img{.width = 70, .height = 50, .samples = 3, .planar = 2, .rows_per_strip = 4};
  ASSERT_TRUE(OpenBytes(MakeTiff(img))) << reader_->ErrorText;
  reader_->MaxViewSize = 4096;
  ASSERT_GT(reader_->FileSize, 2 * reader_->MaxViewSize);
  ExpectImage(img);
}

TEST_F(TiffReaderTest, ReadsLastRowOfLastPlaneAtEndOfFile) {
  // Several strips per band and the directory first, so that the last
  // plane's last row ends the file: only that row's bytes may be asked for.
  const TiffImage img{.bits = 16, .samples = 3, .planar = 2, .rows_per_strip = 3};
  TiffBuilder b(false, 7);
  b.Long(256, img.width);
  b.Long(257, img.height);
  b.Values<uint16_t>(258, {16, 16, 16});
  b.Short(262, 2);
  b.Long(278, img.rows_per_strip);
  b.Short(284, 2);
  const std::vector<std::string> strips = Strips(b, img);
  // The offset table goes to the body first, the strips after it.
  std::vector<uint32_t> offsets;
  uint32_t at = b.End() + 4 * static_cast<uint32_t>(strips.size());
  for (const std::string& s : strips) {
    offsets.push_back(at);
    at += static_cast<uint32_t>(s.size());
  }
  b.Values<uint32_t>(273, offsets);
  for (size_t i = 0; i < strips.size(); ++i) ASSERT_EQ(b.Append(strips[i]), offsets[i]);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_->ErrorText;
  ExpectImage(img);
}

TEST_F(TiffReaderTest, ReadsOneRowFilesOfEveryKind) {
  const struct {
    std::string row;
    uint32_t width;
    uint16_t bits, photometric;
    size_t gap;
    std::vector<float> cells;
  } cases[] = {
      {std::string("\x00\x10\xFF", 3), 3, 8, 0, 0, {255, 255 - 16, 0}},  // white is zero
      // The directory beyond the first view, with the strip offset in its entry.
      {"\x05\x06\x07", 3, 8, 1, 70000, {5, 6, 7}},
  };
  for (const auto& k : cases) {
    ASSERT_TRUE(OpenBytes(OneRow(k.row, k.width, k.bits, k.photometric, k.gap)))
        << reader_->ErrorText;
    for (uint32_t x = 0; x < k.width; ++x) EXPECT_EQ(Cell(x, 0, 0), k.cells[x]) << k.bits;
  }
  EXPECT_EQ(reader_->GetCellType(), CellType::kUnsigned8);
  // Unsigned 32-bit samples have no cell type: reading them as zeros would be
  // a wrong clip reported as a success.
  EXPECT_FALSE(OpenBytes(OneRow(Le(7) + Le(8), 2, 32)));
  EXPECT_EQ(reader_->ErrorText, "Cell type not supported: 32-bit unsigned integer samples");
}

TEST_F(TiffReaderTest, RowsBeyondTheStripTableOrTheFileReadFalse) {
  // Declares two more lines than the strip table covers.
  ASSERT_TRUE(OpenBytes(MakeTiff({.rows_per_strip = 1}, [](TiffBuilder& b) { b.Long(257, 6); })));
  EXPECT_EQ(reader_->GetLines(), 6u);
  EXPECT_EQ(Cell(1, 3, 0), Sample(1, 3, 0, 8));
  ExpectNoCell(1, 4);
  ExpectNoCell(1, 5);

  TiffBuilder b(false, 6);
  b.Long(256, 4);
  b.Long(257, 3);
  b.Short(258, 8);
  b.Short(262, 1);
  b.Long(278, 1);
  // The third row starts 2 bytes before the end of the file.
  const uint32_t data = b.End() + 12;
  b.Values<uint32_t>(273, {data, data + 4, data + 6});
  ASSERT_EQ(b.Append("ABCDEFGH"), data);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_->ErrorText;
  EXPECT_EQ(Cell(3, 1, 0), 'H');
  ExpectNoCell(0, 2);
}

TEST_F(TiffReaderTest, ZeroXResolutionAloneStillOpens) {
  ASSERT_TRUE(OpenBytes(MakeTiff({}, [](TiffBuilder& b) { b.Rational(282, 72, 0); })))
      << reader_->ErrorText;
  EXPECT_EQ(reader_->TiffReason, tiff::kReasonZeroXResolution);
  ExpectImage({});
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
  const struct {
    std::string bytes;
    uint32_t error;
    std::string text;
  } cases[] = {
      {patched(0, "BM"), 2, "Wrong TIFF order"},
      {patched(2, ","), 3, "Wrong TIFF version"},  // 44
      {patched(4, Le(1u << 30)), 4, outside},
      // An entry count of 500 runs past the end.
      {patched(read_le<uint32_t>(good.data() + 4), "\xF4\x01"), 4, outside},
      // CIELab goes to libtiff, which gives the same refusal.
      {refused([](TiffBuilder& b) { b.Short(262, 8); }), 4, "Tiff error Not greyScale or RGB"},
      {refused([](TiffBuilder& b) { b.Short(258, 1); }, false), 5, "Bit type not supported"},
      {refused([](TiffBuilder&) {}, false), 5, "Bit type not supported"},
      {refused([](TiffBuilder& b) { b.Long(278, 0); }), 4, "Tiff error RowsPerStrip is 0"},
      {refused([](TiffBuilder& b) { b.Rational(273, 1, 1); }), 4,
       "Tiff error StripOffset not of Short or Long type"},
      {refused([](TiffBuilder& b) { b.Entry(273, 4, 3, Le(4000000)); }), 4, offsets_outside},
      {refused([](TiffBuilder& b) { b.Entry(273, 4, 0x40000000, Le(8)); }), 4, offsets_outside},
      {refused([](TiffBuilder& b) { b.Entry(258, 3, 0, Le(8)); }, false), 4,
       "Tiff error No samples per pixel"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(&k - cases);
    EXPECT_FALSE(OpenBytes(k.bytes));
    EXPECT_EQ(reader_->LastError, k.error);
    EXPECT_EQ(reader_->ErrorText, k.text);
  }
  EXPECT_FALSE(reader_->Open(dir_.Path("none.tif")));
  EXPECT_EQ(reader_->LastError, 1u);
  EXPECT_EQ(reader_->ErrorText, "Open read error 2 " + SystemErrorText(2));
}

TEST_F(TiffReaderTest, GeoreferenceComesFromTheWorldFile) {
  struct Case {
    const char* tif;
    bool pixel_scale;
    double size, left, top;
    const char* strings;  // projection, datum and spheroid
    const char* sidecar;
    const char* world;
  } const cases[] = {
      {"none.tif", false, 1, 0, 0, "RAW", nullptr, nullptr},
      // World files give the centre of cell (0, 0).
      {"w.tif", false, 2, 99, 201, "UNKNOWN", "w.tifw", "2\r\n0\r\n0\r\n-2\r\n100\r\n200\r\n"},
      {"img.tif", false, 4, 8, 22, "UNKNOWN", "IMG.TFW", "4\n0\n0\n-4\n10\n20\n"},
      {"any.tif", false, 4, 8, 22, "UNKNOWN", "any.wld", "4\n0\n0\n-4\n10\n20\n"},
      // The world file wins over the GeoTIFF tags.
      {"g.tif", true, 3, 998.5, 2001.5, "UNKNOWN", "g.tfw", "3\n0\n0\n-3\n1000\n2000\n"},
      // Without one the tags place the image.
      {"t.tif", true, 0.5, 7, 8, "UNKNOWN", nullptr, nullptr},
  };
  // .tifw wins over .tfw.
  dir_.WriteFile("w.tfw", "5\n0\n0\n-5\n500\n600\n");
  const std::function<void(TiffBuilder&)> pixel_scale = [](TiffBuilder& b) {
    b.Values<double>(33550, {0.5, 0.5, 0});
    b.Values<double>(33922, {0, 0, 0, 7, 8, 0});
  };
  for (const Case& k : cases) {
    if (k.sidecar) dir_.WriteFile(k.sidecar, k.world);
    ASSERT_TRUE(OpenBytes(MakeTiff({}, k.pixel_scale ? pixel_scale : nullptr), k.tif)) << k.tif;
    EXPECT_EQ(reader_->GetCellSizeY(), k.size) << k.tif;
    EXPECT_EQ(reader_->GetLeftX(), k.left) << k.tif;
    EXPECT_EQ(reader_->GetTopY(), k.top) << k.tif;
    const Georeference& g = reader_->GetGeoreference();
    EXPECT_EQ(g.Projection + g.Datum + g.Spheroid, std::string(k.strings) + k.strings + k.strings);
    // Tags that the world file overrode are named in the closing note.
    EXPECT_EQ(reader_->Note.empty(), !(k.pixel_scale && k.sidecar)) << reader_->Note;
  }
  // The reading facade opens w.tif too: map (103.2, 197.2) is cell (2.1, 1.9),
  // the nearest cell (2, 2).
  Source data;
  ASSERT_TRUE(data.Open(dir_.Path("w.tif"))) << data.GetErrorText();
  float v = -1;
  ASSERT_TRUE(data.GetValue(0, v, 103.2, 197.2, 0));
  EXPECT_EQ(v, Sample(2, 2, 0, 8));
}

TEST(WorldFile, ReadsFourOrSixNumbersWithCommaOrPointAndChangesNothingWhenUnreadable) {
  TempDir dir;
  Georeference geo;
  double rx = -1, ry = -1;
  dir.WriteFile("a.tfw", "2\r\n0\r\n0\r\n-2\r\n");
  ASSERT_TRUE(ReadWorldFile(geo, dir.Path("a.tfw"), rx, ry));
  EXPECT_EQ(2, geo.CellSizeY);
  EXPECT_EQ(1, geo.RegY);  // the centre (0, 0) puts the corner half a cell up
  EXPECT_EQ("UNKNOWN", geo.Projection);
  dir.WriteFile("b.tfw", "1,5\n0.25\n-0.5\n1.5\nabc\n7.25\n");
  ASSERT_TRUE(ReadWorldFile(geo, dir.Path("b.tfw"), rx, ry));
  EXPECT_EQ(1.5, geo.CellSizeX);
  EXPECT_EQ(0.25, rx);
  EXPECT_EQ(-0.5, ry);
  EXPECT_EQ(-0.75, geo.RegX);  // text reads as the default
  EXPECT_EQ(8, geo.RegY);
  dir.WriteFile("empty.tfw", "");
  EXPECT_FALSE(ReadWorldFile(geo, dir.Path("empty.tfw"), rx, ry));
  EXPECT_EQ(8, geo.RegY);
  EXPECT_FALSE(ReadWorldFile(geo, dir.Path("missing.tfw")));
  EXPECT_EQ("RAW", geo.Projection);
}

// The writer's header as the layout tables give it: the directory of 16
// entries at 8, then the bits per sample at 206 (room for three even for one
// band), the resolutions at 212 and 220, pixel scale at 228, tie point at 252
// and the geokeys at 300; the cells start at 348.
std::string ExpectedHeader(uint32_t w, uint32_t l, uint16_t bands, uint16_t bits, double scale_x,
                           double scale_y, double left, double top) {
  TiffBuilder b(false, 16);
  const uint32_t bits_at = b.Append(b.Bytes<uint16_t>({bits, bits, bits}));
  b.Long(256, w);
  b.Long(257, l);
  b.Entry(258, 3, bands, bands == 1 ? b.Bytes<uint16_t>({bits}) : Le(bits_at));
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
  b.Values<double>(33550, {scale_x, scale_y, 0});
  b.Values<double>(33922, {0, 0, 0, left, top, 0});
  b.Values<uint16_t>(34735, {1,    1, 0, 5,     1024, 0, 1, 1,    1025, 0, 1, 1,
                             3072, 0, 1, 32635, 3076, 0, 1, 9001, 4099, 0, 1, 9001});
  const std::string h = b.Build();
  EXPECT_EQ(h.size(), 348u);
  return h;
}

class TiffWriterTest : public ::testing::Test {
 protected:
  std::string Bytes(const std::string& name) { return dir_.ReadFile(name); }
  TempDir dir_;
};

TEST_F(TiffWriterTest, WritesHeaderThenSamplesPixelByPixelAndReadsThemBack) {
  struct Case {
    uint32_t w, h;
    CellType type;
    int32_t bands;
    uint16_t bits;
    double scale, left, top;  // no georeference set when scale is 0
  } const cases[] = {{3, 2, CellType::kUnsigned8, 1, 8, 0, 0, 0},
                     {2, 2, CellType::kUnsigned8, 3, 8, 0, 0, 0},
                     {4, 3, CellType::kUnsigned16, 1, 16, 0, 0, 0},
                     {5, 4, CellType::kUnsigned16, 3, 16, 2.5, 1000, 2000}};
  for (const Case& k : cases) {
    const std::string name = "o" + std::to_string(k.bands) + "x" + std::to_string(k.bits) + ".tif";
    std::string cells;
    {
      TiffWriter w(dir_.Path(name), k.w, k.h, k.type, k.bands, 1);
      EXPECT_TRUE(w.StoresByIndex());
      if (k.scale) w.SetGeoreference({k.scale, k.scale, 0, 0, k.left, k.top, "", "", ""});
      for (uint32_t y = 0; y < k.h; ++y)
        for (uint32_t x = 0; x < k.w; ++x)
          for (int32_t b = 0; b < k.bands; ++b) {
            const uint16_t v = Sample(x, y, b, k.bits);
            EXPECT_TRUE(w.SetCell(x, y, b, v));
            cells += k.bits == 16 ? TiffBuilder().Bytes<uint16_t>({v}) : std::string(1, char(v));
          }
    }
    // 16-bit files end with 348 zero bytes.
    if (k.bits == 16) cells += std::string(348, '\0');
    const double scale = k.scale ? k.scale : 1;
    const std::string f = Bytes(name);
    EXPECT_EQ(f.substr(0, 348),
              ExpectedHeader(k.w, k.h, k.bands, k.bits, scale, scale, k.left, k.top))
        << name;
    EXPECT_EQ(f.substr(348), cells) << name;

    TiffReader r;
    ASSERT_TRUE(r.Open(dir_.Path(name))) << r.ErrorText;
    ASSERT_EQ(r.GetBands(), uint32_t(k.bands));
    EXPECT_EQ(r.GetCellType(), k.type);
    EXPECT_EQ(r.GetCellSizeX(), scale);
    EXPECT_EQ(r.GetLeftX(), k.left);
    EXPECT_EQ(r.GetTopY(), k.top);
    for (uint32_t y = 0; y < k.h; ++y)
      for (uint32_t x = 0; x < k.w; ++x)
        for (int32_t b = 0; b < k.bands; ++b) {
          float v = -1;
          ASSERT_TRUE(r.GetCell(x, y, b, v));
          ASSERT_EQ(v, Sample(x, y, b, k.bits)) << name << " " << x << "," << y << "," << b;
        }
  }
}

TEST_F(TiffWriterTest, StoresLowBitsAndTwosComplement) {
  {
    TiffWriter w8(dir_.Path("b.tif"), 1, 1, CellType::kUnsigned8, 1, 1);
    w8.SetCell(0, 0, 0, 300);
    TiffWriter w16(dir_.Path("i.tif"), 1, 1, CellType::kSigned16, 1, 1);
    w16.SetCell(0, 0, 0, -2);
    EXPECT_EQ(w16.GetCellType(), CellType::kSigned16);
    EXPECT_FALSE(w16.SetCell(1, 0, 0, 1));
  }
  EXPECT_EQ(static_cast<uint8_t>(Bytes("b.tif")[348]), 44);
  // Signed cells follow the longer header with its SampleFormat entry.
  EXPECT_EQ(read_le<uint16_t>(Bytes("i.tif").data() + 368), 0xFFFE);
}

TEST_F(TiffWriterTest, GeoreferenceGoesToHeaderAndWorldFile) {
  {
    TiffWriter w(dir_.Path("g.tif"), 3, 2, CellType::kUnsigned8, 1, 1);
    w.SetGeoreference({10, 10, 0, 0, 300, 700, "S", "D", "P"});
    EXPECT_EQ(w.GetGeoreference().LeftX(), 300);
    EXPECT_EQ(w.GetGeoreference().TopY(), 700);
    // A registration cell other than (0, 0) moves the origin.
    TiffWriter r(dir_.Path("r.tif"), 1, 1, CellType::kUnsigned8, 1, 1);
    r.SetGeoreference({5, 5, 2, 3, 100, 200, "", "", ""});
    EXPECT_EQ(r.GetGeoreference().LeftX(), 90);
    EXPECT_EQ(r.GetGeoreference().TopY(), 215);
  }
  EXPECT_EQ(Bytes("g.tif").substr(0, 348), ExpectedHeader(3, 2, 1, 8, 10, 10, 300, 700));
  EXPECT_EQ(Bytes("g.tfw"),
            " 10.00000000000000\r\n"
            "  0.00000000000000\r\n"
            "  0.00000000000000\r\n"
            "-10.00000000000000\r\n"
            "300.00000000000000\r\n"
            "700.00000000000000\r\n");
}

TEST_F(TiffWriterTest, RefusesOtherBandCountsAndCellTypes) {
  struct Case {
    int32_t bands;
    CellType type;
    std::string text;
  };
  std::vector<Case> cases = {{2, CellType::kUnsigned8, "Wrong number of bands(must be 1 or 3)"}};
  for (const CellType type : {CellType::kOneBit, CellType::kRgb24, CellType::kPoint2D})
    cases.push_back(
        {1, type, "Not supported cell type(must be integer or float): " + CellTypeName(type)});
  // The job checks only the exact extension ".tif"; this name passes it.
  for (const Case& k : cases)
    EXPECT_EQ(k.text, ThrownText<DatasetError>(
                          [&] { Output out(dir_.Path("c.TIF"), 2, 2, k.type, k.bands, 1); }));
}

}  // namespace
}  // namespace clipra
