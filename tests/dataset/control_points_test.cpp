#include "dataset/control_points.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "dataset/line_reader.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

ControlPoint MakePoint(const std::string& name, bool active, double cx, double cy, double mx,
                       double my, double mz) {
  ControlPoint p;
  p.Name = name;
  p.Active = active;
  p.CellX = cx;
  p.CellY = cy;
  p.MapX = mx;
  p.MapY = my;
  p.MapZ = mz;
  return p;
}

void ExpectPoint(const ControlPoint& p, const std::string& name, bool active, double cx, double cy,
                 double mx, double my, double mz) {
  EXPECT_EQ(name, p.Name);
  EXPECT_EQ(active, p.Active);
  EXPECT_DOUBLE_EQ(cx, p.CellX);
  EXPECT_DOUBLE_EQ(cy, p.CellY);
  EXPECT_DOUBLE_EQ(mx, p.MapX);
  EXPECT_DOUBLE_EQ(my, p.MapY);
  EXPECT_DOUBLE_EQ(mz, p.MapZ);
}

// Captures the error message texts for the lifetime of the object.
class MessageCapture {
 public:
  MessageCapture() {
    SetErrorMessageHook([this](const std::string& text) { messages.push_back(text); });
  }
  ~MessageCapture() { SetErrorMessageHook(nullptr); }
  std::vector<std::string> messages;
};

TEST(GcpPointSyntax, ToLineWritesTenDigitsWithThreeDecimalsOrTheExponentForm) {
  EXPECT_EQ("P1 Yes 10.000 20.500 300.000 400.250 0.000",
            MakePoint("P1", true, 10, 20.5, 300, 400.25, 0).ToLine());
  // The eleventh significant digit is rounded away before the decimals.
  EXPECT_EQ("Q No 12345678.570 -0.001 0.000 0.000 0.000",
            MakePoint("Q", false, 12345678.5678, -0.0005001, -0.0004, 0, 0).ToLine());
  const std::string big = MakePoint("Big", true, 0, 0, 12345678901.0, 0, 0).ToLine();
  EXPECT_EQ("Big Yes 0.000 0.000 1.234567890E+10 0.000 0.000", big);
  EXPECT_DOUBLE_EQ(12345678900.0, ControlPoint::CreateFromLine(big)->MapX);
  // An empty name comes back as two quotes.
  const std::string unnamed = MakePoint("", true, 1, 2, 3, 4, 5).ToLine();
  EXPECT_EQ("\"\" Yes 1.000 2.000 3.000 4.000 5.000", unnamed);
  EXPECT_EQ("\"\"", ControlPoint::CreateFromLine(unnamed)->Name);
}

