// clipra: the window. Settings first, then the command line, which may ask
// for one unattended run.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "app/gui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  clipra::WindowSetup setup;
  setup.program_path = QCoreApplication::applicationFilePath().toStdString();
  setup.settings = clipra::LocateSettings(setup.program_path, clipra::UserSettingsFile());
  // Qt has taken its own options out of the arguments by now.
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) setup.params.push_back(args[i].toStdString());

  clipra::MainWindow window(std::move(setup));
  window.show();
  const int code = app.exec();
  // The status line is gone with the window; an unattended run says how it
  // ended through its exit status.
  if (window.AutoRun() && window.Job()) {
    const std::string& status = window.Job()->StatusText;
    if (status != "Successful Finish") {
      std::fprintf(stderr, "clipra: %s\n", status.c_str());
      return status == "User Abort" ? 130 : 1;
    }
  }
  return code;
}
