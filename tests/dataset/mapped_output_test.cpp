#include "dataset/mapped_output.h"

#include <cerrno>
#include <cmath>
#include <limits>

#include "support/format_test.h"

namespace clipra {
namespace {

TEST(MappedOutput, RefusesBadArgumentsAndWrongModesWithoutTouchingFiles) {
  TempDir dir;
  const std::string path = dir.Path("r.raw");
  EXPECT_EQ("MMapFile No file name", ThrownText<MappedOutputError>([] {
              MappedOutputRaster m("", 3, 2, CellType::kUnsigned8, 1, 1, false);
            }));
  // A band count below one: ers_test.
  MappedOutputFile empty(path, CellType::kUnsigned8, 1, false);
  EXPECT_FALSE(empty.CreateNew(0));
  EXPECT_FALSE(FileExists(path));
  // A missing file's system error: osd_test.

  dir.WriteFile("r.raw", "abcdef");
  for (uint8_t mode : {0, 2}) {
    MappedOutputRaster m(path, 3, 2, CellType::kUnsigned8, 1, mode, false);
    EXPECT_FALSE(m.CreateNew(4)) << int{mode};
    // An updating object that was opened read-only must not store into the view.
    ASSERT_TRUE(m.OpenRead());
    EXPECT_FALSE(m.SetValue(0, 1)) << int{mode};
    EXPECT_FALSE(m.SetCell(0, 0, 0, 1)) << int{mode};
  }
  MappedOutputFile creator(path, CellType::kUnsigned8, 1, false);
  EXPECT_FALSE(creator.OpenReadWrite());
  EXPECT_EQ("abcdef", dir.ReadFile("r.raw"));
}

// Values written round half to even and keep their low bits; both byte
// orders; cells past the end are refused. Bit cells pack eight to a byte
// from the top, and writing one keeps the other bits of its byte.
TEST(MappedOutput, ConvertsValuesInEitherByteOrderAndRefusesCellsPastTheEnd) {
  TempDir dir;
  const struct {
    CellType type;
    bool msb_first;
    std::vector<double> written;
    std::string bytes;
    std::vector<double> read;
  } cases[] = {
      {CellType::kSigned16, true, {-2}, "\xFF\xFE", {-2}},
      {CellType::kUnsigned16, true, {258, -2}, "\x01\x02\xFF\xFE", {258, 65534}},
      {CellType::kSigned32, false, {-16777217}, "\xFF\xFF\xFF\xFE", {-16777217}},
      {CellType::kFloat32, true, {1.5}, std::string("\x3F\xC0\x00\x00", 4), {1.5}},
      {CellType::kOneBit,
       false,
       {1, 0, 1, -1, 0, 0, 1, 0, 1},
       "\xA2\x80",
       {255, 0, 255, 0, 0, 0, 255, 0, 255}},
      {CellType::kUnsigned8,
       false,
       {300, 2.5, 3.5, -1, 256, -0.5, std::nan("")},
       std::string("\x2C\x02\x04\xFF\x00\x00\x00", 7),
       {44, 2, 4, 255, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    {
      MappedOutputFile m(dir.Path("out.raw"), c.type, 1, c.msb_first);
      ASSERT_TRUE(m.CreateNew(c.written.size()));
      for (uint64_t i = 0; i < c.written.size(); ++i) ASSERT_TRUE(m.SetValue(i, c.written[i]));
    }
    EXPECT_EQ(c.bytes, dir.ReadFile("out.raw")) << static_cast<int>(c.type);
    MappedOutputFile m(dir.Path("out.raw"), c.type, 0, c.msb_first);
    ASSERT_TRUE(m.OpenRead());
    std::vector<double> read(c.read.size(), -1);
    for (uint64_t i = 0; i < read.size(); ++i) ASSERT_TRUE(m.GetValue(i, read[i])) << i;
    EXPECT_EQ(c.read, read);
    double v = -1;
    EXPECT_FALSE(m.GetValue(m.Count(), v));
  }
  dir.WriteFile("bits.raw", "\x81");  // clearing a set bit keeps the others
  MappedOutputFile bits(dir.Path("bits.raw"), CellType::kOneBit, 2, false);
  ASSERT_TRUE(bits.OpenReadWrite() && bits.SetValue(0, 0) && bits.SetValue(3, 1));
  EXPECT_EQ(0x11, bits.Data()[0]);
  dir.WriteFile("s16.raw", "\x01\x02\x03");  // one cell and a stray byte
  MappedOutputFile m(dir.Path("s16.raw"), CellType::kSigned16, 2, false);
  ASSERT_TRUE(m.OpenReadWrite());
  EXPECT_EQ(1u, m.Count());
  double v = -1;
  EXPECT_FALSE(m.GetValue(1, v));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(m.SetValue(1, 5));
  EXPECT_FALSE(m.GetValue(std::numeric_limits<uint64_t>::max(), v));
}

TEST(MappedOutput, RasterCellsAndLinesAreBandInterleavedByLine) {
  TempDir dir;
  dir.WriteFile("r.raw", std::string(200, 'x'));  // replaced by zeros
  MappedOutputRaster out(dir.Path("r.raw"), 4, 3, CellType::kSigned32, 2, 1, true);
  ASSERT_TRUE(out.CreateNew(4 * 3 * 2));
  ASSERT_TRUE(out.SetCell(1, 2, 1, -192));
  EXPECT_FALSE(out.SetCell(4, 0, 0, 1));
  EXPECT_FALSE(out.SetCell(0, 3, 0, 1));
  // Cell (1, 2, 1) is number 2*8 + 4 + 1 = 21.
  EXPECT_EQ(std::string(21 * 4, '\0') + "\xFF\xFF\xFF\x40" + std::string(8, '\0'),
            dir.ReadFile("r.raw"));
  double v = -1;
  ASSERT_TRUE(out.GetCell(1, 2, 9, v));  // bands past the last read the last
  EXPECT_EQ(-192, v);
  EXPECT_FALSE(out.GetCell(4, 0, 0, v));
  uint8_t* p = out.LineAddress(2, 1);
  EXPECT_EQ(out.Data() + 4 * (16 + 4), p);
  EXPECT_EQ(p, out.LineAddress(2, 5));
  EXPECT_EQ(nullptr, out.LineAddress(3, 0));
}

// value = x + 10y + xy, which bilinear interpolation reproduces exactly.
// Nearest rounds half to even; bilinear repeats the last column and line.
TEST(MappedOutput, SamplesNearestAndBilinearRepeatingTheLastColumnAndLine) {
  TempDir dir;
  MappedOutputRaster r(dir.Path("f.raw"), 4, 3, CellType::kFloat32, 1, 1, false);
  ASSERT_TRUE(r.CreateNew(12));
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) ASSERT_TRUE(r.SetCell(x, y, 0, x + 10 * y + x * y));
  double four[4] = {};
  ASSERT_TRUE(r.Get4Cells(3, 1, 0, four));  // (x, y), (x, y + 1), (x + 1, y + 1), (x + 1, y)
  EXPECT_EQ((std::vector<double>{16, 29, 29, 16}), std::vector<double>(four, four + 4));
  EXPECT_FALSE(r.Get4Cells(0, 3, 0, four));
  const struct {
    bool bilinear;
    double x, y;
    bool ok;
    double value;
  } rows[] = {{true, 1.5, 0.5, true, 7.25}, {true, 3, 1.5, true, 22.5}, {true, 3.5, 1, true, 16},
              {true, -0.5, 1, false, 0},    {true, 4.5, 1, false, 0},   {false, 1.5, 0.5, true, 2},
              {false, 2.5, 1.5, true, 26},  {false, -0.4, 0, true, 0},  {false, -0.6, 0, false, 0},
              {false, 3.5, 0, false, 0},    {false, NAN, 0, false, 0}};
  for (const auto& s : rows) {
    double v = -1;
    EXPECT_EQ(s.ok, s.bilinear ? r.GetBilinear(0, v, s.x, s.y) : r.GetNearest(0, v, s.x, s.y))
        << s.bilinear << " " << s.x << "," << s.y;
    if (s.ok || s.bilinear) {
      EXPECT_DOUBLE_EQ(s.value, v) << s.x << "," << s.y;
    }
  }
}

}  // namespace
}  // namespace clipra
