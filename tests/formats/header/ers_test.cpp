#include "formats/header/ers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

// The header text with the time-stamp line's value blanked.
std::string WithoutTimeStamp(std::string text) {
  const std::string key = "  LastUpdated = ";
  const size_t at = text.find(key);
  if (at != std::string::npos) {
    const size_t end = text.find("\r\n", at);
    text.replace(at + key.size(), end - at - key.size(), "*");
  }
  return text;
}

std::string CrLf(const std::string& lf_text) {
  std::string out;
  for (char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(ErsWriter, RawOutputHeaderTemplate) {
  TempDir dir;
  {
    Output out(dir.Path("raw.ers"), 300, 200, 1, 3, 1);
    out.SetGeoreference({0.5, 0.5, 0, 0, 4521.12345, 10, "", "\"RAW\"", "RAW"});
  }
  EXPECT_EQ(CrLf(R"(DatasetHeader Begin
  Version   = "1.0"
  LastUpdated = *
  DataSetType = ERStorage
  DataType = Raster
  ByteOrder = LSBFirst
  CoordinateSpace Begin
    Datum      = "RAW"
    Projection = "RAW"
    CoordinateType  = RAW
    Rotation = 0:0:0.0
  CoordinateSpace End
  RasterInfo Begin
    CellType = UNSIGNED8BITINTEGER
    NullCellValue = 0
    CellInfo Begin
      Xdimension = 0.500
      Ydimension = 0.500
    CellInfo End
    NrOfLines = 200
    NrOfCellsPerLine = 300
    NrOfBands = 3
    BandId Begin
      Value="Red Layer"
    BandId End
    BandId Begin
      Value="Green Layer"
    BandId End
    BandId Begin
      Value="Blue Layer"
    BandId End
  RasterInfo End
DatasetHeader End
)"),
            WithoutTimeStamp(dir.ReadFile("raw.ers")));
  EXPECT_EQ(180000u, dir.ReadFile("raw").size());
}

TEST(ErsWriter, EnOutputWithControlPointsAndFourBands) {
  TempDir dir;
  {
    Output out(dir.Path("en.ers"), 2, 1, 3, 4, 1);
    out.SetGeoreference({2, 2, 0, 0, 4521.12345, 6100000.5, "WGS84", "WGS84", "SUTM33"});
    ControlPoint p;
    p.Name = "P1";
    p.Active = true;
    p.CellX = 1;
    p.CellY = 2.5;
    p.MapX = 300;
    p.MapY = 400.25;
    p.MapZ = 9;
    out.GetWriter()->AddControlPoint(&p);
  }
  const std::string text = WithoutTimeStamp(dir.ReadFile("en.ers"));
  const std::string expected_start = CrLf(R"(  CoordinateSpace Begin
    Datum      = "WGS84"
    Projection = "SUTM33"
    CoordinateType  = EN
    Units   = "METERS"
    Rotation = 0:0:0.0
  CoordinateSpace End
  RasterInfo Begin
    CellType = SIGNED16BITINTEGER
    NullCellValue = 0
    CellInfo Begin
      Xdimension = 2.000
      Ydimension = 2.000
    CellInfo End
    NrOfLines = 1
    NrOfCellsPerLine = 2
    RegistrationCoord Begin
      Eastings = 4521.123
      Northings = 6100000.500
    RegistrationCoord End
    RegistrationCellX = 0.000
    RegistrationCellY = 0.000
    NrOfBands = 4
)");
  EXPECT_NE(std::string::npos, text.find(expected_start)) << text;
  const std::string warp = CrLf(
      "    WarpControl Begin\n"
      "      WarpType\t= Polynomial\n"
      "      WarpSampling\t= Nearest\n"
      "      CoordinateSpace Begin\n"
      "        Datum      = \"\"\n"
      "        Projection = \"\"\n"
      "        CoordinateType  = EN\n"
      "        Units      = \"METERS\"\n"
      "        Rotation\t= 0:0:0.0\n"
      "      CoordinateSpace End\n"
      "      ControlPoints\t= {\n"
      "\t\t\tP1\tYes\tNo\t     1.000\t     2.500\t   300.000\t   400.250\n"
      "      }\n"
      "    WarpControl End\n"
      "  RasterInfo End\n"
      "DatasetHeader End\n");
  EXPECT_NE(std::string::npos, text.find(warp)) << text;
  // Band names repeat from the fourth band on.
  size_t red = 0, count = 0;
  while ((red = text.find("Value=\"Red Layer\"", red + 1)) != std::string::npos) ++count;
  EXPECT_EQ(2u, count);
  EXPECT_EQ(16u, dir.ReadFile("en").size());
}

TEST(ErsWriter, FailuresArriveAsDataSetErrors) {
  TempDir dir;
  try {
    Output out(dir.Path("zero.ers"), 1, 1, 1, 0, 1);
    FAIL() << "no error";
  } catch (const DatasetError& e) {
    EXPECT_STREQ("MMapFile 0 Bands", e.what());
  }
  try {
    Output out(dir.Path("nofolder/x.ers"), 1, 1, 1, 1, 1);
    FAIL() << "no error";
  } catch (const DatasetError& e) {
    EXPECT_EQ("Open Map write error 2 No such file or directory", std::string(e.what()));
  }
}

TEST(ErsReader, KeywordsAreCaseInsensitiveSubstringsAndNumbersTolerant) {
  TempDir dir;
  dir.WriteFile("h.ers",
                "DatasetHeader Begin\r\n"
                " coordinatespace begin\n"
                "  datum= \"nad27\" \n"
                "  projection = \"tm\"\n"
                "  coordinatetype = latlong\n"
                " coordinatespace end\n"
                " xdimension=  25,5  \n"
                " YDimension = letters\n"
                " nrofcellsperline = 2\n"
                " NrOfLines = 1\n"
                " NrOfBands = 1\n"
                " CellType = Signed16BitInteger\n"
                " ByteOrder = MSBFirst\n"
                " Eastings = 100\n"
                " Northings = 200\n"
                " RegistrationCellX = 0.5\n"
                " RegistrationCellY = 0.5\n"
                " WarpControl Begin\n"
                "  Datum = \"WGS84\"\n"
                "  ControlPoints = {\n"
                "   \"a\" Yes Yes 1 2 3 4 5\n"
                "  }\n"
                " WarpControl End\n"
                "DatasetHeader End\n");
  dir.WriteFile("h", std::string("\xFF\xFE\x00\x07", 4));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("h.ers"))) << in.GetErrorText();
  auto& r = static_cast<ErsReader&>(*in.GetReader());
  EXPECT_EQ(25.5, r.GetCellSizeX());
  EXPECT_EQ(1.0, r.GetCellSizeY());
  EXPECT_EQ("\"NAD27\"", r.GetGeoreference().Datum);
  EXPECT_EQ("\"WGS84\"", r.Header->WarpDatum);
  EXPECT_EQ(kCoordLatLong, r.GetCoordinateType());
  EXPECT_EQ(1, r.IsMSBFirst());
  EXPECT_EQ(100 - 0.5 * 25.5, r.GetLeftX());
  EXPECT_EQ(200.5, r.GetTopY());
  ASSERT_EQ(1, r.GetControlPoints()->Count());
  EXPECT_TRUE(r.GetControlPoints()->Point(0)->Flag2);
  EXPECT_EQ(4, r.GetControlPoints()->Point(0)->MapY);
  float v = 0;
  ASSERT_TRUE(r.GetCell(0, 0, 0, v));
  EXPECT_EQ(-2, v);
  ASSERT_TRUE(r.GetCell(1, 0, 0, v));
  EXPECT_EQ(7, v);
  // Registration cell (0.5, 0.5) at (100, 200): that point rounds to cell (0, 0).
  float at = 0;
  ASSERT_TRUE(in.GetValue(0, at, 100, 200, 0));
  EXPECT_EQ(-2, at);
}

