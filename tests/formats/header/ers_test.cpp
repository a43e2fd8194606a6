#include "formats/header/ers.h"

#include <cstdio>
#include <filesystem>

#include "support/app_fixtures.h"
#include "support/format_test.h"

namespace clipra {
namespace {

TEST(ErsWriter, WritesTheRawHeaderTemplateInCrLf) {
  TempDir dir;
  {
    Output out(dir.Path("raw.ers"), 300, 200, CellType::kUnsigned8, 3, 1);
    out.SetGeoreference({0.5, 0.5, 0, 0, 4521.12345, 10, "", "\"RAW\"", "RAW"});
  }
  EXPECT_EQ(
      CrLf("DatasetHeader Begin\n  Version   = \"1.0\"\n  LastUpdated = *\n"
           "  DataSetType = ERStorage\n  DataType = Raster\n  ByteOrder = LSBFirst\n"
           "  CoordinateSpace Begin\n    Datum      = \"RAW\"\n    Projection = \"RAW\"\n"
           "    CoordinateType  = RAW\n    Rotation = 0:0:0.0\n  CoordinateSpace End\n"
           "  RasterInfo Begin\n    CellType = UNSIGNED8BITINTEGER\n    NullCellValue = 0\n"
           "    CellInfo Begin\n      Xdimension = 0.500\n      Ydimension = 0.500\n"
           "    CellInfo End\n    NrOfLines = 200\n    NrOfCellsPerLine = 300\n"
           "    NrOfBands = 3\n    BandId Begin\n      Value=\"Red Layer\"\n    BandId End\n"
           "    BandId Begin\n      Value=\"Green Layer\"\n    BandId End\n    BandId Begin\n"
           "      Value=\"Blue Layer\"\n    BandId End\n  RasterInfo End\nDatasetHeader End\n"),
      BlankValue(dir.ReadFile("raw.ers"), "  LastUpdated = "));
  EXPECT_EQ(180000u, dir.ReadFile("raw").size());
}

TEST(ErsWriter, WritesMapCoordinatesControlPointsAndRepeatsBandNames) {
  TempDir dir;
  {
    Output out(dir.Path("en.ers"), 2, 1, CellType::kSigned16, 4, 1);
    out.SetGeoreference({2, 2, 0, 0, 4521.12345, 6100000.5, "WGS84", "WGS84", "SUTM33"});
    out.GetWriter()->AddControlPoint(ControlPoint::CreateFromLine("P1 Yes 1 2.5 300 400.25").get());
  }
  const std::string text = dir.ReadFile("en.ers");
  for (const char* part :
       {"    Projection = \"SUTM33\"\n    CoordinateType  = EN\n    Units   = \"METERS\"\n",
        "    RegistrationCoord Begin\n      Eastings = 4521.123\n      Northings = "
        "6100000.500\n    RegistrationCoord End\n    RegistrationCellX = 0.000\n"
        "    RegistrationCellY = 0.000\n    NrOfBands = 4\n",
        "    CellType = SIGNED16BITINTEGER\n",
        "    WarpControl Begin\n      WarpType\t= Polynomial\n      WarpSampling\t= Nearest\n"
        "      CoordinateSpace Begin\n        Datum      = \"\"\n        Projection = \"\"\n"
        "        CoordinateType  = EN\n        Units      = \"METERS\"\n"
        "        Rotation\t= 0:0:0.0\n      CoordinateSpace End\n      ControlPoints\t= {\n"
        "\t\t\tP1\tYes\tNo\t     1.000\t     2.500\t   300.000\t   400.250\n      }\n"
        "    WarpControl End\n  RasterInfo End\nDatasetHeader End\n"})
    EXPECT_NE(std::string::npos, text.find(CrLf(part))) << part << "\nin\n" << text;
  EXPECT_NE(text.find("Value=\"Red Layer\""), text.rfind("Value=\"Red Layer\""));
  EXPECT_EQ(16u, dir.ReadFile("en").size());
}

// GDAL opens float cells only under the name other programs use; the
// OrthoSetData header keeps the system's own.
TEST(ErsWriter, NamesFloatCellsIeee4ByteRealAndFailsAsDatasetError) {
  TempDir dir;
  for (const char* name : {"f.ers", "f.osd"})
    Output out(dir.Path(name), 1, 1, CellType::kFloat32, 1, 1);
  EXPECT_NE(std::string::npos, dir.ReadFile("f.ers").find("    CellType = IEEE4ByteReal\r\n"));
  EXPECT_NE(std::string::npos,
            dir.ReadFile("f.osd").find("    CellType   = SIGNED32BITSINGLE\r\n"));
  EXPECT_EQ("MMapFile 0 Bands", ThrownText<DatasetError>([&] {
              Output out(dir.Path("zero.ers"), 1, 1, CellType::kUnsigned8, 0, 1);
            }));
}

TEST(ErsReader, KeywordsAreCaseInsensitiveSubstringsAndNumbersTolerant) {
  TempDir dir;
  dir.WriteFile("h.ers",
                "DatasetHeader Begin\r\n coordinatespace begin\n  datum= \"nad27\" \n"
                "  coordinatetype = latlong\n coordinatespace end\n xdimension=  25,5  \n"
                " YDimension = letters\n nrofcellsperline = 2\n NrOfLines = 1\n NrOfBands = 1\n"
                " CellType = Signed16BitInteger\n ByteOrder = MSBFirst\n Eastings = 100\n"
                " Northings = 200\n RegistrationCellX = 0.5\n RegistrationCellY = 0.5\n"
                " WarpControl Begin\n  Datum = \"WGS84\"\n  ControlPoints = {\n"
                "   \"a\" Yes Yes 1 2 3 4 5\n  }\n WarpControl End\nDatasetHeader End\n");
  dir.WriteFile("H", std::string("\xFF\xFE\x00\x07", 4));  // found whatever its case
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("h.ers"))) << in.GetErrorText();
  auto& r = static_cast<ErsReader&>(*in.GetReader());
  EXPECT_EQ("25.5 1, 87.25 200.5,  \"NAD27\" , cell 0.5 0.5 at 100 200", Placement(r));
  EXPECT_EQ("\"WGS84\"", r.Header->WarpDatum);
  EXPECT_EQ(CoordinateType::kLatLong, r.GetCoordinateType());
  ASSERT_EQ(1, r.GetControlPoints()->Count());
  EXPECT_TRUE(r.GetControlPoints()->Point(0)->Flag2);
  EXPECT_EQ(4, r.GetControlPoints()->Point(0)->MapY);
  float v = 0;
  ASSERT_TRUE(r.GetCell(1, 0, 0, v));
  EXPECT_EQ(7, v);
  // Registration cell (0.5, 0.5) at (100, 200): that point rounds to cell (0, 0).
  ASSERT_TRUE(in.GetValue(0, v, 100, 200, 0));
  EXPECT_EQ(-2, v);
}

