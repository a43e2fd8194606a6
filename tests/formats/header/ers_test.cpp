// ER Mapper and OrthoSetData share the keyword header: the writers' templates,
// the keyword parsing and the readers' refusals side by side.
#include "formats/header/ers.h"

#include <array>
#include <filesystem>
#include <regex>

#include "formats/header/osd.h"
#include "support/app_fixtures.h"
#include "support/format_test.h"

namespace clipra {
namespace {

TEST(KeywordHeaderWriters, WriteTheirTemplatesInCrLf) {
  const struct {
    const char* name;
    uint32_t width, lines, bands;
    CellType type;
    double cell_size, x, y;  // square cells, registration cell (0, 0) at (x, y)
    const char *spheroid, *datum, *projection, *point_a, *point_b;  // "": no point
    // The header, and Placement() of the output read back: the warp block's
    // empty spheroid line is read last and wins.
    const char *text, *read_back;
  } cases[] = {
      {"raw.ers", 4, 2, 3, CellType::kUnsigned8, 0.5, 7, 10, "", "\"RAW\"", "RAW", "", "",
       "DatasetHeader Begin\n  Version   = \"1.0\"\n  LastUpdated = *\n  DataSetType = ERStorage\n"
       "  DataType = Raster\n  ByteOrder = LSBFirst\n  CoordinateSpace Begin\n"
       "    Datum      = \"RAW\"\n    Projection = \"RAW\"\n    CoordinateType  = RAW\n"
       "    Rotation = 0:0:0.0\n  CoordinateSpace End\n  RasterInfo Begin\n"
       "    CellType = UNSIGNED8BITINTEGER\n    NullCellValue = 0\n    CellInfo Begin\n"
       "      Xdimension = 0.500\n      Ydimension = 0.500\n    CellInfo End\n    NrOfLines = 2\n"
       "    NrOfCellsPerLine = 4\n    NrOfBands = 3\n    BandId Begin\n      Value=\"Red Layer\"\n"
       "    BandId End\n    BandId Begin\n      Value=\"Green Layer\"\n    BandId End\n"
       "    BandId Begin\n      Value=\"Blue Layer\"\n    BandId End\n  RasterInfo End\n"
       "DatasetHeader End\n",
       "0.5 0.5, 0 0, \"RAW\" \"RAW\"  with 0"},
      // GDAL opens float cells only under the name other programs use; the
      // OrthoSetData header keeps the system's own. Band names repeat.
      {"en.ers", 2, 1, 4, CellType::kFloat32, 2, 4521.12345, 6100000.5, "WGS84", "WGS84", "SUTM33",
       "P1 Yes 1 2.5 300 400.25", "",
       "DatasetHeader Begin\n  Version   = \"1.0\"\n  LastUpdated = *\n  DataSetType = ERStorage\n"
       "  DataType = Raster\n  ByteOrder = LSBFirst\n  CoordinateSpace Begin\n"
       "    Datum      = \"WGS84\"\n    Projection = \"SUTM33\"\n    CoordinateType  = EN\n"
       "    Units   = \"METERS\"\n    Rotation = 0:0:0.0\n  CoordinateSpace End\n"
       "  RasterInfo Begin\n    CellType = IEEE4ByteReal\n    NullCellValue = 0\n"
       "    CellInfo Begin\n      Xdimension = 2.000\n      Ydimension = 2.000\n    CellInfo End\n"
       "    NrOfLines = 1\n    NrOfCellsPerLine = 2\n    RegistrationCoord Begin\n"
       "      Eastings = 4521.123\n      Northings = 6100000.500\n    RegistrationCoord End\n"
       "    RegistrationCellX = 0.000\n    RegistrationCellY = 0.000\n    NrOfBands = 4\n"
       "    BandId Begin\n      Value=\"Red Layer\"\n    BandId End\n    BandId Begin\n"
       "      Value=\"Green Layer\"\n    BandId End\n    BandId Begin\n"
       "      Value=\"Blue Layer\"\n    BandId End\n    BandId Begin\n      Value=\"Red Layer\"\n"
       "    BandId End\n    WarpControl Begin\n      WarpType\t= Polynomial\n"
       "      WarpSampling\t= Nearest\n      CoordinateSpace Begin\n        Datum      = \"\"\n"
       "        Projection = \"\"\n        CoordinateType  = EN\n        Units      = \"METERS\"\n"
       "        Rotation\t= 0:0:0.0\n      CoordinateSpace End\n      ControlPoints\t= {\n"
       "\t\t\tP1\tYes\tNo\t     1.000\t     2.500\t   300.000\t   400.250\n      }\n"
       "    WarpControl End\n  RasterInfo End\nDatasetHeader End\n",
       "2 2, 4521.123 6100000.5, \"SUTM33\" \"WGS84\"  with 1"},
      {"raw.osd", 4, 2, 3, CellType::kUnsigned8, 0.5, 7, 10, "BESSEL", "\"RAW\"", "RAW", "", "",
       "OrthoSetDataHeader [\n  Version      = 1.0\n  LastUpdated  = *\n"
       "  DataSetType  = OrthoSetData\n  ByteOrder = LSBFirst\n  CoordinateSystem [\n"
       "    Datum      = \"RAW\"\n    Projection = \"RAW\"\n    CoordinateType  = RAW\n"
       "  CoordinateSystem ]\n  ImageInfo [\n    CellType   = UNSIGNED8BITINTEGER\n"
       "    NrOfLines  = 2\n    NrOfCellsPerLine = 4\n    NrOfBands = 3\n  ImageInfo ]\n"
       "OrthoSetDataHeader ]\n",
       "1 1, 0 0, \"RAW\" \"RAW\"  with 0"},
      {"en.osd", 2, 1, 1, CellType::kFloat32, 2, 4521.12345, 6100000.5, "KRASSOVSKY", "S42", "GK",
       "P1 Yes 1 2.5 300 400.25 9", "\"\" No",
       "OrthoSetDataHeader [\n  Version      = 1.0\n  LastUpdated  = *\n"
       "  DataSetType  = OrthoSetData\n  ByteOrder = LSBFirst\n  CoordinateSystem [\n"
       "    Datum      = \"S42\"\n    Projection = \"GK\"\n    Spheroid = \"KRASSOVSKY\"\n"
       "    Units      = \"METERS\"\n    CoordinateType  = EN\n  CoordinateSystem ]\n"
       "  ImageInfo [\n    CellType   = SIGNED32BITSINGLE\n    Xdimension = 2.000\n"
       "    Ydimension = 2.000\n    NrOfLines  = 1\n    NrOfCellsPerLine = 2\n"
       "    RegistrationPoint [\n      Eastings  = 4521.123\n      Northings = 6100000.500\n"
       "    RegistrationPoint ]\n    RegistrationCellX\t= 0.000\n    RegistrationCellY\t= 0.000\n"
       "    NrOfBands = 1\n    WarpControl [\n      CoordinateSpace [\n        Datum      = \"\"\n"
       "        Projection = \"\"\n        Spheroid = \"\"\n        Units      = \"METERS\"\n"
       "        CoordinateType  = EN\n      CoordinateSpace ]\n      ControlPoints\t= {\n"
       "\t\t\tP1 Yes 1.000 2.500 300.000 400.250 9.000\n"
       "\t\t\t\"\" No 0.000 0.000 0.000 0.000 0.000\n      }\n    WarpControl ]\n  ImageInfo ]\n"
       "OrthoSetDataHeader ]\n",
       "2 2, 4521.123 6100000.5, \"GK\" \"S42\" \"\" with 2"},
  };
  // The writers' stamp, local time labelled GMT, reads as "*" in the texts.
  const std::regex stamp(R"((\r\n  LastUpdated +=  ?)(Sun|Mon|Tue|Wed|Thu|Fri|Sat) )"
                         R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec))"
                         R"( \d\d \d\d:\d\d:\d\d GMT \d{4}\r\n)");
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Output out(dir.Path(c.name), c.width, c.lines, c.type, c.bands, 1);
      out.SetGeoreference(
          {c.cell_size, c.cell_size, 0, 0, c.x, c.y, c.spheroid, c.datum, c.projection});
      for (const char* p : {c.point_a, c.point_b})
        if (*p) out.GetWriter()->AddControlPoint(ControlPoint::CreateFromLine(p).get());
    }
    const std::string text = dir.ReadFile(c.name);
    EXPECT_EQ(CrLf(c.text), std::regex_replace(text, stamp, "$1*\r\n"));
    EXPECT_EQ(size_t{c.width} * c.lines * c.bands * CellTypeSize(c.type),
              dir.ReadFile(ChangeFileExt(c.name, "")).size());
    Source in;
    ASSERT_TRUE(in.Open(dir.Path(c.name))) << in.GetErrorText();
    EXPECT_EQ(c.read_back, Placement(*in.GetReader()) + " with " +
                               std::to_string(in.GetReader()->GetControlPoints()->Count()));
  }
}

