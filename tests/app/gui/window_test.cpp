#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>
#include <filesystem>

#include "app/core/settings.h"
#include "app/gui/main_window.h"
#include "dataset/preview_sampler.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"

namespace clipra {
namespace {

using Strings = std::vector<std::string>;

const auto S = [](const QString& text) { return text.toStdString(); };
const auto Reject = [](QDialog&) { return int{QDialog::Rejected}; };

// An ER Mapper source of 8 x 6 cells of one map unit, its top-left corner at
// map (0, 6); cell (x, y) holds 10 * y + x.
void WriteErsSource(const TempDir& dir, const std::string& name) {
  ErsSource s = Grid(8, 6, 1, "1", "1", "0", "6");
  s.datum = s.projection = "\"RAW\"";
  WriteSource(dir, name, s, [](uint32_t x, uint32_t y, uint32_t) { return 10.0 * y + x; });
}

// The four corners as one comparable, printable value.
std::tuple<double, double, double, double> Corners(const MainWindow& w) {
  const ExtractOptions& o = w.Options();
  return {o.TopLeftX, o.TopLeftY, o.BotRightX, o.BotRightY};
}

class WindowTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_.Path("clipra.ini"); }

  std::unique_ptr<MainWindow> MakeWindow(const Strings& params = {},
                                         const std::string& program = "clipra") {
    WindowSetup setup{dir_.Path(program), {Ini(), Ini()}, params};
    auto window = std::make_unique<MainWindow>(std::move(setup));
    window->SetDialogRunner(Reject);  // a test never waits for a person
    return window;
  }

  // A window set to cut the 8 x 6 source into out.ers; an unknown letter
  // such as "/Q" changes nothing.
  std::unique_ptr<MainWindow> JobWindow(const std::string& source = "src.ers",
                                        const char* area = "/A0:6:7:0", const char* flag = "/Q") {
    WriteErsSource(dir_, "src");
    return MakeWindow({source.empty() ? "" : dir_.Path(source), dir_.Path("out.ers"), area, flag});
  }

  // The controls that follow Start and the end of a job: what a job switches
  // on, what it switches off, and what stays on throughout.
  static void ExpectRunning(MainWindow& w, bool running) {
    EXPECT_EQ(running ? MainWindow::kProcessingPage : MainWindow::kFilesPage,
              w.Pages()->currentIndex());
    EXPECT_EQ(running ? "Stop" : "Start", S(w.StartBtn()->text()));
    EXPECT_EQ(running ? 4 : 3, w.StartImage());
    const bool on = running, off = !running;
    EXPECT_EQ(
        (std::vector<bool>{on, on, on, off, off, off, off, off, off, off, true, true, true, true}),
        (std::vector<bool>{w.Running(), w.Pages()->isTabVisible(MainWindow::kProcessingPage),
                           w.StopAction()->isEnabled(), w.InputBtn()->isEnabled(),
                           w.OutPutBtn()->isEnabled(), w.InputLabel()->isEnabled(),
                           w.OutputLabel()->isEnabled(), w.InputAction()->isEnabled(),
                           w.OutputAction()->isEnabled(), w.StartAction()->isEnabled(),
                           w.StartBtn()->isEnabled(), w.ProcessMenu()->menuAction()->isEnabled(),
                           w.ExitAction()->isEnabled(), w.FileMenu()->menuAction()->isEnabled()}));
  }

  // Runs the event loop until the window's job has ended.
  static bool WaitForJob(MainWindow& window) {
    QSignalSpy finished(&window, &MainWindow::JobFinished);
    return finished.wait(120000);
  }

  SeparatorScope dot_{'.'};
  TempDir dir_;
};

