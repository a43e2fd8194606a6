#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/core/settings.h"
#include "app/gui/main_window.h"
#include "dataset/mapped_file.h"
#include "dataset/os_locale.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/comma_locale.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

using Strings = std::vector<std::string>;

// An ER Mapper source of unsigned bytes, `width` x `lines`, `cell` units per
// cell, its top-left corner at map (0, lines). Cell (x, y) holds 10 * y + x
// (modulo 256).
void WriteErsSource(const TempDir& dir, const std::string& name, int width, int lines,
                    const std::string& cell = "1") {
  const std::string l = std::to_string(lines), w = std::to_string(width);
  std::string header =
      "DatasetHeader Begin\n Version = \"5.0\"\n DataSetType = ERStorage\n DataType = Raster\n"
      " ByteOrder = LSBFirst\n CoordinateSpace Begin\n  Datum = \"RAW\"\n  Projection = \"RAW\"\n"
      "  CoordinateType = EN\n CoordinateSpace End\n RasterInfo Begin\n"
      "  CellType = Unsigned8BitInteger\n  CellInfo Begin\n   Xdimension = " +
      cell + "\n   Ydimension = " + cell + "\n  CellInfo End\n  NrOfLines = " + l +
      "\n  NrOfCellsPerLine = " + w +
      "\n"
      "  RegistrationCoord Begin\n   Eastings = 0\n   Northings = " +
      l +
      "\n"
      "  RegistrationCoord End\n  NrOfBands = 1\n RasterInfo End\nDatasetHeader End\n";
  // Header lines end in CR LF, as the format's own writers make them.
  for (size_t i = 0; (i = header.find('\n', i)) != std::string::npos; i += 2)
    header.insert(i, "\r");
  dir.WriteFile(name + ".ers", header);
  std::string cells;
  for (int y = 0; y < lines; ++y)
    for (int x = 0; x < width; ++x) cells.push_back(static_cast<char>((10 * y + x) & 0xFF));
  dir.WriteFile(name, cells);
}

// The four corners as one comparable, printable value.
std::tuple<double, double, double, double> Corners(const MainWindow& w) {
  const ExtractOptions& o = w.Options();
  return {o.TopLeftX, o.TopLeftY, o.BotRightX, o.BotRightY};
}

class SeparatorScope {
 public:
  explicit SeparatorScope(char c) { SetLocaleDecimalSeparator(c); }
  ~SeparatorScope() { SetLocaleDecimalSeparator(0); }
};

class WindowTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_.Path("clipra.ini"); }

  std::unique_ptr<MainWindow> MakeWindow(const Strings& params = {}) {
    WindowSetup setup;
    setup.program_path = dir_.Path("clipra");
    setup.settings = {Ini(), Ini()};
    setup.params = params;
    auto window = std::make_unique<MainWindow>(std::move(setup));
    // A test never waits for a person.
    window->SetDialogRunner([](QDialog&) { return int{QDialog::Rejected}; });
    return window;
  }

  // A window set to cut an 8 x 6 source into out.ers.
  std::unique_ptr<MainWindow> JobWindow() {
    WriteErsSource(dir_, "src", 8, 6);
    return MakeWindow({dir_.Path("src.ers"), dir_.Path("out.ers"), "/A0:6:7:0"});
  }

  // The controls that follow Start and the end of a job.
  static void ExpectRunning(MainWindow& w, bool running) {
    EXPECT_EQ(running, w.Running());
    EXPECT_EQ(running, w.Pages()->isTabVisible(MainWindow::kProcessingPage));
    EXPECT_EQ(running ? MainWindow::kProcessingPage : MainWindow::kFilesPage,
              w.Pages()->currentIndex());
    EXPECT_EQ(running ? "Stop" : "Start", w.StartBtn()->text().toStdString());
    EXPECT_EQ(running ? 4 : 3, w.StartImage());
    EXPECT_TRUE(w.StartBtn()->isEnabled());
    for (QWidget* input :
         {static_cast<QWidget*>(w.InputBtn()), static_cast<QWidget*>(w.OutPutBtn()),
          static_cast<QWidget*>(w.InputLabel()), static_cast<QWidget*>(w.OutputLabel())})
      EXPECT_EQ(!running, input->isEnabled()) << input->objectName().toStdString();
    EXPECT_EQ(!running, w.InputAction()->isEnabled());
    EXPECT_EQ(!running, w.OutputAction()->isEnabled());
    EXPECT_TRUE(w.ProcessMenu()->menuAction()->isEnabled());
    EXPECT_EQ(!running, w.StartAction()->isEnabled());
    EXPECT_EQ(running, w.StopAction()->isEnabled());
    EXPECT_TRUE(w.ExitAction()->isEnabled());
  }

  // Runs the event loop until the window's job has ended.
  static bool WaitForJob(MainWindow& window) {
    QSignalSpy finished(&window, &MainWindow::JobFinished);
    return finished.wait(120000);
  }

  SeparatorScope dot_{'.'};
  TempDir dir_;
};

// The command line, as the window applies it.

using CommandLineWindow = WindowTest;

TEST_F(CommandLineWindow, AreaOptionSetsTheFourCornersTolerantly) {
  auto w = MakeWindow({"/a100:200:300:100"});
  EXPECT_EQ(std::make_tuple(100, 200, 300, 100), Corners(*w));
  EXPECT_EQ("300.000", w->Edit(2)->text().toStdString());
  EXPECT_FALSE(w->AutoRun());

  dir_.WriteFile("clipra.ini", "[Options]\nBotRightX=9\nBotRightY=9\n");
  EXPECT_EQ(std::make_tuple(100.5, 200.25, 0, 0), Corners(*MakeWindow({"-A100.5:200,25"})))
      << "missing fields are zero";
  // Empty fields between colons are skipped; a malformed field reads as 0.
  EXPECT_EQ(std::make_tuple(1, 2, 0, 4), Corners(*MakeWindow({"/A1::2:x:4:5"})));
}

