#include "dataset/mmapfile.h"

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

class MapFileTest : public ::testing::Test {
 protected:
  double Value(const TMap& m, uint64_t index) {
    double v = -12345;
    EXPECT_TRUE(m.GetValue(index, v)) << index;
    return v;
  }
  double Cell(TMMapFile& m, uint32_t x, uint32_t y, uint32_t band = 0) {
    double v = -12345;
    EXPECT_TRUE(m.GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }
  TempDir dir_;
};

TEST_F(MapFileTest, ConstructorsRefuseBadArgumentsBeforeTouchingFiles) {
  try {
    TMap m("", kCellUnsigned8, 1, false);
    FAIL() << "no exception";
  } catch (const EMapError& e) {
    EXPECT_STREQ("No file name", e.what());
  }
  try {
    TMMapFile m("", 3, 2, kCellUnsigned8, 1, 1, false);
    FAIL() << "no exception";
  } catch (const EMMapFileError& e) {
    EXPECT_STREQ("MMapFile No file name", e.what());
  }
  const std::string path = dir_.Path("r.raw");
  try {
    TMMapFile m(path, 3, 2, kCellUnsigned8, 0, 1, false);
    FAIL() << "no exception";
  } catch (const EMMapFileError& e) {
    EXPECT_STREQ("MMapFile 0 Bands", e.what());
  }
  try {
    TMMapFile m(path, 3, 2, kCellUnsigned8, -3, 1, false);
    FAIL() << "no exception";
  } catch (const EMMapFileError& e) {
    EXPECT_STREQ("MMapFile -3 Bands", e.what());
  }
  EXPECT_FALSE(FileExists(path));
}

TEST_F(MapFileTest, CreateNewWithNoCellsFailsAndMakesNoFile) {
  TMap m(dir_.Path("r.raw"), kCellUnsigned8, 1, false);
  EXPECT_FALSE(m.CreateNew(0));
  EXPECT_FALSE(FileExists(dir_.Path("r.raw")));
}

TEST_F(MapFileTest, OpeningIsRefusedInTheWrongMode) {
  dir_.WriteFile("r.raw", "abcd");
  TMap reader(dir_.Path("r.raw"), kCellUnsigned8, 0, false);
  EXPECT_FALSE(reader.CreateNew(4));
  TMap updater(dir_.Path("r.raw"), kCellUnsigned8, 2, false);
  EXPECT_FALSE(updater.CreateNew(4));
  TMap creator(dir_.Path("r.raw"), kCellUnsigned8, 1, false);
  EXPECT_FALSE(creator.OpenRead());
  EXPECT_FALSE(creator.OpenReadWrite());
  EXPECT_EQ("abcd", dir_.ReadFile("r.raw"));
}

TEST_F(MapFileTest, NewRasterIsZeroFilledAndSized) {
  dir_.WriteFile("r.raw", std::string(100, 'x'));
  TMMapFile m(dir_.Path("r.raw"), 3, 2, kCellSigned16, 2, 1, false);
  ASSERT_TRUE(m.CreateNew(3 * 2 * 2));
  EXPECT_EQ(24u, m.FileSize);
  EXPECT_EQ(12u, m.Count);
  EXPECT_EQ(0u, m.LastError);
  EXPECT_EQ(std::string(24, '\0'), dir_.ReadFile("r.raw"));
}

TEST_F(MapFileTest, BitCellsPackEightToAByteFromTheTop) {
  TMap m(dir_.Path("bits.raw"), kCellOneBit, 1, false);
  ASSERT_TRUE(m.CreateNew(9));
  EXPECT_EQ(2u, m.FileSize);
  ASSERT_TRUE(m.SetValue(8, 1));
  EXPECT_EQ(0x80, m.Data[1]);
}

TEST_F(MapFileTest, BitCellWritesKeepTheOtherBits) {
  dir_.WriteFile("bits.raw", "\x81");
  TMap m(dir_.Path("bits.raw"), kCellOneBit, 2, false);
  ASSERT_TRUE(m.OpenReadWrite());
  EXPECT_EQ(8u, m.Count);
  EXPECT_EQ(255, Value(m, 0));
  EXPECT_EQ(0, Value(m, 3));
  EXPECT_EQ(255, Value(m, 7));
  ASSERT_TRUE(m.SetValue(3, 1));
  EXPECT_EQ(145, m.Data[0]);
  ASSERT_TRUE(m.SetValue(0, 0));
  EXPECT_EQ(17, m.Data[0]);
  ASSERT_TRUE(m.SetValue(3, -1));
  EXPECT_EQ(1, m.Data[0]);
  EXPECT_FALSE(m.SetValue(8, 1));
}

TEST_F(MapFileTest, ReadsBigEndianIntegers) {
  dir_.WriteFile("s16.raw", "\xFF\xFE");
  TMap s16(dir_.Path("s16.raw"), kCellSigned16, 0, true);
  ASSERT_TRUE(s16.OpenRead());
  EXPECT_EQ(-2, Value(s16, 0));

  TMap u16(dir_.Path("s16.raw"), kCellUnsigned16, 0, true);
  ASSERT_TRUE(u16.OpenRead());
  EXPECT_EQ(65534, Value(u16, 0));

  dir_.WriteFile("s32.raw", "\xFF\xFF\xFF\xFE");
  TMap s32(dir_.Path("s32.raw"), kCellSigned32, 0, true);
  ASSERT_TRUE(s32.OpenRead());
  EXPECT_EQ(1u, s32.Count);
  EXPECT_EQ(-2, Value(s32, 0));

  TMap le(dir_.Path("s32.raw"), kCellSigned32, 0, false);
  ASSERT_TRUE(le.OpenRead());
  EXPECT_EQ(-16777217, Value(le, 0));
}

TEST_F(MapFileTest, WritesBigEndianIntegersAndFloats) {
  {
    TMap m(dir_.Path("u16.raw"), kCellUnsigned16, 1, true);
    ASSERT_TRUE(m.CreateNew(2));
    ASSERT_TRUE(m.SetValue(0, 258));
    ASSERT_TRUE(m.SetValue(1, -2));
  }
  EXPECT_EQ("\x01\x02\xFF\xFE", dir_.ReadFile("u16.raw"));
  {
    TMap m(dir_.Path("f32.raw"), kCellFloat32, 1, true);
    ASSERT_TRUE(m.CreateNew(1));
    ASSERT_TRUE(m.SetValue(0, 1.5));
    EXPECT_EQ(1.5, Value(m, 0));
  }
  EXPECT_EQ(std::string("\x3F\xC0\x00\x00", 4), dir_.ReadFile("f32.raw"));
}

TEST_F(MapFileTest, SetValueRoundsHalfToEvenAndKeepsTheLowBits) {
  TMap m(dir_.Path("u8.raw"), kCellUnsigned8, 1, false);
  ASSERT_TRUE(m.CreateNew(7));
  const double values[] = {300, 2.5, 3.5, -1, 256, -0.5, std::nan("")};
  for (uint64_t i = 0; i < 7; ++i) ASSERT_TRUE(m.SetValue(i, values[i]));
  EXPECT_EQ(std::string("\x2C\x02\x04\xFF\x00\x00\x00", 7),
            std::string(reinterpret_cast<const char*>(m.Data), 7));
}

TEST_F(MapFileTest, CellsPastTheEndAreRefused) {
  dir_.WriteFile("s16.raw", "\x01\x02\x03");  // one cell and a stray byte
  TMap m(dir_.Path("s16.raw"), kCellSigned16, 2, false);
  ASSERT_TRUE(m.OpenReadWrite());
  EXPECT_EQ(1u, m.Count);
  double v = -1;
  EXPECT_FALSE(m.GetValue(1, v));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(m.SetValue(1, 5));
  EXPECT_FALSE(m.GetValue(std::numeric_limits<uint64_t>::max(), v));
  EXPECT_EQ("\x01\x02\x03", dir_.ReadFile("s16.raw"));
}

TEST_F(MapFileTest, ReadOnlyFilesRefuseWrites) {
  dir_.WriteFile("u8.raw", "abcdef");
  TMMapFile reader(dir_.Path("u8.raw"), 3, 2, kCellUnsigned8, 1, 0, false);
  ASSERT_TRUE(reader.OpenRead());
  EXPECT_FALSE(reader.SetValue(0, 1));
  EXPECT_FALSE(reader.SetCell(0, 0, 0, 1));
  // An updating object that was opened read-only must not store into the view.
  TMMapFile updater(dir_.Path("u8.raw"), 3, 2, kCellUnsigned8, 1, 2, false);
  ASSERT_TRUE(updater.OpenRead());
  EXPECT_FALSE(updater.SetValue(0, 1));
  EXPECT_FALSE(updater.SetCell(0, 0, 0, 1));
  EXPECT_EQ("abcdef", dir_.ReadFile("u8.raw"));
}

TEST_F(MapFileTest, MissingOrEmptyFileDoesNotOpen) {
  TMap missing(dir_.Path("missing.raw"), kCellUnsigned8, 0, false);
  EXPECT_FALSE(missing.OpenRead());
  EXPECT_EQ(static_cast<uint32_t>(ENOENT), missing.LastError);
  EXPECT_EQ(nullptr, missing.Data);
  dir_.WriteFile("empty.raw", "");
  TMap empty(dir_.Path("empty.raw"), kCellUnsigned8, 2, false);
  EXPECT_FALSE(empty.OpenReadWrite());
  EXPECT_NE(0u, empty.LastError);
}

TEST_F(MapFileTest, RasterRoundTripsThroughAFile) {
  const std::string path = dir_.Path("r.raw");
  {
    TMMapFile out(path, 4, 3, kCellSigned32, 2, 1, true);
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

  TMMapFile in(path, 4, 3, kCellSigned32, 2, 0, true);
  ASSERT_TRUE(in.OpenRead());
  EXPECT_EQ(24u, in.Count);
  EXPECT_EQ(-192, Cell(in, 1, 2, 1));
  EXPECT_EQ(-192, Cell(in, 1, 2, 9));  // bands past the last read the last
  double v = -1;
  EXPECT_FALSE(in.GetCell(4, 0, 0, v));
  EXPECT_EQ(0, v);
}

TEST_F(MapFileTest, LineAddressPointsAtABandsRun) {
  TMMapFile m(dir_.Path("r.raw"), 3, 2, kCellUnsigned16, 2, 1, false);
  ASSERT_TRUE(m.CreateNew(12));
  uint8_t* p = m.LineAddress(1, 1);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(m.Data + 2 * (6 + 3), p);
  write_le<uint16_t>(p + 2, 4321);
  EXPECT_EQ(4321, Cell(m, 1, 1, 1));
  EXPECT_EQ(p, m.LineAddress(1, 5));
  EXPECT_EQ(nullptr, m.LineAddress(2, 0));
}

// value = x + 10y + xy on a 4 x 3 float raster, which bilinear interpolation
// reproduces exactly.
class MapFileSamplingTest : public MapFileTest {
 protected:
  void SetUp() override {
    raster_ = std::make_unique<TMMapFile>(dir_.Path("f.raw"), 4, 3, kCellFloat32, 1, 1, false);
    ASSERT_TRUE(raster_->CreateNew(12));
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) ASSERT_TRUE(raster_->SetCell(x, y, 0, x + 10 * y + x * y));
  }
  std::unique_ptr<TMMapFile> raster_;
};

TEST_F(MapFileSamplingTest, Get4CellsRepeatsTheLastColumnAndLine) {
  double c[4] = {};
  ASSERT_TRUE(raster_->Get4Cells(1, 0, 0, c));
  EXPECT_EQ(1, c[0]);   // (1, 0)
  EXPECT_EQ(12, c[1]);  // (1, 1)
  EXPECT_EQ(14, c[2]);  // (2, 1)
  EXPECT_EQ(2, c[3]);   // (2, 0)
  ASSERT_TRUE(raster_->Get4Cells(3, 1, 0, c));
  EXPECT_EQ(16, c[0]);
  EXPECT_EQ(29, c[1]);
  EXPECT_EQ(29, c[2]);
  EXPECT_EQ(16, c[3]);
  ASSERT_TRUE(raster_->Get4Cells(3, 2, 0, c));
  EXPECT_EQ(29, c[0]);
  EXPECT_EQ(29, c[2]);
  EXPECT_FALSE(raster_->Get4Cells(4, 0, 0, c));
  EXPECT_FALSE(raster_->Get4Cells(0, 3, 0, c));
}

TEST_F(MapFileSamplingTest, GetBilinearInsideAndAlongTheEdges) {
  double v = -1;
  ASSERT_TRUE(raster_->GetBilinear(0, v, 1.5, 0.5));
  EXPECT_DOUBLE_EQ(1.5 + 5 + 0.75, v);
  ASSERT_TRUE(raster_->GetBilinear(0, v, 2.0, 1.0));
  EXPECT_EQ(14, v);
  // The last column blends along Y only.
  ASSERT_TRUE(raster_->GetBilinear(0, v, 3.0, 1.5));
  EXPECT_DOUBLE_EQ(3 + 15 + 4.5, v);
  ASSERT_TRUE(raster_->GetBilinear(0, v, 3.5, 1.0));
  EXPECT_DOUBLE_EQ(16, v);
  v = -1;
  EXPECT_FALSE(raster_->GetBilinear(0, v, -0.5, 1.0));
  EXPECT_EQ(0, v);
  v = -1;
  EXPECT_FALSE(raster_->GetBilinear(0, v, 4.5, 1.0));
  EXPECT_EQ(0, v);
}

TEST_F(MapFileSamplingTest, GetNearestRoundsHalfToEven) {
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

TEST_F(MapFileTest, CreateBeyondTheFileSizeLimitFailsWithTheSystemCode) {
  const std::string path = dir_.Path("big.raw");
  const int code = ExitCodeOfChild([&] {
    const rlimit limit{65536, 65536};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
    TMap m(path, kCellUnsigned8, 1, false);
    if (m.CreateNew(200000)) return 101;
    if (m.Data != nullptr) return 102;
    return static_cast<int>(m.LastError);
  });
  EXPECT_EQ(EFBIG, code);
  EXPECT_EQ("File too large", SystemErrorText(EFBIG));
}

}  // namespace
}  // namespace clipra