// How the window applies the command line; ParseCommandLine's own cases are
// in the command-line tests.
TEST_F(WindowTest, CommandLineNamesAreaAndAutoRunOverrideTheSettings) {
  dir_.WriteFile("clipra.ini",
                 "[Names]\nInFile=old.ers\nOutName=old.bmp\n[Options]\nTopLeftX=5\nBotRightX=9\n");
  const struct {
    Strings params;
    const char *in, *out;
    bool auto_run;
    std::tuple<double, double, double, double> corners;
    const char* status;
  } rows[] = {
      // Missing fields are zero, not the saved values.
      {{"-A100.5:200,25"}, "old.ers", "old.bmp", false, {100.5, 200.25, 0, 0}, ""},
      // A parameter with a further "/" is a name.
      {{"/data/in.ers", "out.tif", "/f"}, "/data/in.ers", "out.tif", true, {5, 0, 9, 0}, ""},
      // A second name is not required; other letters are ignored.
      {{"only.ers", "/Q"}, "only.ers", "old.bmp", false, {5, 0, 9, 0}, ""},
      {{"a", "b", "c", "d"}, "a", "b", false, {5, 0, 9, 0}, "Extra file names ignored: c, d"},
      {{"a", "b", "c.ers"}, "a", "b", false, {5, 0, 9, 0}, "Extra file name ignored: c.ers"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.params[0]);
    auto w = MakeWindow(row.params);
    EXPECT_EQ(row.in, w->InFile());
    EXPECT_EQ(row.out, w->OutName());
    EXPECT_EQ(row.auto_run, w->AutoRun());
    EXPECT_EQ(row.corners, Corners(*w));
    EXPECT_EQ(row.status, S(w->StatusText()));
  }
}

TEST_F(WindowTest, TextsValuesNamesAndToolBarShowAsTypedSurviveARestartAndResizingIsUndone) {
  {
    auto w = MakeWindow({"/maps/<i>x</i>.ers", "/maps/a&b <b>.tif", "/A1:2:3:4"});
    QStringList texts;
    texts << w->windowTitle() << w->ApplicationTitle() << w->InputLabel()->text()
          << w->OutputLabel()->text() << w->BackgroundButton()->text() << w->ElapsedLabel()->text()
          << w->RemainingLabel()->text();
    for (QToolButton* button : {w->InputBtn(), w->OutPutBtn(), w->StartBtn()})
      texts << button->toolTip();
    for (int i = 0; i < w->Pages()->count(); ++i) texts << w->Pages()->tabText(i);
    for (QAction* menu : w->menuBar()->actions()) {
      texts << menu->text();
      for (QAction* item : menu->menu()->actions())
        texts << (item->text() + ' ' + QKeySequence::listToString(item->shortcuts())).trimmed();
    }
    EXPECT_EQ(
        "Clipra Utility|Clipra Utility|Input file: /maps/<i>x</i>.ers|Output file: /maps/a&b "
        "<b>.tif|Background Color|Elapsed time:|Remaining time:|Define source image file|Define "
        "output file|Start execution|Files|Options|Processing|&File|&Input file|&Output file||"
        "E&xit|&Process|&Start F5; Ctrl+R|S&top Esc|&View|Main toolbar|&Preview Ctrl+P|&Help|"
        "&Contents|&About",
        S(texts.join('|')));
    EXPECT_FALSE(w->InputBtn()->icon().isNull() || w->StartBtn()->icon().isNull());
    ExpectRunning(*w, false);
    w->show();
    const QSize fixed = w->size();
    EXPECT_GE(w->FixedClientWidth(), 389);
    EXPECT_GE(w->FixedClientHeight(), 30 + 131 + 19);
    EXPECT_EQ(w->FixedClientWidth(), fixed.width());
    for (const QRect& asked : {QRect(0, 0, 800, 600), QRect(10, 10, 200, 100)}) {
      w->setGeometry(asked);
      QApplication::processEvents();
      EXPECT_EQ(fixed, w->size());
    }
    // A label left to guess would render the input as an italic "x.ers".
    for (QLabel* label : {static_cast<QLabel*>(w->InputLabel()), w->ElapsedLabel(),
                          static_cast<QLabel*>(w->OutputLabel()), w->RemainingLabel(),
                          static_cast<QLabel*>(w->StatusLine())})
      EXPECT_EQ(Qt::PlainText, label->textFormat()) << S(label->objectName());
    EXPECT_TRUE(w->InputLabel()->toolTip().contains("/maps/&lt;i&gt;x&lt;/i&gt;.ers"));
    EXPECT_TRUE(w->OutputLabel()->toolTip().contains("a&amp;b &lt;b&gt;"));
    w->ToolbarAction()->trigger();
    EXPECT_FALSE(w->ToolBar()->isVisible());
    w->Edit(0)->setText("1234.5");
    w->Edit(1)->setText("1e999");  // no double holds it: 0
    w->Edit(2)->setText("abc");    // no number: 0
    EXPECT_TRUE(w->close());
  }
  EXPECT_EQ(
      "[Names]\r\nInFile=/maps/<i>x</i>.ers\r\nOutName=/maps/a&b <b>.tif\r\n[Options]\r\n"
      "TopLeftX=1234.500\r\nTopLeftY=0.000\r\nBotRightX=0.000\r\nBotRightY=4.000\r\n"
      "BgrColor=0\r\nToolBar=0\r\n",
      dir_.ReadFile("clipra.ini"));
  dir_.WriteFile("clipra.ini", "[Options]\r\nTopLeftX=1234.500\r\nBgrColor=255\r\nToolBar=0\r\n");
  auto again = MakeWindow();
  again->show();
  EXPECT_EQ("1234.500", S(again->Edit(0)->text()));
  EXPECT_EQ(QColor(255, 0, 0), again->BackgroundButton()->palette().color(QPalette::ButtonText));
  EXPECT_FALSE(again->ToolbarAction()->isChecked());
  EXPECT_FALSE(again->ToolBar()->isVisible());
  again->ToolbarAction()->trigger();
  EXPECT_TRUE(again->ToolBar()->isVisible());
  SeparatorScope comma(',');
  again->ShowValues();
  EXPECT_EQ("1234,500", S(again->Edit(0)->text()));
}

