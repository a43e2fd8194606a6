#include "app/core/job.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "dataset/byte_order.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"
#include "support/gdal.h"
#include "support/tools.h"

namespace clipra {
namespace {

const std::string kOk = "Successful Finish";

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

// Runs one job on this thread; `prepare` sees it before it runs.
std::unique_ptr<ExtractJob> RunJob(const std::string& source, const std::string& output,
                                   const ExtractOptions& o,
                                   const std::function<void(ExtractJob&)>& prepare = {}) {
  AbortRequested = false;
  auto job = std::make_unique<ExtractJob>(source, output, o, nullptr);
  if (prepare) prepare(*job);
  job->Run();
  EXPECT_FALSE(Busy);
  return job;
}

// Every file in `folder` with its bytes.
std::map<std::string, std::string> Snapshot(const TempDir& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    files[entry.path().filename().string()] = folder.ReadFile(entry.path().filename().string());
  return files;
}

class JobTest : public ::testing::Test {
 protected:
  // A 6 x 4 source whose cell (0, 0) lies at (1000, 2000).
  std::string MakeSource(uint32_t bands = 1, const char* type = "Unsigned8BitInteger",
                         const char* cell_x = "10", const char* cell_y = "10") {
    return WriteSource(dir_, "src" + std::to_string(counter_++),
                       Grid(6, 4, bands, cell_x, cell_y, "1000", "2000", type), Pattern);
  }
  // The status of a job from `source` into `output` in the test's folder.
  std::string Status(const std::string& source, const char* output, const ExtractOptions& o) {
    return RunJob(source, *output ? dir_.Path(output) : "", o)->StatusText;
  }
  TempDir dir_;
  int counter_ = 0;
};

TEST_F(JobTest, NearestCellsOnATruncatedGridWithUncoveredCellsZero) {
  const struct {
    const char *cells, *cell_x, *cell_y;
    uint32_t bands;
    double x0, y0, x1, y1;
    uint32_t background = 0;
  } rows[] = {
      // 100 map units of cell size 10 make 11 cells; a little less makes 10.
      {"1 2 3 4 5 6 0 0 0 0 0", "10", "10", 1, 1000, 2000, 1100, 2000},
      {"1 2 3 4 5 6 0 0 0 0|17 18 19 20 21 22 0 0 0 0", "10", "10", 1, 1000, 2000, 1099.9, 1990},
      {"0 1 2 3 4 5 6 0|0 17 18 19 20 21 22 0", "10", "10", 1, 990, 2000, 1060, 1990},
      // Reversed corners run towards increasing X and decreasing Y from (1010, 1990).
      {"18 19 20|34 35 36|50 51 52", "10", "10", 1, 1010, 1990, 990, 2010},
      // Cells 2 x 1: output cells of 2 both ways take source lines 0 and 2.
      {"1 2 3|33 34 35|0 0 0", "2", "1", 1, 1000, 2000, 1004, 1996},
      {"1 2 3|17 18 19", "0", "0", 1, 1000, 2000, 1002, 1999},  // a cell size of 0 is 1
      // Three bands: background all around, in each band's own value.
      {"10 10 10/20 20 20/30 30 30|10 1 2/20 101 102/30 201 202|10 17 18/20 117 118/30 217 218",
       "10", "10", 3, 990, 2010, 1010, 1990, 10 | 20 << 8 | 30 << 16},
      {"37 38 10/137 138 20/237 238 30|53 54 10/153 154 20/253 254 30|10 10 10/20 20 20/30 30 30",
       "10", "10", 3, 1040, 1980, 1060, 1960, 10 | 20 << 8 | 30 << 16},
  };
  for (const auto& row : rows) {
    const std::string src = MakeSource(row.bands, "Unsigned8BitInteger", row.cell_x, row.cell_y);
    ASSERT_EQ(kOk, Status(src, "o.ers", {row.x0, row.y0, row.x1, row.y1, row.background}));
    EXPECT_EQ(row.cells, CellText(dir_.Path("o.ers")));
  }
}

// Refusals come before any file is created; a finished job tells whether its
// rectangle found a source cell (centres run 1000 to 1050 and 2000 to 1970).
TEST_F(JobTest, StatusTextsAndMissedSources) {
  const std::string one = MakeSource(), three = MakeSource(3), four = MakeSource(4),
                    shorts = MakeSource(1, "Signed16BitInteger"),
                    wide = WriteSource(dir_, "w", Grid(1, 1, 65536, "1", "1", "0", "0"), Pattern);
  const struct {
    const std::string& source;
    const char* output;
    double x0, y0, x1, y1;
    std::string status;
    bool misses = false;  // for a finished job
  } rows[] = {
      {four, "x.tif", 1000, 2000, 1010, 1990, "TIFF files do not support more than 3 bands"},
      {four, "x.bmp", 1000, 2000, 1010, 1990, "BMP files do not support more than 3 bands"},
      {shorts, "x.bmp", 1000, 2000, 1010, 1990, "BMP files support only byte data"},
      {four, "", 1000, 2000, 1010, 1990, "No output file name"},
      {one, "big.ers", 0, 0, 655360, 0,
       "Output window too large: 65537 x 1 cells (at most 65535 x 65535)"},
      {one, "edge.ers", 0, 0, 655340, 0, kOk, true},
      {one, "nan.ers", NAN, 0, 10, 0, "The rectangle's corners must be finite numbers"},
      {wide, "w2.ers", 0, 0, 0, 0, "Output of 65536 bands is too large: at most 65535 bands"},
      {three, "m1.ers", 1060, 2000, 1100, 1990, kOk, true},
      {three, "m2.ers", 1055, 2000, 1100, 1990, kOk, true},  // 5.5 cells round to 6
      {three, "m3.ers", 1054.9, 2000, 1100, 1990, kOk, false},
      {three, "m4.ers", 990, 2030, 1000, 2010, kOk, true},
      {three, "m5.ers", 990, 2010, 1000, 2000, kOk, false},
      {three, "m6.ers", 900, 2100, 1100, 1900, kOk, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.output);
    const auto job = RunJob(row.source, *row.output ? dir_.Path(row.output) : "",
                            {row.x0, row.y0, row.x1, row.y1});
    EXPECT_EQ(row.status, job->StatusText);
    EXPECT_EQ(row.status == kOk && row.misses, job->MissesSource);
    EXPECT_EQ(row.status == kOk, *row.output && FileExists(dir_.Path(row.output)));
  }
}

TEST_F(JobTest, ProgressCountsLinesAndAbortFinishesTheLineAndClosesTheFiles) {
  const std::string src = MakeSource();
  std::vector<int> percents;
  bool abort = false;
  auto watch = [&](ExtractJob& job) {
    job.OnProgress = [&](int p, const std::string&, const std::string&) {
      percents.push_back(p);
      AbortRequested = abort;
    };
  };
  RunJob(src, dir_.Path("p.ers"), {1000, 2000, 1050, 1970}, watch);
  EXPECT_EQ((std::vector<int>{0, 33, 67, 100}), percents);
  percents.clear();
  RunJob(src, dir_.Path("q.ers"), {1000, 2000, 1050, 2000}, watch);
  EXPECT_TRUE(percents.empty()) << "one line: no progress";
  abort = true;
  EXPECT_EQ("User Abort",
            RunJob(src, dir_.Path("a.ers"), {1000, 2000, 1050, 1970}, watch)->StatusText);
  AbortRequested = false;
  EXPECT_EQ(1u, percents.size());
  // The first two lines were written; the header is complete.
  EXPECT_EQ("1 2 3 4 5 6|17 18 19 20 21 22|0 0 0 0 0 0|0 0 0 0 0 0", CellText(dir_.Path("a.ers")));
}

// An ER Mapper "e.ers" keeps its cells in "e", and an OrthoSetData "o.osd" in
// "o". Cells that spell the header's signature let "o" itself be opened. An
// output over any file of the source is refused before anything is created; a
// writer that cannot create its data file writes no header either, for its
// header's path may be the header of the raster that holds the data file busy.
TEST_F(JobTest, OutputOverTheSourceOrABusyDataFileLeavesEveryFileAsItWas) {
  const std::string src = MakeSource();
  for (const char* name : {"e.ers", "o.osd"})
    ASSERT_EQ(kOk, Status(src, name, {1000, 2000, 1050, 1970}));
  dir_.WriteFile("o", "ORTH" + dir_.ReadFile("o").substr(4));
  const auto before = Snapshot(dir_);
  const std::tuple<const char*, const char*, const char*> overwrites[] = {
      // source, output, and the source's file that the message names
      {"e.ers", "e.ers", "e.ers"}, {"e.ers", "e.osd", "e"}, {"e.ers", "e", "e"},
      {"o.osd", "o", "o.osd"},     {"o.osd", "o.ers", "o"}, {"o", "o.osd", "o"},
      {"o", "o.ers", "o"},
  };
  for (const auto& [source, output, file] : overwrites) {
    EXPECT_EQ("The output would overwrite the source's file: " + dir_.Path(file),
              Status(dir_.Path(source), output, {1000, 1960, 1010, 1950}));
    EXPECT_EQ(before, Snapshot(dir_)) << source << " -> " << output;
  }
  const std::tuple<const char*, const char*, const char*> busy[] = {
      // opened for reading, output, message
      {"o.osd", "o", "Open map write error=16 Device or resource busy"},
      {"o", "o.osd", "Open map write error=16 Device or resource busy"},
      {"e.ers", "e.ers", "Open Map write error 16 Device or resource busy"},
  };
  for (const auto& [held, output, message] : busy) {
    Source open;
    ASSERT_TRUE(open.Open(dir_.Path(held))) << open.GetErrorText();
    // The held raster's own cell type: unsigned bytes.
    EXPECT_EQ(message, ThrownText<DatasetError>(
                           [&] { Output(dir_.Path(output), 3, 3, open.GetCellType(), 1, 1); }));
    EXPECT_EQ(before, Snapshot(dir_)) << held << " -> " << output;
  }
}

// A file-size limit stands in for a full disk: every writer fails half way
// through creating its output, which leaves no new file and changes none.
TEST_F(JobTest, OutputThatCannotBeCreatedLeavesEveryFileAsItWas) {
  const std::string src = MakeSource(), ers = "Open Map write error 27 File too large",
                    map = "Open map write error=27 File too large",
                    image = "Open write error 27 File too large";
  const std::pair<const char*, std::string> cases[] = {
      {"x.ers", ers},   {"x.osd", map}, {"y", map},     {"x.tif", image},
      {"x.bmp", image}, {"x.dtm", map}, {"x.001", map},
  };
  rlimit old{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old));
  for (const bool existing : {false, true}) {
    for (const auto& [output, status] : cases) {
      SCOPED_TRACE(std::string(output) + (existing ? " over an existing output" : ""));
      if (existing) {
        ASSERT_EQ(kOk, Status(src, output, {1000, 2000, 1050, 1970}));
      }
      const auto before = Snapshot(dir_);
      // 401 x 401 cells: more than the limit in every format. The program
      // ignores SIGXFSZ, so the writes fail with EFBIG.
      const rlimit limit{65536, old.rlim_max};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const std::string got = Status(src, output, {0, 4000, 4000, 0});
      ::setrlimit(RLIMIT_FSIZE, &old);
      EXPECT_EQ(status, got);
      EXPECT_EQ(before, Snapshot(dir_));
    }
  }
}

TEST(FormatTimeSpan, HoursMinutesSecondsWithoutLeadingZeros) {
  EXPECT_EQ("1:2:5 0:0:59 0:0:0", FormatTimeSpan(3725.0 / 86400) + " " +
                                      FormatTimeSpan(59.0 / 86400) + " " + FormatTimeSpan(0));
}

// The indexed path (column indices computed once, runs of stored cells copied
// where the layouts allow) must write exactly what sampling every cell through
// the facades writes: the files that hold the cells are compared byte for
// byte; where the format cannot take the source, the refusals are. The fast
// output is `out`0 with the extension, the slow one `out`1.
void ExpectSameBothWays(const TempDir& dir, const std::string& source, const std::string& out,
                        const std::string& ext, const ExtractOptions& o, uint32_t bands = 1,
                        bool bytes = true) {
  SCOPED_TRACE(out + ext);
  const std::string data_ext = ext == ".ers" || ext == ".osd" ? "" : ext == ".001" ? ".002" : ext;
  std::string refusal = kOk;
  if ((ext == ".tif" || ext == ".bmp") && bands == 2)
    refusal = "Wrong number of bands(must be 1 or 3)";
  if (ext == ".bmp" && !bytes) refusal = "BMP files support only byte data";
  std::string data[2];
  for (int slow = 0; slow < 2; ++slow) {
    const std::string name = out + std::to_string(slow);
    const auto job = RunJob(source, dir.Path(name + ext), o,
                            [&](ExtractJob& job) { job.CellByCell = slow == 1; });
    EXPECT_EQ(refusal, job->StatusText);
    data[slow] = dir.ReadFile(name + data_ext);
  }
  EXPECT_EQ(refusal == kOk, !data[0].empty());
  EXPECT_TRUE(data[1] == data[0]) << "the two ways differ";
}

// Band 1 runs negative for the signed cell types.
double SignedPattern(uint32_t x, uint32_t y, uint32_t b) {
  return (x * 7 + y * 13 + b * 29) % 251 - (b == 1 ? 100 : 0);
}

TEST(FastPath, AwkwardGeometriesAndLayoutsMatchCellByCell) {
  const struct {
    const char* name;
    std::string cell_x, cell_y, reg_cell;
    ExtractOptions rect;
  } geometries[] = {
      // Grid points exactly half a cell off: ties go to the even neighbour.
      {"ties", "2", "2", "", {101, 199, 113, 189}},
      {"reversed", "2", "2", "", {112, 190, 99, 201}},
      {"partly_outside", "2", "2", "", {90, 210, 108, 195}},
      {"wholly_outside", "2", "2", "", {500, 500, 510, 490}},
      {"non_square", "3", "1.5", "", {100, 200, 121, 193}},
      {"one_line", "2", "2", "", {100, 198, 114, 198}},
      {"one_column", "2", "2", "", {104, 200, 104, 190}},
      {"zero_cell_size", "0", "0", "", {99.5, 200.5, 108, 195}},
      {"fractional_registration", "2", "2", "0.5", {99, 201, 115, 191}},
      {"tiny_cells", "0.1", "0.1", "", {100.05, 199.95, 100.75, 199.55}},
  };
  const struct {
    const char *name, *cell_type;
    uint32_t bands;
    bool msb_first;
  } layouts[] = {
      {"byte3", "Unsigned8BitInteger", 3, false},       {"byte1", "Unsigned8BitInteger", 1, false},
      {"byte2", "Unsigned8BitInteger", 2, false},       {"int16msb", "Signed16BitInteger", 1, true},
      {"uint16lsb3", "Unsigned16BitInteger", 3, false}, {"int32", "Signed32BitInteger", 2, true},
      {"float", "Signed32BitSingle", 1, false},
  };
  TempDir dir;
  for (const auto& layout : layouts) {
    for (const auto& g : geometries) {
      const std::string name = std::string(layout.name) + "_" + g.name;
      ErsSource s = Grid(7, 5, layout.bands, g.cell_x, g.cell_y, "100", "200", layout.cell_type);
      s.msb_first = layout.msb_first;
      s.reg_cell_x = s.reg_cell_y = g.reg_cell;
      const std::string src = WriteSource(dir, "src_" + name, s, SignedPattern);
      ExtractOptions o = g.rect;
      o.BgrColor = 0x203040;
      const bool bytes = layout.cell_type == std::string("Unsigned8BitInteger");
      for (const char* ext : {".ers", ".osd", ".tif", ".bmp", ".001", ".dtm"})
        ExpectSameBothWays(dir, src, name, ext, o, layout.bands, bytes);
    }
  }
}

// TIFF, BMP and JPEG sources made by GDAL, through their readers' runs of cells.
TEST(FastPath, GdalMadeSourcesMatchCellByCell) {
  REQUIRE_TOOL("gdal_translate");
  const struct {
    const char* name;
    uint32_t bands;
    const char *options, *extension;  // gdal_translate's options
  } variants[] = {
      {"chunky", 3, "-of GTiff -co TFW=YES -co INTERLEAVE=PIXEL", ".tif"},
      {"planar", 3, "-of GTiff -co TFW=YES -co INTERLEAVE=BAND -co BLOCKYSIZE=2", ".tif"},
      {"big_endian16", 3, "-of GTiff -co TFW=YES -co ENDIANNESS=BIG -ot UInt16", ".tif"},
      {"grey16", 1, "-of GTiff -co TFW=YES -ot UInt16 -co BLOCKYSIZE=3", ".tif"},
      {"white_is_zero", 1, "-of GTiff -co TFW=YES -co PHOTOMETRIC=MINISWHITE", ".tif"},
      {"rgb_bmp", 3, "-of BMP -co WORLDFILE=YES", ".bmp"},
      {"grey_bmp", 1, "-of BMP -co WORLDFILE=YES", ".bmp"},
      {"rgb_jpeg", 3, "-of JPEG -co WORLDFILE=YES", ".jpg"},
      {"grey_jpeg", 1, "-of JPEG -co WORLDFILE=YES", ".jpg"},
  };
  TempDir dir;
  for (const auto& v : variants) {
    const std::string name = v.name, options = v.options;
    const std::string ers =
        WriteSource(dir, "ers_" + name, Grid(9, 7, v.bands, "2", "2", "100", "200"), SignedPattern);
    const std::string source = dir.Path(name + v.extension);
    ASSERT_EQ(0, RunCommand("gdal_translate -q " + options + " " + ShellQuote(ers) + " " +
                            ShellQuote(source)))
        << name;
    // GDAL names these world files ".wld"; the readers want ".bmpw" and ".jgw".
    std::rename(dir.Path(name + ".wld").c_str(),
                dir.Path(name + (std::string(v.extension) == ".bmp" ? ".bmpw" : ".jgw")).c_str());
    const ExtractOptions o{95, 205, 117, 185, 0x102030};  // partly outside on the left and the top
    const bool bytes = options.find("UInt16") == std::string::npos;
    for (const char* ext : {".ers", ".tif", ".bmp"})
      ExpectSameBothWays(dir, source, "out_" + name, ext, o, v.bands, bytes);
  }
}

// Integer cells drop the quarter; real ones keep it.
double Quarter(uint32_t x, uint32_t y, uint32_t b) {
  return Pattern(x, y, b) + 0.25;
}

// An ER Mapper source of 4 x 4 cells of 1 m from (500000, 6200000) with
// `null_cell` as its NullCellValue (none when empty).
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
  std::string tiles(12 + 375000, '\0');
  write_le<uint32_t>(tiles.data() + 4, 12);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x)
      write_le<float>(tiles.data() + 12 + (249 - y) * 1500 + x * 6 + 2,
                      static_cast<float>(Quarter(x, y, 0)));
  dir.WriteFile("veg.veg", tiles);
}

