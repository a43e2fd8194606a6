// A source's no-data value fills the cells it does not cover and is declared
// in the output, so that GDAL reads the uncovered cells as missing. Each
// source is 4 x 4 cells of 1 m from (500000, 6200000); each clip takes two
// columns left of it and two inside, so that half its cells are uncovered.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/job.h"
#include "dataset/byte_order.h"
#include "dataset/source.h"
#include "support/ers_builder.h"
#include "support/gdal.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

constexpr double kNone = 1e300;  // a row that expects no declared value

double Value(uint32_t x, uint32_t y, uint32_t b) {
  return 10.0 * y + x + 1 + 40.0 * b;
}

// An ER Mapper source with `null_cell` as its NullCellValue (none when empty).
void WriteErs(const TempDir& dir, const std::string& name, const std::string& cell_type,
              uint32_t bands, const std::string& null_cell, double offset) {
  ErsSource s;
  s.width = 4;
  s.lines = 4;
  s.bands = bands;
  s.cell_type = cell_type;
  s.eastings = "500000";
  s.northings = "6200000";
  s.datum = "\"WGS84\"";
  s.projection = "\"NUTM33\"";
  static double shift = 0;
  shift = offset;
  s.data = MakeCells(s, [](uint32_t x, uint32_t y, uint32_t b) { return Value(x, y, b) + shift; });
  s.Write(dir.Path(name));
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
                      static_cast<float>(Value(x, y, 0) + 0.5));
  dir.WriteFile("veg.veg", tiles);
}

struct Case {
  const char* source;    // file name in the folder
  const char* output;    // output file name
  const char* fill;      // what uncovered cells hold, per band ("-99999", "nan")
  double declared;       // what GDAL reads as the output's no-data; kNone for none
  double offset;         // covered cells hold Value(x, y, b) + offset
  const char* ers_line;  // the ER Mapper output's NullCellValue line, or ""
  bool deflate = false;  // written with --compress deflate
};

std::optional<double> Number(const std::string& token) {
  double v = 0;
  const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
  if (r.ec != std::errc() || r.ptr != token.data() + token.size()) return std::nullopt;
  return v;
}

bool Same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