// One window through every dialog, each opened from the options page: each,
// accepted or cancelled, keeps the corners typed before it, and Start uses them.
TEST_F(WindowTest, BoxesRefuseTextDialogsKeepTypedCornersOutputsAreProposedAndTheGuideIsFound) {
  std::filesystem::create_directories(dir_.Path("in"));
  WriteErsSource(dir_, "in/src");
  WriteErsSource(dir_, "in/new");
  auto w = MakeWindow({dir_.Path("in/src.ers"), dir_.Path("out.ers"), "/A0:6:7:0"});
  EXPECT_EQ("8 x 6 cells, 1 band, UNSIGNED8BITINTEGER, cell 1 x 1, extent 0, 6, 8, 0, RAW",
            S(w->SourceFactsLabel()->text()));
  EXPECT_EQ("Output size: 8 x 7 cells", S(w->OutputSizeLabel()->text()));
  w->Edit(0)->setText("5005OO");
  EXPECT_TRUE(w->Edit(0)->styleSheet().contains("red"));
  EXPECT_EQ("not a number", S(w->Edit(0)->toolTip()));
  EXPECT_TRUE(w->Edit(1)->styleSheet().isEmpty());
  EXPECT_EQ("TopLeftX is not a number", S(w->OutputSizeLabel()->text()));
  w->StartBtn()->click();
  EXPECT_FALSE(w->Running() || w->Job());
  EXPECT_EQ("TopLeftX is not a number: 5005OO", S(w->StatusText()));
  EXPECT_EQ(MainWindow::kOptionsPage, w->Pages()->currentIndex());

  w->Edit(0)->setText(" 2,5");
  emit w->Edit(0)->returnPressed();
  EXPECT_EQ("2.500", S(w->Edit(0)->text()));
  EXPECT_TRUE(w->Edit(0)->styleSheet().isEmpty());
  EXPECT_EQ("Output size: 5 x 7 cells", S(w->OutputSizeLabel()->text()));

  auto missing = MakeWindow({dir_.Path("absent.ers")});
  EXPECT_EQ("No file: " + dir_.Path("absent.ers"), S(missing->SourceFactsLabel()->text()));
  EXPECT_EQ(missing->SourceFactsLabel()->text(), missing->OutputSizeLabel()->text());
  EXPECT_EQ(dir_.Path("clipra.hlp"), w->HelpFile());
  w->ContentsAction()->trigger();
  EXPECT_EQ("Help file not found", S(w->StatusText()));
  // An installed <prefix>/bin/clipra reads <prefix>/share/doc/clipra/clipra.hlp,
  // unless a guide sits beside it.
  std::filesystem::create_directories(dir_.Path("share/doc/clipra"));
  std::filesystem::create_directories(dir_.Path("bin"));
  dir_.WriteFile("share/doc/clipra/clipra.hlp", "Key      Meaning\r\n");
  EXPECT_EQ(dir_.Path("bin/../share/doc/clipra/clipra.hlp"),
            MakeWindow({}, "bin/clipra")->HelpFile());
  dir_.WriteFile("bin/clipra.hlp", "Key      Meaning\r\n");
  EXPECT_EQ(dir_.Path("bin/clipra.hlp"), MakeWindow({}, "bin/clipra")->HelpFile());
  dir_.WriteFile("clipra.hlp", "Key      Meaning\r\nF5       Start\r\n");
  const char* const typed[] = {"1", "5,0", " 6 ", "1.25"};
  for (int i = 0; i < 4; ++i) w->Edit(i)->setText(typed[i]);
  auto input = [&](QDialog& d) {
    auto& dialog = dynamic_cast<QFileDialog&>(d);
    EXPECT_EQ("Input file", S(dialog.windowTitle()));
    EXPECT_EQ((QStringList{"Image files (*.osd *.tif *.tiff *.bmp *.jpg *.jpeg *.ers *.dtm *.ecw "
                           "*.001 *.dat *.veg *.rsw)",
                           "All files (*)"}),
              dialog.nameFilters());
    EXPECT_EQ(QString::fromStdString(dir_.Path("in/src.ers")), dialog.selectedFiles().value(0));
    dialog.selectFile("new.ers");
  };
  // What the output dialog offers (in the output's folder), then what is typed into it.
  auto output = [&](const char* filter, const char* name, const char* typed_name, int pick) {
    return [=, this](QDialog& d) {
      auto& dialog = dynamic_cast<QFileDialog&>(d);
      EXPECT_EQ("Output file", S(dialog.windowTitle()));
      EXPECT_EQ(filter, S(dialog.selectedNameFilter()));
      EXPECT_EQ(QString::fromStdString(dir_.Path(name)), dialog.selectedFiles().value(0));
      dialog.selectNameFilter(dialog.nameFilters().at(pick - 1));
      dialog.selectFile(typed_name);
    };
  };
  auto colour = [](QDialog& d) {
    auto& dialog = dynamic_cast<QColorDialog&>(d);
    EXPECT_EQ(QColor(Qt::black), dialog.currentColor()) << "the cancel before changed nothing";
    dialog.setCurrentColor(QColor(10, 20, 30));  // 0x1E140A in BgrColor
  };
  auto about = [](QDialog& d) {
    EXPECT_EQ("About", S(d.windowTitle()));
    auto* version = d.findChild<QLabel*>("VersionLabel");
    auto* close = d.findChild<QPushButton*>("CloseButton");
    EXPECT_TRUE(version && version->text() == "Clipra Utility ver 1.00");
    EXPECT_TRUE(close && close->text() == "Close");
  };
  // The guide shows in a fixed-width font.
  auto guide = [](QDialog& d) {
    auto* text = d.findChild<QPlainTextEdit*>("GuideText");
    EXPECT_TRUE(text && QFontInfo(text->font()).fixedPitch() &&
                text->toPlainText().startsWith("Key      Meaning\nF5"));
  };
  using M = MainWindow;
  const auto out = [](M& w) { w.OutPutBtn()->click(); };
  const struct {
    const char* name;
    void (*open)(M&);
    std::function<void(QDialog&)> accept;  // checks and fills in the dialog, then accepts it
    int page;                              // afterwards
  } kCases[] = {
      {"colour cancel", [](M& w) { w.BackgroundButton()->click(); }, nullptr, M::kOptionsPage},
      {"colour OK", [](M& w) { w.BackgroundButton()->click(); }, colour, M::kOptionsPage},
      {"input cancel", [](M& w) { w.InputLabel()->clicked(); }, nullptr, M::kOptionsPage},
      {"about", [](M& w) { w.AboutAction()->trigger(); }, about, M::kOptionsPage},
      {"guide", [](M& w) { w.ContentsAction()->trigger(); }, guide, M::kOptionsPage},
      // Not "src": that is the source's own data file.
      {"tif", out, output("ER Mapper files (*.ers)", "src_clip", "result", 2), M::kFilesPage},
      {"bmp", out, output("Tiff file (*.tif)", "result.tif", "result.bmp", 2), M::kFilesPage},
      {"nog", out, output("BMP file (*.bmp)", "result.bmp", "sheet", 7), M::kFilesPage},
      {"nog again", out, output("NOG file (*.001)", "sheet.001", "sheet.001", 7), M::kFilesPage},
      {"output cancel", [](M& w) { w.OutputAction()->trigger(); }, nullptr, M::kOptionsPage},
      {"input OK", [](M& w) { w.InputBtn()->click(); }, input, M::kFilesPage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    w->Pages()->setCurrentIndex(M::kOptionsPage);
    int runs = 0;
    w->SetDialogRunner([&](QDialog& d) {
      ++runs;
      if (c.accept) c.accept(d);
      return int{c.accept ? QDialog::Accepted : QDialog::Rejected};
    });
    c.open(*w);
    EXPECT_EQ(1, runs);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(typed[i], S(w->Edit(i)->text()));
    EXPECT_EQ(c.page, w->Pages()->currentIndex());
  }
  EXPECT_EQ(dir_.Path("in/new.ers"), w->InFile());
  EXPECT_EQ("Input file: " + w->InFile() + "|Output file: " + dir_.Path("sheet.001"),
            S(w->InputLabel()->text() + '|' + w->OutputLabel()->text()));
  EXPECT_EQ(0x1E140Au, w->Options().BgrColor);
  EXPECT_EQ(QColor(10, 20, 30), w->BackgroundButton()->palette().color(QPalette::ButtonText));
  w->StartBtn()->click();
  EXPECT_EQ(std::make_tuple(1, 5, 6, 1.25), Corners(*w));
  ASSERT_TRUE(WaitForJob(*w));
  EXPECT_TRUE(FileExists(dir_.Path("sheet.001"))) << S(w->StatusText());
  // A dot in a folder's name is no extension; a description's own pattern
  // gives way to the entry's.
  EXPECT_EQ("/d.x/result.dtm", OutputNameForFilter("/d.x/result", 6));
  EXPECT_EQ((QStringList{"Jpeg files (*.jpg *.jpeg)"}),
            QtNameFilters("Jpeg files (*.jpg)|*.jpg;*.jpeg"));
}

void Drag(QWidget* w, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mousePress(w, button, {}, from);
  QTest::mouseMove(w, (from + to) / 2);
  QTest::mouseMove(w, to);
  QTest::mouseRelease(w, button, {}, to);
}

// Waits until the canvas shows a picture sampled for exactly its current view.
bool WaitForPicture(PreviewCanvas& canvas) {
  return QTest::qWaitFor(
      [&] {
        const PreviewView& v = canvas.PictureView();
        const QPointF corner = canvas.WidgetToMap({0, 0});
        const double unit = canvas.UnitsPerPixel();
        return !canvas.Picture().isNull() &&
               std::make_tuple(v.left, v.top, v.unit_x, v.unit_y, v.width, v.height) ==
                   std::make_tuple(corner.x(), corner.y(), unit, unit, uint32_t(canvas.width()),
                                   uint32_t(canvas.height()));
      },
      20000);
}

// A three-band source of 40 x 20 cells of 10 x 4 map units, cell (0, 0) at
// (5000, 900); cell (x, y) is the colour (5x, 10y, 77).
TEST_F(WindowTest, PreviewZoomsPansAndDrawsTheRectangleThatStartCuts) {
  const std::string src = WriteSource(dir_, "colour", Grid(40, 20, 3, "10", "4", "5000", "900"),
                                      [](uint32_t x, uint32_t y, uint32_t b) {
                                        return b == 0 ? 5.0 * x : b == 1 ? 10.0 * y : 77.0;
                                      });
  auto w = MakeWindow({src, dir_.Path("out.ers"), "/A5100:880:5200:860"});
  w->PreviewAction()->trigger();
  ASSERT_TRUE(w->Preview() && w->Preview()->isVisible());
  PreviewCanvas& canvas = *w->Preview()->Canvas();
  canvas.setFixedSize(300, 200);
  canvas.Fit();
  Source source;
  ASSERT_TRUE(source.Open(src));
  const struct {
    QPointF at;
    double factor;
  } kZooms[] = {{{150, 100}, 1}, {{10, 120}, 3}, {{250, 40}, 1.25 * 1.25}, {{0, 0}, 0.5}};
  for (const auto& z : kZooms) {
    SCOPED_TRACE(z.factor);
    const QPointF still = canvas.WidgetToMap(z.at);
    const double unit = canvas.UnitsPerPixel();
    canvas.ZoomAt(z.at, z.factor);
    EXPECT_DOUBLE_EQ(unit / z.factor, canvas.UnitsPerPixel());
    EXPECT_LT(QLineF(still, canvas.WidgetToMap(z.at)).length(), 1e-9);
    // Sampled again at the new scale, as the sampler's own tests pin it.
    ASSERT_TRUE(WaitForPicture(canvas));
    PreviewSamples samples;
    ASSERT_TRUE(SamplePreview(*source.GetReader(), canvas.PictureView(), samples));
    const std::vector<uint32_t> argb = RenderPreview(samples);
    EXPECT_EQ(QImage(reinterpret_cast<const uchar*>(argb.data()), 300, 200, QImage::Format_RGB32),
              canvas.Picture());
  }
  // A right drag pans: the map point under the cursor follows it.
  const QPointF grabbed = canvas.WidgetToMap({100, 100});
  Drag(&canvas, {100, 100}, {160, 70}, Qt::RightButton);
  EXPECT_LT(QLineF(grabbed, canvas.WidgetToMap({160, 70})).length(), 1e-9);

  // One pixel is one map unit: pixel (x, y) is map (4995 + x, 962 - y). The
  // rectangle from the command line covers pixels (105, 82) to (205, 102).
  canvas.setFixedSize(400, 200);
  canvas.Fit();
  const struct {
    QPoint from, to;
    const char *corners, *size;  // the boxes afterwards, rounded to cell centres
  } kDrags[] = {
      // Draw from map (5032, 889) to (5118, 861): cells 3 to 12 across, 3 to 10 down.
      {{37, 73}, {123, 101}, "5030.000 888.000 5120.000 860.000", "10 x 3"},
      // A click outside keeps it.
      {{300, 150}, {301, 150}, "5030.000 888.000 5120.000 860.000", "10 x 3"},
      // Moved from inside, by 42 and -9 map units: 4 cells across, 2 cells down.
      {{60, 80}, {102, 89}, "5070.000 880.000 5160.000 852.000", "10 x 3"},
      // The right edge lies at 5165 - 4995 = pixel 170.
      {{170, 95}, {215, 40}, "5070.000 880.000 5210.000 852.000", "15 x 3"},
      // The bottom-left corner, at pixels (5065 - 4995, 962 - 855).
      {{70, 107}, {21, 141}, "5020.000 880.000 5210.000 820.000", "20 x 7"},
  };
  for (const auto& d : kDrags) {
    SCOPED_TRACE(d.corners);
    Drag(&canvas, d.from, d.to);
    QStringList boxes;
    for (int i = 0; i < 4; ++i) boxes << w->Edit(i)->text();
    EXPECT_EQ(d.corners, S(boxes.join(' ')));
    EXPECT_EQ("Output size: " + std::string(d.size) + " cells", S(w->OutputSizeLabel()->text()));
    EXPECT_TRUE(canvas.StatusText().contains(QString(" %1 ").arg(d.size)))
        << S(canvas.StatusText());
  }
  // Editing a box redraws the outline.
  w->Edit(2)->setText("5100");
  EXPECT_EQ(5100, canvas.Rectangle().BotRightX);
  w->Edit(3)->setText("x");
  EXPECT_FALSE(canvas.HasRectangle());
  w->Edit(3)->setText("820");

  // Start takes the outline as shown.
  w->StartBtn()->click();
  EXPECT_EQ(std::make_tuple(5020, 880, 5100, 820), Corners(*w));
  ASSERT_TRUE(WaitForJob(*w));
}

TEST_F(WindowTest, StartRunsTheJobStopMenuAndExitEndItAndTheStatusLineTellsTheEnd) {
  using M = MainWindow;
  const std::vector<int> kSevenLines{0, 17, 33, 50, 67, 83, 100};
  const std::string absent = std::string(120, 'a') + ".ers";
  const struct {
    void (*stop)(M&);  // at the first progress call
    bool closes;
    std::string status;
    std::vector<int> percents;
    const char* area = "/A0:6:7:0";
    std::string source = "src.ers";
    const char* flag = "/Q";
  } ways[] = {
      {nullptr, false, "Successful Finish", kSevenLines},
      {nullptr, false, "Successful Finish (the rectangle lies outside the source)", kSevenLines,
       "/A100:6:107:0"},
      {nullptr, false, "No file: " + dir_.Path(absent), {}, "/A0:6:7:0", absent},
      {nullptr, false, "No file name", {}, "/A0:6:7:0", ""},
      {[](M& w) { w.StartBtn()->click(); }, false, "User Abort", {0}},
      {[](M& w) { w.StopAction()->trigger(); }, false, "User Abort", {0}},
      {[](M& w) { w.ExitAction()->trigger(); }, true, "User Abort", {0}},
      {nullptr, true, "Successful Finish", kSevenLines, "/A0:6:7:0", "src.ers", "/F"},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.status + " " + way.flag);
    std::filesystem::remove(Ini());
    auto w = JobWindow(way.source, way.area, way.flag);
    std::filesystem::remove(dir_.Path("out.ers"));
    std::vector<int> percents;
    std::string remaining;
    // The first progress call runs while the worker waits for it, so the job
    // is certainly still running when it is checked and stopped here.
    QObject::connect(w.get(), &MainWindow::ProgressShown, [&](int p) {
      percents.push_back(p);
      EXPECT_EQ(p, w->ProgressGauge()->value());
      EXPECT_EQ(0u, S(w->ElapsedLabel()->text()).rfind("Elapsed Time ", 0));
      remaining = S(w->RemainingLabel()->text());
      if (percents.size() > 1) return;
      ExpectRunning(*w, true);
      EXPECT_EQ("", S(w->StatusText()));
      EXPECT_EQ(w->InFile(), LoadSettings(Ini()).InFile) << "saved at start";
      if (way.stop) way.stop(*w);
    });
    w->show();
    if (!w->AutoRun()) w->StartAction()->trigger();
    ASSERT_TRUE(WaitForJob(*w));
    QApplication::processEvents();
    EXPECT_EQ(way.status, S(w->StatusText()));
    EXPECT_EQ(way.percents, percents) << "the line after a stop request is the last one";
    EXPECT_EQ(!way.closes, w->isVisible());
    EXPECT_FALSE(Busy);
    // The status line shows the whole text, cut with an ellipsis where it
    // does not fit, in its tool tip and on a double click in the clipboard.
    StatusLabel* line = w->StatusLine();
    const QString status = QString::fromStdString(way.status);
    const bool cut = line->fontMetrics().horizontalAdvance(status) > line->contentsRect().width();
    EXPECT_TRUE(way.source != absent || cut) << "a long name does not fit";
    EXPECT_EQ(cut, line->text().contains(QChar(0x2026))) << S(line->text());
    EXPECT_TRUE(line->toolTip().contains(status));
    QApplication::clipboard()->clear();
    QTest::mouseDClick(line, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(way.status, S(QApplication::clipboard()->text()));
    if (!way.closes) ExpectRunning(*w, false);
    if (way.percents != kSevenLines) {
      // A new input (after a stop) or output (else), as offered, clears the text.
      w->SetDialogRunner([](QDialog&) { return int{QDialog::Accepted}; });
      way.stop ? w->ChooseInput() : w->ChooseOutput();
      EXPECT_EQ("", S(w->StatusText()));
      continue;
    }
    EXPECT_EQ("Remaining Time 0:0:0", remaining);
    EXPECT_EQ("Clipra Utility  100 %|Clipra Utility  100 %",
              S(w->ApplicationTitle() + '|' + w->windowTitle()));
    if (way.area != std::string("/A0:6:7:0")) continue;
    // The source, then a line below it.
    EXPECT_EQ(CellText(dir_.Path("src.ers")) + "|0 0 0 0 0 0 0 0", CellText(dir_.Path("out.ers")));
  }
}

TEST_F(WindowTest, DestroyingTheWindowDuringARunStopsTheJob) {
  auto w = JobWindow();
  // Queued from inside the worker's synchronous call at the first progress:
  // the job is still running when the window goes.
  QObject::connect(
      w.get(), &MainWindow::ProgressShown, qApp, [&] { w.reset(); },
      Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
  w->StartBtn()->click();
  for (int i = 0; w && i < 100000; ++i) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_FALSE(w);
  EXPECT_FALSE(Busy);
}

}  // namespace
}  // namespace clipra

int main(int argc, char** argv) {
  // No display is needed, also when ctest lists the tests.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