// A source's no-data value fills the cells it does not cover and is declared
// in the output, so that GDAL reads the uncovered cells as missing. Each clip
// takes two columns left of its source and two inside, so that half its cells
// are uncovered.
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
    const char *source, *output;    // file names in the folder
    std::vector<std::string> fill;  // what uncovered cells hold, one per band
    const char* declared;           // the output's no-data as both read it; "none"
    bool real;                      // covered cells keep the quarter
    bool deflate = false;           // a TIFF output compressed with deflate
  } cases[] = {
      {"f32.ers", "f32.ers", {"-99999"}, "-99999", true},
      {"f32.ers", "f32.tif", {"-99999"}, "-99999", true},
      {"i16.ers", "i16.tif", {"-32768"}, "-32768", false},
      {"f32.ers", "f32z.tif", {"-99999"}, "-99999", true, true},
      {"i16.ers", "i16z.tif", {"-32768"}, "-32768", false, true},
      {"u8.ers", "u8.tif", {"255"}, "255", false},
      // Out of the cells' range: clamped, as gdal_translate clamps it.
      {"u8far.ers", "u8far.ers", {"0"}, "0", false},
      {"u8far.ers", "u8far.tif", {"0"}, "0", false},
      // Three bands keep the background colour, and declare the value still.
      {"rgb.ers", "rgb.tif", {"7", "8", "9"}, "250", false},
      {"rgb16.ers", "rgb16.tif", {"7", "8", "9"}, "-1", false},
      {"nan.ers", "nan.tif", {"nan"}, "nan", true},
      {"g32.tif", "g32.ers", {"-99999"}, "-99999", true},
      {"g8.tif", "g8.ers", {"7"}, "7", false},
      {"veg.veg", "veg.ers", {"-9999"}, "-9999", true},
      {"veg.veg", "veg.tif", {"-9999"}, "-9999", true},
      // Without a value: 0, no tag, and the template's line.
      {"plain.ers", "plain.tif", {"0"}, "none", false},
      {"plain.ers", "plain.ers", {"0"}, "0", false},
  };
  // GDAL's script prints numbers with "%.15g", which gives what FormatShortest gives here.
  std::string expected, script = py + "def g(v): return 'none' if v is None else '%.15g' % v\n";
  for (const auto& c : cases) {
    ExtractOptions o{499998, 6200000, 500001, 6199997, 0x090807};
    if (c.deflate) o.Compression = TiffCompression::kDeflate;
    const std::string ext = ExtractFileExt(c.output), out = "out_" + ChangeFileExt(c.output, "");
    ExpectSameBothWays(dir, dir.Path(c.source), out, ext, o);
    SCOPED_TRACE(c.output);
    // The program reads its own output's value back.
    Source back;
    ASSERT_TRUE(back.Open(dir.Path(out + "0" + ext)));
    EXPECT_EQ(c.declared, back.NoData() ? FormatShortest(*back.NoData()) : "none");
    script += "ds = gdal.Open('" + out + "0" + ext + "')\nprint('" + c.output +
              "', g(ds.GetRasterBand(1).GetNoDataValue()), *[g(float(x)) for b in " +
              "range(ds.RasterCount) for x in ds.GetRasterBand(b + 1).ReadAsArray().flatten()])\n";
    expected += c.output + std::string(" ") + c.declared;
    for (uint32_t b = 0; b < c.fill.size(); ++b)
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
          expected +=
              " " + (x < 2 ? c.fill[b] : FormatShortest((c.real ? Quarter : Pattern)(x - 2, y, b)));
    expected += "\n";
  }
  std::string text;
  ASSERT_TRUE(RunPython(dir, script, &text));
  EXPECT_EQ(expected, text);
}

}  // namespace
}  // namespace clipra