TEST_F(CommandLineWindow, NamesAndFOverrideTheSettingsAndExtraNamesAreReported) {
  dir_.WriteFile("clipra.ini", "[Names]\nInFile=old.ers\nOutName=old.bmp\n[Options]\nTopLeftX=5\n");
  auto w = MakeWindow({"/data/in.ers", "out.tif", "/f"});
  EXPECT_EQ("/data/in.ers", w->InFile()) << "a parameter with a further \"/\" is a name";
  EXPECT_EQ("out.tif", w->OutName());
  EXPECT_TRUE(w->AutoRun());
  EXPECT_EQ(5, w->Options().TopLeftX);
  EXPECT_EQ("Input file: /data/in.ers", w->InputLabel()->text().toStdString());

  auto one = MakeWindow({"only.ers", "/Q"});
  EXPECT_EQ("only.ers", one->InFile());
  EXPECT_EQ("old.bmp", one->OutName()) << "a second name is not required";
  EXPECT_FALSE(one->AutoRun()) << "other letters are ignored";
  EXPECT_EQ("", one->StatusText().toStdString());

  auto extra = MakeWindow({"a.ers", "b.ers", "c.ers", "d.ers"});
  EXPECT_EQ("a.ers", extra->InFile());
  EXPECT_EQ("b.ers", extra->OutName());
  EXPECT_EQ("Extra file names ignored: c.ers, d.ers", extra->StatusText().toStdString());
  EXPECT_EQ("Extra file name ignored: c.ers",
            MakeWindow({"a", "b", "c.ers"})->StatusText().toStdString());
}

// Controls, texts and the fixed size.

using WindowLayout = WindowTest;

TEST_F(WindowLayout, ControlsCarryTheirTextsAndHints) {
  auto w = MakeWindow();
  EXPECT_EQ("Clipra Utility", w->windowTitle().toStdString());
  EXPECT_EQ("Clipra Utility", w->ApplicationTitle().toStdString());
  EXPECT_EQ("Define source image file", w->InputBtn()->toolTip().toStdString());
  EXPECT_EQ("Define output file", w->OutPutBtn()->toolTip().toStdString());
  EXPECT_EQ("Start execution", w->StartBtn()->toolTip().toStdString());
  EXPECT_EQ("&File", w->FileMenu()->title().toStdString());
  EXPECT_EQ("&Process", w->ProcessMenu()->title().toStdString());
  EXPECT_EQ("&Input file", w->InputAction()->text().toStdString());
  EXPECT_EQ("&Output file", w->OutputAction()->text().toStdString());
  EXPECT_EQ("E&xit", w->ExitAction()->text().toStdString());
  EXPECT_EQ("&Start", w->StartAction()->text().toStdString());
  EXPECT_EQ("Main toolbar", w->ToolbarAction()->text().toStdString());
  EXPECT_EQ("&Contents", w->ContentsAction()->text().toStdString());
  EXPECT_EQ("&About", w->AboutAction()->text().toStdString());
  EXPECT_EQ("Background Color", w->BackgroundButton()->text().toStdString());
  EXPECT_EQ("Elapsed time:", w->ElapsedLabel()->text().toStdString());
  EXPECT_EQ("Remaining time:", w->RemainingLabel()->text().toStdString());
  EXPECT_FALSE(w->InputBtn()->icon().isNull());
  EXPECT_FALSE(w->StartBtn()->icon().isNull());
  EXPECT_EQ(8, w->font().pointSize());

  QStringList tabs;
  for (int i = 0; i < w->Pages()->count(); ++i) tabs << w->Pages()->tabText(i);
  EXPECT_EQ((QStringList{"Files", "Options", "Processing"}), tabs);
  ExpectRunning(*w, false);
}

TEST_F(WindowLayout, ResizingIsUndone) {
  auto w = MakeWindow();
  w->show();
  const QSize fixed = w->size();
  EXPECT_GE(w->FixedClientWidth(), 389);
  EXPECT_GE(w->FixedClientHeight(), 30 + 131 + 19);
  EXPECT_EQ(w->FixedClientWidth(), fixed.width());
  w->resize(800, 600);
  QApplication::processEvents();
  EXPECT_EQ(fixed, w->size());
  w->setGeometry(10, 10, 200, 100);
  QApplication::processEvents();
  EXPECT_EQ(fixed, w->size());
}

TEST_F(WindowLayout, MainToolbarTogglesWithItsCheckMark) {
  auto w = MakeWindow();
  w->show();
  EXPECT_TRUE(w->ToolbarAction()->isChecked());
  w->ToolbarAction()->trigger();
  EXPECT_FALSE(w->ToolbarAction()->isChecked());
  EXPECT_FALSE(w->ToolBar()->isVisible());
  w->ToolbarAction()->trigger();
  EXPECT_TRUE(w->ToolBar()->isVisible());
}

// Values in the controls and in the settings file.

using WindowValues = WindowTest;

TEST_F(WindowValues, FirstRunShowsTheDefaultsAndEditsShowThreeDecimalsInTheLocalesSeparator) {
  auto first = MakeWindow();
  EXPECT_EQ("Input file: ", first->InputLabel()->text().toStdString());
  EXPECT_EQ("Output file: map.bmp", first->OutputLabel()->text().toStdString());
  for (int i = 0; i < 4; ++i) EXPECT_EQ("0.000", first->Edit(i)->text().toStdString());
  EXPECT_EQ(QColor(Qt::black), first->BackgroundButton()->palette().color(QPalette::ButtonText));

  dir_.WriteFile("clipra.ini", "[Options]\nTopLeftX=1234.5\nBgrColor=255\n");
  auto w = MakeWindow();
  EXPECT_EQ("1234.500", w->Edit(0)->text().toStdString());
  EXPECT_EQ(QColor(255, 0, 0), w->BackgroundButton()->palette().color(QPalette::ButtonText));
  SeparatorScope comma(',');
  w->ShowValues();
  EXPECT_EQ("1234,500", w->Edit(0)->text().toStdString());
}

