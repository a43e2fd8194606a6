// TIFF outputs beyond one uncompressed strip: the scratch file of compressed
// tiles, and BigTIFF checked against GDAL. GDAL reads compressed outputs in
// gdal_interop_test.cpp.
#include <filesystem>
#include <iterator>

#include "formats/image/tiff.h"
#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

size_t FilesIn(const std::string& folder) {
  const std::filesystem::directory_iterator files(folder);
  return static_cast<size_t>(std::distance(begin(files), end(files)));
}

// The scratch file is never seen: a finished writer leaves its TIFF only, a
// stopped or unfinished one nothing.
TEST(TiffOutputs, CompressedWriterLeavesOnlyAFinishedFile) {
  for (const int finish : {0, 1, 2}) {  // not at all, stopped, to the end
    TempDir dir;
    {
      TiffWriter w(dir.Path("o.tif"), 600, 300, CellType::kUnsigned16, 1, 1,
                   TiffCompression::kDeflate);
      EXPECT_EQ(FilesIn(dir.path()), 0u);  // the scratch file has no name
      if (finish > 0) {
        EXPECT_EQ(w.Finish([&] { return finish == 1; }), finish == 2);
      }
    }
    EXPECT_EQ(FilesIn(dir.path()), finish == 2 ? 1u : 0u) << finish;
  }
}

// An output past 4 GiB is BigTIFF with the same tags: a grey, a colour and a
// float one (with SampleFormat). Only the far corner is set, so the files
// stay sparse, but their room is reserved on disk.
TEST(TiffOutputs, OutputsPastFourGiBAreBigTiffsThatGdalReads) {
  REQUIRE_GDAL_PYTHON();
  struct {
    uint32_t side;
    CellType cell_type;
    int32_t bands;
    const char* gdal;  // type, then the 2 x 2 corner of each band, then no-data
    double no_data = 0;
  } const cases[] = {
      {46400, CellType::kUnsigned16, 1, "UInt16 [[[0, 0], [0, 200]]] None"},
      {37900, CellType::kUnsigned8, 3,
       "Byte [[[0, 0], [0, 200]], [[0, 0], [0, 210]], [[0, 0], [0, 220]]] None"},
      {32800, CellType::kFloat32, 1, "Float32 [[[0.0, 0.0], [0.0, 200.5]]] -99999.0", -99999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    const uint64_t bytes = uint64_t{c.side} * c.side * c.bands * CellTypeSize(c.cell_type);
    TempDir dir;
    const std::filesystem::space_info room = std::filesystem::space(dir.path());
    if (room.available < bytes + (uint64_t{1} << 30))
      GTEST_SKIP() << "a BigTIFF output needs " << (bytes >> 30) + 2 << " GiB free in "
                   << dir.path() << ", which has " << (room.available >> 30) << " GiB";
    {
      Output out(dir.Path("big.tif"), c.side, c.side, c.cell_type, c.bands, 1);
      if (c.no_data != 0) out.SetNoData(c.no_data);
      out.SetGeoreference({2, 2, 0, 0, 400000, 6200000, "WGS84", "WGS84", "NUTM33"});
      for (int32_t b = 0; b < c.bands; ++b)
        ASSERT_TRUE(out.PutValue(c.side - 1, c.side - 1, b, 200.5 + 10 * b));
    }
    std::string shown;
    ASSERT_TRUE(RunPython(dir, R"(from osgeo import gdal
import os
f = os.path.join(os.path.dirname(__file__), 'big.tif')
ds = gdal.Open(f)
at, b = ds.RasterXSize - 2, ds.GetRasterBand(1)
print(open(f, 'rb').read(4), ds.RasterXSize, ds.GetSpatialRef().GetAuthorityCode(None),
      ds.GetGeoTransform(), gdal.GetDataTypeName(b.DataType), [ds.GetRasterBand(i + 1).ReadAsArray(
      at, at, 2, 2).tolist() for i in range(ds.RasterCount)], b.GetNoDataValue(), repr(gdal.GetLastErrorMsg()))
)",
                          &shown));
    EXPECT_EQ(shown, "b'II+\\x00' " + std::to_string(c.side) +
                         " 32633 (400000.0, 2.0, 0.0, 6200000.0, 0.0, -2.0) " + c.gdal + " ''\n");
  }
}

}  // namespace
}  // namespace clipra
