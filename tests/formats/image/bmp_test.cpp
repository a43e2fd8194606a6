#include "formats/image/bmp.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

using Rgb = std::array<uint8_t, 3>;

std::string Le32(uint32_t v) {
  char b[4];
  write_le<uint32_t>(b, v);
  return std::string(b, 4);
}

std::string Le16(uint16_t v) {
  char b[2];
  write_le<uint16_t>(b, v);
  return std::string(b, 2);
}

// A bitmap file. `lines` holds each image line's pixel bytes, top line
// first; rows are padded to 4 bytes and stored bottom-up, or top-down for
// a negative height.
struct BmpSpec {
  uint32_t width = 0;
  int32_t height = 0;
  uint16_t bits = 24;
  uint32_t compression = 0;
  bool core = false;
  std::vector<Rgb> palette;
  int64_t colours_used = -1;  // -1: the palette's size
  std::vector<std::string> lines;

  std::string Build() const {
    std::string palette_bytes;
    for (const Rgb& c : palette) {
      palette_bytes += static_cast<char>(c[2]);
      palette_bytes += static_cast<char>(c[1]);
      palette_bytes += static_cast<char>(c[0]);
      if (!core) palette_bytes += '\0';
    }
    std::string info;
    if (core) {
      info = Le32(12) + Le16(static_cast<uint16_t>(width)) + Le16(static_cast<uint16_t>(height)) +
             Le16(1) + Le16(bits);
    } else {
      const uint32_t used =
          colours_used < 0 ? static_cast<uint32_t>(palette.size()) : uint32_t(colours_used);
      info = Le32(40) + Le32(width) + Le32(static_cast<uint32_t>(height)) + Le16(1) + Le16(bits) +
             Le32(compression) + Le32(0) + Le32(2835) + Le32(2835) + Le32(used) + Le32(0);
    }
    std::string pixels;
    const size_t n = lines.size();
    for (size_t i = 0; i < n; ++i) {
      std::string row = lines[height < 0 ? i : n - 1 - i];
      row.resize((row.size() + 3) / 4 * 4, '\0');
      pixels += row;
    }
    const uint32_t offset = static_cast<uint32_t>(14 + info.size() + palette_bytes.size());
    return "BM" + Le32(offset + static_cast<uint32_t>(pixels.size())) + Le32(0) + Le32(offset) +
           info + palette_bytes + pixels;
  }
};

std::vector<Rgb> GreyRamp() {
  std::vector<Rgb> p;
  for (int i = 0; i < 256; ++i)
    p.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
  return p;
}

Rgb Colour(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(10 + x * 20 + y), static_cast<uint8_t>(100 + x + y * 30),
          static_cast<uint8_t>(200 + x + y)};
}

// A 24-bit image of Colour(x, y).
BmpSpec RgbImage(uint32_t w, uint32_t h) {
  BmpSpec s;
  s.width = w;
  s.height = static_cast<int32_t>(h);
  for (uint32_t y = 0; y < h; ++y) {
    std::string line;
    for (uint32_t x = 0; x < w; ++x) {
      const Rgb c = Colour(x, y);
      line += {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0])};
    }
    s.lines.push_back(line);
  }
  return s;
}

// An 8-bit image whose pixel (x, y) is index x + 4y.
BmpSpec IndexImage(uint32_t w, uint32_t h, std::vector<Rgb> palette) {
  BmpSpec s;
  s.width = w;
  s.height = static_cast<int32_t>(h);
  s.bits = 8;
  s.palette = std::move(palette);
  for (uint32_t y = 0; y < h; ++y) {
    std::string line;
    for (uint32_t x = 0; x < w; ++x) line += static_cast<char>(x + 4 * y);
    s.lines.push_back(line);
  }
  return s;
}

