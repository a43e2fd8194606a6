#include "dataset/mapped_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

constexpr uint64_t k64K = 65536;

// Appends cells in the requested byte order.
class CellBytes {
 public:
  explicit CellBytes(bool msb_first) : msb_first_(msb_first) {}
  template <typename T>
  CellBytes& Add(T v) {
    char b[sizeof(T)];
    write_ordered<T>(b, v, !msb_first_);
    bytes_.append(b, sizeof(T));
    return *this;
  }
  const std::string& str() const { return bytes_; }

 private:
  bool msb_first_;
  std::string bytes_;
};

uint8_t PatternByte(uint64_t i) {
  return static_cast<uint8_t>(i % 251);
}

std::string PatternFile(uint64_t size) {
  std::string s(size, '\0');
  for (uint64_t i = 0; i < size; ++i) s[i] = static_cast<char>(PatternByte(i));
  return s;
}

// Runs `body` in a forked child so that process limits set there stay there.
int ExitCodeOfChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

class MappedFileTest : public ::testing::Test {
 protected:
  // Opens a pattern file of `size` bytes, with views of `view` bytes if given.
  bool OpenPattern(MappedFile& f, uint64_t size, uint64_t view = 0) {
    dir_.WriteFile("a.raw", PatternFile(size));
    if (view) f.MaxViewSize = f.ViewSize = view;
    return f.Open(dir_.Path("a.raw"), 0, 0);
  }
  TempDir dir_;
};

TEST_F(MappedFileTest, SmallFilesAreMappedWholeAndReopeningReadsTheNewFile) {
  MappedFile f;
  ASSERT_TRUE(OpenPattern(f, 1000));
  EXPECT_EQ(1000u, f.MaxViewSize);
  EXPECT_EQ(1000u, f.ViewSize);
  EXPECT_EQ(0u, f.ViewOffset);
  EXPECT_EQ(f.View, f.Current);
  EXPECT_EQ(PatternByte(999), f.View[999]);

  dir_.WriteFile("tiny.raw", "abc");
  ASSERT_TRUE(f.Open(dir_.Path("tiny.raw"), 0, 0)) << "shorter than the default need";
  EXPECT_EQ(3u, f.FileSize);
  EXPECT_EQ('a', f.Current[0]);
  const uint8_t* p = f.At(2, 1);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ('c', *p);
}

TEST_F(MappedFileTest, EndOfFileRules) {
  MappedFile f;
  ASSERT_TRUE(OpenPattern(f, 1000));
  for (uint64_t pos : {uint64_t{1000}, uint64_t{1001}, ~uint64_t{0}}) {
    f.Position = pos;
    f.Need = 1;
    f.LastError = 0;
    EXPECT_FALSE(f.MapAt());
    EXPECT_EQ(1u, f.LastError);
    EXPECT_EQ("Position outside of file", f.ErrorText);
  }
  f.Position = 996;
  for (uint32_t need : {5u, 0xFFFFFFFFu}) {
    f.Need = need;
    f.LastError = 0;
    EXPECT_FALSE(f.MapAt()) << need;
    EXPECT_EQ(1u, f.LastError);
    EXPECT_EQ("The rest of file is smaller than needed num of bytes", f.ErrorText);
  }
  f.Need = 4;
  ASSERT_TRUE(f.MapAt());
  EXPECT_EQ(PatternByte(999), f.Current[3]);
  EXPECT_EQ(nullptr, f.At(999, 2));
  ASSERT_NE(nullptr, f.At(999, 1));
}