TEST(ErsReader, BadHeadersFailWithTheirMessage) {
  TempDir dir;
  ErsSource s;
  s.width = 2;
  s.data = "ab";
  s.Write(dir.Path("good"));
  dir.WriteFile("osd.ers", "OrthoSetDataHeader [\n");
  ErsReader reader;
  EXPECT_FALSE(reader.Open(dir.Path("osd.ers")));
  EXPECT_EQ("Header " + ShortenPath(dir.Path("osd.ers"), 20) + " reading error ", reader.ErrorText);
  Source in;

  std::string text = s.HeaderText();
  text.replace(text.find("NrOfLines\t= 1"), 13, "NrOfLines\t= abc");
  dir.WriteFile("bad.ers", text);
  dir.WriteFile("bad", "ab");
  EXPECT_FALSE(in.Open(dir.Path("bad.ers")));
  EXPECT_EQ("Header value of NrOfLines is not a valid count: 'ABC'", in.GetErrorText());

  dir.WriteFile("nodata.ers", s.HeaderText());
  EXPECT_FALSE(in.Open(dir.Path("nodata.ers")));
  EXPECT_EQ("Open Map Read Error=2 No such file or directory", in.GetErrorText());

  EXPECT_FALSE(in.Open(dir.Path("gone.ers")));
  EXPECT_EQ("No file: " + dir.Path("gone.ers"), in.GetErrorText());
}

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