// Keywords in any case and anywhere in their line, decimal commas, non-numbers,
// byte order; the first datum, projection and coordinate type are the
// raster's, later ones the warp block's; each format's control point lines.
TEST(KeywordHeaderReaders, ReadKeywordsWhateverTheirCaseAndNumbersTolerantly) {
  // Placement; warp datum and spheroid; coordinate types of the raster and
  // the warp block; the last control point; cell (1, 0) of the last band and
  // band 0 at (100, 200).
  const struct {
    const char *name, *data_name;
    std::string header, data, summary;
  } cases[] = {
      // Registration cell (0.5, 0.5) at (100, 200), and the data file found whatever its case.
      {"h.ers", "H",
       "DatasetHeader Begin\r\n coordinatespace begin\n  datum= \"nad27\" \n"
       "  coordinatetype = latlong\n coordinatespace end\n xdimension=  25,5  \n"
       " YDimension = letters\n nrofcellsperline = 2\n NrOfLines = 1\n NrOfBands = 1\n"
       " CellType = Signed16BitInteger\n ByteOrder = MSBFirst\n Eastings = 100\n Northings = 200\n"
       " RegistrationCellX = 0.5\n RegistrationCellY = 0.5\n WarpControl Begin\n"
       "  Datum = \"WGS84\"\n  ControlPoints = {\n   \"a\" Yes Yes 1 2 3 4 5\n  }\n"
       " WarpControl End\nDatasetHeader End\n",
       std::string("\xFF\xFE\x00\x07", 4),
       "25.5 1, 87.25 200.5,  \"NAD27\" , cell 0.5 0.5 at 100 200; \"WGS84\" ; LATLONG EN; "
       "\"A\" Yes 1.000 2.000 3.000 4.000 5.000; 7 -2"},
      // The last spheroid line wins for both fields.
      {"h.osd", "h",
       "OrthoSetDataHeader [\r\n coordinatesystem [\n  datum= \"s42\" \n  projection = gk\n"
       "  spheroid = bessel\n  coordinatetype = en\n coordinatesystem ]\n imageinfo [\n"
       "  xdimension=  25,5  \n  YDimension = letters\n  nrofcellsperline = 2\n  NrOfLines  = 1\n"
       "  NrOfBands = 2\n  CellType   = Signed16BitInteger\n  ByteOrder = MSBFirst\n"
       "  Eastings  = 100\n  Northings = 200\n  RegistrationCellX\t= 1\n  WarpControl [\n"
       "   CoordinateSpace [\n    Datum = \"WGS84\"\n    Spheroid = krassovsky\n"
       "    CoordinateType = latlong\n   CoordinateSpace ]\n   ControlPoints\t= {\n"
       "\t\t\tpa Yes 1 2 3 4 5\n\t\t\tpb No 6 7 8 9 10\n   }\n  WarpControl ]\n imageinfo ]\n"
       "OrthoSetDataHeader ]\n",
       std::string("\xFF\xFE\x00\x07\x01\x00\x00\x80", 8),
       "25.5 1, 74.5 200, GK \"S42\" KRASSOVSKY, cell 1 0 at 100 200; \"WGS84\" KRASSOVSKY; "
       "EN LATLONG; PB No 6.000 7.000 8.000 9.000 10.000; 128 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.WriteFile(c.name, c.header);
    dir.WriteFile(c.data_name, c.data);
    Source in;
    ASSERT_TRUE(in.Open(dir.Path(c.name))) << in.GetErrorText();
    auto& r = static_cast<HeaderRasterReader&>(*in.GetReader());
    const ControlPointList& points = *r.GetControlPoints();
    float cell = 0, at_registration = 0;
    ASSERT_TRUE(r.GetCell(1, 0, r.GetBands() - 1, cell));
    ASSERT_TRUE(in.GetValue(0, at_registration, 100, 200, 0));
    EXPECT_EQ(c.summary, Placement(r) + "; " + r.Header->WarpDatum + " " + r.Header->WarpSpheroid +
                             "; " + CoordinateTypeName(r.GetCoordinateType()) + " " +
                             CoordinateTypeName(r.Header->WarpCoordinateType) + "; " +
                             points.Point(points.Count() - 1)->ToLine() + "; " + Num(cell) + " " +
                             Num(at_registration));
  }
}

// Each reader refuses the other's header; cells of a type without a decoder
// would clip to garbage reported as a success. Other programs name float
// cells "IEEE4ByteReal", in any case. Padding after the data reads as the
// grid; a short data file is refused.
TEST(KeywordHeaderReaders, OpenWhatTheyDecodeAndRefuseTheRestWithAMessage) {
  TempDir dir;
  auto ers = [](const char* type) { return Grid(1, 1, 1, "1", "1", "0", "0", type).HeaderText(); };
  const std::string osd = "OrthoSetDataHeader [\n  NrOfBands = 1\n  NrOfLines = 1\n";
  const std::string osd_1 = osd + "  NrOfCellsPerLine = 1\n";
  const std::string u8 = ers("Unsigned8BitInteger");
  std::string bad_count = u8;
  bad_count.replace(bad_count.find("NrOfLines\t= 1"), 13, "NrOfLines\t= abc");
  const std::string f = Le<float>({2.5f}), eight = f + f;
  // Three by two cells in two bands: padding after the grid must not shift the lines.
  const ErsSource grid = Grid(3, 2, 2, "1", "1", "0", "0", "Signed16BitInteger");
  const std::string cells = MakeCells(
      grid, [](uint32_t x, uint32_t y, uint32_t b) { return 1.0 + x + 16 * y + 100 * b; });
  const struct {
    int reader;  // 1 or 2: the ER Mapper or OrthoSetData reader itself; 0: Source
    std::string name, header, data, message;  // data: of "c"
    float value = 0;                          // cell (0, 0) when it opens
  } cases[] = {
      {0, "c.ers", ers("ieee4bytereal"), f, "", 2.5f},
      {0, "c.ers", grid.HeaderText(), cells + std::string(513, '\xEE'), "", 119},
      {0, "c.ers", grid.HeaderText(), cells.substr(1),
       "Data file " + dir.Path("c") + " holds 23 bytes; its header describes 24"},
      {0, "c.osd", osd_1 + "  CellType = Signed32BitSingle\n", f, "", 2.5f},
      // Without a CellType line the cells are bytes.
      {0, "c.osd", osd_1, "y", "", 'y'},
      {0, "c.ers", ers("IEEE8ByteReal"), eight, "Cell type not supported: IEEE8ByteReal"},
      {0, "c.osd", osd_1 + "  CellType = Unsigned32BitInteger\n", f,
       "Cell type not supported: Unsigned32BitInteger"},
      {0, "c.ers", bad_count, "a", "Header value of NrOfLines is not a valid count: 'ABC'"},
      {0, "c.osd", osd + "  NrOfCellsPerLine = 12a\n", "abc",
       "Header value of NrOfCellsPerLine is not a valid count: '12A'"},
      {0, "n.ers", u8, "x", "Open Map Read Error=2 No such file or directory"},
      {0, "c.ers", u8, "", "Data file " + dir.Path("c") + " holds 0 bytes; its header describes 1"},
      {0, "gone.ers", "", "x", "No file: " + dir.Path("gone.ers")},
      {1, "c.ers", osd_1, "x", "Header " + ShortenPath(dir.Path("c.ers"), 20) + " reading error "},
      {2, "c.osd", u8, "x", "Header " + ShortenPath(dir.Path("c.osd"), 20) + " reading error "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.header);
    if (!c.header.empty()) dir.WriteFile(c.name, c.header);
    dir.WriteFile("c", c.data);
    Source in;
    ErsReader ers_reader;
    OsdReader osd_reader;
    RasterReader* r = std::array<RasterReader*, 3>{nullptr, &ers_reader, &osd_reader}[c.reader];
    const bool opened = r ? r->Open(dir.Path(c.name)) : in.Open(dir.Path(c.name));
    EXPECT_EQ(c.message, r ? r->ErrorText : in.GetErrorText());
    EXPECT_EQ(c.message.empty(), opened);
    float v = 0;
    RasterReader* read = in.GetReader();
    if (opened) read->GetCell(read->GetWidth() - 1, read->GetLines() - 1, read->GetBands() - 1, v);
    EXPECT_EQ(c.value, v);
  }
}

// A grid above the reader's 128 MiB view with two bytes of padding: its
// lines fit the view one by one.
TEST(ErsReader, PaddedDataAboveTheViewReadsAsTheGrid) {
  TempDir dir;
  Grid(4096, 32769, 1, "1", "1", "0", "0").Write(dir.Path("big"));
  std::filesystem::resize_file(dir.Path("big"), uint64_t{4096} * 32769 + 2);
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("big.ers"))) << in.GetErrorText();
  float v = -1;
  ASSERT_TRUE(in.GetReader()->GetCell(4095, 32768, 0, v));
  EXPECT_EQ(0, v);
}

}  // namespace
}  // namespace clipra
