// A source's no-data value fills the cells it does not cover and is declared
// in the output, so that GDAL reads the uncovered cells as missing. Each
// source is 4 x 4 cells of 1 m from (500000, 6200000); each clip takes two
// columns left of it and two inside, so that half its cells are uncovered.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/core/job.h"
#include "dataset/byte_order.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"
#include "support/gdal.h"
#include "support/tools.h"

namespace clipra {
namespace {

double Value(uint32_t x, uint32_t y, uint32_t b) {
  return 10.0 * y + x + 1 + 40.0 * b;
}
// Integer cells drop the quarter; real ones keep it.
double Quarter(uint32_t x, uint32_t y, uint32_t b) {
  return Value(x, y, b) + 0.25;
}

// An ER Mapper source with `null_cell` as its NullCellValue (none when empty).
void WriteErs(const TempDir& dir, const std::string& name, const std::string& cell_type,
              uint32_t bands, const std::string& null_cell) {
  ErsSource s = Grid(4, 4, bands, "1", "1", "500000", "6200000", cell_type);
  s.projection = "\"NUTM33\"";
  WriteSource(dir, name, s, Quarter);
  std::string header = s.HeaderText();
  if (!null_cell.empty())
    header.replace(header.find("\t\tCellInfo Begin"), 0,
                   "\t\tNullCellValue\t= " + null_cell + "\n");
  dir.WriteFile(name + ".ers", header);
}

// A VEG source: one tile of 250 x 250 cells of 1 m whose bottom line lies
// at 6199750, so that its top-left corner is (500000, 6200000). Tile rows are
// stored bottom first.
void WriteVeg(const TempDir& dir) {
  dir.WriteFile("veg.dat", "6199751\r\n500000\r\n1\r\n0\r\n0\r\n");
  std::string tiles(12, '\0');
  write_le<uint32_t>(tiles.data() + 4, 12);
  tiles.resize(12 + 375000);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x)
      write_le<float>(tiles.data() + 12 + (249 - y) * 1500 + x * 6 + 2,
                      static_cast<float>(Quarter(x, y, 0)));
  dir.WriteFile("veg.veg", tiles);
}

TEST(NoData, FillsUncoveredCellsAndIsDeclaredForGdal) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  WriteErs(dir, "f32", "IEEE4ByteReal", 1, "-99999");
  WriteErs(dir, "i16", "Signed16BitInteger", 1, "-32768");
  WriteErs(dir, "u8", "Unsigned8BitInteger", 1, "255");
  WriteErs(dir, "u8far", "Unsigned8BitInteger", 1, "-99999");
  WriteErs(dir, "rgb", "Unsigned8BitInteger", 3, "250");
  WriteErs(dir, "rgb16", "Signed16BitInteger", 3, "-1");
  WriteErs(dir, "nan", "IEEE4ByteReal", 1, "NaN");
  WriteErs(dir, "plain", "Unsigned16BitInteger", 1, "");
  WriteVeg(dir);
  // GDAL's own GeoTIFFs: a compressed float one for libtiff, a plain one for
  // the baseline reader.
  const std::string py = "from osgeo import gdal\nimport os\nos.chdir('" + dir.path() + "')\n";
  ASSERT_TRUE(RunPython(dir, py + "gdal.Translate('g32.tif', 'f32.ers', noData=-99999, "
                                  "creationOptions=['COMPRESS=LZW'])\n"
                                  "gdal.Translate('g8.tif', 'u8.ers', noData=7)\n"));
  const struct {
    const char* source;             // file name in the folder
    const char* output;             // output file name
    std::vector<std::string> fill;  // what uncovered cells hold, one per band
    const char* declared;           // the output's no-data as both read it; "none"
    bool real;                      // covered cells keep the quarter
    const char* ers_line;           // the ER Mapper output's NullCellValue line, or ""
    bool deflate = false;           // written with --compress deflate
  } cases[] = {
      {"f32.ers", "f32.ers", {"-99999"}, "-99999", true, "    NullCellValue = -99999\r\n"},
      {"f32.ers", "f32.tif", {"-99999"}, "-99999", true, ""},
      {"i16.ers", "i16.tif", {"-32768"}, "-32768", false, ""},
      {"f32.ers", "f32z.tif", {"-99999"}, "-99999", true, "", true},
      {"i16.ers", "i16z.tif", {"-32768"}, "-32768", false, "", true},
      {"u8.ers", "u8.tif", {"255"}, "255", false, ""},
      // Out of the cells' range: clamped, as gdal_translate clamps it.
      {"u8far.ers", "u8far.ers", {"0"}, "0", false, "    NullCellValue = 0\r\n"},
      {"u8far.ers", "u8far.tif", {"0"}, "0", false, ""},
      // Three bands keep the background colour, and declare the value still.
      {"rgb.ers", "rgb.tif", {"7", "8", "9"}, "250", false, ""},
      {"rgb16.ers", "rgb16.tif", {"7", "8", "9"}, "-1", false, ""},
      {"nan.ers", "nan.tif", {"nan"}, "nan", true, ""},
      {"g32.tif", "g32.ers", {"-99999"}, "-99999", true, "    NullCellValue = -99999\r\n"},
      {"g8.tif", "g8.ers", {"7"}, "7", false, "    NullCellValue = 7\r\n"},
      {"veg.veg", "veg.ers", {"-9999"}, "-9999", true, "    NullCellValue = -9999\r\n"},
      {"veg.veg", "veg.tif", {"-9999"}, "-9999", true, ""},
      // Without a value: 0, no tag, and the template's line.
      {"plain.ers", "plain.tif", {"0"}, "none", false, ""},
      {"plain.ers", "plain.ers", {"0"}, "0", false, "    NullCellValue = 0\r\n"},
  };
  // GDAL's script prints numbers with "%.15g", which gives what FormatShortest gives here.
  std::string script = py + "def g(v): return 'none' if v is None else '%.15g' % v\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const std::string out = std::string("out_") + c.output;
    std::vector<std::string> args = {"-A499998:6200000:500001:6199997", "-B7:8:9",
                                     dir.Path(c.source), dir.Path(out)};
    if (c.deflate) args.insert(args.begin(), {"--compress", "deflate"});
    const CliResult r = RunClipra(args);
    ASSERT_EQ(r.code, 0) << r.err;
    // The cell-by-cell path writes the same cells.
    ExtractOptions o{499998, 6200000, 500001, 6199997, 0x090807};
    if (c.deflate) o.Compression = TiffCompression::kDeflate;
    AbortRequested = false;
    ExtractJob job(dir.Path(c.source), dir.Path("slow_" + std::string(c.output)), o, nullptr);
    job.CellByCell = true;
    job.Run();
    ASSERT_EQ(job.StatusText, "Successful Finish");
    const std::string data = c.ers_line[0] ? out.substr(0, out.size() - 4) : out;
    EXPECT_EQ(dir.ReadFile("slow_" + data.substr(4)), dir.ReadFile(data));
    if (c.ers_line[0]) {
      EXPECT_NE(dir.ReadFile(out).find(c.ers_line), std::string::npos) << dir.ReadFile(out);
    }
    // The program reads its own output's value back.
    Source back;
    ASSERT_TRUE(back.Open(dir.Path(out)));
    EXPECT_EQ(c.declared, back.NoData() ? FormatShortest(*back.NoData()) : "none");
    script += "ds = gdal.Open('" + out + "')\nprint(g(ds.GetRasterBand(1).GetNoDataValue()), " +
              "*[g(float(x)) for b in range(ds.RasterCount) " +
              "for x in ds.GetRasterBand(b + 1).ReadAsArray().flatten()])\n";
  }
  std::string text;
  ASSERT_TRUE(RunPython(dir, script, &text));
  std::istringstream in(text);
  for (const auto& c : cases) {
    std::string want = c.declared, got;
    for (uint32_t b = 0; b < c.fill.size(); ++b)
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
          want +=
              " " + (x < 2 ? c.fill[b] : FormatShortest((c.real ? Quarter : Value)(x - 2, y, b)));
    std::getline(in, got);
    EXPECT_EQ(want, got) << c.output;
  }
}

}  // namespace
}  // namespace clipra
