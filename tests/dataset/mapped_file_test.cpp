#include "dataset/mapped_file.h"

#include <cerrno>
#include <set>

#include "support/format_test.h"

namespace clipra {
namespace {

constexpr uint64_t k64K = 65536;

uint8_t PatternByte(uint64_t i) {
  return static_cast<uint8_t>(i % 251);
}

std::string PatternFile(uint64_t size) {
  std::string s(size, '\0');
  for (uint64_t i = 0; i < size; ++i) s[i] = static_cast<char>(PatternByte(i));
  return s;
}

TEST(MappedFile, MapsRequestsUpToTheEndOfTheFileAndNoFurther) {
  // Missing and empty files: the header readers' tests (osd, nog, veg, ers).
  TempDir dir;
  MappedFile f;
  dir.WriteFile("a.raw", PatternFile(1000));
  ASSERT_TRUE(f.Open(dir.Path("a.raw"), 0, 0));
  EXPECT_EQ(1000u, f.ViewSize);  // small files are mapped whole
  const struct {
    uint64_t pos;
    uint32_t need;
    const char* error;
  } cases[] = {{1000, 1, "Position outside of file"},
               {~uint64_t{0}, 1, "Position outside of file"},
               {996, 5, "The rest of file is smaller than needed num of bytes"},
               {996, 0xFFFFFFFFu, "The rest of file is smaller than needed num of bytes"},
               {996, 4, ""}};
  for (const auto& c : cases) {
    f.ErrorText.clear();
    EXPECT_EQ(!*c.error, f.At(c.pos, c.need) != nullptr) << c.pos << "+" << c.need;
    EXPECT_EQ(c.error, f.ErrorText) << c.pos << "+" << c.need;
  }
  EXPECT_EQ(PatternByte(999), f.Current[3]);
  EXPECT_EQ(nullptr, f.At(999, 2));

  dir.WriteFile("tiny.raw", "abc");  // reopening reads the new file
  ASSERT_TRUE(f.Open(dir.Path("tiny.raw"), 0, 0));
  EXPECT_EQ('c', *f.At(2, 1));
}

TEST(MappedFile, ViewsSlideAcross64KBoundariesAndStopAtTheEnd) {
  const uint64_t size = 300000;
  TempDir dir;
  dir.WriteFile("a.raw", PatternFile(size));
  MappedFile f;
  f.MaxViewSize = f.ViewSize = k64K;
  ASSERT_TRUE(f.Open(dir.Path("a.raw"), 0, 0));
  const struct {
    uint64_t pos, need, offset, view_size;
  } cases[] = {
      {k64K - 6, 20, 0, k64K + 14},                  // straddles a boundary: grows just enough
      {70000, 100000, k64K, 70000 - k64K + 100000},  // longer than a whole view
      {size - 1, 1, 4 * k64K, size - 4 * k64K},      // the last view stops at the end
      {140000, 8, 2 * k64K, k64K},
      {150000, 8, 2 * k64K, k64K},  // inside the current view
  };
  for (const auto& c : cases) {
    const uint8_t* p = f.At(c.pos, c.need);
    ASSERT_NE(nullptr, p) << c.pos;
    EXPECT_EQ(c.offset, f.ViewOffset) << c.pos;
    EXPECT_EQ(c.view_size, f.ViewSize) << c.pos;
    EXPECT_EQ(c.offset + c.view_size - c.pos, f.Available());
    for (uint64_t i = 0; i < c.need; ++i) ASSERT_EQ(PatternByte(c.pos + i), p[i]) << c.pos + i;
  }
}

class MappedRasterTest : public ::testing::Test {
 protected:
  bool OpenBytes(MappedRaster& f, const std::string& bytes, uint32_t width, uint32_t lines,
                 CellType type, uint32_t bands, bool msb_first, uint8_t mode = 0) {
    dir_.WriteFile("r.raw", bytes);
    return f.OpenRaster(dir_.Path("r.raw"), width, lines, type, bands, mode, msb_first);
  }
  float Cell(MappedRaster& f, uint32_t x, uint32_t y, uint32_t band = 0) {
    float v = -12345;
    EXPECT_TRUE(f.GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  TempDir dir_;
};

// Every cell type in the byte order asked for; types no reader serves read as
// zero. (The conversions themselves are the writers' too: see mapped_output_test.)
TEST_F(MappedRasterTest, ReadsCellsInEitherByteOrder) {
  const struct {
    CellType type;
    bool msb_first;
    std::string bytes;
    std::vector<float> read;
  } cases[] = {
      {CellType::kUnsigned8, false, "\x2C\xFF", {44, 255}},
      {CellType::kSigned8, false, "\xFE\x7F", {-2, 127}},
      {CellType::kUnsigned16, true, "\xFF\xFE\x01\x02", {65534, 258}},
      {CellType::kSigned16, true, Ordered<int16_t>({-2, 300}, true), {-2, 300}},
      {CellType::kSigned16, false, "\xFE\xFF\x02\x01", {-2, 258}},
      {CellType::kSigned32, true, Ordered<int32_t>({-2, 65536}, true), {-2, 65536}},
      {CellType::kFloat32, true, Ordered<float>({1.5f, -0.25f}, true), {1.5f, -0.25f}},
      {CellType::kFloat64, false, std::string(48, '\x7F'), {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    MappedRaster f;
    ASSERT_TRUE(OpenBytes(f, c.bytes, 2, 1, c.type, 1, c.msb_first));
    EXPECT_EQ(c.read, (std::vector<float>{Cell(f, 0, 0), Cell(f, 1, 0)}));
  }
}

TEST_F(MappedRasterTest, RefusesCellsOutsideTheGrid) {
  MappedRaster f;
  ASSERT_TRUE(OpenBytes(f, PatternFile(12), 2, 2, CellType::kUnsigned8, 3, false));
  EXPECT_EQ(11, Cell(f, 1, 1, 7));  // bands past the last read the last
  float v = 0;
  EXPECT_FALSE(f.GetCell(2, 0, 0, v));
  EXPECT_FALSE(f.GetCell(0, 2, 0, v));
  EXPECT_FALSE(f.SeekLine(0xFFFFFFFF, 0));
}

// Padding after the grid and a plain short file are the ER Mapper reader's
// cases (ers_test); these sizes overflow or outgrow the view.
TEST_F(MappedRasterTest, OverflowingOrOverlongGridsAreRefused) {
  const struct {
    uint32_t size, width, lines;
    CellType type;
    uint64_t view;
    std::string error;
  } cases[] = {
      // 65536 x 65537 cells would wrap to this file's size in 32 bits.
      {k64K, 65536, 65537, CellType::kUnsigned8, 0,
       "holds 65536 bytes; its header describes 4295032832"},
      {8, 4294967295, 4294967295, CellType::kFloat32, 0,
       "holds 8 bytes; its header describes more than 18446744073709551615"},
      // A line longer than the view, with and without padding after the grid.
      {70000, 70000, 1, CellType::kUnsigned8, k64K, "!Buffer size is less than one line"},
      {140003, 70000, 2, CellType::kUnsigned8, k64K, "!Buffer size is less than one line"},
  };
  for (const auto& c : cases) {
    MappedRaster g;
    if (c.view) g.MaxViewSize = g.ViewSize = c.view;
    EXPECT_FALSE(OpenBytes(g, PatternFile(c.size), c.width, c.lines, c.type, 1, false));
    EXPECT_EQ(
        c.error[0] == '!' ? c.error.substr(1) : "Data file " + dir_.Path("r.raw") + " " + c.error,
        g.ErrorText);
  }
}

// Mode 2 writes in place, rounding half to even; three 8-bit bands also
// read and write as pixel-interleaved colours. Mode 0 refuses every write.
TEST_F(MappedRasterTest, WritesCellsAndColoursOnlyWhenOpenedForWriting) {
  for (const uint8_t mode : {2, 0}) {
    MappedRaster f;
    ASSERT_TRUE(OpenBytes(f, PatternFile(12), 2, 2, CellType::kUnsigned8, 3, false, mode));
    uint32_t color = 0;
    ASSERT_TRUE(f.GetRGB(0, 1, color));
    EXPECT_EQ(0x080706u, color);
    EXPECT_FALSE(f.GetRGB(2, 0, color));
    EXPECT_EQ(mode == 2, f.SetRGB(1, 1, 0xFFA1B2C3));
    EXPECT_EQ(mode == 2, f.SetCell(0, 0, 1, 4.5f));
    EXPECT_FALSE(f.SetCell(2, 0, 0, 1));
    f.Close();
    EXPECT_EQ(mode == 2 ? std::string("\0\1\4\3\4\5\6\7\x08\xC3\xB2\xA1", 12) : PatternFile(12),
              dir_.ReadFile("r.raw"));
  }
  MappedRaster one_band;
  ASSERT_TRUE(OpenBytes(one_band, PatternFile(12), 4, 3, CellType::kUnsigned8, 1, false, 2));
  uint32_t color = 0;
  EXPECT_FALSE(one_band.GetRGB(0, 0, color));
  MappedFile created;  // mode 1 makes a zeroed file of the size asked for
  ASSERT_TRUE(created.Open(dir_.Path("new.raw"), 1, 70000));
  ASSERT_NE(nullptr, created.At(69999, 1));
  *created.Current = 'y';
  created.Close();
  EXPECT_EQ(std::string(69999, '\0') + "y", dir_.ReadFile("new.raw"));
}

// A reader with its own cell layout samples through its own GetCell; this
// one's value x + 10y + xy is what bilinear interpolation reproduces exactly.
class SyntheticCells : public MappedRaster {
 public:
  bool GetCell(uint32_t x, uint32_t y, uint32_t, float& value) override {
    if (x >= Width || y >= Lines) return false;
    value = static_cast<float>(x + 10 * y + x * y);
    return true;
  }
};

TEST_F(MappedRasterTest, BilinearSamplingNeedsARightAndLowerNeighbour) {
  SyntheticCells f;
  ASSERT_TRUE(OpenBytes(f, std::string(48, '\0'), 6, 8, CellType::kUnsigned8, 1, false));
  float c[4] = {};
  ASSERT_TRUE(f.Get4Cells(1, 2, c, 0));  // (1, 2), (1, 3), (2, 3), (2, 2)
  EXPECT_EQ((std::vector<float>{23, 34, 38, 26}), std::vector<float>(c, c + 4));
  EXPECT_FALSE(f.Get4Cells(5, 0, c, 0));
  const struct {
    double x, y;
    bool ok;
    float value;
  } rows[] = {{2.5, 3.5, true, 2.5f + 35 + 8.75f},
              {4, 7, true, 102},
              {5, 0.5, false, 0},
              {0.5, 7.25, false, 0},
              {-0.5, 1, false, 0},
              {1e300, 1, false, 0}};
  for (const auto& r : rows) {
    float v = -1;
    EXPECT_EQ(r.ok, f.GetBilinear(0, v, r.x, r.y)) << r.x << "," << r.y;
    EXPECT_FLOAT_EQ(r.value, v) << r.x << "," << r.y;
  }
}

uint16_t CellValue(uint32_t x, uint32_t y, uint32_t band) {
  return static_cast<uint16_t>(x * 31 + y * 257 + band * 7919);
}

TEST_F(MappedRasterTest, SeekLineSlidesTheViewThroughEveryLine) {
  // 150 lines of 2000 bytes: lines straddle the 64 KiB view boundaries.
  const uint32_t width = 500, lines = 150, bands = 2;
  std::string bytes;
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t b = 0; b < bands; ++b)
      for (uint32_t x = 0; x < width; ++x) bytes += Ordered<uint16_t>({CellValue(x, y, b)}, true);
  MappedRaster f;
  f.MaxViewSize = f.ViewSize = k64K;
  ASSERT_TRUE(OpenBytes(f, bytes, width, lines, CellType::kUnsigned16, bands, true));
  std::set<uint64_t> offsets;
  for (uint32_t y = 0; y < lines; ++y) {
    ASSERT_TRUE(f.SeekLine(y, 0)) << y;
    EXPECT_LE(f.ViewOffset + f.ViewSize, f.FileSize);
    offsets.insert(f.ViewOffset);
    for (uint32_t b = 0; b < bands; ++b)
      for (uint32_t x = 0; x < width; ++x) ASSERT_EQ(CellValue(x, y, b), Cell(f, x, y, b));
  }
  EXPECT_EQ(5u, offsets.size());
  // Backwards, and after a direct positioning that empties the line range.
  for (uint32_t y = lines; y-- > 0;) ASSERT_EQ(CellValue(9, y, 1), Cell(f, 9, y, 1));
  ASSERT_NE(nullptr, f.At(0, 1));
  EXPECT_EQ(CellValue(7, 149, 0), Cell(f, 7, 149, 0));
}

}  // namespace
}  // namespace clipra