TEST_F(WindowValues, ReadEditsIsTolerant) {
  auto w = MakeWindow();
  w->Edit(0)->setText("12,5");
  w->Edit(1)->setText("abc");
  w->Edit(2)->setText(" -7.25 ");
  w->Edit(3)->setText("1e999");
  w->ReadEdits();
  // "abc", and a value no double can hold, read as 0.
  EXPECT_EQ(std::make_tuple(12.5, 0, -7.25, 0), Corners(*w));
}

TEST_F(WindowValues, NamesThatLookLikeMarkupShowAsTyped) {
  auto w = MakeWindow({"/maps/<i>x</i>.ers", "/maps/a&b <b>.tif"});
  // A label left to guess would render the first as an italic "x.ers".
  for (QLabel* label :
       {static_cast<QLabel*>(w->InputLabel()), static_cast<QLabel*>(w->OutputLabel()),
        w->findChild<QLabel*>("StatusLine"), w->ElapsedLabel(), w->RemainingLabel()}) {
    ASSERT_TRUE(label);
    EXPECT_EQ(Qt::PlainText, label->textFormat()) << label->objectName().toStdString();
  }
  EXPECT_EQ("Input file: /maps/<i>x</i>.ers", w->InputLabel()->text().toStdString());
  EXPECT_NE(std::string::npos,
            w->InputLabel()->toolTip().toStdString().find("/maps/&lt;i&gt;x&lt;/i&gt;.ers"));
  EXPECT_NE(std::string::npos, w->OutputLabel()->toolTip().toStdString().find("a&amp;b &lt;b&gt;"));
}

TEST_F(WindowValues, TypedValueSurvivesARestartOnceTheWindowCloses) {
  {
    auto w = MakeWindow({"src.ers", "out.osd"});
    w->show();
    w->Edit(0)->setText("345.5");
    EXPECT_TRUE(w->close());
  }
  const Settings saved = LoadSettings(Ini());
  EXPECT_EQ(345.5, saved.Options.TopLeftX);
  EXPECT_EQ("src.ers", saved.InFile);
  EXPECT_EQ("out.osd", saved.OutName);
  auto again = MakeWindow();
  EXPECT_EQ("345.500", again->Edit(0)->text().toStdString());
}

// Dialogs.

using WindowDialogs = WindowTest;

TEST_F(WindowDialogs, NameFiltersAreQtsFormAndOutputNamesTakeTheExtensionOnlyWhenTheyHaveNone) {
  EXPECT_EQ((QStringList{"Image files (*.osd *.tif)", "All files (*)"}),
            QtNameFilters("Image files(*.osd;*.tif)|*.osd;*.tif|All files(*.*)|*.*"));
  EXPECT_EQ((QStringList{"Jpeg files (*.jpg *.jpeg)"}),
            QtNameFilters("Jpeg files (*.jpg)|*.jpg;*.jpeg"));
  EXPECT_EQ("/d/result.tif", OutputNameForFilter("/d/result", 2));
  EXPECT_EQ("/d/result.bmp", OutputNameForFilter("/d/result.bmp", 2));
  EXPECT_EQ("/d.x/result.dtm", OutputNameForFilter("/d.x/result", 6));
  EXPECT_EQ("/d/result.osd", OutputNameForFilter("/d/result", 1));
}

TEST_F(WindowDialogs, InputDialogStartsAtTheCurrentSourceAndTakesTheChoice) {
  dir_.WriteFile("old.ers", "x");
  dir_.WriteFile("new.ers", "x");
  auto w = MakeWindow({dir_.Path("old.ers")});
  w->Pages()->setCurrentIndex(MainWindow::kOptionsPage);
  bool seen = false;
  w->SetDialogRunner([&](QDialog& d) {
    auto& dialog = dynamic_cast<QFileDialog&>(d);
    seen = true;
    EXPECT_EQ("Input file", dialog.windowTitle().toStdString());
    EXPECT_EQ(QFileDialog::ExistingFile, dialog.fileMode());
    EXPECT_EQ(QFileDialog::AcceptOpen, dialog.acceptMode());
    EXPECT_EQ((QStringList{"Image files (*.osd *.tif *.tiff *.bmp *.jpg *.jpeg *.ers *.dtm *.ecw "
                           "*.001 *.dat *.veg *.rsw)",
                           "All files (*)"}),
              dialog.nameFilters());
    EXPECT_EQ(dialog.nameFilters().front(), dialog.selectedNameFilter());
    EXPECT_EQ(QString::fromStdString(dir_.path()), dialog.directory().absolutePath());
    EXPECT_EQ(QString::fromStdString(dir_.Path("old.ers")), dialog.selectedFiles().value(0));
    dialog.selectFile("new.ers");
    return int{QDialog::Accepted};
  });
  w->InputBtn()->click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(dir_.Path("new.ers"), w->InFile());
  EXPECT_EQ(MainWindow::kFilesPage, w->Pages()->currentIndex());
  EXPECT_EQ("Input file: " + dir_.Path("new.ers"), w->InputLabel()->text().toStdString());
}

