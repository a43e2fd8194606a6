#include "dataset/gcp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/os_file.h"
#include "dataset/readline.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

TGCPoint MakePoint(const std::string& name, bool active, double cx, double cy, double mx, double my,
                   double mz) {
  TGCPoint p;
  p.Name = name;
  p.Active = active;
  p.CellX = cx;
  p.CellY = cy;
  p.MapX = mx;
  p.MapY = my;
  p.MapZ = mz;
  return p;
}

void ExpectValues(const TGCPoint& p, double cx, double cy, double mx, double my, double mz) {
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

TEST(GcpPointSyntax, ToLineWritesTenDigitsWithThreeDecimals) {
  EXPECT_EQ("P1 Yes 10.000 20.500 300.000 400.250 0.000",
            MakePoint("P1", true, 10, 20.5, 300, 400.25, 0).ToLine());
  // The eleventh significant digit is rounded away before the decimals.
  EXPECT_EQ("Q No 12345678.570 -0.001 0.000 0.000 0.000",
            MakePoint("Q", false, 12345678.5678, -0.0005001, -0.0004, 0, 0).ToLine());
}

TEST(GcpPointSyntax, ToLineUsesExponentFormBeyondTenIntegerDigits) {
  const std::string line = MakePoint("Big", true, 0, 0, 12345678901.0, 0, 0).ToLine();
  EXPECT_EQ("Big Yes 0.000 0.000 1.234567890E+10 0.000 0.000", line);
  EXPECT_DOUBLE_EQ(12345678900.0, TGCPoint::CreateFromLine(line)->MapX);
}

TEST(GcpPointSyntax, EmptyNameComesBackAsTwoQuotes) {
  const std::string line = MakePoint("", true, 1, 2, 3, 4, 5).ToLine();
  EXPECT_EQ("\"\" Yes 1.000 2.000 3.000 4.000 5.000", line);
  const auto back = TGCPoint::CreateFromLine(line);
  EXPECT_EQ("\"\"", back->Name);
  EXPECT_TRUE(back->Active);
  ExpectValues(*back, 1, 2, 3, 4, 5);
}

TEST(GcpPointSyntax, TabsAndBlankRunsSeparateAlike) {
  const auto tabbed = TGCPoint::CreateFromLine("\t\t\tA7\tYes\t    1.500\t 2.000\t3\t4\t-5");
  const auto spaced = TGCPoint::CreateFromLine("A7    Yes   1.5  2 3     4 -5   ");
  for (const auto* p : {tabbed.get(), spaced.get()}) {
    EXPECT_EQ("A7", p->Name);
    EXPECT_TRUE(p->Active);
    ExpectValues(*p, 1.5, 2, 3, 4, -5);
  }
}

TEST(GcpPointSyntax, ErsThirdTokenIsFlag2ButOwnThirdTokenIsCellX) {
  const auto ers = TGCPoint::CreateFromErsLine("E1 No yes 1 2 3 4 5");
  EXPECT_FALSE(ers->Active);
  EXPECT_TRUE(ers->Flag2);
  ExpectValues(*ers, 1, 2, 3, 4, 5);

  const auto own = TGCPoint::CreateFromLine("E1 No yes 1 2 3 4 5");
  EXPECT_FALSE(own->Flag2);
  ExpectValues(*own, 0, 1, 2, 3, 4);  // "yes" is not a number
}

TEST(GcpPointSyntax, QuotesAreOrdinaryCharacters) {
  const auto p = TGCPoint::CreateFromLine("\"Trig point\" YES 7");
  EXPECT_EQ("\"Trig", p->Name);
  EXPECT_FALSE(p->Active);  // the second token is `point"`
  EXPECT_DOUBLE_EQ(0, p->CellX);
  EXPECT_DOUBLE_EQ(7, p->CellY);
}

TEST(GcpPointSyntax, MissingOrUnreadableNumbersAreZero) {
  const auto p = TGCPoint::CreateFromLine("P yEs 1,5 abc 1e400 -1e400");
  EXPECT_TRUE(p->Active);
  ExpectValues(*p, 1.5, 0, 0, 0, 0);
  const auto empty = TGCPoint::CreateFromErsLine("");
  EXPECT_EQ("", empty->Name);
  EXPECT_FALSE(empty->Active);
  ExpectValues(*empty, 0, 0, 0, 0, 0);
}

TEST(GcpPoint, CopyKeepsEverythingButFlag2) {
  TGCPoint src = MakePoint("S", true, 1, 2, 3, 4, 5);
  src.Flag2 = true;
  const TGCPoint copy(&src);
  EXPECT_EQ("S", copy.Name);
  EXPECT_TRUE(copy.Active);
  EXPECT_FALSE(copy.Flag2);
  ExpectValues(copy, 1, 2, 3, 4, 5);

  const TGCPoint blank(nullptr);
  EXPECT_EQ("", blank.Name);
  EXPECT_FALSE(blank.Active);
  ExpectValues(blank, 0, 0, 0, 0, 0);
}

TEST(GcpPoint, FieldTextsFollowTheTableColumns) {
  TGCPoint p = MakePoint("N", true, 12.5, 1e20, -0.25, 3, 0);
  EXPECT_EQ("N", p.GetFieldText(0));
  EXPECT_EQ("Yes", p.GetFieldText(1));
  EXPECT_EQ("12.5", p.GetFieldText(2));
  EXPECT_EQ("1E20", p.GetFieldText(3));
  EXPECT_EQ("-0.25", p.GetFieldText(4));
  EXPECT_EQ("0", p.GetFieldText(6));
  EXPECT_EQ("", p.GetFieldText(7));
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
  EXPECT_EQ("renamed", p.Name);
  ExpectValues(p, 0, 1e20, -0.25, 7.25, 0);
}

TEST(GcpList, IndexedAccessOutOfRangeGivesNothing) {
  TGCPList list;
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
  TGCPList list;
  list.AddFromLine("A Yes 1 2 3 4 5");
  list.SetModified(false);
  int calls = 0;
  list.OnChange = [&](TGCPList* sender) {
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
  TGCPList list;
  EXPECT_EQ(1e308, list.MinX);
  EXPECT_EQ(-1e308, list.MaxZ);
  list.AddFromLine("A Yes 0 0 100 200 5");
  list.AddFromLine("B Yes 0 0 -50 250 -7");
  list.AddFromErsLine("C Yes No 0 0 1000 1000 1000");
  EXPECT_EQ(-50, list.MinX);
  EXPECT_EQ(100, list.MaxX);
  EXPECT_EQ(200, list.MinY);
  EXPECT_EQ(250, list.MaxY);
  EXPECT_EQ(-7, list.MinZ);
  EXPECT_EQ(5, list.MaxZ);
  EXPECT_EQ(3, list.Count());
  list.Clear();
  EXPECT_EQ(0, list.Count());
  EXPECT_EQ(1e308, list.MinX);
  EXPECT_EQ(-1e308, list.MaxX);
}

class GcpFile : public testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(GcpFile, RoundTripKeepsPointsStringsAndThreeDecimals) {
  TGCPList list;
  list.Spheroid = "WGS84";
  list.Datum = "WGS84";
  list.Projection = "NUTM33";
  const TGCPoint a = MakePoint("A1", true, 10.25, 20.5, 512000.1234, 6200000.9876, 123.4567);
  const TGCPoint unnamed = MakePoint("", false, 1, 2, 3, 4, -5.0004);
  list.AddPoint(&a);
  list.AddPoint(&unnamed);
  ASSERT_TRUE(list.SaveToFile(dir_.Path("r.gcp")));
  EXPECT_FALSE(list.Modified);

  TGCPList back;
  back.AddFromLine("stale Yes 1 1 1 1 1");
  ASSERT_TRUE(back.LoadFromFile(dir_.Path("r.gcp")));
  EXPECT_FALSE(back.Modified);
  EXPECT_EQ("WGS84", back.Spheroid);
  EXPECT_EQ("WGS84", back.Datum);
  EXPECT_EQ("NUTM33", back.Projection);
  ASSERT_EQ(2, back.Count());
  EXPECT_EQ("A1", back.Point(0)->Name);
  EXPECT_TRUE(back.Point(0)->Active);
  ExpectValues(*back.Point(0), 10.25, 20.5, 512000.123, 6200000.988, 123.457);
  EXPECT_EQ("1", back.Point(1)->Name);  // named by its former index
  EXPECT_FALSE(back.Point(1)->Active);
  ExpectValues(*back.Point(1), 1, 2, 3, 4, -5);
  EXPECT_EQ(3, back.MinX);
  EXPECT_DOUBLE_EQ(512000.123, back.MaxX);
}

TEST_F(GcpFile, SavedLinesEndInCrLfWithRightAlignedFields) {
  TGCPList list;
  list.Spheroid = "S";
  list.Datum = "D";
  list.Projection = "P";
  const TGCPoint a = MakePoint("P1", true, 10, 20.5, 12345678.9, 0, -1);
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
  TGCPList back;
  ASSERT_TRUE(back.LoadFromFile(dir_.Path("f.gcp")));
  ASSERT_EQ(1, back.Count());
  EXPECT_EQ("P1", back.Point(0)->Name);
}

TEST_F(GcpFile, LoneSpheroidLoadsButIsNotSavedAgain) {
  dir_.WriteFile("s.gcp", ";S=Bessel\r\nA\tYes\t1\t2\t3\t4\t5\r\n");
  TGCPList list;
  ASSERT_TRUE(list.LoadFromFile(dir_.Path("s.gcp")));
  EXPECT_EQ("Bessel", list.Spheroid);
  EXPECT_EQ("", list.Datum);
  ASSERT_TRUE(list.SaveToFile(dir_.Path("out.gcp")));
  EXPECT_EQ("A\tYes\t     1.000\t     2.000\t     3.000\t     4.000\t     5.000\r\n",
            dir_.ReadFile("out.gcp"));
}

TEST_F(GcpFile, EmptyListOrNameSavesNothing) {
  TGCPList list;
  EXPECT_FALSE(list.SaveToFile(dir_.Path("none.gcp")));
  EXPECT_FALSE(FileExists(dir_.Path("none.gcp")));
  list.AddPoint(nullptr);
  EXPECT_FALSE(list.SaveToFile(""));
  EXPECT_TRUE(list.Modified);
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
  TGCPList list;
  int calls = 0;
  list.OnChange = [&](TGCPList*) { ++calls; };
  ASSERT_TRUE(list.LoadFromFile(dir_.Path("m.gcp")));
  EXPECT_FALSE(list.Modified);
  EXPECT_GT(calls, 0);
  EXPECT_EQ("TM ", list.Projection);
  ASSERT_EQ(2, list.Count());
  EXPECT_EQ("A", list.Point(0)->Name);
  ExpectValues(*list.Point(1), 6, 7, 8, 9, 10);
}

TEST_F(GcpFile, LoadLetsTheLineReaderErrorEscape) {
  TGCPList list;
  EXPECT_FALSE(list.LoadFromFile(""));
  EXPECT_THROW(list.LoadFromFile(dir_.Path("missing.gcp")), EReadLineError);
  dir_.WriteFile("zero.gcp", "");
  EXPECT_TRUE(list.LoadFromFile(dir_.Path("zero.gcp")));
  EXPECT_EQ(0, list.Count());
}

TEST_F(GcpFile, WriteErrorGoesToTheMessageHook) {
  MessageCapture capture;
  TGCPList list;
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

class GcpImport : public testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(GcpImport, MapPointsWithoutPointsLeaveOneBlankPoint) {
  dir_.WriteFile("zero.txt", "");
  dir_.WriteFile("comments.txt", ";only a comment\r\n\r\n");
  for (const char* name : {"zero.txt", "comments.txt"}) {
    TGCPList list;
    list.AddFromLine("old Yes 1 2 3 4 5");
    ASSERT_TRUE(list.ImportMapPoints(dir_.Path(name))) << name;
    ASSERT_EQ(1, list.Count()) << name;
    EXPECT_EQ("", list.Point(0)->Name);
    EXPECT_FALSE(list.Point(0)->Active);
    ExpectValues(*list.Point(0), 0, 0, 0, 0, 0);
    EXPECT_FALSE(list.Modified);
  }
}

TEST_F(GcpImport, MapPointsGiveInactivePointsWithMapCoordinates) {
  dir_.WriteFile("p.txt", "T1 512000.5\t6200000 101,5\r\n;skip\r\nT2   1 2\r\n");
  TGCPList list;
  ASSERT_TRUE(list.ImportMapPoints(dir_.Path("p.txt")));
  ASSERT_EQ(2, list.Count());
  EXPECT_EQ("T1", list.Point(0)->Name);
  EXPECT_FALSE(list.Point(0)->Active);
  ExpectValues(*list.Point(0), 0, 0, 512000.5, 6200000, 101.5);
  ExpectValues(*list.Point(1), 0, 0, 1, 2, 0);

  EXPECT_FALSE(list.ImportMapPoints(""));
  EXPECT_EQ(2, list.Count());
  EXPECT_THROW(list.ImportMapPoints(dir_.Path("missing.txt")), EReadLineError);
}

TEST_F(GcpImport, SurveyTableSkipsHeadingAndReadsNorthingFirst) {
  dir_.WriteFile("s.txt",
                 "North East Height Col Row\r\n"
                 "6200000 512000 10 100 200\r\n"
                 "\r\n"
                 ";note\r\n"
                 "6200100\t512100\t11\t101\t201\r\n");
  TGCPList list;
  ASSERT_TRUE(list.ImportSurveyTable(dir_.Path("s.txt")));
  EXPECT_FALSE(list.Modified);
  ASSERT_EQ(2, list.Count());
  EXPECT_EQ("0", list.Point(0)->Name);
  EXPECT_EQ("1", list.Point(1)->Name);
  EXPECT_TRUE(list.Point(1)->Active);
  ExpectValues(*list.Point(0), 100, 200, 512000, 6200000, 10);
  ExpectValues(*list.Point(1), 101, 201, 512100, 6200100, 11);
}

TEST_F(GcpImport, SurveyTableThatCannotBeOpenedGivesFalse) {
  TGCPList list;
  list.AddPoint(nullptr);
  EXPECT_FALSE(list.ImportSurveyTable(dir_.Path("missing.txt")));
  EXPECT_FALSE(list.ImportSurveyTable(""));
  EXPECT_EQ(0, list.Count());
}

}  // namespace
}  // namespace clipra
