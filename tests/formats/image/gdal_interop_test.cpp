// TIFFs and bitmaps made by GDAL and ImageMagick are clipped, and GDAL
// reads the clips back: the cells follow the nearest-cell rule, and a TIFF
// clip's origin is the rectangle's top-left corner.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dataset/source.h"
#include "support/gdal.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// The source image: 7 x 5 cells of 2 map units, GDAL origin (1000, 2000),
// so cell (0, 0) has its corner at (1000, 2000), the centre its world file gives.
constexpr int kWidth = 7;
constexpr int kHeight = 5;
constexpr const char* kPixelFormula = "(x * 7 + y * 13 + b * 50 + 1) % 256";

int SourceValue(int x, int y, int b, bool sixteen) {
  const int v = (x * 7 + y * 13 + b * 50 + 1) % 256;
  return sixteen ? v * 251 + b : v;
}

// The clip: top-left (1002, 2000), bottom-right (1016, 1988), which puts
// every output cell half-way between two source cells.
const std::vector<std::string> kRectangle = {"-A1002:2000:1016:1988", "-B7:8:9"};
constexpr int kOutWidth = 8;
constexpr int kOutLines = 7;

// Writes the source image with GDAL's `driver` and `options`.
bool MakeWithGdal(const TempDir& dir, const std::string& name, const std::string& driver, int bands,
                  bool sixteen, const std::string& options) {
  std::ostringstream py;
  py << "from osgeo import gdal\n"
     << "import struct\n"
     << "ds = gdal.GetDriverByName('" << driver << "').Create('" << dir.Path(name) << "', "
     << kWidth << ", " << kHeight << ", " << bands << ", "
     << (sixteen ? "gdal.GDT_UInt16" : "gdal.GDT_Byte") << ", [" << options << "])\n"
     << "ds.SetGeoTransform((1000, 2, 0, 2000, 0, -2))\n"
     << "for b in range(" << bands << "):\n"
     << "  v = [" << kPixelFormula << (sixteen ? " * 251 + b" : "") << " for y in range(" << kHeight
     << ") for x in range(" << kWidth << ")]\n"
     << "  ds.GetRasterBand(b + 1).WriteRaster(0, 0, " << kWidth << ", " << kHeight
     << ", struct.pack('<%d" << (sixteen ? "H" : "B") << "' % len(v), *v))\n"
     << "ds = None\n";
  return RunPython(dir, py.str());
}

// The source cell nearest to an output cell's grid point, or -1 outside.
int Nearest(double map, double origin, int sign, int count) {
  uint32_t index = 0;
  if (!MapToIndex(map, origin, 2.0, sign, index) || index >= static_cast<uint32_t>(count))
    return -1;
  return static_cast<int>(index);
}

// Compares a clip read by GDAL with the nearest-cell rule.
void ExpectClip(const GdalView& out, int bands, bool sixteen) {
  ASSERT_EQ(out.width, kOutWidth);
  ASSERT_EQ(out.height, kOutLines);
  ASSERT_EQ(out.bands, bands);
  ASSERT_EQ(out.cells.size(), static_cast<size_t>(bands * kOutWidth * kOutLines));
  const int background[3] = {7, 8, 9};
  for (int b = 0; b < bands; ++b)
    for (int r = 0; r < kOutLines; ++r)
      for (int c = 0; c < kOutWidth; ++c) {
        const int col = Nearest(1002.0 + 2 * c, 1000, +1, kWidth);
        const int row = Nearest(2000.0 - 2 * r, 2000, -1, kHeight);
        int want = bands == 3 ? background[b] : 0;
        if (col >= 0 && row >= 0) want = SourceValue(col, row, b, sixteen);
        ASSERT_EQ(out.cells[(b * kOutLines + r) * kOutWidth + c], want)
            << "band " << b << " line " << r << " column " << c;
      }
}

struct TifCase {
  const char* name;
  bool big_endian;
  bool sixteen;
  int bands;
  bool band_interleave;
  int block_rows;  // 0: GDAL's default
};

class GdalTiffTest : public ::testing::TestWithParam<TifCase> {
 protected:
  TempDir dir_;
};