TEST_F(MappedFileTest, ViewsSlideAcross64KBoundariesAndStopAtTheEnd) {
  const uint64_t size = 300000;
  MappedFile f;
  ASSERT_TRUE(OpenPattern(f, size, k64K));
  EXPECT_EQ(k64K, f.ViewSize);
  struct Case {
    uint64_t pos, need, offset, view_size;
  };
  const Case cases[] = {
      {k64K - 6, 20, 0, k64K + 14},                  // straddles a boundary: grows just enough
      {70000, 100000, k64K, 70000 - k64K + 100000},  // longer than a whole view
      {200000, 8, 3 * k64K, k64K},
      {size - 1, 1, 4 * k64K, size - 4 * k64K},  // the last view stops at the end
      {140000, 8, 2 * k64K, k64K},
  };
  for (const Case& c : cases) {
    const uint8_t* p = f.At(c.pos, c.need);
    ASSERT_NE(nullptr, p) << c.pos;
    EXPECT_EQ(c.offset, f.ViewOffset) << c.pos;
    EXPECT_EQ(c.view_size, f.ViewSize) << c.pos;
    EXPECT_EQ(c.offset + c.view_size - c.pos, f.Available());
    for (uint64_t i = 0; i < c.need; ++i) ASSERT_EQ(PatternByte(c.pos + i), p[i]) << c.pos + i;
  }
  // A request inside the current view keeps it.
  ASSERT_NE(nullptr, f.At(140000, 8));
  const uint8_t* view = f.View;
  const uint8_t* p = f.At(150000, 8);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(view, f.View);
  EXPECT_EQ(PatternByte(150000), *p);
}

TEST_F(MappedFileTest, MissingOrEmptyFileDoesNotOpen) {
  MappedFile f;
  EXPECT_FALSE(f.Open(dir_.Path("missing.raw"), 0, 0));
  EXPECT_EQ(static_cast<uint32_t>(ENOENT), f.LastError);
  dir_.WriteFile("empty.raw", "");
  f.LastError = 0;
  EXPECT_FALSE(f.Open(dir_.Path("empty.raw"), 0, 0));
  EXPECT_NE(0u, f.LastError);
  EXPECT_EQ(nullptr, f.View);
}

TEST_F(MappedFileTest, CreateModeGivesTheFileItsSizeInZeros) {
  MappedFile f;
  ASSERT_TRUE(f.Open(dir_.Path("new.raw"), 1, 70000));
  EXPECT_EQ(70000u, f.FileSize);
  f.Current[0] = 'x';
  f.Position = 69999;
  f.Need = 1;
  ASSERT_TRUE(f.MapAt());
  f.Current[0] = 'y';
  f.Close();
  std::string expected(70000, '\0');
  expected.front() = 'x';
  expected.back() = 'y';
  EXPECT_EQ(expected, dir_.ReadFile("new.raw"));
}

TEST_F(MappedFileTest, CreateBeyondTheFileSizeLimitFailsWithTheSystemCode) {
  const std::string path = dir_.Path("big.raw");
  const int code = ExitCodeOfChild([&] {
    const rlimit limit{k64K, k64K};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
    MappedFile f;
    if (f.Open(path, 1, 4 * k64K)) return 101;
    return static_cast<int>(f.LastError);
  });
  EXPECT_EQ(EFBIG, code);
  EXPECT_EQ("File too large", SystemErrorText(EFBIG));
}

// A raster of `width` x `lines` x `bands` unsigned 16-bit cells whose values
// tell their position.
uint16_t CellValue(uint32_t x, uint32_t y, uint32_t band) {
  return static_cast<uint16_t>(x * 31 + y * 257 + band * 7919);
}

std::string Unsigned16Raster(uint32_t width, uint32_t lines, uint32_t bands, bool msb_first) {
  CellBytes b(msb_first);
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t band = 0; band < bands; ++band)
      for (uint32_t x = 0; x < width; ++x) b.Add<uint16_t>(CellValue(x, y, band));
  return b.str();
}

// value = x + 10y + xy, which bilinear interpolation reproduces exactly.
std::string BilinearRaster(uint32_t width, uint32_t lines) {
  CellBytes b(false);
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t x = 0; x < width; ++x) b.Add<float>(static_cast<float>(x + 10 * y + x * y));
  return b.str();
}