TEST(GcpPointSyntax, ParsesTokensSplitByTabsOrBlanksAndUnreadableNumbersAsZero) {
  struct Case {
    const char* line;
    bool ers;
    const char* name;
    bool active, flag2;
    double cx, cy, mx, my, mz;
  };
  const Case cases[] = {
      {"\t\t\tA7\tYes\t    1.500\t 2.000\t3\t4\t-5", false, "A7", true, false, 1.5, 2, 3, 4, -5},
      {"A7    Yes   1.5  2 3     4 -5   ", false, "A7", true, false, 1.5, 2, 3, 4, -5},
      // The third token is Flag2 in ER Mapper lines but CellX in our own.
      {"E1 No yes 1 2 3 4 5", true, "E1", false, true, 1, 2, 3, 4, 5},
      {"E1 No yes 1 2 3 4 5", false, "E1", false, false, 0, 1, 2, 3, 4},
      // Quotes are ordinary characters: the second token is `point"`.
      {"\"Trig point\" YES 7", false, "\"Trig", false, false, 0, 7, 0, 0, 0},
      {"P yEs 1,5 abc 1e400 -1e400", false, "P", true, false, 1.5, 0, 0, 0, 0},
      {"", true, "", false, false, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto p =
        c.ers ? ControlPoint::CreateFromErsLine(c.line) : ControlPoint::CreateFromLine(c.line);
    EXPECT_EQ(c.flag2, p->Flag2);
    ExpectPoint(*p, c.name, c.active, c.cx, c.cy, c.mx, c.my, c.mz);
  }
}

TEST(GcpPoint, CopyKeepsEverythingButFlag2) {
  ControlPoint src = MakePoint("S", true, 1, 2, 3, 4, 5);
  src.Flag2 = true;
  const ControlPoint copy(&src);
  EXPECT_FALSE(copy.Flag2);
  ExpectPoint(copy, "S", true, 1, 2, 3, 4, 5);

  ExpectPoint(ControlPoint(nullptr), "", false, 0, 0, 0, 0, 0);
}

TEST(GcpPoint, FieldTextsFollowTheTableColumns) {
  ControlPoint p = MakePoint("N", true, 12.5, 1e20, -0.25, 3, 0);
  const char* texts[] = {"N", "Yes", "12.5", "1E20", "-0.25", "3", "0", ""};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(texts[i], p.GetFieldText(i)) << i;
  EXPECT_EQ("", p.GetFieldText(-1));

  p.SetFieldText(1, "y");
  EXPECT_FALSE(p.Active);
  p.SetFieldText(1, "yes");
  EXPECT_TRUE(p.Active);
  p.SetFieldText(5, " 7,25 ");
  EXPECT_DOUBLE_EQ(7.25, p.MapY);
  p.SetFieldText(2, "twelve");
  EXPECT_DOUBLE_EQ(0, p.CellX);
  p.SetFieldText(7, "ignored");
  p.SetFieldText(0, "renamed");
  ExpectPoint(p, "renamed", true, 0, 1e20, -0.25, 7.25, 0);
}

TEST(GcpList, IndexedAccessOutOfRangeGivesNothing) {
  ControlPointList list;
  list.AddFromLine("A Yes 1 2 3 4 5");
  EXPECT_EQ(nullptr, list.Point(-1));
  EXPECT_EQ(nullptr, list.Point(1));
  EXPECT_EQ("", list.GetName(1));
  EXPECT_FALSE(list.GetActive(-1));
  EXPECT_EQ(0, list.GetValue(5, 3));
  EXPECT_EQ(0, list.GetValue(0, 6));
  EXPECT_DOUBLE_EQ(3, list.GetValue(0, 3));
  EXPECT_DOUBLE_EQ(5, list.GetValue(0, 5));
}

TEST(GcpList, WritersNotifyOnlyForRealChanges) {
  ControlPointList list;
  list.AddFromLine("A Yes 1 2 3 4 5");
  list.SetModified(false);
  int calls = 0;
  list.OnChange = [&](ControlPointList* sender) {
    EXPECT_EQ(&list, sender);
    ++calls;
  };

  list.SetName(0, "A");
  list.SetActive(0, true);
  list.SetValue(0, 2, 2);
  list.SetName(1, "B");
  list.SetValue(0, 0, 9);
  EXPECT_EQ(0, calls);
  EXPECT_FALSE(list.Modified);

  list.SetValue(0, 4, 40);
  EXPECT_EQ(1, calls);
  EXPECT_TRUE(list.Modified);
  EXPECT_DOUBLE_EQ(40, list.Point(0)->MapY);
  list.SetName(0, "B");
  list.SetActive(0, false);
  EXPECT_EQ(3, calls);
  EXPECT_EQ("B", list.GetName(0));

  list.SetModified(false);
  EXPECT_EQ(3, calls);
  list.AddPoint(nullptr);
  list.Delete(5);
  EXPECT_EQ(4, calls);
  list.Delete(0);
  EXPECT_EQ(5, calls);
  EXPECT_EQ(1, list.Count());
  EXPECT_EQ("", list.GetName(0));
}

TEST(GcpList, OnlyOwnSyntaxLinesWidenTheExtent) {
  ControlPointList list;
  const auto extent = [&] {
    return std::make_tuple(list.MinX, list.MaxX, list.MinY, list.MaxY, list.MinZ, list.MaxZ);
  };
  const auto empty = std::make_tuple(1e308, -1e308, 1e308, -1e308, 1e308, -1e308);
  EXPECT_EQ(empty, extent());
  list.AddFromLine("A Yes 0 0 100 200 5");
  list.AddFromLine("B Yes 0 0 -50 250 -7");
  list.AddFromErsLine("C Yes No 0 0 1000 1000 1000");
  EXPECT_EQ(std::make_tuple(-50., 100., 200., 250., -7., 5.), extent());
  EXPECT_EQ(3, list.Count());
  list.Clear();
  EXPECT_EQ(0, list.Count());
  EXPECT_EQ(empty, extent());
}

class GcpFile : public testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(GcpFile, RoundTripKeepsPointsStringsAndThreeDecimals) {
  ControlPointList list;
  list.Spheroid = "WGS84";
  list.Datum = "WGS84";
  list.Projection = "NUTM33";
  const ControlPoint a = MakePoint("A1", true, 10.25, 20.5, 512000.1234, 6200000.9876, 123.4567);
  const ControlPoint unnamed = MakePoint("", false, 1, 2, 3, 4, -5.0004);
  list.AddPoint(&a);
  list.AddPoint(&unnamed);
  ASSERT_TRUE(list.SaveToFile(dir_.Path("r.gcp")));
  EXPECT_FALSE(list.Modified);

  ControlPointList back;
  back.AddFromLine("stale Yes 1 1 1 1 1");
  ASSERT_TRUE(back.LoadFromFile(dir_.Path("r.gcp")));
  EXPECT_FALSE(back.Modified);
  EXPECT_EQ("WGS84", back.Spheroid);
  EXPECT_EQ("WGS84", back.Datum);
  EXPECT_EQ("NUTM33", back.Projection);
  ASSERT_EQ(2, back.Count());
  ExpectPoint(*back.Point(0), "A1", true, 10.25, 20.5, 512000.123, 6200000.988, 123.457);
  // The unnamed point is named by its former index.
  ExpectPoint(*back.Point(1), "1", false, 1, 2, 3, 4, -5);
  EXPECT_EQ(3, back.MinX);
  EXPECT_DOUBLE_EQ(512000.123, back.MaxX);
}

TEST_F(GcpFile, SavedLinesEndInCrLfWithRightAlignedFields) {
  ControlPointList list;
  list.Spheroid = "S";
  list.Datum = "D";
  list.Projection = "P";
  const ControlPoint a = MakePoint("P1", true, 10, 20.5, 12345678.9, 0, -1);
  list.AddPoint(&a);
  ASSERT_TRUE(list.SaveToFile(dir_.Path("f.gcp")));
  EXPECT_EQ(
      ";S=S\r\n;D=D\r\n;P=P\r\n"
      "P1\tYes\t    10.000\t    20.500\t12345678.900\t     0.000\t    -1.000\r\n",
      dir_.ReadFile("f.gcp"));

  list.Indent = true;
  ASSERT_TRUE(list.SaveToFile(dir_.Path("f.gcp")));
  const std::string text = dir_.ReadFile("f.gcp");
  EXPECT_NE(std::string::npos, text.find("\r\n\t\t\tP1\tYes\t"));
  ControlPointList back;
  ASSERT_TRUE(back.LoadFromFile(dir_.Path("f.gcp")));
  ASSERT_EQ(1, back.Count());
  EXPECT_EQ("P1", back.Point(0)->Name);
}

TEST_F(GcpFile, LoneSpheroidLoadsButIsNotSavedAgain) {
  dir_.WriteFile("s.gcp", ";S=Bessel\r\nA\tYes\t1\t2\t3\t4\t5\r\n");
  ControlPointList list;
  ASSERT_TRUE(list.LoadFromFile(dir_.Path("s.gcp")));
  EXPECT_EQ("Bessel", list.Spheroid);
  EXPECT_EQ("", list.Datum);
  ASSERT_TRUE(list.SaveToFile(dir_.Path("out.gcp")));
  EXPECT_EQ("A\tYes\t     1.000\t     2.000\t     3.000\t     4.000\t     5.000\r\n",
            dir_.ReadFile("out.gcp"));
}

TEST_F(GcpFile, EmptyListOrNameSavesNothingAndLoadErrorsEscape) {
  ControlPointList list;
  EXPECT_FALSE(list.SaveToFile(dir_.Path("none.gcp")));
  EXPECT_FALSE(FileExists(dir_.Path("none.gcp")));
  list.AddPoint(nullptr);
  EXPECT_FALSE(list.SaveToFile(""));
  EXPECT_TRUE(list.Modified);

  EXPECT_FALSE(list.LoadFromFile(""));
  EXPECT_THROW(list.LoadFromFile(dir_.Path("missing.gcp")), LineReaderError);
  dir_.WriteFile("zero.gcp", "");
  EXPECT_TRUE(list.LoadFromFile(dir_.Path("zero.gcp")));
  EXPECT_EQ(0, list.Count());
}

TEST_F(GcpFile, LoadAcceptsLfAndCrLfAndSkipsOtherLines) {
  dir_.WriteFile("m.gcp",
                 "; a comment\r\n"
                 "\r\n"
                 ";P=TM \r\n"
                 "A Yes 1 2 3 4 5\n"
                 "   \t \n"
                 ";X=ignored\n"
                 "B No 6 7 8 9 10");
  ControlPointList list;
  int calls = 0;
  list.OnChange = [&](ControlPointList*) { ++calls; };
  ASSERT_TRUE(list.LoadFromFile(dir_.Path("m.gcp")));
  EXPECT_FALSE(list.Modified);
  EXPECT_GT(calls, 0);
  EXPECT_EQ("TM ", list.Projection);
  ASSERT_EQ(2, list.Count());
  ExpectPoint(*list.Point(0), "A", true, 1, 2, 3, 4, 5);
  ExpectPoint(*list.Point(1), "B", false, 6, 7, 8, 9, 10);
}

TEST_F(GcpFile, WriteErrorGoesToTheMessageHook) {
  MessageCapture capture;
  ControlPointList list;
  list.AddPoint(nullptr);
  list.SetModified(true);
  EXPECT_FALSE(list.SaveToFile(dir_.Path("no-such-folder/x.gcp")));
  ASSERT_EQ(1u, capture.messages.size());
  EXPECT_EQ("Error in output file:\r" + SystemErrorText(ENOENT), capture.messages[0]);
  EXPECT_TRUE(list.Modified);

  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(list.SaveToFile("/dev/full"));
    ASSERT_EQ(2u, capture.messages.size());
    EXPECT_EQ("Error in output file:\r" + SystemErrorText(ENOSPC), capture.messages[1]);
  }
}

