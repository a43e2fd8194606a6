#include "app/core/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "dataset/os_file.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"

namespace clipra {
namespace {

using Strings = std::vector<std::string>;

// The options as one comparable, printable value.
auto Fields(const ExtractOptions& o) {
  return std::make_tuple(o.TopLeftX, o.TopLeftY, o.BotRightX, o.BotRightY, o.BgrColor);
}

// Sets (or with nullptr clears) an environment variable for one scope.
struct EnvScope {
  EnvScope(const char* name, const char* value) : name(name) {
    if (const char* now = std::getenv(name)) old = now;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvScope() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_.Path("clipra.ini"); }
  std::string IniWith(const std::string& text) {
    dir_.WriteFile("clipra.ini", text);
    return Ini();
  }
  TempDir dir_;
};

TEST_F(SettingsFileTest, MissingFilesKeysAndMalformedValuesGiveDefaults) {
  const struct {
    const char* text;  // no file for nullptr
    const char* in_file;
    ExtractOptions options;
  } rows[] = {
      {nullptr, "", {}},
      {"[Names]\r\nInFile=a.ers\r\n[Options]\r\nBotRightY=7\r\n", "a.ers", {0, 0, 0, 7}},
      // Either decimal separator; text reads as 0.
      {"[Options]\nTopLeftX=12,5\nBotRightX= -3,25 \nBotRightY=abc\n", "", {12.5, 0, -3.25}},
      {"[Options]\nBgrColor=white\n", "", {}},
      {"[Options]\nBgrColor=-1\n", "", {0, 0, 0, 0, 0x00FFFFFF}},  // the top byte goes
      {"[Options]\nBgrColor=$FF00\n", "", {0, 0, 0, 0, 0x0000FF00}},
  };
  for (const auto& row : rows) {
    const Settings s = row.text ? LoadSettings(IniWith(row.text)) : LoadSettings(Ini());
    EXPECT_EQ(row.in_file, s.InFile);
    EXPECT_EQ("map.bmp", s.OutName);
    EXPECT_EQ(Fields(row.options), Fields(s.Options)) << (row.text ? row.text : "no file");
    EXPECT_EQ(row.text != nullptr, FileExists(Ini())) << "loading must not create the file";
  }
}

TEST_F(SettingsFileTest, SaveWritesExactlyTwoSectionsAndEightKeys) {
  SeparatorScope dot('.');
  Settings s;
  s.InFile = "/maps/ortho.ers";
  s.OutName = "/maps/cut.tif";
  s.Options = {100, 900, 600, 400.25, 16777215};
  s.ToolBar = false;
  ASSERT_TRUE(SaveSettings(Ini(), s));
  // A second save changes values in place and adds nothing.
  s.Options.TopLeftX = 345.5;
  ASSERT_TRUE(SaveSettings(Ini(), s));
  EXPECT_EQ(
      "[Names]\r\nInFile=/maps/ortho.ers\r\nOutName=/maps/cut.tif\r\n"
      "[Options]\r\nTopLeftX=345.500\r\nTopLeftY=900.000\r\nBotRightX=600.000\r\n"
      "BotRightY=400.250\r\nBgrColor=16777215\r\nToolBar=0\r\n",
      dir_.ReadFile("clipra.ini"));
  // Long paths and odd values survive a restart; only leading blanks go.
  s.InFile = "/" + std::string(300, 'd') + "/in file.ers";
  s.OutName = "  /" + std::string(290, 'o') + "/out.tif";
  s.Options = {-12.125, 1e6, 3.5, 0.001, 0x123456};
  ASSERT_TRUE(SaveSettings(Ini(), s));
  const Settings back = LoadSettings(Ini());
  EXPECT_EQ(s.InFile, back.InFile);
  EXPECT_EQ(s.OutName.substr(2), back.OutName);
  EXPECT_EQ(Fields(s.Options), Fields(back.Options));
  EXPECT_FALSE(back.ToolBar);

  // Other sections, keys and comments stay; missing keys are added.
  IniWith("; kept\n[Other]\nX=1\n\n[names]\nOutName=old.bmp\nExtra=yes\n\n[Tail]\nY=2\n");
  ASSERT_TRUE(SaveSettings(Ini(), Settings{}));
  EXPECT_EQ(
      "; kept\r\n[Other]\r\nX=1\r\n\r\n[names]\r\nOutName=map.bmp\r\nExtra=yes\r\n"
      "InFile=\r\n\r\n[Tail]\r\nY=2\r\n"
      "[Options]\r\nTopLeftX=0.000\r\nTopLeftY=0.000\r\nBotRightX=0.000\r\nBotRightY=0.000\r\n"
      "BgrColor=0\r\nToolBar=1\r\n",
      dir_.ReadFile("clipra.ini"));
}

TEST_F(SettingsFileTest, SaveCreatesMissingFoldersAndReportsFailureInTheSystemsWords) {
  const std::string path = dir_.Path("a/b/clipra.ini");
  ASSERT_TRUE(SaveSettings(path, Settings{}));
  EXPECT_EQ("map.bmp", LoadSettings(path).OutName);
  dir_.WriteFile("plain", "x");
  std::string error;
  EXPECT_FALSE(SaveSettings(dir_.Path("plain/clipra.ini"), Settings{}, &error));
  EXPECT_EQ(std::to_string(ENOTDIR) + " " + SystemErrorText(ENOTDIR), error);
}

TEST_F(SettingsFileTest,
       IniFileReadsLfAndCrLfIgnoringCaseAndTheFirstOfTwoSectionsAndWritesOnlyChanges) {
  const SettingsFile ini(
      IniWith("[One]\r\nA = 1 \r\nb=\"quoted \"\n[TWO]\nc='x'\nnot a key\n;d=4\n"
              "[S]\nA=1\nB=x=y\nC=\n[T]\nD=4\n[S]\nA=2\nE=3\n"
              "[F]\nA=\nB=1.2.3\nC=1e999\nD=2,5\n"));
  const struct {
    const char *section, *key, *value;
  } strings[] = {
      {"one", "a", "1"},   {"ONE", "B", "quoted "},
      {"two", "C", "x"},   {"two", "d", "?"},  // comment lines are not keys
      {"three", "a", "?"}, {"two", "a", "?"},  // keys belong to their section
      {"S", "A", "1"},     {"S", "E", "?"},    // the first of two sections of one name wins
  };
  for (const auto& row : strings)
    EXPECT_EQ(row.value, ini.ReadString(row.section, row.key, "?")) << row.section << row.key;
  EXPECT_EQ(1, ini.ReadInteger("One", "A", 9));
  EXPECT_EQ(9, ini.ReadInteger("One", "B", 9));
  EXPECT_EQ((Strings{"c"}), ini.ReadSection("Two"));
  EXPECT_EQ((Strings{"One", "TWO", "S", "T", "S", "F"}), ini.ReadSections());
  Strings values{"stale"};
  ini.ReadSectionValues("s", values);
  EXPECT_EQ((Strings{"1", "x=y", ""}), values);
  ini.ReadSectionValues("missing", values);
  EXPECT_TRUE(values.empty());
  // The default for empty, malformed or huge values.
  for (const char* key : {"A", "B", "C", "missing"})
    EXPECT_EQ(7, ini.ReadFloatDef("F", key, 7)) << key;
  EXPECT_EQ(2.5, ini.ReadFloatDef("F", "D", 7));
  // A written value stays on one line.
  IniFile(dir_.Path("other.ini")).WriteString("S", "A", "line\nbreak");
  EXPECT_EQ("[S]\r\nA=line break\r\n", dir_.ReadFile("other.ini"));
}

TEST(SettingsLocationTest, ProgramFolderWhileWritableElseTheUserFile) {
  TempDir dir;
  // Where the settings are read, then where they are written.
  const auto paths = [](const SettingsLocation& l) { return l.read_path + " " + l.write_path; };
  EXPECT_EQ(dir.Path("clipra.ini") + " " + dir.Path("clipra.ini"),
            paths(LocateSettings(dir.Path("clipra"), dir.Path("u/clipra.ini"))));

  ::mkdir(dir.Path("bin").c_str(), 0755);
  const std::string program = dir.Path("bin/clipra");
  const std::string user = dir.Path("home/clipra/clipra.ini");
  dir.WriteFile("bin/clipra.ini", "[Names]\nInFile=shipped.ers\n");
  ::chmod(dir.Path("bin/clipra.ini").c_str(), 0444);
  ::chmod(dir.Path("bin").c_str(), 0555);
  const bool denied = ::access(dir.Path("bin/clipra.ini").c_str(), W_OK) != 0;
  // Until the user has a file of their own, the shipped one is read.
  const SettingsLocation before = LocateSettings(program, user);
  EXPECT_TRUE(SaveSettings(before.write_path, LoadSettings(before.read_path)));
  const SettingsLocation after = LocateSettings(program, user);
  ::chmod(dir.Path("bin").c_str(), 0755);
  if (!denied) GTEST_SKIP() << "running with rights that ignore file permissions";
  EXPECT_EQ(dir.Path("bin/clipra.ini") + " " + user, paths(before));
  EXPECT_EQ(user + " " + user, paths(after));
  EXPECT_EQ("shipped.ers", LoadSettings(user).InFile);
}

TEST(SettingsLocationTest, UserFileHonoursXdgConfigHome) {
  const struct {
    const char *xdg, *home, *file;
  } rows[] = {{"/cfg/", "/home/u", "/cfg/clipra/clipra.ini"},
              {"relative", "/home/u", "/home/u/.config/clipra/clipra.ini"},
              {nullptr, nullptr, ""}};
  for (const auto& row : rows) {
    EnvScope xdg("XDG_CONFIG_HOME", row.xdg), home("HOME", row.home);
    EXPECT_EQ(row.file, UserSettingsFile());
  }
}

}  // namespace
}  // namespace clipra