TEST(ErsReader, PaddedDataReadsAsTheGridShortDataIsRefused) {
  struct Case {
    uint32_t width, lines, bands;
    const char* cell_type;
    int extra;  // bytes after (or, negative, missing from) the grid's cells
    const char* error;
  };
  const Case cases[] = {
      {2, 2, 1, "Unsigned8BitInteger", 0, ""},
      {2, 2, 1, "Unsigned8BitInteger", 2, ""},
      {3, 2, 2, "Signed16BitInteger", 513, ""},
      {2, 2, 1, "Unsigned8BitInteger", -1, "holds 3 bytes; its header describes 4"},
      {3, 2, 2, "Signed16BitInteger", -1, "holds 23 bytes; its header describes 24"},
      {2, 2, 1, "Unsigned8BitInteger", -4, "holds 0 bytes; its header describes 4"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ErsSource s;
    s.width = c.width;
    s.lines = c.lines;
    s.bands = c.bands;
    s.cell_type = c.cell_type;
    s.data = MakeCells(s, Pattern);
    const std::string cells = s.data;
    s.data = c.extra < 0 ? s.data.substr(0, s.data.size() + c.extra)
                         : s.data + std::string(c.extra, '\xEE');
    s.Write(dir.Path("m"));
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.lines) + " with " +
                 std::to_string(c.extra));
    Source in;
    if (*c.error) {
      EXPECT_FALSE(in.Open(dir.Path("m.ers")));
      EXPECT_EQ("Data file " + dir.Path("m") + " " + c.error, in.GetErrorText());
      continue;
    }
    ASSERT_TRUE(in.Open(dir.Path("m.ers"))) << in.GetErrorText();
    const RasterReader& r = *in.GetReader();
    EXPECT_EQ(c.width, r.Width);
    EXPECT_EQ(c.lines, r.Lines);
    EXPECT_EQ(c.bands, r.Bands);
    std::vector<float> want;
    for (uint32_t y = 0; y < c.lines; ++y)
      for (uint32_t b = 0; b < c.bands; ++b)
        for (uint32_t x = 0; x < c.width; ++x) want.push_back(static_cast<float>(Pattern(x, y, b)));
    EXPECT_EQ(want, ReadAllCells(dir.Path("m.ers")));
  }
}

// A grid above the reader's 128 MiB view with two bytes of padding: its
// lines fit the view one by one.
TEST(ErsReader, PaddedDataAboveTheViewReadsAsTheGrid) {
  TempDir dir;
  ErsSource s;
  s.width = 4096;
  s.lines = 32769;
  s.Write(dir.Path("big"));
  std::filesystem::resize_file(dir.Path("big"), uint64_t{4096} * 32769 + 2);
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("big.ers"))) << in.GetErrorText();
  float v = -1;
  ASSERT_TRUE(in.GetReader()->GetCell(4095, 32768, 0, v));
  EXPECT_EQ(0, v);
}

