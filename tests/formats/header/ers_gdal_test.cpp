// ER Mapper files made by GDAL are clipped, and GDAL reads the clips back:
// the cells follow the nearest-cell rule and the origin is the rectangle's
// top-left corner.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "dataset/source.h"
#include "support/gdal.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

int Value(int x, int y, int b) {
  return (x * 3 + y * 7 + b * 50) % 200;
}

// Writes an ER Mapper raster with GDAL's own driver.
void MakeGdalErs(const TempDir& dir, const std::string& name, int w, int h, int bands,
                 const std::string& type, double cell_x, double cell_y) {
  std::ostringstream py;
  py << "from osgeo import gdal\n"
     << "import struct\n"
     << "ds = gdal.GetDriverByName('ERS').Create('" << dir.Path(name) << "', " << w << ", " << h
     << ", " << bands << ", gdal." << type << ")\n"
     << "ds.SetGeoTransform((1000, " << cell_x << ", 0, 5000, 0, " << -cell_y << "))\n"
     << "fmt = {'GDT_Byte': 'B', 'GDT_Int16': 'h', 'GDT_UInt16': 'H', 'GDT_Int32': 'i',\n"
     << "       'GDT_Float32': 'f'}['" << type << "']\n"
     << "for b in range(" << bands << "):\n"
     << "  vals = [(x * 3 + y * 7 + b * 50) % 200 for y in range(" << h << ") for x in range(" << w
     << ")]\n"
     << "  ds.GetRasterBand(b + 1).WriteRaster(0, 0, " << w << ", " << h
     << ", struct.pack('<%d%s' % (len(vals), fmt), *vals))\n"
     << "ds = None\n";
  ASSERT_TRUE(RunPython(dir, py.str()));
}

// The nearest source index, ties to even, or -1 outside.
int Nearest(double map, double origin, double cell, int sign, int count) {
  uint32_t index = 0;
  if (!MapToIndex(map, origin, cell, sign, index) || index >= static_cast<uint32_t>(count))
    return -1;
  return static_cast<int>(index);
}

struct Case {
  const char* type;
  int bands;
  double cell_x, cell_y;
  double tlx, tly, brx, bry;
};

TEST(GdalErs, GdalSourcesClipToNearestCellsAndGdalReadsTheClips) {
  REQUIRE_TOOL("gdalinfo");
  REQUIRE_GDAL_PYTHON();
  const Case cases[] = {
      {"GDT_Byte", 3, 10, 10, 1015, 4985, 1105, 4905},  // ties, background on the right
      {"GDT_Byte", 1, 10, 10, 995, 5005, 1040, 4960},   // starts outside the top-left
      {"GDT_Int16", 1, 10, 5, 1000, 5000, 1090, 4900},  // non-square source cells
      {"GDT_UInt16", 2, 2.5, 2.5, 1001, 4999, 1020, 4980},
      {"GDT_Int32", 1, 10, 10, 1090, 4910, 1000, 5000},  // reversed corners
      // GDAL names the cells "IEEE4ByteReal", and opens no other name for them.
      {"GDT_Float32", 1, 10, 10, 1005, 4995, 1050, 4950},
  };
  int n = 0;
  for (const Case& k : cases) {
    TempDir dir;
    const int w = 12, h = 9;
    MakeGdalErs(dir, "src.ers", w, h, k.bands, k.type, k.cell_x, k.cell_y);
    std::ostringstream rect;
    rect << "-A" << k.tlx << ":" << k.tly << ":" << k.brx << ":" << k.bry;
    const CliResult r =
        RunClipra({rect.str(), "-B7:8:9", dir.Path("src.ers"), dir.Path("out.ers")});
    ASSERT_EQ(0, r.code) << r.err;
    const GdalView out = ReadWithGdal(dir, "out.ers");
    SCOPED_TRACE(std::string(k.type) + " case " + std::to_string(n++));
    ASSERT_EQ(6u, out.geo.size());
    EXPECT_EQ(k.tlx, out.geo[0]);
    EXPECT_EQ(k.tly, out.geo[3]);
    EXPECT_EQ(k.cell_x, out.geo[1]);
    EXPECT_EQ(-k.cell_x, out.geo[5]);
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
          const int col = Nearest(mx, 1000, k.cell_x, +1, w);
          const int row = Nearest(my, 5000, k.cell_y, -1, h);
          double want = col >= 0 && row >= 0 ? Value(col, row, b) : 0;
          if ((col < 0 || row < 0) && k.bands == 3) want = 7 + b;
          ASSERT_EQ(want, out.cells[(b * oh + y) * ow + x])
              << "band " << b << " at " << x << "," << y;
        }
  }
}

}  // namespace
}  // namespace clipra
