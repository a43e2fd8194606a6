#include "app/gui/main_window.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

#include "app/core/command_line.h"
#include "app/gui/glyphs.h"
#include "dataset/identify.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr const char* kCaption = "Clipra Utility";
constexpr const char* kVersionText = "Clipra Utility ver 1.00";
// Every extension a reader takes.
constexpr const char* kInputFilter =
    "Image files(*.osd;*.tif;*.tiff;*.bmp;*.jpg;*.jpeg;*.ers;*.dtm;*.ecw;*.001;*.dat;*.veg;*.rsw)|"
    "*.osd;*.tif;*.tiff;*.bmp;*.jpg;*.jpeg;*.ers;*.dtm;*.ecw;*.001;*.dat;*.veg;*.rsw|"
    "All files(*.*)|*.*";
constexpr const char* kOutputFilter =
    "OSD file(*.osd)|*.osd|Tiff file (*.tif)|*.tif|BMP file (*.bmp)|*.bmp|ER Mapper "
    "files(*.ers)|*.ers|Jpeg files (*.jpg)|*.jpg;*.jpeg|Z-space DTM files (*.dtm)|*.dtm|"
    "NOG file (*.001)|*.001";
// The output filter entries' extensions, in order.
constexpr const char* kOutputExtensions[] = {".osd", ".tif", ".bmp", ".ers",
                                             ".jpg", ".dtm", ".001"};
constexpr int kOutputFilterCount = 7;
constexpr const char* kCornerNames[] = {"TopLeftX", "TopLeftY", "BotRightX", "BotRightY"};
constexpr const char* kMissesSource = " (the rectangle lies outside the source)";

// Design sizes at 96 dots per inch.
constexpr int kClientWidth = 389;
constexpr int kToolBarHeight = 30;
constexpr int kPagesHeight = 131;
constexpr int kStatusHeight = 19;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}

QColor ColourOf(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

uint32_t BgrOf(const QColor& c) {
  return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
         static_cast<uint32_t>(c.blue()) << 16;
}

QIcon Swatch(const QColor& colour) {
  QPixmap pixmap(14, 14);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QColor("#606060"));
  p.setBrush(colour);
  p.drawRect(0, 0, 13, 13);
  p.end();
  return QIcon(pixmap);
}

// A tool tip that shows `text` as it is: Qt renders a tip as markup when it
// merely looks like markup, and a file name may contain "<i>".
QString PlainToolTip(const std::string& text) {
  if (text.empty()) return {};
  return "<p style='white-space:pre'>" + Q(text).toHtmlEscaped() + "</p>";
}

QFont WindowFont() {
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// The output dialog's proposal for source `in_file`. The source's bare name is
// often one of its own files (an ER Mapper header's data file), and every
// sidecar shares that base name, so the proposal has a base name of its own.
std::string ProposedOutputName(const std::string& in_file) {
  return ChangeFileExt(ExtractFileName(in_file), "") + "_clip";
}

// A corner box's number, or NaN when its text is not one.
double EditValue(const QLineEdit* edit) {
  const double v = static_cast<double>(
      ParseFloatDef(S(edit->text()), std::numeric_limits<long double>::quiet_NaN()));
  return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
}

std::string MapNumber(double v) {
  return FormatGeneral(v);
}

}  // namespace

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
  // Job texts quote file names, which may look like markup.
  setTextFormat(Qt::PlainText);
  // The label never widens the fixed-size window.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setMinimumWidth(1);
}

void StatusLabel::SetFullText(const QString& text) {
  full_text_ = text;
  setToolTip(text.isEmpty() ? QString() : PlainToolTip(S(text)));
  Elide();
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void StatusLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (!full_text_.isEmpty()) QGuiApplication::clipboard()->setText(full_text_);
}

void StatusLabel::Elide() {
  const int room = contentsRect().width();
  setText(room > 0 ? fontMetrics().elidedText(full_text_, Qt::ElideMiddle, room) : full_text_);
}

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  // File names are shown as they are, never as markup.
  setTextFormat(Qt::PlainText);
  QPalette pal = palette();
  pal.setColor(QPalette::Active, QPalette::WindowText, Qt::blue);
  pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::blue);
  setPalette(pal);
  // A long path is cut at the window's edge rather than widening it.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit clicked();
}

