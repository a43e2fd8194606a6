#include "formats/image/tif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "formats/image/world_file.h"
#include "support/temp_dir.h"

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
  std::string Bytes(std::initializer_list<T> values) const {
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
    const uint32_t at = body_start_ + static_cast<uint32_t>(body_.size());
    body_ += bytes;
    return at;
  }

  // Values of up to four bytes sit in the entry, longer ones in the body.
  void Entry(uint16_t tag, uint16_t type, uint32_t count, const std::string& value) {
    std::string field = value;
    if (field.size() > 4) {
      field = Bytes<uint32_t>({Append(value)});
    }
    field.resize(4, '\0');
    entries_.push_back(Bytes<uint16_t>({tag, type}) + Bytes<uint32_t>({count}) + field);
  }
  void Short(uint16_t tag, uint16_t v) { Entry(tag, 3, 1, Bytes<uint16_t>({v})); }
  void Long(uint16_t tag, uint32_t v) { Entry(tag, 4, 1, Bytes<uint32_t>({v})); }
  void Shorts(uint16_t tag, std::initializer_list<uint16_t> v) {
    Entry(tag, 3, static_cast<uint32_t>(v.size()), Bytes<uint16_t>(v));
  }
  void Longs(uint16_t tag, const std::vector<uint32_t>& v) {
    std::string s;
    for (uint32_t x : v) s += Bytes<uint32_t>({x});
    Entry(tag, 4, static_cast<uint32_t>(v.size()), s);
  }
  void Rational(uint16_t tag, uint32_t num, uint32_t den) {
    Entry(tag, 5, 1, Bytes<uint32_t>({num, den}));
  }
  void Doubles(uint16_t tag, std::initializer_list<double> v) {
    Entry(tag, 12, static_cast<uint32_t>(v.size()), Bytes<double>(v));
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

// A test image: sample s of pixel (x, y).
uint16_t Sample(uint32_t x, uint32_t y, uint32_t s, uint16_t bits) {
  const uint32_t v = (x * 7 + y * 31 + s * 60 + 1) % 256;
  return bits == 16 ? static_cast<uint16_t>(v * 251 + s) : static_cast<uint16_t>(v);
}

struct TiffImage {
  uint32_t width = 5;
  uint32_t height = 4;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = 1;
  uint16_t planar = 1;
  uint32_t rows_per_strip = 0;  // 0: one strip per plane, no tag
  bool msb = false;
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
  if (img.samples == 1)
    b.Short(258, img.bits);
  else
    b.Shorts(258, {img.bits, img.bits, img.bits});
  b.Short(259, 1);
  b.Short(262, img.photometric);
  b.Longs(273, offsets);
  b.Short(277, img.samples);
  if (img.rows_per_strip) b.Long(278, img.rows_per_strip);
  b.Short(284, img.planar);
  if (extra) extra(b);
  return b.Build();
}

class TifReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` written as `name`; the open's result.
  bool OpenBytes(const std::string& bytes, const std::string& name = "t.tif") {
    dir_.WriteFile(name, bytes);
    return reader_.Open(dir_.Path(name), 0, 0, 1, 1, 0);
  }
  float Cell(uint32_t x, uint32_t y, uint32_t band) {
    float v = -1;
    EXPECT_TRUE(reader_.GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  void ExpectImage(const TiffImage& img) {
    ASSERT_EQ(reader_.GetWidth(), img.width);
    ASSERT_EQ(reader_.GetLines(), img.height);
    ASSERT_EQ(reader_.GetBands(), img.samples);
    for (uint32_t y = 0; y < img.height; ++y)
      for (uint32_t x = 0; x < img.width; ++x)
        for (uint32_t s = 0; s < img.samples; ++s)
          ASSERT_EQ(Cell(x, y, s), Sample(x, y, s, img.bits)) << x << "," << y << "," << s;
  }

  TempDir dir_;
  TTifMap2 reader_;
};

TEST_F(TifReaderTest, ReadsLittleEndianGrey8) {
  TiffImage img;
  ASSERT_TRUE(OpenBytes(MakeTiff(img))) << reader_.ErrorText;
  EXPECT_EQ(reader_.GetCellType(), kCellUnsigned8);
  EXPECT_EQ(reader_.IsMSBFirst(), 0);
  EXPECT_FALSE(reader_.HasPlainLayout());
  ExpectImage(img);
}

TEST_F(TifReaderTest, BigEndian16MatchesLittleEndian16) {
  TiffImage img;
  img.bits = 16;
  img.rows_per_strip = 3;
  ASSERT_TRUE(OpenBytes(MakeTiff(img), "le.tif")) << reader_.ErrorText;
  EXPECT_EQ(reader_.GetCellType(), kCellUnsigned16);
  ExpectImage(img);
  img.msb = true;
  TTifMap2 big;
  dir_.WriteFile("be.tif", MakeTiff(img));
  ASSERT_TRUE(big.Open(dir_.Path("be.tif"), 0, 0, 1, 1, 0)) << big.ErrorText;
  EXPECT_EQ(big.IsMSBFirst(), 1);
  for (uint32_t y = 0; y < img.height; ++y)
    for (uint32_t x = 0; x < img.width; ++x) {
      float le = -1, be = -2;
      ASSERT_TRUE(reader_.GetCell(x, y, 0, le) && big.GetCell(x, y, 0, be));
      EXPECT_EQ(le, be);
    }
}

TEST_F(TifReaderTest, ReadsChunkyRgbBandByBand) {
  TiffImage img;
  img.samples = 3;
  img.photometric = 2;
  img.rows_per_strip = 1;
  ASSERT_TRUE(OpenBytes(MakeTiff(img))) << reader_.ErrorText;
  ExpectImage(img);
  // A band past the last reads the last.
  EXPECT_EQ(Cell(2, 1, 7), Sample(2, 1, 2, 8));
}

TEST_F(TifReaderTest, ReadsPlanarBandTwoFromThirdStrip) {
  TiffImage img;
  img.samples = 3;
  img.photometric = 2;
  img.planar = 2;
  ASSERT_TRUE(OpenBytes(MakeTiff(img))) << reader_.ErrorText;
  ExpectImage(img);
}

TEST_F(TifReaderTest, ReadsLastRowOfLastPlaneAtEndOfFile) {
  // Several strips per band and the directory first, so that the last
  // plane's last row ends the file: only that row's bytes may be asked for.
  TiffImage img;
  img.bits = 16;
  img.samples = 3;
  img.planar = 2;
  img.rows_per_strip = 3;
  TiffBuilder b(false, 7);
  b.Long(256, img.width);
  b.Long(257, img.height);
  b.Shorts(258, {16, 16, 16});
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
  b.Longs(273, offsets);
  for (size_t i = 0; i < strips.size(); ++i) ASSERT_EQ(b.Append(strips[i]), offsets[i]);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  ExpectImage(img);
}

TEST_F(TifReaderTest, ReadsShortStripOffsetsHeldInTheEntry) {
  TiffImage img;
  img.rows_per_strip = 2;
  TiffBuilder b;
  std::vector<uint32_t> offsets;
  for (const std::string& s : Strips(b, img)) offsets.push_back(b.Append(s));
  b.Long(256, img.width);
  b.Long(257, img.height);
  b.Short(258, 8);
  b.Short(262, 1);
  b.Short(278, 2);
  b.Shorts(273, {static_cast<uint16_t>(offsets[0]), static_cast<uint16_t>(offsets[1])});
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  ExpectImage(img);
}

TEST_F(TifReaderTest, WhiteIsZeroReadsInverted) {
  TiffBuilder b;
  const uint32_t data = b.Append(std::string("\x00\x10\xFF", 3));
  b.Long(256, 3);
  b.Long(257, 1);
  b.Short(258, 8);
  b.Short(262, 0);
  b.Long(273, data);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  EXPECT_EQ(Cell(0, 0, 0), 255);
  EXPECT_EQ(Cell(1, 0, 0), 255 - 16);
  EXPECT_EQ(Cell(2, 0, 0), 0);
}

TEST_F(TifReaderTest, ThirtyTwoBitSamplesOpenAndReadZero) {
  TiffBuilder b;
  const uint32_t data = b.Append(b.Bytes<uint32_t>({7, 8}));
  b.Long(256, 2);
  b.Long(257, 1);
  b.Short(258, 32);
  b.Short(262, 1);
  b.Long(273, data);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  EXPECT_EQ(reader_.GetCellType(), kCellUnknown);
  EXPECT_EQ(Cell(0, 0, 0), 0);
  EXPECT_EQ(Cell(1, 0, 0), 0);
}

TEST_F(TifReaderTest, DirectoryBeyondFirstViewWithInlineStripOffset) {
  TiffBuilder b;
  const uint32_t data = b.Append("\x05\x06\x07");
  b.Append(std::string(70000, '\xEE'));
  b.Long(256, 3);
  b.Long(257, 1);
  b.Short(258, 8);
  b.Short(262, 1);
  b.Long(273, data);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  EXPECT_GT(reader_.IFDOffset, 65536u);
  EXPECT_EQ(Cell(0, 0, 0), 5);
  EXPECT_EQ(Cell(2, 0, 0), 7);
}

TEST_F(TifReaderTest, PositionsOutsideTheImageReadFalseWithZero) {
  TiffImage img;
  ASSERT_TRUE(OpenBytes(MakeTiff(img)));
  float v = -1;
  EXPECT_FALSE(reader_.GetCell(img.width, 0, 0, v));
  EXPECT_EQ(v, 0);
  v = -1;
  EXPECT_FALSE(reader_.GetCell(0, img.height, 0, v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(reader_.SeekLine(img.height, 0));
}

TEST_F(TifReaderTest, StripIndexBeyondStripTableReadsFalse) {
  TiffImage img;
  img.rows_per_strip = 1;
  ASSERT_TRUE(OpenBytes(MakeTiff(img, [](TiffBuilder& b) {
    // Declares two more lines than the strip table covers.
    b.Long(257, 6);
  })));
  EXPECT_EQ(reader_.GetLines(), 6u);
  EXPECT_EQ(Cell(1, 3, 0), Sample(1, 3, 0, 8));
  float v = -1;
  EXPECT_FALSE(reader_.GetCell(1, 4, 0, v));
  EXPECT_FALSE(reader_.GetCell(1, 5, 0, v));
}

TEST_F(TifReaderTest, RowPastTheEndOfFileReadsFalse) {
  TiffBuilder b(false, 6);
  b.Long(256, 4);
  b.Long(257, 3);
  b.Short(258, 8);
  b.Short(262, 1);
  b.Long(278, 1);
  // The third row starts 2 bytes before the end of the file.
  const uint32_t data = b.End() + 12;
  b.Longs(273, {data, data + 4, data + 6});
  ASSERT_EQ(b.Append("ABCDEFGH"), data);
  ASSERT_TRUE(OpenBytes(b.Build())) << reader_.ErrorText;
  EXPECT_EQ(Cell(3, 1, 0), 'H');
  float v = -1;
  EXPECT_FALSE(reader_.GetCell(0, 2, 0, v));
}

TEST_F(TifReaderTest, ZeroXResolutionAloneStillOpens) {
  TiffImage img;
  ASSERT_TRUE(OpenBytes(MakeTiff(img, [](TiffBuilder& b) { b.Rational(282, 72, 0); })))
      << reader_.ErrorText;
  EXPECT_EQ(reader_.TiffReason, tiff::kReasonZeroXResolution);
  ExpectImage(img);
}

TEST_F(TifReaderTest, RefusesFilesThatAreNoTiff) {
  std::string bytes = MakeTiff(TiffImage());
  bytes[0] = 'B';
  bytes[1] = 'M';
  EXPECT_FALSE(OpenBytes(bytes));
  EXPECT_EQ(reader_.LastError, 2u);
  EXPECT_EQ(reader_.ErrorText, "Wrong TIFF order");

  bytes = MakeTiff(TiffImage());
  bytes[2] = 43;
  TTifMap2 other;
  dir_.WriteFile("v.tif", bytes);
  EXPECT_FALSE(other.Open(dir_.Path("v.tif"), 0, 0, 1, 1, 0));
  EXPECT_EQ(other.LastError, 3u);
  EXPECT_EQ(other.ErrorText, "Wrong TIFF version");

  TTifMap2 missing;
  EXPECT_FALSE(missing.Open(dir_.Path("none.tif"), 0, 0, 1, 1, 0));
  EXPECT_EQ(missing.LastError, 1u);
  EXPECT_EQ(missing.ErrorText, "Open read error 2 " + SystemErrorText(2));
}

TEST_F(TifReaderTest, RefusesDirectoryOutsideTheFile) {
  const std::string good = MakeTiff(TiffImage());
  std::string bytes = good;
  write_le<uint32_t>(bytes.data() + 4, 1u << 30);
  EXPECT_FALSE(OpenBytes(bytes, "far.tif"));
  EXPECT_EQ(reader_.ErrorText, "Tiff error Directory outside of file");
  // An entry count that runs past the end of the file.
  bytes = good;
  const uint32_t ifd = read_le<uint32_t>(bytes.data() + 4);
  write_le<uint16_t>(bytes.data() + ifd, 500);
  TTifMap2 other;
  dir_.WriteFile("count.tif", bytes);
  EXPECT_FALSE(other.Open(dir_.Path("count.tif"), 0, 0, 1, 1, 0));
  EXPECT_EQ(other.ErrorText, "Tiff error Directory outside of file");
}

struct RefusedCase {
  const char* name;
  std::function<void(TiffBuilder&)> entries;
  uint32_t last_error;
  const char* text;
};

class TifRefusalTest : public TifReaderTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(TifRefusalTest, RefusesWithItsMessage) {
  TiffBuilder b;
  const uint32_t data = b.Append(std::string(16, '\x01'));
  b.Long(256, 4);
  b.Long(257, 4);
  b.Long(273, data);
  GetParam().entries(b);
  EXPECT_FALSE(OpenBytes(b.Build()));
  EXPECT_EQ(reader_.LastError, GetParam().last_error);
  EXPECT_EQ(reader_.ErrorText, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Tif, TifRefusalTest,
    ::testing::Values(
        RefusedCase{"Lzw",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Short(259, 5);
                    },
                    4, "Tiff error Compressed tiff"},
        RefusedCase{"Palette",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Short(262, 3);
                    },
                    4, "Tiff error Not greyScale or RGB"},
        RefusedCase{"Bilevel", [](TiffBuilder& b) { b.Short(258, 1); }, 5,
                    "Bit type not supported"},
        RefusedCase{"NoBitsPerSample", [](TiffBuilder&) {}, 5, "Bit type not supported"},
        RefusedCase{"RowsPerStripZero",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Long(278, 0);
                    },
                    4, "Tiff error RowsPerStrip is 0"},
        RefusedCase{"RationalStripOffsets",
                    [](TiffBuilder& b) {
                      b.Rational(273, 1, 1);
                      b.Short(258, 8);
                    },
                    4, "Tiff error StripOffset not of Short or Long type"},
        RefusedCase{"ZeroXResolutionAfterCompression",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Short(259, 5);
                      b.Rational(282, 72, 0);
                    },
                    4, "Tiff error Zero divide in XResol"},
        RefusedCase{"StripOffsetsOutsideFile",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Entry(273, 4, 3, b.Bytes<uint32_t>({4000000}));
                    },
                    4, "Tiff error StripOffsets outside of file"},
        RefusedCase{"StripTableLongerThanFile",
                    [](TiffBuilder& b) {
                      b.Short(258, 8);
                      b.Entry(273, 4, 0x40000000, b.Bytes<uint32_t>({8}));
                    },
                    4, "Tiff error StripOffsets outside of file"},
        RefusedCase{"NoSamples", [](TiffBuilder& b) { b.Entry(258, 3, 0, b.Bytes<uint16_t>({8})); },
                    4, "Tiff error No samples per pixel"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(TifReaderTest, TifwWorldFileWinsOverTfw) {
  dir_.WriteFile("w.tifw", "2\r\n0\r\n0\r\n-2\r\n100\r\n200\r\n");
  dir_.WriteFile("w.tfw", "5\r\n0\r\n0\r\n-5\r\n500\r\n600\r\n");
  ASSERT_TRUE(OpenBytes(MakeTiff(TiffImage()), "w.tif"));
  EXPECT_EQ(reader_.GetCellSizeX(), 2);
  EXPECT_EQ(reader_.GetCellSizeY(), 2);
  EXPECT_EQ(reader_.GetLeftX(), 100);
  EXPECT_EQ(reader_.GetTopY(), 200);
  EXPECT_EQ(reader_.GetProjection(), "UNKNOWN");
}

TEST_F(TifReaderTest, WithoutWorldFileOriginIsZeroAndStringsRaw) {
  ASSERT_TRUE(OpenBytes(MakeTiff(TiffImage())));
  EXPECT_EQ(reader_.GetCellSizeX(), 1);
  EXPECT_EQ(reader_.GetCellSizeY(), 1);
  EXPECT_EQ(reader_.GetLeftX(), 0);
  EXPECT_EQ(reader_.GetTopY(), 0);
  EXPECT_EQ(reader_.GetDatum(), "RAW");
  EXPECT_EQ(reader_.GetSpheroid(), "RAW");
}

TEST_F(TifReaderTest, FindsWorldFileWhateverItsCase) {
  dir_.WriteFile("IMG.TFW", "4\n0\n0\n-4\n10\n20\n");
  ASSERT_TRUE(OpenBytes(MakeTiff(TiffImage()), "img.tif"));
  EXPECT_EQ(reader_.GetCellSizeX(), 4);
  EXPECT_EQ(reader_.GetTopY(), 20);
}

TEST_F(TifReaderTest, PixelScaleOverridesWorldFileCellSizes) {
  dir_.WriteFile("g.tfw", "3\n0\n0\n-3\n1000\n2000\n");
  ASSERT_TRUE(OpenBytes(MakeTiff(TiffImage(),
                                 [](TiffBuilder& b) {
                                   b.Doubles(33550, {0.5, 0.5, 0});
                                   b.Doubles(33922, {0, 0, 0, 7, 8, 0});
                                 }),
                        "g.tif"));
  EXPECT_EQ(reader_.GetCellSizeX(), 0.5);
  EXPECT_EQ(reader_.GetCellSizeY(), 0.5);
  // The tie point is not read: the origin is the world file's.
  EXPECT_EQ(reader_.GetLeftX(), 1000);
  EXPECT_EQ(reader_.GetTopY(), 2000);
}

TEST_F(TifReaderTest, OpensThroughTheReadingFacade) {
  dir_.WriteFile("f.tfw", "10\n0\n0\n-10\n100\n200\n");
  dir_.WriteFile("f.tif", MakeTiff(TiffImage()));
  TDataSet2 data;
  ASSERT_TRUE(data.Open(dir_.Path("f.tif"), 0, 0, 1, 1, 0)) << data.GetErrorText();
  ASSERT_NE(dynamic_cast<TTifMap2*>(data.GetReader()), nullptr);
  float v = -1;
  // Map (121, 181) is cell (2.1, 1.9), the nearest cell (2, 2).
  ASSERT_TRUE(data.GetValue(0, v, 121, 181, 0));
  EXPECT_EQ(v, Sample(2, 2, 0, 8));
}

// The shared world-file routine.
class TifWorldFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  TTifMap2 reader_;
  double rx_ = -1, ry_ = -1;
};

TEST_F(TifWorldFileTest, FourNumbersGiveCellSizesAndZeroOrigin) {
  dir_.WriteFile("a.tfw", "2\r\n0\r\n0\r\n-2\r\n");
  ASSERT_TRUE(ReadWorldFile(reader_, dir_.Path("a.tfw"), rx_, ry_));
  EXPECT_EQ(reader_.GetCellSizeX(), 2);
  EXPECT_EQ(reader_.GetCellSizeY(), 2);
  EXPECT_EQ(reader_.GetRegX(), 0);
  EXPECT_EQ(reader_.GetRegY(), 0);
  EXPECT_EQ(reader_.GetProjection(), "UNKNOWN");
}

TEST_F(TifWorldFileTest, TakesCommaOrPointAndDefaultsForText) {
  dir_.WriteFile("a.tfw", "1,5\n0.25\n-0.5\n1.5\nabc\n7.25\n");
  ASSERT_TRUE(ReadWorldFile(reader_, dir_.Path("a.tfw"), rx_, ry_));
  EXPECT_EQ(reader_.GetCellSizeX(), 1.5);
  EXPECT_EQ(rx_, 0.25);
  EXPECT_EQ(ry_, -0.5);
  EXPECT_EQ(reader_.GetCellSizeY(), 1.5);
  EXPECT_EQ(reader_.GetRegX(), 0);
  EXPECT_EQ(reader_.GetRegY(), 7.25);
}

TEST_F(TifWorldFileTest, UnreadableFileChangesNothing) {
  reader_.SetRegX(42);
  dir_.WriteFile("empty.tfw", "");
  EXPECT_FALSE(ReadWorldFile(reader_, dir_.Path("empty.tfw")));
  EXPECT_EQ(reader_.GetRegX(), 42);
  EXPECT_FALSE(ReadWorldFile(reader_, dir_.Path("missing.tfw")));
  EXPECT_EQ(reader_.GetRegX(), 0);
  EXPECT_EQ(reader_.GetProjection(), "RAW");
}

// The writer's header as the layout tables give it, built independently.
std::string ExpectedHeader(uint32_t w, uint32_t l, uint32_t bands, uint16_t bits, double scale_x,
                           double scale_y, double left, double top) {
  std::string h(348, '\0');
  char* p = h.data();
  h[0] = h[1] = 'I';
  write_le<uint16_t>(p + 2, 42);
  write_le<uint32_t>(p + 4, 8);
  write_le<uint16_t>(p + 8, 16);
  struct E {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const E entries[16] = {{256, 4, 1, w},
                         {257, 4, 1, l},
                         {258, 3, bands, bands == 1 ? bits : 206u},
                         {259, 3, 1, 1},
                         {262, 3, 1, bands == 1 ? 1u : 2u},
                         {273, 4, 1, 348},
                         {277, 3, 1, bands},
                         {278, 4, 1, l},
                         {279, 4, 1, w * l * bands * bits / 8},
                         {282, 5, 1, 212},
                         {283, 5, 1, 220},
                         {284, 3, 1, 1},
                         {296, 3, 1, 3},
                         {33550, 12, 3, 228},
                         {33922, 12, 6, 252},
                         {34735, 3, 24, 300}};
  for (int i = 0; i < 16; ++i) {
    char* e = p + 10 + 12 * i;
    write_le<uint16_t>(e, entries[i].tag);
    write_le<uint16_t>(e + 2, entries[i].type);
    write_le<uint32_t>(e + 4, entries[i].count);
    if (entries[i].type == 3 && entries[i].count == 1)
      write_le<uint16_t>(e + 8, static_cast<uint16_t>(entries[i].value));
    else
      write_le<uint32_t>(e + 8, entries[i].value);
  }
  for (int k = 0; k < 3; ++k) write_le<uint16_t>(p + 206 + 2 * k, bits);
  for (int at : {212, 216, 220, 224}) write_le<uint32_t>(p + at, 1);
  const double doubles[9] = {scale_x, scale_y, 0, 0, 0, 0, left, top, 0};
  for (int k = 0; k < 9; ++k) write_le<double>(p + 228 + 8 * k, doubles[k]);
  const uint16_t keys[24] = {1,    1, 0, 5,     1024, 0, 1, 1,    1025, 0, 1, 1,
                             3072, 0, 1, 32635, 3076, 0, 1, 9001, 4099, 0, 1, 9001};
  for (int k = 0; k < 24; ++k) write_le<uint16_t>(p + 300 + 2 * k, keys[k]);
  return h;
}

class TifWriterTest : public ::testing::Test {
 protected:
  std::string Bytes(const std::string& name) { return dir_.ReadFile(name); }
  TempDir dir_;
};

TEST_F(TifWriterTest, OneBand8BitFileIsHeaderAndCells) {
  {
    TTifMap w(dir_.Path("o.tif"), 3, 2, kCellUnsigned8, 1, 1);
    EXPECT_TRUE(w.StoresByIndex());
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x) EXPECT_TRUE(w.SetCell(x, y, 0, 10 * y + x + 1));
  }
  const std::string f = Bytes("o.tif");
  ASSERT_EQ(f.size(), 354u);
  EXPECT_EQ(f.substr(0, 348), ExpectedHeader(3, 2, 1, 8, 1, 1, 0, 0));
  EXPECT_EQ(f.substr(348), std::string("\x01\x02\x03\x0b\x0c\x0d"));
}

TEST_F(TifWriterTest, ThreeBandSamplesFollowEachOther) {
  {
    TTifMap w(dir_.Path("rgb.tif"), 2, 2, kCellUnsigned8, 3, 1);
    EXPECT_EQ(w.GetBands(), 3);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 2; ++x)
        for (uint32_t b = 0; b < 3; ++b) w.SetCell(x, y, b, 100 * b + 10 * y + x);
  }
  const std::string f = Bytes("rgb.tif");
  ASSERT_EQ(f.size(), 348u + 3 * 2 * 2);
  EXPECT_EQ(f.substr(0, 348), ExpectedHeader(2, 2, 3, 8, 1, 1, 0, 0));
  EXPECT_EQ(read_le<uint16_t>(f.data() + 206), 8);
  // Pixel (1, 0): samples 1, 101, 201.
  EXPECT_EQ(static_cast<uint8_t>(f[348 + 3]), 1);
  EXPECT_EQ(static_cast<uint8_t>(f[348 + 4]), 101);
  EXPECT_EQ(static_cast<uint8_t>(f[348 + 5]), 201);
}

TEST_F(TifWriterTest, SixteenBitFileEndsWith348Zeros) {
  {
    TTifMap w(dir_.Path("s.tif"), 4, 3, kCellUnsigned16, 1, 1);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) w.SetCell(x, y, 0, 65535);
  }
  const std::string f = Bytes("s.tif");
  ASSERT_EQ(f.size(), 2u * 4 * 3 + 696);
  EXPECT_EQ(f.substr(0, 348), ExpectedHeader(4, 3, 1, 16, 1, 1, 0, 0));
  EXPECT_EQ(f.substr(348, 24), std::string(24, '\xFF'));
  EXPECT_EQ(f.substr(348 + 24), std::string(348, '\0'));
}

TEST_F(TifWriterTest, StoresLowBitsAndTwosComplement) {
  {
    TTifMap w8(dir_.Path("b.tif"), 1, 1, kCellUnsigned8, 1, 1);
    w8.SetCell(0, 0, 0, 300);
    TTifMap w16(dir_.Path("i.tif"), 1, 1, kCellSigned16, 1, 1);
    w16.SetCell(0, 0, 0, -2);
    EXPECT_EQ(w16.GetCellType(), kCellUnsigned16);
    EXPECT_FALSE(w16.SetCell(1, 0, 0, 1));
    EXPECT_FALSE(w16.SetCell(0, 1, 0, 1));
  }
  EXPECT_EQ(static_cast<uint8_t>(Bytes("b.tif")[348]), 44);
  EXPECT_EQ(read_le<uint16_t>(Bytes("i.tif").data() + 348), 0xFFFE);
}

TEST_F(TifWriterTest, GeoreferenceGoesToHeaderAndWorldFile) {
  {
    TTifMap w(dir_.Path("g.tif"), 3, 2, kCellUnsigned8, 1, 1);
    w.SetGeoreference("S", "D", 10, 10, 0, 0, 300, 700, "P");
    EXPECT_EQ(w.GetLeftX(), 300);
    EXPECT_EQ(w.GetTopY(), 700);
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

TEST_F(TifWriterTest, RegistrationCellMovesTheOrigin) {
  TTifMap w(dir_.Path("r.tif"), 1, 1, kCellUnsigned8, 1, 1);
  w.SetGeoreference("", "", 5, 5, 2, 3, 100, 200, "");
  EXPECT_EQ(w.GetLeftX(), 90);
  EXPECT_EQ(w.GetTopY(), 215);
}

TEST_F(TifWriterTest, RefusesOtherBandCounts) {
  try {
    TDataSet out(dir_.Path("two.tif"), 2, 2, kCellUnsigned8, 2, 1);
    FAIL() << "created";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ(e.what(), "Wrong number of bands(must be 1 or 3)");
  }
}

TEST_F(TifWriterTest, RefusesCellTypesOtherThanByteAndShortIntegers) {
  // The job checks only the exact extension ".tif"; these names pass it.
  for (const uint8_t type : {kCellOneBit, kCellSigned32, kCellFloat32, kCellFloat64}) {
    const std::string name = dir_.Path("c.TIF");
    try {
      TDataSet out(name, 2, 2, type, 1, 1);
      FAIL() << "created type " << int{type};
    } catch (const EDataSetError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Not supported cell type(must be 8 or 16-bit integer): " + CellTypeName(type));
    }
  }
}

TEST_F(TifWriterTest, RefusesOutputPastFourGiBBeforeCreatingIt) {
  try {
    TTifMap w(dir_.Path("big.tif"), 65535, 65535, kCellUnsigned16, 1, 1);
    FAIL() << "created";
  } catch (const ETifMapError& e) {
    EXPECT_NE(std::string(e.what()).find("at most 4 GiB"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(FileExists(dir_.Path("big.tif")));
}

TEST_F(TifWriterTest, ReadsBackWhatItWrote) {
  {
    TTifMap w(dir_.Path("rt.tif"), 5, 4, kCellUnsigned16, 3, 1);
    w.SetGeoreference("", "", 2.5, 2.5, 0, 0, 1000, 2000, "");
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < 5; ++x)
        for (uint32_t b = 0; b < 3; ++b) w.SetCell(x, y, b, Sample(x, y, b, 16));
  }
  TTifMap2 r;
  ASSERT_TRUE(r.Open(dir_.Path("rt.tif"), 0, 0, 1, 1, 0)) << r.ErrorText;
  EXPECT_EQ(r.GetBands(), 3u);
  EXPECT_EQ(r.GetCellType(), kCellUnsigned16);
  EXPECT_EQ(r.GetCellSizeX(), 2.5);
  EXPECT_EQ(r.GetLeftX(), 1000);
  EXPECT_EQ(r.GetTopY(), 2000);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      for (uint32_t b = 0; b < 3; ++b) {
        float v = -1;
        ASSERT_TRUE(r.GetCell(x, y, b, v));
        EXPECT_EQ(v, Sample(x, y, b, 16));
      }
}

}  // namespace
}  // namespace clipra