TEST_F(WindowDialogs, OutputDialogProposesANameThenRemembersFolderFilterAndName) {
  auto w = MakeWindow({"/maps/ortho.ers", dir_.Path("old.osd")});
  // What the dialog offers, then what is typed into it.
  const struct {
    const char* offered_filter;
    const char* offered_name;
    const char* typed;
    int filter;
    const char* chosen;
  } kRows[] = {
      // Not "ortho": that is the source's own data file.
      {"OSD file (*.osd)", "ortho_clip", "result", 2, "result.tif"},
      {"Tiff file (*.tif)", "result.tif", "result.bmp", 2, "result.bmp"},
      {"BMP file (*.bmp)", "result.bmp", "sheet", 7, "sheet.001"},
      {"NOG file (*.001)", "sheet.001", "sheet.001", 7, "sheet.001"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.typed);
    w->SetDialogRunner([&](QDialog& d) {
      auto& dialog = dynamic_cast<QFileDialog&>(d);
      EXPECT_EQ("Output file", dialog.windowTitle().toStdString());
      EXPECT_EQ(QFileDialog::AcceptSave, dialog.acceptMode());
      EXPECT_EQ(7, dialog.nameFilters().size());
      EXPECT_EQ(row.offered_filter, dialog.selectedNameFilter().toStdString());
      EXPECT_EQ(QString::fromStdString(dir_.path()), dialog.directory().absolutePath());
      EXPECT_EQ(QString::fromStdString(dir_.Path(row.offered_name)),
                dialog.selectedFiles().value(0));
      dialog.selectNameFilter(dialog.nameFilters().at(row.filter - 1));
      dialog.selectFile(row.typed);
      return int{QDialog::Accepted};
    });
    w->OutPutBtn()->click();
    EXPECT_EQ(dir_.Path(row.chosen), w->OutName());
  }
  EXPECT_EQ("Output file: " + dir_.Path("sheet.001"), w->OutputLabel()->text().toStdString());
  w->SetDialogRunner([](QDialog&) { return int{QDialog::Rejected}; });
  w->OutPutBtn()->click();
  EXPECT_EQ(dir_.Path("sheet.001"), w->OutName()) << "cancel keeps the name";
}

TEST_F(WindowDialogs, ColourDialogSetsTheBackground) {
  auto w = MakeWindow();
  w->SetDialogRunner([](QDialog& d) {
    auto& dialog = dynamic_cast<QColorDialog&>(d);
    EXPECT_EQ(QColor(Qt::black), dialog.currentColor());
    dialog.setCurrentColor(QColor(10, 20, 30));
    return int{QDialog::Accepted};
  });
  w->BackgroundButton()->click();
  EXPECT_EQ(30u << 16 | 20u << 8 | 10u, w->Options().BgrColor);
  EXPECT_EQ(QColor(10, 20, 30), w->BackgroundButton()->palette().color(QPalette::ButtonText));
}

TEST_F(WindowDialogs, TypedCornersSurviveEveryDialogAndStartUsesThem) {
  const char* const typed[] = {"1", "5,0", " 6 ", "1.25"};
  auto accept = [](QDialog&) { return int{QDialog::Accepted}; };
  auto cancel = [](QDialog&) { return int{QDialog::Rejected}; };
  const struct {
    const char* name;
    std::function<void(MainWindow&)> open;
    MainWindow::DialogRunner runner;
  } kCases[] = {
      {"colour OK", [](MainWindow& w) { w.BackgroundButton()->click(); },
       [](QDialog& d) {
         dynamic_cast<QColorDialog&>(d).setCurrentColor(Qt::white);
         return int{QDialog::Accepted};
       }},
      {"colour cancel", [](MainWindow& w) { w.BackgroundButton()->click(); }, cancel},
      {"input OK", [](MainWindow& w) { w.InputBtn()->click(); }, accept},
      {"input cancel", [](MainWindow& w) { w.InputLabel()->clicked(); }, cancel},
      // The proposal taken as it stands, under the first filter entry.
      {"output OK", [](MainWindow& w) { w.OutPutBtn()->click(); }, accept},
      {"output cancel", [](MainWindow& w) { w.OutputAction()->trigger(); }, cancel},
      {"about", [](MainWindow& w) { w.AboutAction()->trigger(); }, accept},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto w = JobWindow();
    w->Pages()->setCurrentIndex(MainWindow::kOptionsPage);
    for (int i = 0; i < 4; ++i) w->Edit(i)->setText(typed[i]);
    w->SetDialogRunner(c.runner);
    c.open(*w);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(typed[i], w->Edit(i)->text().toStdString());
    EXPECT_EQ(dir_.Path("src.ers"), w->InFile());
    w->StartBtn()->click();
    EXPECT_EQ(std::make_tuple(1, 5, 6, 1.25), Corners(*w));
    ASSERT_TRUE(WaitForJob(*w));
    EXPECT_EQ("Successful Finish", w->StatusText().toStdString()) << w->OutName();
  }
  EXPECT_TRUE(FileExists(dir_.Path("src_clip.ers"))) << "the filter of the current output";
}

TEST_F(WindowDialogs, AboutBoxNamesTheVersion) {
  auto w = MakeWindow();
  bool seen = false;
  w->SetDialogRunner([&](QDialog& d) {
    seen = true;
    EXPECT_EQ("About", d.windowTitle().toStdString());
    auto* version = d.findChild<QLabel*>("VersionLabel");
    auto* close = d.findChild<QPushButton*>("CloseButton");
    EXPECT_TRUE(version && version->text() == "Clipra Utility ver 1.00");
    EXPECT_TRUE(close && close->text() == "Close");
    return int{QDialog::Accepted};
  });
  w->AboutAction()->trigger();
  EXPECT_TRUE(seen);
}

