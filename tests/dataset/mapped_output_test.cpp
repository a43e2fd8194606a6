#include "dataset/mapped_output.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

// Runs `body` in a forked child so that process limits set there stay there.
int ExitCodeOfChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

// The message of the `E` that `make` throws, or "no exception".
template <typename E>
std::string ThrownText(const std::function<void()>& make) {
  try {
    make();
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

class MappedOutputTest : public ::testing::Test {
 protected:
  double Value(const MappedOutputFile& m, uint64_t index) {
    double v = -12345;
    EXPECT_TRUE(m.GetValue(index, v)) << index;
    return v;
  }
  double Cell(MappedOutputRaster& m, uint32_t x, uint32_t y, uint32_t band = 0) {
    double v = -12345;
    EXPECT_TRUE(m.GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  TempDir dir_;
};

TEST_F(MappedOutputTest, ConstructorsRefuseBadArgumentsBeforeTouchingFiles) {
  const std::string path = dir_.Path("r.raw");
  EXPECT_EQ("No file name", ThrownText<MappedOutputFileError>(
                                [] { MappedOutputFile m("", kCellUnsigned8, 1, false); }));
  EXPECT_EQ("MMapFile No file name", ThrownText<MappedOutputError>([] {
              MappedOutputRaster m("", 3, 2, kCellUnsigned8, 1, 1, false);
            }));
  for (int bands : {0, -3})
    EXPECT_EQ("MMapFile " + std::to_string(bands) + " Bands", ThrownText<MappedOutputError>([&] {
                MappedOutputRaster m(path, 3, 2, kCellUnsigned8, bands, 1, false);
              }));
  EXPECT_FALSE(FileExists(path));
}

TEST_F(MappedOutputTest, OpeningIsRefusedInTheWrongModeOrWithoutCells) {
  MappedOutputFile empty(dir_.Path("r.raw"), kCellUnsigned8, 1, false);
  EXPECT_FALSE(empty.CreateNew(0));
  EXPECT_FALSE(FileExists(dir_.Path("r.raw")));

  dir_.WriteFile("r.raw", "abcd");
  MappedOutputFile reader(dir_.Path("r.raw"), kCellUnsigned8, 0, false);
  EXPECT_FALSE(reader.CreateNew(4));
  MappedOutputFile updater(dir_.Path("r.raw"), kCellUnsigned8, 2, false);
  EXPECT_FALSE(updater.CreateNew(4));
  MappedOutputFile creator(dir_.Path("r.raw"), kCellUnsigned8, 1, false);
  EXPECT_FALSE(creator.OpenRead());
  EXPECT_FALSE(creator.OpenReadWrite());
  EXPECT_EQ("abcd", dir_.ReadFile("r.raw"));
}

TEST_F(MappedOutputTest, NewRasterIsZeroFilledAndSized) {
  dir_.WriteFile("r.raw", std::string(100, 'x'));
  MappedOutputRaster m(dir_.Path("r.raw"), 3, 2, kCellSigned16, 2, 1, false);
  ASSERT_TRUE(m.CreateNew(3 * 2 * 2));
  EXPECT_EQ(24u, m.FileSize);
  EXPECT_EQ(12u, m.Count);
  EXPECT_EQ(std::string(24, '\0'), dir_.ReadFile("r.raw"));
}

TEST_F(MappedOutputTest, BitCellsPackEightToAByteFromTheTopAndKeepTheOtherBits) {
  MappedOutputFile created(dir_.Path("new.raw"), kCellOneBit, 1, false);
  ASSERT_TRUE(created.CreateNew(9));
  EXPECT_EQ(2u, created.FileSize);
  ASSERT_TRUE(created.SetValue(8, 1));
  EXPECT_EQ(0x80, created.Data[1]);

  dir_.WriteFile("bits.raw", "\x81");
  MappedOutputFile m(dir_.Path("bits.raw"), kCellOneBit, 2, false);
  ASSERT_TRUE(m.OpenReadWrite());
  EXPECT_EQ(8u, m.Count);
  EXPECT_EQ(255, Value(m, 0));
  EXPECT_EQ(0, Value(m, 3));
  EXPECT_EQ(255, Value(m, 7));
  // index, value, the byte after
  const int writes[][3] = {{3, 1, 145}, {0, 0, 17}, {3, -1, 1}};
  for (const auto& w : writes) {
    ASSERT_TRUE(m.SetValue(w[0], w[1]));
    EXPECT_EQ(w[2], m.Data[0]) << w[0] << "=" << w[1];
  }
  EXPECT_FALSE(m.SetValue(8, 1));
}

TEST_F(MappedOutputTest, ReadsAndWritesEitherByteOrder) {
  struct Case {
    std::string bytes;
    uint8_t type;
    bool msb_first;
    double value;
  };
  const Case reads[] = {
      {"\xFF\xFE", kCellSigned16, true, -2},
      {"\xFF\xFE", kCellUnsigned16, true, 65534},
      {"\xFF\xFF\xFF\xFE", kCellSigned32, true, -2},
      {"\xFF\xFF\xFF\xFE", kCellSigned32, false, -16777217},
  };
  for (const Case& c : reads) {
    dir_.WriteFile("in.raw", c.bytes);
    MappedOutputFile m(dir_.Path("in.raw"), c.type, 0, c.msb_first);
    ASSERT_TRUE(m.OpenRead());
    EXPECT_EQ(1u, m.Count);
    EXPECT_EQ(c.value, Value(m, 0)) << int{c.type} << " msb " << c.msb_first;
  }
  struct Write {
    uint8_t type;
    std::vector<double> values;
    std::string expected;
  };
  const Write writes[] = {
      {kCellUnsigned16, {258, -2}, "\x01\x02\xFF\xFE"},
      {kCellFloat32, {1.5}, std::string("\x3F\xC0\x00\x00", 4)},
  };
  for (const Write& w : writes) {
    {
      MappedOutputFile m(dir_.Path("out.raw"), w.type, 1, true);
      ASSERT_TRUE(m.CreateNew(w.values.size()));
      for (uint64_t i = 0; i < w.values.size(); ++i) ASSERT_TRUE(m.SetValue(i, w.values[i]));
    }
    EXPECT_EQ(w.expected, dir_.ReadFile("out.raw")) << int{w.type};
  }
}

TEST_F(MappedOutputTest, SetValueRoundsHalfToEvenAndKeepsTheLowBits) {
  MappedOutputFile m(dir_.Path("u8.raw"), kCellUnsigned8, 1, false);
  ASSERT_TRUE(m.CreateNew(7));
  const double values[] = {300, 2.5, 3.5, -1, 256, -0.5, std::nan("")};
  for (uint64_t i = 0; i < 7; ++i) ASSERT_TRUE(m.SetValue(i, values[i]));
  EXPECT_EQ(std::string("\x2C\x02\x04\xFF\x00\x00\x00", 7),
            std::string(reinterpret_cast<const char*>(m.Data), 7));
}

TEST_F(MappedOutputTest, CellsPastTheEndAreRefused) {
  dir_.WriteFile("s16.raw", "\x01\x02\x03");  // one cell and a stray byte
  MappedOutputFile m(dir_.Path("s16.raw"), kCellSigned16, 2, false);
  ASSERT_TRUE(m.OpenReadWrite());
  EXPECT_EQ(1u, m.Count);
  double v = -1;
  EXPECT_FALSE(m.GetValue(1, v));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(m.SetValue(1, 5));
  EXPECT_FALSE(m.GetValue(std::numeric_limits<uint64_t>::max(), v));
  EXPECT_EQ("\x01\x02\x03", dir_.ReadFile("s16.raw"));
}

TEST_F(MappedOutputTest, ReadOnlyFilesRefuseWrites) {
  dir_.WriteFile("u8.raw", "abcdef");
  // An updating object that was opened read-only must not store into the view.
  for (uint8_t mode : {0, 2}) {
    MappedOutputRaster m(dir_.Path("u8.raw"), 3, 2, kCellUnsigned8, 1, mode, false);
    ASSERT_TRUE(m.OpenRead());
    EXPECT_FALSE(m.SetValue(0, 1)) << int{mode};
    EXPECT_FALSE(m.SetCell(0, 0, 0, 1)) << int{mode};
  }
  EXPECT_EQ("abcdef", dir_.ReadFile("u8.raw"));
}

TEST_F(MappedOutputTest, MissingOrEmptyFileDoesNotOpen) {
  MappedOutputFile missing(dir_.Path("missing.raw"), kCellUnsigned8, 0, false);
  EXPECT_FALSE(missing.OpenRead());
  EXPECT_EQ(static_cast<uint32_t>(ENOENT), missing.LastError);
  EXPECT_EQ(nullptr, missing.Data);
  dir_.WriteFile("empty.raw", "");
  MappedOutputFile empty(dir_.Path("empty.raw"), kCellUnsigned8, 2, false);
  EXPECT_FALSE(empty.OpenReadWrite());
  EXPECT_NE(0u, empty.LastError);
}

TEST_F(MappedOutputTest, RasterRoundTripsThroughAFile) {
  const std::string path = dir_.Path("r.raw");
  {
    MappedOutputRaster out(path, 4, 3, kCellSigned32, 2, 1, true);
    ASSERT_TRUE(out.CreateNew(4 * 3 * 2));
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t b = 0; b < 2; ++b)
        for (uint32_t x = 0; x < 4; ++x) ASSERT_TRUE(out.SetCell(x, y, b, x - 100.0 * y + 7 * b));
    EXPECT_FALSE(out.SetCell(4, 0, 0, 1));
    EXPECT_FALSE(out.SetCell(0, 3, 0, 1));
  }
  // Cell (1, 2, 1) is number 2*8 + 4 + 1 = 21.
  const std::string bytes = dir_.ReadFile("r.raw");
  ASSERT_EQ(96u, bytes.size());
  EXPECT_EQ(-192, read_be<int32_t>(bytes.data() + 21 * 4));

  MappedOutputRaster in(path, 4, 3, kCellSigned32, 2, 0, true);
  ASSERT_TRUE(in.OpenRead());
  EXPECT_EQ(24u, in.Count);
  EXPECT_EQ(-192, Cell(in, 1, 2, 1));
  EXPECT_EQ(-192, Cell(in, 1, 2, 9));  // bands past the last read the last
  double v = -1;
  EXPECT_FALSE(in.GetCell(4, 0, 0, v));
  EXPECT_EQ(0, v);
}

TEST_F(MappedOutputTest, LineAddressPointsAtABandsRun) {
  MappedOutputRaster m(dir_.Path("r.raw"), 3, 2, kCellUnsigned16, 2, 1, false);
  ASSERT_TRUE(m.CreateNew(12));
  uint8_t* p = m.LineAddress(1, 1);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(m.Data + 2 * (6 + 3), p);
  write_le<uint16_t>(p + 2, 4321);
  EXPECT_EQ(4321, Cell(m, 1, 1, 1));
  EXPECT_EQ(p, m.LineAddress(1, 5));
  EXPECT_EQ(nullptr, m.LineAddress(2, 0));
}

TEST_F(MappedOutputTest, CreateBeyondTheFileSizeLimitFailsWithTheSystemCode) {
  const std::string path = dir_.Path("big.raw");
  const int code = ExitCodeOfChild([&] {
    const rlimit limit{65536, 65536};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
    MappedOutputFile m(path, kCellUnsigned8, 1, false);
    if (m.CreateNew(200000)) return 101;
    if (m.Data != nullptr) return 102;
    return static_cast<int>(m.LastError);
  });
  EXPECT_EQ(EFBIG, code);
  EXPECT_EQ("File too large", SystemErrorText(EFBIG));
}

// value = x + 10y + xy on a 4 x 3 float raster, which bilinear interpolation
// reproduces exactly.
class MappedOutputSamplingTest : public MappedOutputTest {
 protected:
  void SetUp() override {
    raster_ =
        std::make_unique<MappedOutputRaster>(dir_.Path("f.raw"), 4, 3, kCellFloat32, 1, 1, false);
    ASSERT_TRUE(raster_->CreateNew(12));
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) ASSERT_TRUE(raster_->SetCell(x, y, 0, x + 10 * y + x * y));
  }
  std::vector<double> Four(uint32_t x, uint32_t y) {
    double c[4] = {-1, -1, -1, -1};
    EXPECT_TRUE(raster_->Get4Cells(x, y, 0, c)) << x << "," << y;
    return {c, c + 4};
  }
  std::unique_ptr<MappedOutputRaster> raster_;
};

TEST_F(MappedOutputSamplingTest, Get4CellsRepeatsTheLastColumnAndLine) {
  // (x, y), (x, y + 1), (x + 1, y + 1), (x + 1, y)
  EXPECT_EQ((std::vector<double>{1, 12, 14, 2}), Four(1, 0));
  EXPECT_EQ((std::vector<double>{16, 29, 29, 16}), Four(3, 1));
  EXPECT_EQ((std::vector<double>{29, 29, 29, 29}), Four(3, 2));
  double c[4];
  EXPECT_FALSE(raster_->Get4Cells(4, 0, 0, c));
  EXPECT_FALSE(raster_->Get4Cells(0, 3, 0, c));
}

TEST_F(MappedOutputSamplingTest, GetBilinearInsideAndAlongTheEdges) {
  // x, y, value; the last column blends along Y only.
  const double inside[][3] = {
      {1.5, 0.5, 1.5 + 5 + 0.75}, {2.0, 1.0, 14}, {3.0, 1.5, 3 + 15 + 4.5}, {3.5, 1.0, 16}};
  double v = -1;
  for (const auto& c : inside) {
    ASSERT_TRUE(raster_->GetBilinear(0, v, c[0], c[1])) << c[0] << "," << c[1];
    EXPECT_DOUBLE_EQ(c[2], v) << c[0] << "," << c[1];
  }
  for (double x : {-0.5, 4.5}) {
    v = -1;
    EXPECT_FALSE(raster_->GetBilinear(0, v, x, 1.0)) << x;
    EXPECT_EQ(0, v);
  }
}

TEST_F(MappedOutputSamplingTest, GetNearestRoundsHalfToEven) {
  double v = -1;
  ASSERT_TRUE(raster_->GetNearest(0, v, 1.5, 0.5));  // (2, 0)
  EXPECT_EQ(2, v);
  ASSERT_TRUE(raster_->GetNearest(0, v, 2.5, 1.5));  // (2, 2)
  EXPECT_EQ(26, v);
  ASSERT_TRUE(raster_->GetNearest(0, v, -0.4, 0));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(raster_->GetNearest(0, v, -0.6, 0));
  EXPECT_FALSE(raster_->GetNearest(0, v, 3.5, 0));  // rounds to column 4
  EXPECT_FALSE(raster_->GetNearest(0, v, std::nan(""), 0));
}

}  // namespace
}  // namespace clipra