TEST_P(GdalTiffTest, ClipsGdalTiffAndGdalReadsTheClip) {
  REQUIRE_GDAL_PYTHON();
  REQUIRE_TOOL("tiffinfo");
  const TifCase& p = GetParam();
  std::string options = "'TFW=YES', 'ENDIANNESS=" + std::string(p.big_endian ? "BIG" : "LITTLE") +
                        "', 'INTERLEAVE=" + (p.band_interleave ? "BAND" : "PIXEL") + "'";
  if (p.block_rows) options += ", 'BLOCKYSIZE=" + std::to_string(p.block_rows) + "'";
  ASSERT_TRUE(MakeWithGdal(dir_, "src.tif", "GTiff", p.bands, p.sixteen, options));

  std::vector<std::string> args = kRectangle;
  args.push_back(dir_.Path("src.tif"));
  args.push_back(dir_.Path("out.tif"));
  const CliResult run = RunClipra(args);
  ASSERT_EQ(run.code, 0) << run.err;

  const GdalView out = ReadWithGdal(dir_, "out.tif");
  ASSERT_EQ(out.geo.size(), 6u);
  EXPECT_EQ(out.geo[0], 1002);
  EXPECT_EQ(out.geo[3], 2000);
  EXPECT_EQ(out.geo[1], 2);
  EXPECT_EQ(out.geo[5], -2);
  ExpectClip(out, p.bands, p.sixteen);

  std::string report;
  EXPECT_EQ(RunCommand("tiffinfo " + ShellQuote(dir_.Path("out.tif")) + " 2>&1", &report), 0);
  EXPECT_EQ(report.find("rror"), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(
    GdalTif, GdalTiffTest,
    ::testing::Values(TifCase{"LittleEndianGrey8", false, false, 1, false, 0},
                      TifCase{"BigEndianGrey8", true, false, 1, false, 0},
                      TifCase{"LittleEndianGrey16Strips2", false, true, 1, false, 2},
                      TifCase{"BigEndianGrey16Strips1", true, true, 1, false, 1},
                      TifCase{"LittleEndianRgb8Strips2", false, false, 3, false, 2},
                      TifCase{"BigEndianRgb8Planar", true, false, 3, true, 2},
                      TifCase{"LittleEndian16Planar", false, true, 3, true, 1},
                      TifCase{"BigEndian16Chunky", true, true, 3, false, 3}),
    [](const ::testing::TestParamInfo<TifCase>& info) { return info.param.name; });

class GdalBmpTest : public ::testing::Test {
 protected:
  void WriteWorldFile(const std::string& name) {
    dir_.WriteFile(name, "2\r\n0\r\n0\r\n-2\r\n1001\r\n1999\r\n");
  }
  GdalView Clip(const std::string& source, const std::string& output) {
    std::vector<std::string> args = kRectangle;
    args.push_back(dir_.Path(source));
    args.push_back(dir_.Path(output));
    const CliResult run = RunClipra(args);
    EXPECT_EQ(run.code, 0) << run.err;
    return ReadWithGdal(dir_, output);
  }
  TempDir dir_;
};

TEST_F(GdalBmpTest, ClipsGdalBitmaps) {
  REQUIRE_GDAL_PYTHON();
  for (int bands : {1, 3}) {
    SCOPED_TRACE(bands);
    ASSERT_TRUE(MakeWithGdal(dir_, "src.bmp", "BMP", bands, false, ""));
    WriteWorldFile("src.bmpw");
    ExpectClip(Clip("src.bmp", "out.tif"), bands, false);
  }
}

TEST_F(GdalBmpTest, ClipsImageMagickBitmaps) {
  REQUIRE_GDAL_PYTHON();
  REQUIRE_TOOL("convert");
  std::string ppm = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int b = 0; b < 3; ++b) ppm += static_cast<char>(SourceValue(x, y, b, false));
  dir_.WriteFile("src.ppm", ppm);
  // A 24-bit image, and an 8-bit one whose palette holds the colours.
  for (const char* options : {"", "+dither -type Palette -compress None"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(RunCommand("convert " + ShellQuote(dir_.Path("src.ppm")) + " " + options +
                         " BMP3:" + ShellQuote(dir_.Path("im.bmp"))),
              0);
    WriteWorldFile("im.bmpw");
    ExpectClip(Clip("im.bmp", "out.tif"), 3, false);
  }
}

TEST_F(GdalBmpTest, GdalReadsBitmapClips) {
  REQUIRE_GDAL_PYTHON();
  for (int bands : {1, 3}) {
    SCOPED_TRACE(bands);
    ASSERT_TRUE(MakeWithGdal(dir_, "src.tif", "GTiff", bands, false, "'TFW=YES'"));
    const GdalView out = Clip("src.tif", "out.bmp");
    ExpectClip(out, bands, false);
    // GDAL takes a world file's numbers as the centre of cell (0, 0).
    ASSERT_EQ(out.geo.size(), 6u);
    EXPECT_EQ(out.geo[0], 1002 - 1);
    EXPECT_EQ(out.geo[3], 2000 + 1);
  }
}

}  // namespace
}  // namespace clipra