TEST_F(WindowDialogs, GuideIsFoundBesideTheProgramThenInstalledAndMissingIsReported) {
  auto w = MakeWindow();
  EXPECT_EQ(dir_.Path("clipra.hlp"), w->HelpFile());
  w->ContentsAction()->trigger();
  EXPECT_EQ("Help file not found", w->StatusText().toStdString());

  // An installed <prefix>/bin/clipra reads <prefix>/share/doc/clipra/clipra.hlp,
  // unless a guide sits beside it.
  const struct {
    const char* beside;
    const char* expected;
  } rows[] = {{nullptr, "bin/../share/doc/clipra/clipra.hlp"},
              {"bin/clipra.hlp", "bin/clipra.hlp"}};
  std::filesystem::create_directories(dir_.Path("share/doc/clipra"));
  std::filesystem::create_directories(dir_.Path("bin"));
  dir_.WriteFile("share/doc/clipra/clipra.hlp", "Key      Meaning\r\n");
  for (const auto& row : rows) {
    if (row.beside) dir_.WriteFile(row.beside, "Key      Meaning\r\n");
    WindowSetup setup;
    setup.program_path = dir_.Path("bin/clipra");
    setup.settings = {Ini(), Ini()};
    MainWindow installed(std::move(setup));
    EXPECT_EQ(dir_.Path(row.expected), installed.HelpFile()) << row.expected;
  }
}

// The preview.

using PreviewTest = WindowTest;

// A three-band source of 40 x 20 cells of 10 x 4 map units, cell (0, 0) at
// (5000, 900); cell (x, y) is the colour (5x, 10y, 77).
std::string WriteColourSource(const TempDir& dir) {
  ErsSource s;
  s.width = 40;
  s.lines = 20;
  s.bands = 3;
  s.cell_size_x = "10";
  s.cell_size_y = "4";
  s.eastings = "5000";
  s.northings = "900";
  s.data = MakeCells(s, [](uint32_t x, uint32_t y, uint32_t b) {
    return b == 0 ? 5.0 * x : b == 1 ? 10.0 * y : 77.0;
  });
  s.Write(dir.Path("colour"));
  return dir.Path("colour.ers");
}

void SendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  QMouseEvent event(type, pos, w->mapToGlobal(pos),
                    type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

void Drag(QWidget* w, QPointF from, QPointF to, Qt::MouseButton button = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, from, button);
  SendMouse(w, QEvent::MouseMove, (from + to) / 2, button);
  SendMouse(w, QEvent::MouseMove, to, button);
  SendMouse(w, QEvent::MouseButtonRelease, to, button);
}

// Waits until the canvas shows a picture sampled for its current view.
bool WaitForPicture(PreviewCanvas& canvas) {
  for (int i = 0; i < 200; ++i) {
    const PreviewView& v = canvas.PictureView();
    if (!canvas.Picture().isNull() && v.left == canvas.WidgetToMap({0, 0}).x() &&
        v.unit_x == canvas.UnitsPerPixel() && v.width == static_cast<uint32_t>(canvas.width()))
      return true;
    QSignalSpy shown(&canvas, &PreviewCanvas::PictureShown);
    shown.wait(100);
  }
  return false;
}

TEST_F(PreviewTest, PixelsAndMapCoordinatesAgreeAtEveryZoomAndThePictureShowsTheNearestCells) {
  const std::string src = WriteColourSource(dir_);
  auto w = MakeWindow({src, dir_.Path("out.ers"), "/A5100:880:5200:860"});
  w->PreviewAction()->trigger();
  PreviewWindow* preview = w->Preview();
  ASSERT_TRUE(preview && preview->isVisible());
  EXPECT_EQ(QKeySequence(Qt::CTRL | Qt::Key_P), w->PreviewAction()->shortcut());
  PreviewCanvas& canvas = *preview->Canvas();
  canvas.setFixedSize(300, 200);
  canvas.Fit();
  // The extent, 400 x 80 map units, fills the width and is centred.
  EXPECT_DOUBLE_EQ(400.0 / 300, canvas.UnitsPerPixel());
  EXPECT_NEAR(4995, canvas.WidgetToMap({0, 0}).x(), 1e-9);
  EXPECT_NEAR(862, canvas.WidgetToMap({0, 100}).y(), 1e-9);

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
    EXPECT_NEAR(still.x(), canvas.WidgetToMap(z.at).x(), 1e-9);
    EXPECT_NEAR(still.y(), canvas.WidgetToMap(z.at).y(), 1e-9);
    for (QPointF p : {QPointF(3, 7), QPointF(299.5, 0.25)}) {
      const QPointF back = canvas.MapToWidget(canvas.WidgetToMap(p));
      EXPECT_NEAR(p.x(), back.x(), 1e-9);
      EXPECT_NEAR(p.y(), back.y(), 1e-9);
    }
    // Sampled again at the new scale: every pixel is the cell at its centre.
    ASSERT_TRUE(WaitForPicture(canvas));
    const QImage& picture = canvas.Picture();
    ASSERT_EQ(QSize(300, 200), picture.size());
    for (int py = 0; py < 200; py += 7)
      for (int px = 0; px < 300; px += 11) {
        const QPointF map = canvas.WidgetToMap({px + 0.5, py + 0.5});
        float r = 0, g = 0, b = 0;
        const QRgb pixel = picture.pixel(px, py);
        if (!source.GetValue(0, r, map.x(), map.y(), 0)) {
          EXPECT_EQ(qRed(pixel), qBlue(pixel)) << "grey checker at " << px << "," << py;
          continue;
        }
        source.GetValue(1, g, map.x(), map.y(), 0);
        source.GetValue(2, b, map.x(), map.y(), 0);
        ASSERT_EQ(qRgb(int(r), int(g), int(b)), pixel) << px << "," << py;
      }
  }
  // A right drag pans: the map point under the cursor follows it.
  const QPointF grabbed = canvas.WidgetToMap({100, 100});
  Drag(&canvas, {100, 100}, {160, 70}, Qt::RightButton);
  EXPECT_NEAR(grabbed.x(), canvas.WidgetToMap({160, 70}).x(), 1e-9);
  EXPECT_NEAR(grabbed.y(), canvas.WidgetToMap({160, 70}).y(), 1e-9);
}