class BmpReaderTest : public ::testing::Test {
 protected:
  bool OpenBytes(const std::string& bytes, const std::string& name = "t.bmp") {
    dir_.WriteFile(name, bytes);
    return reader_.Open(dir_.Path(name), 0, 0, 1, 1, 0);
  }
  float Cell(uint32_t x, uint32_t y, uint32_t band) {
    float v = -1;
    EXPECT_TRUE(reader_.GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  void ExpectRgb(uint32_t w, uint32_t h) {
    ASSERT_EQ(reader_.GetWidth(), w);
    ASSERT_EQ(reader_.GetLines(), h);
    ASSERT_EQ(reader_.GetBands(), 3u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t b = 0; b < 3; ++b) ASSERT_EQ(Cell(x, y, b), Colour(x, y)[b]) << x << "," << y;
  }

  TempDir dir_;
  TBMPMap2 reader_;
};

TEST_F(BmpReaderTest, TwentyFourBitReadsRedGreenBlueTopLineFirst) {
  ASSERT_TRUE(OpenBytes(RgbImage(5, 3).Build())) << reader_.ErrorText;
  EXPECT_EQ(reader_.GetCellType(), kCellUnsigned8);
  EXPECT_FALSE(reader_.HasPlainLayout());
  ExpectRgb(5, 3);
  // A band past the last reads the last.
  EXPECT_EQ(Cell(1, 1, 9), Colour(1, 1)[2]);
}

TEST_F(BmpReaderTest, NegativeHeightReadsTheRightWayUp) {
  BmpSpec s = RgbImage(3, 4);
  s.height = -4;
  ASSERT_TRUE(OpenBytes(s.Build())) << reader_.ErrorText;
  ExpectRgb(3, 4);
}

TEST_F(BmpReaderTest, GreyRampIsOneBandOfPixelBytes) {
  ASSERT_TRUE(OpenBytes(IndexImage(4, 3, GreyRamp()).Build())) << reader_.ErrorText;
  ASSERT_EQ(reader_.GetBands(), 1u);
  EXPECT_TRUE(reader_.GreyPalette);
  EXPECT_EQ(Cell(0, 0, 0), 0);
  EXPECT_EQ(Cell(3, 2, 0), 11);
}

TEST_F(BmpReaderTest, AnyOtherPaletteGivesThreeBandsOfColours) {
  std::vector<Rgb> palette = GreyRamp();
  palette[5] = {5, 5, 6};
  ASSERT_TRUE(OpenBytes(IndexImage(4, 3, palette).Build())) << reader_.ErrorText;
  ASSERT_EQ(reader_.GetBands(), 3u);
  EXPECT_EQ(Cell(1, 1, 2), 6);
  EXPECT_EQ(Cell(2, 1, 0), 6);
  EXPECT_EQ(Cell(2, 1, 2), 6);
  EXPECT_EQ(Cell(3, 1, 1), 7);
}

TEST_F(BmpReaderTest, IndexBeyondShortPaletteReadsZero) {
  std::vector<Rgb> palette;
  for (int i = 0; i < 6; ++i)
    palette.push_back({static_cast<uint8_t>(i * 40), 1, static_cast<uint8_t>(250 - i)});
  ASSERT_TRUE(OpenBytes(IndexImage(4, 3, palette).Build())) << reader_.ErrorText;
  ASSERT_EQ(reader_.GetBands(), 3u);
  EXPECT_EQ(Cell(1, 1, 0), 200);  // index 5
  EXPECT_EQ(Cell(1, 1, 2), 245);
  for (uint32_t b = 0; b < 3; ++b) EXPECT_EQ(Cell(2, 1, b), 0);  // index 6
}

TEST_F(BmpReaderTest, ReadsCoreHeaderImages) {
  BmpSpec grey = IndexImage(3, 2, GreyRamp());
  grey.core = true;
  ASSERT_TRUE(OpenBytes(grey.Build(), "g.bmp")) << reader_.ErrorText;
  ASSERT_EQ(reader_.GetBands(), 1u);
  EXPECT_EQ(Cell(2, 1, 0), 6);

  BmpSpec rgb = RgbImage(3, 2);
  rgb.core = true;
  TBMPMap2 other;
  dir_.WriteFile("c.bmp", rgb.Build());
  ASSERT_TRUE(other.Open(dir_.Path("c.bmp"), 0, 0, 1, 1, 0)) << other.ErrorText;
  float v = -1;
  ASSERT_TRUE(other.GetCell(2, 1, 0, v));
  EXPECT_EQ(v, Colour(2, 1)[0]);
}

TEST_F(BmpReaderTest, RowNotWhollyInsideTheFileReadsFalse) {
  // Ten 24-bit pixels need 30 bytes a row, but the file holds only 50
  // bytes of pixels for four rows: the stride from the file size is 12.
  BmpSpec s = RgbImage(10, 4);
  std::string bytes = s.Build();
  const uint32_t offset = read_le<uint32_t>(bytes.data() + 10);
  bytes.resize(offset + 50);
  ASSERT_TRUE(OpenBytes(bytes)) << reader_.ErrorText;
  EXPECT_EQ(reader_.Stride, 12u);
  float v = -1;
  EXPECT_TRUE(reader_.GetCell(0, 3, 0, v));   // the first stored row
  EXPECT_FALSE(reader_.GetCell(0, 0, 0, v));  // the last stored row
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(reader_.GetCell(10, 3, 0, v));
  EXPECT_FALSE(reader_.GetCell(0, 4, 0, v));
}

struct BmpRefusal {
  const char* name;
  std::string bytes;
  uint32_t status;
  const char* text;
};

std::string With(BmpSpec s, void (*change)(BmpSpec&)) {
  change(s);
  return s.Build();
}

class BmpRefusalTest : public BmpReaderTest, public ::testing::WithParamInterface<BmpRefusal> {};

TEST_P(BmpRefusalTest, RefusesWithItsMessage) {
  EXPECT_FALSE(OpenBytes(GetParam().bytes));
  EXPECT_EQ(reader_.LastError, GetParam().status);
  EXPECT_EQ(reader_.ErrorText, GetParam().text);
  EXPECT_EQ(reader_.GetBands(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, BmpRefusalTest,
    ::testing::Values(
        BmpRefusal{"NotBm", "II*\0" + std::string(60, '\0'), 2, "Not a BMP file"},
        BmpRefusal{"ShorterThanFileHeader", "BM\0\0", 2, "Not a BMP file"},
        BmpRefusal{"Rle8",
                   With(IndexImage(4, 2, GreyRamp()), [](BmpSpec& s) { s.compression = 1; }), 3,
                   "Unknown bitmap type: RLE8"},
        BmpRefusal{"Rle4",
                   With(IndexImage(4, 2, GreyRamp()), [](BmpSpec& s) { s.compression = 2; }), 3,
                   "Unknown bitmap type: RLE4"},
        BmpRefusal{"Bitfields", With(RgbImage(2, 2), [](BmpSpec& s) { s.compression = 3; }), 3,
                   "Unknown bitmap type: Unknown compression"},
        BmpRefusal{"SixteenBit", With(RgbImage(2, 2), [](BmpSpec& s) { s.bits = 16; }), 3,
                   "Unknown bitmap type: not RGB or 8-bit pixel"},
        BmpRefusal{"CoreFourBit",
                   With(RgbImage(2, 2),
                        [](BmpSpec& s) {
                          s.core = true;
                          s.bits = 4;
                        }),
                   3, "Unknown bitmap type: Not RGB or 8-bit pixel"},
        BmpRefusal{"V5Header",
                   "BM" + Le32(200) + Le32(0) + Le32(200) + Le32(124) + std::string(200, '\0'), 3,
                   "Unknown bitmap type: "},
        BmpRefusal{"HeightZero", With(RgbImage(2, 2), [](BmpSpec& s) { s.height = 0; }), 4,
                   "Damaged bitmap: height 0"},
        BmpRefusal{
            "PaletteLargerThanItsRoom",
            With(IndexImage(4, 2, {{1, 2, 3}, {4, 5, 6}}), [](BmpSpec& s) { s.colours_used = 3; }),
            4, "Damaged bitmap: palette larger than the room before the pixel data"},
        BmpRefusal{
            "HugePaletteClaim",
            With(IndexImage(4, 2, {{1, 2, 3}}), [](BmpSpec& s) { s.colours_used = 0xFFFFFFFF; }), 4,
            "Damaged bitmap: palette larger than the room before the pixel data"},
        BmpRefusal{"PixelOffsetInsideHeader",
                   "BM" + Le32(80) + Le32(0) + Le32(30) + Le32(40) + std::string(66, '\0'), 4,
                   "Damaged bitmap: pixel data inside the header"},
        BmpRefusal{"PixelOffsetPastEnd",
                   "BM" + Le32(80) + Le32(0) + Le32(9000) + Le32(40) + std::string(66, '\0'), 4,
                   "Damaged bitmap: pixel data beyond the end of file"}),
    [](const ::testing::TestParamInfo<BmpRefusal>& info) { return info.param.name; });

TEST_F(BmpReaderTest, MissingFileReports) {
  EXPECT_FALSE(reader_.Open(dir_.Path("none.bmp"), 0, 0, 1, 1, 0));
  EXPECT_EQ(reader_.LastError, 1u);
  EXPECT_EQ(reader_.ErrorText, "Open read error 2 " + SystemErrorText(2));
  TBMPMap2 other;
  EXPECT_FALSE(other.OpenExisting(dir_.Path("none.bmp")));
  EXPECT_EQ(other.ErrorText, "File not Exists");
}

class BmpWorldFileTest : public BmpReaderTest {
 protected:
  void OpenWith(const std::string& world) {
    dir_.WriteFile("w.bmpw", world);
    ASSERT_TRUE(OpenBytes(RgbImage(2, 2).Build(), "w.bmp")) << reader_.ErrorText;
  }
};

TEST_F(BmpWorldFileTest, WithoutWorldFileKeepsDefaults) {
  ASSERT_TRUE(OpenBytes(RgbImage(2, 2).Build()));
  EXPECT_EQ(reader_.GetCellSizeX(), 1);
  EXPECT_EQ(reader_.GetLeftX(), 0);
  EXPECT_EQ(reader_.GetTopY(), 0);
  EXPECT_EQ(reader_.GetProjection(), "RAW");
}

TEST_F(BmpWorldFileTest, CompleteWorldFileGivesGeoreferenceAndUnknownStrings) {
  OpenWith("2.5\r\n0\r\n0\r\n-2.5\r\n300.25\r\n700\r\n");
  EXPECT_EQ(reader_.GetCellSizeX(), 2.5);
  EXPECT_EQ(reader_.GetCellSizeY(), 2.5);
  EXPECT_EQ(reader_.GetLeftX(), 300.25);
  EXPECT_EQ(reader_.GetTopY(), 700);
  EXPECT_EQ(reader_.GetDatum(), "UNKNOWN");
  EXPECT_EQ(reader_.GetProjection(), "UNKNOWN");
  EXPECT_EQ(reader_.GetSpheroid(), "UNKNOWN");
}

TEST_F(BmpWorldFileTest, PositiveFourthValueStaysPositive) {
  OpenWith("3\n0\n0\n3\n1\n2\n");
  EXPECT_EQ(reader_.GetCellSizeY(), 3);
}

TEST_F(BmpWorldFileTest, FiveNumbersGiveZeroSixth) {
  OpenWith("3\n0\n0\n-3\n10 trailing words\n");
  EXPECT_EQ(reader_.GetLeftX(), 10);
  EXPECT_EQ(reader_.GetRegY(), 0);
  EXPECT_EQ(reader_.GetProjection(), "UNKNOWN");
}

TEST_F(BmpWorldFileTest, TextForSixthGivesOneAndKeepsRaw) {
  OpenWith("3\n0\n0\n-3\n10\nabc\n");
  EXPECT_EQ(reader_.GetCellSizeX(), 3);
  EXPECT_EQ(reader_.GetLeftX(), 10);
  EXPECT_EQ(reader_.GetRegY(), 1.0);
  EXPECT_EQ(reader_.GetProjection(), "RAW");
}

TEST_F(BmpWorldFileTest, DecimalCommaIsNoNumber) {
  OpenWith("1,5\n0\n0\n-2\n10\n20\n");
  EXPECT_EQ(reader_.GetCellSizeX(), 1.0);
  EXPECT_EQ(reader_.GetCellSizeY(), 2);
  EXPECT_EQ(reader_.GetProjection(), "RAW");
}

TEST_F(BmpWorldFileTest, OpensThroughTheReadingFacade) {
  dir_.WriteFile("f.bmpw", "10\n0\n0\n-10\n100\n200\n");
  dir_.WriteFile("f.bmp", RgbImage(4, 3).Build());
  TDataSet2 data;
  ASSERT_TRUE(data.Open(dir_.Path("f.bmp"), 0, 0, 1, 1, 0)) << data.GetErrorText();
  ASSERT_NE(dynamic_cast<TBMPMap2*>(data.GetReader()), nullptr);
  float v = -1;
  ASSERT_TRUE(data.GetValue(1, v, 121, 181, 0));
  EXPECT_EQ(v, Colour(2, 2)[1]);
}

// The headers as the layout tables give them, built independently.
std::string ExpectedBmpHeader(uint32_t w, uint32_t h, uint16_t bits, uint32_t palette_bytes,
                              uint32_t stride) {
  const uint32_t offset = 54 + palette_bytes;
  return "BM" + Le32(offset + stride * h) + Le32(0) + Le32(offset) + Le32(40) + Le32(w) + Le32(h) +
         Le16(1) + Le16(bits) + std::string(24, '\0');
}

class BmpWriterTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(BmpWriterTest, OneBandOfWidthOneHasStrideFourAndGreyPalette) {
  {
    TBMPMap w(dir_.Path("g.bmp"), 1, 3, kCellUnsigned8, 1, 1);
    EXPECT_TRUE(w.StoresByIndex());
    for (uint32_t y = 0; y < 3; ++y) EXPECT_TRUE(w.SetCell(0, y, 0, 10 + y));
    EXPECT_FALSE(w.SetCell(1, 0, 0, 1));
    EXPECT_FALSE(w.SetCell(0, 3, 0, 1));
  }
  const std::string f = dir_.ReadFile("g.bmp");
  ASSERT_EQ(f.size(), 1078u + 4 * 3);
  EXPECT_EQ(f.substr(0, 54), ExpectedBmpHeader(1, 3, 8, 1024, 4));
  for (int i = 0; i < 256; ++i) {
    const char c = static_cast<char>(i);
    ASSERT_EQ(f.substr(54 + 4 * i, 4), std::string({c, c, c, '\0'})) << i;
  }
  // Bottom-up rows: line 2 first.
  EXPECT_EQ(f.substr(1078), std::string("\x0c\0\0\0\x0b\0\0\0\x0a\0\0\0", 12));
}

TEST_F(BmpWriterTest, ThreeBandsOfWidthFiveHaveStrideSixteenInBlueGreenRed) {
  {
    TBMPMap w(dir_.Path("c.bmp"), 5, 2, kCellUnsigned8, 3, 1);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 5; ++x)
        for (uint32_t b = 0; b < 3; ++b) w.SetCell(x, y, b, Colour(x, y)[b]);
    // The low 8 bits of the rounded value are stored.
    w.SetCell(4, 0, 0, 300.4);
  }
  const std::string f = dir_.ReadFile("c.bmp");
  ASSERT_EQ(f.size(), 54u + 16 * 2);
  EXPECT_EQ(f.substr(0, 54), ExpectedBmpHeader(5, 2, 24, 0, 16));
  const Rgb c = Colour(1, 1);
  EXPECT_EQ(f.substr(54 + 3, 3), std::string({static_cast<char>(c[2]), static_cast<char>(c[1]),
                                              static_cast<char>(c[0])}));
  EXPECT_EQ(f[54 + 15], '\0');
  EXPECT_EQ(static_cast<uint8_t>(f[54 + 16 + 4 * 3 + 2]), 44);
}

TEST_F(BmpWriterTest, RefusesOtherBandsAndCellTypes) {
  try {
    TDataSet out(dir_.Path("two.bmp"), 2, 2, kCellUnsigned8, 2, 1);
    FAIL() << "created";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ(e.what(), "Wrong number of bands(must be 1 or 3)");
  }
  try {
    TDataSet out(dir_.Path("w.bmp"), 2, 2, kCellUnsigned16, 1, 1);
    FAIL() << "created";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ(e.what(), "Not supported cell type(must be byte type): UNSIGNED16BITINTEGER");
  }
}

TEST_F(BmpWriterTest, WritesWorldFileWith14Decimals) {
  {
    TBMPMap w(dir_.Path("g.bmp"), 2, 2, kCellUnsigned8, 1, 1);
    w.SetGeoreference("", "", 10, 10, 0, 0, 300, 700, "");
  }
  EXPECT_EQ(dir_.ReadFile("g.bmpw"),
            " 10.00000000000000\r\n"
            "  0.00000000000000\r\n"
            "  0.00000000000000\r\n"
            "-10.00000000000000\r\n"
            "300.00000000000000\r\n"
            "700.00000000000000\r\n");
  {
    TBMPMap w(dir_.Path("h.bmp"), 2, 2, kCellUnsigned8, 1, 1);
    w.SetGeoreference("", "", 2.5, 2.5, 1, 1, 0, 0, "");
  }
  EXPECT_EQ(dir_.ReadFile("h.bmpw"),
            "  2.50000000000000\r\n"
            "  0.00000000000000\r\n"
            "  0.00000000000000\r\n"
            " -2.50000000000000\r\n"
            " -2.50000000000000\r\n"
            "  2.50000000000000\r\n");
}

TEST_F(BmpWriterTest, ReadsBackWhatItWrote) {
  for (int32_t bands : {1, 3}) {
    const std::string name = dir_.Path("rt" + std::to_string(bands) + ".bmp");
    {
      TBMPMap w(name, 6, 3, kCellUnsigned8, bands, 1);
      w.SetGeoreference("S", "D", 0.5, 0.5, 0, 0, 1000, 2000, "P");
      for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 6; ++x)
          for (int32_t b = 0; b < bands; ++b) w.SetCell(x, y, b, Colour(x, y)[b]);
    }
    TBMPMap2 r;
    ASSERT_TRUE(r.Open(name, 0, 0, 1, 1, 0)) << r.ErrorText;
    ASSERT_EQ(r.GetBands(), static_cast<uint32_t>(bands));
    EXPECT_EQ(r.GetCellSizeX(), 0.5);
    EXPECT_EQ(r.GetLeftX(), 1000);
    EXPECT_EQ(r.GetTopY(), 2000);
    EXPECT_EQ(r.GetDatum(), "UNKNOWN");
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 6; ++x)
        for (int32_t b = 0; b < bands; ++b) {
          float v = -1;
          ASSERT_TRUE(r.GetCell(x, y, b, v));
          EXPECT_EQ(v, Colour(x, y)[b]);
        }
  }
}

}  // namespace
}  // namespace clipra