TEST(NoData, FillsUncoveredCellsAndIsDeclaredForGdal) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  WriteErs(dir, "f32", "IEEE4ByteReal", 1, "-99999", 0.25);
  WriteErs(dir, "i16", "Signed16BitInteger", 1, "-32768", 0);
  WriteErs(dir, "u8", "Unsigned8BitInteger", 1, "255", 0);
  WriteErs(dir, "u8far", "Unsigned8BitInteger", 1, "-99999", 0);
  WriteErs(dir, "rgb", "Unsigned8BitInteger", 3, "250", 0);
  WriteErs(dir, "rgb16", "Signed16BitInteger", 3, "-1", 0);
  WriteErs(dir, "nan", "IEEE4ByteReal", 1, "NaN", 0.25);
  WriteErs(dir, "plain", "Unsigned16BitInteger", 1, "", 0);
  WriteVeg(dir);
  // GDAL's own GeoTIFFs: a compressed float one for libtiff, a plain one for
  // the baseline reader.
  ASSERT_TRUE(RunPython(dir, "from osgeo import gdal\nimport os\nos.chdir('" + dir.path() +
                                 "')\n"
                                 "gdal.Translate('g32.tif', 'f32.ers', noData=-99999, "
                                 "creationOptions=['COMPRESS=LZW'])\n"
                                 "gdal.Translate('g8.tif', 'u8.ers', noData=7)\n"));
  const Case cases[] = {
      {"f32.ers", "f32.ers", "-99999", -99999, 0.25, "    NullCellValue = -99999\r\n"},
      {"f32.ers", "f32.tif", "-99999", -99999, 0.25, ""},
      {"i16.ers", "i16.tif", "-32768", -32768, 0, ""},
      {"f32.ers", "f32z.tif", "-99999", -99999, 0.25, "", true},
      {"i16.ers", "i16z.tif", "-32768", -32768, 0, "", true},
      {"u8.ers", "u8.tif", "255", 255, 0, ""},
      // Out of the cells' range: clamped, as gdal_translate clamps it.
      {"u8far.ers", "u8far.ers", "0", 0, 0, "    NullCellValue = 0\r\n"},
      {"u8far.ers", "u8far.tif", "0", 0, 0, ""},
      // Three bands keep the background colour, and declare the value still.
      {"rgb.ers", "rgb.tif", "7 8 9", 250, 0, ""},
      {"rgb16.ers", "rgb16.tif", "7 8 9", -1, 0, ""},
      {"nan.ers", "nan.tif", "nan", NAN, 0.25, ""},
      {"g32.tif", "g32.ers", "-99999", -99999, 0.25, "    NullCellValue = -99999\r\n"},
      {"g8.tif", "g8.ers", "7", 7, 0, "    NullCellValue = 7\r\n"},
      {"veg.veg", "veg.ers", "-9999", -9999, 0.5, "    NullCellValue = -9999\r\n"},
      {"veg.veg", "veg.tif", "-9999", -9999, 0.5, ""},
      // Without a value: 0, no tag, and the template's line.
      {"plain.ers", "plain.tif", "0", kNone, 0, ""},
      {"plain.ers", "plain.ers", "0", 0, 0, "    NullCellValue = 0\r\n"},
  };
  std::ostringstream py;
  py << "from osgeo import gdal\nimport os\nos.chdir('" << dir.path() << "')\n";
  for (const Case& c : cases) {
    const std::string out = std::string("out_") + c.output;
    std::vector<std::string> args = {"-A499998:6200000:500001:6199997", "-B7:8:9",
                                     dir.Path(c.source), dir.Path(out)};
    if (c.deflate) args.insert(args.begin(), {"--compress", "deflate"});
    const CliResult r = RunClipra(args);
    ASSERT_EQ(r.code, 0) << c.output << ": " << r.err;
    // The cell-by-cell path writes the same cells.
    ExtractOptions o{499998, 6200000, 500001, 6199997, 0x090807};
    if (c.deflate) o.Compression = TiffCompression::kDeflate;
    AbortRequested = false;
    ExtractJob job(dir.Path(c.source), dir.Path("slow_" + std::string(c.output)), o, nullptr);
    job.CellByCell = true;
    job.Run();
    ASSERT_EQ(job.StatusText, "Successful Finish") << c.output;
    const std::string data = c.ers_line[0] ? out.substr(0, out.size() - 4) : out;
    const std::string slow = "slow_" + data.substr(4);
    EXPECT_EQ(dir.ReadFile(slow), dir.ReadFile(data)) << c.output;
    if (c.ers_line[0]) {
      const std::string header = dir.ReadFile(out);
      EXPECT_NE(header.find(c.ers_line), std::string::npos) << c.output << "\n" << header;
    }
    // The program reads its own output's value back.
    Source back;
    ASSERT_TRUE(back.Open(dir.Path(out))) << c.output;
    const std::optional<double> nd = back.NoData();
    EXPECT_EQ(nd.has_value(), c.declared != kNone) << c.output;
    if (nd && c.declared != kNone) {
      EXPECT_TRUE(Same(*nd, c.declared)) << c.output << " " << *nd;
    }
    py << "ds = gdal.Open('" << out << "')\n"
       << "v = ds.GetRasterBand(1).GetNoDataValue()\n"
       << "print('none' if v is None else repr(v))\n"
       << "print(ds.RasterCount, ' '.join(repr(float(x)) for b in range(ds.RasterCount) "
       << "for x in ds.GetRasterBand(b + 1).ReadAsArray().flatten()))\n";
  }
  std::string text;
  ASSERT_TRUE(RunPython(dir, py.str(), &text));
  std::istringstream in(text);
  for (const Case& c : cases) {
    std::string declared;
    uint32_t bands = 0;
    in >> declared >> bands;
    if (c.declared == kNone) {
      EXPECT_EQ(declared, "none") << c.output;
    } else {
      const std::optional<double> v = Number(declared);
      EXPECT_TRUE(v && Same(*v, c.declared)) << c.output << ": GDAL reads " << declared;
    }
    std::istringstream fills(c.fill);
    std::vector<double> fill;
    for (std::string f; fills >> f;) fill.push_back(*Number(f));
    for (uint32_t b = 0; b < bands; ++b)
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
          std::string token;
          in >> token;
          const std::optional<double> got = Number(token);
          const double want = x < 2 ? fill[b % fill.size()] : Value(x - 2, y, b) + c.offset;
          EXPECT_TRUE(got && Same(*got, want)) << c.output << " band " << b << " cell " << x << ","
                                               << y << ": " << token << " instead of " << want;
        }
  }
}

}  // namespace
}  // namespace clipra