QStringList QtNameFilters(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  QStringList filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description = parts[i];
    // Qt takes the patterns from the parentheses, blank-separated.
    const size_t paren = description.find('(');
    if (paren != std::string::npos) description = StrTrim(description.substr(0, paren));
    std::string patterns;
    size_t p = 0;
    for (;;) {
      const size_t semi = parts[i + 1].find(';', p);
      std::string pattern =
          StrTrim(parts[i + 1].substr(p, semi == std::string::npos ? semi : semi - p));
      // "*.*" would miss files without a dot, which are common here.
      if (pattern == "*.*") pattern = "*";
      if (!pattern.empty()) patterns += (patterns.empty() ? "" : " ") + pattern;
      if (semi == std::string::npos) break;
      p = semi + 1;
    }
    filters << Q(description + " (" + patterns + ")");
  }
  return filters;
}

std::string OutputNameForFilter(const std::string& name, int filter_index) {
  if (!ExtractFileExt(name).empty()) return name;
  if (filter_index < 1 || filter_index > kOutputFilterCount) filter_index = 1;
  return name + kOutputExtensions[filter_index - 1];
}

int OutputFilterForName(const std::string& name) {
  std::string ext = ExtractFileExt(name);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".jpeg") ext = ".jpg";
  for (int i = 0; i < kOutputFilterCount; ++i)
    if (ext == kOutputExtensions[i]) return i + 1;
  return 0;
}

// The guide beside the program (a build folder or a portable copy), else where
// an installed program's guide lives: <prefix>/share/doc/clipra/ for
// <prefix>/bin/clipra. Missing from both, the name beside the program stays so
// that the status line reports it.
static std::string GuideFile(const std::string& program_path) {
  const std::string beside = ChangeFileExt(program_path, ".hlp");
  if (FileExists(beside)) return beside;
  const std::string installed =
      ExtractFileDir(program_path) + "../share/doc/clipra/" + ExtractFileName(beside);
  return FileExists(installed) ? installed : beside;
}

MainWindow::MainWindow(WindowSetup setup, QWidget* parent)
    : QMainWindow(parent), settings_(std::move(setup.settings)), host_(this) {
  caption_ = QString::fromLatin1(kCaption);
  setWindowTitle(caption_);
  application_title_ = caption_;
  setWindowIcon(Glyph(kGlyphMap));
  setFont(WindowFont());
  BuildControls();
  ApplyFixedSize();
  help_file_ = GuideFile(setup.program_path);
  toolbar_action_->setChecked(!tool_bar_->isHidden());
  pages_->setTabVisible(kProcessingPage, false);
  pages_->setCurrentIndex(kFilesPage);

  const Settings saved = LoadSettings(settings_.read_path);
  InFile_ = saved.InFile;
  OutName_ = saved.OutName;
  Options_ = saved.Options;
  toolbar_action_->setChecked(saved.ToolBar);
  ApplyCommandLine(setup.params);
  ShowValues();
  RefreshSource();
}

