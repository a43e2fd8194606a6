// TIFF outputs past the uncompressed single strip: compressed tiles through
// libtiff and BigTIFF, checked against GDAL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/identify.h"
#include "dataset/output.h"
#include "formats/image/tiff.h"
#include "support/ers_builder.h"
#include "support/gdal.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// Noise in -0.5..0.5 that is the same on every run.
double Noise(uint32_t x, uint32_t y, uint32_t b) {
  uint32_t h = x * 73856093u ^ y * 19349663u ^ b * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return (h & 1023) / 1023.0 - 0.5;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Smooth gradients with noise, as elevations and photos are, over edge
// tiles on both sides: each codec's output holds the uncompressed output's
// cells for GDAL and for our reader, with the same EPSG and world file, in
// fewer bytes.
TEST(TiffOutputs, CompressedTilesHoldTheUncompressedCells) {
  REQUIRE_GDAL_PYTHON();
  struct {
    const char* cell_type;
    uint32_t bands;
    const char* gdal_type;
    const char* predictor;
    double (*f)(uint32_t, uint32_t, uint32_t);
  } const sources[] = {
      {"Signed16BitInteger", 1, "Int16", "2",
       [](uint32_t x, uint32_t y, uint32_t b) { return x * 7.0 - y * 5.0 + 40 * Noise(x, y, b); }},
      {"IEEE4ByteReal", 1, "Float32", "3",
       [](uint32_t x, uint32_t y, uint32_t b) {
         return 100 + x * 0.37 + y * 0.21 + 2 * Noise(x, y, b);
       }},
      {"Unsigned8BitInteger", 3, "Byte", "2",
       [](uint32_t x, uint32_t y, uint32_t b) {
         return 20 + (x + y) / 3.0 + 40 * b + 20 * Noise(x, y, b);
       }},
  };
  const char* const codecs[][2] = {{"lzw", "LZW"}, {"deflate", "DEFLATE"}, {"zstd", "ZSTD"}};
  TempDir dir;
  std::ostringstream py;
  py << "from osgeo import gdal\nimport numpy\n"
     << "def show(u, c):\n"
     << "  a, b = gdal.Open(u), gdal.Open(c)\n"
     << "  s = b.GetMetadata('IMAGE_STRUCTURE')\n"
     << "  same = a.ReadAsArray().tolist() == b.ReadAsArray().tolist()\n"
     << "  print(b.GetSpatialRef().GetAuthorityCode(None), s.get('COMPRESSION'), "
        "s.get('PREDICTOR'), b.GetRasterBand(1).GetBlockSize(), "
        "gdal.GetDataTypeName(b.GetRasterBand(1).DataType), same, "
        "a.GetGeoTransform() == b.GetGeoTransform())\n";
  for (size_t i = 0; i < std::size(sources); ++i) {
    ErsSource s;
    s.width = 300;
    s.lines = 270;
    s.bands = sources[i].bands;
    s.cell_type = sources[i].cell_type;
    s.cell_size_x = s.cell_size_y = "2";
    s.eastings = "500000";
    s.northings = "6200000";
    s.projection = "\"NUTM33\"";
    s.data = MakeCells(s, sources[i].f);
    const std::string name = "s" + std::to_string(i);
    s.Write(dir.Path(name));
    // From the third column and line to one past the source's last.
    const std::string rect = "-A500004:6199996:500600:6199460";
    const CliResult u = RunClipra({rect, dir.Path(name + ".ers"), dir.Path(name + "u.tif")});
    ASSERT_EQ(u.code, 0) << u.err;
    const std::vector<float> cells = ReadAllCells(dir.Path(name + "u.tif"));
    for (const auto& codec : codecs) {
      const std::string out = name + codec[0];
      SCOPED_TRACE(out);
      const CliResult c = RunClipra(
          {"--compress", codec[0], rect, dir.Path(name + ".ers"), dir.Path(out + ".tif")});
      ASSERT_EQ(c.code, 0) << c.err;
      EXPECT_EQ(ReadAllCells(dir.Path(out + ".tif")), cells);
      EXPECT_LT(std::filesystem::file_size(dir.Path(out + ".tif")),
                std::filesystem::file_size(dir.Path(name + "u.tif")));
      EXPECT_EQ(dir.ReadFile(out + ".tfw"), dir.ReadFile(name + "u.tfw"));
      py << "show('" << dir.Path(name + "u.tif") << "', '" << dir.Path(out + ".tif") << "')\n";
    }
  }
  // Nothing is left of the scratch files.
  for (const std::string& f : FilesIn(dir.path())) EXPECT_EQ(f.find(".part"), std::string::npos);
  std::string shown;
  ASSERT_TRUE(RunPython(dir, py.str(), &shown));
  std::istringstream lines(shown);
  for (const auto& source : sources)
    for (const auto& codec : codecs) {
      std::string line;
      std::getline(lines, line);
      EXPECT_EQ(line, std::string("32633 ") + codec[1] + " " + source.predictor + " [256, 256] " +
                          source.gdal_type + " True True")
          << source.cell_type;
    }
}

// The scratch file goes with the writer: a finished writer leaves its TIFF
// only, a stopped or unfinished one nothing.
TEST(TiffOutputs, CompressedWriterLeavesOnlyAFinishedFile) {
  struct {
    bool finish;
    bool stop;
    bool finished;
    std::vector<std::string> files;
  } const cases[] = {
      {true, false, true, {"o.tif"}},
      {true, true, false, {}},
      {false, false, false, {}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    {
      TiffWriter w(dir.Path("o.tif"), 600, 300, kCellUnsigned16, 1, 1, TiffCompression::kDeflate);
      ASSERT_TRUE(w.SetCell(599, 299, 0, 7));
      if (c.finish) {
        EXPECT_EQ(w.Finish([&] { return c.stop; }), c.finished);
      }
    }
    EXPECT_EQ(FilesIn(dir.path()), c.files) << c.finish << c.stop;
    if (c.finished) {
      TiffReader r;
      ASSERT_TRUE(r.Open(dir.Path("o.tif"))) << r.ErrorText;
      float v = 0;
      EXPECT_TRUE(r.GetCell(599, 299, 0, v));
      EXPECT_EQ(v, 7);
    }
  }
}

TEST(TiffOutputs, RefusesCompressionItCannotWrite) {
  TempDir dir;
  ErsSource s;
  s.Write(dir.Path("s"));
  const std::string source = dir.Path("s.ers");
  struct {
    std::vector<std::string> args;
    std::string message;
  } const cases[] = {
      {{"--compress", "jpeg", "-A0:0:0:0", source, dir.Path("o.tif")},
       "--compress takes lzw, deflate or zstd, not jpeg"},
      {{"--compress", "lzw", "-A0:0:0:0", source, dir.Path("o.ers")},
       "--compress goes with TIFF outputs only: " + dir.Path("o.ers")},
      {{"-A0:0:0:0", source, dir.Path("o.tif"), "--compress"}, "--compress needs a value"},
  };
  for (const auto& c : cases) {
    const CliResult r = RunClipra(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "clipra-cli: " + c.message);
  }
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"s", "s.ers"}));
}