TEST_F(PreviewTest, DraggingDrawsMovesAndResizesTheRectangleAndTheCornerBoxesFollow) {
  const std::string src = WriteColourSource(dir_);
  auto w = MakeWindow({src, dir_.Path("out.ers"), "/A0:0:0:0"});
  w->PreviewAction()->trigger();
  PreviewCanvas& canvas = *w->Preview()->Canvas();
  canvas.setFixedSize(400, 200);
  canvas.Fit();
  // One pixel is one map unit: pixel (x, y) is map (4995 + x, 962 - y).
  ASSERT_DOUBLE_EQ(1, canvas.UnitsPerPixel());
  ASSERT_DOUBLE_EQ(4995, canvas.WidgetToMap({0, 0}).x());
  ASSERT_DOUBLE_EQ(962, canvas.WidgetToMap({0, 0}).y());
  auto boxes = [&] {
    std::string s;
    for (int i = 0; i < 4; ++i) s += (i ? " " : "") + w->Edit(i)->text().toStdString();
    return s;
  };
  const struct {
    const char* what;
    QPointF from, to;
    const char* corners;  // the boxes afterwards, rounded to cell centres
    const char* size;
  } kDrags[] = {
      // From map (5032, 889) to (5118, 861): cells 3 to 12 across, 3 to 10 down.
      {"draw",
       {37, 73},
       {123, 101},
       "5030.000 888.000 5120.000 860.000",
       "Output size: 10 x 3 cells"},
      {"click outside keeps it",
       {300, 150},
       {301, 150},
       "5030.000 888.000 5120.000 860.000",
       "Output size: 10 x 3 cells"},
      // Inside, by 42 and -9 map units: 4 cells across, 2 cells down.
      {"move",
       {60, 80},
       {102, 89},
       "5070.000 880.000 5160.000 852.000",
       "Output size: 10 x 3 cells"},
      // The right edge lies at 5165 - 4995 = pixel 170.
      {"resize right",
       {170, 95},
       {215, 40},
       "5070.000 880.000 5210.000 852.000",
       "Output size: 15 x 3 cells"},
      // The bottom-left corner, at pixels (5065 - 4995, 962 - 855).
      {"resize corner",
       {70, 107},
       {21, 141},
       "5020.000 880.000 5210.000 820.000",
       "Output size: 20 x 7 cells"},
  };
  for (const auto& d : kDrags) {
    SCOPED_TRACE(d.what);
    Drag(&canvas, d.from, d.to);
    EXPECT_EQ(d.corners, boxes());
    EXPECT_EQ(d.size, w->OutputSizeLabel()->text().toStdString());
    EXPECT_NE(std::string::npos,
              canvas.StatusText().toStdString().find(std::string(d.size).substr(12, 8)))
        << canvas.StatusText().toStdString();
  }
  // Editing a box redraws the outline.
  w->Edit(2)->setText("5100");
  EXPECT_EQ(5100, canvas.Rectangle().BotRightX);
  w->Edit(3)->setText("x");
  EXPECT_FALSE(canvas.HasRectangle());
  w->Edit(3)->setText("820");

  // Start gives the clip the outline showed: 9 x 7 cells from cell (2, 5).
  w->StartBtn()->click();
  ASSERT_TRUE(WaitForJob(*w));
  EXPECT_EQ("Successful Finish", w->StatusText().toStdString());
  uint32_t width = 0, lines = 0, bands = 0;
  const std::vector<float> cells = ReadAllCells(dir_.Path("out.ers"), &width, &lines, &bands);
  ASSERT_EQ(9u, width);
  ASSERT_EQ(7u, lines);
  EXPECT_EQ(5 * 2, cells[0]) << "red of cell (2, 5)";
  EXPECT_EQ(10 * 5, cells[width]) << "green of cell (2, 5)";
}

// The rough edges.

using RoughEdges = WindowTest;

TEST_F(RoughEdges, ProcessMenuStopsAndKeysStartAndStop) {
  auto w = JobWindow();
  EXPECT_EQ((QList<QKeySequence>{QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}),
            w->StartAction()->shortcuts());
  EXPECT_EQ(QKeySequence(Qt::Key_Escape), w->StopAction()->shortcut());
  QObject::connect(w.get(), &MainWindow::ProgressShown, [&](int) {
    ExpectRunning(*w, true);
    w->StopAction()->trigger();
  });
  w->StartAction()->trigger();
  ASSERT_TRUE(WaitForJob(*w));
  EXPECT_EQ("User Abort", w->StatusText().toStdString());
  ExpectRunning(*w, false);
}