MainWindow::~MainWindow() {
  destroying_ = true;
  if (Job_ && !Job_->Finished()) {
    // The worker may be waiting for the display; serve it, without drawing,
    // until it has seen the stop request.
    host_.Detach();
    AbortRequested = true;
    while (!Job_->Finished()) {
      QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  Job_.reset();
}

void MainWindow::BuildControls() {
  // Menus.
  file_menu_ = menuBar()->addMenu(tr("&File"));
  input_action_ = file_menu_->addAction(tr("&Input file"), this, &MainWindow::ChooseInput);
  output_action_ = file_menu_->addAction(tr("&Output file"), this, &MainWindow::ChooseOutput);
  file_menu_->addSeparator();
  exit_action_ = file_menu_->addAction(tr("E&xit"), this, [this] { close(); });
  process_menu_ = menuBar()->addMenu(tr("&Process"));
  start_action_ = process_menu_->addAction(tr("&Start"), this, [this] {
    if (!running_) StartStop();
  });
  start_action_->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
  stop_action_ = process_menu_->addAction(tr("S&top"), this, [this] {
    if (running_) AbortRequested = true;
  });
  stop_action_->setShortcut(QKeySequence(Qt::Key_Escape));
  stop_action_->setEnabled(false);
  QMenu* view_menu = menuBar()->addMenu(tr("&View"));
  toolbar_action_ = view_menu->addAction(tr("Main toolbar"));
  toolbar_action_->setCheckable(true);
  preview_action_ = view_menu->addAction(tr("&Preview"), this, &MainWindow::ShowPreview);
  preview_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  QMenu* help_menu = menuBar()->addMenu(tr("&Help"));
  contents_action_ = help_menu->addAction(tr("&Contents"), this, &MainWindow::ShowHelp);
  about_action_ = help_menu->addAction(tr("&About"), this, &MainWindow::ShowAbout);
  for (QMenu* menu : {file_menu_, process_menu_, view_menu, help_menu}) menu->setFont(font());

  // Tool bar.
  tool_bar_ = new QToolBar(tr("Main toolbar"), this);
  tool_bar_->setObjectName("ToolBar");
  tool_bar_->setMovable(false);
  tool_bar_->setFloatable(false);
  tool_bar_->setIconSize(QSize(16, 16));
  tool_bar_->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, tool_bar_);
  auto tool_button = [this](const char* name, GlyphIndex glyph, const char* hint) {
    auto* button = new QToolButton(tool_bar_);
    button->setObjectName(name);
    button->setIcon(Glyph(glyph));
    button->setToolTip(tr(hint));
    button->setAutoRaise(true);
    tool_bar_->addWidget(button);
    return button;
  };
  InputBtn_ = tool_button("InputBtn", kGlyphInput, "Define source image file");
  OutPutBtn_ = tool_button("OutPutBtn", kGlyphOutput, "Define output file");
  PreviewBtn_ = tool_button("PreviewBtn", kGlyphPreview,
                            "Preview the source and draw the rectangle (Ctrl+P)");
  tool_bar_->addSeparator();
  StartBtn_ = tool_button("StartBtn", kGlyphStart, "Start execution");
  StartBtn_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  SetStartButton(true);
  connect(InputBtn_, &QToolButton::clicked, this, &MainWindow::ChooseInput);
  connect(OutPutBtn_, &QToolButton::clicked, this, &MainWindow::ChooseOutput);
  connect(PreviewBtn_, &QToolButton::clicked, this, &MainWindow::ShowPreview);
  connect(StartBtn_, &QToolButton::clicked, this, &MainWindow::StartStop);
  connect(toolbar_action_, &QAction::toggled, tool_bar_, &QToolBar::setVisible);

  // Pages.
  pages_ = new QTabWidget(this);
  pages_->setObjectName("Pages");
  setCentralWidget(pages_);

  auto* files = new QWidget;
  auto* files_layout = new QVBoxLayout(files);
  files_layout->setContentsMargins(8, 8, 8, 8);
  files_layout->setSpacing(8);
  InputLabel_ = new ClickLabel;
  InputLabel_->setObjectName("InputLabel");
  OutputLabel_ = new ClickLabel;
  OutputLabel_->setObjectName("OutputLabel");
  source_facts_ = new QLabel;
  source_facts_->setObjectName("SourceFacts");
  source_facts_->setTextFormat(Qt::PlainText);
  source_facts_->setWordWrap(true);
  source_facts_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  files_layout->setSpacing(4);
  files_layout->addWidget(InputLabel_);
  files_layout->addWidget(source_facts_);
  files_layout->addSpacing(4);
  files_layout->addWidget(OutputLabel_);
  files_layout->addStretch();
  connect(InputLabel_, &ClickLabel::clicked, this, &MainWindow::ChooseInput);
  connect(OutputLabel_, &ClickLabel::clicked, this, &MainWindow::ChooseOutput);
  pages_->addTab(files, tr("Files"));

  auto* options = new QWidget;
  auto* grid = new QGridLayout(options);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(QString::fromLatin1(kCornerNames[i]));
    edits_[i] = new QLineEdit;
    edits_[i]->setObjectName(QString("Edit%1").arg(i + 1));
    label->setBuddy(edits_[i]);
    grid->addWidget(label, i / 2, (i % 2) * 2);
    grid->addWidget(edits_[i], i / 2, (i % 2) * 2 + 1);
    connect(edits_[i], &QLineEdit::textChanged, this, [this] {
      if (!drawing_) CheckEdits();
    });
    connect(edits_[i], &QLineEdit::returnPressed, this, [this, i] { ApplyEdit(i); });
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  BackgroundButton_ = new QPushButton(tr("Background Color"));
  BackgroundButton_->setObjectName("BackgroundButton");
  grid->addWidget(BackgroundButton_, 2, 0, 1, 2, Qt::AlignLeft);
  output_size_ = new QLabel;
  output_size_->setObjectName("OutputSize");
  output_size_->setTextFormat(Qt::PlainText);
  output_size_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  grid->addWidget(output_size_, 3, 0, 1, 4);
  grid->setRowStretch(4, 1);
  connect(BackgroundButton_, &QPushButton::clicked, this, &MainWindow::ChooseColour);
  pages_->addTab(options, tr("Options"));

  processing_page_ = new QWidget;
  auto* processing_layout = new QVBoxLayout(processing_page_);
  processing_layout->setContentsMargins(8, 8, 8, 8);
  processing_layout->setSpacing(6);
  ProgressGauge_ = new QProgressBar;
  ProgressGauge_->setObjectName("ProgressGauge");
  ProgressGauge_->setRange(0, 100);
  ProgressGauge_->setValue(0);
  ElapsedLabel_ = new QLabel(tr("Elapsed time:"));
  ElapsedLabel_->setObjectName("ElapsedLabel");
  ElapsedLabel_->setTextFormat(Qt::PlainText);
  RemainingLabel_ = new QLabel(tr("Remaining time:"));
  RemainingLabel_->setObjectName("RemainingLabel");
  RemainingLabel_->setTextFormat(Qt::PlainText);
  processing_layout->addWidget(ProgressGauge_);
  processing_layout->addWidget(ElapsedLabel_);
  processing_layout->addWidget(RemainingLabel_);
  processing_layout->addStretch();
  pages_->addTab(processing_page_, tr("Processing"));

  // Status line: one panel.
  statusBar()->setSizeGripEnabled(false);
  StatusLine_ = new StatusLabel;
  StatusLine_->setObjectName("StatusLine");
  statusBar()->addWidget(StatusLine_, 1);
}

void MainWindow::ApplyFixedSize() {
  if (fixed_client_width_ == 0) {
    int buttons = 0;
    for (QToolButton* b : {InputBtn_, OutPutBtn_, PreviewBtn_, StartBtn_})
      buttons += b->sizeHint().width();
    const int tool_bar_width = std::max(buttons, tool_bar_->sizeHint().width());
    fixed_client_width_ = std::max(tool_bar_width, kClientWidth);
    // The design sizes, unless the desktop's font needs more.
    const int tool_bar = std::max(kToolBarHeight, tool_bar_->sizeHint().height());
    const int status = std::max(kStatusHeight, statusBar()->sizeHint().height());
    tool_bar_->setFixedHeight(tool_bar);
    statusBar()->setFixedHeight(status);
    fixed_client_height_ = tool_bar + kPagesHeight + status;
  }
  // The menu bar lies outside the client area.
  setFixedSize(fixed_client_width_, menuBar()->sizeHint().height() + fixed_client_height_);
}

void MainWindow::ApplyCommandLine(const std::vector<std::string>& params) {
  const CommandLine cl = ParseCommandLine(params, FileExists);
  if (!cl.in_file.empty()) InFile_ = cl.in_file;
  if (!cl.out_name.empty()) OutName_ = cl.out_name;
  if (cl.has_area) {
    Options_.TopLeftX = cl.top_left_x;
    Options_.TopLeftY = cl.top_left_y;
    Options_.BotRightX = cl.bot_right_x;
    Options_.BotRightY = cl.bot_right_y;
  }
  if (cl.auto_run) AutoRun_ = true;
  if (!cl.extra_files.empty()) {
    std::string names;
    for (const std::string& name : cl.extra_files) names += (names.empty() ? "" : ", ") + name;
    const std::string text =
        std::string(cl.extra_files.size() == 1 ? "Extra file name ignored: "
                                               : "Extra file names ignored: ") +
        names;
    SetStatus(text);
    // An unattended run clears the status line at once.
    if (AutoRun_) std::fprintf(stderr, "clipra: %s\n", text.c_str());
  }
}

QString MainWindow::StatusText() const {
  return StatusLine_->FullText();
}

void MainWindow::SetStatus(const std::string& text) {
  StatusLine_->SetFullText(Q(text));
}

void MainWindow::ShowValues() {
  ShowNames();
  const double corners[] = {Options_.TopLeftX, Options_.TopLeftY, Options_.BotRightX,
                            Options_.BotRightY};
  const char separator = LocaleDecimalSeparator();
  for (int i = 0; i < 4; ++i) edits_[i]->setText(Q(FormatFixed(corners[i], 15, 3, separator)));
  ShowColour();
}

void MainWindow::ShowNames() {
  InputLabel_->setText(Q("Input file: " + InFile_));
  InputLabel_->setToolTip(PlainToolTip(InFile_));
  OutputLabel_->setText(Q("Output file: " + OutName_));
  OutputLabel_->setToolTip(PlainToolTip(OutName_));
}

void MainWindow::ShowColour() {
  const QColor colour = ColourOf(Options_.BgrColor);
  QPalette pal = BackgroundButton_->palette();
  pal.setColor(QPalette::Active, QPalette::ButtonText, colour);
  pal.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
  BackgroundButton_->setPalette(pal);
  // The swatch shows a colour that the button's face would hide, such as white.
  BackgroundButton_->setIcon(Swatch(colour));
}

void MainWindow::ReadEdits() {
  double* corners[] = {&Options_.TopLeftX, &Options_.TopLeftY, &Options_.BotRightX,
                       &Options_.BotRightY};
  for (int i = 0; i < 4; ++i) {
    const double v = static_cast<double>(ParseFloatDef(S(edits_[i]->text()), 0));
    *corners[i] = std::isfinite(v) ? v : 0;
  }
}

void MainWindow::EnableInputs(bool flag) {
  InputBtn_->setEnabled(flag);
  OutPutBtn_->setEnabled(flag);
  InputLabel_->setEnabled(flag);
  OutputLabel_->setEnabled(flag);
  // "E&xit" stays usable: during a run it stops the job and closes afterwards.
  input_action_->setEnabled(flag);
  output_action_->setEnabled(flag);
  // The menu stays open during a run for its Stop.
  start_action_->setEnabled(flag);
  stop_action_->setEnabled(!flag);
}

int MainWindow::RunDialog(QDialog& dialog) {
  return dialog_runner_ ? dialog_runner_(dialog) : dialog.exec();
}

void MainWindow::ChooseInput() {
  QFileDialog dialog(this, tr("Input file"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  const QStringList filters = QtNameFilters(kInputFilter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.front());
  const std::string dir = ExtractFileDir(InFile_);
  if (!dir.empty()) dialog.setDirectory(Q(dir));
  if (!InFile_.empty()) dialog.selectFile(Q(ExtractFileName(InFile_)));
  if (RunDialog(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    InFile_ = S(dialog.selectedFiles().front());
    pages_->setCurrentIndex(kFilesPage);
    // A text left from the last run says nothing about the new choice.
    SetStatus("");
    output_chosen_.clear();
    RefreshSource();
  }
  // Only the names: the corner boxes hold what the user typed, which is read
  // at Start and at close.
  ShowNames();
}

void MainWindow::ChooseOutput() {
  QFileDialog dialog(this, tr("Output file"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The extension is settled only after the dialog, so a question about
  // overwriting would be about the wrong name.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  const QStringList filters = QtNameFilters(kOutputFilter);
  dialog.setNameFilters(filters);
  // The entry of the current output's format, else the one used last.
  int filter = OutputFilterForName(OutName_);
  if (filter == 0) filter = output_filter_ > 0 ? output_filter_ : 1;
  dialog.selectNameFilter(filters.value(filter - 1, filters.front()));
  const std::string dir = ExtractFileDir(OutName_);
  if (!dir.empty()) dialog.setDirectory(Q(dir));
  if (!output_chosen_.empty())
    dialog.selectFile(Q(ExtractFileName(output_chosen_)));
  else if (!InFile_.empty())
    dialog.selectFile(Q(ProposedOutputName(InFile_)));
  if (RunDialog(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    pages_->setCurrentIndex(kFilesPage);
    const int index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    OutName_ = OutputNameForFilter(S(dialog.selectedFiles().front()), index);
    output_filter_ = index;
    output_chosen_ = OutName_;
    SetStatus("");
  }
  ShowNames();
}

void MainWindow::ChooseColour() {
  QColorDialog dialog(ColourOf(Options_.BgrColor), this);
  if (RunDialog(dialog) == QDialog::Accepted) {
    Options_.BgrColor = BgrOf(dialog.currentColor());
    ShowColour();
  }
}

void MainWindow::SetStartButton(bool start) {
  start_image_ = start ? kGlyphStart : kGlyphStop;
  StartBtn_->setText(start ? tr("Start") : tr("Stop"));
  StartBtn_->setIcon(Glyph(start ? kGlyphStart : kGlyphStop));
}

void MainWindow::StartStop() {
  if (running_) {
    AbortRequested = true;
    return;
  }
  // A box that is not a number would silently clip at 0.
  int bad = 0;
  if (!CheckEdits(&bad)) {
    SetStatus(std::string(kCornerNames[bad]) + " is not a number: " + S(edits_[bad]->text()));
    pages_->setCurrentIndex(kOptionsPage);
    edits_[bad]->setFocus();
    return;
  }
  ReadEdits();
  ShowValues();
  pages_->setTabVisible(kProcessingPage, true);
  pages_->setCurrentIndex(kProcessingPage);
  ProgressGauge_->setValue(0);
  ElapsedLabel_->setText(tr("Elapsed time:"));
  RemainingLabel_->setText(tr("Remaining time:"));
  ProgressGauge_->show();
  ElapsedLabel_->show();
  RemainingLabel_->show();
  SetStartButton(false);
  EnableInputs(false);
  Busy = false;
  AbortRequested = false;
  SetStatus("");
  SaveSettingsNow(true);

  // The previous job has ended; this only joins its thread.
  Job_.reset();
  Job_ = std::make_unique<ExtractJob>(InFile_, OutName_, Options_, &host_);
  Job_->OnProgress = [this](int percent, const std::string& elapsed, const std::string& remaining) {
    ShowProgress(percent, elapsed, remaining);
  };
  Job_->OnTerminate = [this] { JobDone(); };
  running_ = true;
  Job_->Start();
}

void MainWindow::ShowProgress(int percent, const std::string& elapsed,
                              const std::string& remaining) {
  ProgressGauge_->setValue(percent);
  // The desktop's task bar shows the window's title.
  application_title_ = caption_ + "  " + QString::number(percent) + " %";
  setWindowTitle(application_title_);
  ElapsedLabel_->setText(Q("Elapsed Time " + elapsed));
  RemainingLabel_->setText(Q("Remaining Time " + remaining));
  emit ProgressShown(percent);
}

void MainWindow::JobDone() {
  // A job that ends while the window is being freed has nothing to show.
  if (destroying_) return;
  running_ = false;
  std::string status = Job_ ? Job_->StatusText : std::string();
  if (Job_ && Job_->MissesSource && status == "Successful Finish") status += kMissesSource;
  SetStatus(status);
  EnableInputs(true);
  pages_->setCurrentIndex(kFilesPage);
  pages_->setTabVisible(kProcessingPage, false);
  ProgressGauge_->setValue(0);
  ProgressGauge_->hide();
  ElapsedLabel_->hide();
  RemainingLabel_->hide();
  SetStartButton(true);
  ApplyFixedSize();
  SaveSettingsNow(false);
  emit JobFinished();
  if (AutoRun_ || close_when_done_) close();
}

void MainWindow::SaveSettingsNow(bool report_on_status_line) {
  Settings s;
  s.InFile = InFile_;
  s.OutName = OutName_;
  s.Options = Options_;
  s.ToolBar = toolbar_action_->isChecked();
  std::string error;
  if (SaveSettings(settings_.write_path, s, &error)) {
    settings_.read_path = settings_.write_path;
    return;
  }
  const std::string text = "Settings Write Error=" + error + ": " + settings_.write_path;
  if (report_on_status_line) SetStatus(text);
  std::fprintf(stderr, "clipra: %s\n", text.c_str());
}

void MainWindow::ShowHelp() {
  if (!FileExists(help_file_)) {
    SetStatus("Help file not found");
    return;
  }
  // The guide is plain text with tables: desktops know no viewer for ".hlp",
  // and only a fixed-width font lines its columns up.
  QFile file(Q(help_file_));
  if (!file.open(QIODevice::ReadOnly)) {
    SetStatus("Help file not found");
    return;
  }
  QDialog viewer(this);
  viewer.setObjectName("HelpViewer");
  viewer.setWindowTitle(tr("Contents"));
  auto* layout = new QVBoxLayout(&viewer);
  auto* text = new QPlainTextEdit(QString::fromUtf8(file.readAll()));
  text->setObjectName("GuideText");
  text->setReadOnly(true);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setMinimumSize(640, 440);
  layout->addWidget(text);
  auto* close_button = new QPushButton(tr("Close"));
  close_button->setDefault(true);
  connect(close_button, &QPushButton::clicked, &viewer, &QDialog::accept);
  layout->addWidget(close_button, 0, Qt::AlignRight);
  RunDialog(viewer);
}

void MainWindow::ShowAbout() {
  QDialog about(this);
  about.setObjectName("AboutBox");
  about.setWindowTitle(tr("About"));
  about.setFont(font());
  auto* layout = new QVBoxLayout(&about);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel;
  icon->setPixmap(Glyph(kGlyphMap).pixmap(32, 32));
  auto* text = new QLabel(QString::fromLatin1(kVersionText));
  text->setObjectName("VersionLabel");
  text->setTextFormat(Qt::PlainText);
  row->addWidget(icon);
  row->addSpacing(8);
  row->addWidget(text, 1);
  layout->addLayout(row);
  auto* close_button = new QPushButton(tr("Close"));
  close_button->setObjectName("CloseButton");
  close_button->setDefault(true);
  connect(close_button, &QPushButton::clicked, &about, &QDialog::accept);
  layout->addWidget(close_button, 0, Qt::AlignHCenter);
  about.setFixedSize(about.sizeHint());
  RunDialog(about);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // Once the window is on screen, as if Start had been pressed.
  if (AutoRun_)
    QTimer::singleShot(0, this, [this] {
      if (!running_) StartStop();
    });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  const QSize fixed(fixed_client_width_, menuBar()->sizeHint().height() + fixed_client_height_);
  if (!resizing_ && fixed_client_width_ > 0 && size() != fixed) {
    resizing_ = true;
    ApplyFixedSize();
    resize(fixed);
    resizing_ = false;
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (running_) {
    // Stop first; JobDone closes the window.
    AbortRequested = true;
    close_when_done_ = true;
    event->ignore();
    return;
  }
  ReadEdits();
  SaveSettingsNow(false);
  // The preview is a window of its own and would keep the program running.
  if (preview_) preview_->close();
  event->accept();
}

bool MainWindow::CheckEdits(int* bad) {
  int first_bad = -1;
  double values[4];
  for (int i = 0; i < 4; ++i) {
    values[i] = EditValue(edits_[i]);
    const bool ok = !std::isnan(values[i]);
    if (!ok && first_bad < 0) first_bad = i;
    // A red frame and a tip; the box keeps the text for the user to mend.
    edits_[i]->setStyleSheet(ok ? QString()
                                : QStringLiteral("QLineEdit { border: 1px solid red; }"));
    edits_[i]->setToolTip(ok ? QString() : tr("not a number"));
  }
  if (bad) *bad = first_bad;
  ExtractOptions corners = Options_;
  corners.TopLeftX = values[0];
  corners.TopLeftY = values[1];
  corners.BotRightX = values[2];
  corners.BotRightY = values[3];
  std::string size;
  if (first_bad >= 0) {
    size = std::string(kCornerNames[first_bad]) + " is not a number";
  } else if (!grid_.valid) {
    size = source_error_;
  } else {
    int32_t width = 0, lines = 0;
    std::string error;
    size = OutputSize(corners, grid_.cell_x, width, lines, error)
               ? "Output size: " + std::to_string(width) + " x " + std::to_string(lines) + " cells"
               : error;
  }
  output_size_->setText(Q(size));
  output_size_->setToolTip(PlainToolTip(size));
  if (preview_) preview_->Canvas()->SetRectangle(corners, first_bad < 0);
  return first_bad < 0;
}

void MainWindow::ApplyEdit(int index) {
  const double v = EditValue(edits_[index]);
  if (!std::isnan(v)) {
    double* corners[] = {&Options_.TopLeftX, &Options_.TopLeftY, &Options_.BotRightX,
                         &Options_.BotRightY};
    *corners[index] = v;
    edits_[index]->setText(Q(FormatFixed(v, 15, 3, LocaleDecimalSeparator())));
  }
  CheckEdits();
}

void MainWindow::ApplyDrawnRectangle(const ExtractOptions& corners) {
  Options_.TopLeftX = corners.TopLeftX;
  Options_.TopLeftY = corners.TopLeftY;
  Options_.BotRightX = corners.BotRightX;
  Options_.BotRightY = corners.BotRightY;
  const double values[] = {corners.TopLeftX, corners.TopLeftY, corners.BotRightX,
                           corners.BotRightY};
  drawing_ = true;
  for (int i = 0; i < 4; ++i)
    edits_[i]->setText(Q(FormatFixed(values[i], 15, 3, LocaleDecimalSeparator())));
  drawing_ = false;
  // The outline then shows the corners as the boxes hold them.
  CheckEdits();
}

void MainWindow::RefreshSource() {
  grid_ = SourceGrid{};
  source_error_.clear();
  std::string facts;
  if (!InFile_.empty()) {
    Source source;
    if (source.Open(InFile_)) {
      RasterReader& r = *source.GetReader();
      grid_.valid = true;
      grid_.width = r.GetWidth();
      grid_.lines = r.GetLines();
      grid_.cell_x = r.GetCellSizeX();
      grid_.cell_y = r.GetCellSizeY();
      grid_.centre_x = r.GetLeftX();
      grid_.centre_y = r.GetTopY();
      grid_.jpeg = IdentifyExisting(InFile_) == FormatCode::kJpg;
      if (!(std::isfinite(grid_.cell_x) && grid_.cell_x > 0 && std::isfinite(grid_.cell_y) &&
            grid_.cell_y > 0 && std::isfinite(grid_.centre_x) && std::isfinite(grid_.centre_y)))
        grid_.valid = false;
      const uint32_t bands = r.GetBands();
      // ER Mapper headers keep the quotes of their strings.
      std::string projection = r.GetGeoreference().Projection;
      if (projection.size() >= 2 && projection.front() == '"' && projection.back() == '"')
        projection = projection.substr(1, projection.size() - 2);
      std::string type = CellTypeName(r.GetCellType());
      // The extent as --info and other GIS programs give it: from the corner
      // of the first cell, which the georeference holds.
      const double left = grid_.centre_x, top = grid_.centre_y;
      facts = std::to_string(grid_.width) + " x " + std::to_string(grid_.lines) + " cells, " +
              std::to_string(bands) + (bands == 1 ? " band, " : " bands, ") +
              (type.empty() ? "unknown cells" : type) + ", cell " + MapNumber(grid_.cell_x) +
              " x " + MapNumber(grid_.cell_y) + ", extent " + MapNumber(left) + ", " +
              MapNumber(top) + ", " + MapNumber(left + grid_.cell_x * grid_.width) + ", " +
              MapNumber(top - grid_.cell_y * grid_.lines) + ", " + projection;
    } else {
      source_error_ = source.GetErrorText();
      if (source_error_.empty()) source_error_ = "Cannot open " + InFile_;
      facts = source_error_;
    }
  }
  source_facts_->setText(Q(facts));
  source_facts_->setToolTip(PlainToolTip(facts));
  if (preview_) {
    preview_->Canvas()->SetSource(InFile_, grid_);
    preview_->setWindowTitle(PreviewTitle());
  }
  CheckEdits();
}

QString MainWindow::PreviewTitle() const {
  return tr("Preview") + (InFile_.empty() ? QString() : " - " + Q(ExtractFileName(InFile_)));
}

void MainWindow::ShowPreview() {
  if (!preview_) {
    preview_ = new PreviewWindow(this);
    preview_->setFont(QFont());
    // The keys that start and stop a job work there as well.
    preview_->addAction(start_action_);
    preview_->addAction(stop_action_);
    preview_->addAction(preview_action_);
    connect(preview_->Canvas(), &PreviewCanvas::RectangleChanged, this,
            &MainWindow::ApplyDrawnRectangle);
    preview_->Canvas()->SetSource(InFile_, grid_);
    CheckEdits();
  }
  preview_->setWindowTitle(PreviewTitle());
  preview_->show();
  preview_->raise();
  preview_->activateWindow();
}

}  // namespace clipra
