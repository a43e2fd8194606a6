// Rasters made by GDAL and ImageMagick are clipped, and GDAL reads the clips
// back: the cells follow the nearest-cell rule (ties to even, the background
// outside the source) and the origin is the rectangle's first corner.
#include <cmath>
#include <sstream>

#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

double Value(uint32_t x, uint32_t y, uint32_t b) {
  return (x * 7 + y * 13 + b * 50 + 1) % 256;
}

struct Row {
  const char* name;
  // "GTiff", "BMP" or "ERS" write the source through GDAL (with `options`),
  // "convert" through ImageMagick (with `options` too).
  const char* maker;
  const char* options;
  int bands;
  const char* type;  // GDAL's cell type; UInt16 cells spread the values over 16 bits
  const char* output;
  // 7 x 5 cells of 2 from (1000, 2000) by default, where this rectangle puts
  // every output cell half-way between two source cells.
  double cell_x = 2, cell_y = 2;
  double tlx = 1002, tly = 2000, brx = 1016, bry = 1988;
};

class GdalInteropTest : public ::testing::TestWithParam<Row> {
 protected:
  TempDir dir_;
};

TEST_P(GdalInteropTest, ClipsAndGdalReadsTheClip) {
  REQUIRE_GDAL_PYTHON();
  const Row& k = GetParam();
  if (std::string(k.output).ends_with(".tif")) REQUIRE_TOOL("tiffinfo");
  const bool ers = std::string(k.maker) == "ERS";
  const int w = ers ? 12 : 7, h = ers ? 9 : 5;
  const double ox = 1000, oy = ers ? 5000 : 2000;
  const bool sixteen = std::string(k.type) == "UInt16" && !ers;
  const std::string src = ers ? "src.ers" : std::string(k.maker) == "GTiff" ? "src.tif" : "src.bmp";
  if (std::string(k.maker) == "convert") {
    REQUIRE_TOOL("convert");
    dir_.WriteFile("src.ppm", MakePnm(w, h, 3, Value));
    ASSERT_EQ(0, RunCommand("convert " + ShellQuote(dir_.Path("src.ppm")) + " " + k.options +
                            " BMP3:" + ShellQuote(dir_.Path(src))));
  } else {
    std::ostringstream py;
    py << "from osgeo import gdal\nimport struct\n"
       << "ds = gdal.GetDriverByName('" << k.maker << "').Create('" << dir_.Path(src) << "', " << w
       << ", " << h << ", " << k.bands << ", gdal.GDT_" << k.type << ", ["
       << (std::string(k.maker) == "GTiff" ? "'TFW=YES', " : "") << k.options << "])\n"
       << "ds.SetGeoTransform((" << ox << ", " << k.cell_x << ", 0, " << oy << ", 0, " << -k.cell_y
       << "))\n"
       << "fmt = {'Byte': 'B', 'Int16': 'h', 'UInt16': 'H', 'Int32': 'i', 'Float32': 'f'}['"
       << k.type << "']\n"
       << "for b in range(" << k.bands << "):\n"
       << "  v = [(x * 7 + y * 13 + b * 50 + 1) % 256" << (sixteen ? " * 251 + b" : "")
       << " for y in range(" << h << ") for x in range(" << w << ")]\n"
       << "  ds.GetRasterBand(b + 1).WriteRaster(0, 0, " << w << ", " << h
       << ", struct.pack('<%d%s' % (len(v), fmt), *v))\n";
    ASSERT_TRUE(RunPython(dir_, py.str()));
  }
  if (src == "src.bmp") dir_.WriteFile("src.bmpw", "2\r\n0\r\n0\r\n-2\r\n1001\r\n1999\r\n");

  std::ostringstream rect;
  rect << "-A" << k.tlx << ":" << k.tly << ":" << k.brx << ":" << k.bry;
  const CliResult run = RunClipra({rect.str(), "-B7:8:9", dir_.Path(src), dir_.Path(k.output)});
  ASSERT_EQ(run.code, 0) << run.err;
  const GdalView out = ReadWithGdal(dir_, k.output);
  // GDAL takes a world file's numbers as the centre of cell (0, 0).
  const double half = std::string(k.output).ends_with(".bmp") ? k.cell_x / 2 : 0;
  EXPECT_EQ(out.geo, (std::vector<double>{k.tlx - half, k.cell_x, 0, k.tly + half, 0, -k.cell_x}));
  const int ow = static_cast<int>(std::trunc(std::fabs(k.brx - k.tlx) / k.cell_x)) + 1;
  const int oh = static_cast<int>(std::trunc(std::fabs(k.bry - k.tly) / k.cell_x)) + 1;
  ASSERT_EQ(ow, out.width);
  ASSERT_EQ(oh, out.height);
  ASSERT_EQ(k.bands, out.bands);
  ASSERT_EQ(static_cast<size_t>(ow * oh * k.bands), out.cells.size());
  for (int b = 0; b < k.bands; ++b)
    for (int y = 0; y < oh; ++y)
      for (int x = 0; x < ow; ++x) {
        const double mx = static_cast<double>(static_cast<long double>(x) * k.cell_x + k.tlx);
        const double my = static_cast<double>(k.tly - static_cast<long double>(y) * k.cell_x);
        uint32_t col = 0, row = 0;
        double want = k.bands == 3 ? 7 + b : 0;
        if (MapToIndex(mx, ox, k.cell_x, +1, col) && col < static_cast<uint32_t>(w) &&
            MapToIndex(my, oy, k.cell_y, -1, row) && row < static_cast<uint32_t>(h))
          want = Value(col, row, b) * (sixteen ? 251 : 1) + (sixteen ? b : 0);
        ASSERT_EQ(want, out.cells[(b * oh + y) * ow + x])
            << "band " << b << " at " << x << "," << y;
      }
  if (std::string(k.output).ends_with(".tif")) {
    std::string report;
    EXPECT_EQ(RunCommand("tiffinfo " + ShellQuote(dir_.Path(k.output)) + " 2>&1", &report), 0);
    EXPECT_EQ(report.find("rror"), std::string::npos) << report;
  }
}

