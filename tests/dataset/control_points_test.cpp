#include "dataset/control_points.h"

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "dataset/line_reader.h"
#include "support/format_test.h"

namespace clipra {
namespace {

ControlPoint Point(const std::string& line) {
  return *ControlPoint::CreateFromLine(line);
}

// "name active cx cy mx my mz", the numbers to 12 digits.
std::string Fields(const ControlPoint* p) {
  if (!p) return "none";
  std::ostringstream s;
  s.precision(12);
  s << p->Name << " " << p->Active << " " << p->CellX << " " << p->CellY << " " << p->MapX << " "
    << p->MapY << " " << p->MapZ;
  return s.str();
}

// The fields of every point of `list`, one "|" between points.
std::string Fields(const ControlPointList& list) {
  std::string all;
  for (int i = 0; i < list.Count(); ++i) all += (i ? " | " : "") + Fields(list.Point(i));
  return all;
}

TEST(ControlPoint, WritesTenDigitsWithThreeDecimalsAndParsesLooseTokens) {
  // The plain layout is pinned in comma_locale_test and osd_test.
  // The eleventh significant digit is rounded away before the decimals.
  EXPECT_EQ("Q No 12345678.570 -0.001 0.000 0.000 0.000",
            Point("Q No 12345678.5678 -0.0005001 -0.0004").ToLine());
  ControlPoint unnamed = Point("x Yes 0 0 12345678901");
  unnamed.Name.clear();  // written as ""
  const std::string big = unnamed.ToLine();
  EXPECT_EQ("\"\" Yes 0.000 0.000 1.234567890E+10 0.000 0.000", big);
  EXPECT_EQ("\"\" 1 0 0 12345678900 0 0", Fields(ControlPoint::CreateFromLine(big).get()));
  unnamed.Flag2 = true;  // copies drop Flag2
  EXPECT_FALSE(ControlPoint(&unnamed).Flag2);
  EXPECT_EQ(Fields(&unnamed), Fields(std::make_unique<ControlPoint>(&unnamed).get()));

  const struct {
    const char* line;
    bool ers;
    const char* fields;  // Flag2 is set only by the ER Mapper line
  } cases[] = {
      {"\t\t\tA7\tYes\t    1.500\t 2.000\t3\t4\t-5", false, "A7 1 1.5 2 3 4 -5"},
      {"A7    Yes   1.5  2 3     4 -5   ", false, "A7 1 1.5 2 3 4 -5"},
      // The third token is Flag2 in ER Mapper lines but CellX in our own.
      {"E1 No yes 1 2 3 4 5", true, "E1 0 1 2 3 4 5"},
      {"E1 No yes 1 2 3 4 5", false, "E1 0 0 1 2 3 4"},
      // Quotes are ordinary characters: the second token is `point"`.
      {"\"Trig point\" YES 7", false, "\"Trig 0 0 7 0 0 0"},
      {"P yEs 1,5 abc 1e400 -1e400", false, "P 1 1.5 0 0 0 0"},
  };
  for (const auto& c : cases) {
    const auto p =
        c.ers ? ControlPoint::CreateFromErsLine(c.line) : ControlPoint::CreateFromLine(c.line);
    EXPECT_EQ(c.fields, Fields(p.get())) << c.line;
    EXPECT_EQ(c.ers, p->Flag2) << c.line;
  }
}

TEST(ControlPointList, NotifiesOnlyRealChangesAndWidensTheExtentForOwnLines) {
  ControlPointList list;
  list.AddFromLine("A Yes 0 0 100 200 5");
  list.AddFromLine("B Yes 0 0 -50 250 -7");
  list.AddFromErsLine("C Yes No 0 0 1000 1000 1000");
  EXPECT_EQ(std::make_tuple(-50., 100., 200., 250., -7., 5.),
            std::make_tuple(list.MinX, list.MaxX, list.MinY, list.MaxY, list.MinZ, list.MaxZ));
  EXPECT_EQ(nullptr, list.Point(3));
  EXPECT_EQ(0, list.GetValue(0, 6));
  list.SetModified(false);
  int calls = 0;
  list.OnChange = [&](ControlPointList*) { ++calls; };
  list.SetName(0, "A");
  list.SetActive(0, true);
  list.SetValue(0, 2, 0);
  list.SetName(5, "B");
  list.SetValue(0, 0, 9);  // the name column takes no number
  EXPECT_EQ(0, calls);
  EXPECT_FALSE(list.Modified);
  list.SetValue(0, 4, 40);
  list.SetActive(0, false);
  list.Delete(5);
  EXPECT_EQ(2, calls);
  EXPECT_TRUE(list.Modified);
  list.Delete(0);
  EXPECT_EQ(3, calls);
  EXPECT_EQ("B", list.GetName(0));
}

TEST(ControlPointFile, SavesRightAlignedCrLfLinesAndLoadsLfOrCrLf) {
  TempDir dir;
  ControlPointList list;
  list.Spheroid = "S", list.Datum = "D", list.Projection = "P";
  const ControlPoint a = Point("P1 Yes 10 20.5 12345678.9 0 -1.0004");
  ControlPoint unnamed = Point("x No 1 2 512000.1234 4 5");
  unnamed.Name.clear();
  list.AddPoint(&a);
  list.AddPoint(&unnamed);
  ASSERT_TRUE(list.SaveToFile(dir.Path("f.gcp")));
  EXPECT_FALSE(list.Modified);
  EXPECT_EQ(
      ";S=S\r\n;D=D\r\n;P=P\r\n"
      "P1\tYes\t    10.000\t    20.500\t12345678.900\t     0.000\t    -1.000\r\n"
      "1\tNo\t     1.000\t     2.000\t512000.123\t     4.000\t     5.000\r\n",
      dir.ReadFile("f.gcp"));  // the unnamed point is named by its index

  ControlPointList back;
  back.AddFromLine("stale Yes 1 1 1 1 1");
  ASSERT_TRUE(back.LoadFromFile(dir.Path("f.gcp")));
  EXPECT_FALSE(back.Modified);
  EXPECT_EQ("S D P", back.Spheroid + " " + back.Datum + " " + back.Projection);
  EXPECT_EQ("P1 1 10 20.5 12345678.9 0 -1 | 1 0 1 2 512000.123 4 5", Fields(back));
  EXPECT_DOUBLE_EQ(512000.123, back.MinX);  // the stale point's extent went with it

  // LF or CR LF, other lines skipped; a spheroid alone is not saved.
  dir.WriteFile("m.gcp",
                "; a comment\r\n\r\n;S=Bessel\r\n;P=TM \r\nA Yes 1 2 3 4 5\n   \t \n"
                ";X=ignored\nB No 6 7 8 9 10");
  ASSERT_TRUE(list.LoadFromFile(dir.Path("m.gcp")));
  EXPECT_EQ("Bessel/TM ", list.Spheroid + "/" + list.Projection);
  EXPECT_EQ("A 1 1 2 3 4 5 | B 0 6 7 8 9 10", Fields(list));
  list.Projection.clear();
  list.Delete(1);
  ASSERT_TRUE(list.SaveToFile(dir.Path("out.gcp")));
  EXPECT_EQ("A\tYes\t     1.000\t     2.000\t     3.000\t     4.000\t     5.000\r\n",
            dir.ReadFile("out.gcp"));
}

// Field texts are the columns of the table view: name, active, then the
// five numbers; text that is no number sets 0, and unknown columns do nothing.
TEST(ControlPoint, FieldTextsFollowTheTableColumns) {
  ControlPoint p = Point("N Yes 12.5 1e20 -0.25 3 0");
  const char* texts[] = {"N", "Yes", "12.5", "1E20", "-0.25", "3", "0", ""};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(texts[i], p.GetFieldText(i)) << i;
  for (const auto& [i, text] : {std::pair{1, "y"}, {5, " 7,25 "}, {2, "twelve"}, {7, "x"}})
    p.SetFieldText(i, text);
  EXPECT_EQ("N 0 0 1e+20 -0.25 7.25 0", Fields(&p));
}

// Map points: name and map coordinates, inactive, or one blank point when the
// file holds none. Survey tables: a heading, then northing before easting.
TEST(ControlPointFile, ImportsMapPointsAndSurveyTables) {
  TempDir dir;
  dir.WriteFile("p.txt", "T1 512000.5\t6200000 101,5\r\n;skip\r\nT2   1 2\r\n");
  dir.WriteFile("comments.txt", ";only a comment\r\n\r\n");
  dir.WriteFile("s.txt",
                "North East Height Col Row\r\n6200000 512000 10 100 200\r\n\r\n;note\r\n"
                "6200100\t512100\t11\t101\t201\r\n");
  ControlPointList list;
  ASSERT_TRUE(list.ImportMapPoints(dir.Path("p.txt")));
  EXPECT_EQ("T1 0 0 0 512000.5 6200000 101.5 | T2 0 0 0 1 2 0", Fields(list));
  EXPECT_FALSE(list.ImportMapPoints(""));
  EXPECT_THROW(list.ImportMapPoints(dir.Path("missing.txt")), LineReaderError);
  ASSERT_TRUE(list.ImportMapPoints(dir.Path("comments.txt")));
  EXPECT_EQ(" 0 0 0 0 0 0", Fields(list));
  ASSERT_TRUE(list.ImportSurveyTable(dir.Path("s.txt")));
  EXPECT_EQ("0 1 100 200 512000 6200000 10 | 1 1 101 201 512100 6200100 11", Fields(list));
  EXPECT_FALSE(list.Modified);
  EXPECT_FALSE(list.ImportSurveyTable(dir.Path("missing.txt")));  // and empties the list
  EXPECT_EQ(0, list.Count());
}

TEST(ControlPointFile, FailuresSaveNothingAndReportTheSystemError) {
  TempDir dir;
  std::vector<std::string> messages;
  SetErrorMessageHook([&](const std::string& text) { messages.push_back(text); });
  ControlPointList list;
  EXPECT_FALSE(list.SaveToFile(dir.Path("none.gcp")));  // nothing to save
  EXPECT_FALSE(FileExists(dir.Path("none.gcp")));
  list.AddPoint(nullptr);
  EXPECT_FALSE(list.SaveToFile(""));
  EXPECT_FALSE(list.SaveToFile(dir.Path("no-such-folder/x.gcp")));
  EXPECT_TRUE(list.Modified);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(list.SaveToFile("/dev/full"));
  }
  SetErrorMessageHook(nullptr);
  ASSERT_LE(1u, messages.size());
  EXPECT_EQ("Error in output file:\r" + SystemErrorText(ENOENT), messages[0]);
  if (messages.size() > 1) {
    EXPECT_EQ("Error in output file:\r" + SystemErrorText(ENOSPC), messages[1]);
  }

  EXPECT_FALSE(list.LoadFromFile(""));
  EXPECT_THROW(list.LoadFromFile(dir.Path("missing.gcp")), LineReaderError);
  dir.WriteFile("zero.gcp", "");
  EXPECT_TRUE(list.LoadFromFile(dir.Path("zero.gcp")));
  EXPECT_EQ(0, list.Count());
}

}  // namespace
}  // namespace clipra