using GcpImport = GcpFile;

TEST_F(GcpImport, MapPointsWithoutPointsLeaveOneBlankPoint) {
  dir_.WriteFile("zero.txt", "");
  dir_.WriteFile("comments.txt", ";only a comment\r\n\r\n");
  for (const char* name : {"zero.txt", "comments.txt"}) {
    ControlPointList list;
    list.AddFromLine("old Yes 1 2 3 4 5");
    ASSERT_TRUE(list.ImportMapPoints(dir_.Path(name))) << name;
    ASSERT_EQ(1, list.Count()) << name;
    ExpectPoint(*list.Point(0), "", false, 0, 0, 0, 0, 0);
    EXPECT_FALSE(list.Modified);
  }
}

TEST_F(GcpImport, MapPointsGiveInactivePointsWithMapCoordinates) {
  dir_.WriteFile("p.txt", "T1 512000.5\t6200000 101,5\r\n;skip\r\nT2   1 2\r\n");
  ControlPointList list;
  ASSERT_TRUE(list.ImportMapPoints(dir_.Path("p.txt")));
  ASSERT_EQ(2, list.Count());
  ExpectPoint(*list.Point(0), "T1", false, 0, 0, 512000.5, 6200000, 101.5);
  ExpectPoint(*list.Point(1), "T2", false, 0, 0, 1, 2, 0);

  EXPECT_FALSE(list.ImportMapPoints(""));
  EXPECT_EQ(2, list.Count());
  EXPECT_THROW(list.ImportMapPoints(dir_.Path("missing.txt")), LineReaderError);
}

TEST_F(GcpImport, SurveyTableSkipsHeadingReadsNorthingFirstAndFailsUnopened) {
  dir_.WriteFile("s.txt",
                 "North East Height Col Row\r\n"
                 "6200000 512000 10 100 200\r\n"
                 "\r\n"
                 ";note\r\n"
                 "6200100\t512100\t11\t101\t201\r\n");
  ControlPointList list;
  ASSERT_TRUE(list.ImportSurveyTable(dir_.Path("s.txt")));
  EXPECT_FALSE(list.Modified);
  ASSERT_EQ(2, list.Count());
  ExpectPoint(*list.Point(0), "0", true, 100, 200, 512000, 6200000, 10);
  ExpectPoint(*list.Point(1), "1", true, 101, 201, 512100, 6200100, 11);

  // A table that cannot be opened empties the list.
  EXPECT_FALSE(list.ImportSurveyTable(dir_.Path("missing.txt")));
  EXPECT_FALSE(list.ImportSurveyTable(""));
  EXPECT_EQ(0, list.Count());
}

}  // namespace
}  // namespace clipra
