#include "app/core/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "dataset/os_file.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr const char* kNames = "Names";
constexpr const char* kOptions = "Options";
constexpr uint32_t kColourMask = 0x00FFFFFF;

bool Writable(const std::string& path) {
  return ::access(path.c_str(), W_OK) == 0;
}

// Creates the folders leading to `file_name`; 0 or the system's error code.
int MakeParentFolders(const std::string& file_name) {
  const std::string dir = ExtractFileDir(file_name);
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    struct stat st {};
    if (::stat(part.c_str(), &st) == 0) continue;
    // Private, as the desktop convention asks of configuration folders.
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

double SettingsFile::ReadFloatDef(const std::string& section, const std::string& ident,
                                  double def) const {
  const long double v = ParseFloatDef(ReadString(section, ident, ""), def);
  const double d = static_cast<double>(v);
  return std::isfinite(d) ? d : def;
}

void SettingsFile::WriteFloatFixed(const std::string& section, const std::string& ident,
                                   double value, int precision, int digits) {
  WriteString(section, ident, FormatFixed(value, precision, digits, LocaleDecimalSeparator()));
}

void SettingsFile::ReadSectionValues(const std::string& section,
                                     std::vector<std::string>& strings) const {
  std::vector<std::string> pairs;
  IniFile::ReadSectionValues(section, pairs);
  strings.clear();
  for (const std::string& pair : pairs) strings.push_back(pair.substr(pair.find('=') + 1));
}

std::string SettingsBesideProgram(const std::string& program_path) {
  return ChangeFileExt(program_path, ".ini");
}

std::string UserSettingsFile() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return "";
    base = std::string(home) + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/clipra/clipra.ini";
}

SettingsLocation LocateSettings(const std::string& program_path, const std::string& user_file) {
  const std::string beside = SettingsBesideProgram(program_path);
  std::string folder = ExtractFileDir(beside);
  if (folder.empty()) folder = ".";
  const bool beside_ok = FileExists(beside) ? Writable(beside) : Writable(folder);
  if (beside_ok || user_file.empty()) return {beside, beside};
  if (FileExists(user_file) || !FileExists(beside)) return {user_file, user_file};
  return {beside, user_file};
}

Settings LoadSettings(const std::string& file_name) {
  Settings s;
  const SettingsFile ini(file_name);
  s.InFile = ini.ReadString(kNames, "InFile", "");
  s.OutName = ini.ReadString(kNames, "OutName", "map.bmp");
  s.Options.TopLeftX = ini.ReadFloatDef(kOptions, "TopLeftX", 0);
  s.Options.TopLeftY = ini.ReadFloatDef(kOptions, "TopLeftY", 0);
  s.Options.BotRightX = ini.ReadFloatDef(kOptions, "BotRightX", 0);
  s.Options.BotRightY = ini.ReadFloatDef(kOptions, "BotRightY", 0);
  // The colour is 0x00BBGGRR; a hand-edited value with a top byte keeps its colour.
  s.Options.BgrColor =
      static_cast<uint32_t>(ini.ReadInteger(kOptions, "BgrColor", 0)) & kColourMask;
  s.ToolBar = ini.ReadInteger(kOptions, "ToolBar", 1) != 0;
  return s;
}

bool SaveSettings(const std::string& file_name, const Settings& settings, std::string* error) {
  if (const int code = MakeParentFolders(file_name); code != 0) {
    if (error) *error = std::to_string(code) + " " + SystemErrorText(code);
    return false;
  }
  SettingsFile ini(file_name);
  ini.WriteString(kNames, "InFile", settings.InFile);
  ini.WriteString(kNames, "OutName", settings.OutName);
  ini.WriteFloatFixed(kOptions, "TopLeftX", settings.Options.TopLeftX, 15, 3);
  ini.WriteFloatFixed(kOptions, "TopLeftY", settings.Options.TopLeftY, 15, 3);
  ini.WriteFloatFixed(kOptions, "BotRightX", settings.Options.BotRightX, 15, 3);
  ini.WriteFloatFixed(kOptions, "BotRightY", settings.Options.BotRightY, 15, 3);
  ini.WriteInteger(kOptions, "BgrColor",
                   static_cast<int32_t>(settings.Options.BgrColor & kColourMask));
  // After the seven keys older versions wrote, which keep their order.
  ini.WriteInteger(kOptions, "ToolBar", settings.ToolBar ? 1 : 0);
  return ini.UpdateFile(error);
}

}  // namespace clipra