// Other programs name float cells "IEEE4ByteReal"; cells of a type without
// a decoder would clip to garbage reported as a success.
TEST(HeaderReaders, CellTypeNamesAsOtherProgramsWriteThem) {
  struct Case {
    const char* name;
    size_t bytes;
    bool readable;
  };
  const Case cases[] = {
      {"IEEE4ByteReal", 4, true},
      {"ieee4bytereal", 4, true},
      {"Signed32BitSingle", 4, true},
      {"IEEE8ByteReal", 8, false},
      {"Unsigned32BitInteger", 4, false},
      {"ONEBIT", 1, false},
      {"Complex64", 8, false},
  };
  for (const Case& c : cases) {
    for (const bool osd : {false, true}) {
      TempDir dir;
      const std::string header =
          osd ? std::string("OrthoSetDataHeader [\n  CellType = ") + c.name +
                    "\n  NrOfLines = 1\n  NrOfCellsPerLine = 1\n  NrOfBands = 1\n"
              : [&] {
                  ErsSource s;
                  s.cell_type = c.name;
                  return s.HeaderText();
                }();
      dir.WriteFile(osd ? "c.osd" : "c.ers", header);
      uint8_t cell[8] = {};
      write_le<float>(cell, 2.5f);
      dir.WriteFile("c", std::string(reinterpret_cast<char*>(cell), c.bytes));
      SCOPED_TRACE(std::string(c.name) + (osd ? " in OrthoSetData" : " in ER Mapper"));
      Source in;
      if (!c.readable) {
        EXPECT_FALSE(in.Open(dir.Path(osd ? "c.osd" : "c.ers")));
        EXPECT_EQ(std::string("Cell type not supported: ") + c.name, in.GetErrorText());
        continue;
      }
      ASSERT_TRUE(in.Open(dir.Path(osd ? "c.osd" : "c.ers"))) << in.GetErrorText();
      EXPECT_EQ(kCellFloat32, in.GetCellType());
      float v = 0;
      ASSERT_TRUE(in.GetReader()->GetCell(0, 0, 0, v));
      EXPECT_EQ(2.5f, v);
    }
  }
}

// GDAL opens float cells only under the name other programs use; the
// OrthoSetData header keeps the system's own.
TEST(ErsWriter, FloatCellsAreWrittenAsIeee4ByteReal) {
  TempDir dir;
  for (const char* name : {"f.ers", "f.osd"}) {
    Output out(dir.Path(name), 1, 1, kCellFloat32, 1, 1);
  }
  EXPECT_NE(std::string::npos, dir.ReadFile("f.ers").find("    CellType = IEEE4ByteReal\r\n"));
  EXPECT_NE(std::string::npos,
            dir.ReadFile("f.osd").find("    CellType   = SIGNED32BITSINGLE\r\n"));
}

TEST(ErsReader, DataFileFoundWhateverItsCase) {
  TempDir dir;
  ErsSource s;
  s.data = "x";
  s.Write(dir.Path("Ortho"));
  std::rename(dir.Path("Ortho").c_str(), dir.Path("ORTHO").c_str());
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("Ortho.ers"))) << in.GetErrorText();
  float v = 0;
  ASSERT_TRUE(in.GetReader()->GetCell(0, 0, 0, v));
  EXPECT_EQ('x', v);
}

TEST(ErsRoundTrip, WriterThenReaderKeepsCellsAndGeoreference) {
  TempDir dir;
  {
    Output out(dir.Path("rt.ers"), 3, 2, 3, 1, 1);
    out.SetGeoreference({2.5, 2.5, 0, 0, 500000, 6100000, "", "\"WGS84\"", "\"SUTM33\""});
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, 0, -1000.0 * x + y + 0.5);
  }
  uint32_t w = 0, h = 0;
  const std::vector<float> c = ReadAllCells(dir.Path("rt.ers"), &w, &h);
  EXPECT_EQ((std::vector<float>{0, -1000, -2000, 2, -998, -1998}), c);  // ties to even
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("rt.ers")));
  EXPECT_EQ(500000, in.GetReader()->GetLeftX());
  EXPECT_EQ(6100000, in.GetReader()->GetTopY());
  EXPECT_EQ("\"SUTM33\"", in.GetReader()->GetGeoreference().Projection);
}

}  // namespace
}  // namespace clipra