class MappedRasterTest : public ::testing::Test {
 protected:
  // Opens `bytes` as a raster in mode 0.
  bool OpenBytes(MappedRaster& f, const std::string& bytes, uint32_t width, uint32_t lines,
                 uint8_t type, uint32_t bands, bool msb_first, uint8_t mode = 0) {
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

TEST_F(MappedRasterTest, ReadsCellsInEitherByteOrder) {
  struct Case {
    std::string bytes;
    uint8_t type;
    bool msb_first;
    float first, second;
  };
  const Case cases[] = {
      {CellBytes(true).Add<int16_t>(-2).Add<int16_t>(300).str(), kCellSigned16, true, -2, 300},
      {std::string("\xFF\xFF\xFF\xFE\x00\x01\x00\x00", 8), kCellSigned32, true, -2, 65536},
      {"\xFF\xFE\x01\x02", kCellUnsigned16, true, 65534, 258},
      {"\xFE\x7F", kCellSigned8, false, -2, 127},
      {"\xFE\xFF\x02\x01", kCellSigned16, false, -2, 258},
      {CellBytes(true).Add<float>(1.5f).Add<float>(-0.25f).str(), kCellFloat32, true, 1.5f, -0.25f},
  };
  for (const Case& c : cases) {
    MappedRaster f;
    ASSERT_TRUE(OpenBytes(f, c.bytes, 2, 1, c.type, 1, c.msb_first)) << int{c.type};
    EXPECT_EQ(c.msb_first, f.IsMSBFirstOrder());
    EXPECT_EQ(c.first, Cell(f, 0, 0)) << int{c.type};
    EXPECT_EQ(c.second, Cell(f, 1, 0)) << int{c.type};
  }
  for (uint8_t type : {kCellRgb24, kCellFloat64}) {
    MappedRaster f;
    ASSERT_TRUE(OpenBytes(f, std::string(48, '\x7F'), 2, 1, type, 1, false)) << int{type};
    EXPECT_EQ(0.0f, Cell(f, 1, 0)) << "unsupported types read as zero: " << int{type};
  }
}

TEST_F(MappedRasterTest, SetCellRoundsHalfToEvenKeepsTheLowBitsAndHonoursTheByteOrder) {
  struct Case {
    uint8_t type;
    bool msb_first;
    std::vector<float> values;
    std::string expected;
  };
  const Case cases[] = {
      {kCellUnsigned8,
       false,
       {300, 2.5f, 3.5f, -1, 256, 0.49f},
       std::string("\x2C\x02\x04\xFF\0\0", 6)},
      {kCellUnsigned16, true, {258, 65535}, "\x01\x02\xFF\xFF"},
      {kCellSigned32, true, {-2}, "\xFF\xFF\xFF\xFE"},
      {kCellFloat32, true, {2.0f, -0.25f}, std::string("\x40\x00\x00\x00\xBE\x80\x00\x00", 8)},
  };
  for (const Case& c : cases) {
    MappedRaster f;
    const auto width = static_cast<uint32_t>(c.values.size());
    ASSERT_TRUE(
        OpenBytes(f, std::string(c.expected.size(), '\0'), width, 1, c.type, 1, c.msb_first, 2));
    for (uint32_t x = 0; x < width; ++x) ASSERT_TRUE(f.SetCell(x, 0, 0, c.values[x]));
    f.Close();
    EXPECT_EQ(c.expected, dir_.ReadFile("r.raw")) << int{c.type};
  }
}

TEST_F(MappedRasterTest, CellsOutsideTheRasterAreRefusedButBandsPastTheLastReadTheLast) {
  MappedRaster f;
  ASSERT_TRUE(OpenBytes(f, Unsigned16Raster(4, 3, 2, false), 4, 3, kCellUnsigned16, 2, false, 2));
  EXPECT_EQ(CellValue(3, 2, 1), Cell(f, 3, 2, 1));
  EXPECT_EQ(CellValue(3, 2, 1), Cell(f, 3, 2, 7));
  float v = 0;
  EXPECT_FALSE(f.GetCell(4, 0, 0, v));
  EXPECT_FALSE(f.GetCell(0, 3, 0, v));
  EXPECT_FALSE(f.SetCell(4, 0, 0, 1));
  EXPECT_FALSE(f.SeekLine(3, 0));
  EXPECT_FALSE(f.SeekLine(0xFFFFFFFF, 0));
}

TEST_F(MappedRasterTest, RgbTreatsThreeByteBandsAsPixelInterleavedAndReadOnlyRefusesWrites) {
  MappedRaster f;
  ASSERT_TRUE(OpenBytes(f, "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 2, 2, kCellUnsigned8,
                        3, false, 2));
  uint32_t color = 0;
  ASSERT_TRUE(f.GetRGB(1, 0, color));
  EXPECT_EQ(0x060504u, color);
  ASSERT_TRUE(f.GetRGB(0, 1, color));
  EXPECT_EQ(0x090807u, color);
  EXPECT_FALSE(f.GetRGB(2, 0, color));
  ASSERT_TRUE(f.SetRGB(1, 1, 0xFFA1B2C3));
  f.Close();
  EXPECT_EQ("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xC3\xB2\xA1", dir_.ReadFile("r.raw"));

  MappedRaster gray;
  ASSERT_TRUE(OpenBytes(gray, std::string(4, '\x01'), 2, 2, kCellUnsigned8, 1, false, 2));
  EXPECT_FALSE(gray.GetRGB(0, 0, color));
  EXPECT_FALSE(gray.SetRGB(0, 0, color));

  // A read-only object refuses writes.
  const std::string bytes(12, '\x05');
  MappedRaster reader;
  ASSERT_TRUE(OpenBytes(reader, bytes, 2, 2, kCellUnsigned8, 3, false));
  EXPECT_FALSE(reader.SetCell(0, 0, 0, 9));
  EXPECT_FALSE(reader.SetRGB(0, 0, 0x010203));
  reader.Close();
  EXPECT_EQ(bytes, dir_.ReadFile("r.raw"));
}

TEST_F(MappedRasterTest, PaddedDataReadsAsTheGridShortDataIsRefused) {
  MappedRaster f;
  ASSERT_TRUE(OpenBytes(f, PatternFile(37), 4, 3, kCellUnsigned8, 3, false));
  EXPECT_EQ(4u, f.Width);
  EXPECT_EQ(3u, f.Lines);
  EXPECT_EQ(3u, f.Bands);
  EXPECT_EQ(36u, f.CellCount);
  EXPECT_EQ(PatternByte(35), Cell(f, 3, 2, 2));

  struct Case {
    uint32_t size, width, lines;
    uint8_t type;
    const char* sizes;
  };
  const Case cases[] = {
      {37, 4, 5, kCellSigned16, "holds 37 bytes; its header describes 40"},
      // 65536 x 65537 cells would wrap to this file's size in 32 bits.
      {k64K, 65536, 65537, kCellUnsigned8, "holds 65536 bytes; its header describes 4295032832"},
      {8, 4294967295, 4294967295, kCellFloat32,
       "holds 8 bytes; its header describes more than 18446744073709551615"},
  };
  for (const Case& c : cases) {
    MappedRaster g;
    EXPECT_FALSE(OpenBytes(g, PatternFile(c.size), c.width, c.lines, c.type, 1, false));
    EXPECT_EQ("Data file " + dir_.Path("r.raw") + " " + c.sizes, g.ErrorText);
  }
}

TEST_F(MappedRasterTest, LineLongerThanTheViewIsRefused) {
  // A declared line too long, with and without padding after the grid.
  const uint32_t cases[][3] = {{70000, 70000, 1}, {140003, 70000, 2}};  // size, width, lines
  for (const auto& c : cases) {
    MappedRaster f;
    f.MaxViewSize = f.ViewSize = k64K;
    EXPECT_FALSE(OpenBytes(f, std::string(c[0], '\0'), c[1], c[2], kCellUnsigned8, 1, false));
    EXPECT_EQ("Buffer size is less than one line", f.ErrorText) << c[0];
  }
}

TEST_F(MappedRasterTest, CreateModeMakesAZeroedRasterOfTheExpectedSize) {
  MappedRaster f;
  ASSERT_TRUE(f.OpenRaster(dir_.Path("new.raw"), 3, 2, kCellSigned16, 2, 1, true));
  EXPECT_EQ(24u, f.FileSize);
  EXPECT_EQ(0.0f, Cell(f, 2, 1, 1));
  ASSERT_TRUE(f.SetCell(2, 1, 1, -2));
  f.Close();
  std::string expected(24, '\0');
  expected[22] = '\xFF';
  expected[23] = '\xFE';
  EXPECT_EQ(expected, dir_.ReadFile("new.raw"));
}

TEST_F(MappedRasterTest, SeekLineSlidesTheViewThroughEveryLine) {
  // 150 lines of 2000 bytes: lines straddle the 64 KiB view boundaries.
  const uint32_t width = 500, lines = 150, bands = 2;
  MappedRaster f;
  f.MaxViewSize = f.ViewSize = k64K;
  ASSERT_TRUE(OpenBytes(f, Unsigned16Raster(width, lines, bands, true), width, lines,
                        kCellUnsigned16, bands, true));
  ASSERT_EQ(300000u, f.FileSize);
  std::set<uint64_t> offsets;
  for (uint32_t y = 0; y < lines; ++y) {
    ASSERT_TRUE(f.SeekLine(y, 0)) << y;
    EXPECT_EQ(0u, f.ViewOffset % k64K);
    EXPECT_LE(f.ViewOffset + f.ViewSize, f.FileSize);
    offsets.insert(f.ViewOffset);
    for (uint32_t band = 0; band < bands; ++band)
      for (uint32_t x = 0; x < width; ++x) {
        float v = 0;
        ASSERT_TRUE(f.GetCell(x, y, band, v));
        ASSERT_EQ(CellValue(x, y, band), v) << x << "," << y << "," << band;
      }
  }
  EXPECT_EQ(5u, offsets.size());
  // Backwards, and after a direct positioning that empties the line range.
  for (uint32_t y = lines; y-- > 0;)
    ASSERT_EQ(CellValue(width - 1, y, 1), Cell(f, width - 1, y, 1));
  ASSERT_NE(nullptr, f.At(0, 1));
  EXPECT_EQ(CellValue(7, 149, 0), Cell(f, 7, 149, 0));
  EXPECT_EQ(CellValue(7, 0, 1), Cell(f, 7, 0, 1));
}

TEST_F(MappedRasterTest, BilinearSamplingNeedsARightAndLowerNeighbour) {
  MappedRaster f;
  ASSERT_TRUE(OpenBytes(f, BilinearRaster(6, 8), 6, 8, kCellFloat32, 1, false));
  float c[4] = {};
  ASSERT_TRUE(f.Get4Cells(1, 2, c, 0));
  // (1, 2), (1, 3), (2, 3), (2, 2)
  EXPECT_EQ((std::vector<float>{23, 34, 38, 26}), std::vector<float>(c, c + 4));
  EXPECT_FALSE(f.Get4Cells(5, 0, c, 0));
  EXPECT_FALSE(f.Get4Cells(0, 7, c, 0));

  float v = -1;
  ASSERT_TRUE(f.GetBilinear(0, v, 2.5, 3.0));
  EXPECT_FLOAT_EQ(2.5f + 30 + 7.5f, v);
  ASSERT_TRUE(f.GetBilinear(0, v, 2.5, 3.5));
  EXPECT_FLOAT_EQ(2.5f + 35 + 8.75f, v);
  ASSERT_TRUE(f.GetBilinear(0, v, 4.0, 7.0));
  EXPECT_EQ(Cell(f, 4, 7), v);
  const std::pair<double, double> outside[] = {{5.0, 0.5}, {0.5, 7.25}, {-0.5, 1.0}, {1e300, 1.0}};
  for (const auto& [x, y] : outside) {
    v = -1;
    EXPECT_FALSE(f.GetBilinear(0, v, x, y)) << x << "," << y;
    EXPECT_EQ(0.0f, v) << x << "," << y;
  }
}

// A reader with its own cell layout; the sampling must go through its GetCell.
class SyntheticCells : public MappedRaster {
 public:
  bool GetCell(uint32_t x, uint32_t y, uint32_t, float& value) override {
    if (x >= Width || y >= Lines) return false;
    value = static_cast<float>(100 * x + y);
    return true;
  }
};

TEST_F(MappedRasterTest, SamplingReadsThroughAnOverriddenGetCell) {
  SyntheticCells f;
  ASSERT_TRUE(OpenBytes(f, std::string(12, '\0'), 4, 3, kCellUnsigned8, 1, false));
  float c[4] = {};
  ASSERT_TRUE(f.Get4Cells(1, 1, c, 0));
  EXPECT_EQ((std::vector<float>{101, 102, 202, 201}), std::vector<float>(c, c + 4));
  float v = 0;
  ASSERT_TRUE(f.GetBilinear(0, v, 1.5, 1.5));
  EXPECT_FLOAT_EQ(151.5f, v);
}

}  // namespace
}  // namespace clipra