TEST(ErsReader, BadHeadersFailWithTheirMessage) {
  TempDir dir;
  ErsSource s;
  dir.WriteFile("osd.ers", "OrthoSetDataHeader [\n");
  ErsReader reader;
  EXPECT_FALSE(reader.Open(dir.Path("osd.ers")));
  EXPECT_EQ("Header " + ShortenPath(dir.Path("osd.ers"), 20) + " reading error ", reader.ErrorText);
  std::string bad = s.HeaderText();
  bad.replace(bad.find("NrOfLines\t= 1"), 13, "NrOfLines\t= abc");
  dir.WriteFile("bad.ers", bad);
  dir.WriteFile("bad", "a");
  dir.WriteFile("nodata.ers", s.HeaderText());
  const std::pair<const char*, std::string> cases[] = {
      {"bad.ers", "Header value of NrOfLines is not a valid count: 'ABC'"},
      {"nodata.ers", "Open Map Read Error=2 No such file or directory"},
      {"gone.ers", "No file: " + dir.Path("gone.ers")}};
  for (const auto& [name, message] : cases) {
    Source in;
    EXPECT_FALSE(in.Open(dir.Path(name))) << name;
    EXPECT_EQ(message, in.GetErrorText());
  }
}

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

TEST(ErsReader, PaddedDataReadsAsTheGridShortDataIsRefused) {
  const struct {
    uint32_t width, lines, bands;
    const char* cell_type;
    int extra;  // bytes after (or, negative, missing from) the grid's cells
    const char* error;
  } cases[] = {
      {2, 2, 1, "Unsigned8BitInteger", 2, ""},
      {3, 2, 2, "Signed16BitInteger", 513, ""},
      {3, 2, 2, "Signed16BitInteger", -1, "holds 23 bytes; its header describes 24"},
      {2, 2, 1, "Unsigned8BitInteger", -4, "holds 0 bytes; its header describes 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cell_type) + " with " + std::to_string(c.extra));
    TempDir dir;
    ErsSource s = Grid(c.width, c.lines, c.bands, "1", "1", "0", "0", c.cell_type);
    s.data = MakeCells(s, Pattern);
    s.data.resize(s.data.size() + c.extra, '\xEE');
    s.Write(dir.Path("m"));
    Source in;
    EXPECT_EQ(!*c.error, in.Open(dir.Path("m.ers")));
    if (*c.error)
      EXPECT_EQ("Data file " + dir.Path("m") + " " + c.error, in.GetErrorText());
    else
      ExpectCells(*in.GetReader(), c.width, c.lines, c.bands, Pattern, false);
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

// Other programs name float cells "IEEE4ByteReal"; cells of a type without
// a decoder would clip to garbage reported as a success.
TEST(HeaderReaders, AcceptOnlyCellTypesTheyDecode) {
  const std::pair<const char*, size_t> cases[] = {
      {"IEEE4ByteReal", 4}, {"ieee4bytereal", 4}, {"Signed32BitSingle", 4},
      {"IEEE8ByteReal", 8}, {"ONEBIT", 1},        {"Unsigned32BitInteger", 4},
      {"Complex64", 8}};
  for (const auto& [name, bytes] : cases)
    for (const bool osd : {false, true}) {
      SCOPED_TRACE(std::string(name) + (osd ? " in OrthoSetData" : " in ER Mapper"));
      TempDir dir;
      ErsSource s;
      s.cell_type = name;
      dir.WriteFile(osd ? "c.osd" : "c.ers",
                    osd ? std::string("OrthoSetDataHeader [\n  CellType = ") + name +
                              "\n  NrOfLines = 1\n  NrOfCellsPerLine = 1\n  NrOfBands = 1\n"
                        : s.HeaderText());
      dir.WriteFile("c", (Le<float>({2.5f}) + std::string(4, '\0')).substr(0, bytes));
      Source in;
      const bool readable = bytes == 4 && std::string(name) != "Unsigned32BitInteger";
      EXPECT_EQ(readable, in.Open(dir.Path(osd ? "c.osd" : "c.ers")));
      float v = 0;
      if (readable)
        EXPECT_TRUE(in.GetReader()->GetCell(0, 0, 0, v) && v == 2.5f) << v;
      else
        EXPECT_EQ(std::string("Cell type not supported: ") + name, in.GetErrorText());
    }
}

}  // namespace
}  // namespace clipra
