// The main window: collects the file names, the rectangle and the background
// colour, starts and stops the job and shows its progress. It can also be
// driven from the command line and run one job unattended.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/job.h"
#include "app/core/settings.h"
#include "app/gui/preview_window.h"
#include "app/gui/qt_thread_host.h"

class QAction;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolBar;
class QToolButton;

namespace clipra {

// A label that reacts to a click like a link.
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  explicit ClickLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The status line: one line, cut in the middle when it is too long for the
// fixed-size window. The whole text is the tool tip, and a double click
// copies it.
class StatusLabel : public QLabel {
  Q_OBJECT
 public:
  explicit StatusLabel(QWidget* parent = nullptr);
  void SetFullText(const QString& text);
  const QString& FullText() const { return full_text_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void Elide();
  QString full_text_;
};

// What the window needs from outside.
struct WindowSetup {
  std::string program_path;         // the help file is this with ".hlp"
  SettingsLocation settings;        // where the settings are read and saved
  std::vector<std::string> params;  // the command line, without the program name
};

// "Desc|patterns|Desc|patterns" as Qt name filters ("Desc (p1 p2)").
QStringList QtNameFilters(const std::string& filter);
// The output name chosen with filter entry `filter_index` (1-based): the name
// as typed when it has an extension, otherwise with the entry's extension.
std::string OutputNameForFilter(const std::string& name, int filter_index);
// The output filter entry (1-based) whose extension `name` has; 0 for none.
int OutputFilterForName(const std::string& name);

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum Page { kFilesPage = 0, kOptionsPage = 1, kProcessingPage = 2 };

