// TIFF outputs beyond one uncompressed strip: compressed tiles through
// libtiff, and BigTIFF, checked against GDAL.
#include <filesystem>
#include <iterator>
#include <sstream>
#include <tuple>

#include "formats/image/tiff.h"
#include "support/app_fixtures.h"
#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

// Noise in -0.5..0.5 that is the same on every run.
double Noise(uint32_t x, uint32_t y, uint32_t b) {
  uint32_t h = x * 73856093u ^ y * 19349663u ^ b * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return ((h ^ h >> 15) & 1023) / 1023.0 - 0.5;
}

size_t FilesIn(const std::string& folder) {
  const std::filesystem::directory_iterator files(folder);
  return static_cast<size_t>(std::distance(begin(files), end(files)));
}

// Gradients with noise, as elevations and photos are, cut across edge tiles:
// each codec's output holds the uncompressed output's cells for GDAL and for
// our reader, with its EPSG and world file, in fewer bytes. Other values,
// and other outputs, are refused before anything is written.
TEST(TiffOutputs, CompressedTilesHoldTheUncompressedCells) {
  REQUIRE_GDAL_PYTHON();
  struct {
    const char* cell_type;
    uint32_t bands;
    const char* gdal;  // type and predictor
    double (*f)(uint32_t, uint32_t, uint32_t);
  } const sources[] = {
      {"Signed16BitInteger", 1, "Int16 2",
       [](uint32_t x, uint32_t y, uint32_t b) { return x * 7.0 - y * 5.0 + 40 * Noise(x, y, b); }},
      {"IEEE4ByteReal", 1, "Float32 3",
       [](uint32_t x, uint32_t y, uint32_t b) { return x * 0.37 + y * 0.21 + 2 * Noise(x, y, b); }},
      {"Unsigned8BitInteger", 3, "Byte 2",
       [](uint32_t x, uint32_t y, uint32_t b) {
         return (x + y) / 3.0 + 40 * b + 20 * Noise(x, y, b);
       }},
  };
  const char* const codecs[][2] = {{"lzw", "LZW"}, {"deflate", "DEFLATE"}, {"zstd", "ZSTD"}};
  const std::string rect = "-A2:-2:300:-270";  // one past the last cells
  TempDir dir;
  std::ostringstream py, expected;
  py << "from osgeo import gdal\ndef show(u, c):\n  a, b = gdal.Open(u), gdal.Open(c)\n"
     << "  s, band = b.GetMetadata('IMAGE_STRUCTURE'), b.GetRasterBand(1)\n"
     << "  print(b.GetSpatialRef().GetAuthorityCode(None), s['COMPRESSION'], band.GetBlockSize(),"
     << " gdal.GetDataTypeName(band.DataType), s['PREDICTOR'], a.GetGeoTransform() == "
     << "b.GetGeoTransform(), a.ReadAsArray().tolist() == b.ReadAsArray().tolist())\n";
  for (size_t i = 0; i < std::size(sources); ++i) {
    // In SUTM33 from (0, 0), 1 m cells.
    WriteSource(dir, "s" + std::to_string(i),
                Grid(300, 270, sources[i].bands, "1", "1", "0", "0", sources[i].cell_type),
                sources[i].f);
    const std::string name = dir.Path("s" + std::to_string(i));
    ASSERT_EQ(RunClipra({rect, name + ".ers", name + "u.tif"}).code, 0);
    for (const auto& codec : codecs) {
      const std::string out = name + codec[0];
      const CliResult c = RunClipra({"--compress", codec[0], rect, name + ".ers", out + ".tif"});
      ASSERT_EQ(c.code, 0) << c.err;
      EXPECT_EQ(ReadAllCells(out + ".tif"), ReadAllCells(name + "u.tif")) << out;
      EXPECT_LT(std::filesystem::file_size(out + ".tif"),
                std::filesystem::file_size(name + "u.tif"));
      EXPECT_EQ(dir.ReadFile(out + ".tfw"), dir.ReadFile(name + "u.tfw")) << out;
      py << "show('" << name << "u.tif', '" << out << ".tif')\n";
      expected << "32733 " << codec[1] << " [256, 256] " << sources[i].gdal << " True True\n";
    }
  }
  std::string shown;
  ASSERT_TRUE(RunPython(dir, py.str(), &shown));
  EXPECT_EQ(shown, expected.str());

  // Nothing is left of the scratch files, and refused options write nothing.
  const size_t files = FilesIn(dir.path());
  EXPECT_EQ(files, std::size(sources) * 10 + 1);  // source, header, 4 TIFFs, 4 .tfw; script.py
  const std::string source = dir.Path("s0.ers");
  for (const auto& [value, output, message] :
       {std::tuple{"jpeg", "o.tif", "--compress takes lzw, deflate or zstd, not jpeg"},
        std::tuple{"lzw", "o.ers", "--compress goes with TIFF outputs only: "}}) {
    const CliResult c = RunClipra({"--compress", value, rect, source, dir.Path(output)});
    EXPECT_EQ(c.code, 2);
    EXPECT_EQ(c.err.rfind(std::string("clipra-cli: ") + message, 0), 0u) << c.err;
  }
  EXPECT_EQ(FilesIn(dir.path()), files);
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
    const std::string at = std::to_string(c.side - 2);
    std::string shown;
    ASSERT_TRUE(
        RunPython(dir,
                  "from osgeo import gdal\nf = '" + dir.Path("big.tif") +
                      "'\nds = gdal.Open(f)\nprint(open(f, 'rb').read(4), ds.RasterXSize, "
                      "ds.GetSpatialRef().GetAuthorityCode(None),"
                      " ds.GetGeoTransform(), gdal.GetDataTypeName(ds.GetRasterBand(1)."
                      "DataType), [ds.GetRasterBand(b + 1).ReadAsArray(" +
                      at + ", " + at +
                      ", 2, 2).tolist() for b in range(ds.RasterCount)], "
                      "ds.GetRasterBand(1).GetNoDataValue(), repr(gdal.GetLastErrorMsg()))\n",
                  &shown));
    EXPECT_EQ(shown, "b'II+\\x00' " + std::to_string(c.side) +
                         " 32633 (400000.0, 2.0, 0.0, 6200000.0, 0.0, -2.0) " + c.gdal + " ''\n");
  }
}

}  // namespace
}  // namespace clipra
