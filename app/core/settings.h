// The settings file: the last file names, rectangle and background colour,
// kept between runs in an ini file beside the program.
#pragma once

#include <string>
#include <vector>

#include "app/core/ini_file.h"
#include "app/core/job.h"

namespace clipra {

// The ini file with float accessors and a values-only section read.
class SettingsFile : public IniFile {
 public:
  using IniFile::IniFile;

  // Reads "." or "," as the decimal point; `def` for an empty, malformed or
  // out-of-range value.
  double ReadFloatDef(const std::string& section, const std::string& ident, double def) const;
  // Fixed-point text with `digits` decimals and at most `precision`
  // significant digits, in the locale's decimal separator.
  void WriteFloatFixed(const std::string& section, const std::string& ident, double value,
                       int precision, int digits);
  // Only the values of the section's keys, in file order.
  void ReadSectionValues(const std::string& section,
                         std::vector<std::string>& strings) const override;
};

// What the settings file holds.
struct Settings {
  std::string InFile;
  std::string OutName = "map.bmp";
  ExtractOptions Options;
  bool ToolBar = true;  // the window's tool bar is shown
};

// Where the settings are read from and where they are saved.
struct SettingsLocation {
  std::string read_path;
  std::string write_path;
};

// The program's own path with ".ini" for its extension.
std::string SettingsBesideProgram(const std::string& program_path);
// clipra/clipra.ini under $XDG_CONFIG_HOME, or under ~/.config when that is
// unset or relative; empty when neither it nor $HOME is known.
std::string UserSettingsFile();
// The file beside the program while it can be written there. An installed
// program's folder is not writable, so the settings then go to `user_file`,
// and are read from it once it exists (until then from beside the program).
SettingsLocation LocateSettings(const std::string& program_path, const std::string& user_file);

// Missing files and keys give the defaults of Settings.
Settings LoadSettings(const std::string& file_name);
// Writes the eight keys, creating the file and its folder if need be. False
// with `error` set to the error code and the system's words on failure.
bool SaveSettings(const std::string& file_name, const Settings& settings,
                  std::string* error = nullptr);

}  // namespace clipra