TEST_F(RoughEdges, StatusTextsAreWholeFreshAndTellWhenTheRectangleMissesTheSource) {
  WriteErsSource(dir_, "src", 8, 6);
  const std::string src = dir_.Path("src.ers");
  const std::string absent = dir_.Path(std::string(120, 'a') + ".ers");
  const struct {
    std::string source;
    const char* area;
    std::string status;
  } kRuns[] = {
      {src, "/A0:0:1001400:-400",
       "Output window too large: 1001401 x 401 cells (at most 65535 x 65535)"},
      {src, "/A100:6:107:0", "Successful Finish (the rectangle lies outside the source)"},
      {src, "/A0:6:7:0", "Successful Finish"},
      {absent, "/A0:6:7:0", "No file: " + absent},
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(run.area);
    auto w = MakeWindow({run.source, dir_.Path("out.ers"), run.area});
    w->show();
    w->StartBtn()->click();
    ASSERT_TRUE(WaitForJob(*w));
    EXPECT_EQ(run.status, w->StatusText().toStdString());
    StatusLabel* line = w->StatusLine();
    const QString status = QString::fromStdString(run.status);
    const bool cut = line->fontMetrics().horizontalAdvance(status) > line->contentsRect().width();
    EXPECT_TRUE(run.source == src || cut) << "a long name does not fit";
    EXPECT_EQ(cut, line->text().contains(QChar(0x2026))) << line->text().toStdString();
    EXPECT_NE(std::string::npos, line->toolTip().toStdString().find(run.status));
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(line, &click);
    EXPECT_EQ(run.status, QApplication::clipboard()->text().toStdString());
  }
  // A new input or output clears a text left from the last run.
  dir_.WriteFile("clipra.ini", "[Names]\nOutName=" + dir_.Path("o.bmp") + "\n");
  for (auto choose : {&MainWindow::ChooseInput, &MainWindow::ChooseOutput}) {
    auto w = MakeWindow();
    w->StartBtn()->click();
    ASSERT_TRUE(WaitForJob(*w));
    EXPECT_EQ("No file name", w->StatusText().toStdString());
    w->SetDialogRunner([&](QDialog& d) {
      dynamic_cast<QFileDialog&>(d).selectFile(QString::fromStdString(dir_.Path("src.ers")));
      return int{QDialog::Accepted};
    });
    ((*w).*choose)();
    EXPECT_EQ("", w->StatusText().toStdString());
  }
}

TEST_F(RoughEdges, CornerBoxesThatAreNotNumbersAreMarkedAndRefusedAndEnterAppliesABox) {
  auto w = JobWindow();
  EXPECT_EQ("8 x 6 cells, 1 band, UNSIGNED8BITINTEGER, cell 1 x 1, extent 0, 6, 8, 0, RAW",
            w->SourceFactsLabel()->text().toStdString());
  EXPECT_EQ("Output size: 8 x 7 cells", w->OutputSizeLabel()->text().toStdString());
  w->Edit(0)->setText("5005OO");
  EXPECT_TRUE(w->Edit(0)->styleSheet().contains("red"));
  EXPECT_EQ("not a number", w->Edit(0)->toolTip().toStdString());
  EXPECT_TRUE(w->Edit(1)->styleSheet().isEmpty());
  EXPECT_EQ("TopLeftX is not a number", w->OutputSizeLabel()->text().toStdString());
  w->StartBtn()->click();
  EXPECT_FALSE(w->Running());
  EXPECT_EQ(nullptr, w->Job());
  EXPECT_EQ("TopLeftX is not a number: 5005OO", w->StatusText().toStdString());
  EXPECT_EQ(MainWindow::kOptionsPage, w->Pages()->currentIndex());

  w->Edit(0)->setText(" 2,5");
  emit w->Edit(0)->returnPressed();
  EXPECT_EQ("2.500", w->Edit(0)->text().toStdString());
  EXPECT_EQ(2.5, w->Options().TopLeftX);
  EXPECT_TRUE(w->Edit(0)->styleSheet().isEmpty());
  EXPECT_EQ("Output size: 5 x 7 cells", w->OutputSizeLabel()->text().toStdString());

  auto missing = MakeWindow({dir_.Path("absent.ers")});
  EXPECT_EQ("No file: " + dir_.Path("absent.ers"),
            missing->SourceFactsLabel()->text().toStdString());
  EXPECT_EQ(missing->SourceFactsLabel()->text(), missing->OutputSizeLabel()->text());
}

TEST_F(RoughEdges, ToolBarVisibilityIsRememberedAndTheGuideIsFixedWidth) {
  {
    auto w = MakeWindow();
    w->show();
    w->ToolbarAction()->trigger();
    EXPECT_TRUE(w->close());
  }
  EXPECT_NE(std::string::npos, dir_.ReadFile("clipra.ini").find("BgrColor=0\r\nToolBar=0\r\n"));
  auto w = MakeWindow();
  w->show();
  EXPECT_FALSE(w->ToolbarAction()->isChecked());
  EXPECT_FALSE(w->ToolBar()->isVisible());

  dir_.WriteFile("clipra.hlp", "Key      Meaning\r\nF5       Start\r\n");
  bool seen = false;
  w->SetDialogRunner([&](QDialog& d) {
    auto* text = d.findChild<QPlainTextEdit*>("GuideText");
    seen = text != nullptr;
    if (text) {
      EXPECT_TRUE(QFontInfo(text->font()).fixedPitch());
      EXPECT_TRUE(text->toPlainText().startsWith("Key      Meaning"));
    }
    return int{QDialog::Accepted};
  });
  w->ContentsAction()->trigger();
  EXPECT_TRUE(seen);
}

// Start, Stop and the end of a job.

using WindowJob = WindowTest;

TEST_F(WindowJob, StartRunsTheJobAndItsEndRestoresTheWindow) {
  auto w = JobWindow();
  w->show();
  w->StartBtn()->click();

  ExpectRunning(*w, true);
  EXPECT_TRUE(w->ProgressGauge()->isVisible());
  EXPECT_EQ(0, w->ProgressGauge()->value());
  EXPECT_EQ("", w->StatusText().toStdString());
  EXPECT_EQ(dir_.Path("src.ers"), LoadSettings(Ini()).InFile) << "saved at start";

  std::vector<int> percents;
  std::string elapsed, remaining;
  QObject::connect(w.get(), &MainWindow::ProgressShown, [&](int p) {
    percents.push_back(p);
    elapsed = w->ElapsedLabel()->text().toStdString();
    remaining = w->RemainingLabel()->text().toStdString();
  });
  ASSERT_TRUE(WaitForJob(*w));

  ExpectRunning(*w, false);
  EXPECT_EQ("Successful Finish", w->StatusText().toStdString());
  EXPECT_EQ((std::vector<int>{0, 17, 33, 50, 67, 83, 100}), percents) << "seven lines";
  EXPECT_EQ(0u, elapsed.rfind("Elapsed Time ", 0)) << elapsed;
  EXPECT_EQ("Remaining Time 0:0:0", remaining);
  EXPECT_EQ("Clipra Utility  100 %", w->ApplicationTitle().toStdString());
  EXPECT_EQ("Clipra Utility  100 %", w->windowTitle().toStdString());
  EXPECT_FALSE(w->ProgressGauge()->isVisible());
  EXPECT_TRUE(w->isVisible()) << "only an unattended run closes the window";
  EXPECT_TRUE(FileExists(dir_.Path("out.ers")));
}