const Row kRows[] = {
    {"LittleEndianGrey8", "GTiff", "'ENDIANNESS=LITTLE'", 1, "Byte", "out.tif"},
    {"BigEndianGrey8", "GTiff", "'ENDIANNESS=BIG'", 1, "Byte", "out.tif"},
    {"LittleEndianGrey16Strips2", "GTiff", "'ENDIANNESS=LITTLE', 'BLOCKYSIZE=2'", 1, "UInt16",
     "out.tif"},
    {"BigEndianGrey16Strips1", "GTiff", "'ENDIANNESS=BIG', 'BLOCKYSIZE=1'", 1, "UInt16", "out.tif"},
    {"LittleEndianRgb8Strips2", "GTiff", "'ENDIANNESS=LITTLE', 'BLOCKYSIZE=2'", 3, "Byte",
     "out.tif"},
    {"BigEndianRgb8Planar", "GTiff", "'ENDIANNESS=BIG', 'INTERLEAVE=BAND', 'BLOCKYSIZE=2'", 3,
     "Byte", "out.tif"},
    {"LittleEndian16Planar", "GTiff", "'ENDIANNESS=LITTLE', 'INTERLEAVE=BAND', 'BLOCKYSIZE=1'", 3,
     "UInt16", "out.tif"},
    {"BigEndian16Chunky", "GTiff", "'ENDIANNESS=BIG', 'BLOCKYSIZE=3'", 3, "UInt16", "out.tif"},
    {"GdalGreyBitmap", "BMP", "", 1, "Byte", "out.tif"},
    {"GdalRgbBitmap", "BMP", "", 3, "Byte", "out.tif"},
    {"ImageMagickRgbBitmap", "convert", "", 3, "Byte", "out.tif"},
    {"ImageMagickPaletteBitmap", "convert", "+dither -type Palette -compress None", 3, "Byte",
     "out.tif"},
    {"GreyBitmapClip", "GTiff", "", 1, "Byte", "out.bmp"},
    {"RgbBitmapClip", "GTiff", "", 3, "Byte", "out.bmp"},
    // ER Mapper files of 12 x 9 cells from (1000, 5000).
    {"ErsTiesBackgroundRight", "ERS", "", 3, "Byte", "out.ers", 10, 10, 1015, 4985, 1105, 4905},
    {"ErsStartsOutsideTopLeft", "ERS", "", 1, "Byte", "out.ers", 10, 10, 995, 5005, 1040, 4960},
    {"ErsNonSquareCells", "ERS", "", 1, "Int16", "out.ers", 10, 5, 1000, 5000, 1090, 4900},
    {"ErsUInt16", "ERS", "", 2, "UInt16", "out.ers", 2.5, 2.5, 1001, 4999, 1020, 4980},
    {"ErsReversedCorners", "ERS", "", 1, "Int32", "out.ers", 10, 10, 1090, 4910, 1000, 5000},
    // GDAL names the cells "IEEE4ByteReal", and opens no other name for them.
    {"ErsFloat", "ERS", "", 1, "Float32", "out.ers", 10, 10, 1005, 4995, 1050, 4950},
};

INSTANTIATE_TEST_SUITE_P(Gdal, GdalInteropTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return i.param.name; });

}  // namespace
}  // namespace clipra