  explicit MainWindow(WindowSetup setup, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a modal dialog and gives its result; tests replace it.
  using DialogRunner = std::function<int(QDialog&)>;
  void SetDialogRunner(DialogRunner runner) { dialog_runner_ = std::move(runner); }

  void ShowValues();
  void ReadEdits();
  void EnableInputs(bool flag);
  void ChooseInput();
  void ChooseOutput();
  void ChooseColour();
  void StartStop();
  void ShowHelp();
  void ShowAbout();
  void ShowPreview();
  // Opens the source for its facts line, its grid and the output size.
  void RefreshSource();

  const std::string& InFile() const { return InFile_; }
  const std::string& OutName() const { return OutName_; }
  const ExtractOptions& Options() const { return Options_; }
  bool AutoRun() const { return AutoRun_; }
  bool Running() const { return running_; }
  const std::string& HelpFile() const { return help_file_; }
  const SettingsLocation& SettingsFile() const { return settings_; }
  // The text a task bar shows: the caption, and the percentage while a job runs.
  QString ApplicationTitle() const { return application_title_; }
  // The whole status text, however it is cut on screen.
  QString StatusText() const;
  int FixedClientWidth() const { return fixed_client_width_; }
  int FixedClientHeight() const { return fixed_client_height_; }
  int StartImage() const { return start_image_; }
  const ExtractJob* Job() const { return Job_.get(); }

  QToolBar* ToolBar() const { return tool_bar_; }
  QToolButton* InputBtn() const { return InputBtn_; }
  QToolButton* OutPutBtn() const { return OutPutBtn_; }
  QToolButton* StartBtn() const { return StartBtn_; }
  QTabWidget* Pages() const { return pages_; }
  ClickLabel* InputLabel() const { return InputLabel_; }
  ClickLabel* OutputLabel() const { return OutputLabel_; }
  QLineEdit* Edit(int i) const { return edits_[i]; }  // 0..3: Edit1..Edit4
  QPushButton* BackgroundButton() const { return BackgroundButton_; }
  QProgressBar* ProgressGauge() const { return ProgressGauge_; }
  QLabel* ElapsedLabel() const { return ElapsedLabel_; }
  QLabel* RemainingLabel() const { return RemainingLabel_; }
  StatusLabel* StatusLine() const { return StatusLine_; }
  QLabel* SourceFactsLabel() const { return source_facts_; }
  QLabel* OutputSizeLabel() const { return output_size_; }
  QToolButton* PreviewBtn() const { return PreviewBtn_; }
  PreviewWindow* Preview() const { return preview_; }
  const SourceGrid& Grid() const { return grid_; }
  QMenu* FileMenu() const { return file_menu_; }
  QMenu* ProcessMenu() const { return process_menu_; }
  QAction* InputAction() const { return input_action_; }
  QAction* OutputAction() const { return output_action_; }
  QAction* ExitAction() const { return exit_action_; }
  QAction* StartAction() const { return start_action_; }
  QAction* StopAction() const { return stop_action_; }
  QAction* PreviewAction() const { return preview_action_; }
  QAction* ToolbarAction() const { return toolbar_action_; }
  QAction* ContentsAction() const { return contents_action_; }
  QAction* AboutAction() const { return about_action_; }

 signals:
  // After the display has shown a job's progress.
  void ProgressShown(int percent);
  // After the window has gone back to idle at the end of a job.
  void JobFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  void BuildControls();
  void ApplyFixedSize();
  void ApplyCommandLine(const std::vector<std::string>& params);
  // Parts of ShowValues: the file name labels, and the colour button.
  void ShowNames();
  void ShowColour();
  void SetStatus(const std::string& text);
  void SaveSettingsNow(bool report_on_status_line);
  void ShowProgress(int percent, const std::string& elapsed, const std::string& remaining);
  void SetStartButton(bool start);
  void JobDone();
  int RunDialog(QDialog& dialog);
  // The corner boxes: marks the ones that are not numbers, shows the output
  // size and redraws the outline. False when a box is not a number, with
  // `bad` the first such.
  bool CheckEdits(int* bad = nullptr);
  void ApplyEdit(int index);
  void ApplyDrawnRectangle(const ExtractOptions& corners);
  QString PreviewTitle() const;

  // The settings, the command line's overrides and the current choices.
  std::string InFile_;
  std::string OutName_;
  ExtractOptions Options_;
  bool AutoRun_ = false;
  std::unique_ptr<ExtractJob> Job_;

  SettingsLocation settings_;
  std::string help_file_;
  QString caption_;
  QString application_title_;
  int fixed_client_width_ = 0;
  int fixed_client_height_ = 0;
  int start_image_ = 3;
  // From Start until JobDone. Busy alone cannot tell: the worker sets it only
  // once it runs and clears it before its end has been shown.
  bool running_ = false;
  // Set while the window is being freed.
  bool destroying_ = false;
  bool close_when_done_ = false;
  bool shown_ = false;
  bool resizing_ = false;
  QtThreadHost host_;
  DialogRunner dialog_runner_;

  QToolBar* tool_bar_ = nullptr;
  QToolButton* InputBtn_ = nullptr;
  QToolButton* OutPutBtn_ = nullptr;
  QToolButton* StartBtn_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QWidget* processing_page_ = nullptr;
  ClickLabel* InputLabel_ = nullptr;
  ClickLabel* OutputLabel_ = nullptr;
  QLineEdit* edits_[4] = {};
  QPushButton* BackgroundButton_ = nullptr;
  QProgressBar* ProgressGauge_ = nullptr;
  QLabel* ElapsedLabel_ = nullptr;
  QLabel* RemainingLabel_ = nullptr;
  StatusLabel* StatusLine_ = nullptr;
  QLabel* source_facts_ = nullptr;
  QLabel* output_size_ = nullptr;
  QToolButton* PreviewBtn_ = nullptr;
  PreviewWindow* preview_ = nullptr;
  SourceGrid grid_;
  std::string source_error_;
  // The output dialog's last filter entry (1-based) and the name chosen in
  // it; the name is forgotten when another source is chosen.
  int output_filter_ = 0;
  std::string output_chosen_;
  // Set while the corner boxes are being filled from a drawn rectangle.
  bool drawing_ = false;
  QMenu* file_menu_ = nullptr;
  QMenu* process_menu_ = nullptr;
  QAction* input_action_ = nullptr;
  QAction* output_action_ = nullptr;
  QAction* exit_action_ = nullptr;
  QAction* start_action_ = nullptr;
  QAction* stop_action_ = nullptr;
  QAction* preview_action_ = nullptr;
  QAction* toolbar_action_ = nullptr;
  QAction* contents_action_ = nullptr;
  QAction* about_action_ = nullptr;
};

}  // namespace clipra