TEST_F(WindowJob, StopOrExitDuringARunEndsWithUserAbort) {
  auto w = JobWindow();
  int shown = 0;
  // The first progress call runs while the worker waits for it, so the job
  // is certainly still running when Stop is pressed here.
  QObject::connect(w.get(), &MainWindow::ProgressShown, [&](int) {
    if (++shown == 1) w->StartBtn()->click();
  });
  w->StartBtn()->click();
  ASSERT_TRUE(WaitForJob(*w));
  EXPECT_EQ("User Abort", w->StatusText().toStdString());
  EXPECT_EQ(1, shown) << "the line after the request is the last one";
  ExpectRunning(*w, false);
  EXPECT_FALSE(Busy);

  // Exit stops the job and then closes the window.
  auto exiting = JobWindow();
  exiting->show();
  QObject::connect(exiting.get(), &MainWindow::ProgressShown,
                   [&](int) { exiting->ExitAction()->trigger(); });
  exiting->StartBtn()->click();
  ASSERT_TRUE(WaitForJob(*exiting));
  QApplication::processEvents();
  EXPECT_EQ("User Abort", exiting->StatusText().toStdString());
  EXPECT_FALSE(exiting->isVisible());
}

TEST_F(WindowJob, JobFailureTextReachesTheStatusLine) {
  WriteErsSource(dir_, "src", 4, 4);
  auto w = MakeWindow({dir_.Path("src.ers"), dir_.Path("out.bmp"), "/A0:4:3:0"});
  // Byte data into a BMP passes; a 16-bit source does not.
  std::string header = dir_.ReadFile("src.ers");
  header.replace(header.find("Unsigned8BitInteger"), 19, "Signed16BitInteger");
  dir_.WriteFile("src.ers", header);
  dir_.WriteFile("src", std::string(32, '\0'));
  w->StartBtn()->click();
  ASSERT_TRUE(WaitForJob(*w));
  EXPECT_EQ("BMP files support only byte data", w->StatusText().toStdString());
  ExpectRunning(*w, false);

  auto missing = MakeWindow({dir_.Path("absent.ers"), dir_.Path("out.osd")});
  missing->StartBtn()->click();
  ASSERT_TRUE(WaitForJob(*missing));
  EXPECT_EQ(missing->Job()->StatusText, missing->StatusText().toStdString());
  EXPECT_NE("Successful Finish", missing->StatusText().toStdString());
}

TEST_F(WindowJob, UnattendedRunWritesTheOutputAndCloses) {
  // Either way output cell (c, r) is source cell (1 + c, 1 + r).
  const struct {
    bool comma_locale;
    const char* cell;
    double cell_size;
    const char* area;
    double top_left_x, bot_right_y;
    const char* saved_line;  // in the locale's separator
  } rows[] = {
      {false, "1", 1, "/A1:3:3:2", 1, 2, "TopLeftX=1.000\r\n"},
      {true, "0.5", 0.5, "/A0.5:3.5:1.5:3.0", 0.5, 3, "TopLeftX=0,500\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.area);
    std::optional<CommaLocale> comma;
    if (row.comma_locale) {
      comma.emplace();
      REQUIRE_COMMA_LOCALE(*comma);
    }
    WriteErsSource(dir_, "src", 6, 4, row.cell);
    auto w = MakeWindow({dir_.Path("src.ers"), dir_.Path("cut.ers"), row.area, "/F"});
    ASSERT_TRUE(w->AutoRun());
    w->show();
    ASSERT_TRUE(WaitForJob(*w));
    QApplication::processEvents();
    EXPECT_FALSE(w->isVisible()) << "the window closes by itself";
    EXPECT_EQ("Successful Finish", w->StatusText().toStdString());

    Source out;
    ASSERT_TRUE(out.Open(dir_.Path("cut.ers"))) << out.GetErrorText();
    RasterReader& reader = *out.GetReader();
    ASSERT_EQ(3u, reader.GetWidth());
    ASSERT_EQ(2u, reader.GetLines());
    EXPECT_EQ(row.cell_size, reader.GetCellSizeX());
    for (uint32_t r = 0; r < 2; ++r)
      for (uint32_t c = 0; c < 3; ++c) {
        float v = -1;
        ASSERT_TRUE(reader.GetCell(c, r, 0, v));
        EXPECT_EQ(static_cast<float>(10 * (1 + r) + 1 + c), v) << c << "," << r;
      }
    const Settings saved = LoadSettings(Ini());
    EXPECT_EQ(dir_.Path("cut.ers"), saved.OutName);
    EXPECT_EQ(row.top_left_x, saved.Options.TopLeftX);
    EXPECT_EQ(row.bot_right_y, saved.Options.BotRightY);
    EXPECT_NE(std::string::npos, dir_.ReadFile("clipra.ini").find(row.saved_line));
  }
}

TEST_F(WindowJob, DestroyingTheWindowDuringARunStopsTheJob) {
  auto w = JobWindow();
  bool destroyed = false;
  QObject::connect(w.get(), &MainWindow::ProgressShown, [&](int) {
    if (!destroyed) {
      destroyed = true;
      // From inside the worker's synchronous call: the worker still waits.
      QMetaObject::invokeMethod(
          qApp, [&] { w.reset(); }, Qt::QueuedConnection);
    }
  });
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