// An output past 4 GiB is BigTIFF, with the same tags: a grey, a colour and
// a float one (with SampleFormat), each past 4 GiB by a little. Only the far
// corner is set, so the files stay sparse on disk, but their room is
// reserved.
TEST(TiffOutputs, OutputsPastFourGiBAreBigTiffsThatGdalReads) {
  REQUIRE_GDAL_PYTHON();
  struct {
    uint32_t side;
    uint8_t cell_type;
    int32_t bands;
    const char* gdal;  // type, then the 2 x 2 corner of each band
    float last;        // the last cell
  } const cases[] = {
      {46400, kCellUnsigned16, 1, "UInt16 [[[0, 0], [0, 200]]]", 200},
      {37900, kCellUnsigned8, 3,
       "Byte [[[0, 0], [0, 200]], [[0, 0], [0, 210]], [[0, 0], [0, 220]]]", 220},
      {32800, kCellFloat32, 1, "Float32 [[[0.0, 0.0], [0.0, 200.5]]]", 200.5},
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
      out.SetGeoreference({2, 2, 0, 0, 400000, 6200000, "WGS84", "WGS84", "NUTM33"});
      for (int32_t b = 0; b < c.bands; ++b)
        ASSERT_TRUE(out.PutValue(c.side - 1, c.side - 1, b, 200.5 + 10 * b));
      out.Finish();
    }
    char magic[4] = {};
    std::ifstream(dir.Path("big.tif"), std::ios::binary).read(magic, 4);
    EXPECT_EQ(std::string(magic, 4), std::string("II\x2b\0", 4));
    const std::string corner = std::to_string(c.side - 2);
    std::string shown;
    ASSERT_TRUE(RunPython(dir,
                          "from osgeo import gdal\nds = gdal.Open('" + dir.Path("big.tif") +
                              "')\nprint(ds.RasterXSize, ds.GetSpatialRef().GetAuthorityCode(None),"
                              " ds.GetGeoTransform(), "
                              "gdal.GetDataTypeName(ds.GetRasterBand(1).DataType), "
                              "[ds.GetRasterBand(b + 1).ReadAsArray(" +
                              corner + ", " + corner +
                              ", 2, 2).tolist() for b in range(ds.RasterCount)])\n",
                          &shown));
    EXPECT_EQ(shown, std::to_string(c.side) + " 32633 (400000.0, 2.0, 0.0, 6200000.0, 0.0, -2.0) " +
                         c.gdal + "\n");
    TiffReader back;
    ASSERT_TRUE(back.Open(dir.Path("big.tif"))) << back.ErrorText;
    float v = 0;
    EXPECT_TRUE(back.GetCell(c.side - 1, c.side - 1, c.bands - 1, v));
    EXPECT_EQ(v, c.last);
  }
}

}  // namespace
}  // namespace clipra
