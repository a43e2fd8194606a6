#include "formats/header/dtm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// Little-endian fields appended one after the other.
class Bytes {
 public:
  template <typename T>
  Bytes& Add(T v) {
    char b[sizeof(T)];
    write_le<T>(b, v);
    bytes_.append(b, sizeof(T));
    return *this;
  }
  std::string str() const { return bytes_; }

 private:
  std::string bytes_;
};

struct Grid {
  int32_t width = 3;
  int32_t lines = 2;
  float x = 100.25f;
  float y = 200.5f;
  float cell_x = 2.0f;
  float cell_y = 2.0f;
  int32_t skip = 0;
  std::vector<float> cells = {1, 2, 3, 4, 5, 6};
};

std::string DtmFile(const Grid& g) {
  Bytes b;
  for (float s : {-1.0f, -1.0f, 0.0f, 0.0f, -1.0f, -1.0f}) b.Add(s);
  b.Add(g.x).Add(g.y).Add(g.width).Add(g.lines).Add(g.cell_x).Add(g.cell_y).Add(g.skip);
  for (float v : g.cells) b.Add(v);
  return b.str();
}

float FloatAt(const std::string& bytes, size_t offset) {
  return read_le<float>(bytes.data() + offset);
}

int32_t IntAt(const std::string& bytes, size_t offset) {
  return read_le<int32_t>(bytes.data() + offset);
}

class DtmReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` as a ".dtm" file through the reading facade.
  bool OpenBytes(const std::string& bytes) {
    dir_.WriteFile("grid.dtm", bytes);
    return set_.Open(dir_.Path("grid.dtm"), 0, 0, 1, 1, 0);
  }
  float Cell(uint32_t x, uint32_t y, bool expect_ok = true) {
    float v = -1;
    EXPECT_EQ(expect_ok, set_.GetReader()->GetCell(x, y, 0, v)) << x << "," << y;
    return v;
  }

  TempDir dir_;
  TDataSet2 set_;
};

TEST_F(DtmReaderTest, ReadsHeaderIntoTheRasterModel) {
  ASSERT_TRUE(OpenBytes(DtmFile(Grid{}))) << set_.GetErrorText();
  TDataSetRoot2* r = set_.GetReader();
  ASSERT_NE(nullptr, dynamic_cast<TDtmMap2*>(r));
  EXPECT_EQ(3u, r->GetWidth());
  EXPECT_EQ(2u, r->GetLines());
  EXPECT_EQ(1u, r->GetBands());
  EXPECT_EQ(kCellFloat32, r->GetCellType());
  EXPECT_EQ(0, r->IsMSBFirst());
  EXPECT_DOUBLE_EQ(100.25, r->GetLeftX());
  EXPECT_DOUBLE_EQ(200.5, r->GetTopY());
  EXPECT_DOUBLE_EQ(2.0, r->GetCellSizeX());
  EXPECT_EQ("", r->GetDatum());
  EXPECT_EQ("", r->GetProjection());
  EXPECT_EQ("", r->GetSpheroid());
  EXPECT_FALSE(r->HasPlainLayout());
}

TEST_F(DtmReaderTest, ReadsCellsLineByLineFromTheTop) {
  ASSERT_TRUE(OpenBytes(DtmFile(Grid{})));
  EXPECT_EQ(1.0f, Cell(0, 0));
  EXPECT_EQ(3.0f, Cell(2, 0));
  EXPECT_EQ(4.0f, Cell(0, 1));
  EXPECT_EQ(6.0f, Cell(2, 1));
  EXPECT_EQ(0.0f, Cell(3, 0, false));
  EXPECT_EQ(0.0f, Cell(0, 2, false));
  // Map points go through the same cells: (102.25, 198.5) is cell (1, 1).
  float v = 0;
  ASSERT_TRUE(set_.GetValue(0, v, 102.25, 198.5, 0));
  EXPECT_EQ(5.0f, v);
}

TEST_F(DtmReaderTest, CellSkipShiftsEveryCell) {
  Grid g;
  g.skip = 10;
  g.cells.assign(16, 0.0f);
  g.cells[10] = 11.5f;      // byte 92: cell (0, 0)
  g.cells[10 + 4] = 15.5f;  // cell (1, 1)
  const std::string bytes = DtmFile(g);
  ASSERT_EQ(11.5f, FloatAt(bytes, 92));
  ASSERT_TRUE(OpenBytes(bytes));
  EXPECT_EQ(11.5f, Cell(0, 0));
  EXPECT_EQ(15.5f, Cell(1, 1));
}

TEST_F(DtmReaderTest, NegativeCellSkipLeavesCellsBeforeTheDataUnread) {
  Grid g;
  g.skip = -2;
  ASSERT_TRUE(OpenBytes(DtmFile(g))) << set_.GetErrorText();
  // Cells 0 and 1 would fall into the header.
  EXPECT_EQ(0.0f, Cell(0, 0, false));
  EXPECT_EQ(0.0f, Cell(1, 0, false));
  EXPECT_EQ(1.0f, Cell(2, 0));
  EXPECT_EQ(4.0f, Cell(2, 1));
}

TEST_F(DtmReaderTest, CellsBeyondTheEndOfTheFileReadFalse) {
  Grid g;
  g.width = 4;
  g.lines = 4;
  g.cells = {1, 2, 3, 4, 5};
  ASSERT_TRUE(OpenBytes(DtmFile(g) + "xy"));  // a partial sixth cell
  EXPECT_EQ(5.0f, Cell(0, 1));
  EXPECT_EQ(0.0f, Cell(1, 1, false));
  EXPECT_EQ(0.0f, Cell(3, 3, false));
}

TEST_F(DtmReaderTest, HugeDimensionsStayInsideTheFile) {
  Grid g;
  g.width = INT32_MAX;
  g.lines = INT32_MAX;
  g.cells.assign(4, 7.0f);
  g.cells[3] = 9.0f;
  g.skip = 3;
  ASSERT_TRUE(OpenBytes(DtmFile(g))) << set_.GetErrorText();
  EXPECT_EQ(9.0f, Cell(0, 0));
  EXPECT_EQ(0.0f, Cell(1, 0, false));
  EXPECT_EQ(0.0f, Cell(UINT32_MAX / 2 - 1, UINT32_MAX / 2 - 1, false));
}

TEST_F(DtmReaderTest, HeaderDescribingNoCellOfTheFileFailsTheOpen) {
  struct Case {
    int32_t width, lines, skip;
  };
  for (const Case c : {Case{-3, 2, 0}, Case{3, 0, 0}, Case{3, -2, 0}, Case{3, 2, 6},
                       Case{3, 2, INT32_MAX}, Case{3, 2, -6}, Case{INT32_MIN, INT32_MIN, 0}}) {
    Grid g;
    g.width = c.width;
    g.lines = c.lines;
    g.skip = c.skip;
    EXPECT_FALSE(OpenBytes(DtmFile(g))) << c.width << " " << c.lines << " " << c.skip;
    EXPECT_EQ(0u, set_.GetErrorText().find("DTM grid ")) << set_.GetErrorText();
    EXPECT_NE(std::string::npos,
              set_.GetErrorText().find("holds none of its cells: width " + std::to_string(c.width) +
                                       ", lines " + std::to_string(c.lines) + ", cell skip " +
                                       std::to_string(c.skip) + " in a file of 76 bytes"))
        << set_.GetErrorText();
  }
  // The header alone holds no cell at all.
  Grid g;
  g.cells.clear();
  EXPECT_FALSE(OpenBytes(DtmFile(g)));
  EXPECT_NE(std::string::npos, set_.GetErrorText().find("in a file of 52 bytes"));
}

TEST_F(DtmReaderTest, RefusesShortFilesAndWrongSignatures) {
  TDtmMap2 reader;
  dir_.WriteFile("short.dtm", DtmFile(Grid{}).substr(0, 51));
  EXPECT_FALSE(reader.Open(dir_.Path("short.dtm"), 0, 0, 1, 1, 0));
  EXPECT_EQ("Header " + ShortenPath(dir_.Path("short.dtm"), 20) + " reading error ",
            reader.ErrorText);
  EXPECT_EQ(1, reader.Header->Status);

  std::string bytes = DtmFile(Grid{});
  write_le<float>(bytes.data(), 1.0f);
  dir_.WriteFile("sig.dtm", bytes);
  TDtmMap2 wrong;
  EXPECT_FALSE(wrong.Open(dir_.Path("sig.dtm"), 0, 0, 1, 1, 0));
  EXPECT_EQ("Header " + ShortenPath(dir_.Path("sig.dtm"), 20) + " reading error ", wrong.ErrorText);

  TDtmMap2 missing;
  EXPECT_FALSE(missing.Open(dir_.Path("none.dtm"), 0, 0, 1, 1, 0));
  EXPECT_EQ(2, missing.Header->Status);
}

TEST_F(DtmReaderTest, NegativeZeroSignatureIsAccepted) {
  std::string bytes = DtmFile(Grid{});
  write_le<float>(bytes.data() + 8, -0.0f);
  write_le<float>(bytes.data() + 12, -0.0f);
  ASSERT_TRUE(OpenBytes(bytes)) << set_.GetErrorText();
  EXPECT_EQ(6.0f, Cell(2, 1));
}

TEST_F(DtmReaderTest, ReaderCreatesNoGridsAndWritesNoCells) {
  TDtmMap2 reader;
  EXPECT_FALSE(reader.Open(dir_.Path("new.dtm"), 3, 2, 6, 1, 1));
  EXPECT_FALSE(FileExists(dir_.Path("new.dtm")));
  ASSERT_TRUE(OpenBytes(DtmFile(Grid{})));
  EXPECT_FALSE(set_.GetReader()->SetCell(0, 0, 0, 9.0f));
}

class DtmWriterTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(DtmWriterTest, OutputOf3x2Is76BytesWithCell21AtOffset72) {
  {
    TDtmMap w(dir_.Path("out.dtm"), 3, 2, kCellFloat32, 1, 1);
    w.SetGeoreference("", "", 2.0, 2.0, 0, 0, 100.25, 200.5, "");
    EXPECT_TRUE(w.SetCell(2, 1, 0, 7.5));
    EXPECT_TRUE(w.SetCell(0, 0, 0, -3.25));
  }
  const std::string bytes = dir_.ReadFile("out.dtm");
  ASSERT_EQ(76u, bytes.size());
  EXPECT_EQ(7.5f, FloatAt(bytes, 72));
  EXPECT_EQ(-3.25f, FloatAt(bytes, 52));
  const float signature[6] = {-1, -1, 0, 0, -1, -1};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(signature[i], FloatAt(bytes, 4 * i)) << i;
  EXPECT_EQ(100.25f, FloatAt(bytes, 24));
  EXPECT_EQ(200.5f, FloatAt(bytes, 28));
  EXPECT_EQ(3, IntAt(bytes, 32));
  EXPECT_EQ(2, IntAt(bytes, 36));
  EXPECT_EQ(2.0f, FloatAt(bytes, 40));
  EXPECT_EQ(2.0f, FloatAt(bytes, 44));
  EXPECT_EQ(0, IntAt(bytes, 48));
}

TEST_F(DtmWriterTest, HeaderIsWrittenAtSetGeoreference) {
  TDtmMap w(dir_.Path("out.dtm"), 3, 2, kCellFloat32, 1, 1);
  EXPECT_EQ(std::string(52, '\0'), std::string(reinterpret_cast<char*>(w.Data), 52));
  w.SetGeoreference("", "", 0.5, 0.5, 0, 0, 100.3, 7.0, "");
  const float easting = read_le<float>(w.Data + 24);
  EXPECT_EQ(100.3f, easting);  // the nearest float
  EXPECT_NE(100.3, static_cast<double>(easting));
  EXPECT_EQ(0.5f, read_le<float>(w.Data + 40));
  EXPECT_EQ(3, read_le<int32_t>(w.Data + 32));
}

TEST_F(DtmWriterTest, CellsAreFloatsWhateverTheSourceCellType) {
  {
    TDtmMap w(dir_.Path("out.dtm"), 2, 1, kCellUnsigned8, 3, 1);
    EXPECT_EQ(kCellFloat32, w.GetCellType());
    EXPECT_EQ(3u, w.GetBands());
    w.SetGeoreference("", "", 1, 1, 0, 0, 0, 0, "");
    EXPECT_TRUE(w.SetCell(0, 0, 0, 200));
    // Every band lands on the same cell: the last one written stays.
    for (uint32_t b = 0; b < 3; ++b) EXPECT_TRUE(w.SetCell(1, 0, b, 10.0 + b));
    EXPECT_FALSE(w.SetCell(2, 0, 0, 1));
    EXPECT_FALSE(w.SetCell(0, 1, 0, 1));
  }
  const std::string bytes = dir_.ReadFile("out.dtm");
  ASSERT_EQ(60u, bytes.size());
  EXPECT_EQ(200.0f, FloatAt(bytes, 52));
  EXPECT_EQ(12.0f, FloatAt(bytes, 56));
}

TEST_F(DtmWriterTest, CreationFailureRaisesWithTheSystemText) {
  const std::string path = dir_.Path("no-such-folder/out.dtm");
  try {
    TDtmMap w(path, 3, 2, kCellFloat32, 1, 1);
    FAIL() << "no exception";
  } catch (const EDtmMapError& e) {
    EXPECT_EQ("Open map write error=" + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT),
              e.what());
  }
  // The facade passes the same text on.
  try {
    TDataSet set(path, 3, 2, kCellFloat32, 1, 1);
    FAIL() << "no exception";
  } catch (const EDataSetError& e) {
    EXPECT_EQ("Open map write error=" + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT),
              e.what());
  }
  EXPECT_THROW(TDtmMap(dir_.Path("zero.dtm"), 3, 2, kCellFloat32, 0, 1), EDtmMapError);
}

TEST_F(DtmWriterTest, RoundTripsThroughTheFacades) {
  {
    TDataSet out(dir_.Path("rt.dtm"), 4, 3, kCellSigned16, 1, 1);
    ASSERT_NE(nullptr, dynamic_cast<TDtmMap*>(out.GetWriter()));
    EXPECT_FALSE(out.GetWriter()->StoresByIndex());
    out.SetGeoreference("WGS84", "WGS84", 0.5, 0.5, 0, 0, 4000.5, 9000.25, "NUTM33");
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) EXPECT_TRUE(out.PutValue(x, y, 0, x * 10.0 + y + 0.5));
  }
  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir_.Path("rt.dtm"), 0, 0, 1, 1, 0)) << in.GetErrorText();
  TDataSetRoot2* r = in.GetReader();
  EXPECT_EQ(4u, r->GetWidth());
  EXPECT_EQ(3u, r->GetLines());
  EXPECT_EQ(1u, r->GetBands());
  EXPECT_EQ(kCellFloat32, r->GetCellType());
  EXPECT_DOUBLE_EQ(0.5, r->GetCellSizeX());
  EXPECT_DOUBLE_EQ(0.5, r->GetCellSizeY());
  EXPECT_DOUBLE_EQ(4000.5, r->GetLeftX());
  EXPECT_DOUBLE_EQ(9000.25, r->GetTopY());
  EXPECT_EQ("", r->GetDatum());
  EXPECT_EQ("", r->GetProjection());
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 4; ++x) {
      float v = 0;
      ASSERT_TRUE(r->GetCell(x, y, 0, v));
      EXPECT_EQ(static_cast<float>(x * 10.0 + y + 0.5), v) << x << "," << y;
    }
  }
}

// An ER Mapper raster of float cells: header text plus raw little-endian data.
void WriteErsSource(const TempDir& dir, const std::string& name, int width, int lines) {
  const std::string header =
      "DatasetHeader Begin\r\n"
      "  ByteOrder = LSBFirst\r\n"
      "  CoordinateSpace Begin\r\n"
      "    Datum      = \"WGS84\"\r\n"
      "    Projection = \"NUTM33\"\r\n"
      "    CoordinateType  = EN\r\n"
      "  CoordinateSpace End\r\n"
      "  RasterInfo Begin\r\n"
      "    CellType = Signed32BitSingle\r\n"
      "    CellInfo Begin\r\n"
      "      Xdimension = 2.0\r\n"
      "      Ydimension = 2.0\r\n"
      "    CellInfo End\r\n"
      "    NrOfLines = " +
      std::to_string(lines) +
      "\r\n"
      "    NrOfCellsPerLine = " +
      std::to_string(width) +
      "\r\n"
      "    RegistrationCoord Begin\r\n"
      "      Eastings = 1000.0\r\n"
      "      Northings = 2000.0\r\n"
      "    RegistrationCoord End\r\n"
      "    NrOfBands = 1\r\n"
      "  RasterInfo End\r\n"
      "DatasetHeader End\r\n";
  Bytes data;
  for (int y = 0; y < lines; ++y)
    for (int x = 0; x < width; ++x) data.Add(static_cast<float>(x * 1.5 + y * 100 + 0.25));
  dir.WriteFile(name + ".ers", header);
  dir.WriteFile(name, data.str());
}

TEST(DtmClip, ErsThroughDtmAndBackMatchesADirectClip) {
  TempDir dir;
  WriteErsSource(dir, "src", 6, 5);
  // Columns 1 to 7 and lines 2 to 7: the last column and three lines lie outside.
  const std::string area = "-A1002:1996:1014:1986";
  CliResult r = RunClipra({area, dir.Path("src.ers"), dir.Path("mid.dtm")});
  ASSERT_EQ(0, r.code) << r.err;
  r = RunClipra({area, dir.Path("mid.dtm"), dir.Path("back.ers")});
  ASSERT_EQ(0, r.code) << r.err;
  r = RunClipra({area, dir.Path("src.ers"), dir.Path("direct.ers")});
  ASSERT_EQ(0, r.code) << r.err;

  const std::string mid = dir.ReadFile("mid.dtm");
  ASSERT_EQ(52u + 4 * 7 * 6, mid.size());
  EXPECT_EQ(1002.0f, FloatAt(mid, 24));
  EXPECT_EQ(1996.0f, FloatAt(mid, 28));

  const std::string back = dir.ReadFile("back");
  const std::string direct = dir.ReadFile("direct");
  ASSERT_EQ(4u * 7 * 6, direct.size());
  ASSERT_EQ(direct.size(), back.size());
  for (size_t i = 0; i < direct.size() / 4; ++i)
    EXPECT_EQ(FloatAt(direct, 4 * i), FloatAt(back, 4 * i)) << "cell " << i;
  // Output (0, 0) is source (1, 2); the column past the source is 0.
  EXPECT_EQ(1.5f + 200 + 0.25f, FloatAt(back, 0));
  EXPECT_EQ(0.0f, FloatAt(back, 4 * 6));
  EXPECT_EQ(0.0f, FloatAt(back, 4 * 7 * 5));

  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir.Path("back.ers"), 0, 0, 1, 1, 0)) << in.GetErrorText();
  EXPECT_DOUBLE_EQ(1002.0, in.GetReader()->GetLeftX());
  EXPECT_DOUBLE_EQ(1996.0, in.GetReader()->GetTopY());
}

}  // namespace
}  // namespace clipra
